#include "graphics/pixel_tables.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace talven::graphics {

PixelTables g_pixel_tables;

namespace {

double soft_light(int s, int d) {
  const double x = d / 255.0;
  const double y = s / 255.0;
  double v;
  if (y < 0.5) {
    v = x + (x - x * x) * (2 * y - 1);
  } else if (x <= 32.0 / 255.0) {
    v = x + (x - x * x) * (2 * y - 1) * (3 - 8 * x);
  } else {
    v = x + (std::sqrt(x) - x) * (2 * y - 1);
  }
  return 255.0 * v;
}

int blend_value(int op, int s, int d) {
  switch (op) {
    case 0: return s;
    case 1: return std::min(s + d, 255);
    case 2: return std::max(d - s, 0);
    case 3: return s * d / 255;
    case 4: return s == 0 ? 255 : std::min(255 * d / s, 255);
    case 5: return 255 - (255 - s) * (255 - d) / 255;
    case 6: return d < 128 ? 2 * s * d / 255 : 255 - 2 * (255 - s) * (255 - d) / 255;
    case 7: return std::clamp(static_cast<int>(soft_light(s, d)), 0, 255);
    case 8: return s < 128 ? 2 * s * d / 255 : 255 - 2 * (255 - s) * (255 - d) / 255;
    case 9: return s + d > 255 ? 255 : d == 0 ? 0 : 255 * d / (255 - s);
    case 10: return s + d < 255 ? 0 : s == 0 ? 255 : 255 + 255 * (d - 255) / s;
    case 11: return std::max(s, d);
    case 12: return std::min(s, d);
    default: return s ^ d;
  }
}

void build(PixelTables& t) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      t.multiply[a][b] = static_cast<std::uint8_t>(a * b / 255);
      t.screen[a][b] = static_cast<std::uint8_t>(255 - (255 - a) * (255 - b) / 255);
      if (b == 0) {
        t.weight[a][b] = 255;
      } else {
        const double x = a / 255.0;
        const double y = b / 255.0;
        const double w = 255.0 * x / (x + y * (1.0 - x));
        t.weight[a][b] = static_cast<std::uint8_t>(std::min(255.0, w));
      }
    }
  }
  for (int c = 0; c < 32; ++c) t.expand5[c] = static_cast<std::uint8_t>(c * 255 / 31);
  for (std::uint32_t p = 0; p < 32768; ++p) {
    t.rgb555[p] = (std::uint32_t(t.expand5[(p >> 10) & 31]) << 16) | (std::uint32_t(t.expand5[(p >> 5) & 31]) << 8) |
                  t.expand5[p & 31];
  }
  const double pi = std::acos(-1.0);
  for (int i = 0; i < kSineEntries; ++i) t.sine[i] = static_cast<std::int32_t>(std::sin(i * 2.0 * pi / 2048.0) * 65536.0);
  // The entries beyond a full turn repeat the first quarter exactly, whatever sin() returns there.
  for (int i = 2048; i < kSineEntries; ++i) t.sine[i] = t.sine[i - 2048];
}

}  // namespace

void build_pixel_tables() {
  static std::once_flag once;
  std::call_once(once, [] { build(g_pixel_tables); });
}

// Most games use one or two blend operations, if any: each table (64 KiB of divisions) is made
// the first time a blit asks for it, which keeps them out of every start-up.
const std::uint8_t (*blend_table(int operation))[256] {
  static std::once_flag once[kBlendOperations];
  std::call_once(once[operation], [operation] {
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d) g_pixel_tables.blend[operation][s][d] = static_cast<std::uint8_t>(blend_value(operation, s, d));
  });
  return g_pixel_tables.blend[operation];
}

const PixelTables& pixel_tables() {
  build_pixel_tables();
  return g_pixel_tables;
}

}  // namespace talven::graphics
