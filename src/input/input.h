// Input: the keyboard, the mouse and the cursor, game controllers and typed characters.
// What the other modules and the shell may use of this module.
//
// The shell hands every input event of the frame window, real or replayed, to
// handle_input_event on the window thread; scripts read the state through the built-ins. The
// shell also says when input is enabled (the window is active and no close question is up).
#pragma once
#include "platform/window.h"
#include "vm/call_gate.h"

namespace talven::input {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

// Window thread, before any script runs. `direct_input` chooses the numbering of the keyboard
// table (scan codes, else virtual-key codes), relative mouse motion, and how joystick axes scale.
void input_start(bool direct_input);
// Window thread, after the script threads stopped: the pointer is let go.
void input_stop();
// Back to a fresh process's state (tests, between cases).
void reset_input_state();

// Window thread: one event of the frame window (keys, text, mouse, controllers).
void handle_input_event(const platform::Event& event);
// Window thread: the application became active or inactive. Keys and buttons held when it
// deactivates are let go (their releases go to another window); the lock keys are read again
// when it comes back.
void window_activated(bool active);

// The input-enabled flag: while it is false the reads report neutral values.
void set_input_enabled(bool enabled);
bool input_enabled();

// A point of the window (in window coordinates) in the screen plane's pixels, through the area
// that shows the picture, and back. Signed integer arithmetic, truncating, as the engine maps it.
struct Point {
  int x = 0, y = 0;
};
Point window_to_picture(const platform::PictureArea& area, int x, int y);
Point picture_to_window(const platform::PictureArea& area, int x, int y);

}  // namespace talven::input
