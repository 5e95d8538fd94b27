// The data drive of a disc-based game: the mounted medium whose folder carries the disc's volume
// label. Files not found in the game's folder are looked for there as well.
#pragma once
#include <string>
#include <string_view>

#include "platform/volumes.h"

namespace talven::archive {

// The mount folder of the medium labelled `cp932_label` (the `CD-ROM` setting), or empty.
std::string locate_data_drive(std::string_view cp932_label,
                              const platform::MountRoots& roots = platform::default_mount_roots());

// Sets the data drive (a host folder; empty = none). Start-up does this once, before any file is
// opened.
void set_data_drive(std::string host_folder);
std::string data_drive();
// The game's folder on the data drive (the CD-DIR setting, cp932); start-up sets it with the drive.
void set_data_drive_directory(std::string cp932_cd_dir);

// Where the game path `path` lies on the data drive, as a game path relative to the medium's root:
// any drive is dropped, and a directory that does not start at the root is put below `cd_dir`
// (the `CD-DIR` setting), with a `\` between them when `cd_dir` ends in no separator.
std::string data_drive_game_path(std::string_view cd_dir, std::string_view path);

// The host path of `path` on the data drive (resolved without regard to case), or empty when
// there is no data drive.
std::string data_drive_host_path(std::string_view path);

}  // namespace talven::archive
