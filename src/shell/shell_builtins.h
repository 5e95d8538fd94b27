// The shell's built-ins: configuration files, debug output and timing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "vm/call_gate.h"
#include "vm/script_memory.h"

namespace talven::shell {

// The shell's span of built-ins; and every module's, assembled into the table the gate uses.
vm::BuiltinSpan builtins();
// Installs the table of all modules' built-ins. Empty on success, else what is wrong with it.
std::string install_all_builtins();

std::uint32_t bi_ini_seti(vm::Address arguments);
std::uint32_t bi_ini_sets(vm::Address arguments);
std::uint32_t bi_ini_geti(vm::Address arguments);
std::uint32_t bi_ini_gets(vm::Address arguments);

// The formatted text of log_out is cut to this buffer, terminator included.
inline constexpr std::size_t kLogOutBufferSize = 4096;
std::uint32_t bi_log_clear(vm::Address arguments);
std::uint32_t bi_log_out(vm::Address arguments);

std::uint32_t bi_getcount(vm::Address arguments);
std::uint32_t bi_setcount(vm::Address arguments);
std::uint32_t bi_gettime(vm::Address arguments);
std::uint32_t bi_fps(vm::Address arguments);

std::uint32_t bi_getsystem(vm::Address arguments);
std::uint32_t bi_setsystem(vm::Address arguments);

}  // namespace talven::shell
