// The frame window and the window thread's event source, on SDL.
//
// Everything here runs on the window thread (the process's main thread), except
// wake_window_thread(), which any thread may call.
#pragma once
#include <cstdint>
#include <string>

namespace talven::platform {

// Opens the display. False when there is none (the caller then runs headless).
bool open_display();
void close_display();

struct Size {
  int width = 0;
  int height = 0;
};
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The desktop area of the primary display.
Rect desktop_bounds();

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

// One frame window per process. False when it cannot be created.
bool create_frame_window(const WindowOptions& options);
void destroy_frame_window();
bool frame_window_exists();
void* frame_window_handle();  // the SDL_Window*, for message-box ownership
// False when the window was asked for a renderer and none could be made; pictures then go to the
// window surface.
bool frame_window_has_renderer();

void set_window_title(const std::string& utf8);
Rect window_client_bounds();  // position and client size
void set_window_client_size(int width, int height);
void show_window_raised();    // restore when minimised and bring to the foreground
bool window_is_minimized();
// Full screen at the desktop's resolution (true) or back to the window (false).
bool set_window_fullscreen(bool on);
// The black picture of a frame with nothing presented yet.
void present_black();
// How a picture is placed in the window.
enum class PictureFit {
  fill,         // scaled to the whole client area
  keep_aspect,  // the largest centred rectangle of the picture's proportions, the rest black
  one_to_one,   // pixel for pixel, centred when the output is larger (the rest black), else at 0, 0
};
// Shows a picture of 0xAARRGGBB texels: through one streaming texture of its size, filtered
// linearly when scaled, or copied onto the window surface (always one to one). False when there
// is no window or nothing could be drawn.
bool present_texels(const std::uint32_t* texels, int width, int height, PictureFit fit);
// The placement rule on its own: the destination {x, y, width, height} for a picture of
// `width` x `height` on an output of `output_width` x `output_height`.
Rect fitted_viewport(int width, int height, int output_width, int output_height, PictureFit fit);
// Full screen by a real display-mode change to the smallest mode that still holds `width` x
// `height` (a mode replaces the kept one only when smaller in both), or back to the window. When
// the display has no such mode the window stays a window. False when the switch failed.
bool set_window_fullscreen_mode(bool on, int width, int height);
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
};

// Waits up to `timeout_ms` for the next event; false when none came. Without a display it waits
// only for wake_window_thread().
bool wait_event(Event& event, int timeout_ms);
void wake_window_thread();

}  // namespace talven::platform
