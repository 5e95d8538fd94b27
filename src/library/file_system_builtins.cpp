// Folders, files, file times and directory searches. Game paths are cp932 with `\` or `/`, found
// without regard to letter case; results that name host folders come back in cp932.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "library/library_builtins.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/file_metadata.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "platform/user_folders.h"
#include "platform/sjis.h"
#include "vm/call_gate.h"

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeHidden = 0x02;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr std::size_t kMaxPath = 260;

std::optional<std::string> host_path_argument(Address arguments, int i) {
  Address a = argument_word(arguments, i);
  if (a == 0) return std::nullopt;
  auto text = vm::load_string(a);
  if (!text || text->empty()) return std::nullopt;
  return platform::resolve_game_path(*text);
}

std::uint32_t attributes_of(const std::string& name, const platform::FileInfo& info) {
  std::uint32_t attributes = info.is_directory ? kAttributeDirectory : kAttributeArchive;
  if (info.read_only) attributes |= kAttributeReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= kAttributeHidden;
  return attributes;
}

std::string last_component(const std::string& host_path) {
  std::size_t slash = host_path.find_last_of('/');
  return slash == std::string::npos ? host_path : host_path.substr(slash + 1);
}

// ---- Wildcards -------------------------------------------------------------------------------

unsigned char fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

std::size_t char_length(std::string_view s, std::size_t i) {
  return (platform::is_sjis_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// `*` any run of characters, `?` one character; letters without regard to case.
bool wildcard_match(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*') {
    std::string_view rest = pattern.substr(1);
    for (std::size_t i = 0;; i += char_length(name, i)) {
      if (wildcard_match(rest, name.substr(i))) return true;
      if (i >= name.size()) return false;
    }
  }
  if (name.empty()) return false;
  std::size_t pl = char_length(pattern, 0), nl = char_length(name, 0);
  if (pattern[0] == '?') return wildcard_match(pattern.substr(1), name.substr(nl));
  if (pl != nl) return false;
  for (std::size_t k = 0; k < pl; ++k) {
    unsigned char a = static_cast<unsigned char>(pattern[k]), b = static_cast<unsigned char>(name[k]);
    if (pl == 1 ? fold(a) != fold(b) : a != b) return false;
  }
  return wildcard_match(pattern.substr(pl), name.substr(nl));
}

// ---- Directory searches ----------------------------------------------------------------------

struct Match {
  std::string name;  // cp932
  platform::FileInfo info;
};

// The entries of the pattern's folder whose names match its last component, sorted by name.
std::vector<Match> find_matches(std::string_view pattern) {
  std::size_t split = 0;
  for (std::size_t i = 0; i < pattern.size(); i += char_length(pattern, i))
    if (pattern[i] == '\\' || pattern[i] == '/') split = i + 1;
  std::string_view folder = pattern.substr(0, split);
  std::string name_pattern(pattern.substr(split));
  if (name_pattern == "*.*") name_pattern = "*";
  std::vector<Match> matches;
  if (name_pattern.empty()) return matches;
  std::string host_folder = folder.empty() ? std::string() : platform::resolve_game_path(folder);
  if (!host_folder.empty() && host_folder.back() != '/') host_folder += '/';
  auto names = platform::list_directory(host_folder.empty() ? "." : host_folder);
  if (!names) return matches;
  std::sort(names->begin(), names->end());
  for (const std::string& host_name : *names) {
    std::string name = platform::utf8_to_cp932(host_name);
    if (!wildcard_match(name_pattern, name)) continue;
    auto info = platform::file_info(host_folder + host_name);
    if (!info) continue;
    matches.push_back(Match{std::move(name), *info});
  }
  return matches;
}

struct Search {
  bool in_use = false;
  std::vector<Match> matches;
  std::size_t next = 0;
};
constexpr std::size_t kSearches = 256;
std::array<Search, kSearches> g_searches;

// The platform's find record: attributes, three file times, size high and low, two reserved
// words, the 260-byte name and the 14-byte short name (320 bytes with padding).
constexpr std::uint32_t kFindRecordSize = 320;

bool fill_find_record(Address record, const Match& m) {
  std::uint8_t* p = vm::checked_pointer(record, kFindRecordSize);
  if (p == nullptr) return false;
  std::memset(p, 0, kFindRecordSize);
  auto put32 = [&](std::size_t offset, std::uint32_t v) { std::memcpy(p + offset, &v, 4); };
  auto put_time = [&](std::size_t offset, std::uint64_t t) {
    put32(offset, static_cast<std::uint32_t>(t));
    put32(offset + 4, static_cast<std::uint32_t>(t >> 32));
  };
  put32(0, attributes_of(m.name, m.info));
  put_time(4, m.info.created);
  put_time(12, m.info.accessed);
  put_time(20, m.info.written);
  put32(28, static_cast<std::uint32_t>(m.info.size >> 32));
  put32(32, static_cast<std::uint32_t>(m.info.size));
  std::size_t length = platform::sjis_safe_length(m.name.c_str(), std::min(m.name.size(), kMaxPath - 1));
  std::memcpy(p + 44, m.name.data(), length);
  return true;
}

Search* search(std::uint32_t handle) {
  if (handle == 0 || handle > kSearches || !g_searches[handle - 1].in_use) return nullptr;
  return &g_searches[handle - 1];
}

// ---- Times -----------------------------------------------------------------------------------

constexpr std::uint32_t kSystemTimeSize = 16;

bool time_addresses_ok(Address arguments) {
  for (int i = 1; i <= 3; ++i) {
    Address a = argument_word(arguments, i);
    if (a != 0 && !vm::usable_range(a, kSystemTimeSize)) return false;
  }
  return true;
}

// ---- Special folders -------------------------------------------------------------------------

std::optional<std::string> special_folder(std::uint32_t id) {
  switch (id & 0xFFu) {
    case 0:   // desktop
    case 16:  // desktop folder
      return platform::user_directory("DESKTOP", "Desktop");
    case 5: return platform::user_directory("DOCUMENTS", "Documents");
    case 13: return platform::user_directory("MUSIC", "Music");
    case 14: return platform::user_directory("VIDEOS", "Videos");
    case 39: return platform::user_directory("PICTURES", "Pictures");
    case 21: return platform::user_directory("TEMPLATES", "Templates");
    case 40: return platform::home_folder();
    case 26:  // application data
    case 28:  // local application data
      return platform::base_directory("XDG_DATA_HOME", ".local/share");
    case 20: {
      auto data = platform::base_directory("XDG_DATA_HOME", ".local/share");
      if (data) return *data + "/fonts";
      return std::nullopt;
    }
    case 32: return platform::base_directory("XDG_CACHE_HOME", ".cache");
    case 36: return std::string("/usr/share");  // the system's folder
    case 37: return std::string("/usr/lib");    // the system's library folder
    default: return std::nullopt;
  }
}

// The cp932 folder with a separator appended unless it ends in one; empty when unusable.
std::string folder_text(const std::string& host_folder) {
  std::string text = platform::utf8_to_cp932(host_folder);
  if (text.empty()) return text;
  std::size_t last = 0;
  for (std::size_t i = 0; i < text.size(); i += char_length(text, i)) last = i;
  if (text[last] != '\\' && text[last] != '/') text += '\\';
  return text;
}

}  // namespace

