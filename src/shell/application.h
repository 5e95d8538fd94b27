// The application: start-up, the window thread's loop, calls marshalled to it, and shutdown.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vm/requests.h"

namespace talven::shell {

// The window thread's own requests (vm/requests.h), by their window-message numbers.
inline constexpr std::uint32_t kStartEntryScript = vm::kUserMessage + 1;
inline constexpr std::uint32_t kFullScreenRequest = vm::kUserMessage + 200;
inline constexpr std::uint32_t kEngineStateRequest = vm::kUserMessage + 210;

struct RunOptions {
  std::string game;  // folder, or the game's .exe/.cfg; empty: the bundled demo
  bool headless = false;
  std::string log_file;    // "-" for stdout
  std::string screenshot;  // PNG written at exit
  long long exit_after_ms = -1;
  std::string input_file;         // input events replayed into the run
  std::string input_record_file;  // the run's input written here
  std::string audio_out;          // the sound output also written here (WAV)
  bool listing = false;
  std::vector<std::pair<std::string, std::string>> overrides;  // "Section.Key", value
};

// Runs a game to its end. Returns the process exit status: 0 after a normal close or `exit`, 1
// when no script could be started or the window could not be created, 2 when scripts were stopped by a runtime error.
int run_application(const RunOptions& options);

// The game folder (host path) and name that a GAME argument names: a folder is the game itself; a
// path to the game's executable or .cfg file names its folder and base name. False when neither.
bool locate_game(const std::string& argument, std::string& folder, std::string& name);

// Window state that other subsystems read.
bool full_screen();
// Switches between full screen and the window (the window thread does it). Returns 1 on success.
std::uint32_t switch_full_screen(bool on);

}  // namespace talven::shell
