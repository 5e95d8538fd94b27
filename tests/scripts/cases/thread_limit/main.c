#include "talven.h"
int idle(int n) { for (;;) sleep(50); return 0; }
int main()
{
  int i, started, last;
  started = 0;
  for (i = 0; i < 31; i++)
    if (thd_begin(idle, i, 0, 0) >= 0) started++;
  last = thd_begin(idle, 99, 0, 0);
  log_out("started %d threads, then %d", started, last);
  log_out("suspend slot 32: %d, resume slot -1: %d, end slot 32: %d", thd_suspend(32), thd_resume(-1), thd_end(32));
  exit();
  return 0;
}
