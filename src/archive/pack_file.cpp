#include "archive/pack_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "archive/fast_file.h"
#include "archive/pack_codec.h"
#include "platform/game_paths.h"
#include "platform/files.h"
#include "platform/text_encoding.h"
#include "vm/report.h"

namespace talven::archive {

struct ExpFile {
  std::int32_t packed = 0;
  std::uint8_t* data = nullptr;  // the first `decoded` bytes of the content (packed files only)
  std::uint32_t decoded = 0;     // the rest, up to `size`, are zero bytes never stored
  std::uint32_t position = 0;
  std::uint32_t size = 0;
  FastFile* file = nullptr;
};

namespace {

ContentAllocator g_allocate_content = nullptr;

// The content of a packed file whose header was read from `in`; false when the file is damaged
// (the declared size is refused, or the codes do not decode) or memory is refused.
bool unpack_content(BitReader& in, FastFile* file, ExpFile& handle) {
  std::uint32_t size = 0;
  if (!in.get(32, size)) return false;
  // A header is only believed as far as the file's codes could fill it, so that a short file can
  // never make an open reserve gigabytes.
  const std::int64_t file_size = GetFastFileSize(file);
  const std::uint64_t code_bytes = file_size > std::int64_t{kPackHeaderSize} ? file_size - kPackHeaderSize : 0;
  if (size > kMaxContentSize || size > max_unpacked_size(code_bytes)) return false;
  DecodedContent content;
  if (decompress_codes(in, size, content, g_allocate_content) != CodecStatus::ok) return false;
  handle.packed = 1;
  handle.size = content.size();
  handle.decoded = content.length();
  handle.data = content.release();
  return true;
}

// The context is the address of the FastFile pointer, which is set once the file is open.
bool read_fast_file(void* context, std::uint8_t* buffer, std::size_t capacity, std::size_t* got) {
  std::uint32_t n = 0;
  int ok = ReadFastFile(*static_cast<FastFile**>(context), buffer, static_cast<std::uint32_t>(capacity), &n);
  *got = n;
  return ok != 0;
}

bool write_host_file(void* context, const std::uint8_t* bytes, std::size_t count) {
  return static_cast<platform::HostFile*>(context)->write(bytes, count);
}

enum class PackWrite { written, header_only, not_created, failed };

// Writes a pack file of `length` bytes (an empty block gives the header alone).
PackWrite write_pack(const std::string& host_path, const void* block, std::size_t length) {
  platform::FileReplacement replacement(host_path);
  if (!replacement.is_open()) return PackWrite::not_created;
  BitWriter out(write_host_file, &replacement.file());
  if (!out.is_ready()) return PackWrite::failed;
  bool empty = block == nullptr || length == 0;
  bool ok = out.put(kPackMagic, 32) && out.put(empty ? 0u : static_cast<std::uint32_t>(length), 32);
  if (ok && !empty) ok = compress_codes(static_cast<const std::uint8_t*>(block), length, out) == CodecStatus::ok;
  ok = out.finish() && ok;
  if (!ok || !replacement.commit()) return PackWrite::failed;
  return empty ? PackWrite::header_only : PackWrite::written;
}

std::mutex g_slots_mutex;
constexpr int kPackSlots = 16;
ExpFile* g_slots[kPackSlots] = {};

ExpFile* slot_of(std::int32_t handle) {
  if (handle < 1 || handle > kPackSlots) return nullptr;
  return g_slots[handle - 1];
}

}  // namespace

void set_content_allocator_for_testing(ContentAllocator allocator) { g_allocate_content = allocator; }

ExpFile* OpenExpFile(const char* path) {
  ExpFile* handle = new (std::nothrow) ExpFile;
  if (handle == nullptr) {
    vm::report(2, "%s", platform::cp932("OpenExpFile : メモリ不足です。"));
    return nullptr;
  }
  FastFile* file = nullptr;
  {
    BitReader in(read_fast_file, &file);
    if (!in.is_ready()) {
      delete handle;
      return nullptr;
    }
    file = OpenFastFile(path);
    if (file == nullptr) {
      delete handle;
      return nullptr;
    }
    std::uint32_t magic = 0;
    if (in.get(32, magic) && magic == kPackMagic) {
      const bool ok = unpack_content(in, file, *handle);
      CloseFastFile(file);
      if (!ok) {
        delete handle;
        return nullptr;
      }
      return handle;
    }
  }
  // Not packed: the same file, from its first byte.
  if (SeekFastFile(file, 0, 0) != 0) {
    CloseFastFile(file);
    file = OpenFastFile(path);
    if (file == nullptr) {
      delete handle;
      return nullptr;
    }
  }
  if (GetFastFileSize(file) > std::int64_t{kMaxContentSize}) {
    CloseFastFile(file);
    delete handle;
    return nullptr;
  }
  handle->file = file;
  return handle;
}

int CloseExpFile(ExpFile* file) {
  if (file == nullptr) return 0;
  if (file->packed) std::free(file->data);
  else CloseFastFile(file->file);
  delete file;
  return 1;
}

std::int64_t GetExpFileSize(ExpFile* file) {
  if (file == nullptr) return -1;
  return file->packed ? file->size : GetFastFileSize(file->file);
}

std::int64_t SeekExpFile(ExpFile* file, std::int32_t offset, int origin) {
  if (file == nullptr) return -1;
  if (!file->packed) return SeekFastFile(file->file, offset, origin);
  std::int64_t target;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = std::int64_t{file->position} + offset; break;
    case 2: target = std::int64_t{file->size} + offset; break;
    default: return file->position;
  }
  if (target < 0 || target > file->size) return -1;
  file->position = static_cast<std::uint32_t>(target);
  return target;
}

