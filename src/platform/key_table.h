// One fixed table of the keys of a PC keyboard (US and Japanese 106/109 layouts): for each SDL
// scancode, the DirectInput scan code and the Windows virtual-key code a game written for Windows
// expects, and the name an input-replay file writes the key as.
// Free of SDL on purpose: the input and replay code outside this folder includes it.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace talven::platform {

struct KeyRecord {
  int sdl_scancode;  // SDL_Scancode value (a USB HID usage id for the keys of a keyboard)
  const char* name;  // replay-file name: one token, no spaces, e.g. "A", "F1", "Left", "LShift", "KP7", "Zenkaku"
  std::uint8_t dik;  // DirectInput keyboard scan code (DIK_ numbering), 0 when the key has none
  std::uint8_t vk;   // Windows virtual-key code, 0 when none
};

// Every record, in scancode order. Names are unique ignoring case, and so are scancodes.
std::span<const KeyRecord> key_table();

// nullptr when the scancode is not in the table.
const KeyRecord* key_by_scancode(int sdl_scancode);

// Case-insensitive; nullptr when the name is unknown.
const KeyRecord* key_by_name(std::string_view name);

// The table keeps the left/right virtual key of a modifier (VK_LSHIFT, VK_RCONTROL, ...), but
// Windows also reports the generic VK_SHIFT / VK_CONTROL / VK_MENU (0x10 / 0x11 / 0x12) as down
// while either side is. This gives that generic code for a left/right one, and 0 for any other key.
std::uint8_t generic_virtual_key(std::uint8_t vk);

}  // namespace talven::platform
