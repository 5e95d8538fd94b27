#include "platform/user_folders.h"

#include <cstdlib>
#include <string_view>

#include "platform/files.h"

namespace talven::platform {
namespace {

std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The value of `kName` (XDG_DOCUMENTS_DIR...) in a user-dirs.dirs text, expanded; empty when absent
// or unusable. The file is shell syntax restricted to `NAME="$HOME/path"` or `NAME="/absolute/path"`.
std::string user_dirs_entry(std::string_view text, const std::string& home, std::string_view kName) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;

    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] == '#') continue;
    line.remove_prefix(start);
    if (line.substr(0, kName.size()) != kName) continue;
    line.remove_prefix(kName.size());
    std::size_t eq = line.find_first_not_of(" \t");
    if (eq == std::string_view::npos || line[eq] != '=') continue;
    line.remove_prefix(eq + 1);

    std::string value;
    if (!line.empty() && line.front() == '"') {
      for (std::size_t i = 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
      }
    } else {
      value = std::string(line.substr(0, line.find_first_of(" \t\r")));
    }
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
      return without_trailing_slashes(home + value.substr(5));
    if (!value.empty() && value.front() == '/') return without_trailing_slashes(value);
    return "";
  }
  return "";
}

}  // namespace

std::optional<std::string> documents_folder() { return user_directory("DOCUMENTS", "Documents"); }

std::optional<std::string> user_directory(std::string_view kind, std::string_view fallback) {
  std::string home = without_trailing_slashes(environment("HOME"));
  if (home.empty()) return std::nullopt;

  std::string config_home = environment("XDG_CONFIG_HOME");
  if (config_home.empty() || config_home.front() != '/') config_home = home + "/.config";
  if (auto text = read_whole_file(without_trailing_slashes(config_home) + "/user-dirs.dirs")) {
    std::string entry = user_dirs_entry(*text, home, "XDG_" + std::string(kind) + "_DIR");
    if (!entry.empty()) return entry;
  }
  return fallback.empty() ? home : home + "/" + std::string(fallback);
}

std::optional<std::string> home_folder() {
  std::string home = without_trailing_slashes(environment("HOME"));
  if (home.empty()) return std::nullopt;
  return home;
}

std::optional<std::string> base_directory(const char* variable, std::string_view fallback) {
  std::string home = without_trailing_slashes(environment("HOME"));
  std::string value = environment(variable);
  if (!value.empty() && value.front() == '/') return without_trailing_slashes(value);
  if (home.empty()) return std::nullopt;
  return home + "/" + std::string(fallback);
}

}  // namespace talven::platform
