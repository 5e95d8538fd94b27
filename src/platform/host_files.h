// Reading and writing host files by host path (UTF-8). Game paths are turned into host paths by
// game_paths.h first; nothing here knows about cp932.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace talven::platform {

// An open host file. Moves, never copies; closes itself when dropped.
class HostFile {
 public:
  HostFile() = default;
  HostFile(HostFile&& other) noexcept;
  HostFile& operator=(HostFile&& other) noexcept;
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;
  ~HostFile();

  bool is_open() const { return fd_ >= 0; }
  void close();

  // Reads up to `count` bytes, retrying until `count` bytes came or the file ended. `got` receives
  // the number read. False on an error of the system.
  bool read(void* buffer, std::size_t count, std::size_t* got);
  // Writes all `count` bytes; false when the system refused or wrote less.
  bool write(const void* buffer, std::size_t count);
  // Moves the file position (origin 0 start, 1 current, 2 end); the new position or -1.
  std::int64_t seek(std::int64_t offset, int origin);
  // The file's size in bytes, or -1.
  std::int64_t size() const;

 private:
  friend HostFile open_for_reading(const std::string&);
  friend HostFile create_for_writing(const std::string&);
  friend class FileReplacement;
  explicit HostFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Opens an existing regular file for reading, hinting sequential access. Not open on failure.
HostFile open_for_reading(const std::string& host_path);
// Creates or truncates a file for writing. Not open on failure.
HostFile create_for_writing(const std::string& host_path);

// Writes a new version of a file without ever leaving a half-written one in its place: the bytes go
// to a temporary file beside the target, which replaces the target only on commit. Dropping the
// object without a successful commit removes the temporary file and leaves the target untouched.
class FileReplacement {
 public:
  explicit FileReplacement(std::string host_path);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

  // False when the temporary file could not be created (the directory is missing or not writable).
  bool is_open() const { return file_.is_open(); }
  HostFile& file() { return file_; }
  // Flushes the data to the disk and renames the temporary file over the target.
  bool commit();

 private:
  std::string target_;
  std::string temporary_;
  HostFile file_;
};

bool is_directory(const std::string& host_path);
bool is_regular_file(const std::string& host_path);

}  // namespace talven::platform
