// Where the picture goes in the window: the whole client area, or in full screen with a fixed
// aspect ratio the largest centred rectangle of the picture's proportions.
#include <gtest/gtest.h>

#include "platform/window.h"

namespace talven::platform {
namespace {

TEST(Viewport, FixedAspectRatioLetterboxesAndPillarboxes) {
  struct Case {
    int width, height, output_width, output_height;
    bool keep;
    Rect expected;
  };
  const Case cases[] = {
      {1280, 720, 1280, 1024, true, {0, 152, 1280, 720}},
      {640, 480, 1920, 1080, true, {240, 0, 1440, 1080}},
      {1280, 720, 1920, 1080, true, {0, 0, 1920, 1080}},
      {1280, 720, 1280, 1024, false, {0, 0, 1280, 1024}},
      {1280, 720, 0, 0, true, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Rect r = fitted_viewport(c.width, c.height, c.output_width, c.output_height, c.keep);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
  }
}

}  // namespace
}  // namespace talven::platform
