#include "shell/debug_window.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

#include "graphics/fonts.h"
#include "platform/devices.h"
#include "platform/text_encoding.h"
#include "shell/debug_output.h"
#include "vm/requests.h"

namespace talven::shell {
namespace {

using platform::Rect;
using Action = DebugOutputView::Action;

constexpr std::uint32_t kFace = 0xFFF0F0F0, kWhite = 0xFFFFFFFF, kBlack = 0xFF000000, kShadow = 0xFFA0A0A0,
                        kDarkShadow = 0xFF696969, kListBorder = 0xFF808080, kTrack = 0xFFE8E8E8, kThumb = 0xFFB8B8B8,
                        kArrow = 0xFF404040, kArrowDisabled = 0xFFB0B0B0;

// Windows virtual-key codes.
constexpr int kKeyEscape = 0x1B, kKeyPageUp = 0x21, kKeyPageDown = 0x22, kKeyEnd = 0x23, kKeyHome = 0x24,
              kKeyLeft = 0x25, kKeyUp = 0x26, kKeyRight = 0x27, kKeyDown = 0x28, kKeyF8 = 0x77;

constexpr int kBar = 16;                   // scroll bar thickness and arrow size
constexpr int kTextIndent = 2;             // the list draws its text this far in from its left edge
constexpr int kColumnStep = 8;             // pixels per click on a horizontal arrow
constexpr int kWheelRows = 3;              // rows per wheel step
constexpr int kMinimumThumb = 8;
// The dialog's layout in dialog units, converted as the client area is: the list box at (5, 5),
// 187 x 97 with a border and both scroll bars; the buttons at (102, 108) and (150, 108), 40 x 15.
constexpr Rect kList{8, 8, 281, 158};      // the list box with its border
constexpr Rect kVerticalBar{272, 9, kBar, 140};
constexpr Rect kHorizontalBar{9, 149, 263, kBar};

bool inside(const Rect& r, int x, int y) { return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height; }

// The list's font: MS PGothic at 9 points, 12 pixels at 96 dots per inch. Where that face is not
// installed a Japanese Gothic stands in for it.
std::unique_ptr<graphics::Font> list_font() {
  graphics::FontRecord record{};
  const char* face = platform::cp932("ＭＳ Ｐゴシック");
  std::strncpy(record.face, face, sizeof record.face - 1);
  record.size = 12;
  record.weight = 400;
  return graphics::Font::build(record, 1);
}

}  // namespace

DebugOutputView::DebugOutputView() : font_(list_font()), picture_(std::size_t(kWidth) * kHeight) {
  if (font_ != nullptr) item_height_ = std::max(1, font_->height());
}

DebugOutputView::~DebugOutputView() = default;

// ---- the list -------------------------------------------------------------------------------

std::size_t DebugOutputView::full_rows() const { return std::max(1, kTextArea.height / item_height_); }

std::size_t DebugOutputView::last_top() const {
  return lines_.size() > full_rows() ? lines_.size() - full_rows() : 0;
}

int DebugOutputView::last_left() const { return std::max(0, extent_ - kTextArea.width); }

void DebugOutputView::add_line(std::string cp932) {
  // The window holds no more than the kept lines; the oldest goes first.
  if (lines_.size() == kKeptDebugLines) {
    lines_.pop_front();
    if (top_ > 0) --top_;
  }
  const long long width = font_ != nullptr ? font_->extent(cp932).width : 0;
  if (width > widest_) {
    widest_ = static_cast<int>(std::min<long long>(width, 1 << 24));
    // The horizontal scroll range follows the widest line, with room for the list's own margin.
    extent_ = widest_ + 5;
  }
  lines_.push_back(std::move(cp932));
  // The newest line is asked to be the top one; as in any list the scroll range has the last
  // word, so once the list is full the newest line is the bottom one.
  top_ = std::min(lines_.size() - 1, last_top());
  dirty_ = true;
}

void DebugOutputView::clear() {
  lines_.clear();
  widest_ = extent_ = 0;
  top_ = 0;
  left_ = 0;
  dirty_ = true;
}

void DebugOutputView::scroll_rows(long long rows) {
  const long long top = std::clamp<long long>(static_cast<long long>(top_) + rows, 0, static_cast<long long>(last_top()));
  if (static_cast<std::size_t>(top) != top_) dirty_ = true;
  top_ = static_cast<std::size_t>(top);
}

void DebugOutputView::scroll_pixels(int pixels) {
  const int left = std::clamp(left_ + pixels, 0, last_left());
  if (left != left_) dirty_ = true;
  left_ = left;
}

// The thumb stands for `page` of `total` at `position`; without more than a page there is none.
DebugOutputView::Thumb DebugOutputView::thumb_on(int track, long long page, long long total, long long position) {
  if (total <= page || page <= 0) return {};
  const int length = std::clamp(static_cast<int>(track * page / total), kMinimumThumb, track);
  return {static_cast<int>((track - length) * position / (total - page)), length, true};
}

DebugOutputView::Thumb DebugOutputView::vertical_thumb() const {
  return thumb_on(kVerticalBar.height - 2 * kBar, static_cast<long long>(full_rows()),
                  static_cast<long long>(lines_.size()), static_cast<long long>(top_));
}

DebugOutputView::Thumb DebugOutputView::horizontal_thumb() const {
  return thumb_on(kHorizontalBar.width - 2 * kBar, kTextArea.width, extent_, left_);
}

// ---- input ----------------------------------------------------------------------------------

Action DebugOutputView::key_down(int virtual_key, bool alt) {
  const std::size_t top = top_;
  const int left = left_;
  const long long page = static_cast<long long>(full_rows());
  if (alt && virtual_key == 'C') return Action::clear;
  if (alt && virtual_key == 'X') return Action::hide;
  switch (virtual_key) {
    case kKeyEscape: return Action::hide;  // a dialog's cancel
    case kKeyUp: scroll_rows(-1); break;
    case kKeyDown: scroll_rows(1); break;
    case kKeyPageUp: scroll_rows(-page); break;
    case kKeyPageDown: scroll_rows(page); break;
    case kKeyHome: scroll_rows(-static_cast<long long>(lines_.size())); break;
    case kKeyEnd: scroll_rows(static_cast<long long>(lines_.size())); break;
    case kKeyLeft: scroll_pixels(-kColumnStep); break;
    case kKeyRight: scroll_pixels(kColumnStep); break;
    default: break;
  }
  return top != top_ || left != left_ ? Action::redraw : Action::none;
}

DebugOutputView::Zone DebugOutputView::hit(int x, int y) const {
  if (inside(kClearButton, x, y)) return Zone::clear;
  if (inside(kCloseButton, x, y)) return Zone::close;
  if (inside(kVerticalBar, x, y)) {
    const int along = y - kVerticalBar.y;
    if (along < kBar) return Zone::line_up;
    if (along >= kVerticalBar.height - kBar) return Zone::line_down;
    const Thumb t = vertical_thumb();
    if (!t.shown) return Zone::none;
    if (along - kBar < t.start) return Zone::page_up;
    if (along - kBar >= t.start + t.length) return Zone::page_down;
    return Zone::vertical_thumb;
  }
  if (inside(kHorizontalBar, x, y)) {
    const int along = x - kHorizontalBar.x;
    if (along < kBar) return Zone::column_left;
    if (along >= kHorizontalBar.width - kBar) return Zone::column_right;
    const Thumb t = horizontal_thumb();
    if (!t.shown) return Zone::none;
    if (along - kBar < t.start) return Zone::page_left;
    if (along - kBar >= t.start + t.length) return Zone::page_right;
    return Zone::horizontal_thumb;
  }
  return Zone::none;
}

Action DebugOutputView::press(Zone zone) {
  const long long page = static_cast<long long>(full_rows());
  switch (zone) {
    case Zone::line_up: scroll_rows(-1); break;
    case Zone::line_down: scroll_rows(1); break;
    case Zone::page_up: scroll_rows(-page); break;
    case Zone::page_down: scroll_rows(page); break;
    case Zone::column_left: scroll_pixels(-kColumnStep); break;
    case Zone::column_right: scroll_pixels(kColumnStep); break;
    case Zone::page_left: scroll_pixels(-kTextArea.width); break;
    case Zone::page_right: scroll_pixels(kTextArea.width); break;
    default: break;
  }
  return Action::redraw;
}

Action DebugOutputView::mouse_down(int x, int y) {
  const Zone zone = hit(x, y);
  pressed_ = zone;
  pressed_inside_ = true;
  if (zone == Zone::vertical_thumb) drag_offset_ = y - kVerticalBar.y - kBar - vertical_thumb().start;
  if (zone == Zone::horizontal_thumb) drag_offset_ = x - kHorizontalBar.x - kBar - horizontal_thumb().start;
  if (zone == Zone::none) return Action::none;
  dirty_ = true;
  return press(zone);
}

void DebugOutputView::drag_to(int x, int y) {
  if (pressed_ == Zone::vertical_thumb) {
    const Thumb t = vertical_thumb();
    const int room = kVerticalBar.height - 2 * kBar - t.length;
    if (!t.shown || room <= 0) return;
    const int at = std::clamp(y - kVerticalBar.y - kBar - drag_offset_, 0, room);
    const long long last = static_cast<long long>(last_top());
    scroll_rows((last * at + room / 2) / room - static_cast<long long>(top_));
  } else {
    const Thumb t = horizontal_thumb();
    const int room = kHorizontalBar.width - 2 * kBar - t.length;
    if (!t.shown || room <= 0) return;
    const int at = std::clamp(x - kHorizontalBar.x - kBar - drag_offset_, 0, room);
    scroll_pixels(static_cast<int>((static_cast<long long>(last_left()) * at + room / 2) / room) - left_);
  }
}

Action DebugOutputView::mouse_move(int x, int y) {
  if (pressed_ == Zone::vertical_thumb || pressed_ == Zone::horizontal_thumb) {
    const std::size_t top = top_;
    const int left = left_;
    drag_to(x, y);
    return top != top_ || left != left_ ? Action::redraw : Action::none;
  }
  if (pressed_ == Zone::clear || pressed_ == Zone::close) {
    const bool now_inside = hit(x, y) == pressed_;
    if (now_inside == pressed_inside_) return Action::none;
    pressed_inside_ = now_inside;
    dirty_ = true;
    return Action::redraw;
  }
  return Action::none;
}

Action DebugOutputView::mouse_up(int x, int y) {
  const Zone zone = pressed_;
  pressed_ = Zone::none;
  if (zone == Zone::none) return Action::none;
  dirty_ = true;
  if (zone == Zone::clear && hit(x, y) == Zone::clear) return Action::clear;
  if (zone == Zone::close && hit(x, y) == Zone::close) return Action::hide;
  return Action::redraw;
}

Action DebugOutputView::wheel(int steps) {
  const std::size_t top = top_;
  scroll_rows(-static_cast<long long>(steps) * kWheelRows);
  return top != top_ ? Action::redraw : Action::none;
}

// ---- drawing --------------------------------------------------------------------------------

namespace {

void fill(std::vector<std::uint32_t>& p, const Rect& r, std::uint32_t colour) {
  for (int y = std::max(0, r.y); y < std::min(DebugOutputView::kHeight, r.y + r.height); ++y)
    for (int x = std::max(0, r.x); x < std::min(DebugOutputView::kWidth, r.x + r.width); ++x)
      p[std::size_t(y) * DebugOutputView::kWidth + x] = colour;
}

void frame(std::vector<std::uint32_t>& p, const Rect& r, std::uint32_t top_left, std::uint32_t bottom_right) {
  fill(p, {r.x, r.y, r.width, 1}, top_left);
  fill(p, {r.x, r.y, 1, r.height}, top_left);
  fill(p, {r.x, r.y + r.height - 1, r.width, 1}, bottom_right);
  fill(p, {r.x + r.width - 1, r.y, 1, r.height}, bottom_right);
}

// A raised face, or a sunken one while pressed.
void raised(std::vector<std::uint32_t>& p, const Rect& r, bool pressed) {
  fill(p, r, kFace);
  if (pressed) {
    frame(p, r, kDarkShadow, kDarkShadow);
    return;
  }
  frame(p, r, kWhite, kDarkShadow);
  frame(p, {r.x + 1, r.y + 1, r.width - 2, r.height - 2}, kFace, kShadow);
}

enum class Direction { up, down, left, right };

// A small solid triangle in the middle of a 16-pixel arrow button.
void arrow(std::vector<std::uint32_t>& p, const Rect& r, Direction d, std::uint32_t colour) {
  const int cx = r.x + r.width / 2, cy = r.y + r.height / 2;
  for (int i = 0; i < 4; ++i) {
    switch (d) {
      case Direction::up: fill(p, {cx - i, cy - 2 + i, 2 * i + 1, 1}, colour); break;
      case Direction::down: fill(p, {cx - i, cy + 1 - i, 2 * i + 1, 1}, colour); break;
      case Direction::left: fill(p, {cx - 2 + i, cy - i, 1, 2 * i + 1}, colour); break;
      case Direction::right: fill(p, {cx + 1 - i, cy - i, 1, 2 * i + 1}, colour); break;
    }
  }
}

}  // namespace

// Text in black through the engine's own 1-bit glyphs, clipped to `clip`.
void DebugOutputView::draw_text(std::string_view cp932, int x, int y, const Rect& clip) {
  if (font_ == nullptr || clip.width <= 0 || clip.height <= 0) return;
  const std::size_t stride = std::size_t(clip.width + 7) / 8;
  bits_.assign(stride * std::size_t(clip.height), 0);
  font_->draw(cp932, x, y, clip.x, clip.y, clip.width, clip.height, bits_.data(), stride);
  for (int row = 0; row < clip.height; ++row) {
    const std::uint8_t* bits = bits_.data() + std::size_t(row) * stride;
    std::uint32_t* out = picture_.data() + std::size_t(clip.y + row) * kWidth + clip.x;
    for (int column = 0; column < clip.width; ++column)
      if (bits[column >> 3] & (0x80 >> (column & 7))) out[column] = kBlack;
  }
}

// The label's "&" marks the key that presses the button with Alt; that character is underlined.
void DebugOutputView::draw_button(const Rect& r, const char* label, bool pressed) {
  raised(picture_, r, pressed);
  const std::string_view text(label);
  const std::size_t mark = text.find('&');
  std::string shown(text);
  if (mark != std::string_view::npos) shown.erase(mark, 1);
  if (font_ == nullptr) return;
  const int offset = pressed ? 1 : 0;
  const int x = r.x + (r.width - static_cast<int>(font_->extent(shown).width)) / 2 + offset;
  const int y = r.y + (r.height - font_->height()) / 2 + offset;
  const Rect inner{r.x + 2, r.y + 2, r.width - 4, r.height - 4};
  draw_text(shown, x, y, inner);
  if (mark != std::string_view::npos && mark < shown.size()) {
    const int from = x + static_cast<int>(font_->extent(std::string_view(shown).substr(0, mark)).width);
    const int width = static_cast<int>(font_->extent(std::string_view(shown).substr(mark, 1)).width);
    fill(picture_, {from, y + font_->ascent() + 1, width, 1}, kBlack);
  }
}

void DebugOutputView::draw_scroll_bars() {
  const Thumb v = vertical_thumb(), h = horizontal_thumb();
  fill(picture_, kVerticalBar, kTrack);
  fill(picture_, kHorizontalBar, kTrack);
  fill(picture_, {kVerticalBar.x, kHorizontalBar.y, kBar, kBar}, kFace);  // the corner between them
  const Rect up{kVerticalBar.x, kVerticalBar.y, kBar, kBar};
  const Rect down{kVerticalBar.x, kVerticalBar.y + kVerticalBar.height - kBar, kBar, kBar};
  const Rect left{kHorizontalBar.x, kHorizontalBar.y, kBar, kBar};
  const Rect right{kHorizontalBar.x + kHorizontalBar.width - kBar, kHorizontalBar.y, kBar, kBar};
  raised(picture_, up, pressed_ == Zone::line_up);
  raised(picture_, down, pressed_ == Zone::line_down);
  raised(picture_, left, pressed_ == Zone::column_left);
  raised(picture_, right, pressed_ == Zone::column_right);
  arrow(picture_, up, Direction::up, v.shown ? kArrow : kArrowDisabled);
  arrow(picture_, down, Direction::down, v.shown ? kArrow : kArrowDisabled);
  arrow(picture_, left, Direction::left, h.shown ? kArrow : kArrowDisabled);
  arrow(picture_, right, Direction::right, h.shown ? kArrow : kArrowDisabled);
  // Flat thumbs, a shade darker than the track, so where the list stands reads at a glance.
  if (v.shown) fill(picture_, {kVerticalBar.x + 2, kVerticalBar.y + kBar + v.start + 1, kBar - 4, v.length - 2}, kThumb);
  if (h.shown) fill(picture_, {kHorizontalBar.x + kBar + h.start + 1, kHorizontalBar.y + 2, h.length - 2, kBar - 4}, kThumb);
}

void DebugOutputView::draw() {
  fill(picture_, {0, 0, kWidth, kHeight}, kFace);
  frame(picture_, kList, kListBorder, kListBorder);
  fill(picture_, kTextArea, kWhite);
  const int x = kTextArea.x + kTextIndent - left_;
  for (std::size_t i = top_, row = 0; i < lines_.size(); ++i, ++row) {
    const int y = kTextArea.y + static_cast<int>(row) * item_height_;
    if (y >= kTextArea.y + kTextArea.height) break;
    const Rect clip{kTextArea.x, y, kTextArea.width, std::min(item_height_, kTextArea.y + kTextArea.height - y)};
    draw_text(lines_[i], x, y, clip);
  }
  draw_scroll_bars();
  const bool pressed_here = pressed_inside_;
  draw_button(kClearButton, platform::cp932("クリア(&C)"), pressed_ == Zone::clear && pressed_here);
  draw_button(kCloseButton, platform::cp932("閉じる(&X)"), pressed_ == Zone::close && pressed_here);
}

const std::vector<std::uint32_t>& DebugOutputView::picture() {
  if (dirty_) draw();
  dirty_ = false;
  return picture_;
}

// ---- the window -----------------------------------------------------------------------------

namespace {

// Lines reach the window as a request: script threads print under the built-in lock, which the
// window thread never takes, so they only pass the news on. One request stands for any number of
// lines, so a script printing in a loop does not flood the queue.
constexpr std::uint32_t kDebugOutputRequest = vm::kUserMessage + 230;
std::atomic<bool> g_news_asked{false};

std::unique_ptr<DebugOutputView> g_view;
bool g_shown = false;

void present() {
  if (g_view == nullptr || !g_shown) return;
  const std::vector<std::uint32_t>& picture = g_view->picture();
  platform::display().present_tool_texels(picture.data(), DebugOutputView::kWidth, DebugOutputView::kHeight);
}

void take_news() {
  DebugOutputNews news = take_debug_output_news();
  if (news.cleared) g_view->clear();
  for (std::string& line : news.lines) g_view->add_line(std::move(line));
  if (news.cleared || !news.lines.empty()) present();
}

void ask_for_news() {
  if (!g_news_asked.exchange(true)) vm::post_request(kDebugOutputRequest, 0, 0);
}

std::uint32_t serve_news(std::uint32_t, std::uint32_t) {
  g_news_asked = false;  // before taking, so a line added meanwhile asks again
  if (g_view != nullptr) take_news();
  return 1;
}

void show(bool shown) {
  if (g_view == nullptr || shown == g_shown) return;
  g_shown = shown;
  platform::display().show_tool_window(shown);
  present();
}

void carry_out(Action action) {
  switch (action) {
    case Action::none: break;
    case Action::redraw: present(); break;
    // Through the kept lines, so that they and the list agree and the list empties in order with
    // the lines already on their way to it.
    case Action::clear:
      debug_output_clear();
      take_news();
      break;
    case Action::hide: show(false); break;
  }
}

// Beside the game's window where the desktop has room, so that neither covers the other.
Rect placement() {
  platform::Display& display = platform::display();
  const Rect game = display.window_client_bounds(), desktop = display.desktop_bounds();
  constexpr int kGap = 16;  // room for the window frames between them
  int x = game.x + game.width + kGap;
  if (x + DebugOutputView::kWidth > desktop.x + desktop.width) x = game.x - kGap - DebugOutputView::kWidth;
  if (x < desktop.x) x = desktop.x + std::max(0, desktop.width - DebugOutputView::kWidth);
  return {x, std::max(desktop.y, game.y), DebugOutputView::kWidth, DebugOutputView::kHeight};
}

}  // namespace

void open_debug_window() {
  if (g_view != nullptr) return;
  if (!platform::display().create_tool_window("Debug Output", placement())) return;
  g_view = std::make_unique<DebugOutputView>();
  g_shown = false;
  g_news_asked = false;
  vm::set_request_handler(kDebugOutputRequest, serve_news);
  set_debug_output_listener(ask_for_news);
}

void close_debug_window() {
  if (g_view == nullptr) return;
  set_debug_output_listener(nullptr);
  vm::set_request_handler(kDebugOutputRequest, nullptr);
  platform::display().destroy_tool_window();
  g_view.reset();
  g_shown = false;
}

bool debug_window_open() { return g_view != nullptr; }
bool debug_window_shown() { return g_shown; }

void toggle_debug_window() { show(!g_shown); }

void debug_window_event(const platform::Event& e) {
  if (g_view == nullptr) return;
  using platform::EventType;
  switch (e.type) {
    // The close box hides the window; it lives as long as the game.
    case EventType::close_requested: show(false); break;
    case EventType::exposed: present(); break;
    case EventType::key_down:
      if (e.virtual_key == kKeyF8) {
        if (!e.repeat) toggle_debug_window();
      } else {
        carry_out(g_view->key_down(e.virtual_key, e.alt));
      }
      break;
    case EventType::mouse_button_down:
      if (e.button == 1) carry_out(g_view->mouse_down(e.x, e.y));
      break;
    case EventType::mouse_button_up:
      if (e.button == 1) carry_out(g_view->mouse_up(e.x, e.y));
      break;
    case EventType::mouse_move: carry_out(g_view->mouse_move(e.x, e.y)); break;
    case EventType::mouse_wheel: carry_out(g_view->wheel(e.y)); break;
    default: break;
  }
}

}  // namespace talven::shell