// ---- Folders ---------------------------------------------------------------------------------

std::uint32_t bi_dir_getpath(Address arguments) {
  Address buffer = argument_word(arguments, 1);
  if (buffer == 0) return 0;
  auto folder = special_folder(argument_word(arguments, 0));
  if (!folder || folder->empty()) return 0;
  std::string text = folder_text(*folder);
  if (text.empty() || text.size() >= kMaxPath) return 0;
  return vm::store_string(buffer, text, static_cast<std::uint32_t>(text.size() + 1)) ? static_cast<std::uint32_t>(text.size()) : 0;
}

std::uint32_t bi_dir_getcur(Address arguments) {
  std::string current = platform::current_directory();
  if (current.empty()) return 0;
  std::string text = folder_text(current);
  if (text.size() > kMaxPath) return 0;
  return vm::store_string(argument_word(arguments, 0), text, static_cast<std::uint32_t>(text.size() + 1))
             ? static_cast<std::uint32_t>(text.size())
             : 0;
}

std::uint32_t bi_dir_setcur(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  return path && platform::change_directory(*path) ? 1 : 0;
}

std::uint32_t bi_dir_create(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  if (!path || platform::path_exists(*path)) return 0;
  return platform::make_directory(*path) ? 1 : 0;
}

std::uint32_t bi_dir_delete(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  return path && platform::remove_empty_directory(*path) ? 1 : 0;
}

