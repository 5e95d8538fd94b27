int poke(int *p)
{
  int before;
  before = 1;
  *p = before;
  return 0;
}
