// Time and scheduling services: the millisecond tick, sleeping, the local date and time.
#pragma once
#include <cstdint>

namespace talven::platform {

// Milliseconds from a fixed point, monotonic, wrapping at 2^32 like the system tick count.
std::uint32_t tick_count();

void sleep_ms(std::uint32_t milliseconds);

// Gives the processor to another runnable thread, if any (a sleep of 0 ms).
void yield_thread();

// Lowers the calling thread's scheduling priority a little below the window thread's.
void lower_thread_priority();

// The local date and time as the 16-byte system time record: eight 16-bit fields.
struct SystemTime {
  std::uint16_t year, month, day_of_week, day, hour, minute, second, milliseconds;
};
static_assert(sizeof(SystemTime) == 16);
SystemTime local_time_now();

}  // namespace talven::platform
