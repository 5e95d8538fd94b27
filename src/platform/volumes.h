// Finding a mounted medium by its volume label: desktop systems mount removable media in a folder
// named after the label.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace talven::platform {

struct MountRoots {
  // Folders holding one folder per user, each holding the mounted media (/media/USER/LABEL).
  std::vector<std::string> per_user;
  // Folders holding the mounted media directly (/mnt/LABEL).
  std::vector<std::string> direct;
};

// /media and /run/media per user; /mnt and /media directly (older systems mount there).
const MountRoots& default_mount_roots();

// The host path of the mount folder named `label` (UTF-8), or empty when no such medium is mounted.
// A folder spelled exactly like the label wins over one that differs only in letter case; among
// equals the first in the order of the roots and then in name order is taken.
std::string find_volume_mount(std::string_view label, const MountRoots& roots = default_mount_roots());

}  // namespace talven::platform
