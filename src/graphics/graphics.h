// Pictures: planes, blits, palettes, image files, pages and presentation.
// What the other modules and the shell may use of this module.
#pragma once
#include "vm/call_gate.h"

namespace talven::graphics {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

}  // namespace talven::graphics
