// The look-up tables every pixel operation reads: built once at start-up, read-only afterwards.
#pragma once
#include <cstdint>

namespace talven::graphics {

inline constexpr int kBlendOperations = 14;
inline constexpr int kSineEntries = 2560;  // 2048 steps per turn plus a quarter, so cos(a) = sine[a + 512]

struct PixelTables {
  std::uint8_t multiply[256][256];     // x * y / 255
  std::uint8_t weight[256][256];       // composite weight W(a, b) of the source over a destination alpha b
  std::uint8_t screen[256][256];       // 255 - (255 - a) * (255 - b) / 255
  std::uint8_t blend[kBlendOperations][256][256];  // [operation][upper layer s][base d]: read through blend_table
  std::uint8_t expand5[32];            // 5-bit channel to 8 bits: c * 255 / 31
  std::uint32_t rgb555[32768];         // 0RRRRRGGGGGBBBBB to 0x00RRGGBB through expand5
  std::int32_t sine[kSineEntries];     // 16.16
};

// Builds the tables (only the first call does work).
void build_pixel_tables();
const PixelTables& pixel_tables();
// The table of one blend operation (0 to kBlendOperations - 1), made on first use; any thread.
const std::uint8_t (*blend_table(int operation))[256];

// The tables themselves, for kernels that read them in inner loops. Valid after build_pixel_tables.
extern PixelTables g_pixel_tables;

}  // namespace talven::graphics
