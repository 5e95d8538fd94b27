// The bundled demo as a game: a recorded session (tests/data/demo-session.txt) replayed headless
// and in a window under a virtual X server must reach the same score, and the demo left alone
// still closes by itself.
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

// What the session leads to, as the demo logs it.
constexpr const char* kScoreLine = "game over: score 230\n";
constexpr const char* kRoundLine = "round 1: 17 caught, 1 missed, 3 bombs caught, 4 dodged\n";

// The lines of round 1, from its start to its end: every catch and miss with its time in the round.
// The round's own lines: what fell where and what became of it. The worker threads of the title
// screen may still report meanwhile, at times that differ from run to run; their lines are left out.
std::string round_lines(const std::string& log) {
  const std::size_t from = log.find("round 1: go"), to = log.find("game over:");
  if (from == std::string::npos || to == std::string::npos || to < from) return {};
  std::istringstream in(log.substr(from, to - from));
  std::string kept;
  for (std::string line; std::getline(in, line);)
    if (line.find(" ms, lane ") != std::string::npos || line.rfind("round ", 0) == 0) kept += line + "\n";
  return kept;
}

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::temp_directory_path() / ("talven-demo-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_);
  }
  void TearDown() override {
    if (!HasFailure() && !work_.empty()) fs::remove_all(work_);
  }

  // A fresh copy of games/demo in work_/NAME/demo, without what a run in the source tree left
  // there; the script folder's talven.h link is copied as the file it names.
  fs::path copy_demo(const std::string& name) {
    const fs::path source = fs::path(TALVEN_SOURCE_DIR) / "games/demo", target = work_ / name / "demo";
    fs::create_directories(target);
    for (const auto& entry : fs::directory_iterator(source)) {
      const std::string file = entry.path().filename().string();
      if (file == "configure.cfg" || file == "demo-notes.txt") continue;
      fs::copy(entry.path(), target / file, fs::copy_options::recursive);
    }
    return target;
  }

  static std::string talven() { return std::string(TALVEN_BINARY_DIR) + "/talven"; }
  static std::string session() { return std::string(TALVEN_SOURCE_DIR) + "/tests/data/demo-session.txt"; }

  // The command that plays the session headless in the copy in `folder` and writes its exit status
  // to folder/status.
  std::string headless_replay(const std::string& folder) {
    copy_demo(folder);
    return "(cd '" + (work_ / folder).string() + "' && timeout 120 '" + talven() + "' --headless --log log.txt --input '" +
           session() + "' demo >out.txt 2>&1; echo $? >status)";
  }

  fs::path work_;
};

// Two runs side by side, so that each also meets the other's load.
TEST_F(DemoTest, TheRecordedSessionScoresTheSameEveryTimeHeadless) {
  run(headless_replay("first") + " & " + headless_replay("second") + " & wait");
  const std::string first = read_file(work_ / "first/log.txt"), second = read_file(work_ / "second/log.txt");
  EXPECT_EQ(read_file(work_ / "first/status"), "0\n") << read_file(work_ / "first/out.txt");
  EXPECT_EQ(read_file(work_ / "second/status"), "0\n") << read_file(work_ / "second/out.txt");
  EXPECT_NE(first.find(kScoreLine), std::string::npos) << first;
  EXPECT_NE(first.find(kRoundLine), std::string::npos) << first;
  // Not only the score: every catch and miss, at the same time of the round.
  EXPECT_FALSE(round_lines(first).empty()) << first;
  EXPECT_EQ(round_lines(first), round_lines(second));
  EXPECT_NE(second.find("Escape: quit"), std::string::npos) << second;
}

TEST_F(DemoTest, TheRecordedSessionScoresTheSameInAWindow) {
  if (run("command -v xvfb-run >/dev/null") != 0) GTEST_SKIP() << "xvfb-run is needed (scripts/install-deps installs it)";
  const fs::path game = copy_demo("window");
  // Other window tests may hold the one-instance rule meanwhile; in the sanitizer build the GL
  // driver's allocations would be reported as leaks at exit (see window_test.cpp).
  const int status = run("cd '" + game.parent_path().string() +
                         "' && ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" timeout 120 xvfb-run -a -s '-screen 0 "
                         "1280x1024x24' '" + talven() + "' --set General.MultiInstance=1 --log log.txt --input '" +
                         session() + "' demo >out.txt 2>&1");
  const std::string log = read_file(game.parent_path() / "log.txt");
  ASSERT_EQ(status, 0) << read_file(game.parent_path() / "out.txt") << log;
  EXPECT_NE(log.find(kScoreLine), std::string::npos) << log;
  EXPECT_NE(log.find(kRoundLine), std::string::npos) << log;
}

TEST_F(DemoTest, LeftAloneItClosesByItself) {
  const fs::path game = copy_demo("alone");
  std::ofstream(game / "configure.cfg") << "[Demo]\nSeconds=3\n";
  ASSERT_EQ(run("cd '" + game.parent_path().string() + "' && timeout 60 '" + talven() +
                "' --headless --log log.txt demo >out.txt 2>&1"),
            0)
      << read_file(game.parent_path() / "out.txt");
  const std::string log = read_file(game.parent_path() / "log.txt");
  EXPECT_NE(log.find("goodbye"), std::string::npos) << log;
  EXPECT_EQ(log.find("round 1"), std::string::npos) << log;
}

}  // namespace
