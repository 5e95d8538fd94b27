#include "platform/devices.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdio>
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
std::atomic<Uint32> g_wake_event{0};
SDL_Window* g_tool_window = nullptr;  // the engine's own second window, hidden until asked for
Uint32 g_tool_window_id = 0;

// Windows virtual-key codes of the keys whose meaning the shell needs before input exists.
int virtual_key_of(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return 0x70 + (key - SDLK_F1);
  switch (key) {
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_TAB: return 0x09;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 0x0D;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 0x11;
    case SDLK_LALT:
    case SDLK_RALT: return 0x12;
    case SDLK_ESCAPE: return 0x1B;
    case SDLK_SPACE: return 0x20;
    case SDLK_PAGEUP: return 0x21;
    case SDLK_PAGEDOWN: return 0x22;
    case SDLK_END: return 0x23;
    case SDLK_HOME: return 0x24;
    case SDLK_LEFT: return 0x25;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return 0x27;
    case SDLK_DOWN: return 0x28;
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
      out.virtual_key = virtual_key_of(e.key.keysym.sym);
      out.alt = (e.key.keysym.mod & KMOD_ALT) != 0;
      out.repeat = e.key.repeat != 0;
      return true;
    case SDL_RENDER_TARGETS_RESET: out.type = EventType::render_reset; return true;
    case SDL_RENDER_DEVICE_RESET:
      // The renderer's textures are gone; the next present makes a new one.
      if (g_texture) SDL_DestroyTexture(g_texture);
      g_texture = nullptr;
      out.type = EventType::render_reset;
      return true;
    case SDL_TEXTINPUT: out.type = EventType::text_input; out.text = e.text.text; return true;
    case SDL_MOUSEMOTION: out.type = EventType::mouse_move; out.x = e.motion.x; out.y = e.motion.y; return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      out.type = e.type == SDL_MOUSEBUTTONDOWN ? EventType::mouse_button_down : EventType::mouse_button_up;
      out.x = e.button.x;
      out.y = e.button.y;
      out.button = e.button.button == SDL_BUTTON_LEFT ? 1 : e.button.button == SDL_BUTTON_MIDDLE ? 2 : 3;
      return true;
    case SDL_MOUSEWHEEL: out.type = EventType::mouse_wheel; out.y = e.wheel.y; return true;
    default:
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
  g_display_open = true;
  return true;
}

void close_display() {
  if (!g_display_open) return;
  destroy_tool_window();
  destroy_frame_window();
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
  SDL_RaiseWindow(g_window);
  present_black();
  return true;
}

void destroy_frame_window() {
  if (g_texture) SDL_DestroyTexture(g_texture);
  g_texture = nullptr;
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


bool present_with_renderer(const std::uint32_t* texels, int width, int height, PictureFit fit) {
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
  // Cleared every time, so no border keeps an old picture after a size or mode change.
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderCopy(g_renderer, g_texture, nullptr, &destination);
  SDL_RenderPresent(g_renderer);
  return true;
}

// The window surface is re-made by SDL after every size change, and its pixel format is the
// display's, so the copy converts row by row into whatever the surface holds.
bool present_on_surface(const std::uint32_t* texels, int width, int height) {
  SDL_Surface* surface = SDL_GetWindowSurface(g_window);
  if (surface == nullptr) return sdl_failed_once(g_told_surface, "the window surface is not available");
  const Rect v = fitted_viewport(width, height, surface->w, surface->h, PictureFit::one_to_one);
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
  return SDL_UpdateWindowSurface(g_window) == 0;
}

bool present_texels(const std::uint32_t* texels, int width, int height, PictureFit fit) {
  if (!g_window || texels == nullptr || width <= 0 || height <= 0) return false;
  if (g_renderer) return present_with_renderer(texels, width, height, fit);
  return present_on_surface(texels, width, height);
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
  bool present_texels(const std::uint32_t* texels, int width, int height, PictureFit fit) override {
    return platform::present_texels(texels, width, height, fit);
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

}  // namespace

bool open_sdl_display() { return open_display(); }
void close_sdl_display() { close_display(); }

Display& sdl_display() {
  static SdlDisplay display;
  return display;
}

}  // namespace talven::platform
