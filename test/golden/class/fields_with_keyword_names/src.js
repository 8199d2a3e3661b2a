class G {
  get = 1;
  set = 2;
  'quoted' = 3;
  as = 4;
}
