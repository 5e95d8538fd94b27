#include "graphics/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>


#include "graphics/blit_kernels.h"
#include "graphics/palette.h"
#include "graphics/pixel_simd.h"
#include "graphics/pixel_tables.h"
#include "library/format.h"
#include "platform/sjis.h"
#include "vm/call_gate.h"
#include "vm/script_threads.h"

namespace talven::graphics {
namespace {

using vm::Address;
using i64 = std::int64_t;

struct FontSlot {
  FontRecord record{};
  bool rebuild = true;
  std::unique_ptr<Font> font;  // at the record's size, eight times it when anti-aliased
  float abc[128][3] = {};      // normalised by the font's height
  std::vector<float> kerning;  // 128 x 128, normalised; empty when the face has no kerning
  int builds = 0;
};

// Only script threads touch the slots and the work plane, inside the built-in lock.
std::array<FontSlot, kFontSlots> g_slots;
std::vector<std::uint8_t> g_work;  // the 1-bit work plane, only growing (up to kTextWorkBytes)
std::vector<std::uint8_t> g_cell;  // the cell's pixels for an opaque background, beside it
std::vector<std::uint16_t> g_coverage;  // one destination row's coverage

FontRecord start_up_record() {
  FontRecord r{};
  std::memcpy(r.face, "Meiryo", 7);
  r.size = kDefaultFontHeight;
  return r;
}

bool build(FontSlot& s) {
  s.rebuild = false;
  ++s.builds;
  s.kerning.clear();
  std::memset(s.abc, 0, sizeof s.abc);
  s.font = Font::build(s.record, (s.record.flags & kFontAntiAliased) ? 8 : 1);
  if (s.font == nullptr) return false;
  const float per_height = 1.0f / static_cast<float>(s.font->height());
  for (std::uint32_t code = s.font->first_character(); code < 128; ++code) {
    float abc[3];
    if (!s.font->abc(code, abc)) continue;
    for (int k = 0; k < 3; ++k) s.abc[code][k] = abc[k] * per_height;
  }
  if (s.font->has_kerning()) {
    s.kerning.assign(128 * 128, 0.0f);
    for (std::uint32_t a = 0; a < 128; ++a)
      for (std::uint32_t b = 0; b < 128; ++b) s.kerning[a * 128 + b] = s.font->kerning(a, b) * per_height;
  }
  return true;
}

FontSlot* built_slot(std::uint32_t slot) {
  if (slot >= kFontSlots) return nullptr;
  FontSlot& s = g_slots[slot];
  if ((s.rebuild || s.font == nullptr) && !build(s)) return nullptr;
  return &s;
}

int current_font() {
  const int thread = vm::current_thread_slot();
  return thread < 0 ? 0 : vm::thread_font(thread);
}

// ---- pixels -------------------------------------------------------------------------------------

struct Colour {
  std::uint32_t rgb;    // 0x00RRGGBB
  std::uint8_t index;   // the palette index itself, for 8-bit planes
};

Colour palette_colour(int index) { return {colour_rgb(0x01000000u | std::uint32_t(index)), static_cast<std::uint8_t>(index)}; }

std::uint16_t pack555(std::uint32_t rgb) { return static_cast<std::uint16_t>(blit::pack555(rgb)); }

// Writes a colour as the plane's pixel: the index on 8 bits, the palette colour otherwise (its
// fourth byte 0 on 32 bits, as the system's text output leaves it).
void put(std::uint8_t* p, int bytes, const Colour& c) {
  switch (bytes) {
    case 1: *p = c.index; break;
    case 2: {
      const std::uint16_t v = pack555(c.rgb);
      std::memcpy(p, &v, 2);
      break;
    }
    case 3: p[0] = c.rgb & 0xFF, p[1] = c.rgb >> 8 & 0xFF, p[2] = c.rgb >> 16 & 0xFF; break;
    default: std::memcpy(p, &c.rgb, 4); break;
  }
}

// d = mul(c, colour) + mul(255 - c, d) per channel; 16-bit pixels through the RGB555 table.
void blend(std::uint8_t* p, int bytes, std::uint32_t rgb, std::uint32_t c) {
  const auto& T = g_pixel_tables;
  const std::uint8_t* mc = T.multiply[c];
  const std::uint8_t* mr = T.multiply[255 - c];
  if (bytes == 2) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    const std::uint32_t d = T.rgb555[v & 0x7FFF];
    std::uint32_t out = 0;
    for (int k = 0; k < 3; ++k) out |= std::uint32_t(mc[rgb >> (8 * k) & 0xFF] + mr[d >> (8 * k) & 0xFF]) << (8 * k);
    v = pack555(out);
    std::memcpy(p, &v, 2);
    return;
  }
  for (int k = 0; k < bytes; ++k) p[k] = static_cast<std::uint8_t>(mc[rgb >> (8 * k) & 0xFF] + mr[p[k]]);
}

// Room for a window of the work plane (and of the cell plane when asked) of `bytes` bytes, cleared.
void clear_work(std::size_t bytes, bool cell) {
  if (g_work.size() < bytes) g_work.resize(bytes);
  std::memset(g_work.data(), 0, bytes);
  if (cell) {
    if (g_cell.size() < bytes) g_cell.resize(bytes);
    std::memset(g_cell.data(), 0, bytes);
  }
}

inline bool bit(const std::uint8_t* row, i64 column) { return row[column >> 3] & (0x80 >> (column & 7)); }

// ---- the two ways of drawing ----------------------------------------------------------------

// One row of plain text: the foreground under the glyphs' bits, the background under the cell's
// other bits (when there is a cell); eight pixels that neither touches are passed at once.
template <int BYTES>
void plain_row(const std::uint8_t* glyph, const std::uint8_t* cell, std::uint8_t* d, i64 n, const Colour& fore,
               const Colour& back) {
  for (i64 c = 0; c < n;) {
    if ((c & 7) == 0 && glyph[c >> 3] == 0 && (cell == nullptr || cell[c >> 3] == 0)) {
      c += 8;
      d += 8 * BYTES;
      continue;
    }
    if (bit(glyph, c)) {
      put(d, BYTES, fore);
    } else if (cell != nullptr && bit(cell, c)) {
      put(d, BYTES, back);
    }
    ++c;
    d += BYTES;
  }
}

// Planes of 1 and 4 bits take the entry of their own colour table nearest to a colour, as the
// system's text output mapped colours onto such pictures.
int nearest_table_entry(const Plane& p, std::uint32_t rgb) {
  int best = 0;
  long best_distance = -1;
  for (std::uint32_t i = 0; i < p.colour_count; ++i) {
    const std::uint8_t* e = colour_table(p) + 4 * i;
    const long db = long(e[0]) - long(rgb & 0xFF), dg = long(e[1]) - long(rgb >> 8 & 0xFF), dr = long(e[2]) - long(rgb >> 16 & 0xFF);
    const long distance = db * db + dg * dg + dr * dr;
    if (best_distance < 0 || distance < best_distance) best = static_cast<int>(i), best_distance = distance;
  }
  return best;
}

void put_index(Plane& p, i64 x, i64 y, int index) {
  std::uint8_t* row = row_address(p, static_cast<std::int32_t>(y));
  if (p.bits == 1) {
    const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<std::uint8_t>(index & 1 ? row[x >> 3] | bit : row[x >> 3] & ~bit);
  } else {
    std::uint8_t& b = row[x >> 1];
    b = static_cast<std::uint8_t>(x & 1 ? (b & 0xF0) | (index & 15) : (b & 0x0F) | (index & 15) << 4);
  }
}

void draw_plain(Plane& p, std::int32_t x, std::int32_t y, std::uint32_t colour, std::u32string_view text, const Font& font) {
  const Font::Box box = font.box(font.extent(text));
  const i64 left = std::max<i64>(x, p.clip.left), top = std::max<i64>(y, p.clip.top);
  const i64 right = std::min<i64>(i64(x) + (box.right - box.left), p.clip.right);
  const i64 bottom = std::min<i64>(i64(y) + (box.bottom - box.top), p.clip.bottom);
  if (left >= right || top >= bottom) return;
  const bool opaque = (colour & kTextOpaque) != 0;
  const Colour fore = palette_colour(colour & 0xFF), back = palette_colour(colour >> 8 & 0xFF);
  const int bytes = p.bits / 8;
  const int fore_index = p.bits < 8 ? nearest_table_entry(p, fore.rgb) : 0;
  const int back_index = p.bits < 8 ? nearest_table_entry(p, back.rgb) : 0;
  const std::size_t stride = std::size_t((right - left + 7) / 8);
  const i64 band = std::max<i64>(1, i64(kTextWorkBytes / stride));
  for (i64 y0 = top; y0 < bottom; y0 += band) {
    const i64 y1 = std::min(bottom, y0 + band);
    clear_work(stride * std::size_t(y1 - y0), opaque);
    font.draw(text, i64(x) - box.left, i64(y) - box.top, left, y0, int(right - left), int(y1 - y0), g_work.data(), stride,
              opaque ? g_cell.data() : nullptr);
    for (i64 row = y0; row < y1; ++row) {
      const std::uint8_t* glyph = g_work.data() + std::size_t(row - y0) * stride;
      const std::uint8_t* cell = opaque ? g_cell.data() + std::size_t(row - y0) * stride : nullptr;
      if (p.bits < 8) {
        for (i64 c = 0; c < right - left; ++c) {
          if (bit(glyph, c)) put_index(p, left + c, row, fore_index);
          else if (cell != nullptr && bit(cell, c)) put_index(p, left + c, row, back_index);
        }
        continue;
      }
      std::uint8_t* d = row_address(p, static_cast<std::int32_t>(row)) + std::size_t(left) * bytes;
      switch (bytes) {
        case 1: plain_row<1>(glyph, cell, d, right - left, fore, back); break;
        case 2: plain_row<2>(glyph, cell, d, right - left, fore, back); break;
        case 3: plain_row<3>(glyph, cell, d, right - left, fore, back); break;
        default: plain_row<4>(glyph, cell, d, right - left, fore, back); break;
      }
    }
  }
}

// The coverage of one destination pixel: the bits of its 8 x 8 block, 4 for each, except that a
// full first row counts 31 instead of 32 so that full coverage is exactly 255.
struct BitCounts {
  std::uint8_t times_four[256];
  constexpr BitCounts() : times_four() {
    for (int b = 0; b < 256; ++b)
      for (int k = 0; k < 8; ++k) times_four[b] = static_cast<std::uint8_t>(times_four[b] + 4 * ((b >> k) & 1));
  }
};
constexpr BitCounts kBitCounts;

inline std::uint32_t coverage(const std::uint8_t* block, std::size_t stride) {
  std::uint32_t c = 0;
  for (int r = 0; r < 8; ++r) c += kBitCounts.times_four[block[std::size_t(r) * stride]];
  return block[0] == 0xFF ? c - 1 : c;
}

}  // namespace

