#include "talven.h"
#trap
int beyond_the_table();
int main()
{
  log_out("calling built-in 327");
  beyond_the_table();
  log_out("never printed");
  return 0;
}
