#include "graphics/fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "platform/text_encoding.h"

namespace talven::graphics {

// One glyph: its advance, and once drawn, its bitmap turned with the text (one bit per pixel,
// leftmost in the high bit) and where it goes relative to the pen position.
struct GlyphBitmap {
  int advance = 0;  // whole pixels along the baseline
  bool drawn = false;
  int left = 0, top = 0;  // the bitmap's top left pixel: right of and above the pen position
  int width = 0, rows = 0, pitch = 0;
  std::vector<std::uint8_t> bits;
};

struct PlacedGlyph {
  char32_t code;
  std::int64_t pen_x, pen_y;  // relative to the reference point
};

struct TextLayout {
  std::vector<PlacedGlyph> glyphs;
  std::int64_t advance = 0;  // the sum of the advances
};

namespace {

// FreeType's library object and fontconfig's configuration are shared by every font; making and
// freeing faces and asking fontconfig go through this lock.
std::mutex g_library_mutex;
FT_Library g_library = nullptr;

FT_Library library() {
  if (g_library == nullptr && FT_Init_FreeType(&g_library) != 0) g_library = nullptr;
  return g_library;
}

bool fontconfig_ready() {
  static const bool ready = FcInit() == FcTrue;
  return ready;
}

// Glyph bitmaps kept per font; beyond this the glyphs of a draw are made for that draw only.
constexpr std::size_t kGlyphCacheBytes = 8u << 20;

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The code points of UTF-8 text (the converter's output is well formed; a cut sequence ends it).
std::u32string code_points(const std::string& utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (i + extra >= utf8.size()) break;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

std::string family_of(FcPattern* pattern, int n) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(pattern, FC_FAMILY, n, &value) != FcResultMatch || value == nullptr) return {};
  return reinterpret_cast<const char*>(value);
}

bool names_family(FcPattern* match, const std::string& family) {
  const std::string wanted = lower_ascii(family);
  for (int n = 0;; ++n) {
    const std::string name = family_of(match, n);
    if (name.empty()) return false;
    if (lower_ascii(name) == wanted) return true;
  }
}

FcPattern* match_pattern(FcPattern* pattern) {
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  return FcFontMatch(nullptr, pattern, &result);
}

FcPattern* request(int weight, bool italic) {
  FcPattern* p = FcPatternCreate();
  FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  return p;
}

// The Japanese Gothic faces a missing name falls back to, in order of preference.
const char* const kFallbackFamilies[] = {"IPAGothic", "IPAexGothic", "Noto Sans CJK JP", "Noto Sans Mono CJK JP",
                                         "IPAPGothic", "VL Gothic", "TakaoGothic"};

FaceChoice choice_of(FcPattern* match, int weight, bool italic, bool fallback) {
  FaceChoice c;
  FcChar8* file = nullptr;
  if (match == nullptr || FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch) return c;
  c.file = reinterpret_cast<const char*>(file);
  FcPatternGetInteger(match, FC_INDEX, 0, &c.index);
  c.fallback = fallback;
  int found_weight = FC_WEIGHT_REGULAR, found_slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(match, FC_WEIGHT, 0, &found_weight);
  FcPatternGetInteger(match, FC_SLANT, 0, &found_slant);
  // fontconfig marks the faces it would make bold or lean itself (and then reports the weight and
  // slant asked for); FreeType makes them here instead.
  FcBool embolden = FcFalse;
  FcMatrix* matrix = nullptr;
  const bool marked_bold = FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch && embolden;
  const bool marked_lean = FcPatternGetMatrix(match, FC_MATRIX, 0, &matrix) == FcResultMatch && matrix != nullptr &&
                           matrix->xy != 0;
  c.synthetic_bold = weight >= 600 && (marked_bold || FcWeightToOpenType(found_weight) <= weight - 200);
  c.synthetic_italic = italic && (marked_lean || found_slant == FC_SLANT_ROMAN);
  return c;
}

FaceChoice choose_face_locked(const std::string& family, int weight, bool italic) {
  if (!fontconfig_ready()) return {};
  if (!family.empty()) {
    FcPattern* p = request(weight, italic);
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPattern* match = match_pattern(p);
    FcPatternDestroy(p);
    if (match != nullptr && names_family(match, family)) {
      FaceChoice c = choice_of(match, weight, italic, false);
      FcPatternDestroy(match);
      return c;
    }
    if (match != nullptr) FcPatternDestroy(match);
  }
  FcPattern* p = request(weight, italic);
  for (const char* name : kFallbackFamilies) FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
  FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcPattern* match = match_pattern(p);
  FcPatternDestroy(p);
  FaceChoice c = choice_of(match, weight, italic, true);
  if (match != nullptr) FcPatternDestroy(match);
  return c;
}

FT_Face as_face(void* f) { return static_cast<FT_Face>(f); }

}  // namespace

FaceChoice choose_face(const std::string& family_utf8, int weight, bool italic) {
  std::lock_guard lock(g_library_mutex);
  // Matching takes fontconfig a while; games rebuild the same few fonts again and again.
  static std::map<std::tuple<std::string, int, bool>, FaceChoice> known;
  const auto key = std::make_tuple(family_utf8, weight, italic);
  auto it = known.find(key);
  if (it != known.end()) return it->second;
  FaceChoice c = choose_face_locked(family_utf8, weight, italic);
  if (known.size() > 256) known.clear();
  known.emplace(key, c);
  return c;
}

std::vector<std::string> japanese_fixed_pitch_faces() {
  std::lock_guard lock(g_library_mutex);
  std::set<std::string> names;
  if (!fontconfig_ready()) return {};
  FcPattern* p = FcPatternCreate();
  FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, FC_SPACING, FC_FONTFORMAT, nullptr);
  FcFontSet* set = FcFontList(nullptr, p, objects);
  for (int i = 0; set != nullptr && i < set->nfont; ++i) {
    FcPattern* font = set->fonts[i];
    int spacing = FC_PROPORTIONAL;
    if (FcPatternGetInteger(font, FC_SPACING, 0, &spacing) != FcResultMatch || spacing < FC_DUAL) continue;
    FcChar8* format = nullptr;
    if (FcPatternGetString(font, FC_FONTFORMAT, 0, &format) == FcResultMatch &&
        std::strcmp(reinterpret_cast<const char*>(format), "TrueType") != 0 &&
        std::strcmp(reinterpret_cast<const char*>(format), "CFF") != 0)
      continue;
    // The family's Japanese name where it has one, as a Japanese system lists it.
    std::string name = family_of(font, 0);
    for (int n = 0;; ++n) {
      FcChar8* lang = nullptr;
      if (FcPatternGetString(font, FC_FAMILYLANG, n, &lang) != FcResultMatch) break;
      if (std::strcmp(reinterpret_cast<const char*>(lang), "ja") == 0 && !family_of(font, n).empty()) {
        name = family_of(font, n);
        break;
      }
    }
    const std::string cp932 = platform::utf8_to_cp932(name);
    if (cp932.empty() || cp932[0] == '@' || cp932.size() > 31) continue;
    names.insert(cp932);
  }
  if (set != nullptr) FcFontSetDestroy(set);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(p);
  return {names.begin(), names.end()};
}

