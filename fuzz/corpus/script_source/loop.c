int g;
int add(a, b) { return a + b; }
int main()
{
  int i, s;
  s = 0;
  for (i = 0; i < 10; i++) s += add(i, 2);
  g = s;
  return s;
}
