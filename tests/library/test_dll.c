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

/* Asks the engine for its state and writes what it saw into three script words: the screen size
 * and depth, and the two flags as 10 * stop + active. Returns the message's result, or -1 when a
 * field is missing. */
int engine_state(unsigned int words) {
  TalvenEngineState state;
  int *out = talven_host_pointer(words, 12);
  intptr_t result;
  memset(&state, 0, sizeof state);
  result = talven_send_message(TALVEN_ENGINE_STATE_MESSAGE, (uintptr_t)&state, 0);
  if (out == NULL || state.stop_flag == NULL || state.active_flag == NULL || state.instance == NULL) return -1;
  out[0] = (int)(state.width * 10000 + state.height);
  out[1] = (int)state.depth;
  out[2] = (int)(*state.stop_flag * 10 + *state.active_flag);
  return (int)result;
}
