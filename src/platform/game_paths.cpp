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

// Folds ASCII letters and the full-width Latin letters (U+FF21..U+FF3A, U+FF41..U+FF5A, three
// bytes in UTF-8) to one case, as the file systems that the games were made on compare names.
std::string fold_case(std::string_view name) {
  std::string out(name);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c == 0xEF && i + 2 < out.size() && static_cast<unsigned char>(out[i + 1]) == 0xBC) {
      unsigned char t = static_cast<unsigned char>(out[i + 2]);
      if (t >= 0xA1 && t <= 0xBA) {
        out[i + 1] = static_cast<char>(0xBD);
        out[i + 2] = static_cast<char>(t - 0xA1 + 0x81);
      }
      i += 2;
    }
  }
  return out;
}

// The entry of `directory` whose name equals `name` without regard to letter case; the exact
// spelling wins when present, otherwise the first in name order so the choice is stable.
std::string find_entry(const std::string& directory, const std::string& name) {
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return name;
  std::string folded = fold_case(name);
  std::string best;
  while (dirent* e = readdir(dir)) {
    std::string_view entry = e->d_name;
    if (entry == name) {
      best = name;
      break;
    }
    if (fold_case(entry) == folded && (best.empty() || entry < best)) best = entry;
  }
  closedir(dir);
  return best.empty() ? name : best;
}

// Resolves the `/`-separated UTF-8 `path` below the host folder `base` ("" = current folder).
// Returns the path below `base`.
std::string resolve_below(const std::string& base, const std::string& path) {
  auto joined = [&](const std::string& p) { return base.empty() ? p : base + "/" + p; };
  if (path.empty() || exists(joined(path))) return path;

  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }

  std::string resolved;
  bool found_so_far = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (i > 0) resolved += '/';
    if (part.empty() || part == "." || part == "..") {
      resolved += part;
      continue;
    }
    // Once a component is missing, the rest cannot exist either: keep the names as written.
    std::string directory = resolved.empty() ? base : joined(resolved);
    if (resolved == "/" && base.empty()) directory = "/";
    std::string name = found_so_far ? find_entry(directory, part) : part;
    resolved += name;
    if (found_so_far && !exists(joined(resolved))) found_so_far = false;
  }
  return resolved;
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
  return resolve_below(std::string(), game_path_to_utf8(game_path));
}

std::string resolve_game_path_in(std::string_view host_root, std::string_view game_path) {
  std::string root(host_root);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root.empty()) return resolve_game_path(game_path);
  std::string path = game_path_to_utf8(game_path);
  std::size_t skip = path.find_first_not_of('/');
  path.erase(0, skip == std::string::npos ? path.size() : skip);
  if (path.empty()) return root;
  std::string below = resolve_below(root, path);
  return root == "/" ? "/" + below : root + "/" + below;
}

}  // namespace talven::platform
