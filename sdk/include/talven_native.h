/*
 * talven_native.h - for authors of native libraries that games call with dll_load, dll_proc and
 * dll_call.
 *
 * A script calls an exported function with dll_call(function, arguments...). Every argument
 * reaches the function as one 32-bit integer word (declare the parameters as int or unsigned; a
 * float argument arrives as its bit pattern), in the order the script wrote them, and the
 * function's 32-bit int result is what dll_call returns. The calling convention is the platform's
 * own C convention.
 *
 * Pointer arguments are script addresses, not pointers of this process: scripts live in their own
 * 32-bit address space. Turn one into a pointer with talven_host_pointer before using it, and
 * never keep the pointer beyond the call. Scripts cannot receive host pointers either: return
 * integers, or write results into memory the script passed in.
 */
#ifndef TALVEN_NATIVE_H
#define TALVEN_NATIVE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The host pointer of `size` bytes at script address `address`, or NULL when that range is not
 * wholly inside script memory (the null guard at the bottom included). A size of 0 checks one
 * byte. Provided by the running engine. */
void *talven_host_pointer(unsigned int address, unsigned int size);

/* Messages to the engine's frame window, numbered as the engine's window messages (WM_USER is
 * 0x0400). talven_send_message delivers one as a sent message: the engine handles it on its window
 * thread and the call returns the result. Messages whose wparam or lparam do not fit in 32 bits,
 * and messages the engine does not handle, return 0. Call it from a function a script called, or
 * from a thread of your own; never while the engine is shutting down. */
intptr_t talven_send_message(unsigned int message, uintptr_t wparam, uintptr_t lparam);

/* WM_USER + 210, with wparam the address of a TalvenEngineState: the engine fills in its seven
 * words and returns 0. On this platform each word is pointer-sized. */
#define TALVEN_ENGINE_STATE_MESSAGE (0x0400 + 210)

typedef struct TalvenEngineState {
  /* Becomes non-zero when the engine stops every script (closing, a runtime error): a long loop in
   * a library should then return. */
  volatile const uint32_t *stop_flag;
  /* 0 while the game is paused because its window lost the focus, else 1. */
  volatile const uint32_t *active_flag;
  void *instance;     /* the engine's program, as dlopen(NULL) gives it */
  void *frame_window; /* the frame window (an SDL_Window *), NULL when the game runs headless */
  intptr_t width;     /* the screen plane: [Screen] Width, Height and Depth */
  intptr_t height;
  intptr_t depth;
} TalvenEngineState;

#ifdef __cplusplus
}
#endif

#endif
