// String and path built-ins over cp932 text in script memory. The functions walk text character by
// character (a lead byte and its trail byte are one character), so they never match, split or
// case-map half of a double-byte character. Every address is checked: a string that does not lie
// in script memory makes the call fail with 0 instead of reading or writing outside it.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive_format.h"
#include "library/format.h"
#include "library/library_builtins.h"
#include "platform/sjis.h"
#include "vm/call_gate.h"
#include "vm/script_threads.h"

namespace talven::library {
namespace {

using platform::is_sjis_lead;
using vm::argument_int;
using vm::argument_word;

std::optional<std::string_view> string_argument(Address arguments, int i) {
  Address a = argument_word(arguments, i);
  if (a == 0) return std::nullopt;
  return vm::load_string(a);
}

// The bytes at `a` up to a zero byte, `limit` bytes or the end of script memory, whichever comes
// first; nothing when `a` is not in script memory.
std::optional<std::string_view> bounded_string(Address a, std::uint32_t limit) {
  if (!vm::usable_range(a, 1)) return std::nullopt;
  std::uint64_t room = vm::kAddressSpaceSize - a;
  if (room > limit) room = limit;
  const char* p = reinterpret_cast<const char*>(vm::host_pointer(a));
  const void* zero = std::memchr(p, 0, room);
  return std::string_view(p, zero ? static_cast<const char*>(zero) - p : room);
}

// The character at text[i]: its code (lead * 256 + trail for a double-byte character) and length.
struct Char {
  std::uint32_t code;
  std::size_t length;
};
Char char_at(std::string_view text, std::size_t i) {
  auto c = static_cast<unsigned char>(text[i]);
  if (platform::is_sjis_lead(c) && i + 1 < text.size())
    return Char{c * 256u + static_cast<unsigned char>(text[i + 1]), 2};
  return Char{c, 1};
}

bool set_contains(std::string_view set, std::uint32_t code) {
  for (std::size_t i = 0; i < set.size();) {
    Char c = char_at(set, i);
    if (c.code == code) return true;
    i += c.length;
  }
  return false;
}

// The offset of the first character of `text` that is (or is not) in `set`; text.size() if none.
std::size_t scan_set(std::string_view text, std::string_view set, bool in_set) {
  std::size_t i = 0;
  while (i < text.size()) {
    Char c = char_at(text, i);
    if (set_contains(set, c.code) == in_set) return i;
    i += c.length;
  }
  return text.size();
}

// cp932 letter case: ASCII, and among the double-byte characters the full-width Latin, Greek and
// Cyrillic letters, which keep their double-byte form.
std::uint32_t to_lower(std::uint32_t code) {
  if (code < 0x100) return (code >= 'A' && code <= 'Z') ? code + 32 : code;
  if (code >= 0x8260 && code <= 0x8279) return code + 0x21;
  if (code >= 0x839F && code <= 0x83B6) return code + 0x20;
  if (code >= 0x8440 && code <= 0x8460) {
    std::uint32_t i = code - 0x8440;
    return 0x8470 + i + (i >= 15 ? 1 : 0);
  }
  return code;
}
std::uint32_t to_upper(std::uint32_t code) {
  if (code < 0x100) return (code >= 'a' && code <= 'z') ? code - 32 : code;
  if (code >= 0x8281 && code <= 0x829A) return code - 0x21;
  if (code >= 0x83BF && code <= 0x83D6) return code - 0x20;
  if (code >= 0x8470 && code <= 0x8491 && code != 0x847F) {
    std::uint32_t i = code - 0x8470;
    return 0x8440 + (i > 15 ? i - 1 : i);
  }
  return code;
}

std::uint32_t change_case(Address arguments, std::uint32_t (*map)(std::uint32_t)) {
  Address s = argument_word(arguments, 0);
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  std::uint8_t* p = vm::host_pointer(s);
  for (std::size_t i = 0; i < text->size();) {
    Char c = char_at(*text, i);
    std::uint32_t mapped = map(c.code);
    if (c.length == 2) {
      p[i] = static_cast<std::uint8_t>(mapped >> 8);
      p[i + 1] = static_cast<std::uint8_t>(mapped);
    } else {
      p[i] = static_cast<std::uint8_t>(mapped);
    }
    i += c.length;
  }
  return s;
}

// The longest text sprintf produces.
constexpr std::uint64_t kSprintfLimit = 16u << 20;

// Where each script thread's strtok goes on; one more entry for calls outside any thread.
Address g_strtok_next[vm::kThreadSlots + 1];

Address& strtok_position() {
  int slot = vm::current_thread_slot();
  return g_strtok_next[(slot >= 0 && slot < vm::kThreadSlots) ? slot : vm::kThreadSlots];
}

// Stores `value` into the end-pointer word when its address is not 0.
void store_end(Address end, Address value) {
  if (end != 0) vm::store(end, value);
}

// Windows path rules: drive "X:", folder up to the last `\` or `/`, name, extension from the last
// `.` of the name. Separators are found on character boundaries only.
struct PathParts {
  std::string drive, dir, fname, ext;
};
PathParts split_path(std::string_view path) {
  PathParts parts;
  if (path.size() >= 2 && path[1] == ':' && !platform::is_sjis_lead(static_cast<unsigned char>(path[0]))) {
    parts.drive = std::string(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t last_separator = std::string_view::npos, last_dot = std::string_view::npos;
  for (std::size_t i = 0; i < path.size();) {
    Char c = char_at(path, i);
    if (c.code == '\\' || c.code == '/') last_separator = i;
    if (c.code == '.') last_dot = i;
    i += c.length;
  }
  std::size_t name_start = last_separator == std::string_view::npos ? 0 : last_separator + 1;
  parts.dir = std::string(path.substr(0, name_start));
  std::string_view name = path.substr(name_start);
  if (last_dot != std::string_view::npos && last_dot >= name_start) {
    parts.fname = std::string(name.substr(0, last_dot - name_start));
    parts.ext = std::string(name.substr(last_dot - name_start));
  } else {
    parts.fname = std::string(name);
  }
  return parts;
}

// The buffer sizes of the platform's path splitter, terminator included.
constexpr std::size_t kMaxDrive = 3, kMaxDir = 256, kMaxFname = 256, kMaxExt = 256;

void store_part(Address buffer, std::string part, std::size_t capacity) {
  if (buffer == 0) return;
  if (part.size() >= capacity) part.resize(platform::sjis_safe_length(part.c_str(), capacity - 1));
  vm::store_string(buffer, part, static_cast<std::uint32_t>(part.size() + 1));
}

bool ends_with_separator(std::string_view text) {
  std::size_t i = 0, last_start = std::string_view::npos;
  while (i < text.size()) {
    last_start = i;
    i += char_at(text, i).length;
  }
  return last_start != std::string_view::npos && (text[last_start] == '\\' || text[last_start] == '/');
}

}  // namespace

std::uint32_t bi_strlen(Address arguments) {
  auto text = string_argument(arguments, 0);
  return text ? static_cast<std::uint32_t>(text->size()) : 0;
}

std::uint32_t bi_strclen(Address arguments) {
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < text->size(); i += char_at(*text, i).length) ++count;
  return count;
}

std::uint32_t bi_strcpy(Address arguments) {
  Address d = argument_word(arguments, 0);
  auto text = string_argument(arguments, 1);
  if (!text) return 0;
  std::uint8_t* p = vm::checked_pointer(d, text->size() + 1);
  if (p == nullptr) return 0;
  std::memmove(p, text->data(), text->size());
  p[text->size()] = 0;
  return d;
}

std::uint32_t bi_strncpy(Address arguments) {
  Address d = argument_word(arguments, 0);
  std::int32_t n = argument_int(arguments, 2);
  if (n < 1) return vm::usable_range(d, 0) ? d : 0;
  std::uint8_t* p = vm::checked_pointer(d, static_cast<std::uint32_t>(n));
  auto source = bounded_string(argument_word(arguments, 1), static_cast<std::uint32_t>(n) + 1);
  if (p == nullptr || !source) return 0;
  std::string copy(*source);  // the ranges may overlap
  std::size_t limit = static_cast<std::size_t>(n), i = 0;
  while (i < limit && i < copy.size()) {
    Char c = char_at(copy, i);
    if (c.length == 2 && i + 1 >= limit) {
      p[i] = 0;  // the trail byte would not fit: end the text before the character
      return d;
    }
    std::memcpy(p + i, copy.data() + i, c.length);
    i += c.length;
  }
  if (i < limit) std::memset(p + i, 0, limit - i);
  return d;
}

std::uint32_t bi_strcat(Address arguments) {
  Address d = argument_word(arguments, 0);
  auto head = string_argument(arguments, 0);
  auto tail = string_argument(arguments, 1);
  if (!head || !tail) return 0;
  std::uint8_t* p = vm::checked_pointer(d + static_cast<Address>(head->size()), tail->size() + 1);
  if (p == nullptr || d + head->size() < d) return 0;
  std::memmove(p, tail->data(), tail->size());
  p[tail->size()] = 0;
  return d;
}

std::uint32_t bi_strcmp(Address arguments) {
  auto a = string_argument(arguments, 0);
  auto b = string_argument(arguments, 1);
  if (!a || !b) return 0;
  std::size_t i = 0, j = 0;
  for (;;) {
    Char x = i < a->size() ? char_at(*a, i) : Char{0, 0};
    Char y = j < b->size() ? char_at(*b, j) : Char{0, 0};
    if (x.code != y.code) return x.code < y.code ? static_cast<std::uint32_t>(-1) : 1u;
    if (x.code == 0) return 0;
    i += x.length;
    j += y.length;
  }
}

std::uint32_t bi_strcmpi(Address arguments) {
  auto a = string_argument(arguments, 0);
  auto b = string_argument(arguments, 1);
  if (!a || !b) return 0;
  return static_cast<std::uint32_t>(archive::compare_archive_names(*a, *b));
}

std::uint32_t bi_strlwr(Address arguments) { return change_case(arguments, to_lower); }
std::uint32_t bi_strupr(Address arguments) { return change_case(arguments, to_upper); }

std::uint32_t bi_strchr(Address arguments) {
  Address s = argument_word(arguments, 0);
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  std::uint32_t wanted = argument_word(arguments, 1) & 0xFFFFu;
  if (wanted == 0) return s + static_cast<Address>(text->size());
  for (std::size_t i = 0; i < text->size();) {
    Char c = char_at(*text, i);
    if (c.code == wanted) return s + static_cast<Address>(i);
    i += c.length;
  }
  return 0;
}

std::uint32_t bi_strtok(Address arguments) {
  Address& position = strtok_position();
  Address s = argument_word(arguments, 0);
  auto delimiters = string_argument(arguments, 1);
  if (s == 0) s = position;
  if (s == 0 || !delimiters) return 0;
  auto text = vm::load_string(s);
  if (!text) {
    position = 0;
    return 0;
  }
  std::size_t start = scan_set(*text, *delimiters, false);
  if (start == text->size()) {
    position = 0;
    return 0;
  }
  std::size_t end = start + scan_set(text->substr(start), *delimiters, true);
  if (end < text->size()) {
    std::size_t length = char_at(*text, end).length;
    vm::host_pointer(s)[end] = 0;
    position = s + static_cast<Address>(end + length);
  } else {
    position = 0;
  }
  return s + static_cast<Address>(start);
}

std::uint32_t bi_strcspn(Address arguments) {
  auto text = string_argument(arguments, 0);
  auto set = string_argument(arguments, 1);
  if (!text || !set) return 0;
  return static_cast<std::uint32_t>(scan_set(*text, *set, true));
}

std::uint32_t bi_strspn(Address arguments) {
  auto text = string_argument(arguments, 0);
  auto set = string_argument(arguments, 1);
  if (!text || !set) return 0;
  return static_cast<std::uint32_t>(scan_set(*text, *set, false));
}

std::uint32_t bi_strpbrk(Address arguments) {
  auto text = string_argument(arguments, 0);
  auto set = string_argument(arguments, 1);
  if (!text || !set) return 0;
  std::size_t i = scan_set(*text, *set, true);
  return i < text->size() ? argument_word(arguments, 0) + static_cast<Address>(i) : 0;
}

std::uint32_t bi_strstr(Address arguments) {
  Address s = argument_word(arguments, 0);
  auto text = string_argument(arguments, 0);
  auto wanted = string_argument(arguments, 1);
  if (!text || !wanted) return 0;
  if (wanted->empty()) return s;
  for (std::size_t i = 0; i < text->size(); i += char_at(*text, i).length)
    if (text->substr(i, wanted->size()) == *wanted) return s + static_cast<Address>(i);
  return 0;
}

std::uint32_t bi_strdup(Address arguments) {
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  Address copy = vm::script_alloc(static_cast<std::uint32_t>(text->size() + 1));
  if (copy == 0) return 0;
  std::memcpy(vm::host_pointer(copy), text->data(), text->size());
  vm::host_pointer(copy)[text->size()] = 0;
  return copy;
}

std::uint32_t bi_strndup(Address arguments) {
  std::int32_t n = argument_int(arguments, 1);
  std::uint32_t limit = n < 0 ? 0xFFFFFFFEu : static_cast<std::uint32_t>(n);
  auto text = bounded_string(argument_word(arguments, 0), limit);
  if (!text || argument_word(arguments, 0) == 0) return 0;
  Address copy = vm::script_alloc(static_cast<std::uint32_t>(text->size() + 1));
  if (copy == 0) return 0;
  std::memcpy(vm::host_pointer(copy), text->data(), text->size());
  vm::host_pointer(copy)[text->size()] = 0;
  return copy;
}

std::uint32_t bi_strtol(Address arguments) {
  Address s = argument_word(arguments, 0);
  Address end = argument_word(arguments, 1);
  int base = argument_int(arguments, 2);
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  std::string copy(*text);
  char* stop = nullptr;
  long long value = std::strtoll(copy.c_str(), &stop, base);
  store_end(end, s + static_cast<Address>(stop - copy.c_str()));
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

std::uint32_t bi_strtoul(Address arguments) {
  Address s = argument_word(arguments, 0);
  Address end = argument_word(arguments, 1);
  int base = argument_int(arguments, 2);
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  std::string copy(*text);
  // The 32-bit conversion: the magnitude saturates at 0xFFFFFFFF, then a minus sign negates it.
  std::size_t i = 0;
  while (i < copy.size() && (copy[i] == ' ' || (copy[i] >= '\t' && copy[i] <= '\r'))) ++i;
  bool negative = i < copy.size() && copy[i] == '-';
  char* stop = nullptr;
  errno = 0;
  unsigned long long magnitude = std::strtoull(copy.c_str() + i + (negative ? 1 : 0), &stop, base);
  const char* digits_start = copy.c_str() + i + (negative ? 1 : 0);
  if (stop == digits_start) {
    store_end(end, s);
    return 0;
  }
  store_end(end, s + static_cast<Address>(stop - copy.c_str()));
  if (errno == ERANGE || magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  std::uint32_t value = static_cast<std::uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

std::uint32_t bi_strtof(Address arguments) {
  Address s = argument_word(arguments, 0);
  auto text = string_argument(arguments, 0);
  if (!text) return 0;
  std::string copy(*text);
  char* stop = nullptr;
  float value = std::strtof(copy.c_str(), &stop);
  store_end(argument_word(arguments, 1), s + static_cast<Address>(stop - copy.c_str()));
  return vm::float_result(value);
}

std::uint32_t bi_sprintf(Address arguments) {
  Address d = argument_word(arguments, 0);
  auto format = string_argument(arguments, 1);
  if (!format) return 0;
  if (!vm::usable_range(d, 1)) return 0;
  // The text never grows beyond the memory above the buffer (nor beyond a sane bound), so a stray
  // width cannot make the engine build gigabytes that could never be stored anyway.
  std::uint64_t room = std::min<std::uint64_t>(vm::kAddressSpaceSize - d - 1, kSprintfLimit);
  std::string text = format_script_words(*format, arguments, 2, static_cast<std::size_t>(room));
  std::uint8_t* p = vm::checked_pointer(d, text.size() + 1);
  if (p == nullptr) return 0;
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = 0;
  return static_cast<std::uint32_t>(text.size());
}

std::uint32_t bi_splitpath(Address arguments) {
  auto path = string_argument(arguments, 0);
  if (!path) return 0;
  PathParts parts = split_path(*path);
  store_part(argument_word(arguments, 1), parts.drive, kMaxDrive);
  store_part(argument_word(arguments, 2), parts.dir, kMaxDir);
  store_part(argument_word(arguments, 3), parts.fname, kMaxFname);
  store_part(argument_word(arguments, 4), parts.ext, kMaxExt);
  return 1;
}

std::uint32_t bi_makepath(Address arguments) {
  auto part = [&](int i) { return argument_word(arguments, i) != 0 ? string_argument(arguments, i) : std::optional<std::string_view>(""); };
  auto drive = part(1), dir = part(2), fname = part(3), ext = part(4);
  if (!drive || !dir || !fname || !ext) return 0;
  std::string path;
  if (!drive->empty()) {
    path += (*drive)[0];
    path += ':';
  }
  if (!dir->empty()) {
    path += *dir;
    if (!ends_with_separator(*dir)) path += '\\';
  }
  path += *fname;
  if (!ext->empty()) {
    if ((*ext)[0] != '.') path += '.';
    path += *ext;
  }
  return vm::store_string(argument_word(arguments, 0), path, static_cast<std::uint32_t>(path.size() + 1)) ? 1 : 0;
}

void reset_strtok() { std::fill(std::begin(g_strtok_next), std::end(g_strtok_next), Address(0)); }

}  // namespace talven::library
