#include "platform/devices.h"
#include "platform/key_table.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace talven::platform {
namespace {

// The SDL display's state. Only the window thread touches it, except the wake event number and
// the window pointer, which other threads read.
bool g_display_open = false;
std::atomic<SDL_Window*> g_window{nullptr};
SDL_Renderer* g_renderer = nullptr;
SDL_Texture* g_texture = nullptr;  // the presented picture
bool g_surface_cleared = false;    // the window surface is black outside the picture
int g_texture_width = 0, g_texture_height = 0;
SDL_Texture* g_overlay_texture = nullptr;  // the movie over it
int g_overlay_width = 0, g_overlay_height = 0;
std::atomic<Uint32> g_wake_event{0};
SDL_Window* g_tool_window = nullptr;  // the engine's own second window, hidden until asked for
Uint32 g_tool_window_id = 0;

// Where the last picture went; written by the window thread when it presents, read by any.
std::mutex g_area_mutex;
PictureArea g_picture_area;

void set_picture_area(const PictureArea& area) {
  std::lock_guard lock(g_area_mutex);
  g_picture_area = area;
}


// ---- Game controllers and joysticks -----------------------------------------------------------
//
// Opened when SDL announces them and closed when they leave; the engine sees each as a device with
// an x and a y axis, up to 32 buttons and one hat. A controller SDL knows a mapping for is read
// through that mapping: left stick as x and y, the d-pad as the hat, the face buttons A, B, X, Y
// as 0 to 3, the shoulders as 4 and 5, Back 6, Start 7, the stick clicks 8 and 9, the triggers
// (pressed past half way) 10 and 11, Guide 12. Other joysticks give their first two axes, their
// buttons and their first hat as they come.
struct OpenController {
  SDL_GameController* controller = nullptr;
  SDL_Joystick* joystick = nullptr;
  int hat = 0;       // a controller's d-pad, as hat bits
  int triggers = 0;  // bit 0 left, bit 1 right: pressed past half way
};
std::map<SDL_JoystickID, OpenController> g_controllers;
bool g_controllers_available = false;

int controller_button_number(int sdl_button) {
  switch (sdl_button) {
    case SDL_CONTROLLER_BUTTON_A: return 0;
    case SDL_CONTROLLER_BUTTON_B: return 1;
    case SDL_CONTROLLER_BUTTON_X: return 2;
    case SDL_CONTROLLER_BUTTON_Y: return 3;
    case SDL_CONTROLLER_BUTTON_LEFTSHOULDER: return 4;
    case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER: return 5;
    case SDL_CONTROLLER_BUTTON_BACK: return 6;
    case SDL_CONTROLLER_BUTTON_START: return 7;
    case SDL_CONTROLLER_BUTTON_LEFTSTICK: return 8;
    case SDL_CONTROLLER_BUTTON_RIGHTSTICK: return 9;
    case SDL_CONTROLLER_BUTTON_GUIDE: return 12;
    case SDL_CONTROLLER_BUTTON_MISC1: return 13;
    default: return -1;
  }
}

int dpad_bit(int sdl_button) {
  switch (sdl_button) {
    case SDL_CONTROLLER_BUTTON_DPAD_UP: return SDL_HAT_UP;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT: return SDL_HAT_RIGHT;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN: return SDL_HAT_DOWN;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT: return SDL_HAT_LEFT;
    default: return 0;
  }
}

bool controller_added(const SDL_Event& e, Event& out) {
  OpenController opened;
  if (e.type == SDL_CONTROLLERDEVICEADDED) {
    opened.controller = SDL_GameControllerOpen(e.cdevice.which);
    if (opened.controller == nullptr) return false;
    opened.joystick = SDL_GameControllerGetJoystick(opened.controller);
  } else {
    // A joystick with a controller mapping arrives again as a controller.
    if (SDL_IsGameController(e.jdevice.which)) return false;
    opened.joystick = SDL_JoystickOpen(e.jdevice.which);
    if (opened.joystick == nullptr) return false;
  }
  const SDL_JoystickID id = SDL_JoystickInstanceID(opened.joystick);
  if (g_controllers.count(id) != 0) {  // told twice
    if (opened.controller) SDL_GameControllerClose(opened.controller);
    else SDL_JoystickClose(opened.joystick);
    return false;
  }
  g_controllers[id] = opened;
  out.type = EventType::controller_added;
  out.device = id;
  return true;
}

bool controller_removed(SDL_JoystickID id, Event& out) {
  auto it = g_controllers.find(id);
  if (it == g_controllers.end()) return false;
  if (it->second.controller) SDL_GameControllerClose(it->second.controller);
  else SDL_JoystickClose(it->second.joystick);
  g_controllers.erase(it);
  out.type = EventType::controller_removed;
  out.device = id;
  return true;
}

void close_controllers() {
  for (auto& [id, opened] : g_controllers) {
    if (opened.controller) SDL_GameControllerClose(opened.controller);
    else SDL_JoystickClose(opened.joystick);
  }
  g_controllers.clear();
}

bool translate_controller(const SDL_Event& e, Event& out) {
  switch (e.type) {
    case SDL_CONTROLLERDEVICEADDED:
    case SDL_JOYDEVICEADDED: return controller_added(e, out);
    case SDL_JOYDEVICEREMOVED: return controller_removed(e.jdevice.which, out);
    case SDL_CONTROLLERDEVICEREMOVED: return controller_removed(e.cdevice.which, out);
    default: break;
  }
  // Joystick events of a device opened as a controller are told again as controller events.
  SDL_JoystickID id = 0;
  switch (e.type) {
    case SDL_CONTROLLERAXISMOTION: id = e.caxis.which; break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: id = e.cbutton.which; break;
    case SDL_JOYAXISMOTION: id = e.jaxis.which; break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP: id = e.jbutton.which; break;
    case SDL_JOYHATMOTION: id = e.jhat.which; break;
    default: return false;
  }
  auto it = g_controllers.find(id);
  if (it == g_controllers.end()) return false;
  OpenController& c = it->second;
  const bool is_controller = c.controller != nullptr;
  out.device = id;
  switch (e.type) {
    case SDL_CONTROLLERAXISMOTION: {
      if (!is_controller) return false;
      const int axis = e.caxis.axis;
      if (axis == SDL_CONTROLLER_AXIS_LEFTX || axis == SDL_CONTROLLER_AXIS_LEFTY) {
        out.type = EventType::controller_axis;
        out.control = axis == SDL_CONTROLLER_AXIS_LEFTX ? 0 : 1;
        out.value = e.caxis.value;
        return true;
      }
      if (axis != SDL_CONTROLLER_AXIS_TRIGGERLEFT && axis != SDL_CONTROLLER_AXIS_TRIGGERRIGHT) return false;
      const int bit = axis == SDL_CONTROLLER_AXIS_TRIGGERLEFT ? 1 : 2;
      const bool pressed = e.caxis.value > 16384;
      if (pressed == ((c.triggers & bit) != 0)) return false;
      c.triggers ^= bit;
      out.type = pressed ? EventType::controller_button_down : EventType::controller_button_up;
      out.control = bit == 1 ? 10 : 11;
      return true;
    }
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      if (!is_controller) return false;
      const bool down = e.type == SDL_CONTROLLERBUTTONDOWN;
      if (int bit = dpad_bit(e.cbutton.button); bit != 0) {
        c.hat = down ? (c.hat | bit) : (c.hat & ~bit);
        out.type = EventType::controller_hat;
        out.value = c.hat;
        return true;
      }
      const int number = controller_button_number(e.cbutton.button);
      if (number < 0) return false;
      out.type = down ? EventType::controller_button_down : EventType::controller_button_up;
      out.control = number;
      return true;
    }
    case SDL_JOYAXISMOTION:
      if (is_controller || e.jaxis.axis > 1) return false;
      out.type = EventType::controller_axis;
      out.control = e.jaxis.axis;
      out.value = e.jaxis.value;
      return true;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
      if (is_controller || e.jbutton.button >= 32) return false;
      out.type = e.type == SDL_JOYBUTTONDOWN ? EventType::controller_button_down : EventType::controller_button_up;
      out.control = e.jbutton.button;
      return true;
    case SDL_JOYHATMOTION:
      if (is_controller || e.jhat.hat != 0) return false;
      out.type = EventType::controller_hat;
      out.value = e.jhat.value & 15;
      return true;
    default: return false;
  }
}

