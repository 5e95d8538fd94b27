#include "platform/dialogs.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace talven::platform {
namespace {

std::atomic<bool> g_headless{false};
std::atomic<SDL_Window*> g_owner{nullptr};
std::mutex g_stderr_mutex;
std::atomic<TerminalTextFilter> g_terminal_filter{nullptr};

int default_button(const std::vector<MessageButton>& buttons) {
  for (const auto& b : buttons)
    if (b.is_default) return b.id;
  return buttons.empty() ? 0 : buttons.front().id;
}

void print_line(std::string_view caption, std::string_view text) {
  std::string filtered;
  if (TerminalTextFilter filter = g_terminal_filter.load()) {
    filtered = filter(text);
    text = filtered;
  }
  // One line per box: line breaks inside the text become spaces.
  std::string line(caption);
  line += ": ";
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  std::lock_guard lock(g_stderr_mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void set_headless(bool headless) { g_headless = headless; }
void set_terminal_text_filter(TerminalTextFilter filter) { g_terminal_filter = filter; }
bool headless() { return g_headless; }

void set_message_box_owner(void* window) { g_owner = static_cast<SDL_Window*>(window); }

int show_message_box(std::string_view caption, std::string_view text, MessageIcon icon,
                     const std::vector<MessageButton>& buttons) {
  if (g_headless) {
    print_line(caption, text);
    return default_button(buttons);
  }

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
  data.window = g_owner.load();
  data.title = caption_z.c_str();
  data.message = text_z.c_str();
  data.numbuttons = static_cast<int>(sdl_buttons.size());
  data.buttons = sdl_buttons.data();
  int chosen = 0;
  if (SDL_ShowMessageBox(&data, &chosen) != 0) {
    // No display to show it on: the text still reaches the user.
    print_line(caption, text);
    return default_button(buttons);
  }
  // Closing the box without a button counts as its escape button, else the default.
  if (chosen < 0) {
    for (const auto& b : buttons)
      if (b.is_escape) return b.id;
    return default_button(buttons);
  }
  return chosen;
}

}  // namespace talven::platform
