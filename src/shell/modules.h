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
};

// In start order.
std::span<const Module> modules();

}  // namespace talven::shell
