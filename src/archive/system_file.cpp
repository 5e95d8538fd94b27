// sysfile and sysio: one file bound to a block of script memory, for save data and settings.
#include <mutex>
#include <string>

#include "archive/file_builtins.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "vm/call_gate.h"

namespace talven::archive {
namespace {

struct Binding {
  bool bound = false;
  std::string name;  // cp932 game path, resolved at each use like any relative name
  vm::Address block = 0;
  std::uint32_t size = 0;
};

std::mutex g_mutex;
Binding g_binding;

// Reads the file into the block; a shorter file fills what it has. False when it cannot be opened.
bool load_binding(const Binding& b) {
  std::uint8_t* block = vm::checked_pointer(b.block, b.size);
  if (block == nullptr) return false;
  platform::HostFile file = platform::open_for_reading(platform::resolve_game_path(b.name));
  if (!file.is_open()) return false;
  std::size_t got = 0;
  file.read(block, b.size, &got);
  return true;
}

// Writes the block as the file's whole new contents. The old file is replaced only once the new
// one is complete, so a failed save never destroys the previous save data.
bool save_binding(const Binding& b) {
  const std::uint8_t* block = vm::checked_pointer(b.block, b.size);
  if (block == nullptr) return false;
  return platform::replace_file_atomically(platform::resolve_game_path(b.name),
                                           std::string_view(reinterpret_cast<const char*>(block), b.size));
}

}  // namespace

std::uint32_t bi_sysfile(vm::Address arguments) {
  vm::Address name_address = vm::argument_word(arguments, 0);
  vm::Address block = vm::argument_word(arguments, 1);
  std::uint32_t size = vm::argument_word(arguments, 2);
  if (name_address == 0 || block == 0 || size == 0) return 0;
  // A name that is too long, or a block that does not lie in script memory, is refused and the
  // earlier binding stays.
  auto name = vm::load_string(name_address, kSystemFileNameLimit);
  if (!name || name->empty() || !vm::usable_range(block, size)) return 0;

  std::lock_guard lock(g_mutex);
  g_binding = {true, std::string(*name), block, size};
  return load_binding(g_binding) ? 1 : 0;
}

std::uint32_t bi_sysio(vm::Address arguments) {
  bool save = vm::argument_word(arguments, 0) != 0;
  std::lock_guard lock(g_mutex);
  if (!g_binding.bound) return 0;
  return (save ? save_binding(g_binding) : load_binding(g_binding)) ? 1 : 0;
}

bool write_system_file_at_shutdown() {
  std::lock_guard lock(g_mutex);
  if (!g_binding.bound) return false;
  bool written = save_binding(g_binding);
  g_binding = Binding();
  return written;
}

void clear_system_file_binding() {
  std::lock_guard lock(g_mutex);
  g_binding = Binding();
}

}  // namespace talven::archive
