// File-system services the script library needs beyond reading and writing: directory listings,
// attributes and times, copying, moving, deleting, directories. Paths are host paths (UTF-8, `/`).
#pragma once
#include <cstdint>

#include "platform/clock.h"
#include <optional>
#include <string>
#include <vector>

namespace talven::platform {

// Times are 100-nanosecond intervals since 1601-01-01 UTC, the unit of the games' file times.
struct FileInfo {
  bool is_directory = false;
  bool read_only = false;  // nobody may write it
  std::uint64_t size = 0;
  std::uint64_t created = 0;  // birth time where the file system keeps one, else the change time
  std::uint64_t accessed = 0;
  std::uint64_t written = 0;
};

std::optional<FileInfo> file_info(const std::string& host_path);

// The names in a folder, "." and ".." included, in the order the system lists them. Nothing when
// the folder cannot be read.
std::optional<std::vector<std::string>> list_directory(const std::string& host_path);

// Clears or sets the write permission bits (the read-only attribute).
bool set_read_only(const std::string& host_path, bool read_only);

// Sets the given times (nullptr: keep); the creation time cannot be set on this platform and is
// ignored. False when the file does not exist or the times cannot be set.
bool set_file_times(const std::string& host_path, const std::uint64_t* accessed, const std::uint64_t* written);

// True when the file can be opened for writing (the check before setting times).
bool can_write_file(const std::string& host_path);
bool can_read_file(const std::string& host_path);

// Copies a regular file with its permission bits; refuses when `fail_if_exists` and the target
// exists. The target is replaced only once the copy is complete.
bool copy_file(const std::string& source, const std::string& target, bool fail_if_exists);

// Moves a file or folder; refuses when the target exists. Across file systems a file is copied and
// the source removed.
bool move_file(const std::string& source, const std::string& target);

bool delete_file(const std::string& host_path);       // regular files and links, not folders
bool remove_empty_directory(const std::string& host_path);

// Conversions between the 1601-based file time and the local calendar time of the 16-byte record
// (year, month, day of week, day, hour, minute, second, milliseconds).
// File times are shown to scripts as the same 16-byte record as the clock's local time.
using CalendarTime = SystemTime;
bool file_time_to_local(std::uint64_t file_time, CalendarTime& out);
// False for a date the calendar does not have (month 13, day 0, ...).
bool local_to_file_time(const CalendarTime& local, std::uint64_t& out);

}  // namespace talven::platform
