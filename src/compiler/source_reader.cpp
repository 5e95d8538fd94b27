// Sources are data files like any other: a loose file or an archive member, read whole.
#include <string>

#include "archive/fast_file.h"
#include "compiler/compiler.h"

namespace talven::compiler {

SourceReader data_file_reader() {
  return [](const std::string& cp932_path, std::string& text) {
    archive::FastFile* file = archive::OpenFastFile(cp932_path.c_str());
    if (file == nullptr) return SourceStatus::open_failed;
    std::int64_t size = archive::GetFastFileSize(file);
    bool ok = size >= 0 && size < 0x7FFFFFFF;
    if (ok) {
      text.resize(static_cast<std::size_t>(size));
      std::uint32_t got = 0;
      ok = size == 0 || (archive::ReadFastFile(file, text.data(), static_cast<std::uint32_t>(size), &got) != 0 &&
                         got == static_cast<std::uint32_t>(size));
    }
    archive::CloseFastFile(file);
    return ok ? SourceStatus::ok : SourceStatus::read_failed;
  };
}

}  // namespace talven::compiler
