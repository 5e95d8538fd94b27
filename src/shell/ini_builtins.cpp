// ini_seti, ini_sets, ini_geti, ini_gets: INI files for scripts, the configuration file by default.
#include <optional>
#include <string>

#include "shell/configuration.h"
#include "shell/ini_file.h"
#include "shell/shell_builtins.h"
#include "platform/sjis.h"
#include "vm/call_gate.h"

namespace talven::shell {
namespace {

std::optional<std::string_view> string_argument(vm::Address arguments, int i) {
  return vm::load_string(vm::argument_word(arguments, i));
}

// File 0 is the engine's own configuration file.
std::optional<std::string> file_argument(vm::Address arguments, int i) {
  vm::Address file = vm::argument_word(arguments, i);
  if (file == 0) return config().config_path;
  std::optional<std::string_view> name = vm::load_string(file);
  if (!name) return std::nullopt;
  return std::string(*name);
}

}  // namespace

std::uint32_t bi_ini_seti(vm::Address arguments) {
  auto section = string_argument(arguments, 0);
  auto key = string_argument(arguments, 1);
  auto file = file_argument(arguments, 3);
  if (!section || !key || !file) return 0;
  return ini_write_int(*file, *section, *key, vm::argument_int(arguments, 2)) ? 1 : 0;
}

// As the profile writer: a null text deletes the key, a null key deletes the whole section.
std::uint32_t bi_ini_sets(vm::Address arguments) {
  auto section = string_argument(arguments, 0);
  auto file = file_argument(arguments, 3);
  if (!section || !file) return 0;
  if (vm::argument_word(arguments, 1) == 0) return ini_delete(*file, *section, std::nullopt) ? 1 : 0;
  auto key = string_argument(arguments, 1);
  if (!key) return 0;
  if (vm::argument_word(arguments, 2) == 0) return ini_delete(*file, *section, *key) ? 1 : 0;
  auto text = string_argument(arguments, 2);
  if (!text) return 0;
  return ini_write_string(*file, *section, *key, *text) ? 1 : 0;
}

std::uint32_t bi_ini_geti(vm::Address arguments) {
  std::int32_t fallback = vm::argument_int(arguments, 2);
  auto section = string_argument(arguments, 0);
  auto key = string_argument(arguments, 1);
  auto file = file_argument(arguments, 3);
  if (!section || !key || !file) return static_cast<std::uint32_t>(fallback);
  return static_cast<std::uint32_t>(ini_read_int(*file, *section, *key, fallback));
}

std::uint32_t bi_ini_gets(vm::Address arguments) {
  vm::Address buffer = vm::argument_word(arguments, 3);
  std::int32_t size = vm::argument_int(arguments, 4);
  if (size < 1) return 0;

  auto section = string_argument(arguments, 0);
  auto key = string_argument(arguments, 1);
  auto file = file_argument(arguments, 5);
  std::optional<std::string> value;
  if (section && key && file) value = ini_read_string(*file, *section, *key);
  if (!value) {
    // The default loses its trailing blanks, as the profile reader's default does.
    std::string_view fallback = string_argument(arguments, 2).value_or("");
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) fallback.remove_suffix(1);
    value = std::string(fallback);
  }
  // Cut to the buffer, never between the two bytes of a double-byte character.
  std::size_t length = platform::sjis_safe_length(value->c_str(), static_cast<std::size_t>(size) - 1);
  if (!vm::store_string(buffer, std::string_view(*value).substr(0, length), static_cast<std::uint32_t>(length) + 1))
    return 0;
  return static_cast<std::uint32_t>(length);
}

}  // namespace talven::shell
