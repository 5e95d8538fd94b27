#include "talven.h"
int main()
{
  int r;
  r = call("sub.c");
  log_out("call returned %d", r);
  r = call("missing.c");
  log_out("missing file: %d", r);
  r = call("sub.txt");
  log_out("not a .c name: %d", r);
  return 0;
}
