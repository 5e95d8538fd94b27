// The loose-file source reader: a game path resolved on disk and read whole.
#include <cstdio>

#include "compiler/compiler.h"
#include "platform/game_paths.h"

namespace talven::compiler {

SourceReader loose_file_reader() {
  return [](const std::string& cp932_path, std::string& text) {
    std::string host = platform::resolve_game_path(cp932_path);
    std::FILE* f = std::fopen(host.c_str(), "rb");
    if (!f) return SourceStatus::open_failed;
    text.clear();
    char buffer[65536];
    for (;;) {
      std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
      text.append(buffer, n);
      if (n < sizeof buffer) break;
    }
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    return failed ? SourceStatus::read_failed : SourceStatus::ok;
  };
}

}  // namespace talven::compiler
