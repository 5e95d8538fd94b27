/*
 * Draws the frames of the demo's intro movie with the engine and saves them as PNG files in
 * frames/ (run by games/demo/make-assets.sh, which encodes them with a chime into
 * movies/intro.mp4 with the ffmpeg command and puts that into movies.bin): two seconds at 25
 * frames a second of rings that open out of the middle over a deepening sky, and a flash into the
 * title.
 */
#include "talven.h"

#define W 320
#define H 180
#define FRAMES 50

int poke(PLANEINFO *info, int x, int y, int r, int g, int b)
{
  unsigned char *p;
  p = (unsigned char *)(info->top_row + y * info->row_step + x * 4);
  p[0] = b; p[1] = g; p[2] = r; p[3] = 255;
  return 0;
}

int clamp(int v) { if (v < 0) return 0; if (v > 255) return 255; return v; }

int draw_frame(int plane, int f)
{
  PLANEINFO info;
  int x, y, u, v, d, ring, radius, r, g, b, c, flash, width;
  ginfo(plane, &info);
  radius = f * 4;
  flash = 0;
  if (f > FRAMES - 8) flash = (f - (FRAMES - 8)) * 32;
  for (y = 0; y < H; y++) {
    for (x = 0; x < W; x++) {
      /* The sky: dark blue at the top, violet at the horizon, darker as the rings open. */
      r = 20 + y / 4; g = 10 + y / 8; b = 60 + y / 3 - f / 2;
      u = x - W / 2; v = (y - H / 2) * 2;
      d = isqrt(u * u + v * v);
      /* Three rings, each a hue of its own, 12 pixels wide, following one another outwards. */
      for (ring = 0; ring < 3; ring++) {
        width = d - (radius - ring * 30);
        if (width >= 0 && width < 12) {
          c = hsvtorgb(((ring * 500 + f * 20) % 1536) << 16 | 200 << 8 | 255);
          r = (c >> 16) & 255; g = (c >> 8) & 255; b = c & 255;
        }
      }
      poke(&info, x, y, clamp(r + flash), clamp(g + flash), clamp(b + flash));
    }
  }
  return 0;
}

int isqrt(int n)
{
  int x, y;
  if (n <= 0) return 0;
  x = n;
  y = (x + 1) / 2;
  while (y < x) { x = y; y = (x + n / x) / 2; }
  return x;
}

int main()
{
  int f, ok;
  char name[64];
  galloc(1, W, H, 32);
  ok = 1;
  for (f = 0; f < FRAMES; f++) {
    draw_frame(1, f);
    sprintf(name, "frames/f%03d.png", f);
    ok = ok & gsave(name, 1, 0);
  }
  log_out("intro frames %d, saved %d", FRAMES, ok);
  exit();
  return 0;
}
