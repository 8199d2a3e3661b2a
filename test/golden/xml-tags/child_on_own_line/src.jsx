x = <div>
  <span/>
</div>;
