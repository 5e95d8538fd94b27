#include "platform/volumes.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace talven::platform {
namespace {

std::vector<std::string> entries_of(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

// Every folder that may hold a mounted medium, in search order.
std::vector<std::string> mount_parents(const MountRoots& roots) {
  std::vector<std::string> parents;
  for (const std::string& root : roots.per_user)
    for (const std::string& user : entries_of(root))
      if (is_folder(root + "/" + user)) parents.push_back(root + "/" + user);
  for (const std::string& root : roots.direct) parents.push_back(root);
  return parents;
}

}  // namespace

const MountRoots& default_mount_roots() {
  static const MountRoots roots{{"/media", "/run/media"}, {"/mnt", "/media"}};
  return roots;
}

std::string find_volume_mount(std::string_view label, const MountRoots& roots) {
  if (label.empty() || label.find('/') != std::string_view::npos || label == "." || label == "..")
    return {};
  std::vector<std::string> parents = mount_parents(roots);
  for (const std::string& parent : parents) {
    std::string path = parent + "/" + std::string(label);
    if (is_folder(path)) return path;
  }
  for (const std::string& parent : parents)
    for (const std::string& name : entries_of(parent))
      if (equal_ignoring_ascii_case(name, label) && is_folder(parent + "/" + name)) return parent + "/" + name;
  return {};
}

}  // namespace talven::platform
