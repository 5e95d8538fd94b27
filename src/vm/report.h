// Messages of the engine to the user. Every module reports through here; the shell installs, at
// start-up, the reporter that shows them (the "ERROR : Error" box, filtered by the Error level).
#pragma once
#include <cstdarg>

namespace talven::vm {

// Receives each formatted message (cp932, at most 255 bytes, never cut inside a character).
using Reporter = void (*)(unsigned level, const char* cp932_text);
// Null restores the fallback, which prints each message as a line on stderr.
void set_reporter(Reporter reporter);

// Formats `format` (cp932, printf-style) into the 256-byte message buffer and hands it on.
void report(unsigned level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void vreport(unsigned level, const char* format, va_list args);

}  // namespace talven::vm
