#include "talven.h"

/* Pictures of every kind the engine reads, written by the script itself and read back onto the
   screen: BMP at 4, 8, 24 and 32 bits, PNG palette, RGB and RGB with alpha, JPEG, and a delta image. */
void pattern(int plane, int w, int h)
{
  int i, x, y;
  PLANEINFO info;
  unsigned char *row;
  ginfo(plane, &info);
  if (info.bits == 4) {
    /* The drawing built-ins take 8 bits and more: write the nibbles straight into the plane. */
    row = (unsigned char *)info.top_row;
    for (y = 0; y < h; y++) {
      for (x = 0; x < w / 2; x++) row[x] = ((x + y) & 15) << 4 | (x & 15);
      row = row + info.row_step;
    }
    return;
  }
  gclear(plane, 0, 0x203050);
  for (i = 0; i < 4; i++) gfill(plane, i * w / 4, 0, w / 4, h / 2, 0xFF000000 | hsvtorgb((i * 512) << 16 | 0xFFFF));
  gline(plane, 0, h - 1, w - 1, h / 2, 0xFFFFFFFF);
  gfill(plane, w / 4, h * 3 / 4, w / 2, h / 8, 0x80FFFF00);
}

int show(int slot, char *file, int x, int y)
{
  int ok;
  ok = gload(slot, file);
  log_out("gload %s -> %d", file, ok);
  if (ok) gcopy(0, x, y, slot, 0, 0);
  return ok;
}

int main()
{
  int bits[4];
  char *bmp[4];
  int i;
  RECT r;
  unsigned char delta[64];

  bits[0] = 4; bits[1] = 8; bits[2] = 24; bits[3] = 32;
  bmp[0] = "four.bmp"; bmp[1] = "eight.bmp"; bmp[2] = "true.bmp"; bmp[3] = "alpha.bmp";
  for (i = 0; i < 4; i++) {
    galloc(1, 32, 32, bits[i]);
    pattern(1, 32, 32);
    log_out("gsave %s -> %d", bmp[i], gsave(bmp[i], 1, 0));
  }
  galloc(2, 32, 32, 8);
  pattern(2, 32, 32);
  log_out("gsave palette.png -> %d", gsave("palette.png", 2, 0));
  galloc(3, 32, 32, 24);
  pattern(3, 32, 32);
  log_out("gsave rgb.PNG -> %d", gsave("rgb.PNG", 3, 0));
  log_out("gsave flat.jpg -> %d", gsave("flat.jpg", 3, 0));
  r.left = 8; r.top = 8; r.right = 24; r.bottom = 24;
  log_out("gsave part.png -> %d", gsave("part.png", 3, &r));

  gclear(0, 0, 0x101010);
  for (i = 0; i < 4; i++) show(10 + i, bmp[i], i * 32, 0);
  show(14, "palette.png", 0, 32);
  show(15, "rgb.PNG", 32, 32);
  show(16, "flat.jpg", 64, 32);
  show(17, "part.png", 104, 40);
  log_out("gload missing.png -> %d", gload(18, "missing.png"));
  /* The 4-bit picture is read through its colour table (blits take 8 bits and more). */
  log_out("four.bmp pixels %x %x %x", getpixel(10, 1, 1), getpixel(10, 20, 30), getpixel(10, 10, 25));

  /* A delta image: at (100, 36) skip 2 pixels, copy 3 white pixels, next row, copy 1 red pixel. */
  for (i = 0; i < 64; i++) delta[i] = 0;
  delta[0] = 'D'; delta[1] = 'I'; delta[2] = 'F'; delta[3] = 'F';
  delta[12] = 32; delta[24] = 5; delta[28] = 2;
  delta[32] = 2; delta[33] = 0; delta[34] = 4;
  for (i = 0; i < 12; i++) delta[35 + i] = 255;
  delta[47] = 0; delta[48] = 0; delta[49] = 0; delta[50] = 2;
  delta[51] = 0; delta[52] = 0; delta[53] = 255; delta[54] = 0;
  delta[55] = 0; delta[56] = 1;
  log_out("dcopy -> %d", dcopy(0, 100, 36, delta, &r));
  log_out("dcopy rectangle %d %d %d %d", r.left, r.top, r.right, r.bottom);
  log_out("dcopy past the edge -> %d", dcopy(0, 124, 36, delta, 0));
  log_out("update -> %d", update(0));
  return 0;
}
