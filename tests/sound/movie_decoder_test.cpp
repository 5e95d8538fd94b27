// Movies through FFmpeg, on tiny files the ffmpeg command makes for each test: what open finds in
// several containers and codecs, the pictures (times, colours, the shown size) and the sound (a
// 1 kHz tone measured at the rate asked for) that come out, sound-only and picture-only files, a
// memory source against the same file on disk, rewinding, and broken or hostile files, which are
// refused or end cleanly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "sound/movie_decoder.h"
#include "sound/sound_test_support.h"

namespace talven::sound {
namespace {

namespace fs = std::filesystem;
using test::amplitude_at;
using test::frequency;
using test::read_bytes;

const std::string kPicture = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1";
const std::string kTone = "-f lavfi -i sine=frequency=1000:duration=1";
constexpr double kToneLevel = 0.125;  // lavfi's sine: an eighth of full scale
constexpr int kRate = 48000;

struct Decoded {
  std::vector<VideoFrame> frames;
  std::vector<AudioBlock> blocks;
  int calls = 0;  // decode_next calls that returned true

  std::vector<float> sound() const {
    std::vector<float> all;
    for (const AudioBlock& b : blocks) all.insert(all.end(), b.samples.begin(), b.samples.end());
    return all;
  }
  double seconds_of_sound(int rate = kRate) const { return double(sound().size() / 2) / rate; }
};

Decoded decode_all(MovieDecoder& decoder, int max_calls = 10000) {
  Decoded d;
  while (d.calls < max_calls) {
    const std::size_t frames = d.frames.size(), blocks = d.blocks.size();
    if (!decoder.decode_next(d.frames, d.blocks)) {
      EXPECT_EQ(d.frames.size(), frames) << "a false decode_next added pictures";
      EXPECT_EQ(d.blocks.size(), blocks) << "a false decode_next added sound";
      return d;
    }
    EXPECT_TRUE(d.frames.size() > frames || d.blocks.size() > blocks) << "a true decode_next added nothing";
    ++d.calls;
  }
  ADD_FAILURE() << "no end after " << max_calls << " calls";
  return d;
}

// The right channel moved into the left slot, for the measures that read the left.
std::vector<float> right_side(const std::vector<float>& stereo) {
  std::vector<float> out(stereo.size());
  for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) out[i] = out[i + 1] = stereo[i + 1];
  return out;
}

// Every picture at the shown size, opaque, later than the one before and on the grid of the frame
// rate from the first (a muxer may leave a frame's slot empty); the sound without gaps or overlaps between
// blocks (to the millisecond a container's clock may round to).
void expect_well_formed(const Decoded& d, const MovieInfo& info, double frame_step) {
  for (std::size_t i = 0; i < d.frames.size(); ++i) {
    const VideoFrame& f = d.frames[i];
    ASSERT_EQ(f.width, info.width);
    ASSERT_EQ(f.height, info.height);
    ASSERT_EQ(f.pixels.size(), std::size_t(f.width) * f.height);
    ASSERT_TRUE(std::all_of(f.pixels.begin(), f.pixels.end(), [](std::uint32_t p) { return p >> 24 == 0xFF; }))
        << "frame " << i;
    const double slots = (f.time - d.frames[0].time) / frame_step;
    EXPECT_NEAR(slots, std::round(slots), 0.05) << "frame " << i << " at " << f.time;
    if (i > 0) {
      EXPECT_GT(f.time, d.frames[i - 1].time) << "frame " << i;
    }
  }
  for (std::size_t i = 0; i < d.blocks.size(); ++i) {
    const AudioBlock& b = d.blocks[i];
    ASSERT_EQ(b.samples.size() % 2, 0u);
    ASSERT_TRUE(std::all_of(b.samples.begin(), b.samples.end(), [](float v) { return std::isfinite(v); }));
    if (i > 0) {
      const AudioBlock& before = d.blocks[i - 1];
      EXPECT_NEAR(b.time, before.time + double(before.samples.size() / 2) / kRate, 0.0015) << "block " << i;
    }
  }
}

// Each channel's distance from 0xAARRGGBB `want`, the largest of the three.
int colour_error(std::uint32_t got, std::uint32_t want) {
  int worst = 0;
  for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF)));
  return worst;
}

class MovieDecoderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }

  void SetUp() override {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "the ffmpeg command is needed (scripts/install-deps installs it)";
    dir_ = fs::temp_directory_path() /
           ("talven-movie-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // `ffmpeg <args> <dir>/<name>`: the file made, its format from the name unless args say.
  fs::path make(const std::string& name, const std::string& args) {
    const fs::path out = dir_ / name;
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out.string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return out;
  }
  fs::path write(const std::string& name, const std::string& bytes) {
    const fs::path out = dir_ / name;
    std::ofstream(out, std::ios::binary) << bytes;
    return out;
  }

  fs::path dir_;
};

MovieSource file_source(const fs::path& p) { return MovieSource{p.string(), {}}; }

TEST_F(MovieDecoderTest, TwoSecondsOfPictureAndToneComeOutInTime) {
  const fs::path file = make("movie.mp4",
                             "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 "
                             "-f lavfi -i sine=frequency=1000:duration=2 -c:v libx264 -pix_fmt yuv420p -c:a aac");
  MovieDecoder decoder;
  std::string why;
  ASSERT_TRUE(decoder.open(file_source(file), kRate, &why)) << why;
  const MovieInfo& info = decoder.info();
  EXPECT_TRUE(info.has_video);
  EXPECT_TRUE(info.has_audio);
  EXPECT_EQ(info.width, 160);
  EXPECT_EQ(info.height, 120);
  EXPECT_NEAR(info.duration, 2.0, 0.04);
  EXPECT_DOUBLE_EQ(info.frame_rate, 25.0);

  const Decoded d = decode_all(decoder);
  ASSERT_EQ(d.frames.size(), 50u);
  for (std::size_t i = 0; i < d.frames.size(); ++i) EXPECT_NEAR(d.frames[i].time, 0.04 * i, 0.001) << "frame " << i;
  expect_well_formed(d, info, 0.04);
  // testsrc2 moves from frame to frame.
  EXPECT_NE(d.frames[0].pixels, d.frames[1].pixels);

  ASSERT_FALSE(d.blocks.empty());
  EXPECT_NEAR(d.blocks.front().time, 0.0, 0.001);
  EXPECT_NEAR(d.seconds_of_sound(), 2.0, 0.03);  // AAC pads its last frame
  const std::vector<float> sound = d.sound();
  const int frames = int(sound.size() / 2);
  EXPECT_NEAR(frequency(sound, 4800, frames - 4800, kRate), 1000.0, 1.0);
  // A mono tone plays at its own level on both sides.
  EXPECT_NEAR(amplitude_at(sound, 4800, frames - 4800, kRate, 1000), kToneLevel, 0.01);
  EXPECT_NEAR(amplitude_at(right_side(sound), 4800, frames - 4800, kRate, 1000), kToneLevel, 0.01);
  for (std::size_t i = 0; i < sound.size(); i += 2) ASSERT_EQ(sound[i], sound[i + 1]) << "frame " << i / 2;
}

TEST_F(MovieDecoderTest, EachContainerPlaysFromZeroAndRewindsToItsFirstPicture) {
  struct Case {
    std::string name, codecs;
  };
  const Case cases[] = {
      {"h264-aac.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"mpeg1-mp2.mpg", "-c:v mpeg1video -c:a mp2"},
      {"mpeg1-mp2.ts", "-c:v mpeg1video -c:a mp2"},  // the transport stream's clock starts at 1.4 s
      {"vp9-vorbis.webm", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libvorbis"},
      {"theora-vorbis.ogv", "-c:v libtheora -c:a libvorbis"},
      {"mpeg4-mp3.avi", "-c:v mpeg4 -c:a libmp3lame"},
      {"flv1-mp3.flv", "-c:v flv1 -c:a libmp3lame -ar 44100"},  // no index: a rewind opens it again
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = make(c.name, kPicture + " " + kTone + " " + c.codecs);
    MovieDecoder decoder;
    std::string why;
    ASSERT_TRUE(decoder.open(file_source(file), kRate, &why)) << why;
    const MovieInfo info = decoder.info();
    EXPECT_TRUE(info.has_video && info.has_audio);
    EXPECT_EQ(info.width, 160);
    EXPECT_EQ(info.height, 120);
    EXPECT_NEAR(info.frame_rate, 25.0, 0.01);
    EXPECT_NEAR(info.duration, 1.0, 0.05);

    const Decoded d = decode_all(decoder);
    ASSERT_EQ(d.frames.size(), 25u);
    ASSERT_FALSE(d.blocks.empty());
    EXPECT_NEAR(d.frames.front().time, 0.0, 0.03);  // FLV starts its pictures 25 ms after the sound
    EXPECT_LT(d.frames.back().time, 1.01);
    EXPECT_NEAR(d.blocks.front().time, 0.0, 0.01);
    EXPECT_NEAR(d.seconds_of_sound(), 1.0, 0.06);  // MP3 in AVI keeps the encoder's delay and padding
    expect_well_formed(d, info, 0.04);
    const std::vector<float> sound = d.sound();
    EXPECT_NEAR(frequency(sound, 4800, int(sound.size() / 2) - 4800, kRate), 1000.0, 1.0);

    ASSERT_TRUE(decoder.rewind());
    Decoded again;
    while (again.frames.empty() && decoder.decode_next(again.frames, again.blocks)) {}
    ASSERT_FALSE(again.frames.empty());
    EXPECT_EQ(again.frames[0].time, d.frames[0].time);
    EXPECT_EQ(again.frames[0].pixels, d.frames[0].pixels);
    EXPECT_EQ(decode_all(decoder).frames.size() + again.frames.size(), 25u);
  }
}

TEST_F(MovieDecoderTest, RewindingMidwayLeavesNothingOfTheFirstPass) {
  // H.264 with B-frames keeps pictures back for reordering, and 44.1 kHz AAC leaves samples in
  // the resampler: none of them may come out after the rewind. (Without noise substitution: the
  // AAC decoder's noise generator goes on from where it was, so noise bands never repeat.)
  const fs::path file =
      make("movie.mp4", kPicture + " " + kTone + " -c:v libx264 -bf 3 -pix_fmt yuv420p -c:a aac -aac_pns 0");
  MovieDecoder decoder;
  std::string why;
  ASSERT_TRUE(decoder.open(file_source(file), kRate, &why)) << why;
  const Decoded whole = decode_all(decoder);
  ASSERT_TRUE(decoder.rewind());
  for (int calls : {1, 7, 20}) {
    SCOPED_TRACE(calls);
    Decoded part;
    for (int i = 0; i < calls; ++i) ASSERT_TRUE(decoder.decode_next(part.frames, part.blocks));
    ASSERT_TRUE(decoder.rewind());
    const Decoded again = decode_all(decoder);
    ASSERT_EQ(again.frames.size(), whole.frames.size());
    for (std::size_t i = 0; i < whole.frames.size(); ++i) {
      EXPECT_EQ(again.frames[i].time, whole.frames[i].time);
      EXPECT_EQ(again.frames[i].pixels, whole.frames[i].pixels) << "frame " << i;
    }
    ASSERT_EQ(again.blocks.size(), whole.blocks.size());
    EXPECT_EQ(again.blocks.front().time, whole.blocks.front().time);
    EXPECT_EQ(again.sound(), whole.sound());
    ASSERT_TRUE(decoder.rewind());
  }
}

TEST_F(MovieDecoderTest, SolidColoursComeOutAsOpaquePixelsOfThatColour) {
  struct Case {
    std::string name, source, codec;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"red.mp4", "color=c=red", "-c:v libx264 -pix_fmt yuv420p", 0xFFFF0000},
      {"lime.mp4", "color=c=0x00FF00", "-c:v libx264 -pix_fmt yuv420p", 0xFF00FF00},
      {"blue.avi", "color=c=blue", "-c:v mpeg4 -q:v 1", 0xFF0000FF},
      {"white.mpg", "color=c=white", "-c:v mpeg1video -q:v 1", 0xFFFFFFFF},
      {"black.webm", "color=c=black", "-c:v libvpx-vp9 -deadline realtime -lossless 1", 0xFF000000},
      // The YUV matrix and range: as the file says, else BT.709 from 720 lines up and BT.601 below,
      // in limited range unless the file says full (JPEG's YUV is full).
      {"light-grey-jpeg.avi", "color=c=0xE0E0E0", "-c:v mjpeg -q:v 1", 0xFFE0E0E0},
      {"light-grey-full-range.mkv", "color=c=0xE0E0E0",
       "-vf scale=out_range=pc,format=yuv444p -c:v ffv1 -color_range pc", 0xFFE0E0E0},
      {"bt709-tagged.mkv", "color=c=0x40C080",
       "-vf scale=out_color_matrix=bt709:out_range=tv,format=yuv444p -c:v ffv1 -colorspace bt709", 0xFF40C080},
      {"bt709-hd.mkv", "color=c=0x40C080:s=1280x720",
       "-vf scale=out_color_matrix=bt709:out_range=tv,format=yuv444p -c:v ffv1", 0xFF40C080},
      {"bt601-sd.mkv", "color=c=0x40C080",
       "-vf scale=out_color_matrix=bt601:out_range=tv,format=yuv444p -c:v ffv1", 0xFF40C080},
      // Alpha 0x33 in the file: the picture still comes out opaque.
      {"faint-red.mkv", "color=c=red@0.2", "-vf format=rgba -c:v png", 0xFFFF0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string size = c.source.find(":s=") == std::string::npos ? ":s=64x48" : "";
    const fs::path file = make(c.name, "-f lavfi -i '" + c.source + size + ":r=25' -frames:v 3 " + c.codec);
    MovieDecoder decoder;
    std::string why;
    ASSERT_TRUE(decoder.open(file_source(file), kRate, &why)) << why;
    EXPECT_FALSE(decoder.info().has_audio);
    const Decoded d = decode_all(decoder);
    ASSERT_EQ(d.frames.size(), 3u);
    for (const VideoFrame& f : d.frames) {
      int worst = 0;
      for (std::uint32_t p : f.pixels) {
        ASSERT_EQ(p >> 24, 0xFFu);
        worst = std::max(worst, colour_error(p, c.want));
      }
      EXPECT_LE(worst, 3) << std::hex << "first pixel " << f.pixels[0];
    }
  }
}

TEST_F(MovieDecoderTest, TheSampleAspectRatioWidensThePictureToAnEvenWidth) {
  struct Case {
    std::string name, filter;
    int width, height;
  };
  const Case cases[] = {
      {"square.y4m", "setsar=1", 100, 50},
      {"double-wide.y4m", "setsar=2", 200, 50},
      {"four-thirds.y4m", "setsar=4/3", 134, 50},  // 133.3 shown 134
      {"narrow.y4m", "setsar=3/5", 60, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Red on the left half, blue on the right.
    const fs::path file = make(c.name,
                               "-f lavfi -i 'color=c=red:s=50x50[a];color=c=blue:s=50x50[b];[a][b]hstack," +
                                   c.filter + "' -frames:v 1 -pix_fmt yuv444p");
    MovieDecoder decoder;
    std::string why;
    ASSERT_TRUE(decoder.open(file_source(file), kRate, &why)) << why;
    EXPECT_EQ(decoder.info().width, c.width);
    EXPECT_EQ(decoder.info().height, c.height);
    const Decoded d = decode_all(decoder);
    ASSERT_EQ(d.frames.size(), 1u);
    const VideoFrame& f = d.frames[0];
    ASSERT_EQ(f.width, c.width);
    for (int y : {0, c.height / 2, c.height - 1}) {
      const std::uint32_t* row = f.pixels.data() + std::size_t(y) * f.width;
      EXPECT_LE(colour_error(row[0], 0xFFFF0000), 3);
      EXPECT_LE(colour_error(row[c.width / 2 - 4], 0xFFFF0000), 3);
      EXPECT_LE(colour_error(row[c.width / 2 + 4], 0xFF0000FF), 3);
      EXPECT_LE(colour_error(row[c.width - 1], 0xFF0000FF), 3);
    }
  }
}

TEST_F(MovieDecoderTest, SoundOnlyAndPictureOnlyFilesOpenWithWhatTheyHave) {
  struct Case {
    std::string name, args;
    bool video, audio;
    double left_level, right_level;  // of the 1 kHz tone
  };
  const Case cases[] = {
      {"tone.mp3", kTone + " -c:a libmp3lame", false, true, kToneLevel, kToneLevel},
      {"tone.wav", kTone, false, true, kToneLevel, kToneLevel},
      {"tone.ogg", kTone + " -c:a libvorbis", false, true, kToneLevel, kToneLevel},
      {"tone-left.flac", kTone + " -af 'pan=stereo|c0=c0'", false, true, kToneLevel, 0},
      // Five channels with the tone on the front ones, mixed down to both sides.
      {"tone-5.0.wav", kTone + " -af 'pan=5.0|FL=c0|FR=c0|FC=c0'", false, true, -1, -1},
      // Cover art is a picture stream, here even the first one, but no movie picture.
      {"cover-first.m4a",
       "-f lavfi -i color=c=blue:s=64x64:r=1:d=1 " + kTone +
           " -map 0:v -map 1:a -c:v png -disposition:v:0 attached_pic -c:a aac",
       false, true, kToneLevel, kToneLevel},
      {"cover.mp3",
       kTone + " -f lavfi -i color=c=blue:s=64x64:r=1:d=1 -map 0:a -map 1:v -c:v png "
               "-disposition:v:0 attached_pic -c:a libmp3lame",
       false, true, kToneLevel, kToneLevel},
      {"picture.mp4", kPicture + " -c:v mpeg4", true, false, 0, 0},
      {"picture.y4m", kPicture + " -pix_fmt yuv420p", true, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = make(c.name, c.args);
    MovieDecoder decoder;
    std::string why;
    ASSERT_TRUE(decoder.open(file_source(file), kRate, &why)) << why;
    const MovieInfo& info = decoder.info();
    EXPECT_EQ(info.has_video, c.video);
    EXPECT_EQ(info.has_audio, c.audio);
    EXPECT_EQ(info.width, c.video ? 160 : 0);
    EXPECT_EQ(info.height, c.video ? 120 : 0);
    EXPECT_EQ(info.frame_rate > 0, c.video);
    EXPECT_NEAR(info.duration, 1.0, 0.05);
    const Decoded d = decode_all(decoder);
    EXPECT_EQ(d.frames.size(), c.video ? 25u : 0u);
    EXPECT_EQ(d.blocks.empty(), !c.audio);
    expect_well_formed(d, info, 0.04);
    if (!c.audio) continue;
    EXPECT_NEAR(d.seconds_of_sound(), 1.0, 0.06);
    const std::vector<float> sound = d.sound();
    const int from = 4800, to = int(sound.size() / 2) - 4800;
    if (c.left_level < 0) {
      EXPECT_GT(amplitude_at(sound, from, to, kRate, 1000), 0.05);
      EXPECT_GT(amplitude_at(right_side(sound), from, to, kRate, 1000), 0.05);
      continue;
    }
    EXPECT_NEAR(amplitude_at(sound, from, to, kRate, 1000), c.left_level, 0.01);
    EXPECT_NEAR(amplitude_at(right_side(sound), from, to, kRate, 1000), c.right_level, 0.01);
  }
}

TEST_F(MovieDecoderTest, SoundComesAtTheRateAskedFor) {
  const fs::path file = make("tone.wav", kTone + " -ar 22050");
  for (int rate : {8000, 22050, 44100, 48000, 96000, 192000}) {
    SCOPED_TRACE(rate);
    MovieDecoder decoder;
    std::string why;
    ASSERT_TRUE(decoder.open(file_source(file), rate, &why)) << why;
    const Decoded d = decode_all(decoder);
    const std::vector<float> sound = d.sound();
    EXPECT_NEAR(d.seconds_of_sound(rate), 1.0, 0.01);
    EXPECT_NEAR(frequency(sound, rate / 10, int(sound.size() / 2) - rate / 10, rate), 1000.0, 1.0);
    EXPECT_NEAR(amplitude_at(sound, rate / 10, int(sound.size() / 2) - rate / 10, rate, 1000), kToneLevel, 0.01);
  }
  for (int rate : {0, 7999, 192001, -48000}) {
    MovieDecoder decoder;
    std::string why;
    EXPECT_FALSE(decoder.open(file_source(file), rate, &why));
    EXPECT_NE(why.find("audio rate " + std::to_string(rate)), std::string::npos) << why;
  }
}

TEST_F(MovieDecoderTest, AMemorySourceDecodesAsTheFileOnDiskDoes) {
  const fs::path files[] = {
      make("movie.mp4", kPicture + " " + kTone + " -c:v libx264 -pix_fmt yuv420p -c:a aac"),
      make("movie.flv", kPicture + " " + kTone + " -c:v flv1 -c:a libmp3lame -ar 44100"),
      make("tone.mp3", kTone + " -c:a libmp3lame"),
  };
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    MovieDecoder from_disk, from_memory;
    std::string why;
    ASSERT_TRUE(from_disk.open(file_source(file), kRate, &why)) << why;
    {
      // The decoder keeps its own copy of the bytes.
      const MovieSource source{"/no/such/file", read_bytes(file)};
      ASSERT_TRUE(from_memory.open(source, kRate, &why)) << why;
    }
    EXPECT_EQ(from_memory.info().width, from_disk.info().width);
    EXPECT_EQ(from_memory.info().has_audio, from_disk.info().has_audio);
    EXPECT_EQ(from_memory.info().duration, from_disk.info().duration);
    for (int pass = 0; pass < 2; ++pass) {
      const Decoded disk = decode_all(from_disk), memory = decode_all(from_memory);
      ASSERT_EQ(memory.frames.size(), disk.frames.size());
      for (std::size_t i = 0; i < disk.frames.size(); ++i) {
        EXPECT_EQ(memory.frames[i].time, disk.frames[i].time);
        EXPECT_EQ(memory.frames[i].pixels, disk.frames[i].pixels) << "frame " << i;
      }
      ASSERT_EQ(memory.blocks.size(), disk.blocks.size());
      EXPECT_EQ(memory.sound(), disk.sound());
      EXPECT_GT(disk.seconds_of_sound(), 0.9);
      ASSERT_TRUE(from_disk.rewind());
      ASSERT_TRUE(from_memory.rewind());
    }
  }
}

TEST_F(MovieDecoderTest, BrokenAndHostileFilesAreRefusedOrEndCleanly) {
  const fs::path good = make("good.mp4", kPicture + " " + kTone + " -c:v mpeg4 -c:a aac");
  const fs::path fast_start =
      make("fast-start.mp4", kPicture + " " + kTone + " -c:v mpeg4 -c:a aac -movflags +faststart");
  const std::string good_bytes = read_bytes(good), fast_bytes = read_bytes(fast_start);
  const std::string avi = read_bytes(make("small.avi", kPicture + " -frames:v 3 -c:v mpeg4 -vtag XVID"));
  const std::string timecode = read_bytes(make("timecode.mov", kPicture + " -c:v mpeg4 -timecode 01:00:00:00"));
  const std::string data_only = read_bytes(make("data-only.mov", "-i '" + (dir_ / "timecode.mov").string() +
                                                                     "' -map 0:d -c copy"));
  ASSERT_FALSE(avi.empty() || data_only.empty() || timecode.empty());

  std::string garbage(4096, '\0');
  std::uint32_t state = 20261211;
  for (char& c : garbage) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);

  // The AVI with its picture's header claiming 40000x40000, and with a codec nobody knows.
  std::string huge_avi = avi, unknown_avi = avi;
  const std::size_t strf = avi.find("strf");
  ASSERT_NE(strf, std::string::npos);
  for (int i = 0; i < 8; ++i) huge_avi[strf + 12 + i] = "\x40\x9C\x00\x00\x40\x9C\x00\x00"[i];
  for (std::size_t at = 0; (at = unknown_avi.find("XVID", at)) != std::string::npos;) unknown_avi.replace(at, 4, "QQQQ");

  const std::string y4m_frame = "FRAME\n" + std::string(64, '\x80');
  struct Case {
    std::string name, bytes;
    std::string refusal;  // a part of the reason; empty when the file opens and must end cleanly
    std::size_t max_frames = 0;
  };
  std::vector<Case> cases = {
      {"garbage", garbage, "not a media file FFmpeg can read"},
      {"text", std::string(200, 'x') + "\nnot a movie\n", "not a media file FFmpeg can read"},
      {"y4m of 40000x40000", "YUV4MPEG2 W40000 H40000 F25:1 Ip A1:1 C420jpeg\n" + y4m_frame, "not a media file"},
      {"y4m too wide", "YUV4MPEG2 W16385 H16 F25:1 Ip A1:1 C420jpeg\n" + y4m_frame,
       "picture of 16385x16 is larger than 16384x16384"},
      {"y4m too many pixels", "YUV4MPEG2 W16384 H4097 F25:1 Ip A1:1 C420jpeg\n" + y4m_frame,
       "picture of 16384x4097 has more pixels than 8192x8192"},
      {"y4m shown too wide", "YUV4MPEG2 W100 H100 F25:1 Ip A1000:1 C420jpeg\n" + y4m_frame,
       "picture of 100000x100 is larger than 16384x16384"},
      {"avi of 40000x40000", huge_avi, "picture of 40000x40000 is larger than 16384x16384"},
      {"avi of an unknown codec", unknown_avi, "no stream FFmpeg can decode"},
      {"mov of a timecode only", data_only, "no stream FFmpeg can decode"},
      // Lists of other files: a movie plays from its own bytes only.
      {"concat list", "ffconcat version 1.0\nfile good.mp4\n", "not a media file"},
      {"playlist", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1,\ngood.mp4\n#EXT-X-ENDLIST\n", "not a media file"},
  };
  // Cut short: without its index at the end an MP4 is nothing; with the index first it plays
  // what is there.
  for (int percent : {1, 10, 50, 90, 99})
    cases.push_back({"mp4 cut at " + std::to_string(percent) + "%",
                     good_bytes.substr(0, good_bytes.size() * percent / 100), "not a media file"});
  for (int percent : {10, 30, 60, 90})
    cases.push_back({"fast-start mp4 cut at " + std::to_string(percent) + "%",
                     fast_bytes.substr(0, fast_bytes.size() * percent / 100), "", std::size_t(percent) * 25 / 100});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool in_memory : {false, true}) {
      SCOPED_TRACE(in_memory ? "from memory" : "from a file");
      const fs::path path = write("case.bin", c.bytes);
      const MovieSource source = in_memory ? MovieSource{{}, c.bytes} : file_source(path);
      // The decoder held a good movie first: a refusal drops it.
      MovieDecoder decoder;
      ASSERT_TRUE(decoder.open(file_source(good), kRate));
      std::string why;
      const bool opened = decoder.open(source, kRate, &why);
      std::vector<VideoFrame> frames;
      std::vector<AudioBlock> audio;
      if (!c.refusal.empty()) {
        EXPECT_FALSE(opened);
        EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
        EXPECT_FALSE(decoder.info().has_video || decoder.info().has_audio);
        EXPECT_FALSE(decoder.decode_next(frames, audio));
        EXPECT_FALSE(decoder.rewind());
        continue;
      }
      ASSERT_TRUE(opened) << why;
      const Decoded d = decode_all(decoder, 200);
      EXPECT_LE(d.frames.size(), c.max_frames + 2);
      for (std::size_t i = 1; i < d.frames.size(); ++i) EXPECT_GT(d.frames[i].time, d.frames[i - 1].time);
      EXPECT_FALSE(decoder.decode_next(frames, audio));
    }
  }

  std::string why;
  MovieDecoder decoder;
  EXPECT_FALSE(decoder.open(file_source(write("empty.mp4", "")), kRate, &why));
  EXPECT_EQ(why, "the file is empty");
  EXPECT_FALSE(decoder.open(MovieSource{}, kRate, &why));
  EXPECT_EQ(why, "no movie file given");
  EXPECT_FALSE(decoder.open(file_source(dir_ / "missing.mp4"), kRate, &why));
  EXPECT_EQ(why.rfind("cannot open ", 0), 0u) << why;
}

}  // namespace
}  // namespace talven::sound
