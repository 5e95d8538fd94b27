// gclear, gfill, gline, gpoly and the dirty-rectangle list.
#include "graphics/graphics_test_support.h"

namespace talven::graphics::test {
namespace {

using RasterTest = GraphicsTest;

std::uint32_t value(std::uint32_t number, std::int32_t x, std::int32_t y) {
  const Plane& p = *plane(number);
  std::uint32_t v = 0;
  std::memcpy(&v, row_address(p, y) + x * (p.bits / 8), p.bits / 8);
  return v;
}

TEST_F(RasterTest, GclearStoresTheRawValueForEachDepth) {
  const struct {
    int bits;
    std::uint32_t colour, stored;
  } cases[] = {{8, 0x123456AB, 0xAB}, {16, 0x00FF8010, (0xF8u << 7) | (0x80u << 2) | (0x10u >> 3)},
               {24, 0x80FFEEDD, 0xFFEEDD}, {32, 0x80FFFFFF, 0x80FFFFFF}};
  for (const auto& c : cases) {
    ASSERT_TRUE(allocate_plane(1, 5, 4, c.bits));
    EXPECT_EQ(clear_rect(1, nullptr, c.colour), 1);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(value(1, x, y), c.stored) << c.bits;
  }
  plane(1)->clip = {1, 1, 3, 3};
  const Rect outside{3, 3, 9, 9};
  EXPECT_EQ(clear_rect(1, &outside, 0), 0);
  const Rect inside{0, 0, 9, 9};
  EXPECT_EQ(clear_rect(1, &inside, 0), 1);
  EXPECT_EQ(value(1, 1, 1), 0u);
  EXPECT_EQ(value(1, 3, 3), 0x80FFFFFFu);
  EXPECT_EQ(clear_rect(2, nullptr, 0), 0);
}

TEST_F(RasterTest, GfillBlendsByTheRuleOfEachDepth) {
  ASSERT_TRUE(allocate_plane(1, 4, 4, 32));
  clear_rect(1, nullptr, 0x40204060);
  EXPECT_EQ(fill_rect(1, 0, 0, 4, 4, 0x00FF0000), 1);  // opacity 0: nothing
  EXPECT_EQ(value(1, 2, 2), 0x40204060u);
  EXPECT_EQ(fill_rect(1, 1, 1, 2, 2, 0x80FF0000), 1);
  const PixelTables& t = pixel_tables();
  const int k = t.weight[0x80][0x40];
  const std::uint32_t r = t.multiply[k][255] + t.multiply[255 - k][0x20], g = t.multiply[255 - k][0x40],
                      b = t.multiply[255 - k][0x60];
  EXPECT_EQ(value(1, 1, 1), std::uint32_t(t.screen[0x80][0x40]) << 24 | r << 16 | g << 8 | b);
  EXPECT_EQ(value(1, 0, 0), 0x40204060u);
  ASSERT_TRUE(allocate_plane(2, 2, 2, 8));
  clear_rect(2, nullptr, 100);
  fill_rect(2, -5, -5, 100, 100, 0x800000C8);  // indices blended as numbers
  EXPECT_EQ(value(2, 1, 1), std::uint32_t(t.multiply[0x80][200] + t.multiply[0x7F][100]));
  ASSERT_TRUE(allocate_plane(3, 2, 2, 16));
  fill_rect(3, 0, 0, 2, 2, 0xFFFFFFFF);
  EXPECT_EQ(value(3, 0, 0), 0x7FFFu);
  EXPECT_EQ(fill_rect(9, 0, 0, 1, 1, 0xFFFFFFFF), 0);
  EXPECT_EQ(fill_rect(1, 2147483600, 0, 2147483647, 5, 0xFFFFFFFF), 1);  // far off the plane
}

TEST_F(RasterTest, GlineClipsAndDrawsRuns) {
  ASSERT_TRUE(allocate_plane(1, 20, 10, 8));
  EXPECT_EQ(draw_line(1, -10, 5, 10, 5, 0xFF0000FF), 1);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(value(1, x, 5), x <= 10 ? 0xFFu : 0u) << x;
  EXPECT_EQ(draw_line(1, 3, -100, 3, 100, 0xFF000011), 1);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(value(1, 3, y), 0x11u);
  EXPECT_EQ(draw_line(1, -5, -1, -1, -9, 0xFF0000FF), 0);  // both ends beyond the left edge
  EXPECT_EQ(draw_line(1, -2000000000, -2000000000, 2000000000, 2000000000, 0xFF0000FF), 1);
  EXPECT_EQ(value(1, 7, 7), 0xFFu);
}

TEST_F(RasterTest, DiagonalLineSharesItsOpacityBetweenTwoPixels) {
  ASSERT_TRUE(allocate_plane(1, 40, 40, 8));
  const std::uint32_t a = 200;
  ASSERT_EQ(draw_line(1, 2, 3, 32, 18, a << 24 | 0xFF), 1);  // slope 1/2
  for (int x = 2; x <= 32; ++x) {
    int touched = 0, sum = 0;
    for (int y = 0; y < 40; ++y) {
      const int v = static_cast<int>(value(1, x, y));
      touched += v != 0;
      sum += v;
    }
    EXPECT_LE(touched, 2) << x;
    EXPECT_GE(touched, 1) << x;
    EXPECT_NEAR(sum, 200, 3) << x;
  }
  ASSERT_TRUE(allocate_plane(2, 40, 40, 8));
  ASSERT_EQ(draw_line(2, 0, 0, 39, 39, 0xFF0000FF), 1);  // 45 degrees, up to the plane's last pixel
  for (int x = 0; x < 40; ++x) {
    int sum = 0;
    for (int y = 0; y < 40; ++y) sum += static_cast<int>(value(2, x, y));
    EXPECT_NEAR(sum, 255, 3) << x;
  }
}

TEST_F(RasterTest, GpolyFillsByTheEvenOddRule) {
  ASSERT_TRUE(allocate_plane(1, 100, 100, 8));
  // A five-pointed star drawn in one stroke: the pentagon in the middle is crossed twice.
  const std::int32_t star[] = {50, 5, 79, 95, 3, 39, 97, 39, 21, 95};
  ASSERT_EQ(fill_polygon(1, star, 5, 0xFF0000FF), 1);
  EXPECT_EQ(value(1, 50, 55), 0u);     // centre
  EXPECT_EQ(value(1, 50, 15), 0xFFu);  // top point
  EXPECT_EQ(value(1, 10, 41), 0xFFu);  // left point
  EXPECT_EQ(value(1, 2, 2), 0u);
  const std::int32_t two[] = {0, 0, 10, 10};
  EXPECT_EQ(fill_polygon(1, two, 2, 0xFF0000FF), 0);
  const std::int32_t huge[] = {-2147483647, -2147483647, 2147483647, 0, -2147483647, 2147483647};
  EXPECT_EQ(fill_polygon(1, huge, 3, 0xFF000001), 1);
  EXPECT_EQ(value(1, 99, 50), 1u);
}

TEST_F(RasterTest, DirtyListMergesWhenFull) {
  ScriptArguments args;
  args.call(bi_drt_init, {});
  for (int i = 0; i < 2048; ++i)
    ASSERT_EQ(args.call(bi_drt_set, {put_rect(args.scratch(), {i, i, i + 1, i + 2})}), 1u);
  EXPECT_EQ(args.call(bi_drt_set, {put_rect(args.scratch(), {-5, 3, 2, 9})}), 0u);
  ASSERT_EQ(dirty_count(), 1);
  const Rect u = dirty_rect(0);
  EXPECT_EQ(std::make_tuple(u.left, u.top, u.right, u.bottom), std::make_tuple(-5, 0, 2048, 2049));
  EXPECT_EQ(args.call(bi_drt_set, {0}), 0u);
}

TEST_F(RasterTest, DirtyCopyCopiesTheUnionOfTheRectanglesOnly) {
  ScriptArguments args;
  ASSERT_TRUE(allocate_plane(2, 40, 30, 8));
  std::mt19937 rng(5);
  randomise(*plane(2), rng);
  ASSERT_TRUE(allocate_plane(1, 40, 30, 32));
  args.call(bi_drt_init, {});
  EXPECT_EQ(args.call(bi_drt_copy, {1, 0, 0, 2, 0}), 1u);  // empty list: nothing
  const Rect a{2, 2, 12, 10}, b{8, 6, 20, 16};
  args.call(bi_drt_set, {put_rect(args.scratch(), a)});
  args.call(bi_drt_set, {put_rect(args.scratch(), b)});
  ASSERT_EQ(args.call(bi_drt_copy, {1, 0, 0, 2, 0}), 1u);
  auto inside = [](const Rect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const std::uint32_t want = inside(a, x, y) || inside(b, x, y) ? read_pixel(*plane(2), x, y) : 0;
      ASSERT_EQ(value(1, x, y) & 0xFFFFFF, want) << x << "," << y;  // 8-bit source through its colour table
    }
  EXPECT_EQ(dirty_count(), 2);
  // A rectangle covering the whole copy area copies it in one piece and empties the list.
  args.call(bi_drt_set, {put_rect(args.scratch(), {-10, -10, 100, 100})});
  ASSERT_EQ(args.call(bi_drt_copy, {1, 3, 4, 2, put_rect(args.scratch(64), {0, 0, 5, 5})}), 1u);
  EXPECT_EQ(dirty_count(), 0);
  EXPECT_EQ(value(1, 3, 4) & 0xFFFFFF, read_pixel(*plane(2), 0, 0));
  EXPECT_EQ(args.call(bi_drt_copy, {1, 0, 0, 7, 0}), 0u);
}

}  // namespace
}  // namespace talven::graphics::test
