#include <gtest/gtest.h>

#include "platform/clock.h"
#include "shell/elapsed_clock.h"
#include "shell/modules.h"
#include "shell/shell_builtins.h"
#include "shell/timing_builtins.h"
#include "support/script_arguments.h"

namespace talven::shell {
namespace {

using test::as_int;
using test::ScriptScratch;

std::uint32_t g_now = 0;
std::uint32_t fake_now() { return g_now; }

// Time moves only when a test says so.
class TimingTest : public ::testing::Test {
 protected:
  ScriptScratch scratch;
  void SetUp() override {
    reset_shell_state();
    g_now = 50000;
    set_time_source(fake_now);
    elapsed_clock_start();
  }
  void TearDown() override { reset_shell_state(); }
  std::int32_t getcount(std::int32_t n) { return as_int(bi_getcount(scratch.args({n}))); }
  std::int32_t setcount(std::int32_t n, std::int32_t v) { return as_int(bi_setcount(scratch.args({n, v}))); }
};

TEST_F(TimingTest, CountersMeasureFromTheirMark) {
  EXPECT_EQ(setcount(3, 250), 1);
  EXPECT_EQ(getcount(3), 250) << "right after setcount n, v";
  g_now += 100;
  EXPECT_EQ(getcount(3), 350);
  EXPECT_EQ(setcount(255, -40), 1);
  EXPECT_EQ(getcount(255), -40);
  g_now += 40;
  EXPECT_EQ(getcount(255), 0);
  EXPECT_EQ(setcount(0, 0), 1);
  EXPECT_EQ(getcount(0), 0);
}

TEST_F(TimingTest, CounterNumbersOutsideTheTableChangeNothing) {
  ASSERT_EQ(setcount(0, 7), 1);
  ASSERT_EQ(setcount(255, 9), 1);
  for (std::int32_t n : {256, -1, 1000, static_cast<std::int32_t>(0x80000000u)}) {
    EXPECT_EQ(setcount(n, 123), 0) << n;
    EXPECT_EQ(getcount(n), 0) << n;
  }
  EXPECT_EQ(getcount(0), 7);
  EXPECT_EQ(getcount(255), 9);
}

TEST_F(TimingTest, PauseFreezesTheClockAndPausedTimeDoesNotCount) {
  setcount(1, 0);
  g_now += 10;
  elapsed_clock_pause();
  g_now += 500;
  EXPECT_EQ(getcount(1), 10);
  elapsed_clock_pause();  // pauses nest
  elapsed_clock_resume();
  g_now += 500;
  EXPECT_EQ(getcount(1), 10);
  elapsed_clock_resume();
  EXPECT_EQ(getcount(1), 10);
  g_now += 5;
  EXPECT_EQ(getcount(1), 15);
  elapsed_clock_resume();  // not paused: ignored
  g_now += 5;
  EXPECT_EQ(getcount(1), 20);
}

TEST_F(TimingTest, ElapsedClockIsTheTimeSourceUntilAPause) {
  EXPECT_EQ(elapsed_clock_read(), 50000u);
  elapsed_clock_pause();
  g_now = 50300;
  elapsed_clock_resume();
  EXPECT_EQ(elapsed_clock_read(), 50000u);
  g_now = 0x10;  // the source wraps around like the tick count
  EXPECT_EQ(elapsed_clock_read(), 0x10u - 300u);
}

TEST_F(TimingTest, FpsReturnsTheCountOfTheLastCompletedSecond) {
  // Exactly 60 calls a second: the call that opens a window is not counted in it.
  std::vector<std::uint32_t> results;
  for (int i = 0; i <= 240; ++i) {
    g_now = 50000 + static_cast<std::uint32_t>(i * 1000 / 60);
    results.push_back(bi_fps(0));
  }
  for (int i = 0; i < 60; ++i) EXPECT_EQ(results[i], 0u) << i;
  for (int i = 60; i <= 240; ++i) EXPECT_EQ(results[i], 59u) << i;

  // A slower second is reported once it has ended.
  for (int i = 1; i <= 30; ++i) {
    g_now = 54000 + static_cast<std::uint32_t>(i * 1000 / 30);
    bi_fps(0);
  }
  EXPECT_EQ(bi_fps(0), 29u);
}

TEST_F(TimingTest, GetTimeWritesThe16ByteLocalTimeRecord) {
  vm::Address record = scratch.bytes(std::string(20, '\xEE'));
  EXPECT_EQ(bi_gettime(scratch.args({record})), 1u);
  platform::SystemTime t;
  ASSERT_TRUE(vm::load(record, t));
  EXPECT_GE(t.year, 2020);
  EXPECT_LE(t.year, 2200);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_LE(t.day_of_week, 6);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);
  EXPECT_LE(t.milliseconds, 999);
  EXPECT_EQ(test::script_bytes(record + 16, 4), std::string(4, '\xEE')) << "nothing past the record";
  EXPECT_EQ(bi_gettime(scratch.args({0})), 0u);
}

}  // namespace
}  // namespace talven::shell
