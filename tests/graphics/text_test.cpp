// Fonts and text: measures against FreeType read independently from the same font file, the
// rebuild-once rule, the anti-aliased coverage rules, and bad input.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <filesystem>
#include <cstring>
#include <random>
#include <string>

#include "graphics/graphics_test_support.h"
#include "graphics/pixel_simd.h"
#include "graphics/text.h"
#include "platform/text_encoding.h"
#include "support/script_arguments.h"
#include "vm/call_gate.h"

namespace talven::graphics::test {
namespace {

using talven::test::ScriptScratch;

// Font files of Debian packages the install script installs; the tests draw with these exact files.
constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

FontRecord record(const char* face, std::int32_t size, std::uint32_t flags = 0, std::int32_t angle = 0) {
  FontRecord r{};
  std::strncpy(r.face, face, sizeof r.face - 1);
  r.size = size;
  r.flags = flags;
  r.angle = angle;
  return r;
}

class TextTest : public GraphicsTest {
 protected:
  ScriptScratch scratch;
  void SetUp() override {
    GraphicsTest::SetUp();
    reset_fonts();
  }
  std::uint32_t set(int slot, const FontRecord& r) {
    const vm::Address a = scratch.zeroed(sizeof r);
    vm::store(a, r);
    return bi_font_set(scratch.args({slot, a}));
  }
};

// What FreeType itself says of a face at the engine's cell height: the size of the em square is the
// cell height scaled by units per em over the face's Windows ascent plus descent.
struct Independent {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  Independent(const char* file, int cell_height) {
    EXPECT_EQ(FT_Init_FreeType(&library), 0);
    EXPECT_EQ(FT_New_Face(library, file, 0, &face), 0);
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const double em = double(cell_height) * face->units_per_EM / (os2->usWinAscent + os2->usWinDescent);
    FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(em * 64)), 72, 72);
  }
  ~Independent() {
    FT_Done_Face(face);
    FT_Done_FreeType(library);
  }
};

// The same file, also through the links the font packages install.
std::string real(const std::string& path) { return std::filesystem::weakly_canonical(path).string(); }

TEST_F(TextTest, FacesResolveToThePinnedFilesAndMissingNamesFallBackToAJapaneseGothic) {
  EXPECT_EQ(real(choose_face("DejaVu Sans", 400, false).file), kDejaVuSans);
  EXPECT_EQ(real(choose_face("IPAGothic", 400, false).file), kIpaGothic);
  for (const char* missing : {"Meiryo", "MS Gothic", ""}) {
    const FaceChoice c = choose_face(missing, 400, false);
    EXPECT_TRUE(c.fallback) << missing;
    EXPECT_EQ(real(c.file), kIpaGothic) << missing;
  }
  // IPA Gothic has no bold and no italic: both are made.
  const FaceChoice bold_italic = choose_face("IPAGothic", 700, true);
  EXPECT_TRUE(bold_italic.synthetic_bold);
  EXPECT_TRUE(bold_italic.synthetic_italic);
  // The list names the fixed-pitch Japanese face in Japanese, as cp932.
  const std::vector<std::string> names = japanese_fixed_pitch_faces();
  EXPECT_NE(std::find(names.begin(), names.end(), platform::utf8_to_cp932("IPAゴシック")), names.end());
  for (const std::string& n : names) EXPECT_TRUE(n.size() <= 31 && n[0] != '@') << n;
}

