// talvenc: compiles a script source as the engine would, for authors and tests.
//
//   talvenc FILE.c [--listing] [--disasm] [--echo] [-I DIR]...
//
// Compile errors are printed in UTF-8 and the exit status is 1. --listing writes the compile
// listing to NAME.txt in the current directory; --disasm prints every emitted instruction under
// the source line it was compiled from.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "archive/fast_file.h"
#include "compiler/compiler.h"
#include "compiler/disassembler.h"
#include "shell/error_reporter.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/message_meanings.h"
#include "shell/runtime.h"
#include "vm/script_memory.h"

namespace {

constexpr const char* kUsage =
    "usage: talvenc FILE.c [--listing] [--disasm] [--echo] [-I DIR]...\n"
    "  --listing   write the compile listing to NAME.txt in the current directory\n"
    "  --disasm    print the emitted code, one instruction per line, under its source lines\n"
    "  --echo      put the source lines into the listing\n"
    "  -I DIR      look for #include files in DIR when they are not beside FILE\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace talven;
  std::string file;
  bool want_listing = false, want_disasm = false, echo = false;
  std::vector<std::string> include_dirs;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--listing") want_listing = true;
    else if (arg == "--disasm") want_disasm = true;
    else if (arg == "--echo") echo = true;
    else if (arg == "-I" && i + 1 < argc) include_dirs.push_back(platform::utf8_to_cp932(argv[++i]));
    else if (arg.substr(0, 2) == "-I" && arg.size() > 2) include_dirs.push_back(platform::utf8_to_cp932(arg.substr(2)));
    else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!arg.empty() && arg[0] != '-' && file.empty()) file = arg;
    else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (file.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  talven::shell::install_error_reporter();
  // A tool run on files an author is editing: loose files count as well as archives.
  archive::set_file_system(3);

  std::string path = platform::utf8_to_cp932(file);
  std::size_t cut = path.find_last_of("/\\");
  std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);

  compiler::SourceReader loose = shell::data_file_source_reader();
  compiler::CompileOptions options;
  options.script_dir = dir;
  options.reader = [&](const std::string& p, std::string& text) {
    compiler::SourceStatus status = loose(p, text);
    if (status != compiler::SourceStatus::open_failed) return status;
    std::string rest = p.compare(0, dir.size(), dir) == 0 ? p.substr(dir.size()) : p;
    for (const std::string& d : include_dirs) {
      std::string candidate = d;
      if (!candidate.empty() && candidate.back() != '/' && candidate.back() != '\\') candidate += '/';
      status = loose(candidate + rest, text);
      if (status != compiler::SourceStatus::open_failed) return status;
    }
    return compiler::SourceStatus::open_failed;
  };
  options.report_errors = false;
  options.echo_source = echo;
  std::string listing;
  if (want_listing) options.listing = &listing;

  const shell::Configuration& cfg = shell::config();
  std::uint32_t heap_size = cfg.heap_size > 0 ? static_cast<std::uint32_t>(cfg.heap_size) : 0;
  options.heap_size = heap_size;
  options.heap_base = heap_size ? vm::script_alloc_zeroed(heap_size) : 0;
  if (heap_size && options.heap_base == 0) {
    std::fputs("talvenc: no memory for the script heap\n", stderr);
    return 1;
  }
  std::uint32_t program_size = cfg.program_size > 0 ? static_cast<std::uint32_t>(cfg.program_size) : 0;
  compiler::ProgramImage image = compiler::compile_image(name, program_size, options);

  if (want_listing) {
    std::string base = name.substr(0, name.find_last_of('.'));
    std::string out_path = platform::cp932_to_utf8(base) + ".txt";
    if (std::FILE* f = std::fopen(out_path.c_str(), "w")) {
      std::fwrite(listing.data(), 1, listing.size(), f);
      std::fclose(f);
    } else {
      std::fprintf(stderr, "talvenc: cannot write %s\n", out_path.c_str());
    }
  }
  if (!image.result.error_text.empty()) {
    std::string text = shell::for_terminal(platform::cp932_to_utf8(image.result.error_text));
    std::fputs(text.c_str(), stderr);
    if (text.back() != '\n') std::fputc('\n', stderr);
  }
  if (image.base == 0) return 1;
  if (want_disasm) {
    // The source lines beside the code, read again the way the compile read them.
    std::map<std::string, std::vector<std::string>> sources;
    auto line_text = [&](const std::string& file, std::uint32_t line) -> std::string {
      auto it = sources.find(file);
      if (it == sources.end()) {
        std::string text;
        std::vector<std::string> lines;
        if (options.reader(file, text) == compiler::SourceStatus::ok) {
          for (std::size_t at = 0; at <= text.size();) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::string l = text.substr(at, end - at);
            if (!l.empty() && l.back() == '\r') l.pop_back();
            lines.push_back(std::move(l));
            at = end + 1;
          }
        }
        it = sources.emplace(file, std::move(lines)).first;
      }
      return line >= 1 && line <= it->second.size() ? it->second[line - 1] : std::string();
    };
    std::string text = compiler::disassembly_text(vm::host_pointer(image.base), image.result.code_size, image.base,
                                                  &image.result.source_map, line_text);
    std::fputs(platform::cp932_to_utf8(text).c_str(), stdout);
  }
  std::fprintf(stderr, "%s: %u lines, code %u bytes, data %u bytes, external data %u bytes\n",
               file.c_str(), image.result.lines, image.result.code_size, image.result.data_size,
               image.result.extern_size);
  return 0;
}
