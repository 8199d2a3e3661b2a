class E {
  event onx1;
  event on_x;
  event onClick;
  event onclick;
  event  on$;
}
