#include "archive/fast_file.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "archive/archive_format.h"
#include "archive/data_drive.h"
#include "platform/game_paths.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "vm/report.h"
#include "platform/sjis.h"

namespace talven::archive {

struct FastFile {
  std::int32_t in_archive = 0;
  platform::HostFile file;
  std::uint32_t base = 0;
  std::uint32_t size = 0;
  std::uint32_t position = 0;  // members: offset of the file pointer from base
};

namespace {

constexpr int kLooseFiles = 2;
constexpr int kArchives = 1;

const char* open_failed() { return platform::cp932("ファイルのオープンに失敗しました。FILE - %s"); }
const char* read_failed() { return platform::cp932("ファイルの読み込みに失敗しました。FILE - %s"); }
const char* seek_failed() { return platform::cp932("ファイルのシークに失敗しました。FILE - %s"); }
const char* out_of_memory() { return platform::cp932("OpenFastFile : メモリ不足です。"); }

// The file at game path `path` in the game's folder, else on the data drive.
platform::HostFile open_game_file(std::string_view path) {
  platform::HostFile file = platform::open_for_reading(platform::resolve_game_path(path));
  if (!file.is_open()) {
    std::string on_drive = data_drive_host_path(path);
    if (!on_drive.empty()) file = platform::open_for_reading(on_drive);
  }
  return file;
}

enum class ArchiveResult { found, absent, read_error, seek_error, no_memory };

// Looks `member` up in the open archive and, when found, positions `handle` at its data.
ArchiveResult open_member(platform::HostFile& archive, std::string_view member, FastFile& handle) {
  std::int64_t archive_size = archive.size();
  std::uint8_t header_bytes[kArchiveHeaderSize];
  std::size_t got = 0;
  if (archive_size < 0 || !archive.read(header_bytes, sizeof header_bytes, &got) || got != sizeof header_bytes)
    return ArchiveResult::read_error;
  ArchiveHeader header;
  ArchiveKeystream keystream(0);
  if (!decode_archive_header(header_bytes, header, keystream)) return ArchiveResult::read_error;

  // A directory that claims more bytes than the file holds cannot be read in full.
  std::uint64_t directory_bytes = header.directory_bytes();
  if (directory_bytes > static_cast<std::uint64_t>(archive_size) - kArchiveHeaderSize)
    return ArchiveResult::read_error;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[directory_bytes + 1]);
  if (!buffer) return ArchiveResult::no_memory;
  if (!archive.read(buffer.get(), directory_bytes, &got) || got != directory_bytes) return ArchiveResult::read_error;
  unscramble_directory(buffer.get(), header.count, keystream);

  DirectoryView directory{buffer.get(), header.count, buffer.get() + std::size_t{header.count} * kDirectoryEntrySize,
                          header.names_size};
  DirectoryEntry entry;
  switch (find_member(directory, member, entry)) {
    case LookupResult::absent: return ArchiveResult::absent;
    case LookupResult::damaged: return ArchiveResult::read_error;
    case LookupResult::found: break;
  }
  // Data that lies beyond the archive's end belongs to no member: the archive is damaged.
  if (std::uint64_t{entry.data_offset} + entry.data_size > static_cast<std::uint64_t>(archive_size))
    return ArchiveResult::read_error;
  if (archive.seek(entry.data_offset, 0) != entry.data_offset) return ArchiveResult::seek_error;
  handle.file = std::move(archive);
  handle.base = entry.data_offset;
  handle.size = entry.data_size;
  handle.position = 0;
  handle.in_archive = 1;
  return ArchiveResult::found;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Calls `visit(archive name without ".bin", member name)` for each way of splitting `path` at a
// separator, from the shortest archive name on, while it returns true. The first and last bytes
// are never split points, and a trail byte 0x5C is never a separator: the walk starts at the first
// byte so that a double-byte character there is stepped over whole.
template <typename Visit>
void for_each_archive_candidate(std::string_view path, Visit visit) {
  const std::size_t n = path.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (i > 0 && is_separator(path[i])) {
      if (!visit(path.substr(0, i), path.substr(i + 1))) return;
    } else if (platform::is_sjis_lead(static_cast<unsigned char>(path[i]))) {
      ++i;
    }
  }
}

std::atomic<int> g_file_system{kDefaultFileSystem};

int effective_file_system() {
  const int file_system = g_file_system.load();
  return (file_system & (kLooseFiles | kArchives)) == 0 ? kLooseFiles | kArchives : file_system;
}

}  // namespace

void set_file_system(int value) { g_file_system = value; }
int file_system() { return g_file_system.load(); }

