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
