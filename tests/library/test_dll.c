/* A small native library that the tests load with dll_load and call with dll_call. */
#include <string.h>

#include "talven_native.h"

int add3(int a, int b, int c) { return a + b + c; }

/* Weighs each argument by its position, so a change in order or a lost word shows. */
int weigh10(int a, int b, int c, int d, int e, int f, int g, int h, int i, int j) {
  return a * 1 + b * 2 + c * 3 + d * 4 + e * 5 + f * 6 + g * 7 + h * 8 + i * 9 + j * 10;
}

int no_arguments(void) { return 4242; }

/* Reads and writes script memory through the engine's address translation. */
int upcase_in_place(unsigned int text) {
  char *p = talven_host_pointer(text, 1);
  int n = 0;
  if (p == NULL) return -1;
  for (; (p = talven_host_pointer(text + (unsigned)n, 1)) != NULL && *p != 0; ++n)
    if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 32);
  return n;
}
