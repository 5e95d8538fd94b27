// Presentation: the view page converted into one 32-bit frame (0xAARRGGBB texels, alpha 0xFF) of
// Width x Height, which the window shows. The same frame serves headless runs and screenshots.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "graphics/planes.h"
#include "platform/window.h"

namespace talven::graphics {

// Shows the frame; called by present_frame under the presentation lock (on the window thread).
// Null: headless, the frame is only kept.
using FramePresenter = void (*)(const std::uint32_t* texels, int width, int height);
void set_frame_presenter(FramePresenter presenter);
// Called (on the script thread) after `update` changed the frame, so the window thread presents it.
using FrameReadyHook = void (*)();
void set_frame_ready_hook(FrameReadyHook hook);

// The lock around every upload and present (sprite drawing takes it too).
std::mutex& presentation_lock();

// The frame is `width` x `height` (the configured screen); called by graphics_start.
void presentation_start(std::int32_t width, std::int32_t height);
// The next upload covers the whole view page whatever rectangle it is given (after a resize or a
// lost render target).
void set_full_upload_pending();
// Converts the view page, cut to `rect` (null: the whole page) and to the frame, into the frame.
// False when the rectangle does not meet the screen.
bool upload_view_page(const Rect* rect);
// Shows the frame as it is (window repaint).
void present_frame();
// Set when the picture must be repainted without an upload (pal_change of an 8-bit view page);
// the next present clears it.
void request_repaint();
bool take_repaint_request();

// A copy of the frame: the picture as the last `update` left it (a palette change alone does not
// change it, just as it does not change the window until the next `update`).
std::vector<std::uint32_t> snapshot_frame(int& width, int& height);
// The frame written as an RGB PNG to a host path, with `overlay` (a movie's picture) laid over it
// as the window shows it.
bool write_screenshot_png(const std::string& host_path, const platform::PictureOverlay* overlay = nullptr);
// Lays `overlay` over a `width` x `height` frame, scaled into its rectangle with bilinear filtering
// and cut to the frame.
void compose_overlay(std::vector<std::uint32_t>& frame, int width, int height, const platform::PictureOverlay& overlay);
// RGB PNG bytes of a 0xAARRGGBB frame.
bool encode_frame_png(const std::uint32_t* texels, int width, int height, std::string& out);

std::uint32_t bi_vpage(vm::Address arguments);
std::uint32_t bi_apage(vm::Address arguments);
std::uint32_t bi_setorg(vm::Address arguments);
std::uint32_t bi_update(vm::Address arguments);

}  // namespace talven::graphics