// ---- Files -----------------------------------------------------------------------------------

std::uint32_t bi_file_copy(Address arguments) {
  auto source = host_path_argument(arguments, 0);
  auto target = host_path_argument(arguments, 1);
  if (!source || !target) return 0;
  return platform::copy_file(*source, *target, argument_word(arguments, 2) != 0) ? 1 : 0;
}

std::uint32_t bi_file_move(Address arguments) {
  auto source = host_path_argument(arguments, 0);
  auto target = host_path_argument(arguments, 1);
  if (!source || !target) return 0;
  return platform::move_file(*source, *target) ? 1 : 0;
}

std::uint32_t bi_file_delete(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  return path && platform::delete_file(*path) ? 1 : 0;
}

std::uint32_t bi_file_check(Address arguments) {
  Address a = argument_word(arguments, 0);
  auto pattern = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!pattern) return 0;
  return find_matches(*pattern).empty() ? 0 : 1;
}

std::uint32_t bi_file_size(Address arguments) {
  Address a = argument_word(arguments, 0);
  auto pattern = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!pattern) return 0;
  auto matches = find_matches(*pattern);
  return matches.empty() ? 0 : static_cast<std::uint32_t>(matches.front().info.size);
}

std::uint32_t bi_file_getattr(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  auto info = path ? platform::file_info(*path) : std::nullopt;
  if (!info) return 0xFFFFFFFFu;
  return attributes_of(last_component(*path), *info);
}

std::uint32_t bi_file_setattr(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  if (!path || !platform::file_info(*path)) return 0;
  return platform::set_read_only(*path, (argument_word(arguments, 1) & kAttributeReadOnly) != 0) ? 1 : 0;
}

std::uint32_t bi_file_gettime(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  if (!path || !time_addresses_ok(arguments) || !platform::can_read_file(*path)) return 0;
  auto info = platform::file_info(*path);
  if (!info) return 0;
  const std::uint64_t times[3] = {info->created, info->accessed, info->written};
  for (int i = 0; i < 3; ++i) {
    Address record = argument_word(arguments, i + 1);
    platform::CalendarTime local{};
    if (record != 0 && platform::file_time_to_local(times[i], local)) vm::store(record, local);
  }
  return 1;
}

std::uint32_t bi_file_settime(Address arguments) {
  auto path = host_path_argument(arguments, 0);
  if (!path || !time_addresses_ok(arguments) || !platform::can_write_file(*path)) return 0;
  std::uint64_t times[3] = {};
  bool given[3] = {};
  for (int i = 0; i < 3; ++i) {
    Address record = argument_word(arguments, i + 1);
    if (record == 0) continue;
    platform::CalendarTime local{};
    vm::load(record, local);
    if (!platform::local_to_file_time(local, times[i])) return 0;
    given[i] = true;
  }
  return platform::set_file_times(*path, given[1] ? &times[1] : nullptr, given[2] ? &times[2] : nullptr) ? 1 : 0;
}

// ---- Directory searches ----------------------------------------------------------------------

std::uint32_t bi_find_first(Address arguments) {
  Address a = argument_word(arguments, 0);
  Address record = argument_word(arguments, 1);
  auto pattern = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!pattern || !vm::usable_range(record, kFindRecordSize)) return 0xFFFFFFFFu;
  auto matches = find_matches(*pattern);
  if (matches.empty()) return 0xFFFFFFFFu;
  for (std::size_t i = 0; i < kSearches; ++i) {
    if (g_searches[i].in_use) continue;
    fill_find_record(record, matches.front());
    g_searches[i] = Search{true, std::move(matches), 1};
    return static_cast<std::uint32_t>(i + 1);
  }
  return 0xFFFFFFFFu;
}

std::uint32_t bi_find_next(Address arguments) {
  Search* s = search(argument_word(arguments, 0));
  Address record = argument_word(arguments, 1);
  if (s == nullptr || s->next >= s->matches.size() || !vm::usable_range(record, kFindRecordSize)) return 0;
  fill_find_record(record, s->matches[s->next++]);
  return 1;
}

std::uint32_t bi_find_close(Address arguments) {
  Search* s = search(argument_word(arguments, 0));
  if (s == nullptr) return 0;
  *s = Search{};
  return 1;
}

void reset_searches() { g_searches.fill(Search()); }

}  // namespace talven::library
