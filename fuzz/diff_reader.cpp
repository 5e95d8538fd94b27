// Delta images of any bytes applied to a small plane: refused with the plane unchanged, or applied
// without a byte written outside the plane (the sanitizers watch the rest).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/image_files.h"

// Input: placement x, y (one byte each), then the delta image.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::graphics;
  if (size < 2) return 0;
  const std::int32_t x = static_cast<std::int8_t>(data[0]), y = static_cast<std::int8_t>(data[1]);
  data += 2, size -= 2;
  std::uint32_t bits = 8;
  if (size >= 16) std::memcpy(&bits, data + 12, 4);
  if (bits != 16 && bits != 24 && bits != 32) bits = 8;
  Plane* p = new_plane(23, 17, static_cast<std::int32_t>(bits));
  std::uint8_t* pixels = talven::vm::host_pointer(p->pixels);
  const std::size_t bytes = std::size_t(p->pitch) * p->height;
  std::memset(pixels, 0x5A, bytes);
  std::vector<std::uint8_t> copy(data, data + size);  // exactly `size` bytes, so reads past it are caught
  Rect rect{};
  if (!apply_delta(p, x, y, copy.data(), copy.size(), &rect)) {
    for (std::size_t i = 0; i < bytes; ++i)
      if (pixels[i] != 0x5A) std::abort();
  }
  delete_plane(p);
  return 0;
}
