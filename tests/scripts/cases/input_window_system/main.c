/* The same key presses, mouse and pads as input_direct_input, read with the window system's numbering:
   virtual-key codes with their toggle bits, the buttons alone, pad axes calibrated as WinMM does. */
#include "talven.h"

void tell_keys()
{
  unsigned char keys[256];
  char line[400];
  int i, ok;
  ok = getkey(keys);
  strcpy(line, "");
  for (i = 0; i < 256; i++)
    if (keys[i]) sprintf(line + strlen(line), " %02X=%02X", i, keys[i]);
  log_out("getkey %d:%s", ok, line);
}

void tell_mouse()
{
  MOUSE m;
  int ok;
  ok = getmouse(&m);
  log_out("getmouse %d: dx %d dy %d dz %d buttons %d", ok, m.dx, m.dy, m.dz, m.buttons);
}

void tell_pad(int n)
{
  JOYSTICK j;
  int ok;
  j.x = 7; j.y = 7; j.buttons = 7;
  ok = getjoy(n, &j);
  log_out("getjoy(%d) %d: x %d y %d buttons %x", n, ok, j.x, j.y, j.buttons);
}

int main()
{
  int n;
  setcount(0, 0);
  while (getcount(0) < 800) sleep(10);
  tell_keys();
  tell_mouse();
  tell_mouse();
  for (n = -1; n <= 4; n++) tell_pad(n);
  exit();
  return 0;
}