TEST_F(TextTest, AbcWidthsAndKerningAreFreeTypesNumbersOverTheHeight) {
  constexpr int kHeight = 32;
  ASSERT_EQ(set(3, record("DejaVu Sans", kHeight)), 1u);
  Independent ft(kDejaVuSans, kHeight);
  FT_UInt index = 0;
  const FT_ULong first = FT_Get_First_Char(ft.face, &index);
  for (std::uint32_t code : {std::uint32_t('A'), std::uint32_t('V'), std::uint32_t('g'), std::uint32_t(' '), std::uint32_t('~')}) {
    const vm::Address out = scratch.zeroed(12);
    ASSERT_EQ(bi_font_abc(scratch.args({3, code, out})), 1u);
    float got[3];
    std::memcpy(got, vm::host_pointer(out), 12);
    ASSERT_EQ(FT_Load_Char(ft.face, code, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
    const FT_Glyph_Metrics& m = ft.face->glyph->metrics;
    const double a = m.horiBearingX / 64.0, b = m.width / 64.0, c = m.horiAdvance / 64.0 - a - b;
    EXPECT_NEAR(got[0], a / kHeight, 1e-6) << char(code);
    EXPECT_NEAR(got[1], b / kHeight, 1e-6) << char(code);
    EXPECT_NEAR(got[2], c / kHeight, 1e-6) << char(code);
  }
  if (first > 0) {
    const vm::Address out = scratch.zeroed(12);
    ASSERT_EQ(bi_font_abc(scratch.args({3, std::uint32_t(first - 1), out})), 1u);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(vm::host_pointer(out)[k], 0) << "below the first character";
  }
  for (auto [l, r] : {std::pair{'A', 'V'}, std::pair{'T', 'o'}, std::pair{'a', 'b'}}) {
    FT_Vector v{};
    FT_Get_Kerning(ft.face, FT_Get_Char_Index(ft.face, l), FT_Get_Char_Index(ft.face, r), FT_KERNING_UNSCALED, &v);
    const double em = ft.face->size->metrics.x_scale / 65536.0 / 64.0;  // pixels per font unit
    const vm::Address out = scratch.zeroed(4);
    ASSERT_EQ(bi_font_kern(scratch.args({3, std::uint32_t(l) * 128 + std::uint32_t(r), out})), 1u);
    float got;
    std::memcpy(&got, vm::host_pointer(out), 4);
    EXPECT_FLOAT_EQ(got, float(std::lround(v.x * em)) / kHeight) << l << r << ": whole pixels over the height";
  }
  // A face without kerning data: no table, result 0.
  ASSERT_EQ(set(4, record("IPAGothic", kHeight)), 1u);
  EXPECT_EQ(bi_font_kern(scratch.args({4, 'A' * 128 + 'V', scratch.zeroed(4)})), 0u);
}

TEST_F(TextTest, TheSameRecordTwiceBuildsTheFontOnce) {
  const FontRecord r = record("IPAGothic", 20);
  ASSERT_EQ(set(5, r), 1u);
  ASSERT_NE(slot_font(5), nullptr);
  ASSERT_EQ(set(5, r), 1u);
  ASSERT_NE(slot_font(5), nullptr);
  EXPECT_EQ(font_builds(5), 1);
  FontRecord bigger = r;
  bigger.size = 21;
  ASSERT_EQ(set(5, bigger), 1u);
  ASSERT_NE(slot_font(5), nullptr);
  EXPECT_EQ(font_builds(5), 2);
}

// Anti-aliased text in an 8-bit plane makes the plane the text's coverage mask: every pixel of the
// rectangle is written, 0 where no glyph reaches, 255 under whole blocks; the masked fill draws
// with it.
TEST_F(TextTest, AntiAliasedTextMakesAnEightBitPlaneItsCoverageMask) {
  ASSERT_TRUE(allocate_plane(1, 80, 40, 8));
  Plane& mask = *plane(1);
  std::memset(bytes(mask), 77, size(mask));
  ASSERT_EQ(set(0, record("IPAGothic", 24, kFontAntiAliased)), 1u);
  const std::string text = platform::utf8_to_cp932("■i");
  ASSERT_TRUE(draw_text(mask, 10, 5, 0xFF, text, 0));
  const Font& font = *slot_font(0);
  const Font::Box box = font.box(font.extent(text));
  const int w = int((box.right - box.left + 7) / 8 * 8 + 8) / 8, h = int((box.bottom - box.top + 7) / 8 * 8 + 8) / 8;
  int zero = 0, full = 0, between = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x) {
      const std::uint8_t v = row_address(mask, y)[x];
      const bool inside = x >= 10 && x < 10 + w && y >= 5 && y < 5 + h;
      if (!inside) {
        ASSERT_EQ(v, 77) << x << "," << y << " is outside the text's rectangle";
        continue;
      }
      (v == 0 ? zero : v == 255 ? full : between) += 1;
      ASSERT_NE(v, 77) << x << "," << y << " kept what was there";
    }
  EXPECT_GT(zero, 0);
  EXPECT_GT(full, 9) << "the square covers whole blocks";
  EXPECT_GT(between, 0) << "edges cover parts of blocks";

  // The masked fill paints the colour in full under full coverage and leaves uncovered pixels.
  ASSERT_TRUE(allocate_plane(2, 80, 40, 32));
  Plane& page = *plane(2);
  std::memset(bytes(page), 0x10, size(page));
  BlitMode mode;
  mode.mode = 11;
  mode.opacity = 255;
  mode.colour = 0x00FF0000;
  const Rect whole{0, 0, 80, 40};
  ASSERT_EQ(stretch_blit(&page, &whole, &mask, &whole, nullptr, &mode), 1);
  for (int y = 5; y < 5 + h; ++y)
    for (int x = 10; x < 10 + w; ++x) {
      std::uint32_t d;
      std::memcpy(&d, row_address(page, y) + 4 * x, 4);
      const std::uint8_t c = row_address(mask, y)[x];
      if (c == 255) {
        EXPECT_EQ(d & 0xFFFFFF, 0xFF0000u) << x << "," << y;
      } else if (c == 0) {
        EXPECT_EQ(d, 0x10101010u) << x << "," << y;
      }
    }
}

// Every vector form of the row coverage count gives each pixel's own count, for random blocks, empty and
// full ones, and row lengths with and without a vector tail.
TEST_F(TextTest, RowCoverageEqualsTheCountOfEachBlock) {
  std::mt19937 rng(5);
  for (std::size_t n : {1u, 15u, 16u, 17u, 32u, 40u, 49u, 333u}) {
    std::vector<std::uint8_t> blocks(8 * n);
    for (std::uint8_t& b : blocks) {
      const std::uint32_t pick = rng() % 4;
      b = pick == 0 ? 0 : pick == 1 ? 0xFF : static_cast<std::uint8_t>(rng());
    }
    int count = 0;
    const simd::Implementation* variants = simd::implementations(count);
    for (int v = 0; v < count; ++v) {
      std::vector<std::uint16_t> got(n);
      variants[v].coverage_row(blocks.data(), n, got.data());
      for (std::size_t c = 0; c < n; ++c)
        ASSERT_EQ(got[c], block_coverage(blocks.data() + c, n)) << variants[v].name << ", " << n << ": " << c;
    }
  }
  std::vector<std::uint8_t> full(8, 0xFF);
  EXPECT_EQ(block_coverage(full.data(), 1), 255u);
}

// Coverage as alpha on 32 bits (bit 31): every covered pixel takes the colour with its coverage as
// the fourth byte, and nothing else changes.
TEST_F(TextTest, CoverageBecomesAlphaOnThirtyTwoBits) {
  ASSERT_TRUE(allocate_plane(1, 60, 30, 32));
  Plane& p = *plane(1);
  std::memset(bytes(p), 0x33, size(p));
  ASSERT_EQ(set(0, record("IPAGothic", 16, kFontAntiAliased)), 1u);
  set_screen_palette_entry(9, 0x123456);
  ASSERT_TRUE(draw_text(p, 2, 2, 9 | kTextCoverage, "Ag", 0));
  int covered = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      std::uint32_t d;
      std::memcpy(&d, row_address(p, y) + 4 * x, 4);
      if (d == 0x33333333u) continue;
      ++covered;
      EXPECT_EQ(d & 0xFFFFFF, 0x123456u);
      EXPECT_GT(d >> 24, 0u);
    }
  EXPECT_GT(covered, 20);
}

