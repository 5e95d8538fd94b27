#include "shell/debug_output.h"

#include <gtest/gtest.h>

#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/modules.h"
#include "shell/shell_builtins.h"
#include "shell/test_support.h"
#include "support/script_arguments.h"

namespace talven::shell {
namespace {

using test::Arg;
using test::ScriptScratch;

class DebugOutputTest : public ::testing::Test {
 protected:
  test::ScratchFolder root;
  std::string log_path = (root.path() / "run.log").string();
  ScriptScratch scratch;

  void SetUp() override { reset_shell_state(); }
  void TearDown() override { reset_shell_state(); }
  std::uint32_t log_out(std::initializer_list<Arg> values) { return bi_log_out(scratch.args(values)); }
};

TEST_F(DebugOutputTest, WithoutDebugModeOrLogTargetNothingHappens) {
  EXPECT_EQ(log_out({"value %d", 5}), 0u);
  EXPECT_EQ(bi_log_clear(0), 0u);
  EXPECT_TRUE(debug_output_lines().empty());
}

TEST_F(DebugOutputTest, DebugModeKeepsTheFormattedLinesForTheWindow) {
  config().debug_mode = 1;
  EXPECT_EQ(log_out({"x=%d y=%.1f %s", 3, 2.5, "ok"}), 1u);
  EXPECT_EQ(log_out({"second"}), 1u);
  EXPECT_EQ(debug_output_lines(), (std::vector<std::string>{"x=3 y=2.5 ok", "second"}));
  EXPECT_EQ(bi_log_clear(0), 1u);
  EXPECT_TRUE(debug_output_lines().empty());
  EXPECT_EQ(log_out({0x20}), 0u) << "a format outside script memory";
  EXPECT_TRUE(debug_output_lines().empty());
}

TEST_F(DebugOutputTest, LogTargetGetsOneUtf8LinePerCallAlsoWithoutDebugMode) {
  ASSERT_TRUE(set_log_file(log_path));
  std::string japanese = platform::cp932("こんにちは");
  EXPECT_EQ(log_out({"%s %d", japanese, 1}), 1u);
  EXPECT_EQ(log_out({"ends in a line end\n"}), 1u);
  EXPECT_EQ(log_out({"%c cut at the zero byte", 0}), 1u);
  EXPECT_EQ(bi_log_clear(0), 1u);
  EXPECT_EQ(test::read_bytes(log_path), "こんにちは 1\nends in a line end\n\n");
  EXPECT_TRUE(debug_output_lines().empty()) << "no window without DebugMode";

  // The target is appended to, never truncated.
  ASSERT_TRUE(set_log_file(log_path));
  log_out({"more"});
  EXPECT_EQ(test::read_bytes(log_path), "こんにちは 1\nends in a line end\n\nmore\n");

  EXPECT_FALSE(set_log_file((root.path() / "missing" / "x.log").string()));
  EXPECT_FALSE(has_log_target());
}

TEST_F(DebugOutputTest, LongTextIsCutToTheBufferBetweenCharacters) {
  config().debug_mode = 1;
  std::string wide;
  for (int i = 0; i < 2100; ++i) wide += platform::cp932("あ");  // 4200 bytes
  EXPECT_EQ(log_out({"%s", wide}), 1u);
  EXPECT_EQ(log_out({"a%s", wide}), 1u);
  std::vector<std::string> lines = debug_output_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], wide.substr(0, 4094)) << "4095 bytes would end inside a character";
  EXPECT_EQ(lines[1], "a" + wide.substr(0, 4094));
}

TEST_F(DebugOutputTest, TheWindowKeepsOnlyTheNewestLines) {
  config().debug_mode = 1;
  for (std::size_t i = 0; i < kKeptDebugLines + 2; ++i) debug_output_line(std::to_string(i));
  std::vector<std::string> lines = debug_output_lines();
  ASSERT_EQ(lines.size(), kKeptDebugLines);
  EXPECT_EQ(lines.front(), "2");
  EXPECT_EQ(lines.back(), std::to_string(kKeptDebugLines + 1));
}

// The window takes lines and clears in the order scripts made them, and only while it listens.
TEST_F(DebugOutputTest, TheWindowsFeedKeepsCallOrderAcrossAClear) {
  static int told = 0;
  told = 0;
  config().debug_mode = 1;
  debug_output_line("before the window");
  set_debug_output_listener([] { ++told; });
  debug_output_line("gone");
  debug_output_clear();
  debug_output_line("first");
  debug_output_line("second");
  EXPECT_EQ(told, 4);
  DebugOutputNews news = take_debug_output_news();
  EXPECT_TRUE(news.cleared);
  EXPECT_EQ(news.lines, (std::vector<std::string>{"first", "second"}));
  news = take_debug_output_news();
  EXPECT_FALSE(news.cleared);
  EXPECT_TRUE(news.lines.empty());
  set_debug_output_listener(nullptr);
  debug_output_line("nobody listens");
  EXPECT_TRUE(take_debug_output_news().lines.empty());
}

}  // namespace
}  // namespace talven::shell
