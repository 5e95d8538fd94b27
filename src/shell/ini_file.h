// INI files read and written with the rules of the Windows profile functions, for the
// configuration chain and the ini_* built-ins. All names and values are cp932 bytes.
//
// Reading:
// - A section starts at a line whose first non-blank character is `[`; its name runs to the first
//   `]` that is not the second byte of a double-byte character. Everything until the next section
//   belongs to it; lines before the first section belong to none.
// - A key line is any other line with `=` whose first non-blank character is not `;`: the name is
//   the text before the first `=`, the value the rest. Lines without `=` and `;` comments are not
//   keys. A UTF-8 byte order mark before the first line is ignored.
// - Names and values lose surrounding spaces and tabs; a value wrapped in a matching pair of `"` or
//   `'` loses them too. Names compare without regard to ASCII letter case (the bytes of double-byte
//   characters compare exactly). The first section of a name is the section, and the first key of a
//   name inside it is the key; later duplicates are never read nor written.
// - Integers: optional blanks, optional sign, decimal digits up to the first other character; no
//   digits reads 0 ("12abc" is 12, "abc" is 0). Digits beyond the 32-bit range wrap modulo 2^32, as
//   the Windows reader's unsigned accumulator does, so "4294967295" reads -1. "0x10" reads 0.
//
// Writing changes only the bytes of the one value: every other line, comment, blank line, the order,
// the line-ending style (CRLF or LF, taken from the first line; CRLF for a new file) and all other
// bytes stay as they were. A missing key goes after the last key line of its section (after the
// header when the section has none); a missing section is appended at the end, a missing file is
// created (its folder must exist). The file is replaced atomically: a failed write leaves it whole.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talven::shell {

// ---- Over the contents of a file -------------------------------------------------------------

// The value of `key` in `section`, unquoted and trimmed; nothing when the section or key is absent.
std::optional<std::string> ini_find(std::string_view text, std::string_view section, std::string_view key);

// A value read as an integer by the rules above.
std::int32_t ini_to_int(std::string_view value);

struct IniValue {
  std::string section;
  std::string key;
  std::string value;
};

// True when the pair of names and the value can be stored so that reading finds them again: names
// not empty after trimming, nothing on more than one line, no `]` in a section name, no `=` in a
// key name and no key that would read as a section or a comment.
bool ini_can_store(const IniValue& entry);

// `text` with each value set in turn by the writing rules above; nothing when an entry cannot be
// stored (and then nothing is changed).
std::optional<std::string> ini_with_values(std::string_view text, const std::vector<IniValue>& values);

// `text` without the first section named `section` (its header and every line up to the next
// section), or, when `key` is given, without that section's first key line of that name. Other
// lines stay byte for byte.
std::string ini_without(std::string_view text, std::string_view section, std::optional<std::string_view> key);

// ---- Over files named by game paths (cp932, resolved like every game path) -------------------

// The contents of an INI file; nothing when it is missing or unreadable.
std::optional<std::string> ini_read_file(std::string_view game_path);

std::optional<std::string> ini_read_string(std::string_view game_path, std::string_view section,
                                           std::string_view key);

// `fallback` when the file, the key or its value is missing (an empty value counts as missing).
std::int32_t ini_read_int(std::string_view game_path, std::string_view section, std::string_view key,
                          std::int32_t fallback);

// Sets the values and replaces the file in one step. False when an entry cannot be stored, the file
// exists but cannot be read, or it cannot be written; the old file is then untouched.
bool ini_write_values(std::string_view game_path, const std::vector<IniValue>& values);
// Deletes a key, or with no key a whole section, as the profile writer does for a null value or
// key. True also when there was nothing to delete (a missing file stays missing); false when the
// file cannot be read or written.
bool ini_delete(std::string_view game_path, std::string_view section, std::optional<std::string_view> key);
bool ini_write_string(std::string_view game_path, std::string_view section, std::string_view key,
                      std::string_view value);
bool ini_write_int(std::string_view game_path, std::string_view section, std::string_view key,
                   std::int32_t value);

}  // namespace talven::shell
