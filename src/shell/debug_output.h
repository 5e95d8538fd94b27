// The debug output: the lines scripts print with log_out. They go to the --log target (UTF-8, one
// line per call) when one is set, and are kept for the debug output window while DebugMode is on.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talven::shell {

// The most lines kept for the window; older ones are dropped first, so a script that prints every
// frame for hours does not grow the process without bound.
inline constexpr std::size_t kKeptDebugLines = 32767;

// Sets the --log target: a host path (UTF-8) that lines are appended to, "-" for standard output,
// or an empty path for none. False when the file cannot be opened; there is then no target.
bool set_log_file(std::string_view host_path);
bool has_log_target();
// True when the --log target is standard output.
bool log_target_is_stdout();

// The debug output exists while DebugMode is nonzero or a log target is set.
bool debug_output_exists();

// Adds one line of cp932 text. A line end at the end of the text is not doubled in the log.
void debug_output_line(std::string_view cp932_text);
// Adds one line of UTF-8 text to the --log target only (engine reports such as runtime errors,
// which are not the script's own output and stay out of the window).
void log_target_line(std::string_view utf8_text);
// Empties the kept lines, as the window's clear button does.
void debug_output_clear();
// The kept lines (cp932), oldest first.
std::vector<std::string> debug_output_lines();

// The debug output window's feed. While a listener is set, every kept line and every clear is also
// queued for the window in call order, and the listener is told. It is called on the thread that
// added the line, which may hold the built-in lock, so it must do no more than pass the news on.
void set_debug_output_listener(void (*listener)());
struct DebugOutputNews {
  bool cleared = false;            // the lines before `lines` are gone
  std::vector<std::string> lines;  // added since, oldest first
};
// What was queued since the last call.
DebugOutputNews take_debug_output_news();

}  // namespace talven::shell
