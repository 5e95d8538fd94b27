#include "talven.h"
int main()
{
  int zero;
  zero = 0;
  log_out("before");
  log_out("%d", 10 / zero);
  log_out("never printed");
  return 0;
}
