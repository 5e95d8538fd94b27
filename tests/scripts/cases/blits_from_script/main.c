#include "talven.h"

/* Blits, polygons and dirty rectangles from a script, checked by pixels and by a checksum of
   plane memory read through ginfo. */
int checksum(int plane)
{
  PLANEINFO info;
  unsigned char *row;
  int x, y, sum;
  ginfo(plane, &info);
  sum = 0;
  row = (unsigned char *)info.top_row;
  for (y = 0; y < info.height; y++) {
    for (x = 0; x < info.width * info.bits / 8; x++) sum = sum * 31 + row[x];
    row = row + info.row_step;
  }
  return sum;
}

int main()
{
  RECT all, part;
  BLITMODE m;
  POINT2 star[5];

  galloc(1, 9, 9, 32);
  gclear(1, 0, 0xFF000000);
  gfill(1, 7, 4, 1, 1, 0xFF00FF00);          /* a marker right of the centre */
  galloc(2, 9, 9, 32);
  all.left = 0; all.top = 0; all.right = 9; all.bottom = 9;
  log_out("gblit quarter turn %d", gblit(2, &all, 1, &all, 0, 512));
  log_out("above the centre %08x, right of it %08x", getpixel(2, 4, 1), getpixel(2, 7, 4));

  m.mode = 3; m.operation = 0; m.opacity = 0; m.parameter = 0; m.key = 0; m.colour = 0;
  log_out("mode 3 at opacity 0 %d", gcopy(2, 0, 0, 1, 0, &m));
  m.mode = 13;
  log_out("mode 13 %d", gcopy(2, 0, 0, 1, 0, &m));

  galloc(3, 40, 30, 24);
  gclear(3, 0, 0x00203040);
  part.left = 0; part.top = 0; part.right = 40; part.bottom = 30;
  m.mode = 5; m.opacity = 160;
  log_out("gblita scaled and turned %d", gblita(3, &part, 1, &all, &m, 300));
  log_out("checksum after gblita %d", checksum(3));

  star[0].x = 20; star[0].y = 1;
  star[1].x = 32; star[1].y = 28;
  star[2].x = 2;  star[2].y = 11;
  star[3].x = 38; star[3].y = 11;
  star[4].x = 8;  star[4].y = 28;
  galloc(4, 40, 30, 8);
  log_out("gpoly %d", gpoly(4, star, 5, 0xFF0000FF));
  log_out("star centre %08x, point %08x", getpixel(4, 20, 16), getpixel(4, 20, 5));
  log_out("gpoly with two points %d", gpoly(4, star, 2, 0xFF0000FF));

  galloc(5, 40, 30, 32);
  drt_init();
  part.left = 2; part.top = 2; part.right = 12; part.bottom = 10;
  drt_set(&part);
  part.left = 8; part.top = 6; part.right = 20; part.bottom = 16;
  drt_set(&part);
  log_out("drt_copy %d", drt_copy(5, 0, 0, 4, 0));
  log_out("checksum after drt_copy %d", checksum(5));
  log_out("outside the rectangles %08x", getpixel(5, 30, 25));
  return 0;
}
