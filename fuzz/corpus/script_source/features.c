#trap int strlen(char *s);
#define SQ(x) ((x)*(x))
#define N 4
struct P { char c; int i; struct P *next; };
struct P gp;
char *msg = "hi\n";
int tab[N] = {1, 2, , 4};
float fl = 1.5;
static int cnt;
int sw(int v)
{
  switch (v) {
  case 1: return 10;
  case 2: case 3: v = 5; break;
  default: v = 0;
  }
  return v;
}
float ff(float a) { a++; return a * 2 + 1; }
int main()
{
  struct P p, *q;
  static int n = 3;
  char buf[8] = "abc";
  q = &p;
  q->i = SQ(N);
  p.c = 'A';
  gp.next = q;
  n = strlen(msg) + tab[2];
  if (n > 2 && q->i || !cnt) n = 1; else n = 2;
  while (n--);
  do { n++; } while (n < 3);
  goto end;
end:
  return sw(n) ? ff(1.0) : 0;
}
