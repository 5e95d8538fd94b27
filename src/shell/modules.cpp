#include "shell/modules.h"

#include "archive/archive.h"
#include "archive/file_builtins.h"
#include "archive/pack_file.h"
#include "effects/effects.h"
#include "graphics/graphics.h"
#include "graphics/planes.h"
#include "input/input.h"
#include "library/library.h"
#include "shell/debug_output.h"
#include "shell/elapsed_clock.h"
#include "shell/error_reporter.h"
#include "shell/runtime.h"
#include "shell/shell_builtins.h"
#include "shell/timing_builtins.h"
#include "sound/sound.h"
#include "vm/script_threads.h"

namespace talven::shell {
namespace {

void start_graphics(const Configuration& cfg) {
  graphics::graphics_start({cfg.width, cfg.height, cfg.depth, cfg.multi_threading != 0, cfg.smoothing != 0});
}

// Pack slots and open streams belong to one run of the scripts; the system file is written when
// the run ends.
void start_archive(const Configuration&) { archive::close_pack_slots(); }
void stop_archive() {
  archive::close_pack_slots();
  archive::close_all_streams();
  archive::write_system_file_at_shutdown();
}

void start_shell(const Configuration&) { elapsed_clock_start(); }

void start_input(const Configuration& cfg) { input::input_start(cfg.direct_input != 0); }

void start_sound(const Configuration& cfg) {
  sound::sound_start({cfg.direct_sound != 0, cfg.direct_music != 0, cfg.cd != 0, cfg.soundfont, cfg.cd_folder,
                      cfg.width, cfg.height, cfg.multi_threading != 0, ask_for_present});
}

// Sounds fall silent with the focus only while GlobalSound is 0 (a script may change it meanwhile
// with setsystem); what was paused is what is resumed. Music always pauses.
bool g_sound_paused = false;
void pause_sound() {
  g_sound_paused = config().global_sound == 0;
  if (g_sound_paused) sound::sound_pause();
  sound::music_pause();
}
void resume_sound() {
  sound::music_resume();
  if (g_sound_paused) sound::sound_resume();
  g_sound_paused = false;
}
void reset_sound() {
  sound::reset_sound_state();
  g_sound_paused = false;
}

constexpr Module kModules[] = {
    {"vm", vm::control_builtins, nullptr, nullptr, nullptr, nullptr, vm::reset_vm_state},
    {"shell", builtins, start_shell, nullptr, elapsed_clock_pause, elapsed_clock_resume, reset_shell_state},
    {"graphics", graphics::builtins, start_graphics, graphics::graphics_shutdown, nullptr, nullptr,
     graphics::reset_graphics_state},
    {"effects", effects::builtins, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"sound", sound::builtins, start_sound, sound::sound_stop, pause_sound, resume_sound, reset_sound},
    {"input", input::builtins, start_input, input::input_stop, nullptr, nullptr, input::reset_input_state},
    {"archive", archive::builtins, start_archive, stop_archive, nullptr, nullptr, archive::reset_archive_state},
    {"library", library::builtins, nullptr, nullptr, nullptr, nullptr, library::reset_library_state},
};

}  // namespace

std::span<const Module> modules() { return kModules; }

void reset_shell_state() {
  config() = Configuration();
  set_report_listener(nullptr);
  set_log_file({});
  set_debug_output_listener(nullptr);
  debug_output_clear();
  reset_timing_builtins();
  set_time_source(nullptr);
  elapsed_clock_start();
}

void reset_engine_state() {
  const auto all = modules();
  for (auto m = all.rbegin(); m != all.rend(); ++m)
    if (m->reset != nullptr) m->reset();
}

}  // namespace talven::shell
