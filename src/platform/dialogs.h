// What message boxes deal in (the device itself is in devices.h), and the one place that prints a
// box as a line on stderr when nobody can see it.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace talven::platform {

enum class MessageIcon { none, error, warning, information, question };

struct MessageButton {
  int id;             // what the box returns when this button is chosen
  std::string label;  // UTF-8
  bool is_default = false;
  bool is_escape = false;
};

// What printed boxes pass through on their way to the terminal (the shell adds the English
// meanings of its messages); null prints the text as it is.
using TerminalTextFilter = std::string (*)(std::string_view utf8_text);
void set_terminal_text_filter(TerminalTextFilter filter);

// Prints "caption: text" as one line on stderr (line breaks become spaces) and returns the id of
// the default button (the first button when none is marked): what a box nobody sees answers.
int print_message_box(std::string_view caption, std::string_view text, const std::vector<MessageButton>& buttons);

}  // namespace talven::platform
