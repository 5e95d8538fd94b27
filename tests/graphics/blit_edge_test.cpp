// The edge cases of the blits: mirroring, the opacity ends, the alpha modes, rotation, depths.
#include <fstream>
#include <regex>
#include <sstream>

#include "graphics/blit_kernels.h"
#include "graphics/graphics_test_support.h"

namespace talven::graphics::test {
namespace {

using BlitEdgeTest = GraphicsTest;

// A 32-bit plane whose pixel (x, y) is x + 16 * y in blue, y in green, a in alpha.
void pattern(std::uint32_t number, std::int32_t w, std::int32_t h, int bits = 32) {
  ASSERT_TRUE(allocate_plane(number, w, h, bits));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint8_t* p = row_address(*plane(number), y) + x * (bits / 8);
      p[0] = static_cast<std::uint8_t>(x + 16 * y);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = 0x40;
      if (bits == 32) p[3] = static_cast<std::uint8_t>(x * 17 + y);
    }
}

std::uint32_t pixel32(std::uint32_t number, std::int32_t x, std::int32_t y) {
  std::uint32_t v;
  std::memcpy(&v, row_address(*plane(number), y) + 4 * x, 4);
  return v;
}

TEST_F(BlitEdgeTest, ReversedSourceMirrorsAndDoubleReversalCancels) {
  pattern(2, 8, 4);
  ASSERT_TRUE(allocate_plane(1, 8, 4, 32));
  const Rect reversed{8, 0, 0, 4};
  ASSERT_EQ(copy_blit(1, 0, 0, 2, &reversed, nullptr), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(pixel32(1, x, y), pixel32(2, 7 - x, y));
  const Rect reversed_y{0, 4, 8, 0};
  ASSERT_EQ(copy_blit(1, 0, 0, 2, &reversed_y, nullptr), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(pixel32(1, x, y), pixel32(2, x, 3 - y));
  // Both rectangles reversed horizontally: no mirror.
  const Rect dst_reversed{8, 0, 0, 4};
  ASSERT_EQ(stretch_blit(plane(1), &dst_reversed, plane(2), &reversed, nullptr, nullptr), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(pixel32(1, x, y), pixel32(2, x, y));
}

TEST_F(BlitEdgeTest, ConstantBlendAtFullOpacityIsACopyAndAtZeroIsRefused) {
  pattern(2, 6, 5);
  ASSERT_TRUE(allocate_plane(1, 6, 5, 32));
  clear_rect(1, nullptr, 0x11223344);
  BlitMode m;
  m.mode = 3;
  m.opacity = 0;
  EXPECT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 0);
  EXPECT_EQ(pixel32(1, 2, 2), 0x11223344u);
  m.opacity = 255;
  EXPECT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(pixel32(1, x, y), pixel32(2, x, y));
}

TEST_F(BlitEdgeTest, AlphaCompositeOntoTransparentDestinationKeepsTheColour) {
  ASSERT_TRUE(allocate_plane(2, 1, 1, 32));
  ASSERT_TRUE(allocate_plane(1, 1, 1, 32));
  const std::uint32_t source = 0x80336699;  // alpha 0x80
  std::memcpy(bytes(*plane(2)), &source, 4);
  clear_rect(1, nullptr, 0x00FFFFFF);
  BlitMode m;
  m.mode = 5;
  m.opacity = 200;
  ASSERT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 1);
  const std::uint32_t a = 0x80 * 200 / 255;
  EXPECT_EQ(pixel32(1, 0, 0), a << 24 | 0x336699);
}

TEST_F(BlitEdgeTest, AlphaWindowCopiesExactlyTheAlphasInside) {
  ASSERT_TRUE(allocate_plane(2, 64, 4, 32));
  ASSERT_TRUE(allocate_plane(1, 64, 4, 32));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x) {
      const std::uint32_t v = std::uint32_t(x + 64 * y) << 24 | 0x0000FF;
      std::memcpy(row_address(*plane(2), y) + 4 * x, &v, 4);
    }
  clear_rect(1, nullptr, 0x77000000);
  BlitMode m;
  m.mode = 7;
  m.opacity = 10;
  m.parameter = 20;
  ASSERT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x) {
      const int alpha = x + 64 * y;
      ASSERT_EQ(pixel32(1, x, y), alpha >= 10 && alpha <= 30 ? 0x770000FFu : 0x77000000u) << alpha;
    }
  // Mode 8 with width 0: the pixels below the threshold are copied, the rest left.
  clear_rect(1, nullptr, 0x77000000);
  m.mode = 8;
  m.opacity = 100;
  m.parameter = 0;
  ASSERT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(pixel32(1, x, y), x + 64 * y < 100 ? 0x770000FFu : 0x77000000u);
  // A 24-bit source without a mask has no alpha to window: nothing is drawn.
  ASSERT_TRUE(allocate_plane(3, 64, 4, 24));
  clear_rect(3, nullptr, 0xFFFFFF);
  clear_rect(1, nullptr, 0x77000000);
  m.mode = 7;
  copy_blit(1, 0, 0, 3, nullptr, &m);
  for (int x = 0; x < 64; ++x) ASSERT_EQ(pixel32(1, x, 0), 0x77000000u);
}

