// INI text from any source: reading never fails, and a value that may be stored reads back after
// a write while every line the write did not touch keeps its bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/ini_file.h"

namespace {

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// What the reader returns for a written value: blanks trimmed, one pair of matching quotes removed.
std::string as_read(std::string_view value) {
  value = trim_blanks(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

}  // namespace

// What another key reads must not change when one key is written, unless the names could be the same.
bool could_be_same_name(std::string_view a, std::string_view b) {
  a = trim_blanks(a);
  b = trim_blanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

// Input: section, key, value, a second section and key to probe, separated by 0x00 bytes, then the
// INI text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[5];
  for (std::string_view& part : parts) {
    std::size_t zero = input.find('\0');
    if (zero == std::string_view::npos) return 0;
    part = input.substr(0, zero);
    input.remove_prefix(zero + 1);
  }
  std::string_view text = input;
  talven::shell::IniValue entry{std::string(parts[0]), std::string(parts[1]), std::string(parts[2])};

  if (auto found = talven::shell::ini_find(text, entry.section, entry.key)) talven::shell::ini_to_int(*found);

  std::optional<std::string> written = talven::shell::ini_with_values(text, {entry});
  if (written.has_value() != talven::shell::ini_can_store(entry)) std::abort();
  if (!written) return 0;
  std::optional<std::string> read_back = talven::shell::ini_find(*written, entry.section, entry.key);
  if (!read_back || *read_back != as_read(entry.value)) std::abort();
  // Writing the same value again changes nothing.
  std::optional<std::string> again = talven::shell::ini_with_values(*written, {entry});
  if (!again || *again != *written) std::abort();
  if (!could_be_same_name(parts[3], entry.section) || !could_be_same_name(parts[4], entry.key)) {
    if (talven::shell::ini_find(text, parts[3], parts[4]) != talven::shell::ini_find(*written, parts[3], parts[4]))
      std::abort();
  }
  // Everything before the first changed byte and after the last is the old text.
  std::size_t head = 0;
  while (head < text.size() && head < written->size() && text[head] == (*written)[head]) ++head;
  std::size_t tail = 0;
  while (tail < text.size() - head && tail < written->size() - head &&
         text[text.size() - 1 - tail] == (*written)[written->size() - 1 - tail])
    ++tail;
  if (written->size() - head - tail > entry.key.size() + entry.value.size() + entry.section.size() + 16)
    std::abort();
  return 0;
}
