/* integer edge cases: signed and unsigned division, shifts, wrap-around, char and short widths */
int mix(int a, int b)
{
  unsigned int u;
  int r;
  u = a;
  r = (a / b) * 7 + (a % b) * 3;
  r = r ^ (int)(u >> 3) ^ (a >> 2) ^ (a << 5);
  if ((unsigned int)a > (unsigned int)b) r = r + 11;
  if (a < b) r = r - 13;
  return r;
}
int main()
{
  int i, acc;
  char c;
  unsigned char uc;
  short s;
  unsigned short us;
  acc = 0;
  for (i = -50; i < 50; i = i + 7) {
    acc = acc * 31 + mix(i * 12345, (i % 9) + (i < 0 ? -3 : 3));
    c = i * 5;
    uc = i * 5;
    s = i * 1000;
    us = i * 1000;
    acc = acc + c + uc + s + us;
  }
  return acc & 0x7fffffff;
}
