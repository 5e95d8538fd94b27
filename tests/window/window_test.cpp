// The real window: talven under a virtual X server (Xvfb), driven with xdotool like a user would.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

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

// A picture as 0xRRGGBB values.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

bool read_png(const fs::path& path, Picture& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.pixels.resize(std::size_t(out.width) * out.height);
  for (std::size_t i = 0; i < out.pixels.size(); ++i)
    out.pixels[i] = std::uint32_t(rgb[3 * i]) << 16 | std::uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return true;
}

// The X server's own dump of the screen (xwd -root): a big-endian header, a colour map, then
// rows of pixels in the server's byte order. Xvfb at depth 24 stores 32-bit true-colour pixels.
bool read_xwd(const fs::path& path, Picture& out) {
  const std::string bytes = read_file(path);
  auto field = [&](int i) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * i;
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
  };
  if (bytes.size() < 100) return false;
  const std::uint32_t header_size = field(0), width = field(4), height = field(5), byte_order = field(7),
                      bits_per_pixel = field(11), bytes_per_line = field(12), red_mask = field(14),
                      green_mask = field(15), blue_mask = field(16), colours = field(19);
  // Depending on the visual the server packs pixels in three or four bytes.
  const std::uint32_t stride = bits_per_pixel / 8;
  if ((stride != 3 && stride != 4) || std::uint64_t(stride) * width > bytes_per_line || red_mask != 0xFF0000 ||
      green_mask != 0xFF00 || blue_mask != 0xFF)
    return false;
  const std::size_t start = header_size + std::size_t(colours) * 12;
  if (bytes.size() < start + std::size_t(bytes_per_line) * height) return false;
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.pixels.resize(std::size_t(width) * height);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + start + std::size_t(y) * bytes_per_line +
                      stride * x;
      std::uint32_t v = 0;
      for (std::uint32_t i = 0; i < stride; ++i)  // LSBFirst (0) or MSBFirst
        v |= std::uint32_t(p[byte_order == 0 ? i : stride - 1 - i]) << (8 * i);
      out.pixels[std::size_t(y) * width + x] = v & 0xFFFFFF;
    }
  return true;
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

  // The game draws a 640 x 480 picture: four coloured quarters and a one-pixel checkerboard in the
  // middle, which any scaling or filtering would blur.
  void draw_test_picture() {
    fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work_ / "game/talven.h",
                  fs::copy_options::overwrite_existing);
    std::ofstream(work_ / "game/main.c")
        << "#include \"talven.h\"\n"
           "int main() { int x, y;\n"
           "  gfill(0, 0, 0, 320, 240, 0xFFE02020); gfill(0, 320, 0, 320, 240, 0xFF20C040);\n"
           "  gfill(0, 0, 240, 320, 240, 0xFF3050F0); gfill(0, 320, 240, 320, 240, 0xFFF0F0F0);\n"
           "  for (y = 224; y < 256; y++) for (x = 304; x < 336; x++)\n"
           "    gfill(0, x, y, 1, 1, ((x + y) & 1) ? 0xFFFFFF00 : 0xFF000080);\n"
           "  update(0);\n"
        << movie_ <<
           "  for (;;) sleep(10); return 0; }\n";
  }
  // Script lines run after the test picture is shown (a movie over it).
  std::string movie_;

  // Runs the game under Xvfb with extra configuration lines, dumps the screen once the picture is
  // up, and reads back both the dump and the game's own screenshot.
  // Full screen is the window manager's business on X, so those runs start one first.
  void show_and_read_back(const std::string& screen_keys, const std::string& system_keys, Picture& screen,
                          Picture& shot, bool window_manager = false) {
    draw_test_picture();
    std::ofstream(work_ / "game.cfg") << "[General]\nFileSystem=3\nTitle=Window test\nMultiInstance=1\n"
                                      << "[Screen]\nWidth=640\nHeight=480\n" << screen_keys << "[System]\n"
                                      << system_keys;
    ASSERT_EQ(under_xvfb(std::string(window_manager ? "openbox --sm-disable & sleep 1\n" : "") +
                         "$TALVEN --exit-after 8000 --screenshot shot.png game.cfg &\n"
                         "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                         "sleep 2; xdotool getwindowgeometry --shell $id > geometry.txt; xwd -root -silent > screen.xwd\n"
                         "wait $!\n"),
              0)
        << read_file(work_ / "session.out");
    ASSERT_TRUE(read_xwd(work_ / "screen.xwd", screen)) << "no screen dump";
    ASSERT_TRUE(read_png(work_ / "shot.png", shot)) << "no screenshot";
    ASSERT_EQ(shot.width, 640);
    ASSERT_EQ(shot.height, 480);
  }

  // The window's client position, as xdotool saw it.
  std::pair<int, int> window_position() {
    std::istringstream in(read_file(work_ / "geometry.txt"));
    int x = -1, y = -1;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("X=", 0) == 0) x = std::stoi(line.substr(2));
      if (line.rfind("Y=", 0) == 0) y = std::stoi(line.substr(2));
    }
    return {x, y};
  }

  // Counts the pixels of `shot` that differ from the screen at offset (left, top).
  static int differences(const Picture& screen, const Picture& shot, int left, int top) {
    int count = 0;
    for (int y = 0; y < shot.height; ++y)
      for (int x = 0; x < shot.width; ++x) {
        const int sx = left + x, sy = top + y;
        if (sx < 0 || sy < 0 || sx >= screen.width || sy >= screen.height || screen.at(sx, sy) != shot.at(x, y)) ++count;
      }
    return count;
  }

  fs::path work_;
};