TEST_F(BlitEdgeTest, RotationAtAngleZeroEqualsTheCopy) {
  for (int bilinear = 0; bilinear < 2; ++bilinear) {
    pattern(2, 10, 8);
    ASSERT_TRUE(allocate_plane(1, 16, 12, 32));
    ASSERT_TRUE(allocate_plane(3, 16, 12, 32));
    const Rect source{2, 2, 8, 6};
    const Rect target{5, 3, 11, 7};
    ASSERT_EQ(copy_blit(1, 5, 3, 2, &source, nullptr), 1);
    ASSERT_EQ(rotated_blit(plane(3), &target, plane(2), &source, nullptr, nullptr, 0, bilinear), 1);
    EXPECT_EQ(first_difference(*plane(1), *plane(3)), "") << (bilinear ? "gblita" : "gblit");
  }
}

TEST_F(BlitEdgeTest, PositiveQuarterTurnTurnsCounterClockwise) {
  ASSERT_TRUE(allocate_plane(2, 9, 9, 32));
  ASSERT_TRUE(allocate_plane(1, 9, 9, 32));
  // A marker right of the source centre.
  std::uint32_t marker = 0xFF00FF00;
  std::memcpy(row_address(*plane(2), 4) + 4 * 7, &marker, 4);
  const Rect r{0, 0, 9, 9};
  ASSERT_EQ(rotated_blit(plane(1), &r, plane(2), &r, nullptr, nullptr, 512, false), 1);
  EXPECT_EQ(pixel32(1, 4, 1), marker);  // drawn above the centre
  EXPECT_EQ(pixel32(1, 7, 4), 0u);
}

TEST_F(BlitEdgeTest, SixteenBitSourcesExpandEachChannel) {
  ASSERT_TRUE(allocate_plane(2, 1, 1, 16));
  ASSERT_TRUE(allocate_plane(1, 1, 1, 32));
  bytes(*plane(2))[0] = 0x21, bytes(*plane(2))[1] = 0x7C;  // red 31, green 1, blue 1
  ASSERT_EQ(copy_blit(1, 0, 0, 2, nullptr, nullptr), 1);
  EXPECT_EQ(pixel32(1, 0, 0), 0xFFFF0808u);  // 1 * 255 / 31 = 8; no alpha in the source: opaque
}

TEST_F(BlitEdgeTest, RefusedCalls) {
  pattern(2, 4, 4);
  ASSERT_TRUE(allocate_plane(1, 4, 4, 32));
  ASSERT_TRUE(allocate_plane(3, 4, 4, 4));
  BlitMode m;
  m.mode = 13;
  EXPECT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 0);
  EXPECT_EQ(copy_blit(1, 0, 0, 3, nullptr, nullptr), 0);  // 4-bit planes are not drawn from
  EXPECT_EQ(copy_blit(3, 0, 0, 2, nullptr, nullptr), 0);
  EXPECT_EQ(copy_blit(1, 0, 0, 9, nullptr, nullptr), 0);  // empty slot
  const Rect empty{2, 2, 2, 3};
  EXPECT_EQ(copy_blit(1, 0, 0, 2, &empty, nullptr), 0);
  EXPECT_EQ(rotated_blit(plane(1), &empty, plane(2), nullptr, nullptr, nullptr, 100, true), 0);
}

