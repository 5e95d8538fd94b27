// The debug output window: a tool window of the engine's own beside the game's window, made with
// it while DebugMode is nonzero and hidden until F8, listing the lines scripts print with log_out.
// Everything here runs on the window thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"

namespace talven::graphics {
class Font;
}

namespace talven::shell {

// The window's contents without the window: the list with its extent rule, the two buttons and the
// scroll bars, drawn into a picture of its own, and what a key or the mouse asks of the window.
class DebugOutputView {
 public:
  // The client area: the dialog's 198 x 130 dialog units at the 8-point dialog font (3/2 pixel
  // across, 13/8 down per unit).
  static constexpr int kWidth = 297, kHeight = 211;
  // Where the lines are drawn: the list box inside its border, less its scroll bars.
  static constexpr platform::Rect kTextArea{9, 9, 263, 140};
  static constexpr platform::Rect kClearButton{153, 176, 60, 24};
  static constexpr platform::Rect kCloseButton{225, 176, 60, 24};

  enum class Action { none, redraw, clear, hide };

  DebugOutputView();
  ~DebugOutputView();
  DebugOutputView(const DebugOutputView&) = delete;
  DebugOutputView& operator=(const DebugOutputView&) = delete;

  void add_line(std::string cp932);
  void clear();

  // F8 is the caller's: it also works in the game's window.
  Action key_down(int virtual_key, bool alt);
  // The left button; a button of the window acts when released over it.
  Action mouse_down(int x, int y);
  Action mouse_move(int x, int y);
  Action mouse_up(int x, int y);
  Action wheel(int steps);  // positive: away from the user, towards older lines

  // kWidth x kHeight texels of 0xAARRGGBB, drawn anew only after a change.
  const std::vector<std::uint32_t>& picture();

  std::size_t line_count() const { return lines_.size(); }
  int widest() const { return widest_; }
  int horizontal_extent() const { return extent_; }
  std::size_t top_index() const { return top_; }
  int horizontal_position() const { return left_; }
  int item_height() const { return item_height_; }

 private:
  enum class Zone { none, clear, close, line_up, line_down, page_up, page_down, vertical_thumb, column_left,
                    column_right, page_left, page_right, horizontal_thumb };
  struct Thumb {
    int start = 0, length = 0;
    bool shown = false;
  };

  std::size_t full_rows() const;
  std::size_t last_top() const;
  int last_left() const;
  void scroll_rows(long long rows);
  void scroll_pixels(int pixels);
  static Thumb thumb_on(int track, long long page, long long total, long long position);
  Thumb vertical_thumb() const;
  Thumb horizontal_thumb() const;
  Zone hit(int x, int y) const;
  Action press(Zone zone);
  void drag_to(int x, int y);

  void draw();
  void draw_text(std::string_view cp932, int x, int y, const platform::Rect& clip);
  void draw_button(const platform::Rect& r, const char* label, bool pressed);
  void draw_scroll_bars();

  std::unique_ptr<graphics::Font> font_;
  int item_height_ = 12;
  std::deque<std::string> lines_;
  int widest_ = 0, extent_ = 0;  // the widest line so far, and the horizontal extent it set
  std::size_t top_ = 0;          // the first visible line
  int left_ = 0;                 // the horizontal scroll position in pixels
  Zone pressed_ = Zone::none;
  bool pressed_inside_ = false;
  int drag_offset_ = 0;  // where in the thumb it was grabbed
  bool dirty_ = true;
  std::vector<std::uint32_t> picture_;
  std::vector<std::uint8_t> bits_;  // the 1-bit work image of text
};

// The window itself. Made only when the display can show one; without it the calls do nothing.
void open_debug_window();
void close_debug_window();
bool debug_window_open();
bool debug_window_shown();
// F8: shows the window when hidden, hides it when shown.
void toggle_debug_window();
// An event of the debug window (platform::Event::tool_window), other than a change of focus.
void debug_window_event(const platform::Event& event);

}  // namespace talven::shell
