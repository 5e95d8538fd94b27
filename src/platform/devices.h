// The machine's devices behind interfaces, each with an SDL back end and a null back end.
//
// The back ends are chosen once, at start-up, on the main thread before any other thread runs
// (choose_devices). Until then, and in tools and tests that never choose, the null ones serve:
// no window, boxes printed on stderr, a clipboard private to the process. "Headless" is nothing
// more than that choice; the rest of the engine asks the device, never a flag.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/window.h"

namespace talven::platform {

// The primary display's desktop mode. Without a display: a nominal 1920 x 1080 x 32.
struct DisplayMode {
  int width = 1920, height = 1080, bits_per_pixel = 32;
};

// The display, the one frame window on it, and the window thread's event source.
// Everything runs on the window thread (the process's main thread), except wake_window_thread()
// and the read-only queries frame_window_handle() and desktop_mode(), which any thread may call.
class Display {
 public:
  virtual ~Display() = default;

  // Whether a person sees this display. The shell's few policies that need someone to answer
  // (asking before closing, the disc prompt, one instance per desktop, the run ending with its
  // last script thread) ask this.
  virtual bool has_viewer() const = 0;

  virtual Rect desktop_bounds() = 0;
  virtual DisplayMode desktop_mode() = 0;

  // One frame window per process. False when it cannot be created (the reason is on stderr).
  // The null display creates nothing and succeeds.
  virtual bool create_frame_window(const WindowOptions& options) = 0;
  virtual void destroy_frame_window() = 0;
  // True once a window that shows pictures exists; never on the null display.
  virtual bool has_frame_window() = 0;
  virtual void* frame_window_handle() = 0;  // the SDL_Window*, nullptr without one
  // False when the window was asked for a renderer and none could be made; pictures then go to
  // the window surface.
  virtual bool frame_window_has_renderer() = 0;

  virtual void set_window_title(const std::string& utf8) = 0;
  virtual Rect window_client_bounds() = 0;  // position and client size
  virtual void set_window_client_size(int width, int height) = 0;
  virtual void show_window_raised() = 0;  // restore when minimised and bring to the foreground
  virtual bool window_is_minimized() = 0;
  // Full screen at the desktop's resolution (true) or back to the window (false).
  virtual bool set_window_fullscreen(bool on) = 0;
  // Full screen by a real display-mode change to the smallest mode that still holds `width` x
  // `height` (smallest_mode_holding), or back to the window. When the display has no such mode
  // the window stays a window. False when the switch failed.
  virtual bool set_window_fullscreen_mode(bool on, int width, int height) = 0;

  // Where the last picture went (before any: the whole client area, as large as the window was
  // created). Any thread may ask.
  virtual PictureArea picture_area() = 0;

  // The black picture of a frame with nothing presented yet.
  virtual void present_black() = 0;
  // Shows a picture of 0xAARRGGBB texels: through one streaming texture of its size, filtered
  // linearly when scaled, or copied onto the window surface (always one to one). `overlay`, when
  // given, is drawn over it, filtered linearly into its place. False when there is no window or
  // nothing could be drawn.
  virtual bool present_texels(const std::uint32_t* texels, int width, int height, PictureFit fit,
                              const PictureOverlay* overlay = nullptr) = 0;

  // A second, small window of the engine's own (the debug output), created hidden at `bounds`
  // (position and client size) and kept until destroyed or the display closes. Its events come
  // through wait_event marked `tool_window`; its close box only reports, it never closes it. The
  // null display has none: creating fails and the other calls do nothing.
  virtual bool create_tool_window(const std::string& title_utf8, const Rect& bounds) = 0;
  virtual void destroy_tool_window() = 0;
  // Showing also raises it, as a tool window that was asked for should be in front.
  virtual void show_tool_window(bool shown) = 0;
  // Shows a picture of 0xAARRGGBB texels one to one from the client area's top left corner.
  virtual bool present_tool_texels(const std::uint32_t* texels, int width, int height) = 0;

  // Waits up to `timeout_ms` for the next event; false when none came.
  virtual bool wait_event(Event& event, int timeout_ms) = 0;
  virtual void wake_window_thread() = 0;
};

// The pointer and keyboard as the frame window sees them, beyond their events (which come through
// Display::wait_event). Window thread only. Positions are window coordinates. The null back end has
// no pointer to move or confine and no lock keys on.
class InputDevice {
 public:
  virtual ~InputDevice() = default;
  // The lock keys on now: bit 0 Caps Lock, bit 1 Num Lock, bit 2 Scroll Lock.
  virtual int lock_keys() = 0;
  virtual void show_cursor(bool shown) = 0;
  // While captured, the window keeps receiving the pointer's motion and buttons outside it.
  virtual void capture_mouse(bool captured) = 0;
  // Keeps the pointer inside `area` of the window; nullptr lets it go.
  virtual void confine_cursor(const Rect* area) = 0;
  virtual void warp_cursor(int x, int y) = 0;
};

// The sound output: one stream of interleaved stereo float frames, pulled by the output's own
// thread at the pace the sound is heard. The null back end pulls at the same real-time pace and
// lets the sound go, so that positions and stream ends behave as with a device.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Fills `frames` frames (2 floats each). Runs on the output's thread; must not block or allocate.
  using Render = void (*)(float* interleaved, int frames, void* context);
  // Starts pulling at about `rate` frames per second and returns the rate in use; 0 when the
  // output cannot be opened (the reason is on stderr). Any thread; one open at a time.
  virtual int open(int rate, Render render, void* context) = 0;
  // Stops pulling; when it returns, `render` is not running and will not run again.
  virtual void close() = 0;
};

// Modal message boxes. Caption and text are UTF-8.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Returns the id of the chosen button. The null back end (and the SDL one when no box can be
  // shown) prints "caption: text" as one line on stderr and returns the default button's id (the
  // first button when none is marked).
  virtual int show(std::string_view caption, std::string_view text, MessageIcon icon,
                   const std::vector<MessageButton>& buttons) = 0;
};

// The text clipboard in UTF-8: the desktop's, or (null) one private to this process.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual bool set_text(const std::string& utf8) = 0;
  // Nothing when the clipboard holds no text.
  virtual std::optional<std::string> text() = 0;
};

enum class DeviceBackends { sdl, null };

// Chooses the back ends (see the top of this file) and returns true when the SDL ones are in use.
// Asking for SDL opens the display; when there is none the null back ends are kept.
bool choose_devices(DeviceBackends wanted);
// Releases the SDL back ends (closing the display) and returns to the null ones.
void release_devices();

Display& display();
MessageBoxes& message_boxes();
Clipboard& clipboard();
InputDevice& input_device();
AudioOutput& audio_output();

// The back ends themselves, for choose_devices and for tests that exercise one directly.
Display& null_display();
MessageBoxes& null_message_boxes();
Clipboard& null_clipboard();
InputDevice& null_input_device();
AudioOutput& null_audio_output();
// The SDL display opens the display server; false when there is none.
bool open_sdl_display();
void close_sdl_display();
Display& sdl_display();
MessageBoxes& sdl_message_boxes();
Clipboard& sdl_clipboard();
InputDevice& sdl_input_device();
AudioOutput& sdl_audio_output();

}  // namespace talven::platform
