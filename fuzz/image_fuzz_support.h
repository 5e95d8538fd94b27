// Shared checks of the image-reader fuzz targets: whatever the bytes, a reader either refuses them
// or returns a plane that writes out and reads back with the same pixels.
#pragma once
#include <cstdlib>
#include <string>

#include "graphics/image_files.h"

namespace talven::graphics::fuzz {

inline void check_round_trip(Plane* p, bool (*write)(const Plane&, const Rect*, std::string&),
                             Plane* (*read)(const std::uint8_t*, std::size_t)) {
  if (p == nullptr) return;
  if (!plane_fits(p->width, p->height, p->bits)) std::abort();
  std::string bytes;
  if (!write(*p, nullptr, bytes)) std::abort();
  Plane* back = read(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (back == nullptr || back->width != p->width || back->height != p->height) std::abort();
  for (std::int32_t y = 0; y < p->height; y += 7)
    for (std::int32_t x = 0; x < p->width; x += 5)
      if (read_pixel(*p, x, y) != read_pixel(*back, x, y)) std::abort();
  delete_plane(back);
  delete_plane(p);
}

}  // namespace talven::graphics::fuzz