std::uint32_t block_coverage(const std::uint8_t* block, std::size_t stride) { return coverage(block, stride); }

namespace {

void draw_anti_aliased(Plane& p, std::int32_t x, std::int32_t y, std::uint32_t colour, std::u32string_view text,
                       const Font& font) {
  const Font::Box box = font.box(font.extent(text));
  // The work area: the extent at eight times the size, rounded up to whole blocks, and one more.
  const i64 work_width = (box.right - box.left + 7) / 8 * 8 + 8, work_height = (box.bottom - box.top + 7) / 8 * 8 + 8;
  const i64 left = std::max<i64>(x, p.clip.left), top = std::max<i64>(y, p.clip.top);
  const i64 right = std::min<i64>(i64(x) + work_width / 8, p.clip.right);
  const i64 bottom = std::min<i64>(i64(y) + work_height / 8, p.clip.bottom);
  if (left >= right || top >= bottom) return;
  const int bytes = p.bits / 8;
  const Colour fore = palette_colour(colour & 0xFF), back = palette_colour(colour >> 8 & 0xFF);
  // On 1 and 4 bits a pixel is the text's where at least half its block is covered.
  const int fore_index = p.bits < 8 ? nearest_table_entry(p, fore.rgb) : 0;
  if (p.bits < 8 && (colour & kTextOpaque)) {
    const int back_index = nearest_table_entry(p, back.rgb);
    for (i64 row = top; row < bottom; ++row)
      for (i64 c = left; c < right; ++c) put_index(p, c, row, back_index);
  } else if (colour & kTextOpaque) {
    for (i64 row = top; row < bottom; ++row) {
      std::uint8_t* d = row_address(p, static_cast<std::int32_t>(row)) + std::size_t(left) * bytes;
      for (i64 c = left; c < right; ++c, d += bytes) put(d, bytes, back);
    }
  }
  const bool as_alpha = bytes == 4 && (colour & kTextCoverage) != 0;
  std::uint8_t fore_bytes[4];
  std::memcpy(fore_bytes, &fore.rgb, 4);
  // One byte of the work plane per destination pixel and work row.
  const std::size_t stride = std::size_t(right - left);
  if (g_coverage.size() < stride) g_coverage.resize(stride);
  const i64 band = std::max<i64>(1, i64(kTextWorkBytes / (stride * 8)));
  for (i64 y0 = top; y0 < bottom; y0 += band) {
    const i64 y1 = std::min(bottom, y0 + band);
    clear_work(stride * 8 * std::size_t(y1 - y0), false);
    font.draw(text, -box.left, -box.top, 8 * (left - x), 8 * (y0 - y), int(8 * (right - left)), int(8 * (y1 - y0)),
              g_work.data(), stride);
    for (i64 row = y0; row < y1; ++row) {
      const std::uint8_t* blocks = g_work.data() + std::size_t(row - y0) * 8 * stride;
      simd::coverage_row(blocks, stride, g_coverage.data());
      if (p.bits < 8) {
        for (std::size_t c = 0; c < stride; ++c)
          if (g_coverage[c] >= 128) put_index(p, left + i64(c), row, fore_index);
        continue;
      }
      std::uint8_t* d = row_address(p, static_cast<std::int32_t>(row)) + std::size_t(left) * bytes;
      if (bytes == 1) {
        for (std::size_t c = 0; c < stride; ++c) d[c] = static_cast<std::uint8_t>(g_coverage[c]);  // the coverage mask
        continue;
      }
      for (std::size_t c = 0; c < stride; ++c, d += bytes) {
        // Four uncovered pixels at once: most of a line's rectangle.
        if ((c & 3) == 0 && c + 4 <= stride) {
          std::uint64_t four;
          std::memcpy(&four, g_coverage.data() + c, 8);
          if (four == 0) {
            c += 3;
            d += 3 * bytes;
            continue;
          }
        }
        const std::uint32_t cover = g_coverage[c];
        if (cover == 0) {
          continue;
        } else if (as_alpha) {
          const std::uint32_t v = fore.rgb | cover << 24;
          std::memcpy(d, &v, 4);
        } else if (cover == 255) {
          put(d, bytes, fore);
        } else if (bytes == 4) {
          const std::uint8_t* share = g_pixel_tables.multiply[cover];
          const std::uint8_t* keep = g_pixel_tables.multiply[255 - cover];
          for (int k = 0; k < 4; ++k) d[k] = static_cast<std::uint8_t>(share[fore_bytes[k]] + keep[d[k]]);
        } else {
          blend(d, bytes, fore.rgb, cover);
        }
      }
    }
  }
}

}  // namespace

