#include "talven.h"
int quitter(int n)
{
  log_out("thread %d says goodbye", n);
  exit();
  log_out("never printed");
  return 0;
}
int main()
{
  thd_begin(quitter, 4, 0, 0);
  for (;;) sleep(10);
  return 0;
}
