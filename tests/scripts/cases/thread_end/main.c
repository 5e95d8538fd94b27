#include "talven.h"
extern int spins;
int spinner(int n) { for (;;) spins++; return 0; }
int main()
{
  int slot, seen;
  slot = thd_begin(spinner, 0, 0, 0);
  while (spins < 1000) sleep(1);
  log_out("end: %d", thd_end(slot));
  seen = spins;
  sleep(20);
  log_out("stopped spinning: %d", seen == spins);
  log_out("end again: %d", thd_end(slot));
  log_out("end of its own slot: %d", thd_end(0));
  return 0;
}