int mouse_button_number(Uint8 sdl_button) {
  switch (sdl_button) {
    case SDL_BUTTON_LEFT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    case SDL_BUTTON_RIGHT: return 3;
    case SDL_BUTTON_X1: return 4;
    case SDL_BUTTON_X2: return 5;
    default: return 0;
  }
}

// The window an event belongs to; 0 for events of no window.
Uint32 window_id_of(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    default: return 0;
  }
}

bool translate_for_window(const SDL_Event& e, Event& out, bool tool_window);

bool translate(const SDL_Event& e, Event& out) {
  const bool tool_window = g_tool_window_id != 0 && window_id_of(e) == g_tool_window_id;
  if (!translate_for_window(e, out, tool_window)) return false;
  out.tool_window = tool_window;
  return true;
}

bool translate_for_window(const SDL_Event& e, Event& out, bool tool_window) {
  out = Event{};
  switch (e.type) {
    case SDL_QUIT: out.type = EventType::quit; return true;
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: out.type = EventType::close_requested; return true;
        case SDL_WINDOWEVENT_FOCUS_GAINED: out.type = EventType::focus_gained; return true;
        case SDL_WINDOWEVENT_FOCUS_LOST: out.type = EventType::focus_lost; return true;
        case SDL_WINDOWEVENT_MOVED: out.type = EventType::moved; out.x = e.window.data1; out.y = e.window.data2; return true;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          if (!tool_window) g_surface_cleared = false;
          out.type = EventType::resized;
          out.x = e.window.data1;
          out.y = e.window.data2;
          return true;
        case SDL_WINDOWEVENT_MINIMIZED: out.type = EventType::minimized; return true;
        case SDL_WINDOWEVENT_MAXIMIZED: out.type = EventType::maximized; return true;
        case SDL_WINDOWEVENT_RESTORED: out.type = EventType::restored; return true;
        case SDL_WINDOWEVENT_EXPOSED: out.type = EventType::exposed; return true;
        default: return false;
      }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      out.type = e.type == SDL_KEYDOWN ? EventType::key_down : EventType::key_up;
      out.key = key_by_scancode(e.key.keysym.scancode);
      out.virtual_key = out.key ? out.key->vk : 0;
      out.alt = (e.key.keysym.mod & KMOD_ALT) != 0;
      out.ctrl = (e.key.keysym.mod & KMOD_CTRL) != 0;
      out.repeat = e.key.repeat != 0;
      return true;
    case SDL_RENDER_TARGETS_RESET: out.type = EventType::render_reset; return true;
    case SDL_RENDER_DEVICE_RESET:
      // The renderer's textures are gone; the next present makes a new one.
      if (g_texture) SDL_DestroyTexture(g_texture);
      if (g_overlay_texture) SDL_DestroyTexture(g_overlay_texture);
      g_texture = g_overlay_texture = nullptr;
      out.type = EventType::render_reset;
      return true;
    case SDL_TEXTINPUT: out.type = EventType::text_input; out.text = e.text.text; return true;
    case SDL_MOUSEMOTION:
      out.type = EventType::mouse_move;
      out.x = e.motion.x;
      out.y = e.motion.y;
      out.dx = e.motion.xrel;
      out.dy = e.motion.yrel;
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      out.type = e.type == SDL_MOUSEBUTTONDOWN ? EventType::mouse_button_down : EventType::mouse_button_up;
      out.x = e.button.x;
      out.y = e.button.y;
      out.button = mouse_button_number(e.button.button);
      // Every second press of a run of quick clicks is a double click, as the window system counts.
      out.clicks = e.button.clicks >= 2 && e.button.clicks % 2 == 0 ? 2 : 1;
      return out.button != 0;
    case SDL_MOUSEWHEEL: {
      // 120 per notch; touchpads report fractions of a notch.
      float notches = e.wheel.preciseY;
      if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
      out.type = EventType::mouse_wheel;
      out.value = static_cast<int>(std::lround(notches * 120.0f));
      int x = 0, y = 0;
      SDL_GetMouseState(&x, &y);
      out.x = x;
      out.y = y;
      return out.value != 0;
    }
    default:
      if (translate_controller(e, out)) return true;
      if (g_wake_event != 0 && e.type == g_wake_event) {
        out.type = EventType::wake;
        return true;
      }
      return false;
  }
}

