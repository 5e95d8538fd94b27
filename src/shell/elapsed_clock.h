// The engine's elapsed clock in milliseconds: the time source minus a base, frozen while the
// application is paused so that paused time does not count. The timing built-ins read it.
#pragma once
#include <cstdint>

namespace talven::shell {

// Clears the pause count and the base (so the clock reads the time source itself until a pause).
void elapsed_clock_start();
// The clock: while paused, the time of the first pause minus the base; otherwise now minus the base.
std::uint32_t elapsed_clock_read();
// Pauses nest; the clock runs again when every pause has been resumed.
void elapsed_clock_pause();
// Ignored when not paused.
void elapsed_clock_resume();

// The millisecond time source behind the clock and the frame-rate meter: the platform's tick count
// unless replaced (tests drive time by hand); null restores the tick count.
using TimeSource = std::uint32_t (*)();
void set_time_source(TimeSource source);
std::uint32_t time_source_now();

}  // namespace talven::shell
