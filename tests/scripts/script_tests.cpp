// Script tests: each folder under tests/scripts/cases/ is a small game run headless through the
// real talven executable. Its debug-output lines (--log) must equal expected.log, its exit status
// expected.status (0 when absent), and the error lines it printed expected.stderr when present.
// A case with input.txt runs with --input (the replay of the events it is driven by).
// A case with expected.png runs with --screenshot, and the picture must equal it pixel for pixel;
// on a difference, <case>-actual.png and <case>-difference.png are left beside the work folder.
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
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/image_files.h"

namespace fs = std::filesystem;

namespace {


const fs::path kCases = fs::path(TALVEN_SOURCE_DIR) / "tests/scripts/cases";

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct PlaneDeleter {
  void operator()(talven::graphics::Plane* p) const { talven::graphics::delete_plane(p); }
};
using PlanePtr = std::unique_ptr<talven::graphics::Plane, PlaneDeleter>;

PlanePtr read_png_file(const fs::path& p) {
  const std::string bytes = read_file(p);
  return PlanePtr(talven::graphics::read_png(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// The picture compared with the expected one; a difference picture (white where they differ) is
// written when they do not match. Returns the number of differing pixels, or -1 when the sizes differ.
long compare_pictures(const talven::graphics::Plane& expected, const talven::graphics::Plane& actual,
                      const fs::path& difference) {
  using namespace talven::graphics;
  if (expected.width != actual.width || expected.height != actual.height) return -1;
  long differing = 0;
  Plane* diff = new_plane(expected.width, expected.height, 24);
  for (std::int32_t y = 0; y < expected.height; ++y)
    for (std::int32_t x = 0; x < expected.width; ++x) {
      const bool same = read_pixel(expected, x, y) == read_pixel(actual, x, y);
      differing += same ? 0 : 1;
      std::uint8_t* px = row_address(*diff, y) + 3 * x;
      const std::uint32_t shown = same ? (read_pixel(expected, x, y) >> 2) & 0x3F3F3F : 0xFFFFFF;
      px[0] = shown & 255, px[1] = (shown >> 8) & 255, px[2] = (shown >> 16) & 255;
    }
  std::string bytes;
  if (differing > 0 && write_png(*diff, nullptr, bytes)) std::ofstream(difference, std::ios::binary) << bytes;
  delete_plane(diff);
  return differing;
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

  const bool picture = fs::exists(source / "expected.png");
  const bool replay = fs::exists(source / "input.txt");
  // TALVEN_EXECUTABLE and TALVEN_EXTRA_ARGS let the same cases run through another build of the
  // engine (the thread-sanitizer run).
  const char* executable = std::getenv("TALVEN_EXECUTABLE");
  const char* extra = std::getenv("TALVEN_EXTRA_ARGS");
  // A fixed locale that is not Japanese: terminal lines carry the English meanings of messages.
  const std::string command = "cd '" + work.string() + "' && LC_ALL=C.UTF-8 timeout 300 '" +
                              (executable ? std::string(executable) : std::string(TALVEN_BINARY_DIR) + "/talven") +
                              "' --headless --log log.txt" + (picture ? " --screenshot shot.png" : "") +
                              (replay ? " --input game/input.txt" : "") + " " +
                              (extra ? extra : "") + " game.cfg 2>stderr.txt >stdout.txt";
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
  if (picture) {
    PlanePtr expected = read_png_file(source / "expected.png");
    PlanePtr actual = read_png_file(work / "shot.png");
    ASSERT_NE(expected, nullptr) << "expected.png does not load";
    ASSERT_NE(actual, nullptr) << "no screenshot was written; stderr:\n" << err;
    const fs::path beside = work.parent_path() / (work.filename().string());
    const long differing = compare_pictures(*expected, *actual, beside.string() + "-difference.png");
    if (differing != 0) fs::copy_file(work / "shot.png", beside.string() + "-actual.png", fs::copy_options::overwrite_existing);
    EXPECT_EQ(differing, 0) << "the screenshot differs (" << (differing < 0 ? "size" : std::to_string(differing) + " pixels")
                            << "); see " << beside.string() << "-actual.png and -difference.png";
  }
  if (!HasFailure()) fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptTest, ::testing::ValuesIn(case_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
