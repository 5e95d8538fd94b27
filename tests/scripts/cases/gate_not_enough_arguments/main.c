#include "talven.h"
char buffer[16];
int main()
{
  log_out("a variable count passes: %d %d %d", 1, 2, 3);
  strcpy(buffer);
  log_out("never printed");
  return 0;
}
