#include "talven.h"
/* Code is data: a built-in and a plain store rewrite a function that has already run. */
int one() { return 1; }
int two() { return 2; }
int three() { return 3; }
int main()
{
  int i, sum, before, after;
  char *code;
  sum = 0;
  for (i = 0; i < 1000; i++) sum = sum + one();
  before = one();
  memcpy(one, two, 16);
  after = one();
  log_out("built-in copy: %d then %d, loop sum %d", before, after, sum);
  code = (char *)one;
  sum = 0;
  for (i = 0; i < 1000; i++) {
    sum = sum + one();
    if (i == 499) memcpy(one, three, 16);
  }
  log_out("rewritten halfway through a loop: %d", sum);
  sum = 0;
  for (i = 0; i < 10; i++) {
    sum = sum + one();
    code[7] = i; /* the immediate of one's movl, written by the script itself */
  }
  log_out("immediate stored by the script: %d", sum);
  return 0;
}
