// The application: start-up, the window thread's loop, calls marshalled to it, and shutdown.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace talven::shell {

// Request numbers keep the window-message numbers of the engine's marshalled calls.
inline constexpr std::uint32_t kCloseRequest = 0x0010;  // WM_CLOSE
inline constexpr std::uint32_t kUserMessage = 0x0400;   // WM_USER
inline constexpr std::uint32_t kStartEntryScript = kUserMessage + 1;
inline constexpr std::uint32_t kFullScreenRequest = kUserMessage + 200;
inline constexpr std::uint32_t kEngineStateRequest = kUserMessage + 210;

struct RunOptions {
  std::string game;  // folder, or the game's .exe/.cfg; empty: the bundled demo
  bool headless = false;
  std::string log_file;    // "-" for stdout
  std::string screenshot;  // PNG written at exit
  long long exit_after_ms = -1;
  bool listing = false;
  std::vector<std::pair<std::string, std::string>> overrides;  // "Section.Key", value
};

// Runs a game to its end. Returns the process exit status: 0 after a normal close or `exit`, 1
// when no script could be started, 2 when scripts were stopped by a runtime error.
int run_application(const RunOptions& options);

// The game folder (host path) and name that a GAME argument names: a folder is the game itself; a
// path to the game's executable or .cfg file names its folder and base name. False when neither.
bool locate_game(const std::string& argument, std::string& folder, std::string& name);

// ---- Calls marshalled to the window thread ----------------------------------------------------
using RequestHandler = std::uint32_t (*)(std::uint32_t wparam, std::uint32_t lparam);
void set_request_handler(std::uint32_t message, RequestHandler handler);
// Runs the request on the window thread and returns its result; blocks until then. Called on the
// window thread itself, it runs at once. Returns 0 when the window thread no longer serves.
std::uint32_t send_request(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);
// Queues the request and returns at once.
void post_request(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);
// Serves every queued request (the window thread's part of waiting for script threads).
void process_pending_requests();

// Window state that other subsystems read.
bool input_enabled();
bool full_screen();
// Switches between full screen and the window (the window thread does it). Returns 1 on success.
std::uint32_t switch_full_screen(bool on);

}  // namespace talven::shell
