#include "graphics/palette.h"

#include <cstring>

namespace talven::graphics {
namespace {

std::uint8_t g_screen[256 * 4];
std::uint32_t g_script[256];
std::uint8_t g_inverse[32768];
bool g_color_mapping = false;

struct DistanceWeights {
  std::uint32_t red[128], green[128], blue[128];  // indexed by the difference modulo 128
  DistanceWeights() {
    for (int i = 0; i < 128; ++i) {
      const int d = i < 64 ? i : i - 128;
      red[i] = 900u * d * d;
      green[i] = 3481u * d * d;
      blue[i] = 121u * d * d;
    }
  }
};
const DistanceWeights kWeights;

std::uint32_t distance(const std::uint8_t* entry, int red, int green, int blue) {
  return kWeights.red[((entry[2] >> 2) - (red >> 2)) & 127] + kWeights.green[((entry[1] >> 2) - (green >> 2)) & 127] +
         kWeights.blue[((entry[0] >> 2) - (blue >> 2)) & 127];
}

}  // namespace

std::uint32_t cube_332_colour(int i) {
  const std::uint32_t r = ((i >> 5) & 7) * 255 / 7, g = ((i >> 2) & 7) * 255 / 7, b = (i & 3) * 255 / 3;
  return r << 16 | g << 8 | b;
}

const std::uint8_t* screen_palette() { return g_screen; }

void set_screen_palette_entry(int index, std::uint32_t rgb) {
  std::uint8_t* e = g_screen + 4 * (index & 255);
  e[0] = rgb & 255;
  e[1] = (rgb >> 8) & 255;
  e[2] = (rgb >> 16) & 255;
  e[3] = 0;
}

std::uint32_t* script_palette() { return g_script; }

void reset_palettes() {
  for (int i = 0; i < 256; ++i) {
    g_script[i] = cube_332_colour(i);
    set_screen_palette_entry(i, g_script[i]);
  }
  build_inverse_map(g_script);
}

int nearest_entry(const std::uint8_t* palette, int red, int green, int blue) {
  int best = 0;
  std::uint32_t best_distance = 0xFFFFFFFFu;
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t d = distance(palette + 4 * i, red, green, blue);
    if (d < best_distance) {
      best = i;
      best_distance = d;
      if (d == 0) break;
    }
  }
  return best;
}

const std::uint8_t* inverse_map() { return g_inverse; }

// Every cell holds an entry nearest to the cell's colour. An entry whose own colour falls in a cell
// claims it first (the first such entry wins); the other cells take the nearest entry by search,
// which gives the nearest entry everywhere where a flood outward from the seeds can only approximate.
void build_inverse_map(const std::uint32_t* colours) {
  std::uint8_t table[256 * 4];
  for (int i = 0; i < 256; ++i) {
    table[4 * i + 0] = colours[i] & 255;
    table[4 * i + 1] = (colours[i] >> 8) & 255;
    table[4 * i + 2] = (colours[i] >> 16) & 255;
    table[4 * i + 3] = 0;
  }
  static bool seeded[32768];
  std::memset(seeded, 0, sizeof seeded);
  for (int i = 0; i < 256; ++i) {
    const int key = inverse_key(colours[i]);
    if (!seeded[key]) {
      seeded[key] = true;
      g_inverse[key] = static_cast<std::uint8_t>(i);
    }
  }
  for (int key = 0; key < 32768; ++key) {
    if (seeded[key]) continue;
    const int r5 = key >> 10, g5 = (key >> 5) & 31, b5 = key & 31;
    g_inverse[key] = static_cast<std::uint8_t>(nearest_entry(table, r5 << 3 | r5 >> 2, g5 << 3 | g5 >> 2, b5 << 3 | b5 >> 2));
  }
}

bool color_mapping() { return g_color_mapping; }
void set_color_mapping(bool on) { g_color_mapping = on; }

std::uint32_t colour_rgb(std::uint32_t colour) {
  if (colour & 0x01000000u) {
    const std::uint8_t* e = g_screen + 4 * (colour & 255);
    return std::uint32_t(e[2]) << 16 | std::uint32_t(e[1]) << 8 | e[0];
  }
  return colour & 0x00FFFFFFu;
}

int colour_index(std::uint32_t colour) {
  if (colour & 0x01000000u) return static_cast<int>(colour & 255);
  return nearest_entry(g_screen, (colour >> 16) & 255, (colour >> 8) & 255, colour & 255);
}

}  // namespace talven::graphics
