#include "talven.h"

/* Text in planes of every depth, plain and anti-aliased, transparent and opaque, turned, clipped,
   in Japanese; the picture is compared with expected.png. */

void set_font(int slot, char *face, int size, int flags, int angle)
{
  FONT f;
  font_get(slot, &f);
  strcpy(f.face, face);
  f.size = size;
  f.flags = flags;
  f.angle = angle;
  f.weight = 0;
  font_set(slot, &f);
}

/* Plain, opaque and anti-aliased text in one plane, then the plane onto the screen. */
void panel(int number, int depth, int x, int y)
{
  RECT r;
  galloc(number, 150, 56, depth);
  gclear(number, 0, 0x01000012);
  font_use(0);
  log_out("%d bits: plain %d", depth, gtext(number, 2, 2, 0xFF, "Plain •¶Žš %d"));
  log_out("%d bits: opaque %d", depth, gtextf(number, 2, 20, 0x40001CE0, "Opaque %d", depth));
  font_use(1);
  log_out("%d bits: anti-aliased %d", depth, gtext(number, 80, 16, 0xFC, "ŠŠ‚ç‚©"));
  r.left = 0; r.top = 0; r.right = 150; r.bottom = 56;
  gcopy(0, x, y, number, &r, 0);
}

int main()
{
  RECT clip;
  FONT f;

  gclear(0, 0, 0x203040);
  set_font(0, "IPAGothic", 16, 0, 0);
  set_font(1, "IPAGothic", 24, 16, 0);
  panel(1, 8, 4, 4);
  panel(2, 16, 164, 4);
  panel(3, 24, 4, 64);
  panel(4, 32, 164, 64);

  /* Turned text, each with its box at the point marked. */
  set_font(2, "IPAGothic", 14, 0, 900);
  set_font(3, "IPAGothic", 14, 0, 1800);
  set_font(4, "IPAGothic", 14, 0, 2700);
  set_font(5, "IPAGothic", 14, 0, 450);
  font_use(2);
  gtext(0, 8, 130, 0xFF, "Up 900");
  font_use(3);
  gtext(0, 40, 130, 0xFF, "Down 1800");
  font_use(4);
  gtext(0, 130, 130, 0xFF, "Side 2700");
  font_use(5);
  gtext(0, 160, 140, 0xFF, "Slant 450");

  /* Underlined, struck out, bold and italic; a face no one has falls back. */
  set_font(6, "Meiryo", 16, 1 | 2 | 4 | 8, 0);
  font_use(6);
  gtext(0, 160, 200, 0xE3, "Bold, italic");

  /* Clipped at the page's clip rectangle. */
  clip.left = 10; clip.top = 212; clip.right = 120; clip.bottom = 230;
  gclip(0, &clip);
  set_font(7, "IPAGothic", 20, 16, 0);
  font_use(7);
  log_out("clipped %d", gtext(0, 0, 205, 0x1F | 0x80000000, "Clipped at the edge"));

  font_get(6, &f);
  log_out("record %s %d %d %d %d", f.face, f.size, f.angle, f.flags, f.weight);
  update(0);
  return 0;
}
