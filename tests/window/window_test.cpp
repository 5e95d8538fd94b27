// The real window: talven under a virtual X server (Xvfb), driven with xdotool like a user would.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int run(const std::string& command) {
  int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (run("command -v xvfb-run >/dev/null && command -v xdotool >/dev/null") != 0)
      GTEST_SKIP() << "xvfb-run and xdotool are needed (scripts/install-deps installs them)";
    work_ = fs::temp_directory_path() / ("talven-window-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_ / "game");
    // Only the single-instance test keeps the one-instance rule, so that the tests can run side
    // by side.
    const bool single = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())
                            .find("SecondInstance") != std::string::npos;
    std::ofstream(work_ / "game.cfg") << "[General]\nFileSystem=3\nTitle=Window test\nConfirmation=1\n"
                                      << "MultiInstance=" << (single ? 0 : 1) << "\n"
                                      << "[Screen]\nWidth=640\nHeight=480\n";
    // The game runs until the test closes it.
    std::ofstream(work_ / "game/main.c") << "#trap\nint sleep(int ms);\n"
                                            "int main() { for (;;) sleep(10); return 0; }\n";
  }
  void TearDown() override {
    if (!HasFailure() && !work_.empty()) fs::remove_all(work_);
  }

  // Runs `script` under a fresh virtual display; $TALVEN names the executable.
  int under_xvfb(const std::string& script) {
    // In the sanitizer build the GL driver's own allocations (reached without frame pointers, so
    // they cannot be told apart from ours) would be reported as leaks at exit: leak checking is
    // left to the headless tests.
    std::ofstream(work_ / "session.sh") << "set -u\nexport ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\"\n"
                                        << "TALVEN='" << TALVEN_BINARY_DIR << "/talven'\n" << script;
    return run("cd '" + work_.string() + "' && timeout 60 xvfb-run -a -s '-screen 0 1280x1024x24' sh session.sh " +
               ">session.out 2>&1");
  }

  std::string written_state() { return read_file(work_ / "configure.cfg"); }

  fs::path work_;
};

TEST_F(WindowTest, OpensAWindowAndWritesItsStateBackAtExit) {
  ASSERT_EQ(under_xvfb("$TALVEN --exit-after 1500 game.cfg\n"), 0) << read_file(work_ / "session.out");
  const std::string state = written_state();
  EXPECT_NE(state.find("FullScreen=0"), std::string::npos) << state;
  EXPECT_NE(state.find("WindowWidth=640"), std::string::npos) << state;
  EXPECT_NE(state.find("WindowHeight=480"), std::string::npos) << state;
}

TEST_F(WindowTest, AltEnterSwitchesToFullScreenAndTheModeIsWrittenBack) {
  // The window may take a while to appear on a busy machine: look for it for up to ten seconds.
  ASSERT_EQ(under_xvfb("$TALVEN --exit-after 12000 game.cfg &\n"
                       "for i in $(seq 50); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                       "sleep 0.5; xdotool windowfocus $id; sleep 0.5; xdotool key alt+Return\n"
                       "wait $!\n"),
            0)
      << read_file(work_ / "session.out");
  EXPECT_NE(written_state().find("FullScreen=1"), std::string::npos) << written_state();
}

TEST_F(WindowTest, ASecondInstanceLeavesAtOnceWhileTheFirstRuns) {
  ASSERT_EQ(under_xvfb("$TALVEN --exit-after 12000 game.cfg &\n"
                       "first=$!\n"
                       "for i in $(seq 50); do xdotool search --name 'Window test' && break; sleep 0.2; done\n"
                       "start=$(date +%s)\n"
                       "$TALVEN --exit-after 8000 game.cfg; echo \"second: $?\"\n"
                       "[ $(( $(date +%s) - start )) -lt 6 ] && echo 'second left at once'\n"
                       "kill -0 $first && echo 'first still running'\n"
                       "wait $first; echo \"first: $?\"\n"),
            0);
  const std::string out = read_file(work_ / "session.out");
  EXPECT_NE(out.find("second: 0"), std::string::npos) << out;
  EXPECT_NE(out.find("second left at once"), std::string::npos) << out;
  EXPECT_NE(out.find("first still running"), std::string::npos) << out;
  EXPECT_NE(out.find("first: 0"), std::string::npos) << out;
}

}  // namespace
