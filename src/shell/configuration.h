// The engine's settings: one table of keys read at start-up from a chain of INI files.
//
// Values are process-wide and read-only after loading, except the window state (which follows
// the window and is written back at exit) and GlobalFocus/GlobalSound (which setsystem changes).
// Strings are cp932.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talven::shell {

struct Configuration {
  // [General]
  std::string company;
  std::string product;
  std::int32_t inheritance = 1;
  std::int32_t debug_mode = 0;
  std::int32_t error = 1;
  std::int32_t multi_instance = 0;
  std::string title;
  std::int32_t file_system = 1;
  // [Window]
  std::int32_t resize = 0;
  std::int32_t restore_bounds = 1;
  std::int32_t window_left = 0;
  std::int32_t window_top = 0;
  std::int32_t window_width = 0;
  std::int32_t window_height = 0;
  // [Screen]
  std::int32_t width = 1280;
  std::int32_t height = 720;
  std::int32_t depth = 24;
  std::int32_t full_screen = 0;
  std::int32_t fixed_aspect_ratio = 1;
  std::int32_t smoothing = 1;
  // [System]
  std::int32_t multi_threading = 1;
  std::int32_t direct3d = 1;
  std::int32_t direct_sound = 1;
  std::int32_t direct_music = 0;
  std::int32_t direct_input = 0;
  std::int32_t net = 0;
  // [Drive]
  std::int32_t cd = 0;
  std::string cd_rom;
  std::string cd_dir;
  // [Option]
  std::int32_t global_focus = 1;
  std::int32_t global_sound = 1;
  std::int32_t confirmation = 1;
  // [Script]
  std::string load;
  std::int32_t program_size = 0;
  std::int32_t stack_size = 262144;
  std::int32_t heap_size = 8388608;
  // [Talven]: where this host keeps what the game's Windows machine had built in.
  std::string soundfont;  // the General MIDI SoundFont; empty: the system's
  std::string cd_folder;  // the game path of the CD's audio tracks; empty: cd

  // Paths derived while loading (cp932, `\` as separator as the game wrote them).
  std::string exe_dir;      // the game's folder, with its trailing separator (may be empty)
  std::string exe_base;     // the game's name
  std::string config_path;  // the file written back at exit and the ini built-ins' default
  std::string script_dir;   // entry script's directory, with trailing `\`, or empty
  std::string script_name;  // entry script's file name
};

// The process-wide configuration. Holds the defaults until load_configuration runs.
Configuration& config();

// Sets every key to its default, reads the chain of files, sets the configuration path and
// derives the entry script's directory and name.
void load_configuration(std::string_view exe_dir, std::string_view exe_base);

// Overrides one key after loading, as the command line's --set does ("Section.Key=value"). The
// value goes through the same rules as a value read from a file (an empty integer value keeps the
// current one) and the entry script is derived again. The chain of files is not read again, so
// Inheritance, Company and Product do not move the configuration path.
// Returns false when the key does not exist.
bool override_key(std::string_view section, std::string_view key, std::string_view value);

// Writes FullScreen and the window bounds to the configuration path in one replacement of the
// file. False when the file could not be written (it is then left as it was).
bool save_window_state();

// Any key's value by section and key name (names compared without regard to case).
std::optional<std::int32_t> config_int(std::string_view section, std::string_view key);
std::optional<std::string> config_string(std::string_view section, std::string_view key);

}  // namespace talven::shell
