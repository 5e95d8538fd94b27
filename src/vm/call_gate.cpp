#include "vm/call_gate.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <unordered_set>

#include "vm/report.h"
#include "vm/interpreter.h"
#include "vm/opcodes.h"
#include "vm/source_map.h"

namespace talven::vm {
namespace {

// Call sites (the return address of the script's call) that have named a bad argument already. Only the gate
// touches it, under the built-in lock; a new runtime starts with it empty.
std::unordered_set<Address> g_sites_that_named_a_bad_argument;


std::mutex g_builtin_lock;
VmSettings g_settings;
BuiltinEntry g_table[kBuiltinCount];
thread_local ScriptContext* t_current_context = nullptr;

// Stops the calling program after reporting `message` (the call gate's own checks).
void stop(ScriptContext& context, const char* message) {
  // The script's call of the built-in: the stub's return address, less one byte to land inside
  // the call instruction.
  std::uint32_t return_address = 0;
  load(context.r[kStackPointer], return_address);
  notify_fault({message, context.slot, return_address - 1});
  vm::report(1, "%s", message);
  context.state = kStopped;
  g_script_faults.fetch_add(1);
  g_stop_flag.store(1, std::memory_order_relaxed);
}

// The number of argument words the caller pushed, read from the `add r7, $4n` that follows the
// call; no marker means no arguments.
std::int32_t pushed_argument_count(const ScriptContext& context) {
  std::uint32_t return_address = 0;
  std::uint16_t marker = 0;
  std::int32_t bytes = 0;
  if (!load(context.r[kStackPointer], return_address)) return 0;
  if (!load(return_address, marker) || marker != kArgumentMarker) return 0;
  if (!load(return_address + 2, bytes)) return 0;
  return bytes / 4;
}

}  // namespace

std::string install_builtins(std::span<const BuiltinSpan> spans) {
  BuiltinEntry table[kBuiltinCount] = {};
  bool given[kBuiltinCount] = {};
  for (BuiltinSpan span : spans) {
    for (const BuiltinEntry& entry : span) {
      if (entry.index >= kBuiltinCount) return "built-in index " + std::to_string(entry.index) + " is beyond the table";
      if (given[entry.index])
        return "built-in index " + std::to_string(entry.index) + " is given twice (" + table[entry.index].name + ", " +
               entry.name + ")";
      given[entry.index] = true;
      table[entry.index] = entry;
    }
  }
  for (std::uint32_t i = 0; i < kBuiltinCount; ++i)
    if (!given[i]) return "built-in index " + std::to_string(i) + " is missing";
  std::copy(std::begin(table), std::end(table), std::begin(g_table));
  return {};
}

const BuiltinEntry& builtin_entry(std::uint32_t index) { return g_table[index]; }

void set_vm_settings(const VmSettings& settings) {
  std::lock_guard lock(g_builtin_lock);
  g_settings = settings;
  g_sites_that_named_a_bad_argument.clear();
}
void reset_vm_state() {
  set_vm_settings(VmSettings());
  forget_all_source_maps();
}

const VmSettings& vm_settings() { return g_settings; }

std::mutex& builtin_lock() { return g_builtin_lock; }
ScriptContext* current_context() { return t_current_context; }
void set_current_context(ScriptContext* context) { t_current_context = context; }

namespace {

// The argument that carried a refused address: the one equal to it, else the nearest one below it
// within 64 KiB (a field of a record the argument points to). Nothing when the address came from
// elsewhere (a pointer read from memory).
int argument_carrying(Address refused, Address arguments, int count) {
  int nearest = 0;
  Address nearest_distance = 0x10000;
  for (int i = 0; i < count; ++i) {
    const Address word = argument_word(arguments, i);
    if (word == refused) return i + 1;
    if (refused > word && refused - word < nearest_distance) {
      nearest_distance = refused - word;
      nearest = i + 1;
    }
  }
  return nearest;
}

void name_bad_argument(const BuiltinEntry& builtin, Address site, Address arguments, int count, Address refused) {
  const int argument = argument_carrying(refused, arguments, count);
  if (argument == 0 || !g_sites_that_named_a_bad_argument.insert(site).second) return;
  vm::report(1, "bad argument %d to %s", argument, builtin.name != nullptr ? builtin.name : "?");
}

}  // namespace

int gate(std::uint32_t index, ScriptContext& context) {
  char message[96];
  if (index >= kBuiltinCount) {
    std::snprintf(message, sizeof message, "Illegal code - #%d", static_cast<int>(index));
    stop(context, message);
    return 1;
  }
  const BuiltinEntry& builtin = g_table[index];
  const char* name = builtin.name != nullptr ? builtin.name : "(no table installed)";
  if (g_settings.debug_mode && builtin.argument_count != -1) {
    std::int32_t pushed = pushed_argument_count(context);
    if (builtin.argument_count != pushed) {
      std::snprintf(message, sizeof message,
                    builtin.argument_count > pushed ? "Not enough arguments. - %s" : "Too many arguments. - %s",
                    name);
      stop(context, message);
      return 1;
    }
  }

  std::lock_guard lock(g_builtin_lock);
  t_current_context = &context;
  std::uint32_t result = 0;
  if (builtin.handler != nullptr) {
    const Address arguments = context.r[kStackPointer] + 4;
    if (!g_settings.debug_mode) {
      result = builtin.handler(arguments);
    } else {
      // Taken before the call: a handler may end or replace the calling context.
      // The script's call site is the return address of its call to the built-in's stub.
      const Address site = argument_word(context.r[kStackPointer], 0);
      const int count = builtin.argument_count >= 0 ? builtin.argument_count : pushed_argument_count(context);
      watch_refused_addresses(true);
      result = builtin.handler(arguments);
      if (std::optional<Address> refused = first_refused_address()) name_bad_argument(builtin, site, arguments, count, *refused);
      watch_refused_addresses(false);
    }
  } else {
    vm::report(1, "%s : not available yet in this version of Talven", name);
  }
  if (t_current_context != nullptr) t_current_context->r[0] = result;
  t_current_context = nullptr;
  return static_cast<int>(builtin.yield);
}

}  // namespace talven::vm
