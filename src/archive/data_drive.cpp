#include "archive/data_drive.h"

#include <mutex>

#include "platform/game_paths.h"
#include "platform/text_encoding.h"
#include "platform/sjis.h"

namespace talven::archive {
namespace {

std::mutex g_drive_mutex;
std::string g_data_drive;
std::string g_data_drive_directory;  // CD-DIR

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string locate_data_drive(std::string_view cp932_label, const platform::MountRoots& roots) {
  if (cp932_label.empty()) return {};
  return platform::find_volume_mount(platform::cp932_to_utf8(cp932_label), roots);
}

void set_data_drive(std::string host_folder) {
  std::lock_guard lock(g_drive_mutex);
  g_data_drive = std::move(host_folder);
}

std::string data_drive() {
  std::lock_guard lock(g_drive_mutex);
  return g_data_drive;
}

void set_data_drive_directory(std::string cp932_cd_dir) {
  std::lock_guard lock(g_drive_mutex);
  g_data_drive_directory = std::move(cp932_cd_dir);
}

namespace {
std::string data_drive_directory() {
  std::lock_guard lock(g_drive_mutex);
  return g_data_drive_directory;
}
}  // namespace

std::string data_drive_game_path(std::string_view cd_dir, std::string_view path) {
  if (path.size() >= 2 && path[1] == ':' && !platform::is_sjis_lead(static_cast<unsigned char>(path[0])))
    path.remove_prefix(2);
  // The directory runs up to the last separator; trail bytes 0x5C of double-byte characters are
  // part of their character.
  std::size_t file_start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (platform::is_sjis_lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
    } else if (is_separator(path[i])) {
      file_start = i + 1;
    }
  }
  std::string directory(path.substr(0, file_start));
  std::string_view file = path.substr(file_start);
  auto ends_in_separator = [](const std::string& text) {
    // The last byte is a separator unless it is the trail byte of a double-byte character.
    std::size_t last = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      last = i;
      if (platform::is_sjis_lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ++i;
    }
    return !text.empty() && last + 1 == text.size() && is_separator(text[last]);
  };
  if (directory.empty() || !is_separator(directory.front())) {
    std::string prefix(cd_dir);
    if (!prefix.empty() && !directory.empty() && !ends_in_separator(prefix)) prefix += '\\';
    directory = prefix + directory;
  }
  if (!directory.empty() && !ends_in_separator(directory)) directory += '\\';
  return directory + std::string(file);
}

std::string data_drive_host_path(std::string_view path) {
  std::string drive = data_drive();
  if (drive.empty()) return {};
  return platform::resolve_game_path_in(drive, data_drive_game_path(data_drive_directory(), path));
}

}  // namespace talven::archive
