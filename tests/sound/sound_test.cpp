// The sound module's parts on their own: the conversions scripts see, the file readers with the
// files they must refuse, and the mixer's voices (cursor, looping, gains, pitch). What a game
// hears through the built-ins is tested through the executable (sound_output_test.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sound/mixer.h"
#include "sound/sound_slots.h"
#include "sound/sound_source.h"
#include "sound_test_support.h"

namespace talven::sound {
namespace {

TEST(SoundConversions, VolumePanAndFrequencyFollowTheEnginesFormulas) {
  struct Case {
    int volume, hundredths;
  };
  for (const Case& c : {Case{100, 0}, Case{50, -1000}, Case{0, -10000}, Case{150, 0}, Case{-5, -10000}, Case{1, -6644},
                        Case{10, -3322}})
    EXPECT_EQ(volume_to_hundredths(c.volume), c.hundredths) << c.volume;
  for (int volume : {0, 1, 10, 25, 50, 75, 99, 100})
    EXPECT_EQ(hundredths_to_volume(volume_to_hundredths(volume)), volume) << "round trip of " << volume;
  struct Pan {
    int pan, hundredths;
  };
  for (const Pan& c : {Pan{100, 10000}, Pan{-100, -10000}, Pan{0, 0}, Pan{50, 1000}, Pan{-50, -1000}, Pan{300, 10000}})
    EXPECT_EQ(pan_to_hundredths(c.pan), c.hundredths) << c.pan;
  // Back from hundredths the engine's formula truncates, so a pan of 50 reads back as 49.
  for (const Pan& c : {Pan{100, 10000}, Pan{-100, -10000}, Pan{0, 0}, Pan{49, 1000}, Pan{-49, -1000}, Pan{0, 14}})
    EXPECT_EQ(hundredths_to_pan(c.hundredths), c.pan) << c.hundredths;
  struct Frequency {
    int hz, kept;
  };
  for (const Frequency& c : {Frequency{0, 0}, Frequency{50, 100}, Frequency{1, 100}, Frequency{100, 100},
                             Frequency{44100, 44100}, Frequency{250000, 100000}})
    EXPECT_EQ(clamp_frequency(c.hz), c.kept) << c.hz;
}

TEST(SoundSources, ReadWaveAndOggAndRefuseWhatIsNotPcm) {
  const std::string tone = test::wave_file(test::sine(1000, 22050, 0.1, 0.5), 22050, 1, 16);
  auto wave = SoundSource::open(tone);
  ASSERT_NE(wave, nullptr);
  EXPECT_FALSE(wave->is_ogg());
  EXPECT_EQ(wave->format().rate, 22050);
  EXPECT_EQ(wave->total_bytes(), 2u * 2205);

  struct Bad {
    const char* what;
    std::string bytes;
  };
  std::string tag3 = tone, no_channels = tone, no_rate = tone, past_end = tone, no_data = tone.substr(0, 36);
  tag3[20] = 3;                                   // IEEE float, not PCM
  no_channels[22] = 0;
  std::memset(no_rate.data() + 24, 0, 4);
  past_end[40] = static_cast<char>(0xFF);         // the data chunk claims more than the file holds
  past_end[41] = static_cast<char>(0xFF);
  const Bad bad[] = {
      {"empty", ""},
      {"truncated header", tone.substr(0, 10)},
      {"truncated data", tone.substr(0, 60)},
      {"format tag 3", tag3},
      {"no channels", no_channels},
      {"rate 0", no_rate},
      {"a chunk past the end", past_end},
      {"no data chunk", no_data},
      {"not RIFF", "RIFX" + tone.substr(4)},
      {"a broken Ogg stream", "OggS" + std::string(200, '\x5A')},
  };
  for (const Bad& b : bad) EXPECT_EQ(SoundSource::open(b.bytes), nullptr) << b.what;
}

TEST(SoundSources, AnOggStreamDecodesAndTellsItsComment) {
  const std::string ogg = test::ogg_file(test::sine(440, 44100, 1.0, 0.5), 44100, "Title");
  if (ogg.empty()) GTEST_SKIP() << "oggenc (vorbis-tools) is needed";
  auto source = SoundSource::open(ogg);
  ASSERT_NE(source, nullptr);
  EXPECT_TRUE(source->is_ogg());
  EXPECT_EQ(source->total_samples(), 44100u);
  EXPECT_EQ(source->comment().value_or(""), "Title");
  std::vector<std::uint8_t> pcm(source->total_bytes() + 1000);
  EXPECT_EQ(source->deliver(pcm.data(), static_cast<std::uint32_t>(pcm.size())), source->total_bytes());
  EXPECT_EQ(source->deliver(pcm.data(), 100), 0u) << "at the end nothing more comes";
  // A long stream damaged in the middle opens (its headers and last page are whole), and decoding
  // it comes to an end, short of the whole, instead of failing for ever.
  const std::string long_ogg = test::ogg_file(test::noise(44100, 3.0, 0.5), 44100, "Noise");
  std::string damaged = long_ogg;
  for (std::size_t i = long_ogg.size() / 2; i < long_ogg.size() / 2 + 4000; ++i) damaged[i] ^= 0x5A;
  auto whole = SoundSource::open(long_ogg);
  auto broken = SoundSource::open(damaged);
  ASSERT_NE(whole, nullptr);
  ASSERT_NE(broken, nullptr);
  std::uint32_t total = 0;
  for (std::uint32_t got, turns = 0; (got = broken->deliver(pcm.data(), 4096)) != 0 && turns < 100000; ++turns) total += got;
  EXPECT_LT(total, whole->total_bytes());
  EXPECT_GT(total, 0u);
  EXPECT_EQ(broken->deliver(pcm.data(), 4096), 0u);
}

// The mixer's output for `frames` frames.
std::vector<float> render(Mixer& mixer, int frames) {
  std::vector<float> out(std::size_t(frames) * 2);
  for (int done = 0; done < frames; done += 480) mixer.render(out.data() + 2 * done, std::min(480, frames - done));
  return out;
}

TEST(SoundMixer, AVoicePlaysOnceOrLoopsAndItsCursorFollows) {
  Mixer mixer(48000);
  const std::vector<std::int16_t> pcm = test::sine(1000, 48000, 0.1, 0.5);  // 4800 frames
  ASSERT_TRUE(mixer.create(0, PcmFormat{1, 48000, 16}, 9600, false));
  mixer.write(0, 0, reinterpret_cast<const std::uint8_t*>(pcm.data()), 9600);
  mixer.play(0, false);
  render(mixer, 2400);
  EXPECT_EQ(mixer.cursor(0), 4800u);
  EXPECT_TRUE(mixer.playing(0));
  const std::vector<float> rest = render(mixer, 4800);
  EXPECT_FALSE(mixer.playing(0)) << "a voice that does not loop stops at its end";
  EXPECT_NEAR(test::rms(rest, 0, 2400), 0.5 / std::sqrt(2.0), 0.01);
  EXPECT_EQ(test::rms(rest, 2400, 4800), 0.0) << "silence after the end";

  mixer.set_cursor(0, 0);
  mixer.play(0, true);
  render(mixer, 4800 + 1200);
  EXPECT_TRUE(mixer.playing(0));
  EXPECT_EQ(mixer.cursor(0), 2400u) << "a looping voice wraps";
  EXPECT_FALSE(mixer.create(1, PcmFormat{1, 48000, 24}, 9600, false)) << "24-bit PCM cannot be played";
  EXPECT_FALSE(mixer.create(1, PcmFormat{3, 48000, 16}, 9600, false)) << "nor three channels";
}

TEST(SoundMixer, VolumePanAndFrequencyShapeWhatIsHeard) {
  Mixer mixer(48000);
  const std::vector<std::int16_t> pcm = test::sine(1000, 22050, 1.0, 0.5);
  ASSERT_TRUE(mixer.create(0, PcmFormat{1, 22050, 16}, static_cast<std::uint32_t>(pcm.size() * 2), false));
  mixer.write(0, 0, reinterpret_cast<const std::uint8_t*>(pcm.data()), static_cast<std::uint32_t>(pcm.size() * 2));
  mixer.play(0, true);
  std::vector<float> out = render(mixer, 9600);
  EXPECT_NEAR(test::frequency(out, 2400, 9600, 48000), 1000.0, 5.0) << "22050 Hz resampled to 48000 keeps its pitch";
  mixer.set_volume(0, -2000);  // -20 dB: a tenth
  mixer.set_pan(0, 10000);     // right only
  out = render(mixer, 9600);
  EXPECT_NEAR(test::rms(out, 4800, 9600, 1), 0.05 / std::sqrt(2.0), 0.003);
  EXPECT_LT(test::rms(out, 4800, 9600, 0), 1e-4) << "the left side is silent";
  mixer.set_pan(0, 0);
  mixer.set_volume(0, 0);
  mixer.set_frequency(0, 11025);  // half the file's rate: an octave down
  out = render(mixer, 9600);
  EXPECT_NEAR(test::frequency(out, 2400, 9600, 48000), 500.0, 5.0);
  EXPECT_EQ(mixer.frequency(0), 11025u);
  mixer.set_frequency(0, 0);
  EXPECT_EQ(mixer.frequency(0), 22050u) << "0 is the file's own rate";
  mixer.set_master_volume(-10000);
  out = render(mixer, 4800);
  EXPECT_EQ(test::rms(out, 0, 4800), 0.0) << "the master volume silences everything";
}

}  // namespace
}  // namespace talven::sound
