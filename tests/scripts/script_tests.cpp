// Script tests: each folder under tests/scripts/cases/ is a small game run headless through the
// real talven executable. Its debug-output lines (--log) must equal expected.log, its exit status
// expected.status (0 when absent), and the error lines it printed expected.stderr when present.
//
// A case folder holds the game's sources (main.c is the entry script), and optionally game.cfg,
// which replaces the default configuration (loose files on, errors shown). The SDK header is put
// beside the sources, so scripts #include "talven.h"; so is the test library talven_test_dll.so.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(TALVEN_SOURCE_DIR) / "tests/scripts/cases";

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(kCases)) {
    if (e.is_directory()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ScriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptTest, RunsAsExpected) {
  const fs::path source = kCases / GetParam();
  const fs::path work = fs::temp_directory_path() / ("talven-script-" + GetParam() + "-" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "game");
  for (const auto& e : fs::directory_iterator(source)) {
    const std::string name = e.path().filename().string();
    if (name == "game.cfg") {
      fs::copy_file(e.path(), work / "game.cfg");
    } else if (name.rfind("expected", 0) != 0) {
      fs::copy(e.path(), work / "game" / name, fs::copy_options::recursive);
    }
  }
  if (!fs::exists(work / "game.cfg")) std::ofstream(work / "game.cfg") << "[General]\nFileSystem=3\nError=1\n";
  fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work / "game/talven.h");
  // The project's small native library, for the cases that call into one.
  const fs::path test_dll = fs::path(TALVEN_BINARY_DIR) / "tests/talven_test_dll.so";
  if (fs::exists(test_dll)) fs::copy_file(test_dll, work / "game/talven_test_dll.so");

  const std::string command = "cd '" + work.string() + "' && timeout 120 '" + TALVEN_BINARY_DIR +
                              "/talven' --headless --log log.txt game.cfg 2>stderr.txt >stdout.txt";
  int raw = std::system(command.c_str());
  int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;

  int expected_status = 0;
  if (fs::exists(source / "expected.status")) expected_status = std::stoi(read_file(source / "expected.status"));
  const std::string log = fs::exists(work / "log.txt") ? read_file(work / "log.txt") : std::string();
  const std::string err = read_file(work / "stderr.txt");
  EXPECT_EQ(status, expected_status) << "stderr:\n" << err;
  EXPECT_EQ(log, read_file(source / "expected.log")) << "stderr:\n" << err;
  if (fs::exists(source / "expected.stderr")) {
    EXPECT_EQ(err, read_file(source / "expected.stderr"));
  }
  if (!HasFailure()) fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptTest, ::testing::ValuesIn(case_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
