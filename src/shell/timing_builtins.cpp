// getcount, setcount, gettime and fps.
#include <mutex>

#include "platform/clock.h"
#include "shell/elapsed_clock.h"
#include "shell/shell_builtins.h"
#include "shell/timing_builtins.h"
#include "vm/call_gate.h"

namespace talven::shell {
namespace {

constexpr int kCounters = 256;

std::mutex g_mutex;
std::uint32_t g_marks[kCounters] = {};

struct FrameRateMeter {
  std::uint32_t window_start = 0;
  std::uint32_t counted = 0;
  std::uint32_t last_result = 0;
};
FrameRateMeter g_meter;

bool is_counter(std::int32_t n) { return n >= 0 && n < kCounters; }

}  // namespace

void reset_timing_builtins() {
  std::lock_guard lock(g_mutex);
  for (std::uint32_t& mark : g_marks) mark = 0;
  g_meter = FrameRateMeter();
}

std::uint32_t bi_getcount(vm::Address arguments) {
  std::int32_t n = vm::argument_int(arguments, 0);
  if (!is_counter(n)) return 0;
  std::lock_guard lock(g_mutex);
  return elapsed_clock_read() - g_marks[n];
}

std::uint32_t bi_setcount(vm::Address arguments) {
  std::int32_t n = vm::argument_int(arguments, 0);
  std::uint32_t value = vm::argument_word(arguments, 1);
  if (!is_counter(n)) return 0;
  std::lock_guard lock(g_mutex);
  g_marks[n] = elapsed_clock_read() - value;
  return 1;
}

std::uint32_t bi_gettime(vm::Address arguments) {
  platform::SystemTime now = platform::local_time_now();
  return vm::store(vm::argument_word(arguments, 0), now) ? 1 : 0;
}

std::uint32_t bi_fps(vm::Address) {
  std::lock_guard lock(g_mutex);
  std::uint32_t now = time_source_now();
  if (now - g_meter.window_start < 1000) {
    ++g_meter.counted;
    return g_meter.last_result;
  }
  g_meter.window_start = now;
  g_meter.last_result = g_meter.counted;
  g_meter.counted = 0;
  return g_meter.last_result;
}

}  // namespace talven::shell
