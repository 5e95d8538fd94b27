#include "graphics/presentation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "graphics/image_files.h"
#include "graphics/palette.h"
#include "graphics/parallel_rows.h"
#include "graphics/pixel_tables.h"
#include "platform/files.h"
#include "platform/text_encoding.h"
#include "vm/report.h"
#include "vm/call_gate.h"

namespace talven::graphics {
namespace {

std::mutex g_lock;
std::vector<std::uint32_t> g_frame;
int g_width = 0, g_height = 0;
bool g_full_upload_pending = false;
std::atomic<bool> g_repaint{false};
FramePresenter g_presenter = nullptr;
std::atomic<FrameReadyHook> g_frame_ready{nullptr};
std::int32_t g_origin_x = 0, g_origin_y = 0;

void convert_row(const Plane& p, std::int32_t y, std::int32_t left, std::int32_t right, std::uint32_t* out) {
  const std::uint8_t* row = row_address(p, y);
  switch (p.bits) {
    case 32:
      for (std::int32_t x = left; x < right; ++x) {
        std::uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        out[x] = v | 0xFF000000u;
      }
      break;
    case 24:
      for (std::int32_t x = left; x < right; ++x)
        out[x] = 0xFF000000u | std::uint32_t(row[3 * x + 2]) << 16 | std::uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
      break;
    case 16:
      for (std::int32_t x = left; x < right; ++x)
        out[x] = 0xFF000000u | g_pixel_tables.rgb555[(row[2 * x] | row[2 * x + 1] << 8) & 0x7FFF];
      break;
    case 8: {
      const std::uint8_t* pal = screen_palette();
      for (std::int32_t x = left; x < right; ++x) {
        const std::uint8_t* e = pal + 4 * row[x];
        out[x] = 0xFF000000u | std::uint32_t(e[2]) << 16 | std::uint32_t(e[1]) << 8 | e[0];
      }
      break;
    }
    default:  // 1 and 4-bit planes through their own colours
      for (std::int32_t x = left; x < right; ++x) out[x] = 0xFF000000u | read_pixel(p, x, y);
      break;
  }
}

// Under the lock. The frame is made black the first time it is needed, not at start-up: a run
// that never shows a picture (a tool, a test, a script that only computes) never touches its
// megabytes.
std::uint32_t* frame_locked() {
  if (g_frame.empty()) g_frame.assign(std::size_t(g_width) * g_height, 0xFF000000u);
  return g_frame.data();
}

// Under the lock.
bool upload_locked(const Rect* rect) {
  Rect r{0, 0, g_width, g_height};
  if (rect != nullptr && !g_full_upload_pending) {
    r.left = std::max(rect->left, 0);
    r.top = std::max(rect->top, 0);
    r.right = std::min(rect->right, g_width);
    r.bottom = std::min(rect->bottom, g_height);
    if (r.left >= r.right || r.top >= r.bottom) return false;
  }
  const Plane* p = plane(static_cast<std::uint32_t>(view_page()));
  if (p == nullptr) return true;
  r.right = std::min(r.right, p->width);
  r.bottom = std::min(r.bottom, p->height);
  g_full_upload_pending = false;
  if (r.left >= r.right || r.top >= r.bottom) return true;
  struct Job {
    const Plane* plane;
    Rect region;
  } job{p, r};
  frame_locked();
  run_rows(
      [](const void* data, int row) {
        const Job& j = *static_cast<const Job*>(data);
        const std::int32_t y = j.region.top + row;
        convert_row(*j.plane, y, j.region.left, j.region.right, g_frame.data() + std::size_t(y) * g_width);
      },
      &job, r.bottom - r.top, static_cast<long long>(r.right - r.left) * (r.bottom - r.top));
  return true;
}

}  // namespace

void set_frame_presenter(FramePresenter presenter) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_presenter = presenter;
}

void set_frame_ready_hook(FrameReadyHook hook) { g_frame_ready = hook; }

std::mutex& presentation_lock() { return g_lock; }

void presentation_start(std::int32_t width, std::int32_t height) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_width = std::clamp(width, 1, 16384);
  g_height = std::clamp(height, 1, 16384);
  g_frame.clear();
  g_frame.shrink_to_fit();
  g_full_upload_pending = false;
  g_origin_x = g_origin_y = 0;
}

void set_full_upload_pending() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_full_upload_pending = true;
}

bool upload_view_page(const Rect* rect) {
  std::lock_guard<std::mutex> hold(g_lock);
  return upload_locked(rect);
}

