// Fuzzes the pack decoder with whole pack files, and checks that the compressor's output of the
// same bytes decodes back to them.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/pack_codec.h"
#include "shell/error_reporter.h"
#include "shell/configuration.h"

using namespace talven::archive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    talven::shell::install_error_reporter();
    talven::shell::config().error = 0;
    return true;
  }();
  (void)ready;

  // Declared sizes are bounded so a header alone cannot ask for gigabytes on every run.
  std::vector<std::uint8_t> out;
  unpack_bytes(data, size, out, 1u << 18);

  if (size <= 1u << 16) {
    std::vector<std::uint8_t> packed = pack_bytes(data, size), back;
    if (unpack_bytes(packed.data(), packed.size(), back) != UnpackStatus::ok) std::abort();
    if (back != std::vector<std::uint8_t>(data, data + size)) std::abort();
  }
  return 0;
}
