#include "talven.h"
/* 31 threads and the main one hammer the built-in gate with yield-0 and yield-1 calls for three
   seconds, then the main thread exits the application while all of them are still running. */
extern int calls[32];
int worker(int n)
{
  int i;
  i = 0;
  for (;;) {
    abs(i);            /* yield flag 0: the slice goes on */
    getcount(n);       /* yield flag 1: the slice ends */
    setcount(n, i);
    if ((i & 63) == 0) sleep(0);
    calls[n]++;
    i++;
  }
  return 0;
}
int main()
{
  int i, started, busy;
  started = 0;
  for (i = 1; i < 32; i++)
    if (thd_begin(worker, i, 0, 0) >= 0) started++;
  log_out("started %d threads", started);
  setcount(0, 0);
  while (getcount(0) < 3000) abs(getcount(0));
  busy = 0;
  for (i = 1; i < 32; i++)
    if (calls[i] > 10) busy++;
  log_out("threads that made progress: %d", busy);
  exit();
  return 0;
}
