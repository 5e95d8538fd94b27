// Fonts: faces found by name through fontconfig and rasterised by FreeType the way the engine's
// text expects them, as the font slots of the text built-ins hold them. Internal to graphics/
// (the shell's debug window draws its lines with them too).
//
// A font is built from a record: the face name (cp932), the cell height in pixels, the text angle
// in tenths of a degree, bold, italic, underline, strike-out, the weight. A name that no installed
// face carries falls back, silently, to an installed Japanese Gothic: games name Windows faces.
// Glyphs are drawn one bit per pixel (no smoothing of their own); the anti-aliased text of the
// text built-ins comes from drawing at eight times the size and counting bits.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talven::graphics {

// The script's font record (font_set, font_get), 48 bytes.
struct FontRecord {
  char face[32];         // zero-terminated cp932
  std::int32_t size;     // cell height in pixels
  std::int32_t angle;    // text angle in tenths of a degree, counter-clockwise
  std::uint32_t flags;   // FontFlag bits
  std::int32_t weight;   // 100 (thin) to 900 (black); below 1 means 400
};
static_assert(sizeof(FontRecord) == 48);

enum FontFlag : std::uint32_t {
  kFontBold = 1,
  kFontItalic = 2,
  kFontUnderline = 4,
  kFontStrikeOut = 8,
  kFontAntiAliased = 16,
};

// Cell heights are clamped to 1 ... kMaxFontHeight pixels before the factor of anti-aliasing (a
// size of 0 means the start-up size, a negative size its magnitude).
inline constexpr int kMaxFontHeight = 1024;
inline constexpr int kDefaultFontHeight = 16;

// Where a face name leads: the file, its face index, and what the face lacks of the request.
struct FaceChoice {
  std::string file;
  int index = 0;
  bool fallback = false;        // the name named no installed face
  bool synthetic_bold = false;  // the face is lighter than asked
  bool synthetic_italic = false;
};
// The face for a UTF-8 family name at an OpenType weight (100-900) and slant; empty `file` when
// fontconfig finds no scalable face at all.
FaceChoice choose_face(const std::string& family_utf8, int weight, bool italic);

// The names of the installed fixed-pitch (or dual-width) faces that cover Japanese, as cp932, in
// name order, one per family, none starting with "@" and none longer than 31 bytes.
std::vector<std::string> japanese_fixed_pitch_faces();

struct GlyphBitmap;
struct TextLayout;

class Font {
 public:
  // Null when no face could be loaded. `scale` multiplies the record's size (8 for the anti-aliased
  // path).
  static std::unique_ptr<Font> build(const FontRecord& record, int scale);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  int height() const { return height_; }  // cell height in pixels
  int ascent() const { return ascent_; }
  const FaceChoice& face() const { return choice_; }
  std::int32_t angle() const { return angle_; }

  // The text's extent: the sum of the characters' advances (italic adds height / 4 + 1) by the
  // cell height, before turning.
  struct Extent {
    std::int64_t width;
    std::int32_t height;
  };
  Extent extent(std::string_view cp932) const;
  Extent extent(std::u32string_view characters) const;
  // The characters of cp932 text (converted once; a cut double-byte character at the end is dropped).
  static std::u32string characters(std::string_view cp932);

  // The bounding rectangle of the extent turned by the text angle, relative to the reference
  // point (the top left corner of the unturned cell).
  struct Box {
    std::int64_t left, top, right, bottom;
  };
  Box box(const Extent& e) const;

  // Sets in `bits` every pixel that the text, with its reference point at (x, y), covers inside
  // `window` (a 1-bit image of window_width x window_height pixels whose top left pixel is
  // (window_x, window_y), rows of `stride` bytes, the leftmost pixel in the high bit). When `cell`
  // is given it receives, the same way, the pixels of the text's cell (the opaque background).
  void draw(std::string_view cp932, std::int64_t x, std::int64_t y, std::int64_t window_x, std::int64_t window_y,
            int window_width, int window_height, std::uint8_t* bits, std::size_t stride, std::uint8_t* cell = nullptr) const;
  void draw(std::u32string_view characters, std::int64_t x, std::int64_t y, std::int64_t window_x, std::int64_t window_y,
            int window_width, int window_height, std::uint8_t* bits, std::size_t stride, std::uint8_t* cell = nullptr) const;

  // A, B and C widths of a character code in pixels (unhinted, as floats); false when the face has
  // no glyph for it or the code lies below the face's first character.
  bool abc(std::uint32_t code, float out[3]) const;
  // The first character code the face maps.
  std::uint32_t first_character() const { return first_character_; }
  // Kerning of the pair in pixels from the face's kerning table; false when the face has none.
  bool has_kerning() const;
  float kerning(std::uint32_t first, std::uint32_t second) const;

 private:
  Font() = default;
  // A character's glyph with its advance, cached.
  const GlyphBitmap& glyph(char32_t code) const;
  // The same with its bitmap drawn: cached while the cache's budget allows, else made in `spare`.
  const GlyphBitmap& drawn_glyph(char32_t code, GlyphBitmap& spare) const;
  TextLayout layout(std::u32string_view characters) const;
  // The extent's width from the sum of the advances: italic adds height / 4 + 1.
  std::int64_t widened(std::int64_t advance) const { return italic_ ? advance + height_ / 4 + 1 : advance; }

  FaceChoice choice_;
  void* face_ = nullptr;  // FT_Face
  int height_ = 0, ascent_ = 0;
  std::int32_t angle_ = 0;
  double cos_ = 1, sin_ = 0;
  bool italic_ = false;  // asked for: the extent widens whether the face leans itself or is leant
  bool lean_ = false;    // the face has no italic of its own: glyphs are leant here
  bool underline_ = false, strike_out_ = false;
  int bold_strength_ = 0;  // pixels added to every glyph and advance by synthetic bold
  int underline_offset_ = 0, underline_thickness_ = 1, strike_offset_ = 0, strike_thickness_ = 1;
  std::uint32_t first_character_ = 0;
  // Glyphs, made on first use; their bitmaps kept while they fit the budget. The font may be used by
  // one thread at a time (the built-in lock, or the window thread for its own fonts).
  mutable std::unordered_map<char32_t, std::unique_ptr<GlyphBitmap>> glyphs_;
  mutable std::size_t glyph_bytes_ = 0;
};

}  // namespace talven::graphics
