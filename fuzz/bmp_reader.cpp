// BMP files of any bytes: refused, or a plane that saves and reloads unchanged.
#include "image_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::graphics;
  fuzz::check_round_trip(read_bmp(data, size), write_bmp, read_bmp);
  return 0;
}
