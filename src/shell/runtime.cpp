#include "shell/runtime.h"
#include "shell/modules.h"
#include "shell/shell_builtins.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "archive/file_builtins.h"
#include "archive/pack_file.h"
#include "archive/fast_file.h"
#include "compiler/compiler.h"
#include "graphics/planes.h"
#include "graphics/presentation.h"
#include "platform/host_system.h"
#include "platform/text_encoding.h"
#include "platform/devices.h"
#include "shell/application.h"
#include "platform/game_paths.h"
#include "shell/configuration.h"
#include "shell/debug_output.h"
#include "shell/message_meanings.h"
#include "shell/elapsed_clock.h"
#include "shell/error_reporter.h"
#include "vm/call_gate.h"
#include "vm/interpreter.h"
#include "vm/program.h"
#include "vm/requests.h"
#include "vm/script_threads.h"
#include "sound/movie_player.h"
#include "vm/source_map.h"

// The engine-state record and talven_send_message as native libraries see them.
#include "talven_native.h"

namespace talven::shell {
namespace {

RuntimeOptions g_options;

// The frame goes to the window on the window thread; `update` only asks for it, once per frame
// already asked for, so a fast script never floods the request queue.
constexpr std::uint32_t kPresentRequest = vm::kUserMessage + 220;
std::atomic<bool> g_present_asked{false};

void present_to_window(const std::uint32_t* texels, int width, int height) {
  // Direct3D = 1 scales the picture to the window (keeping its proportions in full screen when
  // asked); Direct3D = 0 shows it pixel for pixel, centred on a larger full-screen mode.
  const Configuration& cfg = config();
  platform::PictureFit fit = platform::PictureFit::fill;
  if (cfg.direct3d == 0) fit = platform::PictureFit::one_to_one;
  else if (full_screen() && cfg.fixed_aspect_ratio != 0) fit = platform::PictureFit::keep_aspect;
  platform::display().present_texels(texels, width, height, fit, sound::movie_picture());
}

std::uint32_t serve_present(std::uint32_t, std::uint32_t) {
  g_present_asked = false;
  graphics::present_frame();
  return 1;
}

// The flags are handed out as plain words: the atomics must be exactly that.
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

std::intptr_t fill_engine_state(std::uintptr_t state_address) {
  auto* state = reinterpret_cast<TalvenEngineState*>(state_address);
  if (state == nullptr) return 0;
  const Configuration& cfg = config();
  state->stop_flag = reinterpret_cast<const volatile std::uint32_t*>(&vm::g_stop_flag);
  state->active_flag = reinterpret_cast<const volatile std::uint32_t*>(&vm::g_application_active);
  state->instance = platform::main_program_handle();
  state->frame_window = platform::display().frame_window_handle();
  state->width = cfg.width;
  state->height = cfg.height;
  state->depth = cfg.depth;
  return 0;
}

}  // namespace

void ask_for_present() {
  if (!g_present_asked.exchange(true)) vm::post_request(kPresentRequest, 0, 0);
}

namespace {

// The listing goes beside the game: the source's name without folder and extension, plus ".txt".
void write_listing(const std::string& source_name, const std::string& listing) {
  std::size_t cut = source_name.find_last_of("/\\");
  std::string base = cut == std::string::npos ? source_name : source_name.substr(cut + 1);
  std::size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  std::string host = platform::resolve_game_path(base + ".txt");
  if (std::FILE* f = std::fopen(host.c_str(), "w")) {
    std::fwrite(listing.data(), 1, listing.size(), f);
    std::fclose(f);
  }
}

// A stopped program, told on the terminal and in the log with where it stopped, which the error
// box (whose text stays the engine's own) does not say.
void report_script_fault(const vm::ScriptFault& fault) {
  std::string where;
  if (auto position = vm::find_source_position(fault.address)) {
    where = position->file + "(" + std::to_string(position->line) + ")";
    if (!position->function.empty()) where += ", in " + position->function;
  } else {
    char address[32];
    std::snprintf(address, sizeof address, "address 0x%08X", fault.address);
    where = address;
  }
  const std::string line = for_terminal(platform::cp932_to_utf8(
      "runtime error in thread " + std::to_string(fault.slot) + " at " + where + ": " + fault.message));
  // With the log on standard output the terminal already shows the log's copy.
  if (!log_target_is_stdout()) std::fprintf(stderr, "talven: %s\n", line.c_str());
  log_target_line(line);
}

// The main source of the last compile when it could not be opened (cp932), else empty.
std::string g_unopened_main_source;

void note_unopened_main_source(const compiler::CompileResult& result, const std::string& path) {
  if (result.error_code == 2 && result.error_line == 0 && result.error_file == path) g_unopened_main_source = path;
}

// How `jump`, `call` and the entry script turn a source file into a running program: measure it
// (unless ProgramSize fixes the size), then emit it into a new context's image.
vm::ScriptContext* compile_into_context(const char* file_name, std::uint32_t program_size, std::uint32_t stack_size) {
  g_unopened_main_source.clear();
  compiler::CompileOptions options;
  options.reader = data_file_source_reader();
  options.script_dir = config().script_dir;
  options.heap_base = vm::script_heap_base();
  options.heap_size = vm::script_heap_size();
  std::uint32_t size = program_size;
  if (size == 0) {
    compiler::CompileResult measured = compiler::compile(file_name, options);
    if (!measured.ok) {
      note_unopened_main_source(measured, options.script_dir + file_name);
      return nullptr;
    }
    size = measured.code_size + measured.data_size;
  }
  vm::ScriptContext* context = vm::create_context(size, stack_size);
  if (context == nullptr) {
    report(1, "Out of memory error");
    return nullptr;
  }
  std::string listing;
  options.image_base = context->image_base;
  options.capacity = size;
  if (g_options.listing) options.listing = &listing;
  compiler::CompileResult result = compiler::compile(file_name, options);
  if (g_options.listing) write_listing(file_name, listing);
  if (!result.ok) {
    note_unopened_main_source(result, options.script_dir + file_name);
    vm::free_context(context);
    return nullptr;
  }
  vm::attach_source_map(context->image_base, std::move(result.source_map));
  return context;
}

}  // namespace

compiler::SourceReader data_file_source_reader() {
  return [](const std::string& cp932_path, std::string& text) {
    switch (archive::read_whole_data_file(cp932_path.c_str(), text)) {
      case archive::DataFileStatus::ok: return compiler::SourceStatus::ok;
      case archive::DataFileStatus::open_failed: return compiler::SourceStatus::open_failed;
      case archive::DataFileStatus::read_failed: break;
    }
    return compiler::SourceStatus::read_failed;
  };
}

void runtime_start(const RuntimeOptions& options) {
  g_options = options;
  const Configuration& cfg = config();
  if (!options.log_file.empty() && !set_log_file(options.log_file))
    std::fprintf(stderr, "talven: cannot write the log file %s\n", options.log_file.c_str());
  graphics::build_pixel_tables();
  vm::allocate_script_heap(static_cast<std::uint32_t>(cfg.heap_size > 0 ? cfg.heap_size : 0));
  vm::set_vm_settings({cfg.debug_mode != 0, static_cast<std::uint32_t>(cfg.program_size),
                       static_cast<std::uint32_t>(cfg.stack_size)});
  // Every module's built-ins, checked once: a gap or a doubled index is a defect of this build.
  if (std::string problem = install_all_builtins(); !problem.empty()) {
    std::fprintf(stderr, "talven: the built-in table is not whole: %s\n", problem.c_str());
    std::abort();
  }
  vm::RuntimeHooks hooks;
  hooks.compile = compile_into_context;
  hooks.request_close = options.request_close;
  hooks.pump_window_messages = options.pump_window_messages;
  hooks.thread_ended = [] { platform::display().wake_window_thread(); };
  vm::set_runtime_hooks(hooks);
  vm::set_image_release_hook(compiler::forget_exported_functions);
  vm::set_fault_listener(report_script_fault);
  vm::vm_runtime_start();
  for (const Module& module : modules())
    if (module.start) module.start(cfg);
  if (platform::display().has_frame_window()) {
    vm::set_request_handler(kPresentRequest, serve_present);
    graphics::set_frame_presenter(present_to_window);
    graphics::set_frame_ready_hook(ask_for_present);
  }
  vm::reset_thread_table();
}

const std::string& unopened_main_source() { return g_unopened_main_source; }

void runtime_stop() {
  graphics::set_frame_ready_hook(nullptr);
  graphics::set_frame_presenter(nullptr);
  const auto all = modules();
  for (auto module = all.rbegin(); module != all.rend(); ++module)
    if (module->stop) module->stop();
  vm::vm_runtime_shutdown();
  vm::set_image_release_hook(nullptr);
  vm::set_fault_listener(nullptr);
  vm::free_script_heap();
  compiler::clear_exported_functions();
}

void runtime_pause_devices() {
  for (const Module& module : modules())
    if (module.pause) module.pause();
}

void runtime_resume_devices() {
  for (const Module& module : modules())
    if (module.resume) module.resume();
}

void runtime_window_resized() {
  graphics::set_full_upload_pending();
  graphics::present_frame();
}
void runtime_repaint() { graphics::present_frame(); }

bool runtime_write_screenshot(const std::string& host_path) {
  if (graphics::write_screenshot_png(host_path, sound::movie_picture())) return true;
  std::fprintf(stderr, "talven: --screenshot %s: the picture could not be written\n", host_path.c_str());
  return false;
}

}  // namespace talven::shell

// Native libraries reach the engine's window messages through this; the engine-state message is
// answered here because its argument is a host pointer, which a request cannot carry.
extern "C" __attribute__((visibility("default"))) std::intptr_t talven_send_message(unsigned int message,
                                                                                    std::uintptr_t wparam,
                                                                                    std::uintptr_t lparam) {
  using namespace talven::shell;
  if (message == kEngineStateRequest) return fill_engine_state(wparam);
  if (wparam > UINT32_MAX || lparam > UINT32_MAX) return 0;
  return static_cast<std::intptr_t>(
      talven::vm::send_request(message, static_cast<std::uint32_t>(wparam), static_cast<std::uint32_t>(lparam)));
}
