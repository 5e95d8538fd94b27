#include "shell/elapsed_clock.h"

#include <atomic>
#include <mutex>

#include "platform/clock.h"

namespace talven::shell {
namespace {

// Script threads read the clock under the built-in lock, the window thread pauses it on focus
// changes without it; this lock keeps the three words consistent between them.
std::mutex g_mutex;
std::atomic<TimeSource> g_source{nullptr};
std::uint32_t g_base = 0;
std::uint32_t g_pause_count = 0;
std::uint32_t g_paused_at = 0;

}  // namespace

void set_time_source(TimeSource source) { g_source = source; }

std::uint32_t time_source_now() {
  TimeSource source = g_source.load();
  return source ? source() : platform::tick_count();
}

void elapsed_clock_start() {
  std::lock_guard lock(g_mutex);
  g_base = 0;
  g_pause_count = 0;
  g_paused_at = 0;
}

std::uint32_t elapsed_clock_read() {
  std::lock_guard lock(g_mutex);
  return (g_pause_count > 0 ? g_paused_at : time_source_now()) - g_base;
}

void elapsed_clock_pause() {
  std::lock_guard lock(g_mutex);
  if (g_pause_count++ == 0) g_paused_at = time_source_now();
}

void elapsed_clock_resume() {
  std::lock_guard lock(g_mutex);
  if (g_pause_count == 0) return;
  if (--g_pause_count == 0) g_base += time_source_now() - g_paused_at;
}

}  // namespace talven::shell
