#include "platform/game_paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace talven::platform {
namespace {

bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// The entry of `directory` whose name equals `name` without regard to ASCII letter case; the
// exact spelling wins when present, otherwise the first in name order so the choice is stable.
std::string find_entry(const std::string& directory, const std::string& name) {
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return name;
  std::string best;
  while (dirent* e = readdir(dir)) {
    std::string_view entry = e->d_name;
    if (entry == name) {
      best = name;
      break;
    }
    if (equal_ignoring_case(entry, name) && (best.empty() || entry < best)) best = entry;
  }
  closedir(dir);
  return best.empty() ? name : best;
}

}  // namespace

std::string game_path_to_utf8(std::string_view game_path) {
  // Convert runs between separators, so a trail byte 0x5C is never taken for a separator.
  std::string out;
  std::string run;
  for (std::size_t i = 0; i < game_path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(game_path[i]);
    if (is_lead_byte(c) && i + 1 < game_path.size()) {
      run += game_path[i];
      run += game_path[++i];
    } else if (c == '\\' || c == '/') {
      out += cp932_to_utf8(run);
      run.clear();
      out += '/';
    } else {
      run += static_cast<char>(c);
    }
  }
  out += cp932_to_utf8(run);
  return out;
}

std::string resolve_game_path(std::string_view game_path) {
  std::string path = game_path_to_utf8(game_path);
  if (path.empty() || exists(path)) return path;

  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }

  std::string resolved;
  bool absolute = path.front() == '/';
  bool found_so_far = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (i > 0) resolved += '/';
    if (part.empty() || part == "." || part == "..") {
      resolved += part;
      continue;
    }
    // Once a component is missing, the rest cannot exist either: keep the names as written.
    std::string directory = resolved.empty() && !absolute ? std::string() : resolved;
    std::string name = found_so_far ? find_entry(directory, part) : part;
    resolved += name;
    if (found_so_far && !exists(resolved)) found_so_far = false;
  }
  return resolved;
}

}  // namespace talven::platform
