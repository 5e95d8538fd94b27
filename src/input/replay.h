// Input replay: timed input events in a small text format, fed into the window thread's event
// path as real ones are (talven --input FILE), and written from a real session
// (talven --input-record FILE). docs/manual.md describes the format.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"

namespace talven::input {

// One line of a replay: its time in milliseconds since the start of the run, and the event with
// mouse positions in screen-plane pixels and controllers named by their joystick numbers.
struct ReplayEvent {
  std::uint32_t time_ms = 0;
  platform::Event event;
};

// Reads a whole replay. On a fault returns false with `error` naming the line ("line 7: ...").
bool parse_replay(std::string_view text, std::vector<ReplayEvent>& events, std::string& error);

// Window thread: the event as it is handled now, with screen-plane positions turned into window
// coordinates through the area that shows the picture.
platform::Event replayed_event(const ReplayEvent& replay);

// Window thread, before the event is handled: the line that replays it, without its ending;
// empty for an event a replay does not carry (not an input event, or a key outside the table).
std::string replay_line(std::uint32_t time_ms, const platform::Event& event);

}  // namespace talven::input
