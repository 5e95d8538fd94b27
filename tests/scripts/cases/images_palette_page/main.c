#include "talven.h"

/* An 8-bit screen is shown through the screen palette: a palette change shows at the next update,
   the plane's indices untouched. */
int main()
{
  RECT r;
  int i, colours[16];

  for (i = 0; i < 16; i++) {
    r.left = i * 4; r.top = 0; r.right = i * 4 + 4; r.bottom = 32;
    gclear(0, &r, PALETTE_COLOUR | i);
  }
  log_out("update -> %d", update(0));
  /* Entries 0..15 become a hue circle; entry 5 then grey. */
  for (i = 0; i < 16; i++) colours[i] = hsvtorgb((i * 128) << 16 | 0xFFFF);
  log_out("pal_sets -> %d", pal_sets(0, 16, colours));
  log_out("pal_set -> %d", pal_set(5, 0x808080));
  log_out("pal_get 5 -> %x", pal_get(5));
  log_out("rgbtohsv red -> %x", rgbtohsv(0xFF0000));
  log_out("pal_change -> %d", pal_change());
  log_out("plane colour at 21,3 -> %x", getpixel(0, 21, 3));
  /* Only the lower half is uploaded: the top keeps the old palette's picture. */
  r.left = 0; r.top = 16; r.right = 64; r.bottom = 32;
  log_out("update lower half -> %d", update(&r));
  r.left = 100; r.top = 0; r.right = 120; r.bottom = 10;
  log_out("update outside -> %d", update(&r));
  log_out("vpage 1024 -> %d", vpage(1024));
  log_out("vpage empty -> %d", vpage(7));
  return 0;
}
