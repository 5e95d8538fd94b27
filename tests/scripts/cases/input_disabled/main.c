/* While the application is inactive input reads neutral: getkey 0 and a zero table, getpoint -1,
   -1, getmouse and getjoy 0 with zero records. The main thread tells each change it sees. */
#include "talven.h"

int main()
{
  unsigned char keys[256];
  POINTER p;
  MOUSE m;
  JOYSTICK j;
  int i, ok, sum, was, changes;
  /* Everything the replay holds is down before the first line. */
  while (!(getkey(keys) && (keys[0x20] & 0x80) && (keys[0x01] & 0x80) && getjoy(0, &j))) sleep(5);
  was = -1;
  changes = 0;
  while (changes < 3) {
    ok = getkey(keys);
    if (ok != was) {
      sum = 0;
      for (i = 0; i < 256; i++) sum = sum + keys[i];
      p.flags = 99;
      getpoint(&p);
      m.buttons = 99;
      j.x = 99;
      log_out("getkey %d, table sum %d; getpoint %d,%d flags %x", ok, sum, p.x, p.y, p.flags);
      ok = getmouse(&m);
      i = getjoy(0, &j);
      log_out("  getmouse %d buttons %d; getjoy %d x %d", ok, m.buttons, i, j.x);
      was = ok;
      changes++;
    }
    sleep(5);
  }
  exit();
  return 0;
}
