#include "talven.h"

/* Hit regions: edges that only touch, layers and masks, regions bound to sprites (hidden sprites,
   the parent chain, freed with their sprite), the search order and bad addresses. */

RECT *rect(RECT *r, int left, int top, int right, int bottom)
{
  r->left = left; r->top = top; r->right = right; r->bottom = bottom;
  return r;
}

int value_of(HITREGION *h)
{
  if (h == 0) return 0;
  return h->value;
}

int main()
{
  RECT r;
  HITREGION *a, *b, *c, *d, *bound;
  SPRITE *parent, *child;

  galloc(1, 8, 8, 32);
  a = hit_set(0, 3, 0, rect(&r, 0, 0, 10, 10), 1);
  b = hit_set(0, 1, 0, rect(&r, 10, 0, 20, 10), 2);
  log_out("sharing an edge: %d %d", value_of(hit_check(a)), value_of(hit_check(b)));
  c = hit_set(1, 0, 0, rect(&r, 5, 5, 15, 15), 3);
  log_out("a (mask 3) finds %d; b (mask 1) finds %d; c (mask 0) finds %d", value_of(hit_check(a)),
          value_of(hit_check(b)), value_of(hit_check(c)));
  /* Layer 0 comes before layer 1, and within a layer the first set comes first. */
  log_out("point 6,6 in layers 0-1: %d; in layer 1: %d; point 10,0: %d; point 20,0: %d",
          value_of(hit_point(6, 6, 3)), value_of(hit_point(6, 6, 2)), value_of(hit_point(10, 0, 3)),
          value_of(hit_point(20, 0, 3)));
  log_out("rect 12 8 30 30 hits %d; rect 20 0 30 10 hits %d", value_of(hit_rect(rect(&r, 12, 8, 30, 30), 3)),
          value_of(hit_rect(rect(&r, 20, 0, 30, 10), 3)));
  /* Arguments are evaluated last to first, so each call gets a statement of its own. */
  log_out("layer 32 -> %d", hit_set(32, 1, 0, 0, 9));
  log_out("hit_reset b -> %d", hit_reset(b));
  log_out("again -> %d", hit_reset(b));
  log_out("after b is gone, point 15,5 finds %d", value_of(hit_point(15, 5, 3)));

  /* A region bound to a child follows the chain: (100 - 0) + (10 - 2) = 108, (100 - 0) + (5 - 1) = 104. */
  parent = sp_set(0, 2, 100, 100, 1, 0, 0);
  child = sp_set(0, 2, 10, 5, 1, 0, 0);
  child->pivot_x = 2;
  child->pivot_y = 1;
  sp_link(parent, child);
  bound = hit_set(2, 0, child, 0, 7);
  log_out("bound region rect %d %d %d %d (the child's source size)", bound->rect.left, bound->rect.top,
          bound->rect.right, bound->rect.bottom);
  log_out("point 108,104 finds %d; 115,111 finds %d; 116,104 finds %d", value_of(hit_point(108, 104, 4)),
          value_of(hit_point(115, 111, 4)), value_of(hit_point(116, 104, 4)));
  child->kind = 1;
  log_out("hidden sprite: %d", value_of(hit_point(108, 104, 4)));
  child->kind = 2;
  d = hit_set(2, 4, 0, rect(&r, 110, 106, 111, 107), 8);
  log_out("unbound d tests against the bound one: %d", value_of(hit_check(d)));
  log_out("sprite's list starts with the region: %d", child->hit_regions == (int)bound);
  sp_reset(parent);
  log_out("after sp_reset of the parent: %d, d finds %d", value_of(hit_point(108, 104, 4)), value_of(hit_check(d)));
  log_out("hit_reset of the freed region -> %d", hit_reset(bound));

  /* Wild addresses. */
  log_out("wild: %d %d %d %d", hit_reset((HITREGION *)16), hit_check((HITREGION *)((int)a + 4)),
          hit_rect((RECT *)16, -1), hit_set(0, 1, (SPRITE *)12345, 0, 1));
  hit_init(-1);
  log_out("after hit_init: %d", value_of(hit_point(6, 6, -1)));
  return 0;
}