void reset_fonts() {
  for (FontSlot& s : g_slots) {
    s.font.reset();
    s.record = start_up_record();
    s.rebuild = true;
    s.kerning.clear();
    s.builds = 0;
  }
  g_work = {};
  g_cell = {};
}

const Font* slot_font(int slot) {
  FontSlot* s = built_slot(static_cast<std::uint32_t>(slot));
  return s != nullptr ? s->font.get() : nullptr;
}

int font_builds(int slot) { return slot >= 0 && slot < kFontSlots ? g_slots[slot].builds : 0; }

bool draw_text(Plane& p, std::int32_t x, std::int32_t y, std::uint32_t colour, std::string_view cp932, int slot) {
  FontSlot* s = built_slot(static_cast<std::uint32_t>(slot));
  if (s == nullptr) return false;
  const std::u32string text = Font::characters(cp932);
  if (s->record.flags & kFontAntiAliased) {
    draw_anti_aliased(p, x, y, colour, text, *s->font);
  } else {
    draw_plain(p, x, y, colour, text, *s->font);
  }
  return true;
}

// ---- built-ins ----------------------------------------------------------------------------------

std::uint32_t bi_font_list(Address arguments) {
  const Address buffer = vm::argument_word(arguments, 0);
  const std::int32_t max = vm::argument_int(arguments, 1);
  if (buffer == 0 || max <= 0) return 0;
  const std::vector<std::string> names = japanese_fixed_pitch_faces();
  const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(names.size(), std::size_t(max)));
  std::uint8_t* out = vm::checked_pointer(buffer, std::uint64_t(count) * 32);
  if (out == nullptr) return 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::memset(out + 32 * i, 0, 32);
    std::memcpy(out + 32 * i, names[i].data(), names[i].size());
  }
  return count;
}

