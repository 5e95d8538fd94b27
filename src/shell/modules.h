// The modules the shell composes, as one fixed table: each module's built-ins and its part in the
// runtime's start, stop, pause and resume. Adding a subsystem means adding its record here.
#pragma once
#include <span>

#include "shell/configuration.h"
#include "vm/call_gate.h"

namespace talven::shell {

struct Module {
  const char* name;
  vm::BuiltinSpan (*builtins)();
  // Runs at runtime start, in table order, after the VM runtime is up and before any script runs;
  // the record turns the configuration into the module's own settings. Null: nothing to start.
  void (*start)(const Configuration& configuration);
  // Runs at runtime stop, in reverse table order, after every script thread has stopped.
  void (*stop)();
  // The application lost (or regained) the focus with GlobalFocus 0: devices fall silent and
  // clocks freeze, then carry on where they were.
  void (*pause)();
  void (*resume)();
  // Returns every piece of the module's process-wide state to a fresh process's. Only tests call
  // it, between cases (one engine runs per process); null: the module keeps no such state.
  void (*reset)();
};

// In start order.
std::span<const Module> modules();

// The shell's own part: the configuration, the report listener, the log file and debug lines,
// the timing built-ins and the elapsed clock with its time source.
void reset_shell_state();
// Every module's reset, in reverse start order.
void reset_engine_state();

}  // namespace talven::shell
