#include "talven.h"
extern int depth;
extern int refused;
int main()
{
  int r;
  r = call("nest.c");
  log_out("nested programs: %d, refused calls: %d, result %d", depth, refused, r);
  return 0;
}