// ---- building ---------------------------------------------------------------------------------

std::unique_ptr<Font> Font::build(const FontRecord& record, int scale) {
  char face_name[33] = {};
  std::memcpy(face_name, record.face, 32);
  std::int64_t size = record.size;
  if (size == 0) size = kDefaultFontHeight;
  size = std::clamp<std::int64_t>(size < 0 ? -size : size, 1, kMaxFontHeight) * std::max(scale, 1);
  int weight = record.weight < 1 ? 400 : std::min(record.weight, 900);
  if (record.flags & kFontBold) weight = std::min(weight + 300, 900);
  const bool italic = (record.flags & kFontItalic) != 0;

  std::unique_ptr<Font> font(new Font());
  font->choice_ = choose_face(platform::cp932_to_utf8(face_name), weight, italic);
  if (font->choice_.file.empty()) return nullptr;
  std::lock_guard lock(g_library_mutex);
  FT_Face face = nullptr;
  if (library() == nullptr || FT_New_Face(library(), font->choice_.file.c_str(), font->choice_.index, &face) != 0)
    return nullptr;
  font->face_ = face;
  FT_Select_Charmap(face, FT_ENCODING_UNICODE);

  // The size is the cell height, ascent plus descent as the face's Windows metrics give them.
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  double cell_ascent = face->ascender, cell_descent = -face->descender;
  if (os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
    cell_ascent = os2->usWinAscent;
    cell_descent = os2->usWinDescent;
  }
  const double units = std::max(1.0, cell_ascent + cell_descent);
  const double pixels_per_unit = double(size) / units;
  const double em = face->units_per_EM * pixels_per_unit;
  if (FT_Set_Char_Size(face, 0, std::max<FT_F26Dot6>(1, FT_F26Dot6(std::lround(em * 64))), 72, 72) != 0) return nullptr;
  font->height_ = static_cast<int>(size);
  font->ascent_ = std::clamp(static_cast<int>(std::lround(cell_ascent * pixels_per_unit)), 0, font->height_);

  font->angle_ = ((record.angle % 3600) + 3600) % 3600;
  const double radians = font->angle_ * 3.14159265358979323846 / 1800.0;
  font->cos_ = std::cos(radians);
  font->sin_ = std::sin(radians);
  // Exact quarter turns keep exact pixel positions.
  if (font->angle_ % 900 == 0) {
    font->cos_ = std::round(font->cos_);
    font->sin_ = std::round(font->sin_);
  }
  font->italic_ = italic;
  font->lean_ = font->choice_.synthetic_italic;
  font->underline_ = (record.flags & kFontUnderline) != 0;
  font->strike_out_ = (record.flags & kFontStrikeOut) != 0;
  font->bold_strength_ = font->choice_.synthetic_bold ? std::max(1, static_cast<int>(em / 24)) : 0;

  auto pixels = [&](double value) { return static_cast<int>(std::lround(value * pixels_per_unit)); };
  font->underline_offset_ = face->underline_position != 0 ? -pixels(face->underline_position) : std::max(1, font->height_ / 10);
  font->underline_thickness_ = std::max(1, pixels(face->underline_thickness));
  if (os2 != nullptr && os2->yStrikeoutSize > 0) {
    font->strike_offset_ = -pixels(os2->yStrikeoutPosition);
    font->strike_thickness_ = std::max(1, pixels(os2->yStrikeoutSize));
  } else {
    font->strike_offset_ = -font->ascent_ / 3;
    font->strike_thickness_ = font->underline_thickness_;
  }
  FT_UInt index = 0;
  font->first_character_ = static_cast<std::uint32_t>(FT_Get_First_Char(face, &index));
  return font;
}

