#include "platform/dialogs.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/devices.h"

namespace talven::platform {
namespace {

std::mutex g_stderr_mutex;
std::atomic<TerminalTextFilter> g_terminal_filter{nullptr};

int default_button(const std::vector<MessageButton>& buttons) {
  for (const auto& b : buttons)
    if (b.is_default) return b.id;
  return buttons.empty() ? 0 : buttons.front().id;
}

class NullMessageBoxes final : public MessageBoxes {
 public:
  int show(std::string_view caption, std::string_view text, MessageIcon,
           const std::vector<MessageButton>& buttons) override {
    return print_message_box(caption, text, buttons);
  }
};

class SdlMessageBoxes final : public MessageBoxes {
 public:
  int show(std::string_view caption, std::string_view text, MessageIcon icon,
           const std::vector<MessageButton>& buttons) override {
    std::string caption_z(caption), text_z(text);
    std::vector<SDL_MessageBoxButtonData> sdl_buttons;
    for (const auto& b : buttons) {
      Uint32 flags = 0;
      if (b.is_default) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
      if (b.is_escape) flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
      sdl_buttons.push_back({flags, b.id, b.label.c_str()});
    }
    Uint32 flags = 0;
    switch (icon) {
      case MessageIcon::error: flags = SDL_MESSAGEBOX_ERROR; break;
      case MessageIcon::warning: flags = SDL_MESSAGEBOX_WARNING; break;
      case MessageIcon::information:
      case MessageIcon::question: flags = SDL_MESSAGEBOX_INFORMATION; break;
      case MessageIcon::none: break;
    }
    SDL_MessageBoxData data{};
    data.flags = flags;
    // The frame window owns the box once it exists.
    data.window = static_cast<SDL_Window*>(display().frame_window_handle());
    data.title = caption_z.c_str();
    data.message = text_z.c_str();
    data.numbuttons = static_cast<int>(sdl_buttons.size());
    data.buttons = sdl_buttons.data();
    int chosen = 0;
    if (SDL_ShowMessageBox(&data, &chosen) != 0) {
      // The box could not be shown: the text still reaches the user, with the reason once.
      static std::once_flag said;
      std::call_once(said, [] { std::fprintf(stderr, "talven: a message box could not be shown (%s); boxes are printed here\n", SDL_GetError()); });
      return print_message_box(caption, text, buttons);
    }
    // Closing the box without a button counts as its escape button, else the default.
    if (chosen < 0) {
      for (const auto& b : buttons)
        if (b.is_escape) return b.id;
      return default_button(buttons);
    }
    return chosen;
  }
};

}  // namespace

void set_terminal_text_filter(TerminalTextFilter filter) { g_terminal_filter = filter; }

int print_message_box(std::string_view caption, std::string_view text, const std::vector<MessageButton>& buttons) {
  std::string filtered;
  if (TerminalTextFilter filter = g_terminal_filter.load()) {
    filtered = filter(text);
    text = filtered;
  }
  std::string line(caption);
  line += ": ";
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  {
    std::lock_guard lock(g_stderr_mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
  return default_button(buttons);
}

MessageBoxes& null_message_boxes() {
  static NullMessageBoxes boxes;
  return boxes;
}

MessageBoxes& sdl_message_boxes() {
  static SdlMessageBoxes boxes;
  return boxes;
}

}  // namespace talven::platform
