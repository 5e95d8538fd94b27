// The screen and script palettes, the nearest-entry search and the inverse palette map.
#pragma once
#include <cstdint>

namespace talven::graphics {

// The screen palette in colour-table layout (blue, green, red, 0 per entry). 8-bit pictures are
// shown through it and colour values 0x010000ii name its entries.
const std::uint8_t* screen_palette();
void set_screen_palette_entry(int index, std::uint32_t rgb);

// The palette script code edits (0x00RRGGBB entries).
std::uint32_t* script_palette();

// Both palettes back to the 3-3-2 cube, and the inverse map due to be rebuilt from it.
void reset_palettes();

// The 3-3-2 colour of entry i (also the default colour table of 8-bit planes).
std::uint32_t cube_332_colour(int i);

// The first entry of `palette` (colour-table layout) nearest to the colour by the weighted distance
// on 6-bit channels.
int nearest_entry(const std::uint8_t* palette, int red, int green, int blue);

// The inverse palette map: a palette index per 15-bit colour. Built-in threads only (it may be
// built on first use).
const std::uint8_t* inverse_map();
inline int inverse_key(std::uint32_t rgb) {
  return static_cast<int>(((rgb >> 19) & 31) << 10 | ((rgb >> 11) & 31) << 5 | ((rgb >> 3) & 31));
}
// Builds the map from 256 colours 0x00RRGGBB.
void build_inverse_map(const std::uint32_t* colours);

// The `color_mapping` system variable: 8-bit to 8-bit blits map indices through colours.
// Scripts may store any value; blits only ask whether it is nonzero.
bool color_mapping();
std::int32_t color_mapping_value();
void set_color_mapping(std::int32_t value);

// Script colour convention: a palette-index value (bit 24 set) or 0x00RRGGBB.
// For 16, 24 and 32-bit planes: the RGB value.
std::uint32_t colour_rgb(std::uint32_t colour);
// For 8-bit planes: an index of the screen palette.
int colour_index(std::uint32_t colour);

}  // namespace talven::graphics
