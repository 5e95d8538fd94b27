// The input state as the window thread builds it from events, the axis scalings, the pointer
// mapping through the picture's area, and the replay format. What scripts see through the
// built-ins is tested by the script cases (tests/scripts/cases/input_*), driven by replays.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input.h"
#include "input/input_state.h"
#include "input/replay.h"
#include "platform/key_table.h"
#include "shell/modules.h"

namespace talven::input {
namespace {

using platform::Event;
using platform::EventType;

class InputState : public ::testing::Test {
 protected:
  void TearDown() override { shell::reset_engine_state(); }

  static void key(const char* name, EventType type, bool repeat = false) {
    Event e;
    e.type = type;
    e.key = platform::key_by_name(name);
    ASSERT_NE(e.key, nullptr) << name;
    e.virtual_key = e.key->vk;
    e.repeat = repeat;
    handle_input_event(e);
  }
  static std::vector<std::uint8_t> table() {
    std::vector<std::uint8_t> t(256);
    copy_keyboard_table(t.data());
    return t;
  }
};

TEST_F(InputState, TheTwoNumberingsSeeTheSamePressesAtTheirOwnIndexes) {
  for (bool direct_input : {true, false}) {
    SCOPED_TRACE(direct_input ? "scan codes" : "virtual keys");
    input_start(direct_input);
    key("LShift", EventType::key_down);
    key("A", EventType::key_down);
    key("Left", EventType::key_down);
    key("Left", EventType::key_up);
    const auto t = table();
    if (direct_input) {
      EXPECT_EQ(t[0x2A], 0x80);  // left shift
      EXPECT_EQ(t[0x1E], 0x80);  // A
      EXPECT_EQ(t[0xCB], 0x00);  // left arrow, released
      int down = 0;
      for (auto b : t) down += b != 0;
      EXPECT_EQ(down, 2);
    } else {
      EXPECT_EQ(t[0xA0], 0x81);  // left shift, down and toggled by the press
      EXPECT_EQ(t[0x10], 0x81);  // the generic shift with it
      EXPECT_EQ(t[0x41], 0x81);  // A
      EXPECT_EQ(t[0x25], 0x01);  // left arrow: up, toggled once
    }
    shell::reset_engine_state();
  }
}

TEST_F(InputState, ToggleBitsGenericModifiersAndTheKeypadFollowTheWindowSystem) {
  input_start(false);
  // Caps Lock twice: toggled on, then off; a repeat does not toggle.
  key("CapsLock", EventType::key_down);
  key("CapsLock", EventType::key_down, true);
  key("CapsLock", EventType::key_up);
  EXPECT_EQ(table()[0x14], 0x01);
  key("CapsLock", EventType::key_down);
  key("CapsLock", EventType::key_up);
  EXPECT_EQ(table()[0x14], 0x00);
  // Both shifts down, one released: the generic shift stays down until the other is.
  key("LShift", EventType::key_down);
  key("RShift", EventType::key_down);
  key("LShift", EventType::key_up);
  EXPECT_EQ(table()[0x10] & 0x80, 0x80);
  key("RShift", EventType::key_up);
  EXPECT_EQ(table()[0x10] & 0x80, 0x00);
  // Num Lock off (as the null device starts): keypad 8 is the up arrow, and its release clears the
  // same entry after Num Lock came on meanwhile.
  key("KP8", EventType::key_down);
  EXPECT_EQ(table()[0x26] & 0x80, 0x80);
  EXPECT_EQ(table()[0x68] & 0x80, 0x00);
  key("NumLock", EventType::key_down);
  key("NumLock", EventType::key_up);
  key("KP8", EventType::key_up);
  EXPECT_EQ(table()[0x26] & 0x80, 0x00);
  key("KP8", EventType::key_down);
  EXPECT_EQ(table()[0x68] & 0x80, 0x80);
  // Losing the focus lets go of every key; the toggles stay.
  window_activated(false);
  EXPECT_EQ(table()[0x68], 0x01);
  EXPECT_EQ(table()[0x90], 0x01);
}

TEST_F(InputState, TheCharacterQueueKeepsTheLast511BytesAndControlKeysTypeTheirCharacters) {
  input_start(true);
  for (int i = 0; i < 600; ++i) queue_character_byte(static_cast<std::uint8_t>(i & 0xFF));
  std::vector<int> got;
  for (int b; (b = next_character_byte()) >= 0;) got.push_back(b);
  ASSERT_EQ(got.size(), 511u);
  EXPECT_EQ(got.front(), (600 - 511) & 0xFF);
  EXPECT_EQ(got.back(), 599 & 0xFF);

  Event text;
  text.type = EventType::text_input;
  text.text = "a\xE3\x81\x82";  // "a" and hiragana A: 0x61, then 0x82 0xA0 in code page 932
  handle_input_event(text);
  key("Return", EventType::key_down);
  key("Return", EventType::key_down, true);  // held: the character repeats
  key("Backspace", EventType::key_down);
  got.clear();
  for (int b; (b = next_character_byte()) >= 0;) got.push_back(b);
  EXPECT_EQ(got, (std::vector<int>{0x61, 0x82, 0xA0, 0x0D, 0x0D, 0x08}));
}

TEST(InputAxes, ScaleAsTheTwoBackEndsDo) {
  struct Case {
    int position, expected;
  };
  // WinMM: range 0 ... 65535, half range 32767, d = 16383.
  for (const Case& c : {Case{0, -1000}, Case{65535, 1000}, Case{16384, 0}, Case{49150, 0}, Case{32767, 0},
                        Case{8192, -500}, Case{57342, 500}})
    EXPECT_EQ(winmm_axis(c.position, 0, 65535), c.expected) << c.position;
  EXPECT_EQ(winmm_axis(5, 5, 5), 0) << "an axis without travel reads 0";
  // DirectInput: -1000 ... 1000, half the travel either side of the centre reads 0.
  for (const Case& c : {Case{-32768, -1000}, Case{32767, 1000}, Case{16383, 0}, Case{-16383, 0}, Case{0, 0},
                        Case{24575, 500}, Case{-24575, -500}})
    EXPECT_EQ(direct_input_axis(c.position), c.expected) << c.position;
}

TEST(InputPointer, MapsThroughThePictureAreaInEveryPresentation) {
  struct Case {
    const char* what;
    platform::PictureArea area;
    int wx, wy;  // a window point
    int px, py;  // the screen-plane point
  };
  const Case cases[] = {
      {"one to one", {{0, 0, 640, 480}, 640, 480}, 100, 200, 100, 200},
      {"2x window", {{0, 0, 1280, 960}, 640, 480}, 201, 401, 100, 200},
      {"letterboxed full screen", {{0, 32, 1280, 960}, 640, 480}, 200, 432, 100, 200},
      {"centred without scaling", {{320, 272, 640, 480}, 640, 480}, 420, 472, 100, 200},
      {"left of the picture", {{320, 272, 640, 480}, 640, 480}, 310, 272, -10, 0},
      {"stretched to 3:2", {{0, 0, 960, 480}, 640, 480}, 151, 479, 100, 479},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Point p = window_to_picture(c.area, c.wx, c.wy);
    EXPECT_EQ(p.x, c.px);
    EXPECT_EQ(p.y, c.py);
    // Back to the window: the first window point that shows the screen-plane pixel.
    const Point w = picture_to_window(c.area, c.px, c.py);
    EXPECT_EQ(window_to_picture(c.area, w.x, w.y).x, c.px);
    EXPECT_EQ(window_to_picture(c.area, w.x, w.y).y, c.py);
  }
  // An area with no size (a minimised window) does not divide by zero.
  const Point p = window_to_picture(platform::PictureArea{{5, 5, 0, 0}, 640, 480}, 10, 10);
  EXPECT_EQ(p.x, 5);
}

TEST(InputReplay, EveryLineItWritesReadsBackAsTheSameEvent) {
  const std::string lines[] = {
      "0 key down Left",   "5 key repeat Left", "10 key up Left",         "20 text \"こんにちは abc \"",  "21 text \"say \\\"hi\\\" \\\\ \"",
      "30 mouse move 100 200", "40 mouse down left 100 200", "41 mouse double right -3 7",
      "42 mouse up x2 0 0", "50 wheel -240",    "60 pad 0 added",         "61 pad 0 axis x -32768",
      "62 pad 0 axis y 32767", "63 pad 0 button 31 down", "64 pad 0 button 0 up", "65 pad 0 hat 9",
      "66 pad 0 removed",  "70 focus lost",     "71 focus gained",        "80 close",
  };
  std::string text = "# a comment\n\n";
  for (const std::string& line : lines) text += line + "\r\n";
  std::vector<ReplayEvent> events;
  std::string error;
  ASSERT_TRUE(parse_replay(text, events, error)) << error;
  ASSERT_EQ(events.size(), std::size(lines));
  // Replayed controller events name a device; the recorder names it by its joystick number, so
  // the device must be known to the input state as it would be by then.
  input_start(true);
  for (std::size_t i = 0; i < events.size(); ++i) {
    const Event e = replayed_event(events[i]);
    EXPECT_EQ(replay_line(events[i].time_ms, e), lines[i]);
    handle_input_event(e);
  }
  shell::reset_engine_state();
}

TEST(InputReplay, AMalformedLineIsNamedWithItsNumber) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"10 key down Left\nabc key down A\n", "line 2: a line starts with its time in milliseconds, not 'abc'"},
      {"10 key down Nope\n", "line 1: no key is named 'Nope'"},
      {"10 key sideways A\n", "line 1: a key goes down, up or repeat, not 'sideways'"},
      {"100 close\n50 close\n", "line 2: the time goes back (50 after 100)"},
      {"10\n", "line 1: an event follows the time"},
      {"10 mouse down left 5\n", "line 1: expected: TIME mouse down BUTTON X Y"},
      {"10 mouse down thumb 1 2\n", "line 1: a mouse button is left, right, middle, x1 or x2, not 'thumb'"},
      {"10 wheel 0\n", "line 1: expected: TIME wheel AMOUNT (120 per notch, not 0)"},
      {"10 pad 0 axis z 5\n", "line 1: expected: TIME pad NUMBER axis x|y VALUE (-32768 ... 32767)"},
      {"10 pad 0 button 32 down\n", "line 1: expected: TIME pad NUMBER button 0...31 down|up"},
      {"10 text \xFF\xFE\n", "line 1: the text is not UTF-8"},
      {"10 text \"open\n", "line 1: the text's closing quote is missing"},
      {"10 text \"\"\n", "line 1: expected: TIME text \"SOME TEXT\""},
      {"# fine\n10 jump\n", "line 2: 'jump' is not an event (key, text, mouse, wheel, pad, focus, close)"},
  };
  for (const Case& c : cases) {
    std::vector<ReplayEvent> events;
    std::string error;
    EXPECT_FALSE(parse_replay(c.text, events, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(InputReplay, TextStandsQuotedOrAsTheRestOfTheLine) {
  std::vector<ReplayEvent> events;
  std::string error;
  ASSERT_TRUE(parse_replay("0 text plain words \n1 text \" \"\n", events, error)) << error;
  EXPECT_EQ(events[0].event.text, "plain words ");
  EXPECT_EQ(events[1].event.text, " ");
}

TEST(InputReplay, ReplayedKeysCarryTheModifiersTheReplayHolds) {
  std::vector<ReplayEvent> events;
  std::string error;
  ASSERT_TRUE(parse_replay("0 key down LAlt\n1 key down Return\n2 key up LAlt\n3 key down Return\n", events, error));
  EXPECT_TRUE(events[1].event.alt);
  EXPECT_EQ(events[1].event.virtual_key, 0x0D);
  EXPECT_FALSE(events[3].event.alt);
}

}  // namespace
}  // namespace talven::input
