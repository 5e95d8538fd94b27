#include "shell/debug_output.h"

#include <cstdio>
#include <deque>
#include <iterator>
#include <mutex>

#include "library/format.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/shell_builtins.h"
#include "platform/sjis.h"
#include "vm/script_memory.h"

namespace talven::shell {
namespace {

// Script threads add lines under the built-in lock; the window reads them from its own thread.
std::mutex g_mutex;
std::FILE* g_log = nullptr;
bool g_log_is_stdout = false;
std::deque<std::string> g_lines;
// The window's queue: only what it has not taken yet, so it stays short while the window keeps up.
void (*g_listener)() = nullptr;
bool g_news_cleared = false;
std::deque<std::string> g_news_lines;

void close_log() {
  if (g_log != nullptr && !g_log_is_stdout) std::fclose(g_log);
  g_log = nullptr;
  g_log_is_stdout = false;
}

}  // namespace

bool set_log_file(std::string_view host_path) {
  std::lock_guard lock(g_mutex);
  close_log();
  if (host_path.empty()) return true;
  if (host_path == "-") {
    g_log = stdout;
    g_log_is_stdout = true;
    return true;
  }
  g_log = std::fopen(std::string(host_path).c_str(), "ab");
  return g_log != nullptr;
}

bool has_log_target() {
  std::lock_guard lock(g_mutex);
  return g_log != nullptr;
}

bool log_target_is_stdout() {
  std::lock_guard lock(g_mutex);
  return g_log_is_stdout;
}

bool debug_output_exists() { return config().debug_mode != 0 || has_log_target(); }

namespace {
// Log lock held.
void write_log_line(std::string_view utf8_text) {
  if (g_log == nullptr) return;
  std::string line(utf8_text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), g_log);
  std::fflush(g_log);
}
}  // namespace

void log_target_line(std::string_view utf8_text) {
  std::lock_guard lock(g_mutex);
  write_log_line(utf8_text);
}

void debug_output_line(std::string_view cp932_text) {
  void (*listener)() = nullptr;
  {
    std::lock_guard lock(g_mutex);
    if (g_log != nullptr) write_log_line(platform::cp932_to_utf8(cp932_text));
    if (config().debug_mode == 0) return;
    if (g_lines.size() == kKeptDebugLines) g_lines.pop_front();
    g_lines.emplace_back(cp932_text);
    if (g_listener == nullptr) return;
    // The window keeps no more lines than this either, so older queued ones would be dropped there.
    if (g_news_lines.size() == kKeptDebugLines) g_news_lines.pop_front();
    g_news_lines.emplace_back(cp932_text);
    listener = g_listener;
  }
  listener();
}

void debug_output_clear() {
  void (*listener)() = nullptr;
  {
    std::lock_guard lock(g_mutex);
    g_lines.clear();
    if (g_listener == nullptr) return;
    g_news_lines.clear();
    g_news_cleared = true;
    listener = g_listener;
  }
  listener();
}

void set_debug_output_listener(void (*listener)()) {
  std::lock_guard lock(g_mutex);
  g_listener = listener;
  g_news_cleared = false;
  g_news_lines.clear();
}

DebugOutputNews take_debug_output_news() {
  std::lock_guard lock(g_mutex);
  DebugOutputNews news;
  news.cleared = g_news_cleared;
  news.lines.assign(std::make_move_iterator(g_news_lines.begin()), std::make_move_iterator(g_news_lines.end()));
  g_news_cleared = false;
  g_news_lines.clear();
  return news;
}

std::vector<std::string> debug_output_lines() {
  std::lock_guard lock(g_mutex);
  return {g_lines.begin(), g_lines.end()};
}

std::uint32_t bi_log_clear(vm::Address) {
  if (!debug_output_exists()) return 0;
  debug_output_clear();
  return 1;
}

std::uint32_t bi_log_out(vm::Address arguments) {
  if (!debug_output_exists()) return 0;
  std::uint32_t format_address = 0;
  vm::load(arguments, format_address);
  std::optional<std::string_view> format = vm::load_string(format_address);
  if (!format) return 0;
  std::string text = library::format_script_words(*format, arguments, 1, kLogOutBufferSize - 1);
  // The line is the text up to its first zero byte (a %c of 0 ends it), cut where a character ends.
  text.resize(platform::sjis_safe_length(text.c_str(), kLogOutBufferSize - 1));
  debug_output_line(text);
  return 1;
}

}  // namespace talven::shell
