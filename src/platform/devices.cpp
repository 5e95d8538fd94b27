#include "platform/devices.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talven::platform {
namespace {

// No window and no pictures; the window thread sleeps until woken. What a missing display does:
// windows "open" (there is nothing to fail), full-screen switches succeed, nothing is shown.
class NullDisplay final : public Display {
 public:
  bool has_viewer() const override { return false; }
  Rect desktop_bounds() override {
    DisplayMode mode;
    return Rect{0, 0, mode.width, mode.height};
  }
  DisplayMode desktop_mode() override { return DisplayMode{}; }
  bool create_frame_window(const WindowOptions& options) override {
    client_ = Rect{0, 0, options.client_width, options.client_height};
    std::lock_guard lock(area_mutex_);
    area_ = PictureArea{client_, options.client_width, options.client_height};
    return true;
  }
  void destroy_frame_window() override {}
  bool has_frame_window() override { return false; }
  void* frame_window_handle() override { return nullptr; }
  bool frame_window_has_renderer() override { return false; }
  void set_window_title(const std::string&) override {}
  Rect window_client_bounds() override { return client_; }
  void set_window_client_size(int width, int height) override {
    client_.width = width;
    client_.height = height;
  }
  void show_window_raised() override {}
  bool window_is_minimized() override { return false; }
  bool set_window_fullscreen(bool) override { return true; }
  bool set_window_fullscreen_mode(bool, int, int) override { return true; }
  void present_black() override {}
  // Nothing is shown, but the picture is placed as a window of the picture's size would place it,
  // so positions given in picture coordinates (input replays) come back unchanged.
  bool present_texels(const std::uint32_t*, int width, int height, PictureFit, const PictureOverlay*) override {
    if (width > 0 && height > 0) {
      std::lock_guard lock(area_mutex_);
      area_ = PictureArea{Rect{0, 0, width, height}, width, height};
    }
    return false;
  }
  PictureArea picture_area() override {
    std::lock_guard lock(area_mutex_);
    return area_;
  }
  bool create_tool_window(const std::string&, const Rect&) override { return false; }
  void destroy_tool_window() override {}
  void show_tool_window(bool) override {}
  bool present_tool_texels(const std::uint32_t*, int, int) override { return false; }

  bool wait_event(Event& event, int timeout_ms) override {
    std::unique_lock lock(wake_mutex_);
    wake_signal_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms), [this] { return wake_pending_; });
    if (!wake_pending_) return false;
    wake_pending_ = false;
    event = Event{};
    event.type = EventType::wake;
    return true;
  }
  void wake_window_thread() override {
    {
      std::lock_guard lock(wake_mutex_);
      wake_pending_ = true;
    }
    wake_signal_.notify_one();
  }

 private:
  Rect client_;
  std::mutex area_mutex_;
  PictureArea area_;
  std::mutex wake_mutex_;
  std::condition_variable wake_signal_;
  bool wake_pending_ = false;
};

// A clipboard private to this process.
class NullClipboard final : public Clipboard {
 public:
  bool set_text(const std::string& utf8) override {
    std::lock_guard lock(mutex_);
    text_ = utf8;
    return true;
  }
  std::optional<std::string> text() override {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::optional<std::string> text_;
};

class NullInputDevice final : public InputDevice {
 public:
  int lock_keys() override { return 0; }
  void show_cursor(bool) override {}
  void capture_mouse(bool) override {}
  void confine_cursor(const Rect*) override {}
  void warp_cursor(int, int) override {}
};

// The chosen back ends. Written only by choose_devices and release_devices, which run on the main
// thread while no other thread uses a device; read from any thread.
std::atomic<Display*> g_display{nullptr};
std::atomic<MessageBoxes*> g_message_boxes{nullptr};
std::atomic<Clipboard*> g_clipboard{nullptr};
std::atomic<InputDevice*> g_input_device{nullptr};
std::atomic<AudioOutput*> g_audio_output{nullptr};

}  // namespace

Display& null_display() {
  static NullDisplay display;
  return display;
}

Clipboard& null_clipboard() {
  static NullClipboard clipboard;
  return clipboard;
}

InputDevice& null_input_device() {
  static NullInputDevice device;
  return device;
}

bool choose_devices(DeviceBackends wanted) {
  release_devices();
  if (wanted == DeviceBackends::null || !open_sdl_display()) return false;
  g_display = &sdl_display();
  g_message_boxes = &sdl_message_boxes();
  g_clipboard = &sdl_clipboard();
  g_input_device = &sdl_input_device();
  g_audio_output = &sdl_audio_output();
  return true;
}

void release_devices() {
  if (g_display.load() == &sdl_display()) close_sdl_display();
  g_display = nullptr;
  g_message_boxes = nullptr;
  g_clipboard = nullptr;
  g_input_device = nullptr;
  g_audio_output = nullptr;
}

Display& display() {
  Display* chosen = g_display.load();
  return chosen ? *chosen : null_display();
}

MessageBoxes& message_boxes() {
  MessageBoxes* chosen = g_message_boxes.load();
  return chosen ? *chosen : null_message_boxes();
}

Clipboard& clipboard() {
  Clipboard* chosen = g_clipboard.load();
  return chosen ? *chosen : null_clipboard();
}

AudioOutput& audio_output() {
  AudioOutput* chosen = g_audio_output.load();
  return chosen ? *chosen : null_audio_output();
}

InputDevice& input_device() {
  InputDevice* chosen = g_input_device.load();
  return chosen ? *chosen : null_input_device();
}

}  // namespace talven::platform
