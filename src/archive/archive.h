// Data files: archives, packed files and the script's file built-ins.
// What the other modules and the shell may use of this module.
#pragma once
#include "vm/call_gate.h"

namespace talven::archive {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

// Returns the module's process-wide state to a fresh process's: pack slots and streams closed, no
// system file bound, no data drive, the default file system. For tests between cases; one engine
// runs per process.
void reset_archive_state();

}  // namespace talven::archive
