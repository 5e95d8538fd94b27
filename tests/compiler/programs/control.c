/* switch, goto, static locals, function pointers, do-while, && and || */
int counter() { static int n = 10; n = n + 3; return n; }
int twice(int x) { return x * 2; }
int square(int x) { return x * x; }
int classify(int v)
{
  switch (v % 5) {
  case 0: return 1;
  case 1: case 2: v = v + 100; break;
  case 3: v = -v;
  default: v = v * 2;
  }
  return v;
}
int main()
{
  int (*op)();
  int i, s;
  s = 0;
  i = 0;
again:
  s = s + classify(i);
  i++;
  if (i < 12) goto again;
  op = i > 5 && s > 0 ? twice : square;
  s = s + (*op)(7);
  do { s = s + counter(); } while (s < 2000 || 0);
  return s;
}
