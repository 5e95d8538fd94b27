#include "input/input_state.h"

#include <cstring>
#include <mutex>

#include "platform/devices.h"
#include "platform/key_table.h"
#include "platform/text_encoding.h"

namespace talven::input {
namespace {

constexpr std::uint8_t kDown = 0x80, kToggled = 0x01;
// Virtual-key codes the engine sets itself, beside those of the key table.
constexpr std::uint8_t kVkLeftButton = 0x01, kVkRightButton = 0x02, kVkMiddleButton = 0x04, kVkFourthButton = 0x05,
                       kVkFifthButton = 0x06, kVkCapsLock = 0x14, kVkNumLock = 0x90, kVkScrollLock = 0x91;

std::atomic<bool> g_direct_input{false};
std::atomic<bool> g_enabled{true};
MouseCounters g_mouse;

// Window thread only.
struct Keyboard {
  std::array<std::uint8_t, 256> scan_codes{};     // DirectInput numbering
  std::array<std::uint8_t, 256> virtual_keys{};   // virtual-key numbering, with the toggle bit
  // The virtual-key code each held key set when it went down (by key-table record), so that its
  // release clears the same entry when Num Lock changed meanwhile.
  std::array<std::uint8_t, 512> held_virtual_key{};
};
Keyboard g_keyboard;
std::int32_t g_motion_x = 0, g_motion_y = 0, g_motion_z = 0;
bool g_captured = false;
std::array<JoystickState, 4> g_joysticks;

std::mutex g_queue_mutex;
std::array<std::uint8_t, 512> g_queue{};
std::uint32_t g_queue_read = 0, g_queue_write = 0;

void press_virtual_key(std::uint8_t vk, bool repeat) {
  if (vk == 0) return;
  std::uint8_t& entry = g_keyboard.virtual_keys[vk];
  // The toggle bit changes with every press, as the window system keeps it for every key.
  entry = static_cast<std::uint8_t>(kDown | ((entry & kToggled) ^ (repeat ? 0 : kToggled)));
}

void release_virtual_key(std::uint8_t vk) {
  if (vk != 0) g_keyboard.virtual_keys[vk] &= kToggled;
}

// With Num Lock off the keypad's digits are the navigation keys they are printed with.
std::uint8_t keypad_virtual_key(std::uint8_t vk) {
  if ((g_keyboard.virtual_keys[kVkNumLock] & kToggled) != 0) return vk;
  static constexpr std::uint8_t kWithoutNumLock[10] = {0x2D, 0x23, 0x28, 0x22, 0x25, 0x0C, 0x27, 0x24, 0x26, 0x21};
  if (vk >= 0x60 && vk <= 0x69) return kWithoutNumLock[vk - 0x60];
  if (vk == 0x6E) return 0x2E;  // the keypad's point is Delete
  return vk;
}

// The generic Shift, Ctrl and Alt entries are down while either side is.
void update_generic_key(std::uint8_t side_vk, bool pressed, bool repeat) {
  const std::uint8_t generic = platform::generic_virtual_key(side_vk);
  if (generic == 0) return;
  if (pressed) {
    press_virtual_key(generic, repeat);
    return;
  }
  const std::uint8_t other = static_cast<std::uint8_t>(side_vk ^ 1);  // left and right codes are neighbours
  if ((g_keyboard.virtual_keys[other] & kDown) == 0) release_virtual_key(generic);
}

// The characters the window system makes of keys that type no text.
void queue_control_character(const platform::Event& e) {
  if (e.virtual_key == 0x0D || e.virtual_key == 0x08 || e.virtual_key == 0x09 || e.virtual_key == 0x1B) {
    queue_character_byte(static_cast<std::uint8_t>(e.virtual_key));
    return;
  }
  if (e.ctrl && !e.alt && e.virtual_key >= 'A' && e.virtual_key <= 'Z')
    queue_character_byte(static_cast<std::uint8_t>(e.virtual_key - 'A' + 1));
}

void key_event(const platform::Event& e) {
  if (e.key == nullptr) return;
  const platform::KeyRecord* record = e.key;
  const std::size_t index = static_cast<std::size_t>(record - platform::key_table().data());
  if (e.type == platform::EventType::key_down) {
    if (record->dik != 0) g_keyboard.scan_codes[record->dik] = kDown;
    const std::uint8_t vk = keypad_virtual_key(record->vk);
    if (index < g_keyboard.held_virtual_key.size()) g_keyboard.held_virtual_key[index] = vk;
    press_virtual_key(vk, e.repeat);
    update_generic_key(vk, true, e.repeat);
    queue_control_character(e);
  } else {
    if (record->dik != 0) g_keyboard.scan_codes[record->dik] = 0;
    std::uint8_t vk = record->vk;
    if (index < g_keyboard.held_virtual_key.size() && g_keyboard.held_virtual_key[index] != 0)
      vk = g_keyboard.held_virtual_key[index];
    if (index < g_keyboard.held_virtual_key.size()) g_keyboard.held_virtual_key[index] = 0;
    release_virtual_key(vk);
    update_generic_key(vk, false, false);
  }
}

int mouse_button_of(int event_button) {
  switch (event_button) {
    case 1: return kLeft;
    case 2: return kMiddle;
    case 3: return kRight;
    case 4: return kFourth;
    case 5: return kFifth;
    default: return -1;
  }
}

constexpr std::uint8_t kButtonVirtualKeys[5] = {kVkLeftButton, kVkRightButton, kVkMiddleButton, kVkFourthButton,
                                                kVkFifthButton};

void move_pointer(int x, int y) {
  g_mouse.pointer_x.store(x, std::memory_order_relaxed);
  g_mouse.pointer_y.store(y, std::memory_order_relaxed);
}

void mouse_button_event(const platform::Event& e) {
  const int button = mouse_button_of(e.button);
  if (button < 0) return;
  move_pointer(e.x, e.y);
  const std::uint32_t bit = 1u << button;
  if (e.type == platform::EventType::mouse_button_down) {
    g_mouse.held.fetch_or(bit, std::memory_order_relaxed);
    if (button <= kMiddle) {
      g_mouse.presses[button].fetch_add(1, std::memory_order_relaxed);
      if (e.clicks == 2) g_mouse.double_clicks[button].fetch_add(1, std::memory_order_relaxed);
    }
    press_virtual_key(kButtonVirtualKeys[button], false);
    // The window keeps the pointer while a button is held, so the release is seen even outside it.
    if (!g_captured) {
      platform::input_device().capture_mouse(true);
      g_captured = true;
    }
  } else {
    g_mouse.held.fetch_and(~bit, std::memory_order_relaxed);
    release_virtual_key(kButtonVirtualKeys[button]);
    if (g_captured && g_mouse.held.load(std::memory_order_relaxed) == 0) {
      platform::input_device().capture_mouse(false);
      g_captured = false;
    }
  }
}

void text_event(const platform::Event& e) {
  // Code page 932 text arrives as the lead byte and then the trail byte.
  for (char c : platform::utf8_to_cp932(e.text)) queue_character_byte(static_cast<std::uint8_t>(c));
}

JoystickState* joystick_of(int device) {
  for (JoystickState& j : g_joysticks)
    if (j.present && j.device == device) return &j;
  return nullptr;
}

void controller_event(const platform::Event& e) {
  using platform::EventType;
  if (e.type == EventType::controller_added) {
    if (joystick_of(e.device) != nullptr) return;
    // The first four count; a fifth waits until a slot is free and it arrives again.
    for (JoystickState& j : g_joysticks)
      if (!j.present) {
        j = JoystickState{};
        j.present = true;
        j.device = e.device;
        return;
      }
    return;
  }
  JoystickState* j = joystick_of(e.device);
  if (j == nullptr) return;
  switch (e.type) {
    case EventType::controller_removed: *j = JoystickState{}; break;
    case EventType::controller_axis:
      if (e.control == 0) j->x = e.value;
      if (e.control == 1) j->y = e.value;
      break;
    case EventType::controller_button_down:
      if (e.control >= 0 && e.control < 32) j->buttons |= 1u << e.control;
      break;
    case EventType::controller_button_up:
      if (e.control >= 0 && e.control < 32) j->buttons &= ~(1u << e.control);
      break;
    case EventType::controller_hat: j->hat = e.value & 15; break;
    default: break;
  }
}

void read_lock_keys() {
  const int locks = platform::input_device().lock_keys();
  auto set_toggle = [](std::uint8_t vk, bool on) {
    std::uint8_t& entry = g_keyboard.virtual_keys[vk];
    entry = static_cast<std::uint8_t>((entry & kDown) | (on ? kToggled : 0));
  };
  set_toggle(kVkCapsLock, (locks & 1) != 0);
  set_toggle(kVkNumLock, (locks & 2) != 0);
  set_toggle(kVkScrollLock, (locks & 4) != 0);
}

}  // namespace

MouseCounters& mouse() { return g_mouse; }
bool direct_input_numbering() { return g_direct_input.load(std::memory_order_relaxed); }

void set_input_enabled(bool enabled) { g_enabled.store(enabled); }
bool input_enabled() { return g_enabled.load(); }

void handle_input_event(const platform::Event& e) {
  using platform::EventType;
  switch (e.type) {
    case EventType::key_down:
    case EventType::key_up: key_event(e); break;
    case EventType::text_input: text_event(e); break;
    case EventType::mouse_move:
      move_pointer(e.x, e.y);
      g_motion_x += e.dx;
      g_motion_y += e.dy;
      break;
    case EventType::mouse_button_down:
    case EventType::mouse_button_up: mouse_button_event(e); break;
    case EventType::mouse_wheel:
      g_mouse.wheel.fetch_add(e.value, std::memory_order_relaxed);
      g_motion_z += e.value;
      break;
    case EventType::controller_added:
    case EventType::controller_removed:
    case EventType::controller_axis:
    case EventType::controller_button_down:
    case EventType::controller_button_up:
    case EventType::controller_hat: controller_event(e); break;
    default: break;
  }
}

void window_activated(bool active) {
  if (active) {
    read_lock_keys();
    // Devices are acquired again: motion counts from now.
    g_motion_x = g_motion_y = g_motion_z = 0;
    return;
  }
  for (std::uint8_t& entry : g_keyboard.virtual_keys) entry &= kToggled;
  g_keyboard.scan_codes.fill(0);
  g_keyboard.held_virtual_key.fill(0);
  g_mouse.held.store(0, std::memory_order_relaxed);
  if (g_captured) platform::input_device().capture_mouse(false);
  g_captured = false;
}

void copy_keyboard_table(std::uint8_t* out256) {
  const auto& table = direct_input_numbering() ? g_keyboard.scan_codes : g_keyboard.virtual_keys;
  std::memcpy(out256, table.data(), 256);
}

void take_mouse_motion(std::int32_t& dx, std::int32_t& dy, std::int32_t& dz) {
  dx = g_motion_x;
  dy = g_motion_y;
  dz = g_motion_z;
  g_motion_x = g_motion_y = g_motion_z = 0;
}

const JoystickState* joystick(int number) {
  if (number < 0 || number >= static_cast<int>(g_joysticks.size())) return nullptr;
  return g_joysticks[static_cast<std::size_t>(number)].present ? &g_joysticks[static_cast<std::size_t>(number)] : nullptr;
}

int joystick_number_of(int device, bool arriving) {
  for (std::size_t i = 0; i < g_joysticks.size(); ++i)
    if (g_joysticks[i].present && g_joysticks[i].device == device) return static_cast<int>(i);
  if (arriving)
    for (std::size_t i = 0; i < g_joysticks.size(); ++i)
      if (!g_joysticks[i].present) return static_cast<int>(i);
  return -1;
}

int direct_input_axis(int raw) {
  // Range -1000 ... 1000 and a dead zone of 5000 (half the travel either side of the centre
  // reads 0); beyond it the value grows evenly to the end of the travel.
  constexpr int kTravel = 32767, kDeadZone = kTravel / 2;
  int magnitude = raw < 0 ? -raw : raw;
  if (magnitude > kTravel) magnitude = kTravel;
  if (magnitude <= kDeadZone) return 0;
  const int value = (magnitude - kDeadZone) * 1000 / (kTravel - kDeadZone);
  return raw < 0 ? -value : value;
}

int winmm_axis(int position, int minimum, int maximum) {
  int half = (maximum - minimum) / 2;
  if (half < 1) half = 1;
  const int centre = minimum + half;
  const int d = half / 2;
  if (d == 0) return 0;
  if (position < centre - d) return static_cast<int>(static_cast<long long>(position - centre + d) * 1000 / d);
  if (position > centre + d) return static_cast<int>(static_cast<long long>(position - d - centre) * 1000 / d);
  return 0;
}

void queue_character_byte(std::uint8_t byte) {
  std::lock_guard lock(g_queue_mutex);
  g_queue[g_queue_write] = byte;
  g_queue_write = (g_queue_write + 1) % g_queue.size();
  // Full: the oldest byte goes, so the queue keeps the last 511.
  if (g_queue_write == g_queue_read) g_queue_read = (g_queue_read + 1) % g_queue.size();
}

void clear_character_queue() {
  std::lock_guard lock(g_queue_mutex);
  g_queue_read = g_queue_write = 0;
}

int next_character_byte() {
  std::lock_guard lock(g_queue_mutex);
  if (g_queue_read == g_queue_write) return -1;
  const std::uint8_t byte = g_queue[g_queue_read];
  g_queue_read = (g_queue_read + 1) % g_queue.size();
  return byte;
}

void reset_state(bool direct_input) {
  g_direct_input = direct_input;
  g_enabled = true;
  g_keyboard = Keyboard{};
  g_motion_x = g_motion_y = g_motion_z = 0;
  g_captured = false;
  g_joysticks = {};
  g_mouse.held = 0;
  for (auto& c : g_mouse.presses) c = 0;
  for (auto& c : g_mouse.double_clicks) c = 0;
  g_mouse.wheel = 0;
  g_mouse.pointer_x = 0;
  g_mouse.pointer_y = 0;
  clear_character_queue();
}

void start_keyboard() { read_lock_keys(); }

}  // namespace talven::input
