// The key table against the published DirectInput (dinput.h DIK_) and virtual-key (winuser.h VK_)
// numbers, typed here afresh rather than taken from the table, so a slip in either shows up.
// Scancodes are SDL's numbers, which are the USB HID usage ids (SDL's headers stay out of tests).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <iterator>
#include <set>
#include <string>

#include "platform/key_table.h"

namespace talven::platform {
namespace {

struct Expected {
  const char* name;
  int scancode;
  int dik;
  int vk;
};

// Every record of the table, each with the numbers a Windows game would see for that key.
constexpr Expected kExpected[] = {
    // Letters: DIK_ codes follow the rows of the keyboard, virtual keys are the ASCII capitals.
    {"A", 4, 0x1E, 0x41}, {"B", 5, 0x30, 0x42}, {"C", 6, 0x2E, 0x43}, {"D", 7, 0x20, 0x44},
    {"E", 8, 0x12, 0x45}, {"F", 9, 0x21, 0x46}, {"G", 10, 0x22, 0x47}, {"H", 11, 0x23, 0x48},
    {"I", 12, 0x17, 0x49}, {"J", 13, 0x24, 0x4A}, {"K", 14, 0x25, 0x4B}, {"L", 15, 0x26, 0x4C},
    {"M", 16, 0x32, 0x4D}, {"N", 17, 0x31, 0x4E}, {"O", 18, 0x18, 0x4F}, {"P", 19, 0x19, 0x50},
    {"Q", 20, 0x10, 0x51}, {"R", 21, 0x13, 0x52}, {"S", 22, 0x1F, 0x53}, {"T", 23, 0x14, 0x54},
    {"U", 24, 0x16, 0x55}, {"V", 25, 0x2F, 0x56}, {"W", 26, 0x11, 0x57}, {"X", 27, 0x2D, 0x58},
    {"Y", 28, 0x15, 0x59}, {"Z", 29, 0x2C, 0x5A},
    // Top-row digits: DIK_1 0x02 ... DIK_0 0x0B.
    {"1", 30, 0x02, 0x31}, {"2", 31, 0x03, 0x32}, {"3", 32, 0x04, 0x33}, {"4", 33, 0x05, 0x34},
    {"5", 34, 0x06, 0x35}, {"6", 35, 0x07, 0x36}, {"7", 36, 0x08, 0x37}, {"8", 37, 0x09, 0x38},
    {"9", 38, 0x0A, 0x39}, {"0", 39, 0x0B, 0x30},
    // Main block.
    {"Return", 40, 0x1C, 0x0D}, {"Escape", 41, 0x01, 0x1B}, {"Backspace", 42, 0x0E, 0x08},
    {"Tab", 43, 0x0F, 0x09}, {"Space", 44, 0x39, 0x20}, {"Minus", 45, 0x0C, 0xBD},
    {"Equals", 46, 0x0D, 0xBB}, {"LeftBracket", 47, 0x1A, 0xDB}, {"RightBracket", 48, 0x1B, 0xDD},
    {"Backslash", 49, 0x2B, 0xDC}, {"NonUSHash", 50, 0x2B, 0xDC}, {"Semicolon", 51, 0x27, 0xBA},
    {"Apostrophe", 52, 0x28, 0xDE}, {"Grave", 53, 0x29, 0xC0}, {"Comma", 54, 0x33, 0xBC},
    {"Period", 55, 0x34, 0xBE}, {"Slash", 56, 0x35, 0xBF}, {"CapsLock", 57, 0x3A, 0x14},
    {"NonUSBackslash", 100, 0x56, 0xE2}, {"Application", 101, 0xDD, 0x5D},
    // Function keys: VK_F1 0x70 ... VK_F24 0x87; DirectInput stops at F15.
    {"F1", 58, 0x3B, 0x70}, {"F2", 59, 0x3C, 0x71}, {"F3", 60, 0x3D, 0x72}, {"F4", 61, 0x3E, 0x73},
    {"F5", 62, 0x3F, 0x74}, {"F6", 63, 0x40, 0x75}, {"F7", 64, 0x41, 0x76}, {"F8", 65, 0x42, 0x77},
    {"F9", 66, 0x43, 0x78}, {"F10", 67, 0x44, 0x79}, {"F11", 68, 0x57, 0x7A}, {"F12", 69, 0x58, 0x7B},
    {"F13", 104, 0x64, 0x7C}, {"F14", 105, 0x65, 0x7D}, {"F15", 106, 0x66, 0x7E},
    {"F16", 107, 0, 0x7F}, {"F17", 108, 0, 0x80}, {"F18", 109, 0, 0x81}, {"F19", 110, 0, 0x82},
    {"F20", 111, 0, 0x83}, {"F21", 112, 0, 0x84}, {"F22", 113, 0, 0x85}, {"F23", 114, 0, 0x86},
    {"F24", 115, 0, 0x87},
    // Navigation: the E0-prefixed keys, DIK_ 0x80 above their keypad twins.
    {"PrintScreen", 70, 0xB7, 0x2C}, {"ScrollLock", 71, 0x46, 0x91}, {"Pause", 72, 0xC5, 0x13},
    {"Insert", 73, 0xD2, 0x2D}, {"Home", 74, 0xC7, 0x24}, {"PageUp", 75, 0xC9, 0x21},
    {"Delete", 76, 0xD3, 0x2E}, {"End", 77, 0xCF, 0x23}, {"PageDown", 78, 0xD1, 0x22},
    {"Right", 79, 0xCD, 0x27}, {"Left", 80, 0xCB, 0x25}, {"Down", 81, 0xD0, 0x28}, {"Up", 82, 0xC8, 0x26},
    // Keypad.
    {"NumLock", 83, 0x45, 0x90}, {"KPDivide", 84, 0xB5, 0x6F}, {"KPMultiply", 85, 0x37, 0x6A},
    {"KPMinus", 86, 0x4A, 0x6D}, {"KPPlus", 87, 0x4E, 0x6B}, {"KPEnter", 88, 0x9C, 0x0D},
    {"KP1", 89, 0x4F, 0x61}, {"KP2", 90, 0x50, 0x62}, {"KP3", 91, 0x51, 0x63}, {"KP4", 92, 0x4B, 0x64},
    {"KP5", 93, 0x4C, 0x65}, {"KP6", 94, 0x4D, 0x66}, {"KP7", 95, 0x47, 0x67}, {"KP8", 96, 0x48, 0x68},
    {"KP9", 97, 0x49, 0x69}, {"KP0", 98, 0x52, 0x60}, {"KPPeriod", 99, 0x53, 0x6E},
    {"KPEquals", 103, 0x8D, 0x92}, {"KPComma", 133, 0xB3, 0x6C},
    // Modifiers: left/right DIK_ and VK_ codes.
    {"LCtrl", 224, 0x1D, 0xA2}, {"LShift", 225, 0x2A, 0xA0}, {"LAlt", 226, 0x38, 0xA4},
    {"LGui", 227, 0xDB, 0x5B}, {"RCtrl", 228, 0x9D, 0xA3}, {"RShift", 229, 0x36, 0xA1},
    {"RAlt", 230, 0xB8, 0xA5}, {"RGui", 231, 0xDC, 0x5C},
    // Japanese and Korean keys.
    {"Ro", 135, 0x73, 0xE2}, {"Kana", 136, 0x70, 0x15}, {"Yen", 137, 0x7D, 0xDC},
    {"Henkan", 138, 0x79, 0x1C}, {"Muhenkan", 139, 0x7B, 0x1D}, {"Hangul", 144, 0, 0x15},
    {"Hanja", 145, 0, 0x19}, {"Katakana", 146, 0x70, 0x15}, {"Hiragana", 147, 0x70, 0x15},
    {"Zenkaku", 148, 0x94, 0x19},
    // System, media and browser keys.
    {"Power", 102, 0xDE, 0}, {"Mute", 127, 0xA0, 0xAD}, {"VolumeUp", 128, 0xB0, 0xAF},
    {"VolumeDown", 129, 0xAE, 0xAE}, {"AudioNext", 258, 0x99, 0xB0}, {"AudioPrev", 259, 0x90, 0xB1},
    {"AudioStop", 260, 0xA4, 0xB2}, {"AudioPlay", 261, 0xA2, 0xB3}, {"AudioMute", 262, 0xA0, 0xAD},
    {"MediaSelect", 263, 0xED, 0xB5}, {"Mail", 265, 0xEC, 0xB4}, {"Calculator", 266, 0xA1, 0xB7},
    {"Computer", 267, 0xEB, 0xB6}, {"WebSearch", 268, 0xE5, 0xAA}, {"WebHome", 269, 0xB2, 0xAC},
    {"WebBack", 270, 0xEA, 0xA6}, {"WebForward", 271, 0xE9, 0xA7}, {"WebStop", 272, 0xE8, 0xA9},
    {"WebRefresh", 273, 0xE7, 0xA8}, {"WebFavorites", 274, 0xE6, 0xAB}, {"Sleep", 282, 0xDF, 0x5F},
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

TEST(KeyTable, EveryKeyHasThePublishedCodes) {
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    const KeyRecord* by_name = key_by_name(e.name);
    ASSERT_NE(by_name, nullptr);
    EXPECT_EQ(by_name, key_by_scancode(e.scancode));
    EXPECT_EQ(by_name->sdl_scancode, e.scancode);
    EXPECT_EQ(int{by_name->dik}, e.dik);
    EXPECT_EQ(int{by_name->vk}, e.vk);
  }
  // And nothing in the table goes unchecked.
  EXPECT_EQ(key_table().size(), std::size(kExpected));
}

TEST(KeyTable, NamesAreSingleTokensUniqueIgnoringCase) {
  std::set<std::string> seen;
  for (const KeyRecord& key : key_table()) {
    const std::string name = key.name;
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find_first_of(" \t"), std::string::npos) << name;
    EXPECT_TRUE(seen.insert(lower(name)).second) << "duplicate name " << name;
  }
}

TEST(KeyTable, ScancodesRiseStrictlySoNoTwoRecordsShareOne) {
  int previous = 0;  // SDL_SCANCODE_UNKNOWN, which no record may use
  for (const KeyRecord& key : key_table()) {
    EXPECT_GT(key.sdl_scancode, previous) << key.name;
    EXPECT_LT(key.sdl_scancode, 512) << key.name;  // SDL_NUM_SCANCODES
    previous = key.sdl_scancode;
  }
}

TEST(KeyTable, NameLookUpIgnoresCase) {
  for (const char* spelling : {"lshift", "LSHIFT", "lShIfT"}) EXPECT_EQ(key_by_name(spelling), key_by_name("LShift"));
  EXPECT_EQ(key_by_name("kp7"), key_by_scancode(95));
  EXPECT_EQ(key_by_name("zenkaku"), key_by_scancode(148));
}

TEST(KeyTable, UnknownKeysGiveNull) {
  for (const char* name : {"", "Shift", "LShift ", "F25", "KP", "Nope"}) EXPECT_EQ(key_by_name(name), nullptr) << name;
  // 0 is SDL_SCANCODE_UNKNOWN, 116 SDL_SCANCODE_EXECUTE (no PC key), 512 and up past SDL's range.
  for (int scancode : {-1, 0, 1, 116, 511, 512, 100000}) EXPECT_EQ(key_by_scancode(scancode), nullptr) << scancode;
}

TEST(KeyTable, GenericVirtualKeyOfTheSidedModifiers) {
  const struct {
    std::uint8_t vk, generic;
  } cases[] = {
      {0xA0, 0x10}, {0xA1, 0x10},  // VK_LSHIFT, VK_RSHIFT -> VK_SHIFT
      {0xA2, 0x11}, {0xA3, 0x11},  // VK_LCONTROL, VK_RCONTROL -> VK_CONTROL
      {0xA4, 0x12}, {0xA5, 0x12},  // VK_LMENU, VK_RMENU -> VK_MENU
      {0x5B, 0}, {0x5C, 0},        // the Windows keys have no generic code
      {0x10, 0}, {0x41, 0}, {0x00, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(generic_virtual_key(c.vk), c.generic) << int{c.vk};
}

}  // namespace
}  // namespace talven::platform
