// The script library: strings, memory, math, regular expressions, files and folders, programs, native libraries, clipboard and checksums.
// What the other modules and the shell may use of this module.
#pragma once
#include "vm/call_gate.h"

namespace talven::library {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

// Returns the module's process-wide state to a fresh process's: native libraries unloaded, regular
// expressions and searches freed, the random generator unseeded, noise settings back to their
// defaults. For tests between cases; one engine runs per process.
void reset_library_state();

}  // namespace talven::library
