x = <div> <a/>  <b/> </div>;