void present_frame() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_repaint = false;
  if (g_presenter != nullptr) g_presenter(frame_locked(), g_width, g_height);
}

void request_repaint() {
  g_repaint = true;
  if (FrameReadyHook hook = g_frame_ready.load()) hook();
}
bool take_repaint_request() { return g_repaint.exchange(false); }

std::vector<std::uint32_t> snapshot_frame(int& width, int& height) {
  std::lock_guard<std::mutex> hold(g_lock);
  width = g_width;
  height = g_height;
  frame_locked();
  return g_frame;
}

void compose_overlay(std::vector<std::uint32_t>& frame, int width, int height, const platform::PictureOverlay& o) {
  if (o.texels == nullptr || o.width <= 0 || o.height <= 0 || o.rect.width <= 0 || o.rect.height <= 0) return;
  const int x0 = std::max(o.rect.x, 0), x1 = std::min(o.rect.x + o.rect.width, width);
  const int y0 = std::max(o.rect.y, 0), y1 = std::min(o.rect.y + o.rect.height, height);
  for (int y = y0; y < y1; ++y) {
    // The centre of the target pixel in the source's pixels.
    const double sy = std::clamp((y - o.rect.y + 0.5) * o.height / o.rect.height - 0.5, 0.0, o.height - 1.0);
    const int ya = static_cast<int>(sy), yb = std::min(ya + 1, o.height - 1);
    const double fy = sy - ya;
    for (int x = x0; x < x1; ++x) {
      const double sx = std::clamp((x - o.rect.x + 0.5) * o.width / o.rect.width - 0.5, 0.0, o.width - 1.0);
      const int xa = static_cast<int>(sx), xb = std::min(xa + 1, o.width - 1);
      const double fx = sx - xa;
      const std::uint32_t p[4] = {o.texels[std::size_t(ya) * o.width + xa], o.texels[std::size_t(ya) * o.width + xb],
                                  o.texels[std::size_t(yb) * o.width + xa], o.texels[std::size_t(yb) * o.width + xb]};
      std::uint32_t out = 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        const double top = ((p[0] >> shift) & 0xFF) * (1 - fx) + ((p[1] >> shift) & 0xFF) * fx;
        const double bottom = ((p[2] >> shift) & 0xFF) * (1 - fx) + ((p[3] >> shift) & 0xFF) * fx;
        out |= static_cast<std::uint32_t>(std::lround(top * (1 - fy) + bottom * fy)) << shift;
      }
      frame[std::size_t(y) * width + x] = out;
    }
  }
}

bool write_screenshot_png(const std::string& host_path, const platform::PictureOverlay* overlay) {
  int width = 0, height = 0;
  std::vector<std::uint32_t> frame = snapshot_frame(width, height);
  if (overlay && !frame.empty()) compose_overlay(frame, width, height, *overlay);
  std::string bytes;
  if (frame.empty() || !encode_frame_png(frame.data(), width, height, bytes)) return false;
  return platform::replace_file_atomically(host_path, bytes);
}

// ---- built-ins ------------------------------------------------------------------------------

using vm::Address;
using vm::argument_int;
using vm::argument_word;

namespace {
std::uint32_t select_page(Address arguments, const char* message, void (*set)(std::int32_t)) {
  const std::uint32_t number = argument_word(arguments, 0);
  if (number >= kPlaneSlots) {
    vm::report(1, "%s", message);
    return 0;
  }
  if (plane(number) == nullptr) return 0;
  set(static_cast<std::int32_t>(number));
  return 1;
}
}  // namespace

std::uint32_t bi_vpage(Address arguments) {
  return select_page(arguments, platform::cp932("SetViewPage : パラメータが範囲外です。"), set_view_page);
}

std::uint32_t bi_apage(Address arguments) {
  return select_page(arguments, platform::cp932("SetActivePage : パラメータが範囲外です。"), set_active_page);
}

std::uint32_t bi_setorg(Address arguments) {
  g_origin_x = argument_int(arguments, 0);
  g_origin_y = argument_int(arguments, 1);
  return 1;
}

std::uint32_t bi_update(Address arguments) {
  const Address rect_address = argument_word(arguments, 0);
  Rect rect{};
  if (rect_address != 0 && !vm::load(rect_address, rect)) return 0;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!upload_locked(rect_address ? &rect : nullptr)) return 0;
  }
  if (FrameReadyHook hook = g_frame_ready.load()) hook();
  return 1;
}

}  // namespace talven::graphics
