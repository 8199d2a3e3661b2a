class V extends View {
  event onTap;
  size = 1;
}
