// What the display device deals in: window options, picture placement and the window thread's
// events (the device itself is in devices.h). The two placement rules are pure functions.
#pragma once
#include <cstdint>
#include <string>

namespace talven::platform {

struct KeyRecord;

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
// A rectangle of the drawable's pixels in the window's units, which differ on HiDPI displays
// (a window of `window` units whose drawable has `pixels` pixels). Unchanged when either is empty.
Rect in_window_units(const Rect& r, Size window, Size pixels);
// The mode rule on its own: among `modes`, the one with the smallest width and height that still
// hold `width` x `height`, where a later mode replaces the kept one only when it is smaller in both.
// False when none holds the picture.
bool smallest_mode_holding(const Size* modes, int count, int width, int height, Size& chosen);

// Where the picture is shown in the window, in window coordinates (the units of mouse positions,
// which on a HiDPI display are not the drawable's pixels), and the picture's own size.
// A picture laid over the game's (a movie): its texels at their own size, shown scaled into
// `rect`, given in the game picture's pixels; where the game picture is scaled, so is the rect.
struct PictureOverlay {
  const std::uint32_t* texels = nullptr;
  int width = 0, height = 0;
  Rect rect;
};

// Where `rect` of a `picture_width` x `picture_height` picture lands when the picture is shown in
// `viewport`: moved by its origin, and scaled (integer division) when the sizes differ.
Rect overlay_in_viewport(const Rect& rect, int picture_width, int picture_height, const Rect& viewport);

struct PictureArea {
  Rect area;
  int picture_width = 0, picture_height = 0;
};

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
  // Game controllers and joysticks: `device` names one from its arrival to its removal.
  controller_added,
  controller_removed,
  controller_axis,         // `control` 0 (x) or 1 (y), `value` -32768 ... 32767
  controller_button_down,  // `control` is the button number, 0 ... 31
  controller_button_up,
  controller_hat,          // `value`: the directions held, bits up 1, right 2, down 4, left 8
  wake,             // wake_window_thread() was called
  quit,             // the session is ending (SIGINT, logout)
};

struct Event {
  EventType type = EventType::none;
  int x = 0, y = 0;       // position or size; mouse events: the pointer in window coordinates
  int dx = 0, dy = 0;     // mouse_move: the motion since the previous position
  int button = 0;         // 1 left, 2 middle, 3 right, 4 and 5 the side buttons
  int clicks = 1;         // mouse_button_down: 2 for the second press of a double click
  const KeyRecord* key = nullptr;  // key_down and key_up: the key, nullptr for one not in the key table
  int virtual_key = 0;    // Windows virtual-key code of the key, 0 when it has none
  bool alt = false, ctrl = false;
  bool repeat = false;
  int device = 0;         // controller events
  int control = 0;
  int value = 0;          // mouse_wheel: 120 per notch, positive away from the user; controller events
  std::string text;       // text_input: UTF-8
  // The event belongs to the tool window (Display::create_tool_window), not to the frame window.
  bool tool_window = false;
};

}  // namespace talven::platform
