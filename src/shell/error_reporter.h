// The one way engine errors reach the user: a modal "ERROR : Error" box, filtered by level.
#pragma once
#include <cstdarg>

namespace talven::shell {

// Formats `format` (cp932, printf-style) into the 256-byte message buffer and shows it when the
// configured `Error` threshold, compared unsigned, is at least `level`. Returns once the user has
// closed the box. Headless, the text goes to stderr as one line instead.
void report(unsigned level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void vreport(unsigned level, const char* format, va_list args);

// Called with the text of every message that passed the threshold, before the box is shown
// (the --log file and tests listen here); may be null.
using ReportListener = void (*)(const char* cp932_text);
void set_report_listener(ReportListener listener);

}  // namespace talven::shell
