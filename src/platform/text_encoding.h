// Conversion between the engine's cp932 text and UTF-8 at the platform boundary.
#pragma once
#include <string>
#include <string_view>

namespace talven::platform {

// Bytes that do not form a valid character are replaced (U+FFFD one way, '?' the other),
// so a conversion never fails and never loses the rest of the text.
std::string cp932_to_utf8(std::string_view cp932);
std::string utf8_to_cp932(std::string_view utf8);

}  // namespace talven::platform

namespace talven::platform {

// The engine's own Japanese texts are written in UTF-8 in the sources and used as cp932. This
// converts such a literal once and returns a C string that lives as long as the process.
const char* cp932(const char* utf8_literal);

}  // namespace talven::platform
