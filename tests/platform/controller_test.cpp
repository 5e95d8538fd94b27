// Controllers as the SDL display reports them, from SDL's own virtual devices: a controller with a
// mapping and a plain joystick plugged in while the display runs, moved, pressed and pulled out.
// SDL's dummy video driver stands in for a display server; everything below it is the real SDL.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "platform/devices.h"

namespace talven::platform {
namespace {

class SdlControllers : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (!open_sdl_display()) GTEST_SKIP() << "SDL's dummy video driver is not available";
  }
  void TearDown() override {
    close_sdl_display();
    unsetenv("SDL_VIDEODRIVER");
  }
  // The events the display reports within a short while.
  static std::vector<Event> events() {
    std::vector<Event> got;
    Event e;
    for (int i = 0; i < 20; ++i) {
      SDL_JoystickUpdate();
      while (sdl_display().wait_event(e, 5)) got.push_back(e);
    }
    return got;
  }
  static const Event* find(const std::vector<Event>& got, EventType type, int control = -1) {
    for (const Event& e : got)
      if (e.type == type && (control < 0 || e.control == control)) return &e;
    return nullptr;
  }
};

TEST_F(SdlControllers, AMappedControllerReadsAsStickButtonsAndHat) {
  const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                              SDL_CONTROLLER_BUTTON_MAX, 0);
  ASSERT_GE(index, 0) << SDL_GetError();
  std::vector<Event> got = events();
  const Event* added = find(got, EventType::controller_added);
  ASSERT_NE(added, nullptr) << "the controller was not reported";
  const int device = added->device;
  ASSERT_TRUE(SDL_IsGameController(index)) << "SDL gave the virtual controller no mapping";

  SDL_Joystick* stick = SDL_JoystickFromInstanceID(device);
  ASSERT_NE(stick, nullptr);
  SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_LEFTX, 32767);
  SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_Y, 1);
  SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_START, 1);
  SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1);
  got = events();
  const Event* axis = find(got, EventType::controller_axis, 0);
  ASSERT_NE(axis, nullptr);
  EXPECT_EQ(axis->value, 32767);
  EXPECT_EQ(axis->device, device);
  EXPECT_NE(find(got, EventType::controller_button_down, 3), nullptr) << "Y is button 3";
  EXPECT_NE(find(got, EventType::controller_button_down, 7), nullptr) << "Start is button 7";
  EXPECT_NE(find(got, EventType::controller_button_down, 11), nullptr) << "the right trigger is button 11";
  const Event* hat = find(got, EventType::controller_hat);
  ASSERT_NE(hat, nullptr) << "the d-pad is the hat";
  EXPECT_EQ(hat->value, 8);

  ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0);
  got = events();
  const Event* removed = find(got, EventType::controller_removed);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->device, device);
}

TEST_F(SdlControllers, APlainJoystickReadsItsFirstAxesButtonsAndHat) {
  const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 3, 40, 1);
  ASSERT_GE(index, 0) << SDL_GetError();
  std::vector<Event> got = events();
  const Event* added = find(got, EventType::controller_added);
  ASSERT_NE(added, nullptr);
  if (SDL_IsGameController(index)) GTEST_SKIP() << "this SDL maps every virtual joystick";
  SDL_Joystick* stick = SDL_JoystickFromInstanceID(added->device);
  ASSERT_NE(stick, nullptr);
  SDL_JoystickSetVirtualAxis(stick, 1, -32768);
  SDL_JoystickSetVirtualAxis(stick, 2, 1000);  // a third axis is not read
  SDL_JoystickSetVirtualButton(stick, 5, 1);
  SDL_JoystickSetVirtualButton(stick, 35, 1);  // beyond the 32 of the mask
  SDL_JoystickSetVirtualHat(stick, 0, SDL_HAT_RIGHTUP);
  got = events();
  const Event* axis = find(got, EventType::controller_axis, 1);
  ASSERT_NE(axis, nullptr);
  EXPECT_EQ(axis->value, -32768);
  EXPECT_EQ(find(got, EventType::controller_axis, 2), nullptr);
  EXPECT_NE(find(got, EventType::controller_button_down, 5), nullptr);
  EXPECT_EQ(find(got, EventType::controller_button_down, 35), nullptr);
  const Event* hat = find(got, EventType::controller_hat);
  ASSERT_NE(hat, nullptr);
  EXPECT_EQ(hat->value, 3);
  SDL_JoystickDetachVirtual(index);
}

}  // namespace
}  // namespace talven::platform
