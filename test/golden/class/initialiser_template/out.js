class T {
  /*label = `n=${n}!`*/
}

__extend(T.prototype,{
  label: `n=${n}!`,
},1);