Font::~Font() {
  std::lock_guard lock(g_library_mutex);
  if (face_ != nullptr) FT_Done_Face(as_face(face_));
}

// ---- glyphs -------------------------------------------------------------------------------------

// The glyph's advance; its bitmap is drawn when a draw first needs it (draw_glyph).
const GlyphBitmap& Font::glyph(char32_t code) const {
  auto it = glyphs_.find(code);
  if (it != glyphs_.end()) return *it->second;
  // Text of very many different characters starts the cache again rather than growing it.
  if (glyphs_.size() >= 65536) {
    glyphs_.clear();
    glyph_bytes_ = 0;
  }
  auto g = std::make_unique<GlyphBitmap>();
  FT_Face face = as_face(face_);
  if (FT_Load_Glyph(face, FT_Get_Char_Index(face, code), FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) == 0)
    g->advance = static_cast<int>((face->glyph->metrics.horiAdvance + 32) >> 6) + bold_strength_;
  return *glyphs_.emplace(code, std::move(g)).first->second;
}

const GlyphBitmap& Font::drawn_glyph(char32_t code, GlyphBitmap& spare) const {
  GlyphBitmap& cached = const_cast<GlyphBitmap&>(glyph(code));
  if (cached.drawn) return cached;
  // Beyond the cache's budget the bitmap is made for this one use.
  GlyphBitmap& g = glyph_bytes_ < kGlyphCacheBytes ? cached : spare;
  const int advance = cached.advance;
  g = GlyphBitmap{};
  g.advance = advance;
  g.drawn = true;
  FT_Face face = as_face(face_);
  if (FT_Load_Glyph(face, FT_Get_Char_Index(face, code), FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return g;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (bold_strength_ > 0) FT_Outline_EmboldenXY(&slot->outline, bold_strength_ * 64, 0);
    // Italic leans the glyph about its baseline, then the whole glyph turns with the text.
    const double lean = lean_ ? 0.2 : 0.0;
    FT_Matrix m;
    m.xx = static_cast<FT_Fixed>(std::lround(cos_ * 65536));
    m.xy = static_cast<FT_Fixed>(std::lround((cos_ * lean - sin_) * 65536));
    m.yx = static_cast<FT_Fixed>(std::lround(sin_ * 65536));
    m.yy = static_cast<FT_Fixed>(std::lround((sin_ * lean + cos_) * 65536));
    FT_Outline_Transform(&slot->outline, &m);
  }
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0 || slot->bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return g;
  const FT_Bitmap& b = slot->bitmap;
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = static_cast<int>(b.width);
  g.rows = static_cast<int>(b.rows);
  g.pitch = (g.width + 63) / 64 * 8;  // whole 64-bit words, for drawing a word at a time
  g.bits.assign(std::size_t(g.pitch) * g.rows, 0);
  for (int r = 0; r < g.rows; ++r) {
    const std::ptrdiff_t row = b.pitch >= 0 ? std::ptrdiff_t(r) * b.pitch : std::ptrdiff_t(g.rows - 1 - r) * -b.pitch;
    std::memcpy(g.bits.data() + std::size_t(r) * g.pitch, b.buffer + row, std::size_t(g.width + 7) / 8);
  }
  if (&g == &cached) glyph_bytes_ += g.bits.size();
  return g;
}

std::u32string Font::characters(std::string_view cp932) { return code_points(platform::cp932_to_utf8(cp932)); }

TextLayout Font::layout(std::u32string_view text) const {
  TextLayout out;
  out.glyphs.reserve(text.size());
  // The baseline starts `ascent` below the reference point, across the turned cell.
  const double base_x = ascent_ * sin_, base_y = ascent_ * cos_;
  for (char32_t c : text) {
    const double along = static_cast<double>(out.advance);
    out.glyphs.push_back({c, std::llround(base_x + along * cos_), std::llround(base_y - along * sin_)});
    out.advance += glyph(c).advance;
  }
  return out;
}

Font::Extent Font::extent(std::string_view cp932) const { return extent(characters(cp932)); }

Font::Extent Font::extent(std::u32string_view text) const {
  std::int64_t width = 0;
  for (char32_t c : text) width += glyph(c).advance;
  return {widened(width), height_};
}

Font::Box Font::box(const Extent& e) const {
  if (angle_ == 0) return {0, 0, e.width, e.height};
  if (angle_ == 2700) return {-std::int64_t(e.height), 0, 0, e.width};
  // The corners of the cell turned counter-clockwise on the screen (y grows downwards).
  const double xs[4] = {0, double(e.width), 0, double(e.width)};
  const double ys[4] = {0, 0, double(e.height), double(e.height)};
  Box b{0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    const auto x = static_cast<std::int64_t>(xs[k] * cos_ + ys[k] * sin_);
    const auto y = static_cast<std::int64_t>(-xs[k] * sin_ + ys[k] * cos_);
    b.left = std::min(b.left, x), b.right = std::max(b.right, x);
    b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
  }
  return b;
}

namespace {

inline std::uint64_t load_big_endian(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
inline void or_big_endian(std::uint8_t* p, std::uint64_t bits) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  v |= __builtin_bswap64(bits);
  std::memcpy(p, &v, 8);
}

// Sets the pixels of `bits` (a window as Font::draw describes) whose centres lie in the band of
// the text line from `from` to `to` below the baseline and from 0 to `length` along it.
void fill_band(double base_x, double base_y, double c, double s, std::int64_t length, double from, double to,
               std::int64_t wx, std::int64_t wy, int ww, int wh, std::uint8_t* bits, std::size_t stride) {
  // The band's corners, for the rows and columns worth visiting.
  const double us[2] = {0, double(length)}, vs[2] = {from, to};
  double min_x = 1e300, max_x = -1e300, min_y = 1e300, max_y = -1e300;
  for (double u : us)
    for (double v : vs) {
      const double x = base_x + u * c + v * s, y = base_y - u * s + v * c;
      min_x = std::min(min_x, x), max_x = std::max(max_x, x), min_y = std::min(min_y, y), max_y = std::max(max_y, y);
    }
  const std::int64_t x0 = std::max<std::int64_t>(wx, static_cast<std::int64_t>(std::floor(min_x)));
  const std::int64_t x1 = std::min<std::int64_t>(wx + ww, static_cast<std::int64_t>(std::ceil(max_x)) + 1);
  const std::int64_t y0 = std::max<std::int64_t>(wy, static_cast<std::int64_t>(std::floor(min_y)));
  const std::int64_t y1 = std::min<std::int64_t>(wy + wh, static_cast<std::int64_t>(std::ceil(max_y)) + 1);
  for (std::int64_t y = y0; y < y1; ++y) {
    std::uint8_t* row = bits + std::size_t(y - wy) * stride;
    for (std::int64_t x = x0; x < x1; ++x) {
      const double dx = x + 0.5 - base_x, dy = y + 0.5 - base_y;
      const double u = dx * c - dy * s, v = dx * s + dy * c;
      if (u >= 0 && u < double(length) && v >= from && v < to) {
        const std::int64_t col = x - wx;
        row[col >> 3] |= static_cast<std::uint8_t>(0x80 >> (col & 7));
      }
    }
  }
}

}  // namespace

void Font::draw(std::string_view cp932, std::int64_t x, std::int64_t y, std::int64_t wx, std::int64_t wy, int ww, int wh,
                std::uint8_t* bits, std::size_t stride, std::uint8_t* cell) const {
  draw(std::u32string_view(characters(cp932)), x, y, wx, wy, ww, wh, bits, stride, cell);
}

void Font::draw(std::u32string_view characters, std::int64_t x, std::int64_t y, std::int64_t wx, std::int64_t wy, int ww,
                int wh, std::uint8_t* bits, std::size_t stride, std::uint8_t* cell) const {
  const TextLayout text = layout(characters);
  // A glyph's bitmap lies within this reach of its pen position (bold, italic and turning
  // included), so glyphs farther from the window are not drawn at all.
  const std::int64_t reach = 2 * std::int64_t(height_) + 2 * bold_strength_ + 2;
  GlyphBitmap spare;
  for (const PlacedGlyph& p : text.glyphs) {
    const std::int64_t px = x + p.pen_x, py = y + p.pen_y;
    const std::int64_t advance = glyph(p.code).advance;
    if (px + reach + advance < wx || px - reach - advance >= wx + ww || py + reach + advance < wy ||
        py - reach - advance >= wy + wh)
      continue;
    const GlyphBitmap& g = drawn_glyph(p.code, spare);
    const std::int64_t gx = px + g.left, gy = py - g.top;
    const std::int64_t r0 = std::max<std::int64_t>(0, wy - gy), r1 = std::min<std::int64_t>(g.rows, wy + wh - gy);
    const std::int64_t c0 = std::max<std::int64_t>(0, wx - gx), c1 = std::min<std::int64_t>(g.width, wx + ww - gx);
    if (r0 >= r1 || c0 >= c1) continue;
    // Source rows are taken 64 columns at a time (rows are padded to whole words), cut to columns
    // c0..c1, and land shifted on nine window bytes: the window column of source column 0 is
    // 8 q + shift.
    const std::int64_t to_window = gx - wx;
    const std::int64_t q = to_window >> 3;
    const int shift = static_cast<int>(to_window & 7);
    const std::int64_t first_word = (c0 >> 3) & ~std::int64_t(7);
    auto or_byte = [&](std::uint8_t* row, std::int64_t i, std::uint8_t b) {
      if (i >= 0 && i < std::int64_t(stride)) row[i] |= b;
    };
    // A glyph wholly inside the window needs no cutting (its rows' padding bits are clear) and
    // no bounds checks.
    const bool inside = c0 == 0 && c1 == g.width && q >= 0 && q + g.pitch + 1 <= std::int64_t(stride);
    for (std::int64_t r = r0; r < r1; ++r) {
      const std::uint8_t* source = g.bits.data() + std::size_t(r) * g.pitch;
      std::uint8_t* row = bits + std::size_t(gy + r - wy) * stride;
      if (inside) {
        std::uint8_t* out = row + q;
        std::uint8_t carry = 0;
        for (int k = 0; k < g.pitch; k += 8, out += 8) {
          const std::uint64_t w = load_big_endian(source + k);
          const std::uint64_t high = (w >> shift) | std::uint64_t(carry) << 56;
          carry = shift == 0 ? 0 : static_cast<std::uint8_t>((w << (64 - shift)) >> 56);
          if (high != 0) or_big_endian(out, high);
        }
        if (carry != 0) *out |= carry;
        continue;
      }
      // The bits a word shifts past its eighth byte are carried into the next word's first byte
      // rather than stored alone, which would stall the next word's load on the store.
      std::uint8_t carry = 0;
      std::int64_t carry_at = std::numeric_limits<std::int64_t>::min();
      for (std::int64_t k = first_word; 8 * k < c1; k += 8) {
        std::uint64_t w = load_big_endian(source + k);
        const std::int64_t from = std::max<std::int64_t>(c0 - 8 * k, 0), to = std::min<std::int64_t>(c1 - 8 * k, 64);
        w &= (to == 64 ? ~0ull : ~(~0ull >> to)) & (~0ull >> from);  // columns from..to of the word
        const std::int64_t at = q + k;  // the window byte of the word's first byte (the cut bits land inside)
        std::uint64_t high = w >> shift;
        if (carry_at == at) {
          high |= std::uint64_t(carry) << 56;
        } else if (carry != 0) {
          or_byte(row, carry_at, carry);
        }
        carry = shift == 0 ? 0 : static_cast<std::uint8_t>((w << (64 - shift)) >> 56);
        carry_at = at + 8;
        if (high == 0) continue;
        if (at >= 0 && at + 8 <= std::int64_t(stride)) {
          or_big_endian(row + at, high);
        } else {
          for (int b = 0; b < 8; ++b) or_byte(row, at + b, static_cast<std::uint8_t>(high >> (56 - 8 * b)));
        }
      }
      if (carry != 0) or_byte(row, carry_at, carry);
    }
  }
  const double base_x = x + ascent_ * sin_, base_y = y + ascent_ * cos_;
  if (underline_)
    fill_band(base_x, base_y, cos_, sin_, text.advance, underline_offset_, underline_offset_ + underline_thickness_, wx, wy,
              ww, wh, bits, stride);
  if (strike_out_)
    fill_band(base_x, base_y, cos_, sin_, text.advance, strike_offset_, strike_offset_ + strike_thickness_, wx, wy, ww, wh,
              bits, stride);
  if (cell != nullptr) {
    fill_band(base_x, base_y, cos_, sin_, widened(text.advance), -ascent_, height_ - ascent_, wx, wy, ww, wh, cell, stride);
  }
}

// ---- measures -----------------------------------------------------------------------------------

bool Font::abc(std::uint32_t code, float out[3]) const {
  out[0] = out[1] = out[2] = 0;
  if (code < first_character_) return false;
  FT_Face face = as_face(face_);
  const FT_UInt index = FT_Get_Char_Index(face, code);
  if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return false;
  const FT_Glyph_Metrics& m = face->glyph->metrics;
  out[0] = static_cast<float>(m.horiBearingX / 64.0);
  out[1] = static_cast<float>(m.width / 64.0) + static_cast<float>(bold_strength_);
  out[2] = static_cast<float>(m.horiAdvance / 64.0) + static_cast<float>(bold_strength_) - out[0] - out[1];
  return true;
}

bool Font::has_kerning() const { return FT_HAS_KERNING(as_face(face_)); }

float Font::kerning(std::uint32_t first, std::uint32_t second) const {
  FT_Face face = as_face(face_);
  FT_Vector v{0, 0};
  if (FT_Get_Kerning(face, FT_Get_Char_Index(face, first), FT_Get_Char_Index(face, second), FT_KERNING_UNSCALED, &v) != 0)
    return 0;
  // The system gave kerning amounts in whole pixels.
  return static_cast<float>(std::lround(double(v.x) * face->size->metrics.x_scale / 65536.0 / 64.0));
}

}  // namespace talven::graphics
