// Where the frame window goes and how big its client area may be: pure rules over the settings.
#pragma once

#include "shell/configuration.h"

namespace talven::shell {

struct Placement {
  bool centered = true;
  int left = 0, top = 0;
  int client_width = 0, client_height = 0;
};

struct ScreenArea {
  int width = 0, height = 0;
};

// The client size and position at creation. Saved bounds are used when RestoreBounds is on and
// both saved sizes are nonzero; the window keys of `cfg` are set to the size used.
Placement initial_placement(Configuration& cfg, ScreenArea screen);

// The smallest client area: half the screen plane in each direction.
inline int minimum_client_width(const Configuration& cfg) { return cfg.width / 2; }
inline int minimum_client_height(const Configuration& cfg) { return cfg.height / 2; }

// The client size to settle on after the user resized to `width` x `height` with
// FixedAspectRatio on: the edge that moved least follows the one that moved most, rounded to the
// nearest pixel; below the minimum the size becomes exactly the minimum.
struct ClientSize {
  int width = 0, height = 0;
};
ClientSize fixed_aspect_size(const Configuration& cfg, int width, int height, int old_width, int old_height);

}  // namespace talven::shell
