#include "shell/window_placement.h"

#include <algorithm>
#include <cstdlib>

namespace talven::shell {

Placement initial_placement(Configuration& cfg, ScreenArea screen) {
  Placement p;
  p.client_width = cfg.width;
  p.client_height = cfg.height;
  if (cfg.window_width != 0 && cfg.window_height != 0 && cfg.restore_bounds != 0) {
    if (cfg.resize != 0 && cfg.direct3d != 0) {
      p.client_width = std::clamp(cfg.window_width, cfg.width / 2, std::max(cfg.width / 2, screen.width));
      p.client_height = std::clamp(cfg.window_height, cfg.height / 2, std::max(cfg.height / 2, screen.height));
    }
    // Each coordinate is kept when the window overlaps the screen on that axis.
    bool keep_x = cfg.window_left + p.client_width >= 1 && cfg.window_left < screen.width;
    bool keep_y = cfg.window_top + p.client_height >= 1 && cfg.window_top < screen.height;
    p.centered = false;
    p.left = keep_x ? cfg.window_left : (screen.width - p.client_width) / 2;
    p.top = keep_y ? cfg.window_top : (screen.height - p.client_height) / 2;
  }
  cfg.window_width = p.client_width;
  cfg.window_height = p.client_height;
  if (!p.centered) {
    cfg.window_left = p.left;
    cfg.window_top = p.top;
  }
  return p;
}

ClientSize fixed_aspect_size(const Configuration& cfg, int width, int height, int old_width, int old_height) {
  const int min_w = minimum_client_width(cfg), min_h = minimum_client_height(cfg);
  if (cfg.width <= 0 || cfg.height <= 0) return {width, height};
  if (width < min_w || height < min_h) return {min_w, min_h};
  // The dimension the user changed most leads; the other follows the ratio.
  int dw = std::abs(width - old_width), dh = std::abs(height - old_height);
  if (dw >= dh) {
    long long h = (static_cast<long long>(width) * cfg.height * 2 + cfg.width) / (2LL * cfg.width);
    return {width, static_cast<int>(h)};
  }
  long long w = (static_cast<long long>(height) * cfg.width * 2 + cfg.height) / (2LL * cfg.height);
  return {static_cast<int>(w), height};
}

}  // namespace talven::shell
