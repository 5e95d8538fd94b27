/* char pointers: scans, copies, a byte sort and string hashing over generated text */
char text[8192];
char copy[8192];
int seed;

int next()
{
  seed = (seed * 75 + 74) % 65537;
  return seed;
}

/* words of 3 to 10 lower-case letters, each followed by one space, then a zero */
void make_text(int words)
{
  char *p;
  int w, k, len;
  p = text;
  for (w = 0; w < words; w++) {
    len = 3 + next() % 8;
    for (k = 0; k < len; k++) { *p = 'a' + next() % 26; p++; }
    *p = ' ';
    p++;
  }
  *p = 0;
}

int length(char *s)
{
  char *p;
  p = s;
  while (*p) p++;
  return p - s;
}

void copy_text(char *d, char *s)
{
  while (*s) *d++ = *s++;
  *d = 0;
}

unsigned hash(char *s)
{
  unsigned h;
  h = 0;
  while (*s) { h = h * 31 + *s; s++; }
  return h;
}

/* sorts the letters of every word by insertion; returns the number of words */
int sort_words(char *s)
{
  char *w, *p, *q;
  char t;
  int words;
  words = 0;
  while (*s) {
    w = s;
    while (*s && *s != ' ') s++;
    for (p = w + 1; p < s; p++) {
      q = p;
      while (q > w && q[-1] > q[0]) { t = q[0]; q[0] = q[-1]; q[-1] = t; q--; }
    }
    words++;
    if (*s) s++;
  }
  return words;
}

/* bubble sort of n bytes */
void bubble(char *s, int n)
{
  char *p, *end;
  char t;
  int swapped;
  swapped = 1;
  end = s + n - 1;
  while (swapped) {
    swapped = 0;
    for (p = s; p < end; p++) {
      if (p[0] > p[1]) { t = p[0]; p[0] = p[1]; p[1] = t; swapped = 1; }
    }
    end--;
  }
}

int work()
{
  int round, total, n, k;
  unsigned h;
  seed = 1;
  make_text(900);
  n = length(text);
  total = 0;
  h = 0;
  for (round = 0; round < 80; round++) {
    copy_text(copy, text);
    total = total + length(copy);
    h = h ^ hash(copy);
    total = total + sort_words(copy);
    h = h + hash(copy);
    for (k = round * 97 % 64; k + 96 < n; k = k + 1000) bubble(copy + k, 96);
    h = h * 7 + hash(copy);
  }
  return total + (h & 0xffff);
}
