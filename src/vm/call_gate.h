// The call gate: how `trap` N reaches built-in N of the fixed table, serialised by one lock.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>

#include "vm/program.h"
#include "vm/script_memory.h"

namespace talven::vm {

inline constexpr std::uint32_t kBuiltinCount = 327;

// A handler gets the script address of its first argument word and returns one word: an integer,
// an address or a float's bit pattern.
using BuiltinHandler = std::uint32_t (*)(Address arguments);

// One built-in, as the module that implements it declares it. The index is the number compiled
// code carries: scripts declare built-ins after `#trap` lines in table order, so an index never
// changes.
struct BuiltinEntry {
  std::uint32_t index;
  const char* name;
  std::int32_t argument_count;  // argument words; -1: variable
  std::uint32_t yield;          // 1: the slice ends after the call
  BuiltinHandler handler;       // nullptr: not built yet (the gate says so when a script calls it)
};
using BuiltinSpan = std::span<const BuiltinEntry>;

// Assembles the table from the modules' spans. Every index below kBuiltinCount must be given
// exactly once; otherwise the table stays as it was and the answer says what is wrong. Empty on
// success. Call before any script runs.
std::string install_builtins(std::span<const BuiltinSpan> spans);
inline std::string install_builtins(std::initializer_list<BuiltinSpan> spans) {
  return install_builtins(std::span<const BuiltinSpan>(spans.begin(), spans.size()));
}

// An entry of the assembled table; index below kBuiltinCount. Before install_builtins every entry
// is nameless and unbuilt.
const BuiltinEntry& builtin_entry(std::uint32_t index);

// The settings the VM reads, installed by the shell from the configuration before any script
// runs (DebugMode, ProgramSize, StackSize); tests set them directly.
struct VmSettings {
  // DebugMode: the gate compares pushed words with the table, and names an argument whose address
  // a built-in refused ("bad argument N to NAME", once per call site; the result stays the same).
  bool debug_mode = false;
  std::uint32_t program_size = 0;      // ProgramSize for jump, call and the entry script (0: measured)
  std::uint32_t stack_size = 262144;   // StackSize
};
void set_vm_settings(const VmSettings& settings);
const VmSettings& vm_settings();

// Returns the settings, the call sites already named for bad arguments and the programs' source
// maps to a fresh process's. For tests between cases; one engine runs per process. Script threads
// and script memory have their own start and stop.
void reset_vm_state();

// Runs built-in `index` for `context` and returns its yield flag (nonzero ends the slice).
int gate(std::uint32_t index, ScriptContext& context);

// Every handler runs inside this lock, so no two built-ins ever overlap.
std::mutex& builtin_lock();

// The context whose built-in call is in progress on the calling OS thread. It is kept per thread,
// not per process: a built-in that waits with the lock released (thd_end) lets other threads'
// calls run meanwhile, and each call's result must still land in its own caller's r0. A handler
// may replace it (jump, longjmp) so that the result lands in the new context's r0.
ScriptContext* current_context();
void set_current_context(ScriptContext* context);

// Reading argument words. A word outside script memory reads as 0, so a stray stack pointer
// gives the built-in harmless zeros instead of touching host memory.
inline std::uint32_t argument_word(Address arguments, int i) {
  std::uint32_t word = 0;
  load(arguments + 4u * static_cast<std::uint32_t>(i), word);
  return word;
}
inline std::int32_t argument_int(Address arguments, int i) {
  return static_cast<std::int32_t>(argument_word(arguments, i));
}
inline float argument_float(Address arguments, int i) {
  std::uint32_t word = argument_word(arguments, i);
  float f;
  std::memcpy(&f, &word, 4);
  return f;
}
inline std::uint32_t float_result(float f) {
  std::uint32_t word;
  std::memcpy(&word, &f, 4);
  return word;
}

}  // namespace talven::vm
