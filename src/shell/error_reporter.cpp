#include "shell/error_reporter.h"

#include <atomic>

#include "platform/devices.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"

namespace talven::shell {
namespace {

std::atomic<ReportListener> g_listener{nullptr};

}  // namespace

void install_error_reporter() { vm::set_reporter(show_report); }

void set_report_listener(ReportListener listener) {
  install_error_reporter();
  g_listener = listener;
}

void show_report(unsigned level, const char* cp932_text) {
  // Unsigned, so -1 shows every level; 0 shows nothing, not even a message given level 0.
  std::uint32_t threshold = static_cast<std::uint32_t>(config().error);
  if (threshold == 0 || threshold < level) return;
  if (ReportListener listener = g_listener.load()) listener(cp932_text);
  platform::message_boxes().show("ERROR : Error", platform::cp932_to_utf8(cp932_text), platform::MessageIcon::error,
                             {{1, "OK", true, true}});
}

}  // namespace talven::shell
