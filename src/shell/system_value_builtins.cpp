// getsystem and setsystem: the system values scripts read and change. Each value belongs to the
// module that keeps it (the window's full-screen state, the graphics module's colour mapping, the
// configuration's focus, sound and smoothing switches); the shell, which composes the modules,
// answers for all of them.
#include <cstring>
#include <optional>

#include "graphics/palette.h"
#include "graphics/sprites.h"
#include "platform/devices.h"
#include "platform/host_system.h"
#include "shell/application.h"
#include "shell/configuration.h"
#include "shell/shell_builtins.h"
#include "vm/call_gate.h"

namespace talven::shell {
namespace {

using vm::argument_int;
using vm::argument_word;

// The system values, matched without regard to case.
constexpr const char* kSystemNames[] = {
    "fullscreen", "width",        "height", "depth",         "os_platform", "os_major",  "os_minor",
    "os_build",   "global_focus", "global_sound", "color_mapping", "smoothing",   "sp_count",
};
enum SystemName { kFullscreen, kWidth, kHeight, kDepth, kOsPlatform, kOsMajor, kOsMinor, kOsBuild,
                  kGlobalFocus, kGlobalSound, kColorMapping, kSmoothing, kSpCount, kUnknown };

// The platform identifier that the engine's games know for the NT family of systems.
constexpr std::uint32_t kPlatformNt = 2;

SystemName system_name(vm::Address a) {
  auto name = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!name) return kUnknown;
  for (int i = 0; i < kUnknown; ++i) {
    const char* known = kSystemNames[i];
    if (std::strlen(known) != name->size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < name->size() && same; ++k) {
      char c = (*name)[k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      same = c == known[k];
    }
    if (same) return static_cast<SystemName>(i);
  }
  return kUnknown;
}

// Captured once, as at start-up.
const platform::SystemVersion& system_version() {
  static const platform::SystemVersion version = platform::system_version();
  return version;
}

}  // namespace

std::uint32_t bi_getsystem(vm::Address arguments) {
  switch (system_name(argument_word(arguments, 0))) {
    case kFullscreen: return full_screen() ? 1 : 0;
    case kWidth: return static_cast<std::uint32_t>(platform::display().desktop_mode().width);
    case kHeight: return static_cast<std::uint32_t>(platform::display().desktop_mode().height);
    case kDepth: return static_cast<std::uint32_t>(platform::display().desktop_mode().bits_per_pixel);
    case kOsPlatform: return kPlatformNt;
    case kOsMajor: return system_version().major;
    case kOsMinor: return system_version().minor;
    case kOsBuild: return system_version().build;
    case kGlobalFocus: return static_cast<std::uint32_t>(config().global_focus);
    case kGlobalSound: return static_cast<std::uint32_t>(config().global_sound);
    case kColorMapping: return static_cast<std::uint32_t>(graphics::color_mapping_value());
    case kSmoothing: return static_cast<std::uint32_t>(graphics::smoothing());
    case kSpCount: return graphics::sprite_count();
    default: return 0;
  }
}

std::uint32_t bi_setsystem(vm::Address arguments) {
  std::int32_t value = argument_int(arguments, 1);
  switch (system_name(argument_word(arguments, 0))) {
    case kFullscreen:
      if ((value != 0) == full_screen()) return 0;
      return switch_full_screen(value != 0);
    case kGlobalFocus: config().global_focus = value; return 1;
    case kGlobalSound: config().global_sound = value; return 1;
    case kColorMapping: graphics::set_color_mapping(value); return 1;
    case kSmoothing: graphics::set_smoothing(value); return 1;
    default: return 0;
  }
}

}  // namespace talven::shell
