#include "talven.h"
RECT r;
RECT s;
RECT t;
char data[16];

void showr(char *label, int result, RECT *x)
{
  log_out("%s -> %d {%d, %d, %d, %d}", label, result, x->left, x->top, x->right, x->bottom);
}

int main()
{
  char *a, *b, *c;
  int i;
  a = malloc(16);
  b = malloc(16);
  log_out("malloc gives blocks: %d", a != 0 && b != 0);
  memset(a, 65, 15);
  a[15] = 0;
  log_out("memset [%s]", a);
  memcpy(b, "0123456789", 11);
  log_out("memcpy returns %d [%s]", memcpy(a, b, 4), a);
  memmove(a + 1, a, 5);
  log_out("memmove overlap [%s]", a);
  log_out("memcmp %d %d %d %d", memcmp("abc", "abd", 3), memcmp("abd", "abc", 3), memcmp("abc", "abc", 3), memcmp("a\x90", "a\x10", 2));
  log_out("memcmp count 0: %d", memcmp("a", "b", 0));
  memswap(a, b, 3);
  log_out("memswap [%s] [%s] returns %d for count 0", a, b, memswap(a, b, 0));
  c = realloc(a, 4000);
  log_out("realloc keeps contents [%s]", c);
  log_out("free of a live block %d", free(c));
  log_out("free of the same block again %d", free(c));
  log_out("free of an address inside a block %d", free(b + 4));
  log_out("free of a global %d", free(data));
  log_out("realloc of a non-block %d", realloc(data, 8));
  log_out("free of 0 %d", free(0));
  log_out("free of b %d", free(b));
  log_out("memcpy into the null guard %d", memcpy(16, data, 4));
  log_out("memset over the top of memory %d", memset(-16, 0, 64));

  showr("rc_set", rc_set(&r, 10, 20, 30, 40), &r);
  showr("rc_setwh", rc_setwh(&s, 25, 35, 20, 20), &s);
  showr("rc_intersect", rc_intersect(&t, &r, &s), &t);
  showr("rc_union", rc_union(&t, &r, &s), &t);
  rc_set(&s, 100, 100, 110, 110);
  showr("rc_intersect disjoint", rc_intersect(&t, &r, &s), &t);
  rc_empty(&s);
  showr("rc_union with empty", rc_union(&t, &r, &s), &t);
  showr("rc_move", rc_move(&t, -5, 5), &t);
  showr("rc_inflate", rc_inflate(&t, 2, 3), &t);
  showr("rc_copy", rc_copy(&s, &t), &s);
  log_out("rc_in left/top %d, right %d, bottom %d, inside %d", rc_in(&r, 10, 20), rc_in(&r, 30, 25), rc_in(&r, 15, 40), rc_in(&r, 29, 39));
  log_out("rc_check full %d, empty %d", rc_check(&r), rc_check(&s) == 0 && rc_empty(&s) && rc_check(&s));
  log_out("null rectangles: %d %d %d %d", rc_set(0, 1, 2, 3, 4), rc_copy(&r, 0), rc_in(0, 0, 0), rc_intersect(&t, 0, &r));

  log_out("crc16 empty %x crc16 123456789 %x", crc16("", 0), crc16("123456789", 9));
  log_out("crc32 empty %x crc32 123456789 %x", crc32("", 0), crc32("123456789", 9));
  log_out("crc16 negative length %x", crc16("abc", -1));
  exit();
  return 0;
}
