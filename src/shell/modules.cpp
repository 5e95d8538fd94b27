#include "shell/modules.h"

#include "archive/archive.h"
#include "archive/file_builtins.h"
#include "archive/pack_file.h"
#include "effects/effects.h"
#include "graphics/graphics.h"
#include "graphics/planes.h"
#include "input/input.h"
#include "library/library.h"
#include "shell/elapsed_clock.h"
#include "shell/shell_builtins.h"
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

constexpr Module kModules[] = {
    {"vm", vm::control_builtins, nullptr, nullptr, nullptr, nullptr},
    {"shell", builtins, start_shell, nullptr, elapsed_clock_pause, elapsed_clock_resume},
    {"graphics", graphics::builtins, start_graphics, graphics::graphics_shutdown, nullptr, nullptr},
    {"effects", effects::builtins, nullptr, nullptr, nullptr, nullptr},
    {"sound", sound::builtins, nullptr, nullptr, nullptr, nullptr},
    {"input", input::builtins, nullptr, nullptr, nullptr, nullptr},
    {"archive", archive::builtins, start_archive, stop_archive, nullptr, nullptr},
    {"library", library::builtins, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

std::span<const Module> modules() { return kModules; }

}  // namespace talven::shell
