/*
 * Draws the demo's pictures with the engine and saves them as PNG files in pictures/ (run by
 * games/demo/make-assets.sh, which then puts them in the archive pictures.bin).
 */
#include "talven.h"

extern int glyphs[42];

int poke(PLANEINFO *info, int x, int y, int r, int g, int b, int a)
{
  unsigned char *p;
  p = (unsigned char *)(info->top_row + y * info->row_step + x * 4);
  p[0] = b; p[1] = g; p[2] = r; p[3] = a;
  return 0;
}

int clamp(int v) { if (v < 0) return 0; if (v > 255) return 255; return v; }

int isqrt(int n)
{
  int x, y;
  if (n <= 0) return 0;
  x = n;
  y = (x + 1) / 2;
  while (y < x) { x = y; y = (x + n / x) / 2; }
  return x;
}

/* Block letters 5 x 7, one row of five bits per entry: T A L V E N. */
int set_glyphs()
{
  int i, rows[42];
  rows[0] = 31; rows[1] = 4; rows[2] = 4; rows[3] = 4; rows[4] = 4; rows[5] = 4; rows[6] = 4;
  rows[7] = 14; rows[8] = 17; rows[9] = 17; rows[10] = 31; rows[11] = 17; rows[12] = 17; rows[13] = 17;
  rows[14] = 16; rows[15] = 16; rows[16] = 16; rows[17] = 16; rows[18] = 16; rows[19] = 16; rows[20] = 31;
  rows[21] = 17; rows[22] = 17; rows[23] = 17; rows[24] = 17; rows[25] = 17; rows[26] = 10; rows[27] = 4;
  rows[28] = 31; rows[29] = 16; rows[30] = 16; rows[31] = 30; rows[32] = 16; rows[33] = 16; rows[34] = 31;
  rows[35] = 17; rows[36] = 25; rows[37] = 21; rows[38] = 19; rows[39] = 17; rows[40] = 17; rows[41] = 17;
  for (i = 0; i < 42; i++) glyphs[i] = rows[i];
  return 0;
}

/* Coverage (0..255) of the title's letters at a pixel: each lit cell of a glyph is a rounded
   square of 12 x 12 pixels with a soft edge. */
int letter_alpha(int x, int y)
{
  int col, row, letter, bit, u, v, d;
  x = x - 10; y = y - 8;
  if (x < 0 || y < 0 || y >= 84 || x >= 6 * 72) return 0;
  letter = x / 72;
  col = (x % 72) / 12;
  row = y / 12;
  if (col >= 5) return 0;
  bit = (glyphs[letter * 7 + row] >> (4 - col)) & 1;
  if (!bit) return 0;
  u = (x % 12) * 2 - 11; v = (y % 12) * 2 - 11;
  d = u * u * u * u + v * v * v * v;
  if (d <= 14000) return 255;
  if (d >= 20736) return 0;
  return (20736 - d) * 255 / 6736;
}

int draw_title(int plane)
{
  PLANEINFO info;
  int x, y, a, s, out, r, g, b;
  galloc(plane, 452, 104, 32);
  ginfo(plane, &info);
  for (y = 0; y < 104; y++) {
    for (x = 0; x < 452; x++) {
      a = letter_alpha(x, y);
      s = letter_alpha(x - 5, y - 5) / 2;
      out = a + s * (255 - a) / 255;
      /* Gold at the top of the letters to ember red at the bottom, a lighter band near the top. */
      r = 255; g = clamp(230 - (y - 8) * 2); b = clamp(120 - (y - 8) * 2);
      if ((y - 8) % 12 < 3) { g = clamp(g + 40); b = clamp(b + 60); }
      if (out == 0) poke(&info, x, y, 0, 0, 0, 0);
      else poke(&info, x, y, r * a / out, g * a / out, b * a / out, out);
    }
  }
  return 0;
}

/* A shaded sphere of the given hue, lit from the upper left, with a soft rim. */
int draw_ball(int plane, int hue)
{
  PLANEINFO info;
  int x, y, u, v, d, z, light, base, r, g, b, a, spec;
  galloc(plane, 64, 64, 32);
  ginfo(plane, &info);
  base = hsvtorgb(hue << 16 | 200 << 8 | 255);
  for (y = 0; y < 64; y++) {
    for (x = 0; x < 64; x++) {
      u = x * 2 - 63; v = y * 2 - 63;
      d = u * u + v * v;
      if (d > 3844) { poke(&info, x, y, 0, 0, 0, 0); continue; }
      z = isqrt(3844 - d);
      light = clamp((-u - v + 2 * z) * 255 / 152);
      spec = 0;
      if (light > 200) spec = (light - 200) * 4;
      r = clamp(((base >> 16) & 255) * (50 + light * 205 / 255) / 255 + spec);
      g = clamp(((base >> 8) & 255) * (50 + light * 205 / 255) / 255 + spec);
      b = clamp((base & 255) * (50 + light * 205 / 255) / 255 + spec);
      a = 255;
      if (d > 3600) a = (3844 - d) * 255 / 244;
      poke(&info, x, y, r, g, b, a);
    }
  }
  return 0;
}

/* A small four-pointed glow. */
int draw_star(int plane)
{
  PLANEINFO info;
  int x, y, u, v, a, au, av;
  galloc(plane, 16, 16, 32);
  ginfo(plane, &info);
  for (y = 0; y < 16; y++) {
    for (x = 0; x < 16; x++) {
      u = x * 2 - 15; v = y * 2 - 15;
      au = u; if (au < 0) au = -au;
      av = v; if (av < 0) av = -av;
      a = clamp(255 - au * av * 6 - (u * u + v * v) / 2);
      poke(&info, x, y, 255, 255, 230, a);
    }
  }
  return 0;
}

/* An 8-bit picture of two interfering ring systems; its palette is one smooth turn of the hue
   circle, so turning the palette makes the rings flow. */
int draw_rings(int plane)
{
  PLANEINFO info;
  unsigned char *row;
  int x, y, d1, d2, i, colours[256];
  galloc(plane, 320, 240, 8);
  ginfo(plane, &info);
  for (y = 0; y < 240; y++) {
    row = (unsigned char *)(info.top_row + y * info.row_step);
    for (x = 0; x < 320; x++) {
      d1 = (x - 110) * (x - 110) + (y - 100) * (y - 100);
      d2 = (x - 230) * (x - 230) + (y - 150) * (y - 150);
      row[x] = ((d1 >> 7) + (d2 >> 7) + (((x >> 5) + (y >> 5)) & 1) * 16) & 255;
    }
  }
  for (i = 0; i < 256; i++) colours[i] = hsvtorgb((i * 8) << 16 | 170 << 8 | (110 + (i & 63)));
  gsetpal(plane, 0, 256, colours);
  return 0;
}

int main()
{
  set_glyphs();
  draw_title(1);
  log_out("title.png %d", gsave("pictures/title.png", 1, 0));
  draw_ball(2, 0);
  log_out("ball-red.png %d", gsave("pictures/ball-red.png", 2, 0));
  draw_ball(2, 700);
  log_out("ball-green.png %d", gsave("pictures/ball-green.png", 2, 0));
  draw_ball(2, 1400);
  log_out("ball-blue.png %d", gsave("pictures/ball-blue.png", 2, 0));
  draw_star(3);
  log_out("star.png %d", gsave("pictures/star.png", 3, 0));
  draw_rings(4);
  log_out("rings.png %d", gsave("pictures/rings.png", 4, 0));
  exit();
  return 0;
}
