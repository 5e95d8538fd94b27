#include "talven.h"
char buffer[16];
int rect[4];
int main()
{
  int i, r;
  for (i = 0; i < 3; i++) r = strlen((char *)16);
  log_out("strlen of an address in the null guard, three times at one call site: %d", r);
  r = strlen((char *)16);
  log_out("and once at a second call site: %d", r);
  r = strcpy(buffer, (char *)32);
  log_out("strcpy from a bad source: %d", r);
  r = strlen(0);
  log_out("a null string is no bad address to strlen: %d", r);
  r = strlen("fine");
  log_out("a good call reports nothing: %d", r);
  return 0;
}
