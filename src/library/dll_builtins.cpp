// Native libraries: dll_load, dll_unload, dll_proc and dll_call through the system loader and
// libffi.
//
// Every argument of dll_call is one 32-bit word passed as a 32-bit integer parameter, and the
// result is the callee's 32-bit integer. Pointer arguments are script addresses: a library turns
// them into host pointers with talven_host_pointer (sdk/include/talven_native.h), which checks
// the range. Function handles from dll_proc are entries of a table, so a script can only ever call
// a function that a loaded library really exports; a handle whose library was unloaded is dead.
#include <ffi.h>

#include <array>
#include <vector>

#include "library/library_builtins.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/host_system.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "vm/call_gate.h"
#include "vm/opcodes.h"

extern "C" __attribute__((visibility("default"))) void* talven_host_pointer(std::uint32_t address, std::uint32_t size) {
  return talven::vm::checked_pointer(address, size == 0 ? 1 : size);
}

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

constexpr int kLibrarySlots = 256;
constexpr std::size_t kMaxFunctions = 65536;
constexpr std::int32_t kMaxCallArguments = 64;

std::array<void*, kLibrarySlots> g_libraries{};

struct Function {
  void* address;
  int slot;
};
std::vector<Function> g_functions;  // handle = index + 1

// The argument words the caller pushed, read from the marker after the call like the gate does.
std::int32_t pushed_argument_count() {
  vm::ScriptContext* context = vm::current_context();
  if (context == nullptr) return 0;
  std::uint32_t return_address = 0;
  std::uint16_t marker = 0;
  std::int32_t bytes = 0;
  if (!vm::load(context->r[vm::kStackPointer], return_address)) return 0;
  if (!vm::load(return_address, marker) || marker != vm::kArgumentMarker) return 0;
  if (!vm::load(return_address + 2, bytes)) return 0;
  return bytes / 4;
}

// A library named by a game path that exists is loaded from there; any other name goes to the
// system's search (a library installed on the system).
std::string library_location(std::string_view name) {
  std::string host = platform::resolve_game_path(name);
  if (platform::is_regular_file(host)) return platform::absolute_path(host);
  return platform::cp932_to_utf8(name);
}

}  // namespace

std::uint32_t bi_dll_load(Address arguments) {
  Address a = argument_word(arguments, 0);
  auto name = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!name || name->empty()) return static_cast<std::uint32_t>(-1);
  for (int slot = 0; slot < kLibrarySlots; ++slot) {
    if (g_libraries[slot] != nullptr) continue;
    void* library = platform::library_open(library_location(*name));
    if (library == nullptr) return static_cast<std::uint32_t>(-1);
    g_libraries[slot] = library;
    return static_cast<std::uint32_t>(slot);
  }
  return static_cast<std::uint32_t>(-1);
}

std::uint32_t bi_dll_unload(Address arguments) {
  std::uint32_t slot = argument_word(arguments, 0);
  if (slot >= kLibrarySlots || g_libraries[slot] == nullptr) return 0;
  platform::library_close(g_libraries[slot]);
  g_libraries[slot] = nullptr;
  for (Function& f : g_functions)
    if (f.slot == static_cast<int>(slot)) f.address = nullptr;
  return 1;
}

std::uint32_t bi_dll_proc(Address arguments) {
  std::uint32_t slot = argument_word(arguments, 0);
  Address a = argument_word(arguments, 1);
  if (slot >= kLibrarySlots || g_libraries[slot] == nullptr || a == 0) return 0;
  auto name = vm::load_string(a);
  if (!name) return 0;
  void* address = platform::library_symbol(g_libraries[slot], std::string(*name));
  if (address == nullptr) return 0;
  for (std::size_t i = 0; i < g_functions.size(); ++i)
    if (g_functions[i].address == address && g_functions[i].slot == static_cast<int>(slot)) return static_cast<std::uint32_t>(i + 1);
  for (std::size_t i = 0; i < g_functions.size(); ++i) {
    if (g_functions[i].address == nullptr) {
      g_functions[i] = Function{address, static_cast<int>(slot)};
      return static_cast<std::uint32_t>(i + 1);
    }
  }
  if (g_functions.size() >= kMaxFunctions) return 0;
  g_functions.push_back(Function{address, static_cast<int>(slot)});
  return static_cast<std::uint32_t>(g_functions.size());
}

std::uint32_t bi_dll_call(Address arguments) {
  std::uint32_t handle = argument_word(arguments, 0);
  std::int32_t count = pushed_argument_count();
  if (handle == 0 || count < 1 || handle > g_functions.size()) return 0;
  void* function = g_functions[handle - 1].address;
  if (function == nullptr) return 0;
  std::int32_t words = count - 1;
  if (words > kMaxCallArguments) words = kMaxCallArguments;

  std::vector<ffi_type*> types(static_cast<std::size_t>(words), &ffi_type_uint32);
  std::vector<std::uint32_t> values(static_cast<std::size_t>(words));
  std::vector<void*> pointers(static_cast<std::size_t>(words));
  for (std::int32_t i = 0; i < words; ++i) {
    values[static_cast<std::size_t>(i)] = argument_word(arguments, i + 1);
    pointers[static_cast<std::size_t>(i)] = &values[static_cast<std::size_t>(i)];
  }
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(words), &ffi_type_sint32, types.data()) != FFI_OK) return 0;
  ffi_arg result = 0;
  ffi_call(&cif, FFI_FN(function), &result, pointers.data());
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(result));
}

void reset_native_libraries() {
  for (void*& library : g_libraries)
    if (library != nullptr) platform::library_close(library), library = nullptr;
  g_functions.clear();
}

}  // namespace talven::library
