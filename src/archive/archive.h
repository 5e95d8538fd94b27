// Data files: archives, packed files and the script's file built-ins.
// What the other modules and the shell may use of this module.
#pragma once
#include "vm/call_gate.h"

namespace talven::archive {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

}  // namespace talven::archive
