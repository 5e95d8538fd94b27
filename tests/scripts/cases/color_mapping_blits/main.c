#include "talven.h"
/* setsystem("color_mapping") reaches the blitters: an 8-bit copy onto an 8-bit plane keeps the
   palette index while it is 0, and maps the index through its colour into the destination's
   palette while it is set. */
int red[1];
int main()
{
  red[0] = 0xFF0000;
  galloc(1, 4, 4, 8);
  galloc(2, 4, 4, 8);
  gsetpal(1, 7, 1, red);
  gclear(1, 0, 0x01000007);
  gcopy(2, 0, 0, 1, 0, 0);
  log_out("mapping off: %06x (entry 7 of the destination's palette)", getpixel(2, 1, 1));
  setsystem("color_mapping", 5);
  log_out("the stored value: %d", getsystem("color_mapping"));
  gcopy(2, 0, 0, 1, 0, 0);
  log_out("mapping on: %06x (the source's red)", getpixel(2, 1, 1));
  return 0;
}
