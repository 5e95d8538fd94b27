// Whole-file reading and crash-safe replacement, directories. Paths are host paths (UTF-8, `/`).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace talven::platform {

// The whole contents of a regular file; nothing when it is missing, a directory or unreadable.
std::optional<std::string> read_whole_file(const std::string& path);

// Replaces `path` (or creates it) with `bytes` so that no reader and no crash ever sees a mix of
// old and new contents: the bytes go to a new file in the same folder, reach the disk, and that file
// is renamed over the old one. A symbolic link is followed, so the file it names is replaced. The
// old file's permission bits are kept. On any failure the old file is untouched, the temporary file
// is removed and the result is false.
bool replace_file_atomically(const std::string& path, std::string_view bytes);

// Anything at `path` (file, directory, or a link to one).
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// A C stream on `path` opened with the C `mode`. "/dev/stdout" and "/dev/stderr" are the
// process's own streams, shared rather than opened anew: writing starts where the terminal or the
// file they are redirected to stands, and nothing already written is truncated or overwritten.
std::FILE* open_c_stream(const std::string& path, const char* mode);

// Creates one directory level (its parent must exist). True when the directory exists afterwards.
bool make_directory(const std::string& path);


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

bool is_regular_file(const std::string& host_path);

}  // namespace talven::platform
