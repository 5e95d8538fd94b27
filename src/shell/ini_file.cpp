#include "shell/ini_file.h"

#include <string>

#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/sjis.h"

namespace talven::shell {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// ASCII letters compare without case; both bytes of a double-byte character compare exactly, so a
// trail byte that happens to be a letter never makes two different characters equal.
bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (platform::is_sjis_lead(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (fold(x) != fold(y)) {
      return false;
    }
  }
  return true;
}

// Position of the first `c` in `s` that is a character of its own, not a trail byte.
std::size_t find_single_byte(std::string_view s, char c) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) return i;
    if (platform::is_sjis_lead(static_cast<unsigned char>(s[i]))) ++i;
  }
  return std::string_view::npos;
}

enum class LineKind { other, section, key };

struct Line {
  std::size_t next;         // start of the following line (past its line ending)
  LineKind kind;
  std::string_view name;    // section or key name, trimmed
  std::size_t after_equals; // key lines: first byte after `=`
  std::size_t value_begin;  // key lines: first byte after `=` and the blanks that follow it
  std::size_t value_end;    // key lines: end of the line's text (before CR LF)
};

// Reads the line at `pos` and classifies it.
Line read_line(std::string_view text, std::size_t pos) {
  std::size_t newline = text.find('\n', pos);
  std::size_t end = newline == std::string_view::npos ? text.size() : newline;
  Line line{newline == std::string_view::npos ? text.size() : newline + 1, LineKind::other, {}, 0, 0, 0};
  if (end > pos && text[end - 1] == '\r') --end;
  if (pos == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;

  std::string_view body = text.substr(pos, end - pos);
  std::size_t start = 0;
  while (start < body.size() && is_blank(body[start])) ++start;
  if (start == body.size() || body[start] == ';') return line;
  if (body[start] == '[') {
    std::string_view rest = body.substr(start + 1);
    std::size_t close = find_single_byte(rest, ']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::section;
      line.name = trim(rest.substr(0, close));
    }
    return line;
  }
  std::size_t eq = body.find('=', start);  // '=' is never a trail byte
  if (eq == std::string_view::npos) return line;
  line.kind = LineKind::key;
  line.name = trim(body.substr(start, eq - start));
  std::size_t value = eq + 1;
  line.after_equals = pos + value;
  while (value < body.size() && is_blank(body[value])) ++value;
  line.value_begin = pos + value;
  line.value_end = end;
  return line;
}

std::string_view unquote(std::string_view value) {
  value = trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

// Where a section and a key were found in a text.
struct Location {
  bool section_found = false;
  std::size_t insert_at = 0;     // after the section's last key line, or after its header
  bool insert_needs_eol = false; // that line is the last one and has no line ending
  bool key_found = false;
  Line key_line{};
};

Location locate(std::string_view text, std::string_view section, std::string_view key) {
  Location where;
  for (std::size_t pos = 0; pos < text.size();) {
    Line line = read_line(text, pos);
    if (line.kind == LineKind::section) {
      if (where.section_found) break;  // the end of the first section of that name
      if (same_name(line.name, section)) {
        where.section_found = true;
        where.insert_at = line.next;
        where.insert_needs_eol = text[line.next - 1] != '\n';
      }
    } else if (line.kind == LineKind::key && where.section_found) {
      if (same_name(line.name, key)) {
        where.key_found = true;
        where.key_line = line;
        break;
      }
      where.insert_at = line.next;
      where.insert_needs_eol = text[line.next - 1] != '\n';
    }
    pos = line.next;
  }
  return where;
}

std::string_view line_ending_of(std::string_view text) {
  std::size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return "\r\n";
  return newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

// What ends an unterminated last line that stops at `end`: a lone CR there already belongs to the
// line ending (the reader drops it), so it only needs its LF.
std::string_view line_end_after(std::string_view text, std::size_t end, std::string_view eol) {
  return end > 0 && text[end - 1] == '\r' ? std::string_view("\n") : eol;
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

void set_value(std::string& text, const IniValue& entry) {
  std::string_view section = trim(entry.section), key = trim(entry.key);
  std::string_view eol = line_ending_of(text);
  Location where = locate(text, section, key);
  if (where.key_found) {
    // The blanks between `=` and the old value stay, unless the new value brings its own.
    const Line& line = where.key_line;
    bool own_blanks = !entry.value.empty() && is_blank(entry.value.front());
    std::size_t begin = own_blanks ? line.after_equals : line.value_begin;
    text.replace(begin, line.value_end - begin, entry.value);
    return;
  }
  std::string key_line;
  key_line.append(key).append("=").append(entry.value).append(eol);
  if (where.section_found) {
    if (where.insert_needs_eol) key_line.insert(0, line_end_after(text, where.insert_at, eol));
    text.insert(where.insert_at, key_line);
    return;
  }
  if (!text.empty()) {
    if (text.back() != '\n') text.append(line_end_after(text, text.size(), eol));
    // A blank line between sections, as the profile writer lays files out.
    std::size_t last_end = text.size() - 1;  // the final '\n'
    std::size_t last_begin = last_end == 0 ? std::string::npos : text.rfind('\n', last_end - 1);
    last_begin = last_begin == std::string::npos ? 0 : last_begin + 1;
    std::string_view last = std::string_view(text).substr(last_begin, last_end - last_begin);
    if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
    if (!trim(last).empty()) text.append(eol);
  }
  text.append("[").append(section).append("]").append(eol).append(key_line);
}

// The byte range of the first section named `section` (header to the next header), or of the
// first key line named `key` in it when a key is given; begin == end when there is none.
struct Span {
  std::size_t begin = 0, end = 0;
};
Span find_span(std::string_view text, std::string_view section, const std::optional<std::string_view>& key) {
  bool in_section = false;
  Span span;
  for (std::size_t pos = 0; pos < text.size();) {
    Line line = read_line(text, pos);
    if (line.kind == LineKind::section) {
      if (in_section) break;
      if (same_name(line.name, section)) {
        in_section = true;
        span.begin = pos;
      }
    } else if (in_section && key && line.kind == LineKind::key && same_name(line.name, *key)) {
      return {pos, line.next};
    }
    pos = line.next;
    if (in_section && !key) span.end = pos;
  }
  return key ? Span{} : span;
}

}  // namespace

std::string ini_without(std::string_view text, std::string_view section, std::optional<std::string_view> key) {
  section = trim(section);
  if (key) key = trim(*key);
  Span span = find_span(text, section, key);
  // A byte order mark belongs to the file, not to its first line.
  if (span.begin == 0 && span.end > 0 && text.substr(0, 3) == "\xEF\xBB\xBF") span.begin = 3;
  std::string result(text);
  result.erase(span.begin, span.end - span.begin);
  return result;
}

std::optional<std::string> ini_find(std::string_view text, std::string_view section, std::string_view key) {
  section = trim(section);
  key = trim(key);
  if (section.empty() || key.empty()) return std::nullopt;
  Location where = locate(text, section, key);
  if (!where.key_found) return std::nullopt;
  const Line& line = where.key_line;
  return std::string(unquote(text.substr(line.value_begin, line.value_end - line.value_begin)));
}

std::int32_t ini_to_int(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && is_blank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  std::uint32_t magnitude = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    magnitude = magnitude * 10u + static_cast<std::uint32_t>(value[i] - '0');
  return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
}

bool ini_can_store(const IniValue& entry) {
  std::string_view section = trim(entry.section), key = trim(entry.key);
  if (section.empty() || key.empty()) return false;
  if (has_line_break(section) || has_line_break(key) || has_line_break(entry.value)) return false;
  // The header's closing `]` must read as a character of its own: no `]` inside the name, and no
  // dangling first byte at its end that would take the `]` as its second byte.
  std::string header(section);
  header += ']';
  if (find_single_byte(header, ']') != section.size()) return false;
  if (key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';') return false;
  return true;
}

std::optional<std::string> ini_with_values(std::string_view text, const std::vector<IniValue>& values) {
  for (const IniValue& entry : values)
    if (!ini_can_store(entry)) return std::nullopt;
  std::string result(text);
  for (const IniValue& entry : values) set_value(result, entry);
  return result;
}

std::optional<std::string> ini_read_file(std::string_view game_path) {
  return platform::read_whole_file(platform::resolve_game_path(game_path));
}

std::optional<std::string> ini_read_string(std::string_view game_path, std::string_view section,
                                           std::string_view key) {
  std::optional<std::string> text = ini_read_file(game_path);
  if (!text) return std::nullopt;
  return ini_find(*text, section, key);
}

std::int32_t ini_read_int(std::string_view game_path, std::string_view section, std::string_view key,
                          std::int32_t fallback) {
  std::optional<std::string> value = ini_read_string(game_path, section, key);
  if (!value || value->empty()) return fallback;
  return ini_to_int(*value);
}

bool ini_write_values(std::string_view game_path, const std::vector<IniValue>& values) {
  std::string host_path = platform::resolve_game_path(game_path);
  if (host_path.empty()) return false;
  std::optional<std::string> old_text = platform::read_whole_file(host_path);
  // A file that is there but cannot be read must not be replaced by one holding only the new keys.
  if (!old_text && platform::path_exists(host_path)) return false;
  std::optional<std::string> new_text = ini_with_values(old_text ? *old_text : std::string(), values);
  if (!new_text) return false;
  return platform::replace_file_atomically(host_path, *new_text);
}

bool ini_delete(std::string_view game_path, std::string_view section, std::optional<std::string_view> key) {
  std::string host_path = platform::resolve_game_path(game_path);
  if (host_path.empty()) return false;
  std::optional<std::string> old_text = platform::read_whole_file(host_path);
  if (!old_text) return !platform::path_exists(host_path);  // nothing to delete in a missing file
  std::string new_text = ini_without(*old_text, section, key);
  if (new_text.size() == old_text->size()) return true;  // nothing of that name: nothing to write
  return platform::replace_file_atomically(host_path, new_text);
}

bool ini_write_string(std::string_view game_path, std::string_view section, std::string_view key,
                      std::string_view value) {
  return ini_write_values(game_path, {{std::string(section), std::string(key), std::string(value)}});
}

bool ini_write_int(std::string_view game_path, std::string_view section, std::string_view key,
                   std::int32_t value) {
  return ini_write_string(game_path, section, key, std::to_string(value));
}

}  // namespace talven::shell
