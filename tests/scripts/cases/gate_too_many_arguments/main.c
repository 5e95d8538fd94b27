#include "talven.h"
int main()
{
  log_out("checked call: %d", abs(-3));
  rand(1);
  log_out("never printed");
  return 0;
}