// Plain text on an 8-bit plane writes exactly the two indices: the foreground under the glyphs and,
// opaque, the background over the rest of the cell; the clip cuts both.
TEST_F(TextTest, PlainTextOnEightBitsWritesExactlyTheTwoIndices) {
  ASSERT_TRUE(allocate_plane(1, 64, 32, 8));
  Plane& p = *plane(1);
  std::memset(bytes(p), 200, size(p));
  p.clip = {4, 4, 40, 20};
  ASSERT_EQ(set(0, record("IPAGothic", 16)), 1u);
  ASSERT_TRUE(draw_text(p, 0, 0, 7 | 9 << 8 | kTextOpaque, "WWWWWW", 0));
  int fore = 0, back = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      const std::uint8_t v = row_address(p, y)[x];
      const bool clipped = x < 4 || x >= 40 || y < 4 || y >= 20;
      if (clipped || y >= 16) {
        EXPECT_EQ(v, 200) << x << "," << y;  // outside the clip, or below the 16-pixel cell
        continue;
      }
      EXPECT_TRUE(v == 7 || v == 9) << x << "," << y << ": " << int(v);
      (v == 7 ? fore : back) += 1;
    }
  EXPECT_GT(fore, 20);
  EXPECT_GT(back, 20);
}

// Planes of 1 and 4 bits get the entries of their own colour tables nearest to the two colours.
TEST_F(TextTest, OneAndFourBitPlanesGetTheirNearestEntries) {
  ASSERT_EQ(set(0, record("IPAGothic", 16)), 1u);
  ASSERT_EQ(set(1, record("IPAGothic", 16, kFontAntiAliased)), 1u);
  set_screen_palette_entry(7, 0xFFFFFF);
  set_screen_palette_entry(9, 0x000000);
  for (int bits : {1, 4}) {
    for (int slot : {0, 1}) {
      ASSERT_TRUE(allocate_plane(1, 40, 20, bits));
      Plane& p = *plane(1);
      std::uint8_t* table = colour_table(p);
      std::memset(table, 0, 4 * p.colour_count);
      const int white = bits == 1 ? 1 : 11;  // the one white entry; every other entry is black
      std::memset(table + 4 * white, 0xFF, 3);
      std::memset(bytes(p), 0, size(p));
      ASSERT_TRUE(draw_text(p, 1, 1, 7 | 9 << 8 | kTextOpaque, "MW", slot));
      int lit = 0;
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) lit += read_pixel(p, x, y) == 0xFFFFFFu;
      EXPECT_GT(lit, 10) << bits << " bits, slot " << slot;
    }
  }
}

