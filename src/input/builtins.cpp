// The built-ins of this module, by table index: keyboard, joysticks, mouse, the cursor and the
// typed-character queue.
//
// getkey, getjoy and getmouse are marshalled to the window thread, which owns the device state;
// it fills a staging record and the calling script thread copies that into script memory, so
// the window thread never writes a script's buffer. getpoint, the cursor built-ins and the queue
// work on the calling thread.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include "input/input.h"
#include "input/input_state.h"
#include "platform/devices.h"
#include "vm/requests.h"
#include "vm/script_memory.h"
#include "vm/script_threads.h"

namespace talven::input {

namespace {

// The window messages of the marshalled reads, and the window thread's cursor requests.
constexpr std::uint32_t kGetKeyRequest = vm::kUserMessage + 190;    // 1214
constexpr std::uint32_t kGetJoyRequest = vm::kUserMessage + 191;    // 1215
constexpr std::uint32_t kGetMouseRequest = vm::kUserMessage + 192;  // 1216
constexpr std::uint32_t kSetCursorRequest = 0x0020;                 // WM_SETCURSOR
constexpr std::uint32_t kConfineRequest = vm::kUserMessage + 232;
constexpr std::uint32_t kWarpRequest = vm::kUserMessage + 233;

// The records the window thread fills for the marshalled reads. One read runs at a time: the
// caller holds the built-in lock while it waits.
std::uint8_t g_key_record[256];
std::int32_t g_joy_record[3];
std::int32_t g_mouse_record[4];

std::uint32_t serve_getkey(std::uint32_t, std::uint32_t) {
  copy_keyboard_table(g_key_record);
  return 1;
}

std::uint32_t serve_getjoy(std::uint32_t number, std::uint32_t) {
  const JoystickState* j = joystick(static_cast<std::int32_t>(number));
  if (j == nullptr) return 0;
  int x = 0, y = 0;
  if (direct_input_numbering()) {
    x = direct_input_axis(j->x);
    y = direct_input_axis(j->y);
  } else {
    x = winmm_axis(j->x + 32768, 0, 65535);
    y = winmm_axis(j->y + 32768, 0, 65535);
  }
  // A d-pad or hat pushes the axes to their ends, as it moves a player on the original's pads.
  if (j->hat & 8) x = -1000;
  if (j->hat & 2) x = 1000;
  if (j->hat & 1) y = -1000;
  if (j->hat & 4) y = 1000;
  g_joy_record[0] = x;
  g_joy_record[1] = y;
  g_joy_record[2] = static_cast<std::int32_t>(j->buttons);
  return 1;
}

std::uint32_t serve_getmouse(std::uint32_t, std::uint32_t) {
  const std::uint32_t held = mouse().held.load(std::memory_order_relaxed);
  if (direct_input_numbering()) {
    take_mouse_motion(g_mouse_record[0], g_mouse_record[1], g_mouse_record[2]);
    g_mouse_record[3] = static_cast<std::int32_t>(held & 0xF);
  } else {
    g_mouse_record[0] = g_mouse_record[1] = g_mouse_record[2] = 0;
    g_mouse_record[3] = static_cast<std::int32_t>(held & 0x7);
  }
  return 1;
}

// The cursor the scripts asked for (the arrow at start), shown by the window thread.
std::atomic<bool> g_cursor_shown{true};
std::uint32_t serve_set_cursor(std::uint32_t, std::uint32_t) {
  platform::input_device().show_cursor(g_cursor_shown.load());
  return 1;
}

// The confinement the scripts asked for, in window coordinates; nothing: free.
std::mutex g_confine_mutex;
std::optional<platform::Rect> g_confine;
std::uint32_t serve_confine(std::uint32_t, std::uint32_t) {
  std::optional<platform::Rect> area;
  {
    std::lock_guard lock(g_confine_mutex);
    area = g_confine;
  }
  platform::input_device().confine_cursor(area ? &*area : nullptr);
  return 1;
}

std::uint32_t serve_warp(std::uint32_t x, std::uint32_t y) {
  platform::input_device().warp_cursor(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
  return 1;
}

// A marshalled read: the record is copied out when the window thread answered and input is
// enabled, the caller's buffer cleared otherwise.
std::uint32_t marshalled_read(vm::Address buffer, std::uint32_t size, std::uint32_t message, std::uint32_t wparam,
                              const void* record) {
  std::uint8_t* out = vm::checked_pointer(buffer, size);
  if (out == nullptr) return 0;
  if (input_enabled() && vm::send_request(message, wparam, size) != 0) {
    std::memcpy(out, record, size);
    return 1;
  }
  std::memset(out, 0, size);
  return 0;
}

std::uint32_t bi_getkey(vm::Address a) {
  return marshalled_read(vm::argument_word(a, 0), 256, kGetKeyRequest, 0, g_key_record);
}

std::uint32_t bi_getjoy(vm::Address a) {
  const std::int32_t number = vm::argument_int(a, 0);
  const vm::Address buffer = vm::argument_word(a, 1);
  // Numbers outside 0 ... 3 never reach the window thread.
  if (number < 0 || number > 3) {
    std::uint8_t* out = vm::checked_pointer(buffer, 12);
    if (out) std::memset(out, 0, 12);
    return 0;
  }
  return marshalled_read(buffer, 12, kGetJoyRequest, static_cast<std::uint32_t>(number), g_joy_record);
}

std::uint32_t bi_getmouse(vm::Address a) {
  return marshalled_read(vm::argument_word(a, 0), 16, kGetMouseRequest, 0, g_mouse_record);
}

// What each script thread slot saw at its previous getpoint: the press and double-click counters
// of left, right and middle, and the wheel accumulator.
struct LastSeen {
  std::uint32_t presses[3] = {};
  std::uint32_t double_clicks[3] = {};
  std::int32_t wheel = 0;
};
LastSeen g_last_seen[vm::kThreadSlots];

std::uint32_t bi_getpoint(vm::Address a) {
  const vm::Address buffer = vm::argument_word(a, 0);
  vm::ScriptContext* context = vm::current_context();
  const std::uint32_t slot = context ? context->slot : 0;
  LastSeen& seen = g_last_seen[slot < vm::kThreadSlots ? slot : 0];
  MouseCounters& m = mouse();
  LastSeen now;
  for (int b = 0; b < 3; ++b) {
    now.presses[b] = m.presses[b].load(std::memory_order_relaxed);
    now.double_clicks[b] = m.double_clicks[b].load(std::memory_order_relaxed);
  }
  now.wheel = m.wheel.load(std::memory_order_relaxed);
  if (buffer != 0) {
    std::uint8_t* out = vm::checked_pointer(buffer, 16);
    // A buffer that cannot be written has not shown this thread anything: what it has not seen
    // stays to be seen.
    if (out == nullptr) return 0;
    std::int32_t record[4] = {-1, -1, 0, 0};
    if (input_enabled()) {
      const Point p = window_to_picture(platform::display().picture_area(), m.pointer_x.load(std::memory_order_relaxed),
                                        m.pointer_y.load(std::memory_order_relaxed));
      std::uint32_t flags = m.held.load(std::memory_order_relaxed) & 0x7;
      for (int b = 0; b < 3; ++b) {
        if (now.presses[b] != seen.presses[b]) flags |= 0x10000u << b;
        if (now.double_clicks[b] != seen.double_clicks[b]) flags |= 0x1000000u << b;
      }
      record[0] = p.x;
      record[1] = p.y;
      record[2] = static_cast<std::int32_t>(static_cast<std::uint32_t>(now.wheel) - static_cast<std::uint32_t>(seen.wheel));
      record[3] = static_cast<std::int32_t>(flags);
    }
    std::memcpy(out, record, sizeof record);
  }
  seen = now;
  return 1;
}

std::uint32_t bi_cur_set(vm::Address a) {
  const std::int32_t which = vm::argument_int(a, 0);
  if (which != 0 && which != 1) return 0;
  g_cursor_shown = which == 1;
  vm::post_request(kSetCursorRequest, 0, 0);
  return 1;
}

std::uint32_t bi_cur_clip(vm::Address a) {
  const vm::Address rect_address = vm::argument_word(a, 0);
  const platform::PictureArea area = platform::display().picture_area();
  std::optional<platform::Rect> confine;
  if (rect_address != 0) {
    std::int32_t r[4];
    if (!vm::load(rect_address, r)) return 0;
    // Only the part on the screen plane counts; nothing of it lets the pointer go.
    const std::int32_t left = std::max(r[0], 0), top = std::max(r[1], 0);
    const std::int32_t right = std::min(r[2], area.picture_width), bottom = std::min(r[3], area.picture_height);
    if (left < right && top < bottom) {
      const Point a0 = picture_to_window(area, left, top), a1 = picture_to_window(area, right, bottom);
      confine = platform::Rect{a0.x, a0.y, std::max(a1.x - a0.x, 1), std::max(a1.y - a0.y, 1)};
    }
  }
  {
    std::lock_guard lock(g_confine_mutex);
    g_confine = confine;
  }
  vm::post_request(kConfineRequest, 0, 0);
  return 1;
}

std::uint32_t bi_cur_setpos(vm::Address a) {
  const Point p = picture_to_window(platform::display().picture_area(), vm::argument_int(a, 0), vm::argument_int(a, 1));
  // The position is the new one at once, as the window system's own is; the window thread moves
  // the pointer on the screen.
  mouse().pointer_x.store(p.x, std::memory_order_relaxed);
  mouse().pointer_y.store(p.y, std::memory_order_relaxed);
  vm::post_request(kWarpRequest, static_cast<std::uint32_t>(p.x), static_cast<std::uint32_t>(p.y));
  return 1;
}

std::uint32_t bi_key_init(vm::Address) {
  clear_character_queue();
  return 1;
}

std::uint32_t bi_key_get(vm::Address) {
  const int byte = next_character_byte();
  if (byte < 0) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(byte)));
}

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Input
    {152, "getkey", 1, 1, bi_getkey},
    {153, "getjoy", 2, 1, bi_getjoy},
    {154, "getmouse", 1, 1, bi_getmouse},
    {155, "getpoint", 1, 1, bi_getpoint},
    {156, "cur_set", 1, 1, bi_cur_set},
    {157, "cur_clip", 1, 1, bi_cur_clip},
    {158, "cur_setpos", 2, 1, bi_cur_setpos},
    // Keyboard buffer
    {310, "key_init", 0, 1, bi_key_init},
    {311, "key_get", 0, 1, bi_key_get},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

Point window_to_picture(const platform::PictureArea& area, int x, int y) {
  const int cx = x - area.area.x, cy = y - area.area.y;
  if (area.area.width <= 0 || area.area.height <= 0) return Point{cx, cy};
  return Point{static_cast<int>(static_cast<long long>(cx) * area.picture_width / area.area.width),
               static_cast<int>(static_cast<long long>(cy) * area.picture_height / area.area.height)};
}

Point picture_to_window(const platform::PictureArea& area, int x, int y) {
  if (area.picture_width <= 0 || area.picture_height <= 0) return Point{x + area.area.x, y + area.area.y};
  return Point{static_cast<int>(static_cast<long long>(area.area.width) * x / area.picture_width) + area.area.x,
               static_cast<int>(static_cast<long long>(area.area.height) * y / area.picture_height) + area.area.y};
}

namespace {
// What the built-ins of this file keep for scripts, as a fresh process has it.
void forget_script_state() {
  for (auto& seen : g_last_seen) seen = LastSeen{};
  g_cursor_shown = true;
  std::lock_guard lock(g_confine_mutex);
  g_confine.reset();
}
}  // namespace

void input_start(bool direct_input) {
  reset_state(direct_input);
  start_keyboard();
  forget_script_state();
  vm::set_request_handler(kGetKeyRequest, serve_getkey);
  vm::set_request_handler(kGetJoyRequest, serve_getjoy);
  vm::set_request_handler(kGetMouseRequest, serve_getmouse);
  vm::set_request_handler(kSetCursorRequest, serve_set_cursor);
  vm::set_request_handler(kConfineRequest, serve_confine);
  vm::set_request_handler(kWarpRequest, serve_warp);
}

void input_stop() {
  platform::input_device().confine_cursor(nullptr);
  platform::input_device().capture_mouse(false);
  platform::input_device().show_cursor(true);
}

void reset_input_state() {
  reset_state(false);
  forget_script_state();
}

}  // namespace talven::input
