// The null back ends: what every tool and test gets without choosing, and what a headless run
// chooses. They must behave as a missing device does, never block and never lose a wake-up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/devices.h"

namespace talven::platform {
namespace {

TEST(NullDevices, AreWhatServesUntilSomethingIsChosen) {
  EXPECT_EQ(&display(), &null_display());
  EXPECT_EQ(&message_boxes(), &null_message_boxes());
  EXPECT_EQ(&clipboard(), &null_clipboard());
  EXPECT_FALSE(choose_devices(DeviceBackends::null));
  EXPECT_EQ(&display(), &null_display());
}

TEST(NullDevices, TheDisplayHasNoViewerAndShowsNothingButStillWakesItsThread) {
  Display& d = null_display();
  EXPECT_FALSE(d.has_viewer());
  WindowOptions options;
  options.client_width = 320;
  options.client_height = 200;
  EXPECT_TRUE(d.create_frame_window(options));
  EXPECT_FALSE(d.has_frame_window());
  EXPECT_EQ(d.frame_window_handle(), nullptr);
  EXPECT_EQ(d.window_client_bounds().width, 320);
  const std::uint32_t texel = 0xFF112233;
  EXPECT_FALSE(d.present_texels(&texel, 1, 1, PictureFit::fill));
  EXPECT_TRUE(d.set_window_fullscreen(true));
  EXPECT_FALSE(d.create_tool_window("Debug Output", Rect{0, 0, 100, 50})) << "no second window either";
  EXPECT_FALSE(d.present_tool_texels(&texel, 1, 1));

  Event event;
  EXPECT_FALSE(d.wait_event(event, 0));
  // A wake given before the wait is kept, not lost.
  d.wake_window_thread();
  ASSERT_TRUE(d.wait_event(event, 0));
  EXPECT_EQ(event.type, EventType::wake);
  // And one from another thread ends a long wait early.
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    d.wake_window_thread();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(d.wait_event(event, 60000));
  waker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(NullDevices, BoxesArePrintedAsOneLineAndAnsweredWithTheDefaultButton) {
  struct Case {
    std::vector<MessageButton> buttons;
    int answer;
  };
  const Case cases[] = {
      {{{1, "OK"}}, 1},
      {{{6, "Yes"}, {7, "No", true}}, 7},
      {{{4, "Retry", false, false}, {2, "Cancel", true, true}}, 2},
      {{}, 0},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    const int answer = null_message_boxes().show("Caption", "first\nsecond", MessageIcon::error, c.buttons);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: first second\n");
    EXPECT_EQ(answer, c.answer);
  }
}

TEST(NullDevices, TheClipboardIsPrivateToTheProcessAndKeepsWhatWasSet) {
  Clipboard& c = null_clipboard();
  ASSERT_TRUE(c.set_text("コピー"));
  EXPECT_EQ(c.text().value_or("none"), "コピー");
  ASSERT_TRUE(c.set_text(""));
  EXPECT_EQ(c.text().value_or("none"), "");
}

}  // namespace
}  // namespace talven::platform
