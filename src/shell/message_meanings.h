// The engine's messages stay exactly as the system shows them, in Japanese. Where they are printed
// to a terminal (headless message boxes on stderr, talvenc, the --log file), the English meaning
// follows in parentheses, unless the user's locale is Japanese. This is the one table of both.
#pragma once
#include <span>
#include <string>
#include <string_view>

namespace talven::shell {

struct MessageMeaning {
  const char* japanese;  // UTF-8: the fixed text of a message, without its format directives
  const char* english;
};

// Every Japanese message text the engine shows, with its meaning.
std::span<const MessageMeaning> message_meanings();

// `utf8_text` with the meaning of the longest known message on each line appended to that line,
// once, as " (meaning)". Lines without a known message stay as they are.
std::string with_english_meanings(std::string_view utf8_text);

// True when LC_ALL, LC_MESSAGES or LANG (the first one set) names a Japanese locale.
bool user_reads_japanese();

// The text as it should reach a terminal: with the English meanings, unless the user reads
// Japanese. Matches the platform's filter for printed message boxes.
std::string for_terminal(std::string_view utf8_text);

}  // namespace talven::shell
