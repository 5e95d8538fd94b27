#include "talven.h"
extern int depth;
extern int refused;
int main()
{
  depth++;
  if (call("nest.c") == 0) refused++;
  return 9;
}
