// Small helpers for cp932 byte strings, shared by every module that walks engine text.
#pragma once
#include <cstddef>
#include <string_view>

namespace talven::platform {

// True for the first byte of a double-byte cp932 character.
inline bool is_sjis_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The longest prefix of the zero-terminated or `limit`-byte text, at most `limit` bytes, that does
// not end in the middle of a double-byte character.
std::size_t sjis_safe_length(const char* text, std::size_t limit);

}  // namespace talven::platform