FastFile* OpenFastFile(const char* path_text) {
  std::string_view path = path_text ? path_text : "";
  std::unique_ptr<FastFile> handle(new (std::nothrow) FastFile);
  if (!handle) {
    vm::report(2, "%s", out_of_memory());
    return nullptr;
  }
  const int file_system = effective_file_system();
  if (file_system & kLooseFiles) {
    handle->file = open_game_file(path);
    if (handle->file.is_open()) return handle.release();
    if (!(file_system & kArchives)) {
      vm::report(2, open_failed(), path_text ? path_text : "");
      return nullptr;
    }
  }

  ArchiveResult result = ArchiveResult::absent;
  for_each_archive_candidate(path, [&](std::string_view archive_name, std::string_view member) {
    platform::HostFile archive = open_game_file(std::string(archive_name) + ".bin");
    if (!archive.is_open()) return true;
    result = open_member(archive, member, *handle);
    return result == ArchiveResult::absent;
  });
  switch (result) {
    case ArchiveResult::found: return handle.release();
    case ArchiveResult::absent: break;
    case ArchiveResult::read_error: vm::report(2, read_failed(), path_text ? path_text : ""); return nullptr;
    case ArchiveResult::seek_error: vm::report(2, seek_failed(), path_text ? path_text : ""); return nullptr;
    case ArchiveResult::no_memory: vm::report(2, "%s", out_of_memory()); return nullptr;
  }
  vm::report(2, open_failed(), path_text ? path_text : "");
  return nullptr;
}

std::string describe_lookup(const char* path_text) {
  std::string_view path = path_text ? path_text : "";
  const int file_system = effective_file_system();
  std::string text = "FileSystem=" + std::to_string(file_system);
  if (file_system == kArchives) text += " allows archives only";
  else if (file_system == kLooseFiles) text += " allows loose files only";
  else text += " allows loose files and archives";
  text += ": looked for";
  bool first = true;
  if (file_system & kLooseFiles) {
    std::string game_path = platform::cp932_to_utf8(path);
    for (char& c : game_path) c = c == '\\' ? '/' : c;
    text += " " + game_path + " in " + platform::current_directory();
    const std::string on_drive = data_drive_host_path(path);
    if (!on_drive.empty()) text += " and " + on_drive;
    first = false;
  }
  if (file_system & kArchives) {
    bool any = false;
    for_each_archive_candidate(path, [&](std::string_view archive_name, std::string_view member) {
      text += first ? " " : ", then ";
      text += platform::cp932_to_utf8(member) + " in " + platform::cp932_to_utf8(archive_name) + ".bin";
      first = false;
      any = true;
      return true;
    });
    if (!any) text += std::string(first ? "" : ";") + " no archive (the path has no folder part to name one)";
  }
  return text;
}

DataFileStatus read_whole_data_file(const char* path, std::string& bytes) {
  FastFile* file = OpenFastFile(path);
  if (file == nullptr) return DataFileStatus::open_failed;
  const std::int64_t size = GetFastFileSize(file);
  bool ok = size >= 0 && size < 0x7FFFFFFF;
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size));
    std::uint32_t got = 0;
    ok = size == 0 || (ReadFastFile(file, bytes.data(), static_cast<std::uint32_t>(size), &got) != 0 &&
                       got == static_cast<std::uint32_t>(size));
  }
  CloseFastFile(file);
  return ok ? DataFileStatus::ok : DataFileStatus::read_failed;
}

int CloseFastFile(FastFile* file) {
  if (file == nullptr) return 0;
  delete file;
  return 1;
}

std::int64_t GetFastFileSize(FastFile* file) {
  if (file == nullptr) return -1;
  if (file->in_archive) return file->size;
  return file->file.size();
}

std::int64_t SeekFastFile(FastFile* file, std::int32_t offset, int origin) {
  if (file == nullptr) return -1;
  if (!file->in_archive) return file->file.seek(offset, origin);

  std::int64_t target;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = std::int64_t{file->position} + offset; break;
    case 2:
      if (offset > 0) return -1;
      target = std::int64_t{file->size} + offset;
      break;
    default: return -1;
  }
  if (target < 0 || target > file->size) return -1;
  if (file->file.seek(file->base + target, 0) < 0) return -1;
  file->position = static_cast<std::uint32_t>(target);
  return target;
}

int ReadFastFile(FastFile* file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
  if (bytes_read) *bytes_read = 0;
  if (file == nullptr) return 0;
  // A member ends where its data ends, not where the archive does.
  if (file->in_archive && count > file->size - file->position) count = file->size - file->position;
  std::size_t got = 0;
  bool ok = count == 0 || file->file.read(buffer, count, &got);
  if (file->in_archive) file->position += static_cast<std::uint32_t>(got);
  if (bytes_read) *bytes_read = static_cast<std::uint32_t>(got);
  return ok ? 1 : 0;
}

}  // namespace talven::archive
