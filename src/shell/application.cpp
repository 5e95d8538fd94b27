#include "shell/application.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "archive/data_drive.h"
#include "input/input.h"
#include "input/replay.h"
#include "sound/sound.h"
#include "archive/fast_file.h"
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/debug_window.h"
#include "shell/error_reporter.h"
#include "shell/message_meanings.h"
#include "shell/runtime.h"
#include "shell/window_placement.h"
#include "vm/interpreter.h"
#include "vm/requests.h"
#include "vm/script_threads.h"

namespace talven::shell {
namespace {

// ---- Window state -------------------------------------------------------------------------

struct WindowState {
  bool quit = false;
  bool closing = false;
  bool entry_failed = false;
  bool entry_posted = false;
  std::atomic<bool> full_screen{false};
  int client_width = 0, client_height = 0;
  // The application is active while either of its windows has the focus; a move between them
  // arrives as a loss and a gain in one batch of events, settled after the batch.
  bool frame_focused = false, tool_focused = false;
  bool focus_changed = false;
};
WindowState g_state;

// `exit` closes without asking.
void request_close_from_script() {
  config().confirmation = 0;
  vm::post_request(vm::kCloseRequest, 0, 0);
}

// ---- Application pause (focus loss with GlobalFocus 0) --------------------------------------

void set_active(bool active) {
  auto& cfg = config();
  if (cfg.global_focus == 0 && active != (vm::g_application_active.load() != 0)) {
    if (active) {
      vm::resume_all_threads();
      runtime_resume_devices();
    } else {
      runtime_pause_devices();
      vm::suspend_all_threads();
    }
    vm::g_application_active.store(active ? 1 : 0);
  }
  input::window_activated(active);
  input::set_input_enabled(active);
}

// ---- Close path ---------------------------------------------------------------------------

void shut_down() {
  vm::stop_all_threads();
  runtime_stop();
  close_debug_window();
  platform::display().destroy_frame_window();
  g_state.quit = true;
}

void handle_close() {
  if (g_state.closing) return;
  g_state.closing = true;
  if (config().confirmation != 0) {
    input::set_input_enabled(false);
    int answer = platform::message_boxes().show(platform::cp932_to_utf8(platform::cp932("終了確認")),
                                            "終了しますか？", platform::MessageIcon::question,
                                            {{1, "OK", true, false}, {2, "Cancel", false, true}});
    input::set_input_enabled(true);
    if (answer != 1) {
      g_state.closing = false;
      return;
    }
  }
  shut_down();
}

void start_entry_script() {
  g_state.entry_posted = true;
  const auto& cfg = config();
  // The compiler puts the script directory in front of every source name.
  if (!vm::start_entry_script(cfg.script_name.c_str())) {
    g_state.entry_failed = true;
    // The message box names the file; a new user also needs to know where it was looked for.
    const std::string& missing = unopened_main_source();
    if (!missing.empty())
      std::fprintf(stderr, "talven: the entry script %s could not be opened. %s.\n",
                   platform::cp932_to_utf8(missing).c_str(), archive::describe_lookup(missing.c_str()).c_str());
  }
}

void remember_window_bounds() {
  if (g_state.full_screen) return;
  platform::Rect r = platform::display().window_client_bounds();
  auto& cfg = config();
  cfg.window_left = r.x;
  cfg.window_top = r.y;
  cfg.window_width = r.width;
  cfg.window_height = r.height;
}

std::uint32_t full_screen_request(std::uint32_t on, std::uint32_t);

void settle_focus() {
  if (!g_state.focus_changed) return;
  g_state.focus_changed = false;
  set_active(g_state.frame_focused || g_state.tool_focused);
}

// The session's input as a replay (--input-record), timed from the start of the run.
std::FILE* g_record = nullptr;
std::uint32_t g_run_started = 0;

void record_event(const platform::Event& e) {
  if (g_record == nullptr || e.tool_window) return;
  const std::string line = input::replay_line(platform::tick_count() - g_run_started, e);
  if (line.empty()) return;
  std::fputs(line.c_str(), g_record);
  std::fputc('\n', g_record);
  std::fflush(g_record);
}

void handle_event(const platform::Event& e) {
  using platform::EventType;
  auto& cfg = config();
  record_event(e);
  if (e.type == EventType::focus_gained || e.type == EventType::focus_lost) {
    (e.tool_window ? g_state.tool_focused : g_state.frame_focused) = e.type == EventType::focus_gained;
    g_state.focus_changed = true;
    return;
  }
  if (e.tool_window) {
    debug_window_event(e);
    return;
  }
  switch (e.type) {
    case EventType::close_requested:
    case EventType::quit: handle_close(); break;
    case EventType::moved: remember_window_bounds(); break;
    case EventType::resized: {
      if (g_state.full_screen) break;
      if (cfg.fixed_aspect_ratio != 0 && cfg.resize != 0 && cfg.direct3d != 0) {
        ClientSize fitted = fixed_aspect_size(cfg, e.x, e.y, g_state.client_width, g_state.client_height);
        if (fitted.width != e.x || fitted.height != e.y) platform::display().set_window_client_size(fitted.width, fitted.height);
        g_state.client_width = fitted.width;
        g_state.client_height = fitted.height;
      } else {
        g_state.client_width = e.x;
        g_state.client_height = e.y;
      }
      remember_window_bounds();
      runtime_window_resized();
      break;
    }
    case EventType::maximized:
      // Maximising means full screen, as on the original system.
      full_screen_request(1, 0);
      break;
    case EventType::exposed: runtime_repaint(); break;
    case EventType::render_reset: runtime_window_resized(); break;
    case EventType::key_down:
      if (e.alt && e.virtual_key == 0x0D && !e.repeat) full_screen_request(g_state.full_screen ? 0 : 1, 0);
      if (e.virtual_key == 0x77 && !e.repeat) toggle_debug_window();  // F8
      input::handle_input_event(e);
      break;
    default: input::handle_input_event(e); break;
  }
}

std::uint32_t full_screen_request(std::uint32_t on, std::uint32_t) {
  bool want = on != 0;
  if (want == g_state.full_screen) return 1;
  const Configuration& cfg = config();
  platform::Display& display = platform::display();
  const bool switched = cfg.direct3d == 0 ? display.set_window_fullscreen_mode(want, cfg.width, cfg.height)
                                          : display.set_window_fullscreen(want);
  if (!switched) return 0;
  g_state.full_screen = want;
  runtime_window_resized();
  return 1;
}


std::string utf8_to_game_path(const std::string& utf8) { return platform::utf8_to_cp932(utf8); }

// The disc prompt: Retry scans again, Cancel ends the start. Without a viewer there is nobody to
// insert a disc, so the answer is Cancel.
bool wait_for_data_drive() {
  const auto& cfg = config();
  if (cfg.cd_rom.empty()) return true;
  for (;;) {
    std::string found = archive::locate_data_drive(cfg.cd_rom);
    if (!found.empty()) {
      std::string game_folder = platform::current_directory();
      archive::set_data_drive(found == game_folder ? std::string() : found);
      return true;
    }
    std::string title = cfg.title.empty() ? cfg.exe_base : cfg.title;
    char text[512];
    std::snprintf(text, sizeof text, platform::cp932("ドライブに『%s』のDISCをセットして下さい"), title.c_str());
    const bool viewer = platform::display().has_viewer();
    int answer = platform::message_boxes().show(platform::cp932_to_utf8(cfg.title), platform::cp932_to_utf8(text),
                                                platform::MessageIcon::warning,
                                                {{4, "Retry", viewer, false}, {2, "Cancel", !viewer, true}});
    if (answer != 4) return false;
  }
}

int exit_status() {
  if (vm::g_script_faults.load() != 0) return 2;
  if (g_state.entry_failed) return 1;
  return 0;
}

}  // namespace

bool full_screen() { return g_state.full_screen; }
std::uint32_t switch_full_screen(bool on) { return vm::send_request(kFullScreenRequest, on ? 1 : 0, 0); }

// ---- Start-up -------------------------------------------------------------------------------

bool locate_game(const std::string& argument, std::string& folder, std::string& name) {
  std::string path = platform::absolute_path(argument);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (platform::is_directory(path)) {
    folder = path;
    name = path.substr(path.rfind('/') + 1);
    return !name.empty();
  }
  // The game's executable or configuration file: its folder and base name.
  std::size_t slash = path.rfind('/');
  std::string file = path.substr(slash + 1);
  std::size_t dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string extension = file.substr(dot);
  for (auto& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (extension != ".exe" && extension != ".cfg") return false;
  folder = slash == 0 ? "/" : path.substr(0, slash);
  name = file.substr(0, dot);
  return platform::is_directory(folder);
}

int run_application(const RunOptions& options) {
  platform::set_terminal_text_filter(for_terminal);
  install_error_reporter();
  // A replay that cannot be read stops the run before anything starts: a test driven by it would
  // otherwise run without its input and fail somewhere far from the cause. Both files are opened
  // here, before the game's folder becomes the current one, so their names are the user's own.
  std::vector<input::ReplayEvent> replay;
  if (!options.input_file.empty()) {
    std::string error;
    const std::optional<std::string> text = platform::read_whole_file(options.input_file);
    if (!text) {
      std::fprintf(stderr, "talven: --input %s: the file cannot be read\n", options.input_file.c_str());
      return 1;
    }
    if (!input::parse_replay(*text, replay, error)) {
      std::fprintf(stderr, "talven: --input %s, %s\n", options.input_file.c_str(), error.c_str());
      return 1;
    }
  }
  if (!options.input_record_file.empty()) {
    g_record = std::fopen(options.input_record_file.c_str(), "w");
    if (g_record == nullptr) {
      std::fprintf(stderr, "talven: --input-record %s: the file cannot be written\n", options.input_record_file.c_str());
      return 1;
    }
    std::fputs("# talven input replay: TIME(ms) EVENT, see the manual (Testing a game)\n", g_record);
  }
  struct CloseRecord {
    ~CloseRecord() {
      if (g_record != nullptr) std::fclose(g_record);
      g_record = nullptr;
    }
  } close_record_at_end;
  std::string folder, name;
  if (!locate_game(options.game, folder, name)) {
    std::fprintf(stderr, "talven: %s is not a game folder, nor a game's .exe or .cfg file\n", options.game.c_str());
    return 1;
  }
  if (!platform::change_directory(folder)) {
    std::fprintf(stderr, "talven: cannot enter the game folder %s\n", folder.c_str());
    return 1;
  }

  // The game's folder plays the executable's directory; configuration paths are cp932.
  std::string exe_dir = utf8_to_game_path(folder) + "/";
  load_configuration(exe_dir, utf8_to_game_path(name));
  for (const auto& [key, value] : options.overrides) {
    std::size_t dot = key.find('.');
    if (dot == std::string::npos || !override_key(key.substr(0, dot), key.substr(dot + 1), utf8_to_game_path(value)))
      std::fprintf(stderr, "talven: --set %s: no such configuration key\n", key.c_str());
  }
  Configuration& cfg = config();
  archive::set_file_system(cfg.file_system);
  archive::set_data_drive_directory(cfg.cd_dir);

  // The one place that decides between the real devices and the null ones.
  if (!options.headless && !platform::choose_devices(platform::DeviceBackends::sdl))
    std::fputs("talven: no display could be opened, so the game runs headless: no window and no sound. "
               "Its log lines (log_out) are shown with --log -, for example: talven --log - GAME\n",
               stderr);
  platform::Display& display = platform::display();

  // Only one instance per machine unless the game allows more; automation runs many headless.
  platform::SingleInstance instance;
  if (display.has_viewer() && cfg.multi_instance == 0 && !instance.acquire("TALVEN_GAMES_MUTEX")) {
    platform::release_devices();
    return 0;
  }
  if (!wait_for_data_drive()) {
    platform::release_devices();
    return 0;
  }

  {
    platform::Rect desktop = display.desktop_bounds();
    Placement placement = initial_placement(cfg, {desktop.width, desktop.height});
    platform::WindowOptions window;
    window.title = platform::cp932_to_utf8(cfg.title);
    window.client_width = placement.client_width;
    window.client_height = placement.client_height;
    window.centered = placement.centered;
    window.left = placement.left;
    window.top = placement.top;
    window.resizable = cfg.resize != 0 && cfg.direct3d != 0;
    window.minimum_client = {minimum_client_width(cfg), minimum_client_height(cfg)};
    window.use_renderer = cfg.direct3d != 0;
    if (!display.create_frame_window(window)) {
      // The reason is on stderr already; the game cannot run without its window.
      std::fputs("talven: the game cannot run without its window\n", stderr);
      platform::release_devices();
      return 1;
    }
    // The game still runs without an accelerated renderer; its pictures are then copied onto the
    // window pixel for pixel, as with Direct3D = 0.
    if (display.has_frame_window() && window.use_renderer && !display.frame_window_has_renderer())
      report(1, "%s", platform::cp932("Direct3Dデバイスの生成に失敗しました"));
    g_state.client_width = placement.client_width;
    g_state.client_height = placement.client_height;
    // The debug output window comes with the frame window and stays hidden until F8.
    if (cfg.debug_mode != 0) open_debug_window();
  }

  vm::set_request_wake([] { platform::display().wake_window_thread(); });
  vm::set_request_handler(vm::kCloseRequest, [](std::uint32_t, std::uint32_t) -> std::uint32_t {
    handle_close();
    return 0;
  });
  vm::set_request_handler(kStartEntryScript, [](std::uint32_t, std::uint32_t) -> std::uint32_t {
    start_entry_script();
    return 0;
  });
  vm::set_request_handler(kFullScreenRequest, full_screen_request);
  vm::start_serving_requests();
  sound::capture_output(options.audio_out);
  RuntimeOptions runtime;
  runtime.log_file = options.log_file;
  runtime.listing = options.listing;
  runtime.request_close = request_close_from_script;
  runtime.pump_window_messages = vm::process_pending_requests;
  runtime_start(runtime);

  if (cfg.full_screen != 0) full_screen_request(1, 0);
  vm::post_request(kStartEntryScript, 0, 0);

  const std::uint32_t started = platform::tick_count();
  g_run_started = started;
  std::size_t next_replayed = 0;
  while (!g_state.quit) {
    platform::Event event;
    // Replayed events join the real ones when their time comes.
    int wait_ms = 10;
    if (next_replayed < replay.size()) {
      const long long due = static_cast<long long>(replay[next_replayed].time_ms) - (platform::tick_count() - started);
      wait_ms = static_cast<int>(std::clamp(due, 0LL, 10LL));
    }
    if (display.wait_event(event, wait_ms)) {
      handle_event(event);
      while (!g_state.quit && display.wait_event(event, 0)) handle_event(event);
    }
    while (!g_state.quit && next_replayed < replay.size() &&
           replay[next_replayed].time_ms <= platform::tick_count() - started)
      handle_event(input::replayed_event(replay[next_replayed++]));
    settle_focus();
    vm::process_pending_requests();
    if (g_state.quit) break;
    if (instance.raise_requested()) display.show_window_raised();
    if (options.exit_after_ms >= 0 &&
        static_cast<long long>(platform::tick_count() - started) >= options.exit_after_ms) {
      cfg.confirmation = 0;  // closes as `exit` does
      handle_close();
    }
    // Without a viewer nobody can close the window: the run ends with its last script thread.
    if (!display.has_viewer() && g_state.entry_posted && !vm::any_thread_running()) {
      cfg.confirmation = 0;
      handle_close();
    }
  }

  vm::stop_serving_requests();
  if (!options.screenshot.empty()) runtime_write_screenshot(options.screenshot);
  // Without a viewer no window state could have changed; the game's files stay untouched.
  if (display.has_viewer()) {
    cfg.full_screen = g_state.full_screen ? 1 : 0;
    save_window_state();
  }
  platform::release_devices();
  return exit_status();
}

}  // namespace talven::shell
