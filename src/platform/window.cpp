#include "platform/window.h"

#include <cstdint>

namespace talven::platform {

Rect overlay_in_viewport(const Rect& rect, int picture_width, int picture_height, const Rect& viewport) {
  if (picture_width <= 0 || picture_height <= 0) return rect;
  if (viewport.width == picture_width && viewport.height == picture_height)
    return Rect{rect.x + viewport.x, rect.y + viewport.y, rect.width, rect.height};
  const auto scale = [](int value, int to, int from) { return static_cast<int>(std::int64_t(value) * to / from); };
  return Rect{scale(rect.x, viewport.width, picture_width) + viewport.x, scale(rect.y, viewport.height, picture_height) + viewport.y,
              scale(rect.width, viewport.width, picture_width), scale(rect.height, viewport.height, picture_height)};
}

Rect fitted_viewport(int width, int height, int output_width, int output_height, PictureFit fit) {
  Rect r{0, 0, output_width, output_height};
  if (width <= 0 || height <= 0 || output_width <= 0 || output_height <= 0) return r;
  if (fit == PictureFit::one_to_one) {
    r = {0, 0, width, height};
    if (output_width > width) r.x = (output_width - width) / 2;
    if (output_height > height) r.y = (output_height - height) / 2;
    return r;
  }
  if (fit != PictureFit::keep_aspect) return r;
  const float ratio = float(width) / float(height);
  const float output_ratio = float(output_width) / float(output_height);
  if (ratio < output_ratio) {
    r.width = static_cast<int>(ratio * float(output_height) + 0.5f);
  } else if (ratio > output_ratio) {
    r.height = static_cast<int>(float(output_width) / ratio + 0.5f);
  }
  r.x = (output_width - r.width) / 2;
  r.y = (output_height - r.height) / 2;
  return r;
}

bool smallest_mode_holding(const Size* modes, int count, int width, int height, Size& chosen) {
  bool found = false;
  for (int i = 0; i < count; ++i) {
    const Size& m = modes[i];
    if (m.width < width || m.height < height) continue;
    if (!found || (m.width < chosen.width && m.height < chosen.height)) {
      chosen = m;
      found = true;
    }
  }
  return found;
}

Rect in_window_units(const Rect& r, Size window, Size pixels) {
  if (pixels.width <= 0 || pixels.height <= 0 || window.width <= 0 || window.height <= 0) return r;
  auto scale = [](int v, int to, int from) { return static_cast<int>(static_cast<long long>(v) * to / from); };
  return Rect{scale(r.x, window.width, pixels.width), scale(r.y, window.height, pixels.height),
              scale(r.width, window.width, pixels.width), scale(r.height, window.height, pixels.height)};
}

}  // namespace talven::platform
