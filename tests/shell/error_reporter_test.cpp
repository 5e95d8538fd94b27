#include "shell/error_reporter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "shell/configuration.h"

namespace talven::shell {
namespace {

std::vector<std::string> g_shown;
void remember(const char* text) { g_shown.emplace_back(text); }

class ErrorReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shown.clear();
    set_report_listener(remember);
    saved_threshold_ = config().error;
  }
  void TearDown() override {
    set_report_listener(nullptr);
    config().error = saved_threshold_;
  }

  // Reports while stderr is captured, so the headless lines do not clutter the test output.
  std::string report_captured(unsigned level, const char* format, const char* value) {
    testing::internal::CaptureStderr();
    report(level, format, value);
    return testing::internal::GetCapturedStderr();
  }

 private:
  std::int32_t saved_threshold_ = 1;
};

TEST_F(ErrorReporterTest, ThresholdIsComparedUnsigned) {
  struct Case {
    std::int32_t threshold;
    unsigned level;
    bool shown;
  };
  const Case cases[] = {
      {-1, 1, true}, {-1, 2, true}, {0, 0, false}, {0, 1, false}, {0, 2, false},
      {1, 1, true},  {1, 2, false}, {2, 2, true},  {2, 3, false},
  };
  for (const Case& c : cases) {
    config().error = c.threshold;
    g_shown.clear();
    std::string err = report_captured(c.level, "%s", "x");
    EXPECT_EQ(g_shown.size(), c.shown ? 1u : 0u) << "Error=" << c.threshold << " level " << c.level;
    EXPECT_EQ(err.empty(), !c.shown) << "Error=" << c.threshold << " level " << c.level;
  }
}

TEST_F(ErrorReporterTest, LongTextIsCutWithoutSplittingACharacter) {
  config().error = 1;
  std::string kana;
  for (int i = 0; i < 200; ++i) kana += "\x82\xA0";  // 400 bytes, every even byte a first byte
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      // Byte 254 is a first byte whose second would be byte 255, past the room: the cut is at 254.
      {kana, kana.substr(0, 254)},
      // Shifted by one, a whole character ends at byte 255.
      {"x" + kana, "x" + kana.substr(0, 254)},
      {std::string(300, 'a'), std::string(255, 'a')},
      {std::string(255, 'b'), std::string(255, 'b')},
      {std::string(254, 'c') + "\x82\xA0", std::string(254, 'c')},
  };
  for (const Case& c : cases) {
    g_shown.clear();
    report_captured(1, "%s", c.text.c_str());
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0], c.expected) << c.text.size() << " bytes";
    EXPECT_LE(g_shown[0].size(), 255u);
  }
}

TEST_F(ErrorReporterTest, HeadlessPrintsOneUtf8LineOnStderr) {
  config().error = 1;
  std::string err = report_captured(1, platform::cp932("%s を開けません"), "a.bmp\nb");
  EXPECT_EQ(err, "ERROR : Error: a.bmp b を開けません\n");
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0], std::string("a.bmp\nb") + platform::cp932(" を開けません"));
}

TEST_F(ErrorReporterTest, TextFromValuesIsNotAFormat) {
  config().error = 1;
  report_captured(1, "%s", "100% %s %n");
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0], "100% %s %n");
}

}  // namespace
}  // namespace talven::shell
