// The interpreter: runs a script context in slices of at most 255 instructions.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "vm/program.h"

namespace talven::vm {

// 0 while scripts may run; 1 after a runtime error, an illegal built-in call or the start of
// shutdown. A running slice reads it on entering each decoded block and after each instruction
// it runs on its own, so a script stops within one block; whoever resets the thread table clears
// it.
extern std::atomic<std::uint32_t> g_stop_flag;

// How many programs were stopped by a runtime error or an illegal built-in call since start-up;
// the application's exit status reports such a stop.
extern std::atomic<std::uint32_t> g_script_faults;

inline constexpr int kSliceInstructions = 255;

// The call gate: runs built-in `index` for `context` (arguments from r7 + 4, result in r0).
// A nonzero result ends the slice at once, and the interpreter then no longer touches the
// context (a built-in may have replaced or freed it).
using Gate = int (*)(std::uint32_t index, ScriptContext& context);

// Installs the gate that `trap` calls; nullptr restores the built-in placeholder, which stops
// the script with a message because no built-ins are connected.
void set_gate(Gate gate);
Gate current_gate();

// Lets run_slice go on where its caller's loop would only call it again (see run_slice).
struct SliceRun {
  int slices = 1;                                  // at most this many slices in one call
  bool (*go_on)(const void* data) = nullptr;       // nothing else wants the caller's loop
  const void* data = nullptr;
};

// Runs a slice of 255 instructions; returns at once when the stop flag is set or the context is
// not running. With `run`, a slice that ends while no built-in has been called in it (built-ins
// are what change a thread's state) and while `go_on(data)` holds runs on as the next slice,
// up to `run.slices` slices: such a slice may end a block later than its 255th instruction,
// which nothing outside the thread can tell from a return to the loop and a new call. Returns
// how many slices it began.
int run_slice(ScriptContext& context, const SliceRun& run = {});

enum RuntimeError : int {
  kDivideByZero = 0,
  kOutOfMemory = 1,  // also a null-pointer access and a call through 0
  kStackOverflow = 2,
  kInvalidCode = 3,
};

// Reports the error's message at level 1, stops the context (state 2) and sets the stop flag.
void runtime_error(ScriptContext& context, int code);

// A program stopped by a runtime error or an ill-made built-in call, for reports beyond the error
// box (the terminal, the log): the message as the box shows it (cp932), the thread slot, and the
// address of the instruction at fault (for a built-in call, the script's call of the built-in).
struct ScriptFault {
  const char* message;
  std::uint32_t slot;
  Address address;
};
using FaultListener = void (*)(const ScriptFault& fault);
void set_fault_listener(FaultListener listener);
// Tells the listener, if any; called before the error box is shown.
void notify_fault(const ScriptFault& fault);

// The message text of a runtime error code (0 to 3).
const char* runtime_error_message(int code);

// The interpreter runs code from a per-thread cache of decoded blocks that are compared with
// memory whenever code may have changed. Stores by scripts and every built-in call are noticed
// on their own; host code that writes script memory outside a built-in call while scripts run
// reports the range here.
void note_code_write(Address a, std::uint64_t n);

// A program image is being freed: decoded copies of it are dropped at each thread's next slice.
void note_image_released();

// How many decoded blocks the calling thread's cache holds (for tests).
std::size_t decoded_block_count();

// Off: every instruction is decoded from memory as it runs, one at a time (the reference that
// tests hold the decoded blocks against).
void set_decoding(bool on);

}  // namespace talven::vm
