#include "talven.h"
KEYFRAME track[4];
char a[32];
char b[32];
char c[32];
char d[32];
char e[32];
char f[32];
char g[32];

int main()
{
  int mode;
  kf_setkey(&track[0], 0.0, 0.0);
  kf_setkey(&track[1], 1.0, 10.0);
  kf_setkey(&track[2], 2.0, 10.0);
  kf_setkey(&track[3], 4.0, 30.0);
  kf_calc(track, 4);
  log_out("index of -1: %d, 0: %d, 0.5: %d, 1: %d, 3.9: %d, 4: %d, 5: %d", kf_getindex(track, 4, -1.0),
          kf_getindex(track, 4, 0.0), kf_getindex(track, 4, 0.5), kf_getindex(track, 4, 1.0),
          kf_getindex(track, 4, 3.9), kf_getindex(track, 4, 4.0), kf_getindex(track, 4, 5.0));
  for (mode = 0; mode <= 10; mode++) {
    ftoa(a, kf_getkey(track, 4, -1.0, mode));
    ftoa(b, kf_getkey(track, 4, 0.0, mode));
    ftoa(c, kf_getkey(track, 4, 4.0, mode));
    ftoa(d, kf_getkey(track, 4, 9.0, mode));
    ftoa(e, kf_getkey(track, 4, 0.5, mode));
    ftoa(f, kf_getkey(track, 4, 1.5, mode));
    ftoa(g, kf_getkey(track, 4, 3.0, mode));
    log_out("mode %d: before %s first %s last %s beyond %s | 0.5 %s | 1.5 %s | 3 %s", mode, a, b, c, d, e, f, g);
  }
  ftoa(a, kf_getkey(0, 4, 1.0, 1));
  ftoa(b, kf_getkey(track, 0, 1.0, 1));
  log_out("null track %s, no keys %s, index %d", a, b, kf_getindex(track, 0, 1.0));
  exit();
  return 0;
}
