#include "shell/configuration.h"

#include <string>

#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/text_encoding.h"
#include "platform/user_folders.h"
#include "shell/ini_file.h"
#include "platform/sjis.h"

namespace talven::shell {
namespace {

enum class KeyType { integer, text };

// One configuration key. String keys were held in fixed buffers of `buffer_size` bytes, so their
// values keep at most buffer_size - 1 bytes.
struct KeyRecord {
  const char* section;
  const char* key;
  KeyType type;
  std::int32_t int_default;
  const char* text_default;
  std::size_t buffer_size;
  std::int32_t Configuration::*int_field;
  std::string Configuration::*text_field;
};

constexpr KeyRecord int_key(const char* section, const char* key, std::int32_t fallback,
                            std::int32_t Configuration::*field) {
  return {section, key, KeyType::integer, fallback, nullptr, 0, field, nullptr};
}

constexpr KeyRecord text_key(const char* section, const char* key, std::size_t buffer_size,
                             std::string Configuration::*field) {
  return {section, key, KeyType::text, 0, "", buffer_size, nullptr, field};
}

// Every key, in the order each file is read.
const KeyRecord kKeys[] = {
    text_key("General", "Company", 260, &Configuration::company),
    text_key("General", "Product", 260, &Configuration::product),
    int_key("General", "Inheritance", 1, &Configuration::inheritance),
    int_key("General", "DebugMode", 0, &Configuration::debug_mode),
    int_key("General", "Error", 1, &Configuration::error),
    int_key("General", "MultiInstance", 0, &Configuration::multi_instance),
    text_key("General", "Title", 256, &Configuration::title),
    int_key("General", "FileSystem", 1, &Configuration::file_system),
    int_key("Window", "Resize", 0, &Configuration::resize),
    int_key("Window", "RestoreBounds", 1, &Configuration::restore_bounds),
    int_key("Window", "WindowLeft", 0, &Configuration::window_left),
    int_key("Window", "WindowTop", 0, &Configuration::window_top),
    int_key("Window", "WindowWidth", 0, &Configuration::window_width),
    int_key("Window", "WindowHeight", 0, &Configuration::window_height),
    int_key("Screen", "Width", 1280, &Configuration::width),
    int_key("Screen", "Height", 720, &Configuration::height),
    int_key("Screen", "Depth", 24, &Configuration::depth),
    int_key("Screen", "FullScreen", 0, &Configuration::full_screen),
    int_key("Screen", "FixedAspectRatio", 1, &Configuration::fixed_aspect_ratio),
    int_key("Screen", "Smoothing", 1, &Configuration::smoothing),
    int_key("System", "MultiThreading", 1, &Configuration::multi_threading),
    int_key("System", "Direct3D", 1, &Configuration::direct3d),
    int_key("System", "DirectSound", 1, &Configuration::direct_sound),
    int_key("System", "DirectMusic", 0, &Configuration::direct_music),
    int_key("System", "DirectInput", 0, &Configuration::direct_input),
    int_key("System", "Net", 0, &Configuration::net),
    int_key("Drive", "CD", 0, &Configuration::cd),
    text_key("Drive", "CD-ROM", 256, &Configuration::cd_rom),
    text_key("Drive", "CD-DIR", 256, &Configuration::cd_dir),
    int_key("Option", "GlobalFocus", 1, &Configuration::global_focus),
    int_key("Option", "GlobalSound", 1, &Configuration::global_sound),
    int_key("Option", "Confirmation", 1, &Configuration::confirmation),
    text_key("Script", "Load", 260, &Configuration::load),
    int_key("Script", "ProgramSize", 0, &Configuration::program_size),
    int_key("Script", "StackSize", 262144, &Configuration::stack_size),
    int_key("Script", "HeapSize", 8388608, &Configuration::heap_size),
    // This engine's own: where the host keeps what a Windows machine had built in.
    text_key("Talven", "SoundFont", 1024, &Configuration::soundfont),
    text_key("Talven", "CDFolder", 1024, &Configuration::cd_folder),
};

bool same_ascii_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const KeyRecord* find_key(std::string_view section, std::string_view key) {
  for (const KeyRecord& record : kKeys)
    if (same_ascii_name(record.section, section) && same_ascii_name(record.key, key)) return &record;
  return nullptr;
}

void set_defaults(Configuration& c) {
  for (const KeyRecord& record : kKeys) {
    if (record.type == KeyType::integer)
      c.*record.int_field = record.int_default;
    else
      c.*record.text_field = record.text_default;
  }
}

Configuration make_default_configuration() {
  Configuration c;
  set_defaults(c);
  return c;
}

// Stores a value as read from a file: an empty integer value keeps the current one (the profile
// reader gives the default it was handed), text is cut to its buffer without splitting a character.
void assign(Configuration& c, const KeyRecord& record, std::string_view value) {
  if (record.type == KeyType::integer) {
    if (!value.empty()) c.*record.int_field = ini_to_int(value);
    return;
  }
  std::string text(value);
  text.resize(platform::sjis_safe_length(text.c_str(), record.buffer_size - 1));
  c.*record.text_field = std::move(text);
}

// Reads every key the file names; a missing file changes nothing.
void read_file(Configuration& c, const std::string& game_path) {
  std::optional<std::string> text = ini_read_file(game_path);
  if (!text) return;
  for (const KeyRecord& record : kKeys)
    if (std::optional<std::string> value = ini_find(*text, record.section, record.key)) assign(c, record, *value);
}

// Position of the last `\` that is a character of its own (not the trail byte of a double-byte
// character such as 0x83 0x5C), or npos.
std::size_t last_backslash(std::string_view s) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') found = i;
    if (platform::is_sjis_lead(static_cast<unsigned char>(s[i]))) ++i;
  }
  return found;
}

