class G {
  /*get = 1*/
  /*set = 2*/
  /*'quoted' = 3*/
  /*as = 4*/
}

__extend(G.prototype,{
  as: 4,
  set: 2,
  'quoted': 3,
  get: 1,
},1);