void destroy_frame_window();
void destroy_tool_window();
void present_black();

// SDL's reason for a failed call, on stderr. Failures that would repeat every frame are told once
// per kind, so a broken renderer does not flood the terminal.
bool sdl_failed(const char* what) {
  std::fprintf(stderr, "talven: %s: %s\n", what, SDL_GetError());
  return false;
}
bool sdl_failed_once(std::atomic<bool>& told, const char* what) {
  if (!told.exchange(true)) sdl_failed(what);
  return false;
}
std::atomic<bool> g_told_texture{false}, g_told_surface{false}, g_told_tool_surface{false};

bool open_display() {
  if (g_display_open) return true;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Without a display server to talk to, SDL would settle for its off-screen driver and the game
  // would run in a window nobody can see. Only a driver the user names (SDL_VIDEODRIVER) is taken
  // without a display server; otherwise there is no display, and the caller runs headless.
  const char* named_driver = std::getenv("SDL_VIDEODRIVER");
  const bool driver_named = named_driver != nullptr && *named_driver != '\0';
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!driver_named && (x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) return false;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "talven: the display could not be opened: %s\n", SDL_GetError());
    return false;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver_named && driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return false;
  }
  g_wake_event = SDL_RegisterEvents(1);
  // Controllers are read through the mapping database SDL carries (and SDL_GAMECONTROLLERCONFIG /
  // SDL_GAMECONTROLLERCONFIG_FILE from the environment); their events keep coming while another
  // window has the focus, so that a returning player's stick is where the game thinks it is.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  g_controllers_available = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
  if (!g_controllers_available)
    std::fprintf(stderr, "talven: game controllers cannot be used: %s\n", SDL_GetError());
  g_display_open = true;
  return true;
}

