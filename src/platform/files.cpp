#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <cerrno>
#include <string>

namespace talven::platform {
namespace {

std::string folder_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes the rename itself durable; a folder that cannot be opened or synced only loses that.
void sync_folder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::optional<std::string> read_whole_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string contents;
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return contents;
}

bool replace_file_atomically(const std::string& path, std::string_view bytes) {
  FileReplacement replacement(path);
  return replacement.is_open() && replacement.file().write(bytes.data(), bytes.size()) && replacement.commit();
}

HostFile::HostFile(HostFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

HostFile& HostFile::operator=(HostFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

HostFile::~HostFile() { close(); }

void HostFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool HostFile::read(void* buffer, std::size_t count, std::size_t* got) {
  std::size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < count) {
    ssize_t n = ::read(fd_, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (got) *got = done;
      return false;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (got) *got = done;
  return true;
}

bool HostFile::write(const void* buffer, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    ssize_t n = ::write(fd_, in, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    in += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t HostFile::seek(std::int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0 || fd_ < 0) return -1;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int64_t HostFile::size() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

HostFile open_for_reading(const std::string& host_path) {
  if (host_path.empty()) return HostFile();
  int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HostFile();
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return HostFile();
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return HostFile(fd);
}

HostFile create_for_writing(const std::string& host_path) {
  if (host_path.empty()) return HostFile();
  int fd = ::open(host_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? HostFile() : HostFile(fd);
}

FileReplacement::FileReplacement(std::string host_path) : target_(std::move(host_path)) {
  if (target_.empty()) return;
  // Replace the file a symbolic link points at, not the link, and keep the old file's mode.
  struct stat old_state;
  bool had_old = ::stat(target_.c_str(), &old_state) == 0;
  if (had_old) {
    if (!S_ISREG(old_state.st_mode)) return;
    char resolved[PATH_MAX];
    if (::realpath(target_.c_str(), resolved) != nullptr) target_ = resolved;
  }
  temporary_ = target_ + ".XXXXXX";
  int fd = ::mkstemp(temporary_.data());
  if (fd < 0) {
    temporary_.clear();
    return;
  }
  // mkstemp creates 0600; a finished file gets the old file's mode or that of any new file.
  mode_t mode;
  if (had_old) {
    mode = old_state.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  file_ = HostFile(fd);
}

FileReplacement::~FileReplacement() {
  if (!temporary_.empty()) {
    file_.close();
    ::unlink(temporary_.c_str());
  }
}

bool FileReplacement::commit() {
  if (!file_.is_open()) return false;
  bool ok = ::fsync(file_.fd_) == 0;
  ok = ::close(std::exchange(file_.fd_, -1)) == 0 && ok;
  if (ok) ok = ::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (ok) {
    temporary_.clear();
    sync_folder(folder_of(target_));
  }
  return ok;
}

std::FILE* open_c_stream(const std::string& path, const char* mode) {
  const int shared = path == "/dev/stdout" ? STDOUT_FILENO : path == "/dev/stderr" ? STDERR_FILENO : -1;
  if (shared < 0 || mode[0] == 'r') return std::fopen(path.c_str(), mode);
  std::fflush(shared == STDOUT_FILENO ? stdout : stderr);
  const int fd = ::fcntl(shared, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, mode);  // never truncates
  if (file == nullptr) ::close(fd);
  return file;
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool make_directory(const std::string& path) {
  if (path.empty()) return false;
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && is_directory(path);
}

}  // namespace talven::platform
