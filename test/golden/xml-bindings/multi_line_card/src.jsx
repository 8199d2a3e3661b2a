const view = (
  <div class="card" on.click={open}>
    <vx:Avatar src=%{user.photo}/>
    <span>%%{user.name} (${count})</span>
  </div>
);
