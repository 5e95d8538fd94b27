#include "input/replay.h"

#include <charconv>
#include <cstdio>

#include "input/input.h"
#include "input/input_state.h"
#include "platform/devices.h"
#include "platform/key_table.h"

namespace talven::input {
namespace {

using platform::Event;
using platform::EventType;

// Replayed controllers are devices of their own, apart from the numbers SDL gives real ones.
constexpr int kReplayDeviceBase = 0x40000000;

constexpr const char* kButtonNames[] = {"", "left", "middle", "right", "x1", "x2"};

// The words of a line, split at spaces and tabs.
std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool to_int(std::string_view word, long long low, long long high, long long& out) {
  const char* end = word.data() + word.size();
  auto [ptr, ec] = std::from_chars(word.data(), end, out);
  return ec == std::errc() && ptr == end && out >= low && out <= high;
}

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > s.size()) return false;
    for (int k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

int button_number(std::string_view name) {
  for (int b = 1; b <= 5; ++b)
    if (name == kButtonNames[b]) return b;
  return 0;
}

// The parser's view of the keys a replay holds, so that key events carry the Alt and Ctrl state
// the shell's own keys (Alt+Enter) look at.
struct HeldModifiers {
  bool left_alt = false, right_alt = false, left_ctrl = false, right_ctrl = false;
  void note(const platform::KeyRecord* key, bool down) {
    const std::string_view name = key->name;
    if (name == "LAlt") left_alt = down;
    if (name == "RAlt") right_alt = down;
    if (name == "LCtrl") left_ctrl = down;
    if (name == "RCtrl") right_ctrl = down;
  }
};

// Parses the words after the time into `e`; returns the reason when they are not a known event.
std::string parse_event(const std::vector<std::string_view>& w, std::string_view line, HeldModifiers& held, Event& e) {
  const std::string_view kind = w[1];
  auto need = [&](std::size_t n) { return w.size() == n; };
  long long a = 0, b = 0, c = 0;
  if (kind == "key") {
    if (!need(4)) return "expected: TIME key down|up|repeat NAME";
    const platform::KeyRecord* key = platform::key_by_name(w[3]);
    if (key == nullptr) return "no key is named '" + std::string(w[3]) + "'";
    if (w[2] == "down" || w[2] == "repeat") e.type = EventType::key_down;
    else if (w[2] == "up") e.type = EventType::key_up;
    else return "a key goes down, up or repeat, not '" + std::string(w[2]) + "'";
    e.repeat = w[2] == "repeat";
    held.note(key, e.type == EventType::key_down);
    e.key = key;
    e.virtual_key = key->vk;
    e.alt = held.left_alt || held.right_alt;
    e.ctrl = held.left_ctrl || held.right_ctrl;
    return {};
  }
  if (kind == "text") {
    // The text is the rest of the line: in double quotes (with \" and \\ inside), which keeps
    // spaces at its end, or as it stands.
    std::string_view rest = line.substr(line.find("text") + 4);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    if (rest.empty()) return "expected: TIME text \"SOME TEXT\"";
    e.type = EventType::text_input;
    if (rest.front() == '"') {
      std::size_t i = 1;
      for (; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        e.text += rest[i];
      }
      if (i >= rest.size()) return "the text's closing quote is missing";
      if (!words_of(rest.substr(i + 1)).empty()) return "something follows the text's closing quote";
    } else {
      e.text = std::string(rest);
    }
    if (e.text.empty()) return "expected: TIME text \"SOME TEXT\"";
    if (!valid_utf8(e.text)) return "the text is not UTF-8";
    return {};
  }
  if (kind == "mouse") {
    if (w.size() >= 3 && w[2] == "move") {
      if (!need(5) || !to_int(w[3], -100000, 100000, a) || !to_int(w[4], -100000, 100000, b))
        return "expected: TIME mouse move X Y";
      e.type = EventType::mouse_move;
    } else {
      if (w.size() < 4 || (w[2] != "down" && w[2] != "up" && w[2] != "double"))
        return "expected: TIME mouse move|down|up|double ...";
      e.type = w[2] == "up" ? EventType::mouse_button_up : EventType::mouse_button_down;
      e.clicks = w[2] == "double" ? 2 : 1;
      e.button = button_number(w[3]);
      if (e.button == 0) return "a mouse button is left, right, middle, x1 or x2, not '" + std::string(w[3]) + "'";
      if (!need(6) || !to_int(w[4], -100000, 100000, a) || !to_int(w[5], -100000, 100000, b))
        return "expected: TIME mouse " + std::string(w[2]) + " BUTTON X Y";
    }
    e.x = static_cast<int>(a);
    e.y = static_cast<int>(b);
    return {};
  }
  if (kind == "wheel") {
    if (!need(3) || !to_int(w[2], -1000000, 1000000, a) || a == 0)
      return "expected: TIME wheel AMOUNT (120 per notch, not 0)";
    e.type = EventType::mouse_wheel;
    e.value = static_cast<int>(a);
    return {};
  }
  if (kind == "pad") {
    if (w.size() < 4 || !to_int(w[2], 0, 1000, a)) return "expected: TIME pad NUMBER added|removed|axis|button|hat ...";
    e.device = kReplayDeviceBase + static_cast<int>(a);
    const std::string_view what = w[3];
    if (what == "added" && need(4)) e.type = EventType::controller_added;
    else if (what == "removed" && need(4)) e.type = EventType::controller_removed;
    else if (what == "axis") {
      if (!need(6) || (w[4] != "x" && w[4] != "y") || !to_int(w[5], -32768, 32767, b))
        return "expected: TIME pad NUMBER axis x|y VALUE (-32768 ... 32767)";
      e.type = EventType::controller_axis;
      e.control = w[4] == "x" ? 0 : 1;
      e.value = static_cast<int>(b);
    } else if (what == "button") {
      if (!need(6) || !to_int(w[4], 0, 31, b) || (w[5] != "down" && w[5] != "up"))
        return "expected: TIME pad NUMBER button 0...31 down|up";
      e.type = w[5] == "down" ? EventType::controller_button_down : EventType::controller_button_up;
      e.control = static_cast<int>(b);
    } else if (what == "hat") {
      if (!need(5) || !to_int(w[4], 0, 15, c)) return "expected: TIME pad NUMBER hat BITS (up 1, right 2, down 4, left 8)";
      e.type = EventType::controller_hat;
      e.value = static_cast<int>(c);
    } else {
      return "expected: TIME pad NUMBER added|removed|axis|button|hat ...";
    }
    return {};
  }
  if (kind == "focus") {
    if (!need(3) || (w[2] != "lost" && w[2] != "gained")) return "expected: TIME focus lost|gained";
    e.type = w[2] == "lost" ? EventType::focus_lost : EventType::focus_gained;
    return {};
  }
  if (kind == "close") {
    if (!need(2)) return "expected: TIME close";
    e.type = EventType::close_requested;
    return {};
  }
  return "'" + std::string(kind) + "' is not an event (key, text, mouse, wheel, pad, focus, close)";
}

}  // namespace

bool parse_replay(std::string_view text, std::vector<ReplayEvent>& events, std::string& error) {
  events.clear();
  HeldModifiers held;
  std::uint32_t previous = 0;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> w = words_of(line);
    if (w.empty() || w[0][0] == '#') continue;
    auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    long long time = 0;
    if (!to_int(w[0], 0, 0xFFFFFFFFll, time)) return fail("a line starts with its time in milliseconds, not '" + std::string(w[0]) + "'");
    if (time < previous) return fail("the time goes back (" + std::to_string(time) + " after " + std::to_string(previous) + ")");
    if (w.size() < 2) return fail("an event follows the time");
    ReplayEvent replay;
    replay.time_ms = static_cast<std::uint32_t>(time);
    if (std::string why = parse_event(w, line, held, replay.event); !why.empty()) return fail(why);
    previous = replay.time_ms;
    events.push_back(std::move(replay));
  }
  return true;
}