// Bad input gets the documented failure or a clamp; nothing reads or writes outside script memory,
// and the work plane stays within its bound.
TEST_F(TextTest, BadInputFailsOrIsClamped) {
  ASSERT_TRUE(allocate_plane(0, 64, 64, 32));
  const vm::Address rec = scratch.zeroed(48);
  const vm::Address out = scratch.zeroed(12);
  // The last two bytes of script memory hold text without a terminator; records there run past the end.
  const vm::Address wild = 0xFFFFFFFEu;
  vm::host_pointer(wild)[0] = 'x', vm::host_pointer(wild)[1] = 'y';
  struct Case {
    const char* what;
    std::uint32_t got, want;
  };
  const Case calls[] = {
      {"font_set slot 32", bi_font_set(scratch.args({32, rec})), 0},
      {"font_set slot -1", bi_font_set(scratch.args({-1, rec})), 0},
      {"font_set null record", bi_font_set(scratch.args({0, 0})), 0},
      {"font_set wild record", bi_font_set(scratch.args({0, wild})), 0},
      {"font_get slot 32", bi_font_get(scratch.args({32, rec})), 0},
      {"font_get wild record", bi_font_get(scratch.args({0, wild})), 0},
      {"font_abc slot 40", bi_font_abc(scratch.args({40, 'A', out})), 0},
      {"font_abc code 128", bi_font_abc(scratch.args({0, 128, out})), 0},
      {"font_abc wild out", bi_font_abc(scratch.args({0, 'A', wild})), 0},
      {"font_kern pair 16384", bi_font_kern(scratch.args({0, 16384, out})), 0},
      {"font_list null", bi_font_list(scratch.args({0, 5})), 0},
      {"font_list wild", bi_font_list(scratch.args({wild, 5})), 0},
      {"gtext null text", bi_gtext(scratch.args({0, 0, 0, 0xFF, 0})), 0},
      {"gtext wild text", bi_gtext(scratch.args({0, 0, 0, 0xFF, wild})), 0},
      {"gtext no plane", bi_gtext(scratch.args({7, 0, 0, 0xFF, "x"})), 0},
      {"gtextf null format", bi_gtextf(scratch.args({0, 0, 0, 0xFF, 0})), 0},
  };
  for (const Case& c : calls) EXPECT_EQ(c.got, c.want) << c.what;
  vm::host_pointer(wild)[0] = vm::host_pointer(wild)[1] = 0;

  // Absurd records draw (clamped) or fail, but never crash; a long string stays within bounds.
  const std::string long_text(100 * 1024, 'W');
  for (std::int32_t size : {0, -1, 100000, INT32_MIN}) {
    for (std::int32_t angle : {0, 900, -3601, 1000000007, INT32_MIN}) {
      FontRecord r = record("", size, kFontAntiAliased | kFontBold | kFontItalic, angle);
      r.weight = angle;  // absurd weights too
      ASSERT_EQ(set(1, r), 1u);
      draw_text(*plane(0), -5, 10, 0x4000FF | kTextCoverage, long_text, 1);
      r.flags = kFontUnderline | kFontStrikeOut;
      ASSERT_EQ(set(2, r), 1u);
      draw_text(*plane(0), 3, -7, 0x40FF, "Text", 2);
    }
  }
  const Font* font = slot_font(1);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->height(), kMaxFontHeight * 8) << "INT32_MIN clamps to the largest size";
}

}  // namespace
}  // namespace talven::graphics::test
