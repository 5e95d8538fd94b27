#include "vm/report.h"

#include <atomic>
#include <cstdio>

#include "platform/sjis.h"
#include "platform/text_encoding.h"

namespace talven::vm {
namespace {

constexpr std::size_t kMessageBufferSize = 256;
std::atomic<Reporter> g_reporter{nullptr};

}  // namespace

void set_reporter(Reporter reporter) { g_reporter = reporter; }

void vreport(unsigned level, const char* format, va_list args) {
  if (format == nullptr) format = "";
  char text[kMessageBufferSize];
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n >= static_cast<int>(sizeof text)) {
    // Cut where a character ends, never between the two bytes of a double-byte character.
    text[platform::sjis_safe_length(text, sizeof text - 1)] = '\0';
  } else if (n < 0) {
    text[0] = '\0';
  }
  if (Reporter reporter = g_reporter.load()) {
    reporter(level, text);
  } else {
    std::fprintf(stderr, "talven: %s\n", platform::cp932_to_utf8(text).c_str());
  }
}

void report(unsigned level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(level, format, args);
  va_end(args);
}

}  // namespace talven::vm