void close_display() {
  if (!g_display_open) return;
  destroy_tool_window();
  destroy_frame_window();
  close_controllers();
  if (g_controllers_available) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  g_controllers_available = false;
  SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  g_display_open = false;
  g_wake_event = 0;
}

Rect desktop_bounds() {
  SDL_Rect r{0, 0, 1920, 1080};
  if (g_display_open) SDL_GetDisplayUsableBounds(0, &r);
  return Rect{r.x, r.y, r.w, r.h};
}

bool create_frame_window(const WindowOptions& options) {
  if (!g_display_open || g_window != nullptr) return false;
  Uint32 flags = SDL_WINDOW_SHOWN | (options.resizable ? SDL_WINDOW_RESIZABLE : 0);
  int x = options.centered ? SDL_WINDOWPOS_CENTERED : options.left;
  int y = options.centered ? SDL_WINDOWPOS_CENTERED : options.top;
  g_window = SDL_CreateWindow(options.title.c_str(), x, y, options.client_width, options.client_height, flags);
  if (g_window == nullptr) {
    std::fprintf(stderr, "talven: the game window could not be created: %s\n", SDL_GetError());
    return false;
  }
  if (options.minimum_client.width > 0 && options.minimum_client.height > 0)
    SDL_SetWindowMinimumSize(g_window, options.minimum_client.width, options.minimum_client.height);
  if (options.use_renderer) {
    g_renderer = SDL_CreateRenderer(g_window, -1, 0);
    if (g_renderer == nullptr) std::fprintf(stderr, "talven: no accelerated renderer for the window: %s\n", SDL_GetError());
  } else {
    // The surface path is the unaccelerated one: SDL must not put its own renderer behind it.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  }
  g_surface_cleared = false;
  set_picture_area(PictureArea{Rect{0, 0, options.client_width, options.client_height}, options.client_width,
                               options.client_height});
  SDL_RaiseWindow(g_window);
  // Typed text arrives as text events, with what an input method composed.
  SDL_StartTextInput();
  present_black();
  return true;
}

void destroy_frame_window() {
  if (g_texture) SDL_DestroyTexture(g_texture);
  if (g_overlay_texture) SDL_DestroyTexture(g_overlay_texture);
  g_texture = g_overlay_texture = nullptr;
  if (g_renderer) SDL_DestroyRenderer(g_renderer);
  if (g_window) SDL_DestroyWindow(g_window);
  g_renderer = nullptr;
  g_window = nullptr;
}


void set_window_title(const std::string& utf8) {
  if (g_window) SDL_SetWindowTitle(g_window, utf8.c_str());
}

Rect window_client_bounds() {
  Rect r;
  if (g_window) {
    SDL_GetWindowPosition(g_window, &r.x, &r.y);
    SDL_GetWindowSize(g_window, &r.width, &r.height);
  }
  return r;
}

void set_window_client_size(int width, int height) {
  if (g_window) SDL_SetWindowSize(g_window, width, height);
}

void show_window_raised() {
  if (!g_window) return;
  if (SDL_GetWindowFlags(g_window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(g_window);
  SDL_RaiseWindow(g_window);
}


bool set_window_fullscreen(bool on) {
  if (!g_window) return false;
  if (SDL_SetWindowFullscreen(g_window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) == 0) return true;
  return sdl_failed(on ? "the window could not go full screen" : "the window could not leave full screen");
}


// The overlay's own streaming texture, made anew when its size changes.
bool upload_overlay(const PictureOverlay& overlay) {
  if (g_overlay_texture == nullptr || g_overlay_width != overlay.width || g_overlay_height != overlay.height) {
    if (g_overlay_texture) SDL_DestroyTexture(g_overlay_texture);
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    g_overlay_texture = SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, overlay.width, overlay.height);
    if (g_overlay_texture == nullptr) return sdl_failed_once(g_told_texture, "the movie's texture could not be made");
    g_overlay_width = overlay.width;
    g_overlay_height = overlay.height;
  }
  return SDL_UpdateTexture(g_overlay_texture, nullptr, overlay.texels, overlay.width * 4) == 0;
}

bool valid_overlay(const PictureOverlay* overlay) {
  return overlay != nullptr && overlay->texels != nullptr && overlay->width > 0 && overlay->height > 0 &&
         overlay->rect.width > 0 && overlay->rect.height > 0;
}

bool present_with_renderer(const std::uint32_t* texels, int width, int height, PictureFit fit, const PictureOverlay* overlay) {
  if (g_texture == nullptr || g_texture_width != width || g_texture_height != height) {
    if (g_texture) SDL_DestroyTexture(g_texture);
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    g_texture = SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (g_texture == nullptr) return sdl_failed_once(g_told_texture, "the picture's texture could not be made");
    g_texture_width = width;
    g_texture_height = height;
  }
  // The whole picture is uploaded every time, so a renderer that lost its textures (a device
  // reset) shows the right picture again at the next present.
  SDL_UpdateTexture(g_texture, nullptr, texels, width * 4);
  int output_width = 0, output_height = 0;
  SDL_GetRendererOutputSize(g_renderer, &output_width, &output_height);
  const Rect v = fitted_viewport(width, height, output_width, output_height, fit);
  const SDL_Rect destination{v.x, v.y, v.width, v.height};
  // The renderer counts the drawable's pixels, mouse positions count the window's units.
  int window_width = 0, window_height = 0;
  SDL_GetWindowSize(g_window, &window_width, &window_height);
  if (output_width > 0 && output_height > 0)
    set_picture_area(PictureArea{in_window_units(v, Size{window_width, window_height}, Size{output_width, output_height}), width, height});
  // Cleared every time, so no border keeps an old picture after a size or mode change.
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderCopy(g_renderer, g_texture, nullptr, &destination);
  if (valid_overlay(overlay) && upload_overlay(*overlay)) {
    const Rect o = overlay_in_viewport(overlay->rect, width, height, v);
    const SDL_Rect place{o.x, o.y, o.width, o.height};
    SDL_RenderCopy(g_renderer, g_overlay_texture, nullptr, &place);
  }
  SDL_RenderPresent(g_renderer);
  return true;
}

// The window surface is re-made by SDL after every size change, and its pixel format is the
// display's, so the copy converts row by row into whatever the surface holds.
bool present_on_surface(const std::uint32_t* texels, int width, int height, const PictureOverlay* overlay) {
  SDL_Surface* surface = SDL_GetWindowSurface(g_window);
  if (surface == nullptr) return sdl_failed_once(g_told_surface, "the window surface is not available");
  const Rect v = fitted_viewport(width, height, surface->w, surface->h, PictureFit::one_to_one);
  int window_width = 0, window_height = 0;
  SDL_GetWindowSize(g_window, &window_width, &window_height);
  set_picture_area(PictureArea{in_window_units(v, Size{window_width, window_height}, Size{surface->w, surface->h}), width, height});
  const int copy_width = std::min(v.width, surface->w - v.x);
  const int copy_height = std::min(v.height, surface->h - v.y);
  if (!g_surface_cleared) {
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    g_surface_cleared = true;
  }
  if (copy_width > 0 && copy_height > 0) {
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
    auto* target = static_cast<std::uint8_t*>(surface->pixels) + std::size_t(v.y) * surface->pitch +
                   std::size_t(v.x) * surface->format->BytesPerPixel;
    SDL_ConvertPixels(copy_width, copy_height, SDL_PIXELFORMAT_ARGB8888, texels, width * 4, surface->format->format,
                      target, surface->pitch);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  }
  if (valid_overlay(overlay)) {
    // Stretched with linear filtering at its place's size, then converted onto the surface.
    const Rect o = overlay_in_viewport(overlay->rect, width, height, v);
    SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(overlay->texels), overlay->width,
                                                             overlay->height, 32, overlay->width * 4, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface* scaled = SDL_CreateRGBSurfaceWithFormat(0, o.width, o.height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (source && scaled && SDL_SoftStretchLinear(source, nullptr, scaled, nullptr) == 0) {
      SDL_Rect place{o.x, o.y, o.width, o.height};
      SDL_BlitSurface(scaled, nullptr, surface, &place);
    }
    if (scaled) SDL_FreeSurface(scaled);
    if (source) SDL_FreeSurface(source);
  }
  return SDL_UpdateWindowSurface(g_window) == 0;
}

bool present_texels(const std::uint32_t* texels, int width, int height, PictureFit fit, const PictureOverlay* overlay) {
  if (!g_window || texels == nullptr || width <= 0 || height <= 0) return false;
  if (g_renderer) return present_with_renderer(texels, width, height, fit, overlay);
  return present_on_surface(texels, width, height, overlay);
}

// The tool window is a utility window (no taskbar entry of its own) that is drawn through its own
// window surface, so it needs nothing of the frame window's renderer.
bool create_tool_window(const std::string& title_utf8, const Rect& bounds) {
  if (!g_display_open || g_tool_window != nullptr) return false;
  g_tool_window = SDL_CreateWindow(title_utf8.c_str(), bounds.x, bounds.y, bounds.width, bounds.height,
                                   SDL_WINDOW_HIDDEN | SDL_WINDOW_UTILITY | SDL_WINDOW_SKIP_TASKBAR);
  if (g_tool_window == nullptr) return sdl_failed("the debug window could not be created");
  g_tool_window_id = SDL_GetWindowID(g_tool_window);
  return true;
}

void destroy_tool_window() {
  if (g_tool_window) SDL_DestroyWindow(g_tool_window);
  g_tool_window = nullptr;
  g_tool_window_id = 0;
}

void show_tool_window(bool shown) {
  if (!g_tool_window) return;
  if (!shown) {
    SDL_HideWindow(g_tool_window);
    return;
  }
  SDL_ShowWindow(g_tool_window);
  SDL_RaiseWindow(g_tool_window);
}

bool present_tool_texels(const std::uint32_t* texels, int width, int height) {
  if (!g_tool_window || texels == nullptr || width <= 0 || height <= 0) return false;
  SDL_Surface* surface = SDL_GetWindowSurface(g_tool_window);
  if (surface == nullptr) return sdl_failed_once(g_told_tool_surface, "the debug window's surface is not available");
  const int copy_width = std::min(width, surface->w), copy_height = std::min(height, surface->h);
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
  SDL_ConvertPixels(copy_width, copy_height, SDL_PIXELFORMAT_ARGB8888, texels, width * 4, surface->format->format,
                    surface->pixels, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  return SDL_UpdateWindowSurface(g_tool_window) == 0;
}

bool set_window_fullscreen_mode(bool on, int width, int height) {
  if (!g_window) return false;
  g_surface_cleared = false;
  if (!on) return SDL_SetWindowFullscreen(g_window, 0) == 0 || sdl_failed("the window could not leave full screen");
  // Only modes at the desktop's own colour depth are candidates.
  int display = SDL_GetWindowDisplayIndex(g_window);
  if (display < 0) display = 0;
  SDL_DisplayMode desktop{};
  SDL_GetDesktopDisplayMode(display, &desktop);
  std::vector<SDL_DisplayMode> modes;
  std::vector<Size> sizes;
  for (int i = 0, n = SDL_GetNumDisplayModes(display); i < n; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(display, i, &m) != 0) continue;
    if (desktop.format != 0 && SDL_BITSPERPIXEL(m.format) != SDL_BITSPERPIXEL(desktop.format)) continue;
    modes.push_back(m);
    sizes.push_back({m.w, m.h});
  }
  Size chosen;
  if (!smallest_mode_holding(sizes.data(), static_cast<int>(sizes.size()), width, height, chosen)) return true;
  SDL_DisplayMode best{};
  for (const SDL_DisplayMode& m : modes)
    if (m.w == chosen.width && m.h == chosen.height) {
      best = m;
      break;
    }
  if (SDL_SetWindowDisplayMode(g_window, &best) != 0) return sdl_failed("the display mode could not be set");
  return SDL_SetWindowFullscreen(g_window, SDL_WINDOW_FULLSCREEN) == 0 || sdl_failed("the window could not go full screen");
}

void present_black() {
  if (!g_window) return;
  if (!g_renderer) {
    if (SDL_Surface* surface = SDL_GetWindowSurface(g_window)) {
      SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
      SDL_UpdateWindowSurface(g_window);
      g_surface_cleared = true;
    }
    return;
  }
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderPresent(g_renderer);
}

bool wait_event(Event& event, int timeout_ms) {
  if (!g_display_open) return false;
  SDL_Event e;
  auto deadline = SDL_GetTicks64() + static_cast<Uint64>(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    Uint64 now = SDL_GetTicks64();
    int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    if (!SDL_WaitEventTimeout(&e, left)) return false;
    if (translate(e, event)) return true;
  }
}

void wake_window_thread() {
  if (Uint32 wake = g_wake_event.load(); wake != 0) {
    SDL_Event e{};
    e.type = wake;
    SDL_PushEvent(&e);
  }
}

DisplayMode desktop_mode() {
  DisplayMode mode;
  SDL_DisplayMode m;
  if (g_display_open && SDL_GetDesktopDisplayMode(0, &m) == 0) {
    mode.width = m.w;
    mode.height = m.h;
    mode.bits_per_pixel = static_cast<int>(SDL_BITSPERPIXEL(m.format));
    if (mode.bits_per_pixel == 24 && SDL_BYTESPERPIXEL(m.format) == 4) mode.bits_per_pixel = 32;
  }
  return mode;
}

class SdlDisplay final : public Display {
 public:
  bool has_viewer() const override { return true; }
  Rect desktop_bounds() override { return platform::desktop_bounds(); }
  DisplayMode desktop_mode() override { return platform::desktop_mode(); }
  bool create_frame_window(const WindowOptions& options) override { return platform::create_frame_window(options); }
  void destroy_frame_window() override { platform::destroy_frame_window(); }
  bool has_frame_window() override { return g_window.load() != nullptr; }
  void* frame_window_handle() override { return g_window.load(); }
  bool frame_window_has_renderer() override { return g_renderer != nullptr; }
  void set_window_title(const std::string& utf8) override { platform::set_window_title(utf8); }
  Rect window_client_bounds() override { return platform::window_client_bounds(); }
  void set_window_client_size(int width, int height) override { platform::set_window_client_size(width, height); }
  void show_window_raised() override { platform::show_window_raised(); }
  bool window_is_minimized() override {
    SDL_Window* window = g_window.load();
    return window && (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED);
  }
  bool set_window_fullscreen(bool on) override { return platform::set_window_fullscreen(on); }
  bool set_window_fullscreen_mode(bool on, int width, int height) override {
    return platform::set_window_fullscreen_mode(on, width, height);
  }
  void present_black() override { platform::present_black(); }
  bool present_texels(const std::uint32_t* texels, int width, int height, PictureFit fit,
                      const PictureOverlay* overlay) override {
    return platform::present_texels(texels, width, height, fit, overlay);
  }
  PictureArea picture_area() override {
    std::lock_guard lock(g_area_mutex);
    return g_picture_area;
  }
  bool create_tool_window(const std::string& title_utf8, const Rect& bounds) override {
    return platform::create_tool_window(title_utf8, bounds);
  }
  void destroy_tool_window() override { platform::destroy_tool_window(); }
  void show_tool_window(bool shown) override { platform::show_tool_window(shown); }
  bool present_tool_texels(const std::uint32_t* texels, int width, int height) override {
    return platform::present_tool_texels(texels, width, height);
  }
  bool wait_event(Event& event, int timeout_ms) override { return platform::wait_event(event, timeout_ms); }
  void wake_window_thread() override { platform::wake_window_thread(); }
};

class SdlInputDevice final : public InputDevice {
 public:
  int lock_keys() override {
    const SDL_Keymod mod = SDL_GetModState();
    return ((mod & KMOD_CAPS) ? 1 : 0) | ((mod & KMOD_NUM) ? 2 : 0) | ((mod & KMOD_SCROLL) ? 4 : 0);
  }
  void show_cursor(bool shown) override { SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE); }
  void capture_mouse(bool captured) override { SDL_CaptureMouse(captured ? SDL_TRUE : SDL_FALSE); }
  void confine_cursor(const Rect* area) override {
    SDL_Window* window = g_window.load();
    if (window == nullptr) return;
    if (area == nullptr) {
      SDL_SetWindowMouseRect(window, nullptr);
      return;
    }
    const SDL_Rect r{area->x, area->y, area->width, area->height};
    if (SDL_SetWindowMouseRect(window, &r) != 0) sdl_failed_once(told_confine_, "the pointer could not be confined");
  }
  void warp_cursor(int x, int y) override {
    if (SDL_Window* window = g_window.load()) SDL_WarpMouseInWindow(window, x, y);
  }

 private:
  std::atomic<bool> told_confine_{false};
};

}  // namespace

InputDevice& sdl_input_device() {
  static SdlInputDevice device;
  return device;
}

bool open_sdl_display() { return open_display(); }
void close_sdl_display() { close_display(); }

Display& sdl_display() {
  static SdlDisplay display;
  return display;
}

}  // namespace talven::platform
