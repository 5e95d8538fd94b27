/* The character queue keeps the last 511 bytes typed; key_get hands bytes back sign-extended.
   The script waits for F1, F3 and F2, which the replay presses after each batch of typing. */
#include "talven.h"

void wait_for_key(int vk)
{
  unsigned char keys[256];
  while (!(getkey(keys) && (keys[vk] & 0x80))) sleep(5);
}

int main()
{
  int c, count, first, last, b[5];
  wait_for_key(0x70);
  count = 0;
  first = key_get();
  last = first;
  if (first) count = 1;
  while ((c = key_get()) != 0) { last = c; count++; }
  log_out("600 typed, %d kept, from '%c' to '%c'", count, first, last);
  /* What was typed before key_init is gone after it. */
  wait_for_key(0x72);
  key_init();
  wait_for_key(0x71);
  for (c = 0; c < 5; c++) b[c] = key_get();
  log_out("hiragana A in code page 932: %d %d; Return %d; Backspace %d; then %d", b[0], b[1], b[2], b[3], b[4]);
  exit();
  return 0;
}
