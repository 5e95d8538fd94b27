// The one way engine errors reach the user: a modal "ERROR : Error" box, filtered by level. The
// modules report through vm::report; this is the reporter behind it.
#pragma once
#include <cstdarg>

#include "vm/report.h"

namespace talven::shell {

// Installs the reporter below as the engine's (vm::set_reporter). The application does so at
// start-up; so does set_report_listener, for tests that listen.
void install_error_reporter();

// Shows `cp932_text` when the configured `Error` threshold, compared unsigned, is at least
// `level`. Returns once the user has closed the box. Headless, the text goes to stderr as one line.
void show_report(unsigned level, const char* cp932_text);

// The shell's own messages, formatted as vm::report does.
using vm::report;

// Called with the text of every message that passed the threshold, before the box is shown
// (tests listen here); may be null.
using ReportListener = void (*)(const char* cp932_text);
void set_report_listener(ReportListener listener);

}  // namespace talven::shell
