function f() {
  return {vx:0,v:[div,[],[]]};
}

