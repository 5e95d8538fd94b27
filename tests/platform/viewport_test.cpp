// Where the picture goes in the window: the whole client area, or in full screen with a fixed
// aspect ratio the largest centred rectangle of the picture's proportions.
#include <gtest/gtest.h>

#include "platform/window.h"

namespace talven::platform {
namespace {

TEST(Viewport, FixedAspectRatioLetterboxesAndPillarboxes) {
  struct Case {
    int width, height, output_width, output_height;
    PictureFit fit;
    Rect expected;
  };
  const Case cases[] = {
      {1280, 720, 1280, 1024, PictureFit::keep_aspect, {0, 152, 1280, 720}},
      {640, 480, 1920, 1080, PictureFit::keep_aspect, {240, 0, 1440, 1080}},
      {1280, 720, 1920, 1080, PictureFit::keep_aspect, {0, 0, 1920, 1080}},
      {1280, 720, 1280, 1024, PictureFit::fill, {0, 0, 1280, 1024}},
      {1280, 720, 0, 0, PictureFit::keep_aspect, {0, 0, 0, 0}},
      {640, 480, 800, 600, PictureFit::one_to_one, {80, 60, 640, 480}},
      {640, 480, 600, 400, PictureFit::one_to_one, {0, 0, 640, 480}},
  };
  for (const Case& c : cases) {
    const Rect r = fitted_viewport(c.width, c.height, c.output_width, c.output_height, c.fit);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
  }
}

}  // namespace
}  // namespace talven::platform

namespace talven::platform {
namespace {

// Full screen without scaling picks the display mode by size alone; the order the display lists
// its modes in decides ties, since a mode only wins when it is smaller in both directions.
TEST(FullScreenModeTest, TheSmallestModeThatHoldsThePicture) {
  const Size modes[] = {{1920, 1080}, {640, 480}, {1280, 1024}, {1280, 720}, {1024, 768}, {1360, 768}};
  struct Case {
    int width, height;
    bool found;
    Size expected;
  } cases[] = {
      {640, 480, true, {640, 480}},
      {1280, 720, true, {1280, 1024}},   // 1280x1024 is kept first, 1280x720 is smaller in height only
      {800, 600, true, {1024, 768}},     // 1920x1080 first, then 1280x1024, then 1024x768 beats both
      {1300, 700, true, {1360, 768}},    // only 1920x1080 and 1360x768 are wide enough
      {2000, 1000, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    Size chosen;
    ASSERT_EQ(smallest_mode_holding(modes, 6, c.width, c.height, chosen), c.found);
    if (!c.found) continue;
    EXPECT_EQ(chosen.width, c.expected.width);
    EXPECT_EQ(chosen.height, c.expected.height);
  }
}

// On a HiDPI display the renderer counts twice the window's units: the picture's area goes back
// to the units mouse positions come in.
TEST(Viewport, DrawablePixelsBecomeWindowUnits) {
  const Rect letterbox{0, 64, 2560, 1920};
  const Rect r = in_window_units(letterbox, Size{1280, 1024}, Size{2560, 2048});
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 32);
  EXPECT_EQ(r.width, 1280);
  EXPECT_EQ(r.height, 960);
  const Rect same = in_window_units(letterbox, Size{0, 0}, Size{2560, 2048});
  EXPECT_EQ(same.y, 64) << "a window with no size leaves the rectangle as it is";
}

}  // namespace
}  // namespace talven::platform