Event replayed_event(const ReplayEvent& replay) {
  Event e = replay.event;
  switch (e.type) {
    case EventType::mouse_move:
    case EventType::mouse_button_down:
    case EventType::mouse_button_up: {
      const Point p = picture_to_window(platform::display().picture_area(), e.x, e.y);
      if (e.type == EventType::mouse_move) {
        e.dx = p.x - mouse().pointer_x.load(std::memory_order_relaxed);
        e.dy = p.y - mouse().pointer_y.load(std::memory_order_relaxed);
      }
      e.x = p.x;
      e.y = p.y;
      break;
    }
    case EventType::mouse_wheel:
      e.x = mouse().pointer_x.load(std::memory_order_relaxed);
      e.y = mouse().pointer_y.load(std::memory_order_relaxed);
      break;
    default: break;
  }
  return e;
}

std::string replay_line(std::uint32_t time_ms, const Event& e) {
  const std::string time = std::to_string(time_ms) + " ";
  auto picture_point = [&] {
    const Point p = window_to_picture(platform::display().picture_area(), e.x, e.y);
    return std::to_string(p.x) + " " + std::to_string(p.y);
  };
  auto pad = [&](bool arriving) {
    const int number = joystick_number_of(e.device, arriving);
    return number < 0 ? std::string() : time + "pad " + std::to_string(number) + " ";
  };
  switch (e.type) {
    case EventType::key_down:
    case EventType::key_up:
      if (e.key == nullptr) return {};
      return time + "key " + (e.type == EventType::key_up ? "up " : e.repeat ? "repeat " : "down ") + e.key->name;
    case EventType::text_input: {
      if (e.text.empty()) return {};
      std::string quoted = time + "text \"";
      for (char c : e.text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
      }
      return quoted + "\"";
    }
    case EventType::mouse_move: return time + "mouse move " + picture_point();
    case EventType::mouse_button_down:
    case EventType::mouse_button_up:
      if (e.button < 1 || e.button > 5) return {};
      return time + "mouse " +
             (e.type == EventType::mouse_button_up ? "up " : e.clicks == 2 ? "double " : "down ") +
             kButtonNames[e.button] + " " + picture_point();
    case EventType::mouse_wheel: return time + "wheel " + std::to_string(e.value);
    case EventType::controller_added: {
      const std::string p = pad(true);
      return p.empty() ? p : p + "added";
    }
    case EventType::controller_removed: {
      const std::string p = pad(false);
      return p.empty() ? p : p + "removed";
    }
    case EventType::controller_axis: {
      const std::string p = pad(false);
      if (p.empty() || e.control < 0 || e.control > 1) return {};
      return p + "axis " + (e.control == 0 ? "x " : "y ") + std::to_string(e.value);
    }
    case EventType::controller_button_down:
    case EventType::controller_button_up: {
      const std::string p = pad(false);
      if (p.empty()) return p;
      return p + "button " + std::to_string(e.control) + (e.type == EventType::controller_button_down ? " down" : " up");
    }
    case EventType::controller_hat: {
      const std::string p = pad(false);
      return p.empty() ? p : p + "hat " + std::to_string(e.value);
    }
    case EventType::focus_lost: return time + "focus lost";
    case EventType::focus_gained: return time + "focus gained";
    case EventType::close_requested:
    case EventType::quit: return time + "close";
    default: return {};
  }
}

}  // namespace talven::input
