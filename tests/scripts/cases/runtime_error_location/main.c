#include "talven.h"
#include "worker.h"
/* A fault in a thread function from an included file is reported with that file, its line, the
   function and the thread's slot. */
int main()
{
  log_out("starting the worker");
  thd_begin(poke, 0, 0, 0);
  for (;;) sleep(10);
  return 0;
}
