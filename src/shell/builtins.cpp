// The built-ins of this module, by table index. Configuration files, timing, system values and debug output.
// Entries whose handler is nullptr are not built yet; the gate tells the user so when a script
// calls one.
#include "shell/shell_builtins.h"

#include <vector>

#include "shell/modules.h"


namespace talven::shell {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Configuration files
    {10, "ini_seti", 4, 1, bi_ini_seti},
    {11, "ini_sets", 4, 1, bi_ini_sets},
    {12, "ini_geti", 4, 1, bi_ini_geti},
    {13, "ini_gets", 6, 1, bi_ini_gets},
    // Timing
    {159, "getcount", 1, 1, bi_getcount},
    {160, "setcount", 2, 1, bi_setcount},
    {161, "gettime", 1, 1, bi_gettime},
    {162, "fps", 0, 1, bi_fps},
    // System values
    {280, "getsystem", 1, 1, bi_getsystem},
    {281, "setsystem", 2, 1, bi_setsystem},
    // Debug output
    {325, "log_clear", 0, 1, bi_log_clear},
    {326, "log_out", -1, 1, bi_log_out},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

std::string install_all_builtins() {
  std::vector<vm::BuiltinSpan> spans;
  for (const Module& module : modules()) spans.push_back(module.builtins());
  return vm::install_builtins(spans);
}

}  // namespace talven::shell
