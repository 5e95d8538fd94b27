/* char pointers: scans, copies, compares, sorts and hashes of generated words */
char text[1200];
char copy[1200];
char line[80];
int seed;

int next() { seed = (seed * 75 + 74) % 65537; return seed; }

int length(char *s) { char *p; p = s; while (*p) p++; return p - s; }
int count(char *s) { int n; n = 0; while (s[n]) n++; return n; }
void copy_text(char *d, char *s) { while (*s) *d++ = *s++; *d = 0; }
int compare(char *a, char *b) { while (*a && *a == *b) { a++; b++; } return *a - *b; }
unsigned hash(char *s) { unsigned h; h = 0; while (*s) { h = h * 31 + *s; s++; } return h; }
void reverse(char *s)
{
  char *e;
  char t;
  e = s;
  while (*e) e++;
  e--;
  while (s < e) { t = *s; *s = *e; *e = t; s++; e--; }
}
void bubble(char *s, int n)
{
  char *p, *end;
  char t;
  int swapped;
  swapped = 1;
  end = s + n - 1;
  while (swapped) {
    swapped = 0;
    for (p = s; p < end; p++)
      if (p[0] > p[1]) { t = p[0]; p[0] = p[1]; p[1] = t; swapped = 1; }
    end--;
  }
}
int vowels(char *s)
{
  int n;
  char c;
  n = 0;
  while ((c = *s++) != 0) {
    switch (c) { case 'a': case 'e': case 'i': case 'o': case 'u': n++; }
  }
  return n;
}

int main()
{
  char *p;
  unsigned char *u;
  int w, k, len, total;
  unsigned h;
  seed = 7;
  p = text;
  for (w = 0; w < 150; w++) {
    len = 2 + next() % 6;
    for (k = 0; k < len; k++) *p++ = 'a' + next() % 26;
    *p++ = ' ';
  }
  *p = 0;
  total = length(text) + count(text);
  copy_text(copy, text);
  total = total + compare(copy, text) + vowels(copy);
  reverse(copy);
  total = total + compare(copy, text);
  bubble(copy, 60);
  bubble(copy + 300, 90);
  h = hash(copy) ^ hash(text);
  for (k = 0; k < 79; k++) line[k] = 200 + k;  /* bytes above 127 as char and as unsigned char */
  line[79] = 0;
  u = (unsigned char *)line;
  for (k = 0; k < 79; k++) total = total + u[k] - line[k];
  return total + (h & 0xffff);
}
