// printf-style formatting over a script's argument words.
//
// Scripts pass the values of a variadic call as 32-bit words on their stack, and the formatter
// takes them the way the C library's formatter did on a 32-bit stack: each %d %i %u %o %x %X %c
// %s %p (and %n) takes one word, each %f %F %e %E %g %G %a %A takes two words read as a double
// (low word first), %lld and %I64d take two words as a 64-bit integer, a `*` width or precision
// takes one word, and %% takes none. `h`, `hh`, `l`, `L`, `z`, `t` and `I32` are accepted.
//
// Where the old formatter could fault or write to memory the result is defined instead:
// - %s with an address outside script memory (or a string that runs off its end) prints "(null)";
// - %n writes nothing (its word is still taken, so the following values stay in place);
// - an unknown conversion is printed as written and takes no word.
// %p prints the word as eight upper-case hex digits, as the engine's formatter did. The wide forms
// (%C, %S, %lc, %ls) print the script's bytes as narrow text, since script text is cp932 bytes.
// Numbers are printed by the host's C formatter (two-digit exponents, "inf", "nan").
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vm/script_memory.h"

namespace talven::library {

inline constexpr std::size_t kNoOutputLimit = static_cast<std::size_t>(-1);

// Formats `format` (cp932) with the argument words at `arguments` + 4 * `first_word`,
// `first_word` + 1, ... A word outside script memory reads as 0. The result holds at most
// `output_limit` bytes: formatting stops there (it may end inside a double-byte character; callers
// that show the text cut it with sjis_safe_length). Widths and precisions beyond 1 MiB are taken
// as 1 MiB, so a stray `*` word cannot ask for gigabytes.
std::string format_script_words(std::string_view format, vm::Address arguments, std::uint32_t first_word,
                                std::size_t output_limit = kNoOutputLimit);

}  // namespace talven::library
