// Opening a game's read-only data files by game path: a loose file on disk or a member of a ".bin"
// archive named after a leading part of the path, read the same way either way.
#pragma once
#include <cstdint>
#include <string>

namespace talven::archive {

struct FastFile;

// Where OpenFastFile looks: bit value 2 loose files, bit value 1 archives (the FileSystem
// setting; a value with neither bit means both). Start-up sets it once; 1 until then.
inline constexpr int kDefaultFileSystem = 1;
void set_file_system(int file_system);
int file_system();

// Opens `path` (cp932, `\` or `/`), positioned at the first byte of the data. Loose files are
// looked for first when `FileSystem` has bit value 2, archives when it has bit value 1. On failure
// a level-2 message is reported and null returned.
FastFile* OpenFastFile(const char* path);

// Where OpenFastFile looks for `path` under the current FileSystem setting, in words (UTF-8), for
// messages that explain a file that could not be found.
std::string describe_lookup(const char* path);

// Reads the data file `path` whole, as OpenFastFile finds it (its failures are reported as there).
enum class DataFileStatus { ok, open_failed, read_failed };
DataFileStatus read_whole_data_file(const char* path, std::string& bytes);

// Closes the file and frees the handle: 1, or 0 for null.
int CloseFastFile(FastFile* file);

// The data's size in bytes, or -1 for null.
std::int64_t GetFastFileSize(FastFile* file);

// Moves to `offset` from the start (origin 0), the current position (1) or the end (2) of the
// data; the new position from the start of the data, or -1 (the position then stays).
std::int64_t SeekFastFile(FastFile* file, std::int32_t offset, int origin);

// Reads up to `count` bytes at the current position (never past the end of an archive member);
// the number read goes to `bytes_read` when given. Nonzero on success, 0 on failure or for null.
int ReadFastFile(FastFile* file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);

}  // namespace talven::archive
