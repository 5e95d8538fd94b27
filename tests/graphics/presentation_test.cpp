// The frame the window shows: every plane depth converted, rectangles cut to the screen, the
// full-upload-pending rule, and page selection.
#include "graphics/graphics_test_support.h"
#include "graphics/presentation.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"

namespace talven::graphics::test {
namespace {

class PresentationTest : public GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    presentation_start(8, 4);
  }
  std::vector<std::uint32_t> frame() {
    int w = 0, h = 0;
    return snapshot_frame(w, h);
  }
  ScriptArguments args_;
};

TEST_F(PresentationTest, EveryDepthReachesTheFrameAsItsColours) {
  std::mt19937 rng(8);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    ASSERT_TRUE(allocate_plane(3, 8, 4, bits));
    randomise(*plane(3), rng);
    set_view_page(3);
    ASSERT_TRUE(upload_view_page(nullptr));
    const std::vector<std::uint32_t> f = frame();
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        // 8-bit pages are shown through the screen palette, which starts as the planes' default
        // table; 16-bit pixels through the RGB555 table.
        std::uint32_t expected = read_pixel(*plane(3), x, y);
        if (bits == 16) {
          const std::uint8_t* px = pixel_address(plane(3), x, y);
          expected = pixel_tables().rgb555[(px[0] | px[1] << 8) & 0x7FFF];
        }
        ASSERT_EQ(f[y * 8 + x], 0xFF000000u | expected) << x << "," << y;
      }
  }
}

TEST_F(PresentationTest, UpdateCutsItsRectangleAndRefusesOneOffScreen) {
  ASSERT_TRUE(allocate_plane(0, 8, 4, 32));
  clear_rect(0, nullptr, 0x112233);
  ASSERT_EQ(args_.call(bi_update, {0}), 1u);
  clear_rect(0, nullptr, 0x445566);
  const vm::Address rect = put_rect(args_.scratch(0), Rect{6, 2, 100, 100});
  ASSERT_EQ(args_.call(bi_update, {rect}), 1u);
  std::vector<std::uint32_t> f = frame();
  EXPECT_EQ(f[0], 0xFF112233u);
  EXPECT_EQ(f[3 * 8 + 7], 0xFF445566u);
  EXPECT_EQ(f[2 * 8 + 5], 0xFF112233u);
  put_rect(rect, Rect{8, 0, 20, 4});
  EXPECT_EQ(args_.call(bi_update, {rect}), 0u);
  // After a resize the next update uploads everything whatever rectangle it gets.
  set_full_upload_pending();
  put_rect(rect, Rect{0, 0, 1, 1});
  ASSERT_EQ(args_.call(bi_update, {rect}), 1u);
  EXPECT_EQ(frame()[2 * 8 + 5], 0xFF445566u);
}

TEST_F(PresentationTest, PageSelection) {
  ASSERT_TRUE(allocate_plane(5, 2, 2, 24));
  EXPECT_EQ(args_.call(bi_vpage, {1024}), 0u);
  ASSERT_EQ(reported().size(), 1u);
  EXPECT_EQ(reported()[0], std::string(platform::cp932("SetViewPage : パラメータが範囲外です。")));
  EXPECT_EQ(args_.call(bi_apage, {4000}), 0u);
  EXPECT_EQ(reported().back(), std::string(platform::cp932("SetActivePage : パラメータが範囲外です。")));
  EXPECT_EQ(args_.call(bi_vpage, {6}), 0u);
  EXPECT_EQ(view_page(), 0);
  EXPECT_EQ(args_.call(bi_vpage, {5}), 1u);
  EXPECT_EQ(view_page(), 5);
  EXPECT_EQ(args_.call(bi_apage, {5}), 1u);
  EXPECT_EQ(active_page(), 5);
  EXPECT_EQ(args_.call(bi_setorg, {3, 4}), 1u);
  EXPECT_EQ(reported().size(), 2u);
}

}  // namespace
}  // namespace talven::graphics::test
