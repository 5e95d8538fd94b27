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

#ifdef __cplusplus
extern "C" {
#endif

/* The host pointer of `size` bytes at script address `address`, or NULL when that range is not
 * wholly inside script memory (the null guard at the bottom included). A size of 0 checks one
 * byte. Provided by the running engine. */
void *talven_host_pointer(unsigned int address, unsigned int size);

#ifdef __cplusplus
}
#endif

#endif
