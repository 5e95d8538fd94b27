#include "shell/error_reporter.h"

#include <atomic>
#include <cstdio>

#include "platform/dialogs.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/sjis.h"

namespace talven::shell {
namespace {

constexpr std::size_t kMessageBufferSize = 256;
std::atomic<ReportListener> g_listener{nullptr};

}  // namespace

void set_report_listener(ReportListener listener) { g_listener = listener; }

void vreport(unsigned level, const char* format, va_list args) {
  // Unsigned, so -1 shows every level; 0 shows nothing, not even a message given level 0.
  std::uint32_t threshold = static_cast<std::uint32_t>(config().error);
  if (threshold == 0 || threshold < level) return;
  if (format == nullptr) format = "";

  char text[kMessageBufferSize];
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n >= static_cast<int>(sizeof text)) {
    // Cut where a character ends, never between the two bytes of a double-byte character.
    text[sjis_safe_length(text, sizeof text - 1)] = '\0';
  } else if (n < 0) {
    text[0] = '\0';
  }

  if (ReportListener listener = g_listener.load()) listener(text);
  platform::show_message_box("ERROR : Error", platform::cp932_to_utf8(text), platform::MessageIcon::error,
                             {{1, "OK", true, true}});
}

void report(unsigned level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(level, format, args);
  va_end(args);
}

}  // namespace talven::shell
