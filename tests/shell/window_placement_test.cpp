#include "shell/window_placement.h"

#include <gtest/gtest.h>

namespace talven::shell {
namespace {

struct PlacementCase {
  const char* what;
  int left, top, width, height;  // saved bounds
  int restore, resize, direct3d;
  bool centered;
  int expect_left, expect_top, expect_width, expect_height;
};

TEST(WindowPlacement, SavedBoundsAreUsedOnlyWhenTheyFit) {
  const ScreenArea screen{1920, 1080};
  const PlacementCase cases[] = {
      {"no saved size: centred at the screen plane's size", 0, 0, 0, 0, 1, 1, 1, true, 0, 0, 640, 480},
      {"restore off: saved bounds ignored", 100, 100, 800, 600, 0, 1, 1, true, 0, 0, 640, 480},
      {"resizable: saved size and position", 100, 50, 800, 600, 1, 1, 1, false, 100, 50, 800, 600},
      {"not resizable: the plane's size at the saved position", 100, 50, 800, 600, 1, 0, 1, false, 100, 50, 640, 480},
      {"GDI presentation: never resized", 100, 50, 800, 600, 1, 1, 0, false, 100, 50, 640, 480},
      {"too small: clamped to half the plane", 10, 10, 100, 100, 1, 1, 1, false, 10, 10, 320, 240},
      {"too big: clamped to the screen", 0, 0, 4000, 3000, 1, 1, 1, false, 0, 0, 1920, 1080},
      {"off screen to the right: x centred, y kept", 5000, 40, 800, 600, 1, 1, 1, false, 560, 40, 800, 600},
      {"off screen above: y centred", 40, -900, 800, 600, 1, 1, 1, false, 40, 240, 800, 600},
      {"partly visible on the left: kept", -700, 40, 800, 600, 1, 1, 1, false, -700, 40, 800, 600},
  };
  for (const auto& c : cases) {
    Configuration cfg;
    cfg.width = 640;
    cfg.height = 480;
    cfg.window_left = c.left;
    cfg.window_top = c.top;
    cfg.window_width = c.width;
    cfg.window_height = c.height;
    cfg.restore_bounds = c.restore;
    cfg.resize = c.resize;
    cfg.direct3d = c.direct3d;
    Placement p = initial_placement(cfg, screen);
    EXPECT_EQ(p.centered, c.centered) << c.what;
    EXPECT_EQ(p.client_width, c.expect_width) << c.what;
    EXPECT_EQ(p.client_height, c.expect_height) << c.what;
    if (!c.centered) {
      EXPECT_EQ(p.left, c.expect_left) << c.what;
      EXPECT_EQ(p.top, c.expect_top) << c.what;
    }
    // The window keys follow the size used.
    EXPECT_EQ(cfg.window_width, c.expect_width) << c.what;
    EXPECT_EQ(cfg.window_height, c.expect_height) << c.what;
  }
}

TEST(WindowPlacement, FixedAspectKeepsTheRatioOfTheScreenPlane) {
  Configuration cfg;
  cfg.width = 640;
  cfg.height = 480;
  struct {
    int w, h, old_w, old_h, expect_w, expect_h;
  } cases[] = {
      {1000, 480, 640, 480, 1000, 750},  // width dragged: height follows
      {640, 600, 640, 480, 800, 600},    // height dragged: width follows
      {801, 601, 640, 480, 801, 601},    // corner: the larger change leads, rounded to nearest
      {200, 200, 640, 480, 320, 240},    // below the minimum: exactly half the plane
  };
  for (const auto& c : cases) {
    ClientSize s = fixed_aspect_size(cfg, c.w, c.h, c.old_w, c.old_h);
    EXPECT_EQ(s.width, c.expect_w) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.expect_h) << c.w << "x" << c.h;
  }
}

}  // namespace
}  // namespace talven::shell
