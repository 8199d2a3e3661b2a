x = <div><!-- a
 b --><b/></div>;