std::uint32_t bi_font_use(Address arguments) {
  const int thread = vm::current_thread_slot();
  if (thread >= 0) vm::thread_font(thread) = static_cast<std::uint8_t>(vm::argument_word(arguments, 0));
  return 1;
}

std::uint32_t bi_font_set(Address arguments) {
  const std::uint32_t slot = vm::argument_word(arguments, 0);
  FontRecord r;
  if (slot >= kFontSlots || !vm::load(vm::argument_word(arguments, 1), r)) return 0;
  FontSlot& s = g_slots[slot];
  if (std::memcmp(&r, &s.record, sizeof r) != 0) {
    s.record = r;
    s.rebuild = true;
  }
  return 1;
}

std::uint32_t bi_font_get(Address arguments) {
  const std::uint32_t slot = vm::argument_word(arguments, 0);
  if (slot >= kFontSlots) return 0;
  return vm::store(vm::argument_word(arguments, 1), g_slots[slot].record) ? 1 : 0;
}

std::uint32_t bi_font_abc(Address arguments) {
  const std::uint32_t code = vm::argument_word(arguments, 1);
  const Address out = vm::argument_word(arguments, 2);
  if (code >= 128 || vm::checked_pointer(out, 12) == nullptr) return 0;
  FontSlot* s = built_slot(vm::argument_word(arguments, 0));
  if (s == nullptr) return 0;
  std::memcpy(vm::checked_pointer(out, 12), s->abc[code], 12);
  return 1;
}

