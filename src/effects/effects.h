// Image effects: filters, effect engines and software 3D (not built yet).
// What the other modules and the shell may use of this module.
#pragma once
#include "vm/call_gate.h"

namespace talven::effects {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

}  // namespace talven::effects
