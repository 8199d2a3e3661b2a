x = <div>
  <b/>
