/* arrays, pointers, pointer arithmetic and strings */
int data[10] = {5, 3, 9, 1, 7, 2, 8, 6, 4, 0};
char text[16];
void sort(int *a, int n)
{
  int i, j, t;
  for (i = 0; i < n; i++)
    for (j = n - 1; j > i; j--)
      if (a[j - 1] > a[j]) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t; }
}
int length(char *s) { char *p; p = s; while (*p) p++; return p - s; }
int main()
{
  int i, s;
  char *q;
  sort(data, 10);
  s = 0;
  for (i = 0; i < 10; i++) s = s * 3 + data[i];
  q = text;
  *q++ = 'a'; *q++ = 'b'; *q++ = 'c'; *q = 0;
  return (s & 0xFFFF) + length(text) * 100000;
}