TEST_F(WindowTest, OpensAWindowAndWritesItsStateBackAtExit) {
  ASSERT_EQ(under_xvfb("$TALVEN --exit-after 1500 game.cfg\n"), 0) << read_file(work_ / "session.out");
  const std::string state = written_state();
  EXPECT_NE(state.find("FullScreen=0"), std::string::npos) << state;
  EXPECT_NE(state.find("WindowWidth=640"), std::string::npos) << state;
  EXPECT_NE(state.find("WindowHeight=480"), std::string::npos) << state;
}

TEST_F(WindowTest, AWindowThatCannotBeCreatedEndsTheRunWithStatusOneAndSaysWhy) {
  // SDL refuses windows wider than 16384 pixels: the game must not run on without its window.
  std::ofstream(work_ / "game.cfg") << "[General]\nFileSystem=3\nMultiInstance=1\n[Screen]\nWidth=20000\nHeight=100\n";
  EXPECT_EQ(under_xvfb("$TALVEN game.cfg\n"), 1);
  const std::string said = read_file(work_ / "session.out");
  EXPECT_NE(said.find("talven: the game window could not be created: "), std::string::npos) << said;
  EXPECT_NE(said.find("talven: the game cannot run without its window"), std::string::npos) << said;
}

TEST_F(WindowTest, AltEnterSwitchesToFullScreenAndTheModeIsWrittenBack) {
  // The window may take a while to appear on a busy machine: look for it for up to thirty seconds.
  // A window manager carries out the switch on X; the window then covers the whole screen.
  ASSERT_EQ(under_xvfb("openbox --sm-disable & sleep 1\n"
                       "$TALVEN --exit-after 12000 game.cfg &\n"
                       "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                       "sleep 0.5; xdotool windowfocus $id; sleep 0.5; xdotool key alt+Return\n"
                       "sleep 2; xdotool getwindowgeometry --shell $id > geometry.txt\n"
                       "wait $!\n"),
            0)
      << read_file(work_ / "session.out");
  EXPECT_NE(written_state().find("FullScreen=1"), std::string::npos) << written_state();
  const std::string geometry = read_file(work_ / "geometry.txt");
  EXPECT_NE(geometry.find("WIDTH=1280"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("HEIGHT=1024"), std::string::npos) << geometry;
}

// What the X server shows is what the game drew: pixel for pixel in a window with either
// presentation path, centred on the display mode in full screen without scaling, and scaled with
// its proportions kept in full screen with the renderer.
TEST_F(WindowTest, TheWindowShowsThePicturePixelForPixel) {
  for (const char* direct3d : {"0", "1"}) {
    SCOPED_TRACE(std::string("Direct3D=") + direct3d);
    Picture screen, shot;
    show_and_read_back("", std::string("Direct3D=") + direct3d + "\n", screen, shot);
    if (HasFatalFailure()) return;
    const auto [x, y] = window_position();
    EXPECT_EQ(differences(screen, shot, x, y), 0) << "window at " << x << "," << y;
    EXPECT_EQ(shot.at(305, 224), 0xFFFF00u);  // the checkerboard survived into the screenshot
  }
}

TEST_F(WindowTest, FullScreenWithoutRendererCentresThePictureOnTheDisplayMode) {
  Picture screen, shot;
  show_and_read_back("FullScreen=1\n", "Direct3D=0\n", screen, shot, true);
  if (HasFatalFailure()) return;
  // Xvfb offers one mode, 1280 x 1024: the picture sits in its middle, black around it.
  ASSERT_EQ(screen.width, 1280);
  EXPECT_EQ(differences(screen, shot, 320, 272), 0);
  EXPECT_EQ(screen.at(10, 10), 0u);
  EXPECT_EQ(screen.at(1270, 1000), 0u);
}

TEST_F(WindowTest, FullScreenWithRendererKeepsTheProportionsWhenAsked) {
  Picture screen, shot;
  show_and_read_back("FullScreen=1\nFixedAspectRatio=1\n", "", screen, shot, true);
  if (HasFatalFailure()) return;
  // 640 x 480 on 1280 x 1024: scaled to 1280 x 960 at y = 32, black bars above and below.
  ASSERT_EQ(screen.width, 1280);
  EXPECT_EQ(screen.at(640, 10), 0u);
  EXPECT_EQ(screen.at(640, 1010), 0u);
  EXPECT_EQ(screen.at(100, 100), 0xE02020u);
  EXPECT_EQ(screen.at(1180, 100), 0x20C040u);
  EXPECT_EQ(screen.at(100, 900), 0x3050F0u);
  EXPECT_EQ(screen.at(1180, 900), 0xF0F0F0u);
}

// A red movie in the rectangle (100, 50)-(300, 200) of the 640 x 480 picture, in the window and in
// both full-screen layouts: the X server shows it where the picture's scaling puts it, and the
// game's screenshot shows it in the picture's own pixels.
TEST_F(WindowTest, AMovieLiesInItsRectangleInEveryLayout) {
  if (run("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "the ffmpeg command is needed";
  ASSERT_EQ(run("cd '" + work_.string() + "' && ffmpeg -v error -y -f lavfi -i color=c=red:size=64x48:rate=10:duration=20 "
                "-c:v mpeg4 red.mp4"),
            0);
  movie_ = "  { int r[4]; r[0] = 100; r[1] = 50; r[2] = 300; r[3] = 200; media_size(r); media_open(\"red.mp4\"); media_play(); }\n";
  struct Layout {
    const char* screen_keys;
    const char* system_keys;
    bool window_manager;
    int left, top, scale;  // where the picture's (0, 0) lies on the screen, and its magnification
  };
  const Layout layouts[] = {
      {"", "Direct3D=1\n", false, -1, -1, 1},
      {"FullScreen=1\n", "Direct3D=0\n", true, 320, 272, 1},
      {"FullScreen=1\nFixedAspectRatio=1\n", "", true, 0, 32, 2},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(std::string(l.screen_keys) + l.system_keys);
    fs::remove(work_ / "configure.cfg");  // the window state the run before wrote back
    Picture screen, shot;
    show_and_read_back(l.screen_keys, l.system_keys, screen, shot, l.window_manager);
    if (HasFatalFailure()) return;
    int left = l.left, top = l.top;
    if (left < 0) std::tie(left, top) = window_position();
    auto on_screen = [&](int x, int y) { return screen.at(left + x * l.scale, top + y * l.scale); };
    for (auto [x, y] : {std::pair{102, 52}, std::pair{200, 125}, std::pair{297, 197}}) {
      EXPECT_EQ(on_screen(x, y) & 0xF0F0F0, 0xF00000u) << "movie at " << x << "," << y;
      EXPECT_EQ(shot.at(x, y) & 0xF0F0F0, 0xF00000u) << "screenshot at " << x << "," << y;
    }
    for (auto [x, y] : {std::pair{97, 100}, std::pair{303, 100}, std::pair{200, 47}, std::pair{200, 203}}) {
      EXPECT_EQ(on_screen(x, y), 0xE02020u) << "picture at " << x << "," << y;
      EXPECT_EQ(shot.at(x, y), 0xE02020u) << "screenshot at " << x << "," << y;
    }
  }
}

TEST_F(WindowTest, ASecondInstanceLeavesAtOnceWhileTheFirstRuns) {
  ASSERT_EQ(under_xvfb("$TALVEN --exit-after 12000 game.cfg &\n"
                       "first=$!\n"
                       "for i in $(seq 150); do xdotool search --name 'Window test' && break; sleep 0.2; done\n"
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

// Pixels of `screen` in the rectangle at (left, top) that are dark (text) and that are not white.
struct Ink {
  int dark = 0, not_white = 0;
};
Ink ink(const Picture& screen, int left, int top, int width, int height) {
  Ink counted;
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x) {
      const std::uint32_t p = screen.at(x, y);
      if ((p >> 16 & 0xFF) < 0x40 && (p >> 8 & 0xFF) < 0x40 && (p & 0xFF) < 0x40) ++counted.dark;
      if (p != 0xFFFFFF) ++counted.not_white;
    }
  return counted;
}

// With DebugMode on, F8 shows the debug output window with the script's log_out lines; Alt+C
// empties it, its Close button and Alt+X hide it, and F8 in the game's window shows it again.
TEST_F(WindowTest, F8ShowsTheDebugOutputWindowWithTheLinesScriptsPrint) {
  fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work_ / "game/talven.h",
                fs::copy_options::overwrite_existing);
  std::ofstream(work_ / "game.cfg") << "[General]\nFileSystem=3\nTitle=Window test\nMultiInstance=1\nDebugMode=1\n"
                                    << "[Screen]\nWidth=640\nHeight=480\n";
  // The script waits for the test between its two batches of lines (a cp932 source).
  std::ofstream(work_ / "game/main.c", std::ios::binary)
      << "#include \"talven.h\"\n"
         "int stage() { return ini_geti(\"Test\", \"Stage\", 0, \"signal.ini\"); }\n"
         "int main() { int i;\n"
         "  for (i = 1; i <= 3; i++) log_out(\"first batch, line %d\", i);\n"
         "  log_out(\"\x93\xfa\x96\x7b\x8c\xea\");\n"
         "  while (stage() < 1) sleep(20);\n"
         "  for (i = 1; i <= 20; i++) log_out(\"second batch, line %d, wider than the list is\", i);\n"
         "  while (stage() < 2) sleep(20);\n"
         "  exit(); return 0; }\n";
  // Showing and hiding are waited for; pictures get a moment to be drawn.
  ASSERT_EQ(under_xvfb("$TALVEN --exit-after 30000 game.cfg & pid=$!\n"
                       "visible() { xdotool search --onlyvisible --name 'Debug Output'; }\n"
                       "shown() { for i in $(seq 25); do visible >/dev/null && return 0; sleep 0.2; done; return 1; }\n"
                       "hidden() { for i in $(seq 25); do visible >/dev/null || return 0; sleep 0.2; done; return 1; }\n"
                       "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                       "sleep 0.5; visible >/dev/null && echo 'shown before F8'\n"
                       "xdotool windowfocus $id; sleep 0.2; xdotool key F8; shown\n"
                       "dbg=$(visible); xdotool getwindowgeometry --shell $dbg > geometry.txt; eval $(cat geometry.txt)\n"
                       "sleep 1; xwd -root -silent > first.xwd\n"
                       "printf '[Test]\\nStage=1\\n' > signal.ini; sleep 1.5; xwd -root -silent > more.xwd\n"
                       "xdotool windowfocus $dbg; sleep 0.2; xdotool key alt+c; sleep 1; xwd -root -silent > cleared.xwd\n"
                       "xdotool mousemove $((X + 255)) $((Y + 188)) click 1; hidden || echo 'shown after Close'\n"
                       "xdotool windowfocus $id; sleep 0.2; xdotool key F8; shown && echo 'shown again by F8'\n"
                       "xdotool windowfocus $dbg; sleep 0.2; xdotool key alt+x; hidden || echo 'shown after Alt+X'\n"
                       "printf '[Test]\\nStage=2\\n' > signal.ini\n"
                       "wait $pid\n"),
            0)
      << read_file(work_ / "session.out");
  const std::string said = read_file(work_ / "session.out");
  EXPECT_EQ(said.find("shown before F8"), std::string::npos) << said;
  EXPECT_EQ(said.find("shown after Close"), std::string::npos) << said;
  EXPECT_NE(said.find("shown again by F8"), std::string::npos) << said;
  EXPECT_EQ(said.find("shown after Alt+X"), std::string::npos) << said;

  const std::string geometry = read_file(work_ / "geometry.txt");
  ASSERT_NE(geometry.find("WIDTH=297"), std::string::npos) << geometry;
  ASSERT_NE(geometry.find("HEIGHT=211"), std::string::npos) << geometry;
  const auto [x, y] = window_position();
  Picture first, more, cleared;
  ASSERT_TRUE(read_xwd(work_ / "first.xwd", first) && read_xwd(work_ / "more.xwd", more) &&
              read_xwd(work_ / "cleared.xwd", cleared));
  // The list's text area: the list box inside its border, less its scroll bars.
  const int left = x + 9, top = y + 9, width = 263, height = 140;
  // Four lines at the top of the list, nothing below them.
  EXPECT_GT(ink(first, left, top, width, 50).dark, 100);
  EXPECT_EQ(ink(first, left, top + 70, width, height - 70).dark, 0);
  // Twenty more fill the list down to its bottom.
  EXPECT_GT(ink(more, left, top + 70, width, height - 70).dark, 100);
  EXPECT_EQ(ink(cleared, left, top, width, height).not_white, 0);
}

}  // namespace

// ---- Input in a real window ------------------------------------------------------------------

// A game that tells every new point getpoint gives and every change of getkey's answer, until
// the test closes it.
class PointerTest : public WindowTest {
 protected:
  void write_pointer_game(const std::string& screen_keys, const std::string& more_keys) {
    fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work_ / "game/talven.h",
                  fs::copy_options::overwrite_existing);
    std::ofstream(work_ / "game.cfg") << "[General]\nFileSystem=3\nTitle=Window test\nMultiInstance=1\n"
                                      << "[Screen]\nWidth=640\nHeight=480\n" << screen_keys << more_keys;
    std::ofstream(work_ / "game/main.c")
        << "#include \"talven.h\"\n"
           "int main() { POINTER p; unsigned char k[256]; int x, y, ok, was;\n"
           "  gfill(0, 0, 0, 640, 480, 0xFF336699); update(0);\n"
           "  x = -5; y = -5; was = -5;\n"
           "  for (;;) { getpoint(&p); ok = getkey(k);\n"
           "    if (p.x != x || p.y != y || ok != was) { log_out(\"point %d %d getkey %d\", p.x, p.y, ok);\n"
           "      x = p.x; y = p.y; was = ok; }\n"
           "    sleep(10); }\n"
           "  return 0; }\n";
  }
  // The lines the game logged.
  std::vector<std::string> logged() {
    std::vector<std::string> lines;
    std::istringstream in(read_file(work_ / "log.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool logged_line(const std::string& line) {
    for (const std::string& l : logged())
      if (l == line) return true;
    return false;
  }
};

// The real pointer, moved by xdotool over the window, in screen-plane pixels: through a window
// twice the picture's size, and through the letterbox of a full screen that keeps the proportions.
TEST_F(PointerTest, GetpointMapsTheRealPointerThroughTheWindowsScaling) {
  write_pointer_game("", "[Window]\nResize=1\nWindowWidth=1280\nWindowHeight=960\n[System]\nDirect3D=1\n");
  ASSERT_EQ(under_xvfb("openbox --sm-disable & sleep 1\n"
                       "$TALVEN --exit-after 12000 --log log.txt game.cfg &\n"
                       "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                       "sleep 1; xdotool windowfocus $id; sleep 0.5\n"
                       "xdotool mousemove --window $id 200 400; sleep 0.5\n"
                       "xdotool mousemove --window $id 1279 959; sleep 0.5\n"
                       "xdotool getwindowgeometry --shell $id > geometry.txt\n"
                       "wait $!\n"),
            0)
      << read_file(work_ / "session.out");
  const std::string geometry = read_file(work_ / "geometry.txt");
  ASSERT_NE(geometry.find("WIDTH=1280"), std::string::npos) << geometry;
  EXPECT_TRUE(logged_line("point 100 200 getkey 1")) << read_file(work_ / "log.txt");
  EXPECT_TRUE(logged_line("point 639 479 getkey 1")) << read_file(work_ / "log.txt");
}

TEST_F(PointerTest, GetpointMapsThroughTheBarsOfFullScreen) {
  struct Case {
    const char* keys;
    int x, y;              // where the real pointer goes on the 1280 x 1024 screen
    const char* expected;  // and what getpoint tells
  };
  // With the renderer 640 x 480 becomes 1280 x 960 at y = 32; without it the picture sits unscaled
  // in the middle, at 320, 272.
  const Case cases[] = {
      {"[System]\nDirect3D=1\n", 640, 432, "point 320 200 getkey 1"},
      {"[System]\nDirect3D=1\n", 10, 10, "point 5 -11 getkey 1"},
      {"[System]\nDirect3D=0\n", 420, 472, "point 100 200 getkey 1"},
      {"[System]\nDirect3D=0\n", 300, 272, "point -20 0 getkey 1"},
  };
  for (std::size_t i = 0; i < std::size(cases); i += 2) {
    const Case& a = cases[i];
    const Case& b = cases[i + 1];
    SCOPED_TRACE(a.keys);
    write_pointer_game("FullScreen=1\nFixedAspectRatio=1\n", a.keys);
    fs::remove(work_ / "log.txt");
    ASSERT_EQ(under_xvfb("openbox --sm-disable & sleep 1\n"
                         "$TALVEN --exit-after 12000 --log log.txt game.cfg &\n"
                         "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                         "sleep 2; xdotool windowfocus $id; sleep 0.5\n"
                         "xdotool mousemove " + std::to_string(a.x) + " " + std::to_string(a.y) + "; sleep 0.5\n"
                         "xdotool mousemove " + std::to_string(b.x) + " " + std::to_string(b.y) + "; sleep 0.5\n"
                         "wait $!\n"),
              0)
        << read_file(work_ / "session.out");
    EXPECT_TRUE(logged_line(a.expected)) << read_file(work_ / "log.txt");
    EXPECT_TRUE(logged_line(b.expected)) << read_file(work_ / "log.txt");
  }
}

// cur_setpos puts the real pointer where the screen-plane point is shown (here in a window twice
// the picture's size); cur_clip keeps what the game sees inside the rectangle however far the
// pointer goes.
TEST_F(PointerTest, TheCursorBuiltinsMoveAndConfineTheRealPointer) {
  write_pointer_game("", "[Window]\nResize=1\nWindowWidth=1280\nWindowHeight=960\n[System]\nDirect3D=1\n");
  std::ofstream(work_ / "game/main.c")
      << "#include \"talven.h\"\n"
         "int main() { POINTER p; RECT r; unsigned char k[256]; int x, y;\n"
         "  gfill(0, 0, 0, 640, 480, 0xFF336699); update(0);\n"
         "  while (!(getkey(k) && (k[0x70] & 0x81))) sleep(10);\n"  // F1 pressed (its toggle bit tells a short press)
         "  log_out(\"cur_setpos %d\", cur_setpos(100, 50));\n"
         "  r.left = -50; r.top = 0; r.right = 320; r.bottom = 240;\n"
         "  log_out(\"cur_clip %d\", cur_clip(&r));\n"
         "  x = -5; y = -5;\n"
         "  for (;;) { getpoint(&p);\n"
         "    if (p.x != x || p.y != y) { log_out(\"point %d %d\", p.x, p.y); x = p.x; y = p.y; }\n"
         "    sleep(10); }\n"
         "  return 0; }\n";
  ASSERT_EQ(under_xvfb("openbox --sm-disable & sleep 1\n"
                       "$TALVEN --exit-after 12000 --log log.txt game.cfg &\n"
                       "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                       "sleep 1; xdotool windowfocus $id; sleep 0.5; xdotool key F1; sleep 1.5\n"
                       "xwininfo -id $id | grep Absolute > client.txt; xdotool getmouselocation --shell > pointer.txt\n"
                       "xdotool mousemove --window $id 1200 900; sleep 0.5\n"
                       "wait $!\n"),
            0)
      << read_file(work_ / "session.out");
  auto number_after = [](const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    return at == std::string::npos ? -1 : std::stoi(text.substr(at + key.size()));
  };
  const std::string client = read_file(work_ / "client.txt"), pointer = read_file(work_ / "pointer.txt");
  EXPECT_EQ(number_after(pointer, "X=") - number_after(client, "upper-left X:"), 200) << client << pointer;
  EXPECT_EQ(number_after(pointer, "Y=") - number_after(client, "upper-left Y:"), 100) << client << pointer;
  EXPECT_TRUE(logged_line("cur_clip 1")) << read_file(work_ / "log.txt");
  EXPECT_TRUE(logged_line("point 100 50")) << read_file(work_ / "log.txt");
  EXPECT_TRUE(logged_line("point 319 239")) << read_file(work_ / "log.txt");
}

// While the close question is up, input reads as neutral.
TEST_F(PointerTest, InputIsOffWhileTheCloseQuestionIsUp) {
  write_pointer_game("", "[Option]\nConfirmation=1\n");
  // The question holds the window thread, so the run cannot close by itself: it is ended by the
  // session once the question was seen.
  ASSERT_EQ(under_xvfb("openbox --sm-disable & sleep 1\n"
                       "$TALVEN --log log.txt game.cfg &\n"
                       "game=$!\n"
                       "for i in $(seq 150); do id=$(xdotool search --onlyvisible --name 'Window test') && break; sleep 0.2; done\n"
                       "sleep 1; xdotool windowfocus $id; sleep 0.5\n"
                       "xdotool mousemove --window $id 50 60; sleep 0.5\n"
                       "xdotool key alt+F4\n"
                       "for i in $(seq 50); do box=$(xdotool getactivewindow 2>/dev/null) && [ -n \"$box\" ] && [ \"$box\" != \"$id\" ] && break; sleep 0.2; done\n"
                       "xdotool getwindowname $box > question.txt; sleep 1\n"
                       "kill $game; wait $game; exit 0\n"),
            0)
      << read_file(work_ / "session.out");
  EXPECT_NE(read_file(work_ / "question.txt").find("終了確認"), std::string::npos) << "the close question was not seen";
  const std::vector<std::string> lines = logged();
  // In order: the point in the window, then nothing while the question is up.
  auto at = [&](const std::string& line) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == line) return static_cast<int>(i);
    return -1;
  };
  const int before = at("point 50 60 getkey 1"), during = at("point -1 -1 getkey 0");
  EXPECT_GE(before, 0) << read_file(work_ / "log.txt");
  EXPECT_GT(during, before) << read_file(work_ / "log.txt");
}
