#include "talven.h"
extern int ran;
int worker(int n) { ran = n; return 0; }
int idle_forever(int n) { for (;;) sleep(20); return 0; }
int main()
{
  int slot, first;
  slot = thd_begin(worker, 5, 1, 0);
  sleep(100);
  log_out("after 100 ms a suspended thread ran: %d", ran);
  log_out("resume: %d", thd_resume(slot));
  while (ran == 0) sleep(1);
  log_out("after resume it ran: %d", ran);
  slot = thd_begin(idle_forever, 0, 0, 0);
  log_out("resume of a running thread: %d", thd_resume(slot));
  first = thd_suspend(slot);
  log_out("suspend twice: %d %d", first, thd_suspend(slot));
  log_out("resume: %d", thd_resume(slot));
  exit();
  return 0;
}
