// The built-ins of this module, by table index: Keyboard, joysticks, mouse and the typed-character queue. None is built yet; the gate tells
// the user so when a script calls one.
#include "input/input.h"

namespace talven::input {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Input
    {152, "getkey", 1, 1, nullptr},
    {153, "getjoy", 2, 1, nullptr},
    {154, "getmouse", 1, 1, nullptr},
    {155, "getpoint", 1, 1, nullptr},
    {156, "cur_set", 1, 1, nullptr},
    {157, "cur_clip", 1, 1, nullptr},
    {158, "cur_setpos", 2, 1, nullptr},
    // Keyboard buffer
    {310, "key_init", 0, 1, nullptr},
    {311, "key_get", 0, 1, nullptr},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

}  // namespace talven::input