int ReadExpFile(ExpFile* file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
  if (file == nullptr) {
    if (bytes_read) *bytes_read = 0;
    return 0;
  }
  if (!file->packed) return ReadFastFile(file->file, buffer, count, bytes_read);
  std::uint32_t n = file->size - file->position;
  if (count < n) n = count;
  // Decoded bytes first, then the zero bytes the codes never reached.
  const std::uint32_t stored = file->position < file->decoded ? std::min(n, file->decoded - file->position) : 0;
  if (stored > 0) std::memcpy(buffer, file->data + file->position, stored);
  if (n > stored) std::memset(static_cast<std::uint8_t*>(buffer) + stored, 0, n - stored);
  file->position += n;
  if (bytes_read) *bytes_read = n;
  return 1;
}

bool write_pack_file(const std::string& host_path, const void* block, std::size_t length) {
  if (length > 0xFFFFFFFFu) return false;
  PackWrite result = write_pack(host_path, block, length);
  return result == PackWrite::written || result == PackWrite::header_only;
}

int Compress(const char* path, const void* block, std::uint32_t length) {
  const char* shown = path ? path : "";
  PackWrite result = *shown ? write_pack(platform::resolve_game_path(shown), block, length) : PackWrite::not_created;
  if (result == PackWrite::not_created)
    vm::report(2, platform::cp932("ファイルの作成に失敗しました FILE - %s"), shown);
  return result == PackWrite::written ? 1 : 0;
}

std::int32_t pack_save(const char* path, const void* block, std::int32_t length) {
  return Compress(path, block, length < 0 ? 0u : static_cast<std::uint32_t>(length));
}

std::int32_t pack_open(const char* path) {
  std::lock_guard lock(g_slots_mutex);
  for (int i = 0; i < kPackSlots; ++i) {
    if (g_slots[i] != nullptr) continue;
    g_slots[i] = OpenExpFile(path);
    return g_slots[i] ? i + 1 : 0;
  }
  return 0;
}

std::int32_t pack_close(std::int32_t handle) {
  std::lock_guard lock(g_slots_mutex);
  if (handle < 1 || handle > kPackSlots) return 0;
  CloseExpFile(g_slots[handle - 1]);
  g_slots[handle - 1] = nullptr;
  return 1;
}

std::int32_t pack_read(std::int32_t handle, void* buffer, std::uint32_t count) {
  std::lock_guard lock(g_slots_mutex);
  std::uint32_t n = 0;
  ExpFile* file = slot_of(handle);
  if (file == nullptr || !ReadExpFile(file, buffer, count, &n)) return -1;
  return static_cast<std::int32_t>(n);
}

std::int32_t pack_seek(std::int32_t handle, std::int32_t offset, std::int32_t origin) {
  std::lock_guard lock(g_slots_mutex);
  ExpFile* file = slot_of(handle);
  return file ? static_cast<std::int32_t>(SeekExpFile(file, offset, origin)) : -1;
}

std::int32_t pack_size(std::int32_t handle) {
  std::lock_guard lock(g_slots_mutex);
  ExpFile* file = slot_of(handle);
  return file ? static_cast<std::int32_t>(GetExpFileSize(file)) : -1;
}

void close_pack_slots() {
  std::lock_guard lock(g_slots_mutex);
  for (ExpFile*& slot : g_slots) {
    CloseExpFile(slot);
    slot = nullptr;
  }
}

}  // namespace talven::archive
