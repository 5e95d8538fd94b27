#include "talven.h"

/* Planes from a script: the screen plane made at start-up, a plane of each drawing depth, drawing
   with the plane built-ins and reading the pixels back, also straight from plane memory. */
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
  PLANEINFO info;
  RECT r;
  BLITMODE m;
  int slot, bits;

  ginfo(0, &info);
  log_out("screen %d x %d x %d, row step %d", info.width, info.height, info.bits, info.row_step);

  log_out("galloc 16-bit %d", galloc(1, 7, 5, 16));
  log_out("gclear %d", gclear(1, 0, 0x00FF8040));
  log_out("getpixel 16-bit %08x", getpixel(1, 3, 3));

  galloc(2, 10, 6, 32);
  r.left = 2; r.top = 1; r.right = 8; r.bottom = 5;
  gclear(2, &r, 0x80102030);
  log_out("gfill %d", gfill(2, 0, 0, 10, 6, 0x80FF0000));
  log_out("pixel inside %08x outside %08x", getpixel(2, 4, 3), getpixel(2, 0, 0));
  log_out("checksum 32 %d", checksum(2));

  galloc(3, 10, 6, 8);
  log_out("gline %d", gline(3, -5, 2, 20, 2, 0xFF0000E0));
  log_out("line %08x %08x", getpixel(3, 0, 2), getpixel(3, 0, 3));

  m.mode = 5; m.operation = 0; m.opacity = 255; m.parameter = 0; m.key = 0; m.colour = 0;
  galloc(4, 10, 6, 24);
  log_out("gcopy %d", gcopy(4, 0, 0, 2, 0, &m));
  log_out("copied %08x", getpixel(4, 4, 3));
  log_out("checksum 24 %d", checksum(4));

  log_out("galloc address form %d", galloc((int)&slot, 4, 4, 8));
  log_out("slot %d", slot);
  ginfo(slot, &info);
  log_out("8-bit colour table entry 255 %08x", ((int *)info.colours)[255]);
  log_out("gfree %d", gfree(slot));
  log_out("ginfo of an empty slot %d", ginfo(slot, &info));
  log_out("after free %d %d %d", info.width, info.height, info.colours);
  log_out("bad depth %d", galloc(5, 4, 4, 12));
  return 0;
}