std::uint32_t bi_font_kern(Address arguments) {
  const std::uint32_t pair = vm::argument_word(arguments, 1);
  const Address out = vm::argument_word(arguments, 2);
  if (pair >= 128 * 128 || vm::checked_pointer(out, 4) == nullptr) return 0;
  FontSlot* s = built_slot(vm::argument_word(arguments, 0));
  if (s == nullptr || s->kerning.empty()) return 0;
  return vm::store(out, s->kerning[pair]) ? 1 : 0;
}

namespace {

std::uint32_t text_call(Address arguments, std::string_view text) {
  Plane* p = plane(vm::argument_word(arguments, 0));
  if (p == nullptr) return 0;
  return draw_text(*p, vm::argument_int(arguments, 1), vm::argument_int(arguments, 2), vm::argument_word(arguments, 3), text,
                   current_font())
             ? 1
             : 0;
}

}  // namespace

std::uint32_t bi_gtext(Address arguments) {
  const std::optional<std::string_view> text = vm::load_string(vm::argument_word(arguments, 4));
  if (vm::argument_word(arguments, 4) == 0 || !text) return 0;
  return text_call(arguments, *text);
}

// The text is formatted into a buffer of 1024 bytes first, as the system's formatter had.
std::uint32_t bi_gtextf(Address arguments) {
  const std::optional<std::string_view> format = vm::load_string(vm::argument_word(arguments, 4));
  if (vm::argument_word(arguments, 4) == 0 || !format) return 0;
  constexpr std::size_t kBuffer = 1024;
  std::string text = library::format_script_words(*format, arguments, 5, kBuffer - 1);
  text.resize(platform::sjis_safe_length(text.c_str(), kBuffer - 1));
  return text_call(arguments, text);
}

}  // namespace talven::graphics
