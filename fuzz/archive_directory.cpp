// Fuzzes the archive directory reader: the header, the scrambled directory, the name table and the
// member look-up, in memory and through OpenFastFile on a real file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/fast_file.h"
#include "shell/error_reporter.h"
#include "shell/configuration.h"

using namespace talven::archive;

namespace {

void use_file_reader(const std::uint8_t* data, std::size_t size, const std::vector<std::string>& names) {
  // The archive lives in a folder of its own, named by absolute game paths: the fuzzer's working
  // directory (where its corpus and artifacts are) stays as it was.
  static const std::string folder = [] {
    talven::shell::install_error_reporter();
    talven::shell::config().error = 0;
    talven::archive::set_file_system(1);
    std::string pattern = (std::filesystem::temp_directory_path() / "talven-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  {
    std::ofstream out(folder + "/f.bin", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (const std::string& name : names) {
    std::string path = folder + "/f/" + name;
    FastFile* file = OpenFastFile(path.c_str());
    if (file == nullptr) continue;
    std::int64_t member_size = GetFastFileSize(file);
    std::vector<std::uint8_t> buffer(member_size > 4096 ? 4096 : static_cast<std::size_t>(member_size) + 1);
    std::uint32_t n = 0;
    ReadFastFile(file, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &n);
    if (n > member_size) std::abort();  // a member never reads past its end
    SeekFastFile(file, -1, 2);
    SeekFastFile(file, static_cast<std::int32_t>(member_size), 0);
    CloseFastFile(file);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> names = {"a", "bg.png", "sub/x.png", "\x82\x81"};
  if (size >= kArchiveHeaderSize) {
    ArchiveHeader header;
    ArchiveKeystream keystream(0);
    if (decode_archive_header(data, header, keystream) &&
        header.directory_bytes() <= size - kArchiveHeaderSize) {
      std::vector<std::uint8_t> directory(data + kArchiveHeaderSize,
                                          data + kArchiveHeaderSize + header.directory_bytes());
      unscramble_directory(directory.data(), header.count, keystream);
      DirectoryView view{directory.data(), header.count,
                         directory.data() + std::size_t{header.count} * kDirectoryEntrySize, header.names_size};
      for (std::uint32_t i = 0; i < header.count && i < 64; ++i) {
        std::string_view name;
        if (view.name(view.entry(i), name)) names.emplace_back(name);
      }
      for (const std::string& name : names) {
        DirectoryEntry entry;
        find_member(view, name, entry);
      }
    }
  }
  if (size >= 2) compare_archive_names(std::string_view(reinterpret_cast<const char*>(data), size / 2),
                                       std::string_view(reinterpret_cast<const char*>(data) + size / 2, size - size / 2));
  use_file_reader(data, size, names);
  return 0;
}
