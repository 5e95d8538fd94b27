#include "talven.h"
extern int stage;
int main()
{
  log_out("second program, stage %d", stage);
  log_out("jump to a missing file: %d", jump("nothing.c"));
  return 0;
}
