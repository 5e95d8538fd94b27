#include "platform/file_metadata.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/files.h"

namespace talven::platform {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kEpochDifference = 11644473600ull;

std::uint64_t to_file_time(const struct timespec& t) {
  if (t.tv_sec < -static_cast<std::int64_t>(kEpochDifference)) return 0;
  return (static_cast<std::uint64_t>(t.tv_sec + static_cast<std::int64_t>(kEpochDifference))) * 10000000ull +
         static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

struct timespec from_file_time(std::uint64_t file_time) {
  struct timespec t {};
  t.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(file_time / 10000000ull) - static_cast<std::int64_t>(kEpochDifference));
  t.tv_nsec = static_cast<long>((file_time % 10000000ull) * 100);
  return t;
}

}  // namespace

std::optional<FileInfo> file_info(const std::string& host_path) {
  FileInfo info;
  struct statx sx {};
  if (statx(AT_FDCWD, host_path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return std::nullopt;
  info.is_directory = S_ISDIR(sx.stx_mode);
  info.read_only = (sx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  info.size = info.is_directory ? 0 : sx.stx_size;
  auto convert = [](const struct statx_timestamp& ts) {
    struct timespec t {};
    t.tv_sec = ts.tv_sec;
    t.tv_nsec = ts.tv_nsec;
    return to_file_time(t);
  };
  info.accessed = convert(sx.stx_atime);
  info.written = convert(sx.stx_mtime);
  info.created = (sx.stx_mask & STATX_BTIME) ? convert(sx.stx_btime) : convert(sx.stx_ctime);
  return info;
}

std::optional<std::vector<std::string>> list_directory(const std::string& host_path) {
  DIR* dir = opendir(host_path.empty() ? "." : host_path.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (struct dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  return names;
}

bool set_read_only(const std::string& host_path, bool read_only) {
  struct stat st {};
  if (stat(host_path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (read_only) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return chmod(host_path.c_str(), mode) == 0;
}

bool set_file_times(const std::string& host_path, const std::uint64_t* accessed, const std::uint64_t* written) {
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = times[1].tv_sec = 0;
  if (accessed != nullptr) times[0] = from_file_time(*accessed);
  if (written != nullptr) times[1] = from_file_time(*written);
  return utimensat(AT_FDCWD, host_path.c_str(), times, 0) == 0;
}

bool can_write_file(const std::string& host_path) {
  int fd = open(host_path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool can_read_file(const std::string& host_path) {
  int fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool regular = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  close(fd);
  return regular;
}

bool copy_file(const std::string& source, const std::string& target, bool fail_if_exists) {
  struct stat st {};
  if (stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (fail_if_exists && path_exists(target)) return false;
  std::optional<std::string> bytes = read_whole_file(source);
  if (!bytes) return false;
  if (!replace_file_atomically(target, *bytes)) return false;
  if (!path_exists(target)) return false;
  chmod(target.c_str(), st.st_mode & 07777);
  return true;
}

bool move_file(const std::string& source, const std::string& target) {
  struct stat st {};
  if (lstat(source.c_str(), &st) != 0) return false;
  if (path_exists(target)) return false;
  if (rename(source.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV || !S_ISREG(st.st_mode)) return false;
  if (!copy_file(source, target, true)) return false;
  return unlink(source.c_str()) == 0;
}

bool delete_file(const std::string& host_path) {
  struct stat st {};
  if (lstat(host_path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(host_path.c_str()) == 0;
}

bool remove_empty_directory(const std::string& host_path) { return rmdir(host_path.c_str()) == 0; }

bool file_time_to_local(std::uint64_t file_time, CalendarTime& out) {
  struct timespec t = from_file_time(file_time);
  struct tm local {};
  if (localtime_r(&t.tv_sec, &local) == nullptr) return false;
  out.year = static_cast<std::uint16_t>(local.tm_year + 1900);
  out.month = static_cast<std::uint16_t>(local.tm_mon + 1);
  out.day_of_week = static_cast<std::uint16_t>(local.tm_wday);
  out.day = static_cast<std::uint16_t>(local.tm_mday);
  out.hour = static_cast<std::uint16_t>(local.tm_hour);
  out.minute = static_cast<std::uint16_t>(local.tm_min);
  out.second = static_cast<std::uint16_t>(local.tm_sec);
  out.milliseconds = static_cast<std::uint16_t>(t.tv_nsec / 1000000);
  return true;
}

bool local_to_file_time(const CalendarTime& local, std::uint64_t& out) {
  if (local.year < 1601 || local.year > 30827 || local.month < 1 || local.month > 12 || local.day < 1 ||
      local.day > 31 || local.hour > 23 || local.minute > 59 || local.second > 59 || local.milliseconds > 999)
    return false;
  struct tm t {};
  t.tm_year = local.year - 1900;
  t.tm_mon = local.month - 1;
  t.tm_mday = local.day;
  t.tm_hour = local.hour;
  t.tm_min = local.minute;
  t.tm_sec = local.second;
  t.tm_isdst = -1;
  time_t seconds = mktime(&t);
  if (seconds == static_cast<time_t>(-1) && !(t.tm_year == 69 && t.tm_mon == 11 && t.tm_mday == 31)) return false;
  if (t.tm_mday != local.day) return false;  // 31 February and the like
  struct timespec ts {};
  ts.tv_sec = seconds;
  ts.tv_nsec = static_cast<long>(local.milliseconds) * 1000000;
  out = to_file_time(ts);
  return true;
}

}  // namespace talven::platform
