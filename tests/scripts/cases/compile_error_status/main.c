#include "talven.h"
int main()
{
  log_out("never printed");
  return 1 +;
}
