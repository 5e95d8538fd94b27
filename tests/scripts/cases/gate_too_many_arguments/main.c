#include "talven.h"
int main()
{
  log_out("checked call: %d", setcount(0, 0));
  rand(1);
  log_out("never printed");
  return 0;
}
