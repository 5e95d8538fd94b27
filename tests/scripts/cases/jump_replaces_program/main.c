#include "talven.h"
extern int stage;
int main()
{
  stage = 1;
  log_out("first program");
  jump("second.c");
  log_out("never printed");
  return 0;
}
