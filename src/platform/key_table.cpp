#include "platform/key_table.h"

#include <SDL.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace talven::platform {
namespace {

// DirectInput codes are the keyboard's set-1 scan codes, with 0x80 added for the E0-prefixed
// (extended) keys. Virtual-key codes are those of the US layout: an SDL scancode names a key's
// position, not its legend, so one fixed table serves every layout. On a Japanese layout Windows
// would give a few punctuation keys other virtual keys (the @ key, US "[", is VK_OEM_3 there);
// games that care about those read the DirectInput code, which does not depend on the layout.
constexpr KeyRecord kKeys[] = {
    {SDL_SCANCODE_A, "A", 0x1E, 'A'},
    {SDL_SCANCODE_B, "B", 0x30, 'B'},
    {SDL_SCANCODE_C, "C", 0x2E, 'C'},
    {SDL_SCANCODE_D, "D", 0x20, 'D'},
    {SDL_SCANCODE_E, "E", 0x12, 'E'},
    {SDL_SCANCODE_F, "F", 0x21, 'F'},
    {SDL_SCANCODE_G, "G", 0x22, 'G'},
    {SDL_SCANCODE_H, "H", 0x23, 'H'},
    {SDL_SCANCODE_I, "I", 0x17, 'I'},
    {SDL_SCANCODE_J, "J", 0x24, 'J'},
    {SDL_SCANCODE_K, "K", 0x25, 'K'},
    {SDL_SCANCODE_L, "L", 0x26, 'L'},
    {SDL_SCANCODE_M, "M", 0x32, 'M'},
    {SDL_SCANCODE_N, "N", 0x31, 'N'},
    {SDL_SCANCODE_O, "O", 0x18, 'O'},
    {SDL_SCANCODE_P, "P", 0x19, 'P'},
    {SDL_SCANCODE_Q, "Q", 0x10, 'Q'},
    {SDL_SCANCODE_R, "R", 0x13, 'R'},
    {SDL_SCANCODE_S, "S", 0x1F, 'S'},
    {SDL_SCANCODE_T, "T", 0x14, 'T'},
    {SDL_SCANCODE_U, "U", 0x16, 'U'},
    {SDL_SCANCODE_V, "V", 0x2F, 'V'},
    {SDL_SCANCODE_W, "W", 0x11, 'W'},
    {SDL_SCANCODE_X, "X", 0x2D, 'X'},
    {SDL_SCANCODE_Y, "Y", 0x15, 'Y'},
    {SDL_SCANCODE_Z, "Z", 0x2C, 'Z'},

    {SDL_SCANCODE_1, "1", 0x02, '1'},
    {SDL_SCANCODE_2, "2", 0x03, '2'},
    {SDL_SCANCODE_3, "3", 0x04, '3'},
    {SDL_SCANCODE_4, "4", 0x05, '4'},
    {SDL_SCANCODE_5, "5", 0x06, '5'},
    {SDL_SCANCODE_6, "6", 0x07, '6'},
    {SDL_SCANCODE_7, "7", 0x08, '7'},
    {SDL_SCANCODE_8, "8", 0x09, '8'},
    {SDL_SCANCODE_9, "9", 0x0A, '9'},
    {SDL_SCANCODE_0, "0", 0x0B, '0'},

    {SDL_SCANCODE_RETURN, "Return", 0x1C, 0x0D},
    {SDL_SCANCODE_ESCAPE, "Escape", 0x01, 0x1B},
    {SDL_SCANCODE_BACKSPACE, "Backspace", 0x0E, 0x08},
    {SDL_SCANCODE_TAB, "Tab", 0x0F, 0x09},
    {SDL_SCANCODE_SPACE, "Space", 0x39, 0x20},
    {SDL_SCANCODE_MINUS, "Minus", 0x0C, 0xBD},                // VK_OEM_MINUS
    {SDL_SCANCODE_EQUALS, "Equals", 0x0D, 0xBB},              // VK_OEM_PLUS
    {SDL_SCANCODE_LEFTBRACKET, "LeftBracket", 0x1A, 0xDB},    // VK_OEM_4
    {SDL_SCANCODE_RIGHTBRACKET, "RightBracket", 0x1B, 0xDD},  // VK_OEM_6
    {SDL_SCANCODE_BACKSLASH, "Backslash", 0x2B, 0xDC},        // VK_OEM_5
    // The ISO key left of Return sends the same scan code as the US backslash key.
    {SDL_SCANCODE_NONUSHASH, "NonUSHash", 0x2B, 0xDC},
    {SDL_SCANCODE_SEMICOLON, "Semicolon", 0x27, 0xBA},    // VK_OEM_1
    {SDL_SCANCODE_APOSTROPHE, "Apostrophe", 0x28, 0xDE},  // VK_OEM_7
    // On a Japanese keyboard under Linux the 半角/全角 key usually arrives here too: it is the
    // same physical key (scan code 0x29), so a game sees DIK_GRAVE and VK_OEM_3 for it, as it
    // would on Windows without an IME. Only a keyboard reporting LANG5 gives "Zenkaku" below.
    {SDL_SCANCODE_GRAVE, "Grave", 0x29, 0xC0},    // VK_OEM_3
    {SDL_SCANCODE_COMMA, "Comma", 0x33, 0xBC},    // VK_OEM_COMMA
    {SDL_SCANCODE_PERIOD, "Period", 0x34, 0xBE},  // VK_OEM_PERIOD
    {SDL_SCANCODE_SLASH, "Slash", 0x35, 0xBF},    // VK_OEM_2
    {SDL_SCANCODE_CAPSLOCK, "CapsLock", 0x3A, 0x14},

    // DirectInput numbers F1-F10, F11-F12 and F13-F15 in three separate runs, and has no F16-F24.
    {SDL_SCANCODE_F1, "F1", 0x3B, 0x70},
    {SDL_SCANCODE_F2, "F2", 0x3C, 0x71},
    {SDL_SCANCODE_F3, "F3", 0x3D, 0x72},
    {SDL_SCANCODE_F4, "F4", 0x3E, 0x73},
    {SDL_SCANCODE_F5, "F5", 0x3F, 0x74},
    {SDL_SCANCODE_F6, "F6", 0x40, 0x75},
    {SDL_SCANCODE_F7, "F7", 0x41, 0x76},
    {SDL_SCANCODE_F8, "F8", 0x42, 0x77},
    {SDL_SCANCODE_F9, "F9", 0x43, 0x78},
    {SDL_SCANCODE_F10, "F10", 0x44, 0x79},
    {SDL_SCANCODE_F11, "F11", 0x57, 0x7A},
    {SDL_SCANCODE_F12, "F12", 0x58, 0x7B},

    {SDL_SCANCODE_PRINTSCREEN, "PrintScreen", 0xB7, 0x2C},  // DIK_SYSRQ, VK_SNAPSHOT
    {SDL_SCANCODE_SCROLLLOCK, "ScrollLock", 0x46, 0x91},
    {SDL_SCANCODE_PAUSE, "Pause", 0xC5, 0x13},
    {SDL_SCANCODE_INSERT, "Insert", 0xD2, 0x2D},
    {SDL_SCANCODE_HOME, "Home", 0xC7, 0x24},
    {SDL_SCANCODE_PAGEUP, "PageUp", 0xC9, 0x21},  // DIK_PRIOR, VK_PRIOR
    {SDL_SCANCODE_DELETE, "Delete", 0xD3, 0x2E},
    {SDL_SCANCODE_END, "End", 0xCF, 0x23},
    {SDL_SCANCODE_PAGEDOWN, "PageDown", 0xD1, 0x22},  // DIK_NEXT, VK_NEXT
    {SDL_SCANCODE_RIGHT, "Right", 0xCD, 0x27},
    {SDL_SCANCODE_LEFT, "Left", 0xCB, 0x25},
    {SDL_SCANCODE_DOWN, "Down", 0xD0, 0x28},
    {SDL_SCANCODE_UP, "Up", 0xC8, 0x26},

    // The keypad keys keep their own codes whatever the Num Lock state: the engine, not the
    // table, decides whether a game sees KP7 or Home when Num Lock is off.
    {SDL_SCANCODE_NUMLOCKCLEAR, "NumLock", 0x45, 0x90},
    {SDL_SCANCODE_KP_DIVIDE, "KPDivide", 0xB5, 0x6F},
    {SDL_SCANCODE_KP_MULTIPLY, "KPMultiply", 0x37, 0x6A},
    {SDL_SCANCODE_KP_MINUS, "KPMinus", 0x4A, 0x6D},  // DIK_SUBTRACT, VK_SUBTRACT
    {SDL_SCANCODE_KP_PLUS, "KPPlus", 0x4E, 0x6B},    // DIK_ADD, VK_ADD
    // Windows has no virtual key of its own for the keypad Enter: it is VK_RETURN.
    {SDL_SCANCODE_KP_ENTER, "KPEnter", 0x9C, 0x0D},
    {SDL_SCANCODE_KP_1, "KP1", 0x4F, 0x61},
    {SDL_SCANCODE_KP_2, "KP2", 0x50, 0x62},
    {SDL_SCANCODE_KP_3, "KP3", 0x51, 0x63},
    {SDL_SCANCODE_KP_4, "KP4", 0x4B, 0x64},
    {SDL_SCANCODE_KP_5, "KP5", 0x4C, 0x65},
    {SDL_SCANCODE_KP_6, "KP6", 0x4D, 0x66},
    {SDL_SCANCODE_KP_7, "KP7", 0x47, 0x67},
    {SDL_SCANCODE_KP_8, "KP8", 0x48, 0x68},
    {SDL_SCANCODE_KP_9, "KP9", 0x49, 0x69},
    {SDL_SCANCODE_KP_0, "KP0", 0x52, 0x60},
    {SDL_SCANCODE_KP_PERIOD, "KPPeriod", 0x53, 0x6E},  // DIK_DECIMAL, VK_DECIMAL

    // The extra key of ISO keyboards, between the left Shift and Z.
    {SDL_SCANCODE_NONUSBACKSLASH, "NonUSBackslash", 0x56, 0xE2},  // DIK_OEM_102, VK_OEM_102
    {SDL_SCANCODE_APPLICATION, "Application", 0xDD, 0x5D},        // the menu key: DIK_APPS, VK_APPS
    {SDL_SCANCODE_POWER, "Power", 0xDE, 0x00},                    // DIK_POWER; Windows gives no key message
    // The keypad "=" of NEC keyboards: DIK_NUMPADEQUALS and VK_OEM_NEC_EQUAL.
    {SDL_SCANCODE_KP_EQUALS, "KPEquals", 0x8D, 0x92},

    {SDL_SCANCODE_F13, "F13", 0x64, 0x7C},
    {SDL_SCANCODE_F14, "F14", 0x65, 0x7D},
    {SDL_SCANCODE_F15, "F15", 0x66, 0x7E},
    {SDL_SCANCODE_F16, "F16", 0x00, 0x7F},
    {SDL_SCANCODE_F17, "F17", 0x00, 0x80},
    {SDL_SCANCODE_F18, "F18", 0x00, 0x81},
    {SDL_SCANCODE_F19, "F19", 0x00, 0x82},
    {SDL_SCANCODE_F20, "F20", 0x00, 0x83},
    {SDL_SCANCODE_F21, "F21", 0x00, 0x84},
    {SDL_SCANCODE_F22, "F22", 0x00, 0x85},
    {SDL_SCANCODE_F23, "F23", 0x00, 0x86},
    {SDL_SCANCODE_F24, "F24", 0x00, 0x87},

    {SDL_SCANCODE_MUTE, "Mute", 0xA0, 0xAD},              // DIK_MUTE, VK_VOLUME_MUTE
    {SDL_SCANCODE_VOLUMEUP, "VolumeUp", 0xB0, 0xAF},      // DIK_VOLUMEUP, VK_VOLUME_UP
    {SDL_SCANCODE_VOLUMEDOWN, "VolumeDown", 0xAE, 0xAE},  // DIK_VOLUMEDOWN, VK_VOLUME_DOWN
    // The keypad comma of NEC and Brazilian keyboards; VK_SEPARATOR is Windows' keypad separator.
    {SDL_SCANCODE_KP_COMMA, "KPComma", 0xB3, 0x6C},

    // Japanese 106/109 keys, as the USB usages SDL names them.
    {SDL_SCANCODE_INTERNATIONAL1, "Ro", 0x73, 0xE2},        // ろ and _: DIK_ABNT_C1 (same scan code), VK_OEM_102
    {SDL_SCANCODE_INTERNATIONAL2, "Kana", 0x70, 0x15},      // カタカナ/ひらがな: DIK_KANA, VK_KANA
    {SDL_SCANCODE_INTERNATIONAL3, "Yen", 0x7D, 0xDC},       // ¥ and |: DIK_YEN, VK_OEM_5
    {SDL_SCANCODE_INTERNATIONAL4, "Henkan", 0x79, 0x1C},    // 変換: DIK_CONVERT, VK_CONVERT
    {SDL_SCANCODE_INTERNATIONAL5, "Muhenkan", 0x7B, 0x1D},  // 無変換: DIK_NOCONVERT, VK_NONCONVERT
    // Korean keys. DirectInput has no code for them; Windows gives VK_HANGUL and VK_HANJA, which
    // share their numbers with VK_KANA and VK_KANJI.
    {SDL_SCANCODE_LANG1, "Hangul", 0x00, 0x15},
    {SDL_SCANCODE_LANG2, "Hanja", 0x00, 0x19},
    // Keyboards with separate katakana and hiragana keys are rare. DirectInput and the virtual
    // keys a Windows game tests know a single kana key, so both give DIK_KANA and VK_KANA rather
    // than the IME-only VK_DBE_KATAKANA / VK_DBE_HIRAGANA, which such games never look at.
    {SDL_SCANCODE_LANG3, "Katakana", 0x70, 0x15},
    {SDL_SCANCODE_LANG4, "Hiragana", 0x70, 0x15},
    {SDL_SCANCODE_LANG5, "Zenkaku", 0x94, 0x19},  // 半角/全角 when reported as its own key: DIK_KANJI, VK_KANJI

    {SDL_SCANCODE_LCTRL, "LCtrl", 0x1D, 0xA2},    // DIK_LCONTROL, VK_LCONTROL
    {SDL_SCANCODE_LSHIFT, "LShift", 0x2A, 0xA0},  // DIK_LSHIFT, VK_LSHIFT
    {SDL_SCANCODE_LALT, "LAlt", 0x38, 0xA4},      // DIK_LMENU, VK_LMENU
    {SDL_SCANCODE_LGUI, "LGui", 0xDB, 0x5B},      // DIK_LWIN, VK_LWIN
    {SDL_SCANCODE_RCTRL, "RCtrl", 0x9D, 0xA3},    // DIK_RCONTROL, VK_RCONTROL
    {SDL_SCANCODE_RSHIFT, "RShift", 0x36, 0xA1},  // DIK_RSHIFT, VK_RSHIFT
    {SDL_SCANCODE_RALT, "RAlt", 0xB8, 0xA5},      // DIK_RMENU, VK_RMENU
    {SDL_SCANCODE_RGUI, "RGui", 0xDC, 0x5C},      // DIK_RWIN, VK_RWIN

    // Media and browser keys. SDL has both a keyboard-page and a consumer-page mute; which one
    // arrives depends on the video driver, so both are here.
    {SDL_SCANCODE_AUDIONEXT, "AudioNext", 0x99, 0xB0},        // DIK_NEXTTRACK, VK_MEDIA_NEXT_TRACK
    {SDL_SCANCODE_AUDIOPREV, "AudioPrev", 0x90, 0xB1},        // DIK_PREVTRACK, VK_MEDIA_PREV_TRACK
    {SDL_SCANCODE_AUDIOSTOP, "AudioStop", 0xA4, 0xB2},        // DIK_MEDIASTOP, VK_MEDIA_STOP
    {SDL_SCANCODE_AUDIOPLAY, "AudioPlay", 0xA2, 0xB3},        // DIK_PLAYPAUSE, VK_MEDIA_PLAY_PAUSE
    {SDL_SCANCODE_AUDIOMUTE, "AudioMute", 0xA0, 0xAD},        // DIK_MUTE, VK_VOLUME_MUTE
    {SDL_SCANCODE_MEDIASELECT, "MediaSelect", 0xED, 0xB5},    // DIK_MEDIASELECT, VK_LAUNCH_MEDIA_SELECT
    {SDL_SCANCODE_MAIL, "Mail", 0xEC, 0xB4},                  // DIK_MAIL, VK_LAUNCH_MAIL
    {SDL_SCANCODE_CALCULATOR, "Calculator", 0xA1, 0xB7},      // DIK_CALCULATOR, VK_LAUNCH_APP2
    {SDL_SCANCODE_COMPUTER, "Computer", 0xEB, 0xB6},          // DIK_MYCOMPUTER, VK_LAUNCH_APP1
    {SDL_SCANCODE_AC_SEARCH, "WebSearch", 0xE5, 0xAA},        // DIK_WEBSEARCH, VK_BROWSER_SEARCH
    {SDL_SCANCODE_AC_HOME, "WebHome", 0xB2, 0xAC},            // DIK_WEBHOME, VK_BROWSER_HOME
    {SDL_SCANCODE_AC_BACK, "WebBack", 0xEA, 0xA6},            // DIK_WEBBACK, VK_BROWSER_BACK
    {SDL_SCANCODE_AC_FORWARD, "WebForward", 0xE9, 0xA7},      // DIK_WEBFORWARD, VK_BROWSER_FORWARD
    {SDL_SCANCODE_AC_STOP, "WebStop", 0xE8, 0xA9},            // DIK_WEBSTOP, VK_BROWSER_STOP
    {SDL_SCANCODE_AC_REFRESH, "WebRefresh", 0xE7, 0xA8},      // DIK_WEBREFRESH, VK_BROWSER_REFRESH
    {SDL_SCANCODE_AC_BOOKMARKS, "WebFavorites", 0xE6, 0xAB},  // DIK_WEBFAVORITES, VK_BROWSER_FAVORITES
    {SDL_SCANCODE_SLEEP, "Sleep", 0xDF, 0x5F},                // DIK_SLEEP, VK_SLEEP
};

// Scancode -> position in kKeys, -1 for none. Built once; a function-local static is initialised
// thread-safely, so any thread may ask first.
const std::array<std::int16_t, SDL_NUM_SCANCODES>& scancode_index() {
  static const auto index = [] {
    std::array<std::int16_t, SDL_NUM_SCANCODES> built;
    built.fill(-1);
    for (std::size_t i = 0; i < std::size(kKeys); ++i) built[kKeys[i].sdl_scancode] = static_cast<std::int16_t>(i);
    return built;
  }();
  return index;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

}  // namespace

std::span<const KeyRecord> key_table() { return kKeys; }

const KeyRecord* key_by_scancode(int sdl_scancode) {
  if (sdl_scancode < 0 || sdl_scancode >= SDL_NUM_SCANCODES) return nullptr;
  const int i = scancode_index()[sdl_scancode];
  return i < 0 ? nullptr : &kKeys[i];
}

// A plain walk: names are looked up while reading a replay file, never per frame, and the table
// holds under two hundred records.
const KeyRecord* key_by_name(std::string_view name) {
  for (const KeyRecord& key : kKeys)
    if (equal_ignoring_case(key.name, name)) return &key;
  return nullptr;
}

std::uint8_t generic_virtual_key(std::uint8_t vk) {
  switch (vk) {
    case 0xA0:  // VK_LSHIFT
    case 0xA1:  // VK_RSHIFT
      return 0x10;  // VK_SHIFT
    case 0xA2:  // VK_LCONTROL
    case 0xA3:  // VK_RCONTROL
      return 0x11;  // VK_CONTROL
    case 0xA4:  // VK_LMENU
    case 0xA5:  // VK_RMENU
      return 0x12;  // VK_MENU
    default:
      return 0;
  }
}

}  // namespace talven::platform
