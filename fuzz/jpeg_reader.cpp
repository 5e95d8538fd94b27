// JPEG files of any bytes: refused, or a plane of the decoded size (JPEG is lossy, so the plane is
// checked by saving it losslessly as PNG).
#include "image_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::graphics;
  Plane* p = read_jpeg(data, size);
  if (p != nullptr && p->bits != 8 && p->bits != 24) std::abort();
  fuzz::check_round_trip(p, write_png, read_png);
  return 0;
}