TEST_F(BlitEdgeTest, AttachedMaskIsReadAtEachBlit) {
  ASSERT_TRUE(allocate_plane(2, 4, 1, 24));
  clear_rect(2, nullptr, 0x0000FF);
  ASSERT_TRUE(allocate_plane(1, 4, 1, 32));
  ScriptArguments args;
  args.call(bi_gattach, {2, 5});
  ASSERT_TRUE(allocate_plane(5, 2, 1, 8));  // covers only the first two columns
  bytes(*plane(5))[0] = 255;
  bytes(*plane(5))[1] = 0;
  BlitMode m;
  m.mode = 5;
  m.opacity = 255;
  ASSERT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 1);
  EXPECT_EQ(pixel32(1, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(pixel32(1, 1, 0), 0u);
  EXPECT_EQ(pixel32(1, 2, 0), 0u);  // outside the mask: not drawn
  ASSERT_TRUE(allocate_plane(5, 4, 1, 8));
  std::memset(bytes(*plane(5)), 255, 4);
  ASSERT_EQ(copy_blit(1, 0, 0, 2, nullptr, &m), 1);
  EXPECT_EQ(pixel32(1, 3, 0), 0xFF0000FFu);
}

TEST_F(BlitEdgeTest, MultiThreadedRowsGiveTheSamePixels) {
  std::mt19937 rng(11);
  ASSERT_TRUE(allocate_plane(2, 300, 200, 32));
  randomise(*plane(2), rng);
  ASSERT_TRUE(allocate_plane(6, 300, 200, 8));
  randomise(*plane(6), rng);
  for (int target_bits : {8, 16, 24, 32}) {
    for (int threads = 0; threads < 2; ++threads) {
      set_multi_threading(threads == 1);
      const std::uint32_t dst = threads ? 4 : 3;
      ASSERT_TRUE(allocate_plane(dst, 320, 240, target_bits));
      clear_rect(dst, nullptr, 0x80402010);
      BlitMode m;
      m.mode = 5;
      m.opacity = 200;
      const Rect to{-7, 3, 333, 251};
      stretch_blit(plane(dst), &to, plane(2), nullptr, nullptr, &m);
      rotated_blit(plane(dst), &to, plane(2), nullptr, nullptr, &m, 300, true);
      rotated_blit(plane(dst), &to, plane(2), nullptr, plane(6), &m, -900, false);
      m.mode = 0;
      copy_blit(dst, 10, 10, 2, nullptr, &m);
      fill_rect(dst, 5, 5, 300, 200, 0x80FF0000);
      const Rect part{20, 20, 200, 220};
      clear_rect(dst, &part, 0x00112233);
    }
    EXPECT_EQ(first_difference(*plane(3), *plane(4)), "") << target_bits;
  }
}

}  // namespace
}  // namespace talven::graphics::test

namespace talven::graphics::test {
namespace {

// A copy whose destination would reach past the 32-bit range stays an unscaled copy of the part
// that can be seen, mirrored or not.
TEST_F(BlitEdgeTest, HugeSourceRectangleKeepsTheVisiblePart) {
  pattern(2, 8, 4);
  for (int mirrored = 0; mirrored < 2; ++mirrored) {
    ASSERT_TRUE(allocate_plane(1, 8, 4, 32));
    ASSERT_TRUE(allocate_plane(3, 8, 4, 32));
    const Rect huge = mirrored ? Rect{8, 0, -2147483644, 4} : Rect{0, 0, INT32_MAX, 4};
    const Rect small = mirrored ? Rect{8, 0, 0, 4} : Rect{0, 0, 8, 4};
    ASSERT_EQ(copy_blit(1, 0, 0, 2, &huge, nullptr), 1);
    ASSERT_EQ(copy_blit(3, 0, 0, 2, &small, nullptr), 1);
    EXPECT_EQ(first_difference(*plane(1), *plane(3)), "") << mirrored;
    EXPECT_EQ(pixel32(1, 0, 0), pixel32(2, mirrored ? 7 : 0, 0));
  }
}

}  // namespace
}  // namespace talven::graphics::test

// The engine's names for the blit modes are the SDK's: same numbers, one for each BLIT_ define.
TEST(BlitModeNames, MatchTheSdkHeader) {
  std::ifstream in(std::string(TALVEN_SOURCE_DIR) + "/sdk/include/talven.h");
  std::stringstream text;
  text << in.rdbuf();
  const std::string header = text.str();
  const std::pair<const char*, int> engine[] = {
      {"BLIT_COPY", talven::graphics::blit::kBlitCopy},          {"BLIT_SRCKEY", talven::graphics::blit::kBlitSourceKey},
      {"BLIT_DSTKEY", talven::graphics::blit::kBlitDestinationKey}, {"BLIT_BLEND", talven::graphics::blit::kBlitBlend},
      {"BLIT_OPERATION", talven::graphics::blit::kBlitOperation}, {"BLIT_ALPHA", talven::graphics::blit::kBlitAlpha},
      {"BLIT_TINT", talven::graphics::blit::kBlitTint},          {"BLIT_WINDOW", talven::graphics::blit::kBlitWindow},
      {"BLIT_RAMP", talven::graphics::blit::kBlitRamp},          {"BLIT_CHANNELS", talven::graphics::blit::kBlitChannels},
      {"BLIT_ALPHACOPY", talven::graphics::blit::kBlitAlphaCopy}, {"BLIT_MASKFILL", talven::graphics::blit::kBlitMaskFill},
      {"BLIT_MONOTINT", talven::graphics::blit::kBlitMonoTint},
  };
  const std::regex define(R"(#define\s+(BLIT_\w+)\s+(\d+))");
  int defines = 0;
  for (std::sregex_iterator it(header.begin(), header.end(), define), end; it != end; ++it) {
    ++defines;
    const std::string name = (*it)[1];
    const int value = std::stoi((*it)[2]);
    bool found = false;
    for (const auto& [engine_name, engine_value] : engine)
      if (name == engine_name) {
        found = true;
        EXPECT_EQ(value, engine_value) << name;
      }
    EXPECT_TRUE(found) << name << " has no name in the graphics module";
  }
  EXPECT_EQ(defines, talven::graphics::blit::kModes);
}
