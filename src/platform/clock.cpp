#include "platform/clock.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace talven::platform {

std::uint32_t tick_count() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

void sleep_ms(std::uint32_t milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void yield_thread() { sched_yield(); }

void lower_thread_priority() {
  // On Linux the nice value is per thread; one step down is "below normal".
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current + 1);
}

SystemTime local_time_now() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  return SystemTime{static_cast<std::uint16_t>(local.tm_year + 1900), static_cast<std::uint16_t>(local.tm_mon + 1),
                    static_cast<std::uint16_t>(local.tm_wday),        static_cast<std::uint16_t>(local.tm_mday),
                    static_cast<std::uint16_t>(local.tm_hour),        static_cast<std::uint16_t>(local.tm_min),
                    static_cast<std::uint16_t>(local.tm_sec),         static_cast<std::uint16_t>(ts.tv_nsec / 1000000)};
}

}  // namespace talven::platform
