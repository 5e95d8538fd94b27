// PNG files of any bytes: refused, or a plane that saves and reloads with the same colours.
#include "image_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::graphics;
  fuzz::check_round_trip(read_png(data, size), write_png, read_png);
  return 0;
}
