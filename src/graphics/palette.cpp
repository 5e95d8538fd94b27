#include "graphics/palette.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talven::graphics {
namespace {

std::uint8_t g_screen[256 * 4];
std::uint32_t g_script[256];
std::uint8_t g_inverse[32768];
// Set by reset_palettes: the map is due for the 3-3-2 cube but not built yet. Building it costs
// about as much as the rest of start-up, and most games never blit into an 8-bit plane, so it is
// built by the first inverse_map() call (always under the built-in lock, before any row split).
bool g_inverse_is_for_cube_pending = false;
std::int32_t g_color_mapping = 0;

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
  g_inverse_is_for_cube_pending = true;
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

const std::uint8_t* inverse_map() {
  if (g_inverse_is_for_cube_pending) {
    std::uint32_t cube[256];
    for (int i = 0; i < 256; ++i) cube[i] = cube_332_colour(i);
    build_inverse_map(cube);
  }
  return g_inverse;
}

namespace {

// The first index of the smallest of 256 distances.
int first_minimum(const std::int32_t* d) {
#if defined(__SSE2__)
  __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(d));
  for (int i = 4; i < 256; i += 4) {
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i smaller = _mm_cmplt_epi32(v, low);
    low = _mm_or_si128(_mm_and_si128(smaller, v), _mm_andnot_si128(smaller, low));
  }
  alignas(16) std::int32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), low);
  const std::int32_t best = std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
  const __m128i wanted = _mm_set1_epi32(best);
  for (int i = 0;; i += 4) {
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(d + i));
    const int hits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, wanted)));
    if (hits != 0) return i + std::countr_zero(static_cast<unsigned>(hits));
  }
#else
  int best = 0;
  for (int i = 1; i < 256; ++i)
    if (d[i] < d[best]) best = i;
  return best;
#endif
}

}  // namespace

// Every cell holds an entry nearest to the cell's colour. An entry whose own colour falls in a cell
// claims it first (the first such entry wins); the other cells take the nearest entry by search,
// which gives the nearest entry everywhere where a flood outward from the seeds can only approximate.
// The search is nearest_entry's, taken apart: the distance is a sum of one term per channel, so the
// terms are tabled per cell value and entry, and each cell adds up its three rows and takes the
// first minimum, all 256 entries at once.
void build_inverse_map(const std::uint32_t* colours) {
  g_inverse_is_for_cube_pending = false;
  static bool seeded[32768];
  std::memset(seeded, 0, sizeof seeded);
  for (int i = 0; i < 256; ++i) {
    const int key = inverse_key(colours[i]);
    if (!seeded[key]) {
      seeded[key] = true;
      g_inverse[key] = static_cast<std::uint8_t>(i);
    }
  }
  // [cell value][entry]: a channel's weighted square difference, as `distance` computes it.
  struct Terms {
    alignas(16) std::int32_t red[32][256], green[32][256], blue[32][256];
  };
  static Terms terms;
  for (int v = 0; v < 32; ++v) {
    const int six = (v << 3 | v >> 2) >> 2;  // the cell's channel value as the distance sees it
    for (int i = 0; i < 256; ++i) {
      const int dr = static_cast<int>((colours[i] >> 18) & 63) - six;
      const int dg = static_cast<int>((colours[i] >> 10) & 63) - six;
      const int db = static_cast<int>((colours[i] >> 2) & 63) - six;
      terms.red[v][i] = 900 * dr * dr;
      terms.green[v][i] = 3481 * dg * dg;
      terms.blue[v][i] = 121 * db * db;
    }
  }
  alignas(16) std::int32_t red_green[256];
  alignas(16) std::int32_t d[256];
  for (int r5 = 0; r5 < 32; ++r5) {
    for (int g5 = 0; g5 < 32; ++g5) {
      for (int i = 0; i < 256; ++i) red_green[i] = terms.red[r5][i] + terms.green[g5][i];
      const int row = r5 << 10 | g5 << 5;
      for (int b5 = 0; b5 < 32; ++b5) {
        if (seeded[row | b5]) continue;
        for (int i = 0; i < 256; ++i) d[i] = red_green[i] + terms.blue[b5][i];
        g_inverse[row | b5] = static_cast<std::uint8_t>(first_minimum(d));
      }
    }
  }
}

bool color_mapping() { return g_color_mapping != 0; }
std::int32_t color_mapping_value() { return g_color_mapping; }
void set_color_mapping(std::int32_t value) { g_color_mapping = value; }

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
