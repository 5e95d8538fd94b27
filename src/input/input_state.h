// The input state the window thread keeps from events and the built-ins read. Inside the module.
//
// Who may touch what:
// - the keyboard tables, the relative mouse motion and the joystick slots: the window thread only
//   (events arrive there, and getkey, getmouse and getjoy are marshalled to it);
// - the mouse counters, the pointer position and the enabled flag: written by the window thread,
//   read by script threads (single words);
// - the per-thread last-seen table: each entry by its own script thread slot only;
// - the character queue: written by the window thread, read by key_get, under its own lock.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "input/input.h"

namespace talven::input {

// The numbers of the mouse buttons as the counters keep them.
enum MouseButton { kLeft = 0, kRight = 1, kMiddle = 2, kFourth = 3, kFifth = 4 };

struct MouseCounters {
  std::atomic<std::uint32_t> held{0};  // bit b: button b held (MouseButton numbering)
  std::atomic<std::uint32_t> presses[3]{};
  std::atomic<std::uint32_t> double_clicks[3]{};
  std::atomic<std::int32_t> wheel{0};  // 120 per notch, positive away from the user
  std::atomic<std::int32_t> pointer_x{0}, pointer_y{0};  // window coordinates
};
MouseCounters& mouse();

bool direct_input_numbering();

// Window thread.
void copy_keyboard_table(std::uint8_t* out256);
// dx, dy, dz since the previous call, then cleared.
void take_mouse_motion(std::int32_t& dx, std::int32_t& dy, std::int32_t& dz);

struct JoystickState {
  bool present = false;
  int device = 0;
  int x = 0, y = 0;  // -32768 ... 32767
  std::uint32_t buttons = 0;
  int hat = 0;  // up 1, right 2, down 4, left 8
};
// Nullptr when slot `number` holds no device (or the number is not 0 ... 3).
const JoystickState* joystick(int number);
// The joystick number a device has, or would get if it arrived now; -1 when none is free.
int joystick_number_of(int device, bool arriving);

// Axis values as games read them: DirectInput's -1000 ... 1000 with a dead zone of half the
// travel, or the WinMM calibration formula on 0 ... 65535.
int direct_input_axis(int raw);
int winmm_axis(int position, int minimum, int maximum);

// The typed-character queue.
void queue_character_byte(std::uint8_t byte);
void clear_character_queue();
// The next byte, or -1 when the queue is empty.
int next_character_byte();

void reset_state(bool direct_input);
// Window thread, at start: the lock keys as the keyboard has them now.
void start_keyboard();

}  // namespace talven::input
