// Text built-ins: the 32 font slots, each thread's current font, and drawing text into planes in
// both ways the engine has (glyph pixels in the palette's two colours, or anti-aliased coverage
// counted from a drawing at eight times the size).
#pragma once
#include <cstdint>

#include "graphics/fonts.h"
#include "graphics/planes.h"
#include "vm/script_memory.h"

namespace talven::graphics {

inline constexpr int kFontSlots = 32;
// The 1-bit work plane of text drawing grows up to this many bytes and no further: longer or
// larger text is drawn in bands of rows.
inline constexpr std::size_t kTextWorkBytes = 4u << 20;

// Every slot back to its start-up record (face "Meiryo", size 16, no flags), fonts freed.
void reset_fonts();

// The colour argument of gtext and gtextf.
inline constexpr std::uint32_t kTextOpaque = 1u << 30;    // fill the cell with the background index
inline constexpr std::uint32_t kTextCoverage = 1u << 31;  // anti-aliased on 32 bits: coverage as alpha

// Draws cp932 text with the font of `slot` so that its bounding box starts at (x, y); false when
// the slot's font cannot be built. For the built-ins and tests.
bool draw_text(Plane& plane, std::int32_t x, std::int32_t y, std::uint32_t colour, std::string_view cp932, int slot);
// The coverage of one destination pixel of anti-aliased text from its 8 x 8 block of the work
// plane (one byte per work row, rows `stride` bytes apart): 4 per set bit, except that a full first
// row counts 31, so that full coverage is exactly 255.
std::uint32_t block_coverage(const std::uint8_t* block, std::size_t stride);
// (simd::coverage_row counts a whole row of them; a test holds it equal to this.)

// The font of a slot, built now if it is due (nullptr when it cannot be built).
const Font* slot_font(int slot);
// How many times the slot's font has been built (font_set marks a changed record for one rebuild).
int font_builds(int slot);

std::uint32_t bi_font_list(vm::Address arguments);
std::uint32_t bi_font_use(vm::Address arguments);
std::uint32_t bi_font_set(vm::Address arguments);
std::uint32_t bi_font_get(vm::Address arguments);
std::uint32_t bi_font_abc(vm::Address arguments);
std::uint32_t bi_font_kern(vm::Address arguments);
std::uint32_t bi_gtext(vm::Address arguments);
std::uint32_t bi_gtextf(vm::Address arguments);

}  // namespace talven::graphics
