// Modal message boxes and the headless switch that replaces them with lines on stderr.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace talven::platform {

// Headless: no window, no audio device; boxes are printed and answered with their default button.
void set_headless(bool headless);
bool headless();

enum class MessageIcon { none, error, warning, information, question };

struct MessageButton {
  int id;             // what show_message_box returns when this button is chosen
  std::string label;  // UTF-8
  bool is_default = false;
  bool is_escape = false;
};

// What printed boxes pass through on their way to the terminal (the shell adds the English
// meanings of its messages); null prints the text as it is.
using TerminalTextFilter = std::string (*)(std::string_view utf8_text);
void set_terminal_text_filter(TerminalTextFilter filter);

// The window that owns message boxes once it exists (an SDL_Window*), nullptr before.
void set_message_box_owner(void* window);

// Shows a modal box and returns the id of the chosen button. Caption and text are UTF-8.
// Headless, or when no box can be shown, prints "caption: text" as one line on stderr and
// returns the default button's id (the first button when none is marked).
int show_message_box(std::string_view caption, std::string_view text, MessageIcon icon,
                     const std::vector<MessageButton>& buttons);

}  // namespace talven::platform
