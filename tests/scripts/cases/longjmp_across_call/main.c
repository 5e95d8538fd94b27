#include "talven.h"
JMPBUF buffer;
JMPBUF returned;
extern JMPBUF *saved;

int arm(JMPBUF *b) { return setjmp(b); }

int main()
{
  int v;
  saved = &buffer;
  v = setjmp(&buffer);
  if (v == 0) {
    log_out("calling the thrower");
    call("thrower.c");
    log_out("never printed");
  } else {
    log_out("back from longjmp with %d", v);
  }
  arm(&returned);
  log_out("longjmp into a returned frame: %d", longjmp(&returned, 3));
  return 0;
}
