// What the display device deals in: window options, picture placement and the window thread's
// events (the device itself is in devices.h). The two placement rules are pure functions.
#pragma once
#include <cstdint>
#include <string>

namespace talven::platform {

struct Size {
  int width = 0;
  int height = 0;
};
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct WindowOptions {
  std::string title;  // UTF-8
  int client_width = 640;
  int client_height = 480;
  bool centered = true;
  int left = 0, top = 0;  // used when not centered
  bool resizable = false;
  Size minimum_client;  // 0 x 0: none
  // True: pictures go through an accelerated renderer and are scaled to the window. False: they
  // are copied pixel for pixel onto the window's own surface.
  bool use_renderer = true;
};

// How a picture is placed in the window.
enum class PictureFit {
  fill,         // scaled to the whole client area
  keep_aspect,  // the largest centred rectangle of the picture's proportions, the rest black
  one_to_one,   // pixel for pixel, centred when the output is larger (the rest black), else at 0, 0
};
// The placement rule on its own: the destination {x, y, width, height} for a picture of
// `width` x `height` on an output of `output_width` x `output_height`.
Rect fitted_viewport(int width, int height, int output_width, int output_height, PictureFit fit);
// The mode rule on its own: among `modes`, the one with the smallest width and height that still
// hold `width` x `height`, where a later mode replaces the kept one only when it is smaller in both.
// False when none holds the picture.
bool smallest_mode_holding(const Size* modes, int count, int width, int height, Size& chosen);

enum class EventType {
  none,
  close_requested,  // the close box, Alt+F4, the window manager
  focus_gained,
  focus_lost,
  moved,
  resized,
  minimized,
  maximized,
  restored,
  exposed,
  render_reset,     // the renderer lost its textures: the next present must upload everything
  key_down,
  key_up,
  text_input,
  mouse_move,
  mouse_button_down,
  mouse_button_up,
  mouse_wheel,
  wake,             // wake_window_thread() was called
  quit,             // the session is ending (SIGINT, logout)
};

struct Event {
  EventType type = EventType::none;
  int x = 0, y = 0;       // position, size or wheel steps
  int button = 0;         // 1 left, 2 middle, 3 right
  int virtual_key = 0;    // Windows virtual-key code of the key, 0 when it has none
  bool alt = false;
  bool repeat = false;
  std::string text;       // text_input: UTF-8
  // The event belongs to the tool window (Display::create_tool_window), not to the frame window.
  bool tool_window = false;
};

}  // namespace talven::platform
