// Compiles arbitrary bytes as a script source (and as an included file): no input may crash, hang
// or touch memory outside the image.
#include <cstddef>
#include <cstdint>
#include <string>

#include "compiler/compiler.h"
#include "shell/error_reporter.h"
#include "vm/script_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  static bool ready = [] {
    talven::shell::install_error_reporter();
    return true;
  }();
  (void)ready;
  static const std::uint32_t kCapacity = 1 << 16;
  static vm::Address image = vm::script_alloc_zeroed(kCapacity + 4);
  static vm::Address heap = vm::script_alloc_zeroed(4096);
  std::string source(reinterpret_cast<const char*>(data), size);
  compiler::CompileOptions options;
  options.image_base = image;
  options.capacity = kCapacity;
  options.heap_base = heap;
  options.heap_size = 4096;
  options.report_errors = false;
  std::string listing;
  options.listing = &listing;
  options.echo_source = true;
  options.reader = [&](const std::string& path, std::string& text) {
    if (path == "main.c" || path == "inc.h") {
      text = source;
      return compiler::SourceStatus::ok;
    }
    return compiler::SourceStatus::open_failed;
  };
  compiler::compile("main.c", options);
  options.image_base = 0;  // the sizing pass too
  options.capacity = 0;
  compiler::compile("main.c", options);
  compiler::clear_exported_functions();
  return 0;
}