bool ends_in_separator(std::string_view s) {
  if (s.empty()) return false;
  std::size_t last_char = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    last_char = i;
    if (platform::is_sjis_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ++i;
  }
  return last_char == s.size() - 1 && (s.back() == '\\' || s.back() == '/');
}

void normalise(Configuration& c) {
  if ((c.file_system & 3) == 0) c.file_system = 3;
  if (!c.cd_dir.empty() && !ends_in_separator(c.cd_dir)) c.cd_dir += '\\';
}

void derive_entry_script(Configuration& c) {
  if (c.load.empty()) {
    c.script_dir = c.exe_base + "\\";
    c.script_name = "main.c";
    return;
  }
  std::size_t slash = last_backslash(c.load);
  if (slash == std::string::npos) {
    c.script_dir.clear();
    c.script_name = c.load;
  } else {
    c.script_dir = c.load.substr(0, slash + 1);
    c.script_name = c.load.substr(slash + 1);
  }
}

bool ensure_directory(const std::string& game_path) {
  std::string host = platform::resolve_game_path(game_path);
  return platform::is_directory(host) || platform::make_directory(host);
}

// The documents folder in the engine's cp932 form; nothing when it has no such form: a name with
// characters outside cp932, or with a `\` (a separator to the engine), would name a different
// folder once converted back.
std::optional<std::string> documents_folder_cp932() {
  std::optional<std::string> documents = platform::documents_folder();
  if (!documents || documents->find('\\') != std::string::npos) return std::nullopt;
  std::string cp932 = platform::utf8_to_cp932(*documents);
  if (platform::cp932_to_utf8(cp932) != *documents) return std::nullopt;
  return cp932;
}

}  // namespace

Configuration& config() {
  static Configuration configuration = make_default_configuration();
  return configuration;
}

void load_configuration(std::string_view exe_dir, std::string_view exe_base) {
  Configuration& c = config();
  c = make_default_configuration();
  c.exe_dir = exe_dir;
  c.exe_base = exe_base;

  c.config_path = c.exe_dir + c.exe_base + ".cfg";
  read_file(c, c.config_path);
  if (c.inheritance != 0) {
    c.config_path = c.exe_dir + "configure.cfg";
    read_file(c, c.config_path);
    if (c.inheritance != 0 && !c.company.empty() && !c.product.empty()) {
      if (std::optional<std::string> documents = documents_folder_cp932()) {
        std::string folder = *documents + "\\" + c.company;
        if (ensure_directory(folder)) {
          folder += "\\" + c.product;
          if (ensure_directory(folder)) {
            c.config_path = folder + "\\configure.cfg";
            read_file(c, c.config_path);
          }
        }
      }
    }
  }
  normalise(c);
  derive_entry_script(c);
}

bool override_key(std::string_view section, std::string_view key, std::string_view value) {
  const KeyRecord* record = find_key(section, key);
  if (record == nullptr) return false;
  Configuration& c = config();
  assign(c, *record, value);
  normalise(c);
  derive_entry_script(c);
  return true;
}

bool save_window_state() {
  const Configuration& c = config();
  bool keep_bounds = c.restore_bounds != 0;
  auto bound = [&](std::int32_t value) { return std::to_string(keep_bounds ? value : 0); };
  return ini_write_values(c.config_path, {
                                             {"Screen", "FullScreen", c.full_screen != 0 ? "1" : "0"},
                                             {"Window", "WindowLeft", bound(c.window_left)},
                                             {"Window", "WindowTop", bound(c.window_top)},
                                             {"Window", "WindowWidth", bound(c.window_width)},
                                             {"Window", "WindowHeight", bound(c.window_height)},
                                         });
}

std::optional<std::int32_t> config_int(std::string_view section, std::string_view key) {
  const KeyRecord* record = find_key(section, key);
  if (record == nullptr || record->type != KeyType::integer) return std::nullopt;
  return config().*record->int_field;
}

std::optional<std::string> config_string(std::string_view section, std::string_view key) {
  const KeyRecord* record = find_key(section, key);
  if (record == nullptr || record->type != KeyType::text) return std::nullopt;
  return config().*record->text_field;
}

}  // namespace talven::shell
