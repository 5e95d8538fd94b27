#include "talven.h"

/* Sprites: what sp_draw repaints, removal, the fallback record, links and their cycle check,
   sorting, hand-computed rectangles of turned and scaled hierarchies, mirroring. */

int count_colour(int x0, int y0, int x1, int y1, int colour)
{
  int x, y, n;
  n = 0;
  for (y = y0; y < y1; y++)
    for (x = x0; x < x1; x++)
      if (getpixel(0, x, y) == colour) n++;
  return n;
}

SPRITE *first_of(SPRITE *s)
{
  while (s->previous != 0) s = (SPRITE *)s->previous;
  return s;
}

void log_rect(char *what, RECT *r)
{
  log_out("%s %d %d %d %d", what, r->left, r->top, r->right, r->bottom);
}

int main()
{
  SPRITE *a, *b, *f, *p, *c, *s[4];
  RECT r, src;
  int i, before;

  galloc(1, 64, 64, 32);
  gclear(1, 0, 0x404040);
  galloc(2, 8, 8, 32);
  gclear(2, 0, 0xFF0000);
  galloc(3, 8, 8, 32);
  gclear(3, 0, 0x00FF00);

  /* B in layer 0, A above it in layer 1. */
  log_out("no background before: %d", sp_setbg(1));
  b = sp_set(0, 2, 40, 40, 3, 0, 0);
  a = sp_set(1, 2, 10, 10, 2, 0, 0);
  sp_draw(-1, &r);
  log_rect("first frame updates", &r);
  log_out("A red %d, B green %d, background %x", count_colour(10, 10, 18, 18, 0xFF0000),
          count_colour(40, 40, 48, 48, 0x00FF00), getpixel(0, 30, 30));

  /* A's picture turns blue, but A is not marked changed: only what B's move exposes of A is
     drawn again, so exactly the 4 x 4 overlap turns blue. */
  gclear(2, 0, 0x0000FF);
  b->x = 14;
  b->y = 14;
  b->flags = b->flags | 1;
  sp_draw(-1, &r);
  log_rect("moving B updates", &r);
  log_out("A blue %d, A red %d, B's old place %x", count_colour(10, 10, 18, 18, 0x0000FF),
          count_colour(10, 10, 18, 18, 0xFF0000), getpixel(0, 44, 44));

  /* Removing B repaints its area from the background; A's overlap is drawn again. */
  i = sp_reset(b);
  log_out("sp_reset -> %d, sp_count before the draw %d", i, getsystem("sp_count"));
  sp_draw(-1, &r);
  log_rect("removing B updates", &r);
  log_out("after removal: %x at 20,20, sp_count %d", getpixel(0, 20, 20), getsystem("sp_count"));

  /* The fallback record absorbs writes. */
  before = getsystem("sp_count");
  f = sp_set(32, 2, 0, 0, 2, 0, 0);
  f->x = 5;
  f->kind = 2;
  i = sp_reset(f);
  log_out("layer 32 gives the fallback: %d, sp_count %d -> %d, reset -> %d", f != a, before, getsystem("sp_count"), i);
  log_out("plane 1024 -> fallback %d, unallocated plane without rect -> fallback %d",
          sp_set(0, 2, 0, 0, 1024, 0, 0) == f, sp_set(0, 2, 0, 0, 77, 0, 0) == f);

  /* Links and the cycle check. */
  p = sp_set(2, 1, 0, 0, 2, 0, 0);
  c = sp_set(2, 1, 0, 0, 2, 0, 0);
  /* Arguments are evaluated last to first: the link is made in a statement of its own. */
  i = sp_link(p, c);
  log_out("link -> %d, child count %d, parent is p %d", i, p->child_count, c->parent == p);
  log_out("linking p under its own child -> %d", sp_link(c, p));
  log_out("linking p under itself -> %d", sp_link(p, p));
  i = sp_unlink(c);
  log_out("unlink -> %d, child count %d, parent %d", i, p->child_count, c->parent);
  sp_reset(p);
  sp_reset(c);

  /* Sorting by y: equal keys keep their order. */
  s[0] = sp_set(3, 1, 0, 30, 2, 0, 0);
  s[1] = sp_set(3, 1, 0, 10, 2, 0, 0);
  s[2] = sp_set(3, 1, 0, 20, 2, 0, 0);
  s[3] = sp_set(3, 1, 5, 10, 2, 0, 0);
  sp_sort(8, 1);
  f = first_of(s[0]);
  for (i = 0; i < 4; i++) {
    log_out("sorted %d: y %d x %d", i, f->y, f->x);
    f = (SPRITE *)f->next;
  }
  log_out("end of the list: %d", (int)f);
  /* Mode 2: y, then priority. */
  s[1]->priority = 2;
  s[3]->priority = 1;
  sp_sort(8, 3);
  f = first_of(s[0]);
  log_out("by y then priority: x %d then x %d", f->x, ((SPRITE *)f->next)->x);
  sp_init(8);

  /* A 20 x 10 picture at (100, 50), twice the size, a quarter turn (512), pivot at its corner.
     By hand: the centre moves by ((20 - 0) * 2) / 2 = 20 and (10 * 2) / 2 = 10, turned a quarter:
     x + 10, y - 20, so (110, 30); the destination is 40 x 20 around it: 90 20 130 40; the turned
     box is 20 x 40 around it: 100 10 120 50. */
  src.left = 0; src.top = 0; src.right = 20; src.bottom = 10;
  p = sp_set(4, 2, 100, 50, 1, &src, 0);
  p->scale_x = 0x20000;
  p->scale_y = 0x20000;
  p->angle = 512;
  log_out("sp_rect -> %d", sp_rect(p, &r));
  log_rect("turned and scaled screen", &r);
  log_rect("its destination", &p->destination);
  /* A 4 x 4 child at (10, 0): the parent's scale makes that 20 pixels, turned a quarter: (100, 30);
     its centre 4 pixels further along the turned axes: (104, 26), an 8 x 8 box: 100 22 108 30. */
  src.right = 4; src.bottom = 4;
  c = sp_set(4, 2, 10, 0, 1, &src, 0);
  sp_link(p, c);
  sp_rect(c, &r);
  log_rect("child screen", &r);
  log_out("child effective scale %x %x, angle %d", c->effective_scale_x, c->effective_scale_y, c->effective_angle);
  /* A shift of 4 fraction bits: x 160 is 10 pixels, and the screen rect grows by one all round. */
  c->shift = 4;
  c->x = 160;
  sp_rect(c, &r);
  log_rect("child with 4 fraction bits", &r);
  sp_init(16);

  /* Mirroring: a picture red on the left, green on the right, drawn mirrored in x. */
  galloc(4, 2, 1, 32);
  gclear(4, 0, 0xFF0000);
  src.left = 1; src.top = 0; src.right = 2; src.bottom = 1;
  gclear(4, &src, 0x00FF00);
  a->kind = 1;
  sp_draw(-1, 0);
  f = sp_set(5, 2, 30, 5, 4, 0, 0);
  sp_draw(-1, 0);
  log_out("plain: %x %x", getpixel(0, 30, 5), getpixel(0, 31, 5));
  f->mirror_x = 1;
  f->flags = f->flags | 1;
  sp_draw(-1, 0);
  log_out("mirrored: %x %x", getpixel(0, 30, 5), getpixel(0, 31, 5));
  update(0);
  return 0;
}
