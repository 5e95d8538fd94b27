// The debug output window's list and controls, without a display: what a line, a clear, a key
// and the mouse do to it, and what it draws.
#include "shell/debug_window.h"

#include <gtest/gtest.h>

#include <string>


namespace talven::shell {
namespace {

using Action = DebugOutputView::Action;

// Dark pixels in the list's text area.
int text_pixels(DebugOutputView& view) {
  const std::vector<std::uint32_t>& picture = view.picture();
  const platform::Rect r = DebugOutputView::kTextArea;
  int count = 0;
  for (int y = r.y; y < r.y + r.height; ++y)
    for (int x = r.x; x < r.x + r.width; ++x)
      if (picture[std::size_t(y) * DebugOutputView::kWidth + x] != 0xFFFFFFFFu) ++count;
  return count;
}

TEST(DebugOutputView, TheWidestLineSetsTheExtentAndTheNewestLineIsShown) {
  DebugOutputView view;
  const int rows = DebugOutputView::kTextArea.height / view.item_height();
  view.add_line("a line of some width");
  const int wide = view.widest();
  EXPECT_GT(wide, 0);
  EXPECT_EQ(view.horizontal_extent(), wide + 5);
  view.add_line("short");
  EXPECT_EQ(view.widest(), wide) << "a narrower line leaves the extent alone";
  EXPECT_EQ(view.top_index(), 0u) << "the scroll range has the last word while all lines fit";
  for (int i = 0; i < 3 * rows; ++i) view.add_line("line " + std::to_string(i) + " of a longer run of lines");
  EXPECT_GT(view.widest(), wide);
  EXPECT_EQ(view.horizontal_extent(), view.widest() + 5);
  EXPECT_EQ(view.top_index(), view.line_count() - rows) << "the newest line is the last visible one";
  EXPECT_GT(text_pixels(view), 0);

  EXPECT_EQ(view.wheel(1), Action::redraw);
  EXPECT_EQ(view.top_index(), view.line_count() - rows - 3);

  view.clear();
  EXPECT_EQ(view.line_count(), 0u);
  EXPECT_EQ(view.widest(), 0);
  EXPECT_EQ(view.horizontal_extent(), 0);
  EXPECT_EQ(view.top_index(), 0u);
  EXPECT_EQ(text_pixels(view), 0) << "an empty list is plain white";
}

TEST(DebugOutputView, AltKeysAndTheButtonsAskToClearAndToHide) {
  DebugOutputView view;
  EXPECT_EQ(view.key_down('C', true), Action::clear);
  EXPECT_EQ(view.key_down('X', true), Action::hide);
  EXPECT_EQ(view.key_down('C', false), Action::none);
  EXPECT_EQ(view.key_down(0x1B, false), Action::hide);

  const platform::Rect clear = DebugOutputView::kClearButton, close = DebugOutputView::kCloseButton;
  view.mouse_down(clear.x + 5, clear.y + 5);
  EXPECT_EQ(view.mouse_up(clear.x + 6, clear.y + 6), Action::clear);
  view.mouse_down(close.x + 5, close.y + 5);
  EXPECT_EQ(view.mouse_up(close.x + 5, close.y + 5), Action::hide);
  // Released away from the button, it does nothing.
  view.mouse_down(close.x + 5, close.y + 5);
  EXPECT_EQ(view.mouse_up(clear.x + 5, clear.y + 5), Action::redraw);
}

}  // namespace
}  // namespace talven::shell
