#include "talven.h"
/* /dev/stdout and /dev/stderr are the engine's own streams: a game's lines take their place among
   the engine's, and nothing already written is truncated or overwritten. */
int main()
{
  int f;
  vpage(5000);                       /* an error box, printed on stderr when headless */
  f = fopen("/dev/stderr", "w");
  log_out("opened: %d", f != 0);
  fputs("a line from the script\n", f);
  fclose(f);
  apage(5000);                       /* and one more after it */
  f = fopen("/dev/stdout", "wb");
  fputs("to standard output\n", f);
  fclose(f);
  return 0;
}
