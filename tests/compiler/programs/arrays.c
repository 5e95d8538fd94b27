/* arrays, pointers and strings: sorting, searching, pointer walks */
int data[64];
char text[32];
int length(char *p) { int n; n = 0; while (*p++) n++; return n; }
void sort(int *a, int n)
{
  int i, j, t;
  for (i = 1; i < n; i++) {
    t = a[i];
    for (j = i - 1; j >= 0 && a[j] > t; j--) a[j + 1] = a[j];
    a[j + 1] = t;
  }
}
int main()
{
  int i, seed, sum, *p;
  char *q;
  seed = 12345;
  for (i = 0; i < 64; i++) {
    seed = seed * 1103515245 + 12345;
    data[i] = (seed >> 8) % 1000;
  }
  sort(data, 64);
  sum = 0;
  for (p = data; p < data + 64; p++) sum = sum * 3 + *p;
  q = text;
  for (i = 0; i < 26; i++) *q++ = 'a' + (i * 7) % 26;
  *q = 0;
  return (sum & 0xffff) * 100 + length(text) + text[5];
}
