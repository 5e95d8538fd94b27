#include "talven.h"
extern int ticks;
int counter(int n) { for (;;) { ticks++; sleep(1); } return 0; }
int main()
{
  int start, elapsed;
  thd_begin(counter, 0, 0, 0);
  setcount(0, 0);
  sleep(100);
  elapsed = getcount(0);
  log_out("slept at least 100 ms: %d", elapsed >= 100);
  log_out("the other thread ran meanwhile: %d", ticks > 5);
  exit();
  return 0;
}
