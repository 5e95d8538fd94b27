// Movies as a game sees and hears them: media files made here with the ffmpeg command, played by
// small games headless with --audio-out and --screenshot.
#include <gtest/gtest.h>

#include <cmath>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <map>
#include <string>
#include <vector>

#include "game_run_fixture.h"
#include "graphics/image_files.h"
#include "graphics/planes.h"
#include "graphics/presentation.h"
#include "platform/window.h"
#include "sound/movie_player.h"
#include "sound/sound.h"
#include "sound_test_support.h"

namespace talven::sound {
namespace {

// A screenshot's pixels as 0xRRGGBB, row by row from the top.
std::vector<std::uint32_t> read_screenshot(const fs::path& path, int& width, int& height) {
  const std::string bytes = test::read_bytes(path);
  graphics::Plane* plane = graphics::read_png(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  std::vector<std::uint32_t> pixels;
  if (plane == nullptr) return pixels;
  width = plane->width;
  height = plane->height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels.push_back(graphics::read_pixel(*plane, x, y) & 0xFFFFFF);
  graphics::delete_plane(plane);
  return pixels;
}

TEST(MovieVolume, ScriptVolumesBecomeHundredthsOfADecibel) {
  const std::map<int, int> cases = {{100, 0}, {150, 0}, {10, -5000}, {1, -10000}, {0, -10000}, {-5, -10000}, {50, -1505}};
  for (const auto& [volume, level] : cases) EXPECT_EQ(media_volume_level(volume), level) << volume;
}

// Where the movie rectangle lands in each presentation: 1:1 at the picture's origin (a window, or
// centred in full screen), and scaled with the picture.
TEST(MoviePlacement, TheRectangleFollowsThePicture) {
  struct Case {
    platform::Rect rect, viewport, expected;
  };
  const Case cases[] = {
      {{100, 50, 200, 150}, {0, 0, 640, 480}, {100, 50, 200, 150}},
      {{100, 50, 200, 150}, {320, 300, 640, 480}, {420, 350, 200, 150}},
      {{100, 50, 200, 150}, {0, 0, 1280, 960}, {200, 100, 400, 300}},
      {{0, 0, 640, 480}, {240, 0, 1440, 1080}, {240, 0, 1440, 1080}},
      {{1, 1, 3, 3}, {10, 20, 960, 720}, {11, 21, 4, 4}},
  };
  for (const Case& c : cases) {
    const platform::Rect r = platform::overlay_in_viewport(c.rect, 640, 480, c.viewport);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
  }
}

// The screenshot's composition: a picture scaled into its rectangle, cut to the frame; a 2x2
// picture stretched keeps its corner colours at the corners and blends between them.
TEST(MoviePlacement, TheScreenshotLaysThePictureOverTheFrame) {
  std::vector<std::uint32_t> frame(16 * 12, 0xFF000000u);
  const std::uint32_t picture[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  graphics::compose_overlay(frame, 16, 12, platform::PictureOverlay{picture, 2, 2, {4, 2, 8, 8}});
  EXPECT_EQ(frame[2 * 16 + 4], 0xFFFF0000u);
  EXPECT_EQ(frame[2 * 16 + 11], 0xFF00FF00u);
  EXPECT_EQ(frame[9 * 16 + 4], 0xFF0000FFu);
  EXPECT_EQ(frame[9 * 16 + 11], 0xFFFFFFFFu);
  EXPECT_EQ(frame[1 * 16 + 4], 0xFF000000u) << "above the rectangle";
  EXPECT_EQ(frame[2 * 16 + 12], 0xFF000000u) << "right of it";
  const std::uint32_t middle = frame[2 * 16 + 7];
  EXPECT_GT((middle >> 16) & 0xFF, 0x40u);
  EXPECT_GT((middle >> 8) & 0xFF, 0x40u);
  // Partly outside: cut, never written past the frame.
  graphics::compose_overlay(frame, 16, 12, platform::PictureOverlay{picture, 2, 2, {12, 10, 10, 10}});
  EXPECT_GT((frame[11 * 16 + 15] >> 16) & 0xFF, 0xC0u) << "mostly the red corner";
}

class MovieOutput : public SoundOutput {
 protected:
  void SetUp() override {
    SoundOutput::SetUp();
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "the ffmpeg command is needed";
  }
  // Runs ffmpeg with `arguments`, writing `name` in the game's folder.
  bool make(const std::string& name, const std::string& arguments) {
    const std::string command = "cd '" + work_.string() + "' && ffmpeg -v error -y " + arguments + " '" + name + "' 2>ffmpeg.txt";
    const bool made = std::system(command.c_str()) == 0;
    if (!made) ADD_FAILURE() << test::read_bytes(work_ / "ffmpeg.txt");
    return made;
  }
  void expect_logged(const std::map<std::string, long>& expected) {
    for (const auto& [name, value] : expected) EXPECT_EQ(logged(name), value) << name;
  }
};

// A red picture with a 1 kHz tone, two seconds: it opens, plays to its end, repeats without a new
// play, pauses by count, stops in half a second, and its sound is heard at the level set.
TEST_F(MovieOutput, AMoviePlaysRepeatsPausesAndStops) {
  ASSERT_TRUE(make("clip.mp4", "-f lavfi -i color=c=red:size=160x120:rate=25:duration=2 -f lavfi -i "
                               "sine=frequency=1000:sample_rate=48000:duration=2 -c:v mpeg4 -c:a aac -shortest"));
  ASSERT_EQ(run("int main() { int a, b, t;\n"
                "  a = media_open(\"clip.mp4\"); log_out(\"open %d\", a); a = media_isplay(); log_out(\"playing_when_opened %d\", a);\n"
                "  setcount(0, 0); log_out(\"start %d\", getcount(0)); media_play(); sleep(1000);\n"
                "  a = media_isplay(); log_out(\"playing %d\", a);\n"
                "  media_setvol(10); log_out(\"quiet %d\", getcount(0)); sleep(500); media_setvol(100); log_out(\"loud %d\", getcount(0));\n"
                "  sleep(1000); a = media_isplay(); log_out(\"playing_after_the_end %d\", a);\n"
                "  media_repeat(1); media_play(); sleep(2600); a = media_isplay(); log_out(\"repeating %d\", a);\n"
                "  media_pause(); media_pause(); media_replay(); a = media_isplay(); log_out(\"paused_twice_replayed_once %d\", a);\n"
                "  media_replay();\n"
                "  t = getcount(0); media_stop(); b = getcount(0) - t; log_out(\"stop_took_half_a_second %d\", b >= 500);\n"
                "  a = media_isplay(); log_out(\"playing_after_stop %d\", a);\n"
                "  a = media_close(); b = media_play(); log_out(\"close %d\", a * 10 + b);\n"
                "  a = media_open(\"missing.mp4\"); log_out(\"missing %d\", a); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"open", 1}, {"playing_when_opened", 0}, {"playing", 1}, {"playing_after_the_end", 0}, {"repeating", 1},
                 {"paused_twice_replayed_once", 1}, {"stop_took_half_a_second", 1}, {"playing_after_stop", 0},
                 {"close", 10}, {"missing", 0}});
  line_up_at_first_sound(logged("start"));
  const double full = level(200, 900);
  EXPECT_GT(full, 0.05) << "the tone is heard";
  EXPECT_NEAR(pitch(200, 900), 1000.0, 10.0);
  // Volume 10 is -50 dB.
  EXPECT_LT(level(logged("quiet") + 100, logged("loud") - 50), full * 0.01);
}

// The picture lands in the movie rectangle of the screenshot; the game's picture stays around it.
TEST_F(MovieOutput, ThePictureFillsTheMovieRectangle) {
  ASSERT_TRUE(make("red.mp4", "-f lavfi -i color=c=red:size=64x48:rate=25:duration=3 -c:v mpeg4"));
  config("[Screen]\nWidth=320\nHeight=240\nDepth=32\n");
  ASSERT_EQ(run("int main() { int r[4], a;\n"
                "  gfill(0, 0, 0, 320, 240, 0xFF0000FF); update(0);\n"
                "  r[0] = 100; r[1] = 50; r[2] = 300; r[3] = 200; media_size(r);\n"
                "  a = media_open(\"red.mp4\"); log_out(\"open %d\", a); media_play(); sleep(600); return 0; }\n",
                "--screenshot shot.png"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  EXPECT_EQ(logged("open"), 1);
  int width = 0, height = 0;
  const std::vector<std::uint32_t> shot = read_screenshot(work_ / "shot.png", width, height);
  ASSERT_EQ(width, 320);
  ASSERT_EQ(height, 240);
  auto at = [&](int x, int y) { return shot[std::size_t(y) * width + x] & 0xFFFFFF; };
  for (auto [x, y] : {std::pair{101, 51}, std::pair{298, 198}, std::pair{200, 125}}) {
    const std::uint32_t p = at(x, y);
    EXPECT_GT((p >> 16) & 0xFF, 0xE0u) << x << "," << y;
    EXPECT_LT(p & 0xFF, 0x30u) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{99, 51}, std::pair{301, 198}, std::pair{200, 49}, std::pair{200, 201}, std::pair{5, 5}})
    EXPECT_EQ(at(x, y), 0x0000FFu) << x << "," << y;
}

// Sound alone, pictures alone, and files that are no media: the first two play, the rest fail
// with the open message, and the game goes on.
TEST_F(MovieOutput, AudioOnlyAndVideoOnlyFilesPlayAndBadFilesFail) {
  ASSERT_TRUE(make("tone.mp3", "-f lavfi -i sine=frequency=440:duration=1 -c:a libmp3lame"));
  ASSERT_TRUE(make("silent.mp4", "-f lavfi -i color=c=green:size=32x32:rate=10:duration=1 -c:v mpeg4"));
  file("garbage.mp4", "this is not a movie at all, just words");
  file("empty.avi", "");
  const std::string clip = test::read_bytes(work_ / "silent.mp4");
  file("cut.mp4", clip.substr(0, clip.size() / 3));
  ASSERT_EQ(run("int main() { int a;\n"
                "  a = media_open(\"tone.mp3\"); log_out(\"audio_only %d\", a); media_play(); sleep(1500); a = media_isplay(); log_out(\"audio_only_ended %d\", a == 0);\n"
                "  a = media_open(\"silent.mp4\"); log_out(\"video_only %d\", a); media_play(); sleep(1500); a = media_isplay(); log_out(\"video_only_ended %d\", a == 0);\n"
                "  a = media_open(\"garbage.mp4\"); log_out(\"garbage %d\", a);\n"
                "  a = media_open(\"empty.avi\"); log_out(\"empty %d\", a);\n"
                "  a = media_open(\"cut.mp4\"); log_out(\"cut %d\", a); if (a) { media_play(); sleep(1500); }\n"
                "  log_out(\"still_running %d\", 1); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"audio_only", 1}, {"audio_only_ended", 1}, {"video_only", 1}, {"video_only_ended", 1}, {"garbage", 0},
                 {"empty", 0}, {"still_running", 1}});
}

// Picture and sound together: a clip that turns from black to white at 1 s, when its 1 kHz tone
// begins. The picture the presentation is given turns white within 50 ms of the tone's place in
// the mixer's output (the capture, whose frames the output takes at real-time pace).
TEST(MovieSync, ThePictureKeepsToTheSound) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "the ffmpeg command is needed";
  const fs::path work = fs::temp_directory_path() / ("talven-movie-sync-" + std::to_string(::getpid()));
  fs::create_directories(work);
  const std::string clip = (work / "sync.avi").string();
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i \"color=c=black:size=32x32:rate=50:duration=2,"
                         "geq=lum='if(gte(T\\,1)\\,235\\,16)':cb=128:cr=128\" -f lavfi -i "
                         "\"aevalsrc='if(gte(t\\,1)\\,0.5*sin(2*PI*1000*t)\\,0)':s=48000:d=2\" "
                         "-c:v mpeg4 -q:v 2 -c:a pcm_s16le '" + clip + "' 2>'" + (work / "ffmpeg.txt").string() + "'").c_str()),
            0)
      << test::read_bytes(work / "ffmpeg.txt");
  const fs::path heard = work / "out.wav";
  capture_output(heard.string());
  SoundSettings settings;
  settings.direct_sound = false;
  sound_start(settings);
  const auto opened = std::chrono::steady_clock::now();
  ASSERT_EQ(media_open(clip), 1u);
  ASSERT_EQ(media_play(), 1u);
  double white_at = -1;
  while (std::chrono::steady_clock::now() - opened < std::chrono::milliseconds(1800)) {
    if (const platform::PictureOverlay* p = movie_picture()) {
      const std::uint32_t centre = p->texels[std::size_t(p->height / 2) * p->width + p->width / 2];
      if (white_at < 0 && ((centre >> 16) & 0xFF) > 0x80)
        white_at = std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sound_stop();
  reset_sound_state();
  int rate = 0;
  const std::vector<float> out = test::read_wave_output(heard, rate);
  std::size_t tone = 0;
  while (2 * tone < out.size() && std::abs(out[2 * tone]) < 0.05f) ++tone;
  ASSERT_GT(white_at, 0) << "the picture never turned white";
  ASSERT_LT(2 * tone, out.size()) << "the tone was never heard";
  const double offset = white_at - static_cast<double>(tone) / rate;
  std::printf("picture %.3f s, sound %.3f s after the open: the picture %+.0f ms from the sound\n", white_at,
              static_cast<double>(tone) / rate, offset * 1000);
  EXPECT_LT(std::abs(offset), 0.050);
  fs::remove_all(work);
}

}  // namespace
}  // namespace talven::sound
