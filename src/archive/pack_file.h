// Data files that may be packed: opened through the archive reader, decompressed whole into
// memory when they carry the pack header, passed through unchanged otherwise.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace talven::archive {

struct ExpFile;

// The largest content an ExpFile serves, packed or not: scripts see content sizes and positions as
// signed 32-bit words (pack_size, pack_seek, pack_read, mload), so larger files fail to open.
inline constexpr std::uint32_t kMaxContentSize = 0x7FFFFFFF;

// Opens `path` (a game path, see OpenFastFile). Null on failure, after a level-2 message where one
// applies. A packed file fails without a message of its own when its header declares more than
// kMaxContentSize bytes or more than its codes can decode to, or when the codes do not decode;
// its content takes memory only as far as the codes fill it (the rest reads as zero bytes).
ExpFile* OpenExpFile(const char* path);
// Frees the handle and what it holds: 1, or 0 for null.
int CloseExpFile(ExpFile* file);
// The content's size, or -1 for null.
std::int64_t GetExpFileSize(ExpFile* file);
// Moves to `offset` from the start (origin 0), the current position (1) or the end (2); the new
// position, or -1 when the target lies outside the content.
std::int64_t SeekExpFile(ExpFile* file, std::int32_t offset, int origin);
// Reads up to `count` bytes; the number read goes to `bytes_read` when given. 1, or 0 on failure.
int ReadExpFile(ExpFile* file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);

// The whole content of `path` into `out` (a std::string or a byte vector): false when it cannot be
// opened or read, or holds more than `max_bytes`.
template <typename Bytes>
bool read_whole_exp_file(const char* path, std::uint64_t max_bytes, Bytes& out) {
  ExpFile* file = OpenExpFile(path);
  if (file == nullptr) return false;
  const std::int64_t size = GetExpFileSize(file);
  bool ok = size >= 0 && std::uint64_t(size) <= max_bytes;
  if (ok) {
    out.resize(static_cast<std::size_t>(size));
    std::uint32_t got = 0;
    ok = size == 0 || (ReadExpFile(file, out.data(), static_cast<std::uint32_t>(size), &got) && got == size);
  }
  CloseExpFile(file);
  return ok;
}

// Writes `length` bytes of `block` as a pack file at game path `path`, replacing any file of that
// name only once the new one is complete. 1 on success; 0 when the file cannot be created, the
// block is empty (a file holding only the header is then written) or a write failed.
int Compress(const char* path, const void* block, std::uint32_t length);

// The same at a host path, for the tools; false when the file could not be written.
bool write_pack_file(const std::string& host_path, const void* block, std::size_t length);

// The logic of the script's pack built-ins over the 16 pack slots; handles are slot + 1. The call
// gate checks the script addresses and passes host pointers.
std::int32_t pack_save(const char* path, const void* block, std::int32_t length);
std::int32_t pack_open(const char* path);
std::int32_t pack_close(std::int32_t handle);
std::int32_t pack_read(std::int32_t handle, void* buffer, std::uint32_t count);
std::int32_t pack_seek(std::int32_t handle, std::int32_t offset, std::int32_t origin);
std::int32_t pack_size(std::int32_t handle);
// Closes every slot, as when the script program is reset or ends.
void close_pack_slots();

// Replaces the memory of packed content (realloc's contract: `block`, null for a new one, grown or
// shrunk to `size` bytes, null on failure; released with free) so tests can see what an open asks
// for and refuse it. Null restores realloc.
using ContentAllocator = void* (*)(void* block, std::size_t size);
void set_content_allocator_for_testing(ContentAllocator allocator);

}  // namespace talven::archive
