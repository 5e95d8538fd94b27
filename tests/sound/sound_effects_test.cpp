// The eight sound effects, measured on test signals: the table of parameters and its checks, then
// each effect doing its own thing to a sound (echoes where the delay puts them, harmonics from the
// distortion, the EQ's gain at its band, the compressor's ratio, the gargle's modulation, the swept
// delay of chorus and flanger, the reverb's decay), and the chain's guarantees (mask 0 and silence
// untouched, finite output at the parameters' extremes, bit order, block size and reset).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sound/sound_effects.h"

namespace talven::sound {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kChorus = 0, kCompressor = 1, kDistortion = 2, kEcho = 3, kFlanger = 4, kGargle = 5, kParamEq = 6,
              kReverb = 7;

using Sound = std::vector<float>;  // interleaved stereo

// One effect's words from its values in field order, each encoded as the table says (float bits or int).
EffectWords encode(int effect, std::initializer_list<double> values) {
  const EffectInfo& info = effect_table()[effect];
  EXPECT_EQ(static_cast<int>(values.size()), info.param_count) << info.name;
  EffectWords words = default_effect_words(effect);
  int i = 0;
  for (double v : values) {
    words[i] = info.params[i].kind == ParamKind::real ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                                                      : static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
    ++i;
  }
  return words;
}

// The default table with one effect's words replaced.
EffectWordTable with(int effect, const EffectWords& words) {
  EffectWordTable table = default_effect_word_table();
  table[effect] = words;
  return table;
}

Sound run(std::uint32_t mask, const EffectWordTable& words, Sound sound, int rate = 48000) {
  EffectChain chain;
  chain.configure(mask, words, rate);
  chain.process(sound.data(), static_cast<int>(sound.size() / 2));
  return sound;
}

Sound run_one(int effect, const EffectWords& words, Sound sound, int rate = 48000) {
  return run(1u << effect, with(effect, words), std::move(sound), rate);
}

std::size_t frames(const Sound& s) { return s.size() / 2; }

Sound silence(std::size_t frame_count) { return Sound(frame_count * 2, 0.0f); }

Sound sine(double hz, double amplitude, std::size_t frame_count, int rate = 48000) {
  Sound s(frame_count * 2);
  for (std::size_t n = 0; n < frame_count; ++n)
    s[2 * n] = s[2 * n + 1] = static_cast<float>(amplitude * std::sin(2 * kPi * hz * n / rate));
  return s;
}

Sound noise(std::size_t frame_count, double amplitude, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(-amplitude, amplitude);
  Sound s(frame_count * 2);
  for (float& v : s) v = static_cast<float>(u(random));
  return s;
}

double rms(const Sound& s, int ch, std::size_t begin, std::size_t count) {
  double sum = 0;
  for (std::size_t n = begin; n < begin + count; ++n) sum += double(s[2 * n + ch]) * s[2 * n + ch];
  return std::sqrt(sum / count);
}

// Amplitude of the component at `hz` over [begin, begin + count): exact for whole periods.
double amplitude_at(const Sound& s, int ch, std::size_t begin, std::size_t count, double hz, int rate = 48000) {
  double re = 0, im = 0;
  for (std::size_t n = begin; n < begin + count; ++n) {
    const double w = 2 * kPi * hz * (n - begin) / rate;
    re += s[2 * n + ch] * std::cos(w);
    im += s[2 * n + ch] * std::sin(w);
  }
  return 2 * std::hypot(re, im) / count;
}

double db(double ratio) { return 20 * std::log10(ratio); }

bool all_finite(const Sound& s) {
  return std::all_of(s.begin(), s.end(), [](float v) { return std::isfinite(v); });
}

// ---- The table and its checks ----

TEST(SoundEffectTable, DescribesTheEightEffectsAndTheirDefaultsValidate) {
  const int counts[kEffectCount] = {7, 6, 5, 5, 7, 2, 3, 4};
  for (int e = 0; e < kEffectCount; ++e) {
    const EffectInfo& info = effect_table()[e];
    SCOPED_TRACE(info.name);
    EXPECT_EQ(info.bit, 1u << e);
    EXPECT_EQ(info.param_count, counts[e]);
    for (int i = 0; i < info.param_count; ++i) {
      const EffectParam& p = info.params[i];
      SCOPED_TRACE(p.field);
      // The structure's field names carry their type: f... floats, l.../dw... integers.
      EXPECT_EQ(p.kind == ParamKind::real, p.field[0] == 'f');
      EXPECT_LE(p.min, p.fallback);
      EXPECT_LE(p.fallback, p.max);
      EXPECT_LT(p.min, p.max);
      if (p.kind == ParamKind::integer) {
        EXPECT_EQ(p.fallback, std::round(p.fallback));
      }
      EXPECT_NE(p.unit, nullptr);
      EXPECT_NE(std::string(p.meaning), "");
    }
    for (int rate : {0, 44100, 48000}) EXPECT_TRUE(effect_words_valid(e, default_effect_words(e), rate)) << rate;
  }
}

TEST(SoundEffectTable, RefusesEveryValueOutsideItsRangeAndAcceptsTheEnds) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  for (int e = 0; e < kEffectCount; ++e) {
    const EffectInfo& info = effect_table()[e];
    for (int i = 0; i < info.param_count; ++i) {
      const EffectParam& p = info.params[i];
      SCOPED_TRACE(std::string(info.name) + " " + p.field);
      auto valid_with = [&](float value) {
        EffectWords w = default_effect_words(e);
        w[i] = p.kind == ParamKind::real ? std::bit_cast<std::uint32_t>(value)
                                         : static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
        return effect_words_valid(e, w);
      };
      EXPECT_TRUE(valid_with(p.min));
      EXPECT_TRUE(valid_with(p.max));
      if (p.kind == ParamKind::real) {
        EXPECT_FALSE(valid_with(std::nextafter(p.min, -kInf)));
        EXPECT_FALSE(valid_with(std::nextafter(p.max, kInf)));
        EXPECT_FALSE(valid_with(std::numeric_limits<float>::quiet_NaN()));
        EXPECT_FALSE(valid_with(kInf));
        EXPECT_FALSE(valid_with(-kInf));
      } else {
        EXPECT_FALSE(valid_with(p.min - 1));
        EXPECT_FALSE(valid_with(p.max + 1));
      }
    }
  }
  // A DWORD that a script filled with -1 reads as 4294967295: out of range either way.
  EXPECT_FALSE(effect_words_valid(kGargle, {0xFFFFFFFFu, 0}));
  EXPECT_FALSE(effect_words_valid(-1, default_effect_words(0)));
  EXPECT_FALSE(effect_words_valid(kEffectCount, default_effect_words(0)));
}

TEST(SoundEffectTable, TheEqCentreMayNotExceedAThirdOfTheBuffersRate) {
  struct Case {
    double centre;
    int buffer_rate;
    bool valid;
  } const cases[] = {
      {8000, 48000, true}, {16000, 48000, true}, {16000, 44100, false}, {14700, 44100, true},
      {8000, 22050, false}, {7350, 22050, true}, {2000, 8000, true},    {3000, 8000, false},
      {16000, 0, true},  // no buffer rate given: only the range is checked
  };
  for (const Case& c : cases)
    EXPECT_EQ(effect_words_valid(kParamEq, encode(kParamEq, {c.centre, 12, 0}), c.buffer_rate), c.valid)
        << c.centre << " Hz at " << c.buffer_rate;
}

// ---- The chain's guarantees ----

TEST(EffectChain, MaskZeroLeavesTheSoundAsItIs) {
  const Sound in = noise(4800, 0.8, 1);
  EXPECT_EQ(run(0, default_effect_word_table(), in), in);

  EffectChain chain;  // never configured
  Sound s = in;
  chain.process(s.data(), static_cast<int>(frames(s)));
  EXPECT_EQ(s, in);

  chain.configure(kAllEffects, default_effect_word_table(), 48000);
  chain.process(s.data(), static_cast<int>(frames(s)));
  chain.configure(0, default_effect_word_table(), 48000);  // every effect off again
  s = in;
  chain.process(s.data(), static_cast<int>(frames(s)));
  EXPECT_EQ(s, in);
}

// Every effect at each end of each of its ranges, picked at random per parameter.
EffectWordTable extreme_words(std::mt19937& random) {
  EffectWordTable table{};
  for (int e = 0; e < kEffectCount; ++e) {
    const EffectInfo& info = effect_table()[e];
    for (int i = 0; i < info.param_count; ++i) {
      const EffectParam& p = info.params[i];
      const float v = random() % 2 ? p.max : p.min;
      table[e][i] = p.kind == ParamKind::real ? std::bit_cast<std::uint32_t>(v)
                                              : static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
    }
  }
  return table;
}

TEST(EffectChain, SilenceStaysExactlySilent) {
  std::mt19937 random(7);
  for (int rate : {8000, 48000, 192000}) {
    for (int round = 0; round < 4; ++round) {
      const EffectWordTable words = round == 0 ? default_effect_word_table() : extreme_words(random);
      const Sound out = run(kAllEffects, words, silence(rate / 2), rate);
      EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }))
          << "rate " << rate << ", round " << round;
    }
  }
}

TEST(EffectChain, StaysFiniteAtTheEndsOfEveryRange) {
  // Loud noise, a full-scale square, then silence, so feedback at 99 or 100 %, the longest reverb
  // and +60 dB of compressor gain all get something to work on, and a tail to ring out.
  Sound in = noise(12000, 1.0, 3);
  for (std::size_t n = 6000; n < 12000; ++n) in[2 * n] = in[2 * n + 1] = (n / 40) % 2 ? 1.0f : -1.0f;
  in.resize(in.size() + 2 * 24000, 0.0f);
  std::mt19937 random(11);
  for (int rate : {8000, 48000}) {
    for (int round = 0; round < 12; ++round) {
      const EffectWordTable words = extreme_words(random);
      for (int e = 0; e < kEffectCount; ++e)
        EXPECT_TRUE(all_finite(run(1u << e, words, in, rate))) << effect_table()[e].name << ", rate " << rate;
      EXPECT_TRUE(all_finite(run(kAllEffects, words, in, rate))) << "all, rate " << rate;
    }
  }
}

TEST(EffectChain, DefaultsAudiblyChangeASoundExceptTheFlatEq) {
  // A tone with a gap and a click, loud enough for the compressor's threshold.
  Sound in = sine(440, 0.9, 48000);
  for (std::size_t n = 20000; n < 30000; ++n) in[2 * n] = in[2 * n + 1] = 0.0f;
  in[2 * 25000] = in[2 * 25000 + 1] = 1.0f;
  for (int e = 0; e < kEffectCount; ++e) {
    const Sound out = run(1u << e, default_effect_word_table(), in);
    double difference = 0;
    for (std::size_t i = 0; i < in.size(); ++i) difference = std::max(difference, double(std::fabs(out[i] - in[i])));
    if (e == kParamEq) {
      EXPECT_LT(difference, 1e-6) << "0 dB of EQ gain";
    } else {
      EXPECT_GT(difference, 0.1) << effect_table()[e].name;
    }
  }
}

TEST(EffectChain, RunsEffectsInBitOrder) {
  // Pairs whose two orders give different sounds; the chain must give the lower bit's first.
  const int pairs[][2] = {{kEcho, kGargle}, {kChorus, kDistortion}, {kDistortion, kReverb}, {kGargle, kParamEq}};
  EffectWordTable words = with(kParamEq, encode(kParamEq, {1000, 12, 12}));
  // Not a whole number of gargle periods (50 ms), which would let echo and gargle commute.
  words[kEcho] = encode(kEcho, {50, 50, 130, 170, 0});
  const Sound in = noise(24000, 0.5, 5);
  for (const auto& pair : pairs) {
    const std::uint32_t a = 1u << pair[0], b = 1u << pair[1];
    SCOPED_TRACE(std::string(effect_table()[pair[0]].name) + " then " + effect_table()[pair[1]].name);
    const Sound together = run(a | b, words, in);
    EXPECT_EQ(together, run(b, words, run(a, words, in)));
    EXPECT_NE(together, run(a, words, run(b, words, in)));
  }
}

TEST(EffectChain, BlockSizeAndResetDoNotChangeTheResult) {
  std::mt19937 random(13);
  const EffectWordTable words = default_effect_word_table();
  const Sound in = noise(30000, 0.7, 9);
  const Sound whole = run(kAllEffects, words, in);

  for (int largest_block : {1, 7, 480, 4096}) {
    EffectChain chain;
    chain.configure(kAllEffects, words, 48000);
    Sound s = in;
    for (std::size_t done = 0; done < frames(s);) {
      const std::size_t block = std::min<std::size_t>(frames(s) - done, 1 + random() % largest_block);
      chain.process(s.data() + 2 * done, static_cast<int>(block));
      done += block;
    }
    EXPECT_EQ(s, whole) << "blocks of up to " << largest_block;
  }

  // After reset() a chain that played something sounds as a new one.
  EffectChain used;
  used.configure(kAllEffects, words, 48000);
  Sound before = noise(20000, 1.0, 10);
  used.process(before.data(), static_cast<int>(frames(before)));
  used.reset();
  Sound s = in;
  used.process(s.data(), static_cast<int>(frames(s)));
  EXPECT_EQ(s, whole);
}

TEST(EffectChain, ReconfiguringKeepsTailsInFlightUnlessTheRateChanges) {
  const EffectWords echo = encode(kEcho, {100, 0, 10, 10, 0});  // one echo, 480 frames late
  Sound first = silence(100);
  first[0] = first[1] = 1.0f;

  for (int rate : {48000, 44100}) {
    EffectChain chain;
    chain.configure(1u << kEcho, with(kEcho, echo), 48000);
    Sound s = first;
    chain.process(s.data(), 100);
    // Same effect, other settings (wet/dry 50 %): the impulse already in the line still comes out.
    chain.configure(1u << kEcho, with(kEcho, encode(kEcho, {50, 0, 10, 10, 0})), rate);
    Sound rest = silence(1000);
    chain.process(rest.data(), 1000);
    const float expected = rate == 48000 ? 0.5f : 0.0f;  // a new rate starts with clear lines
    EXPECT_FLOAT_EQ(rest[2 * 380], expected) << rate;
    EXPECT_FLOAT_EQ(rest[2 * 380 + 1], expected) << rate;
  }
}

// ---- Echo ----

TEST(EchoEffect, RepeatsAtTheDelayWithLevelsFromWetAndFeedback) {
  struct Case {
    int rate;
    double left_ms, right_ms, feedback, wet;
    int pan;
  } const cases[] = {
      {48000, 500, 500, 50, 50, 0},  {48000, 100, 250, 70, 100, 0}, {48000, 100, 250, 70, 100, 1},
      {44100, 1, 2000, 100, 30, 1},  {8000, 37.5, 12, 0, 100, 0},    {192000, 20, 7, 99, 50, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate) + ", delays " + std::to_string(c.left_ms) + "/" +
                 std::to_string(c.right_ms) + ", pan " + std::to_string(c.pan));
    const int delay[2] = {static_cast<int>(std::lround(c.left_ms * c.rate / 1000)),
                          static_cast<int>(std::lround(c.right_ms * c.rate / 1000))};
    const std::size_t length = 20 + 4 * std::max(delay[0], delay[1]) + 4;
    // A click on the left at frame 10, a half-height one on the right at frame 13.
    Sound in = silence(length);
    in[2 * 10] = 1.0f;
    in[2 * 13 + 1] = 0.5f;

    // What the echoes should be: dry at (1 - wet), then repeats wet, wet * feedback, ..., each one
    // a delay of its channel later, and on the other side each time when the pan delay is on.
    const double wet = c.wet / 100, feedback = c.feedback / 100;
    std::vector<double> expected(in.size(), 0.0);
    for (auto [start, channel, height] : {std::tuple{10, 0, 1.0}, std::tuple{13, 1, 0.5}}) {
      expected[2 * start + channel] += (1 - wet) * height;
      std::size_t t = start;
      int ch = channel;
      double level = wet * height;
      for (;;) {
        t += delay[ch];
        if (t >= length) break;
        expected[2 * t + ch] += level;
        level *= feedback;
        if (c.pan) ch = 1 - ch;
      }
    }
    const Sound out = run_one(kEcho, encode(kEcho, {c.wet, c.feedback, c.left_ms, c.right_ms, double(c.pan)}), in,
                              c.rate);
    int wrong = 0;
    for (std::size_t i = 0; i < out.size() && wrong < 5; ++i)
      if (std::fabs(out[i] - expected[i]) > 1e-6) {
        ADD_FAILURE() << "frame " << i / 2 << (i % 2 ? " right: " : " left: ") << out[i] << ", expected "
                      << expected[i];
        ++wrong;
      }
  }
}

// ---- Distortion ----

TEST(DistortionEffect, AddsHarmonicsThatGrowWithTheEdge) {
  // 800 Hz puts the 2nd and 3rd harmonics in the default post-EQ band (2400 Hz wide around 2400 Hz).
  const double f = 800;
  const Sound in = sine(f, 0.5, 36000);
  const std::size_t begin = 12000, count = 24000;  // whole periods (60 frames each), after the filters settle
  auto harmonic_share = [&](const Sound& s) {
    double harmonics = 0;
    for (int k = 2; k <= 5; ++k) harmonics += std::pow(amplitude_at(s, 0, begin, count, k * f), 2);
    return std::sqrt(harmonics) / amplitude_at(s, 0, begin, count, f);
  };
  ASSERT_LT(harmonic_share(in), 1e-4);
  double previous = 0;
  for (double edge : {0.0, 15.0, 40.0, 100.0}) {
    const double share = harmonic_share(run_one(kDistortion, encode(kDistortion, {-18, edge, 2400, 2400, 8000}), in));
    EXPECT_GT(share, previous) << "edge " << edge;
    if (edge >= 15) {
      EXPECT_GT(share, 0.1) << "edge " << edge << ": harmonics above -20 dB";
    }
    previous = share;
  }

  // The gain scales the result and nothing else.
  const Sound loud = run_one(kDistortion, encode(kDistortion, {0, 15, 2400, 2400, 8000}), in);
  const Sound quiet = run_one(kDistortion, encode(kDistortion, {-18, 15, 2400, 2400, 8000}), in);
  EXPECT_NEAR(db(amplitude_at(quiet, 0, begin, count, f) / amplitude_at(loud, 0, begin, count, f)), -18, 0.01);
  EXPECT_NEAR(db(amplitude_at(quiet, 0, begin, count, 3 * f) / amplitude_at(loud, 0, begin, count, 3 * f)), -18, 0.01);
}

// ---- Parametric EQ ----

TEST(ParamEqEffect, GivesTheBandItsGainAndLeavesFarTonesAlone) {
  struct Case {
    int rate;
    double centre, semitones, gain_db, far_hz;
  } const cases[] = {
      {48000, 1000, 12, 15, 60},   {48000, 8000, 12, -15, 300},  {44100, 250, 6, 9, 5000},
      {48000, 16000, 1, 6, 3000},  {8000, 2000, 24, -12, 100},   {192000, 80, 3, 15, 20000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.centre) + " Hz, " + std::to_string(c.gain_db) + " dB at " + std::to_string(c.rate));
    const EffectWords words = encode(kParamEq, {c.centre, c.semitones, c.gain_db});
    for (auto [hz, expected_db] : {std::pair{c.centre, c.gain_db}, std::pair{c.far_hz, 0.0}}) {
      const Sound in = sine(hz, 0.25, c.rate * 2, c.rate);
      const Sound out = run_one(kParamEq, words, in, c.rate);
      const std::size_t begin = c.rate, count = c.rate;  // the second second, long after the filter settled
      for (int ch = 0; ch < 2; ++ch)
        EXPECT_NEAR(db(rms(out, ch, begin, count) / rms(in, ch, begin, count)), expected_db, 0.5) << hz << " Hz";
    }
  }
}

// ---- Compressor ----

TEST(CompressorEffect, DividesTheLevelAboveTheThresholdByTheRatio) {
  struct Case {
    double input_db, threshold, ratio, gain, expected_change_db;
  } const cases[] = {
      {0, -20, 4, 0, -15},     // 20 dB over becomes 5 dB over
      {-6, -30, 2, 0, -12},    // 24 over becomes 12
      {0, -20, 100, 0, -19.8}, // almost a limiter
      {-10, -40, 3, 10, -10},  // 30 over becomes 10, then 10 dB of gain
      {-40, -20, 4, 0, 0},     // below the threshold: untouched
      {-40, -20, 4, 12, 12},   // ... except for the output gain
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("tone at " + std::to_string(c.input_db) + " dB, threshold " + std::to_string(c.threshold) + ", ratio " +
                 std::to_string(c.ratio));
    const Sound in = sine(1000, std::pow(10, c.input_db / 20), 48000);
    const Sound out = run_one(kCompressor, encode(kCompressor, {c.gain, 10, 200, c.threshold, c.ratio, 4}), in);
    // The last half second: attack long over, the gain steady.
    EXPECT_NEAR(db(rms(out, 0, 24000, 24000) / rms(in, 0, 24000, 24000)), c.expected_change_db, 0.5);
  }
}

TEST(CompressorEffect, DelaysTheSoundByThePredelay) {
  for (int rate : {48000, 44100}) {
    for (double predelay : {0.0, 1.0, 2.5, 4.0}) {
      Sound in = silence(400);
      in[2 * 100] = 0.01f;  // -40 dB: below the threshold, so only the delay acts
      const Sound out = run_one(kCompressor, encode(kCompressor, {0, 10, 200, -20, 3, predelay}), in, rate);
      const std::size_t at = 100 + std::lround(predelay * rate / 1000);
      for (std::size_t n = 0; n < frames(out); ++n)
        EXPECT_FLOAT_EQ(out[2 * n], n == at ? 0.01f : 0.0f) << "frame " << n << ", predelay " << predelay << ", rate " << rate;
    }
  }
}

// ---- Gargle ----

TEST(GargleEffect, ModulatesTheAmplitudeAtTheRate) {
  // A constant 0.5 through the 0..1 modulator: its mean halves, and its fundamental lies at the
  // rate with the height of the shape's (triangle 4/pi^2, square 2/pi), with nothing at half or
  // twice the rate (both shapes have only odd harmonics).
  struct Case {
    int rate_hz, shape;
  } const cases[] = {{1, 0}, {20, 0}, {20, 1}, {250, 1}, {1000, 0}, {1000, 1}};
  const std::size_t count = 96000;  // two seconds: whole periods of every rate and of half of it
  Sound in(count * 2, 0.5f);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate_hz) + " Hz, " + (c.shape ? "square" : "triangle"));
    const Sound out = run_one(kGargle, encode(kGargle, {double(c.rate_hz), double(c.shape)}), in);
    double mean = 0;
    for (std::size_t n = 0; n < count; ++n) mean += out[2 * n];
    mean /= count;
    EXPECT_NEAR(mean, 0.25, 0.0025);
    const double fundamental = 0.5 * (c.shape ? 2 / kPi : 4 / (kPi * kPi));
    for (int ch = 0; ch < 2; ++ch) {
      EXPECT_NEAR(amplitude_at(out, ch, 0, count, c.rate_hz), fundamental, 0.02 * fundamental);
      EXPECT_LT(amplitude_at(out, ch, 0, count, c.rate_hz / 2.0), 0.01 * fundamental);
      EXPECT_LT(amplitude_at(out, ch, 0, count, c.rate_hz * 2.0), 0.01 * fundamental);
    }
  }
}

// ---- Chorus and flanger ----

TEST(ChorusAndFlanger, WithWetDryZeroTheyPassTheInput) {
  const Sound in = noise(24000, 0.9, 21);
  for (int effect : {kChorus, kFlanger}) {
    for (auto words : {encode(effect, {0, 100, 99, 10, 0, 4, 0}), encode(effect, {0, 10, -99, 0.5, 1, 0, 4}),
                       encode(effect, {0, 50, 25, 3, 1, 2, 2})}) {
      EXPECT_EQ(run_one(effect, words, in), in) << effect_table()[effect].name;
    }
  }
}

// Sweep value of the oscillator at `cycles`, in the sine's phase.
double sweep(bool sine_shape, double cycles) {
  cycles -= std::floor(cycles);
  if (sine_shape) return std::sin(2 * kPi * cycles);
  return cycles < 0.25 ? 4 * cycles : cycles < 0.75 ? 2 - 4 * cycles : 4 * cycles - 4;
}

TEST(ChorusAndFlanger, SweepTheDelayAsTheOscillatorSays) {
  // Fully wet without feedback: each click comes out once, as late as the delay is when it leaves.
  // The measured delays must follow fDelay * (1 + depth * oscillator), with the right channel's
  // oscillator turned by the phase setting.
  struct Case {
    int effect;
    double depth, frequency;
    int waveform;
    double delay_ms;
    int phase;
  } const cases[] = {
      {kChorus, 10, 1.1, 1, 16, 3}, {kChorus, 50, 2, 0, 10, 4},    {kChorus, 100, 0.5, 1, 5, 1},
      {kFlanger, 100, 0.5, 1, 2, 2},  {kFlanger, 80, 5, 0, 4, 0}, {kFlanger, 60, 1, 0, 3, 3},
  };
  const int rate = 48000, spacing = 240;
  Sound in = silence(2 * rate);
  const std::size_t last_click = frames(in) - 1200;  // room for the longest delay of the cases (960 frames)
  for (std::size_t t = spacing; t <= last_click; t += spacing) in[2 * t] = in[2 * t + 1] = 1.0f;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(effect_table()[c.effect].name) + " depth " + std::to_string(c.depth) + " at " +
                 std::to_string(c.frequency) + " Hz, phase " + std::to_string(c.phase));
    const Sound out =
        run_one(c.effect, encode(c.effect, {100, c.depth, 0, c.frequency, double(c.waveform), c.delay_ms, double(c.phase)}),
                in, rate);
    const double base = c.delay_ms * rate / 1000, depth = c.depth / 100;
    double shortest = 1e9, longest = 0;
    for (std::size_t t = spacing; t <= last_click; t += spacing) {
      for (int ch = 0; ch < 2; ++ch) {
        const double offset = ch ? (c.phase - 2) * 0.25 : 0;
        // The frame n where n - delay(n) = t.
        double n = t + base;
        for (int i = 0; i < 20; ++i)
          n = t + std::max(1.0, base * (1 + depth * sweep(c.waveform == 1, n * c.frequency / rate + offset)));
        double weight = 0, moment = 0;
        for (long k = std::lround(n) - 3; k <= std::lround(n) + 3; ++k) {
          weight += out[2 * k + ch];
          moment += out[2 * k + ch] * double(k);
        }
        ASSERT_NEAR(weight, 1.0, 0.2) << "click at " << t << (ch ? " right" : " left");
        EXPECT_NEAR(moment / weight - t, n - t, 0.1) << "click at " << t << (ch ? " right" : " left");
        shortest = std::min(shortest, moment / weight - t);
        longest = std::max(longest, moment / weight - t);
      }
    }
    // Over the run the sweep went (nearly) from one end to the other.
    EXPECT_LT(shortest, base * (1 - 0.9 * depth) + 0.5);
    EXPECT_GT(longest, base * (1 + 0.9 * depth) - 0.5);
  }
}

TEST(ChorusAndFlanger, FeedBackTheDelayedSound) {
  // Without a sweep, a click repeats every fDelay with the feedback's sign and size.
  struct Case {
    int effect;
    double feedback, delay_ms;
    int delay_frames;
  } const cases[] = {
      {kChorus, 50, 16, 768}, {kChorus, -99, 20, 960}, {kFlanger, -50, 3, 144}, {kFlanger, 99, 0, 1}  // never under one frame
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(effect_table()[c.effect].name) + " feedback " + std::to_string(c.feedback));
    Sound in = silence(5 * c.delay_frames + 10);
    in[2 * 5] = 1.0f;
    const Sound out = run_one(c.effect, encode(c.effect, {100, 0, c.feedback, 1, 1, c.delay_ms, 2}), in);
    for (std::size_t n = 0; n < frames(out); ++n) {
      const long since = static_cast<long>(n) - 5;
      const double expected =
          since > 0 && since % c.delay_frames == 0 ? std::pow(c.feedback / 100, since / c.delay_frames - 1) : 0.0;
      EXPECT_NEAR(out[2 * n], expected, 1e-6) << "frame " << n;
    }
  }
}

// ---- Reverb ----

// Reverb time measured from the energy decay curve (the tail's energy from each frame on) between
// `from` and `to` of the set time, extrapolated to 60 dB.
double measured_reverb_time(const Sound& out, int rate, double set_ms, double from, double to) {
  std::vector<double> remaining(frames(out) + 1, 0.0);
  for (std::size_t n = frames(out); n-- > 1;)  // frame 0 holds the dry click
    remaining[n] = remaining[n + 1] + double(out[2 * n]) * out[2 * n] + double(out[2 * n + 1]) * out[2 * n + 1];
  const std::size_t a = static_cast<std::size_t>(from * set_ms * rate / 1000);
  const std::size_t b = static_cast<std::size_t>(to * set_ms * rate / 1000);
  const double drop_db = 10 * std::log10(remaining[a] / remaining[b]);
  return (to - from) * set_ms * 60 / drop_db;
}

TEST(ReverbEffect, TheTailFallsSixtyDecibelsInTheReverbTime) {
  struct Case {
    int rate;
    double time_ms, ratio;
  } const cases[] = {
      {48000, 300, 0.001}, {48000, 1000, 0.001}, {44100, 2500, 0.5}, {8000, 1000, 0.999}, {192000, 800, 0.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.time_ms) + " ms, ratio " + std::to_string(c.ratio) + " at " + std::to_string(c.rate));
    Sound in = silence(static_cast<std::size_t>((2 * c.time_ms / 1000 + 0.5) * c.rate));
    in[0] = in[1] = 1.0f;
    const Sound out = run_one(kReverb, encode(kReverb, {0, 0, c.time_ms, c.ratio}), in, c.rate);
    ASSERT_TRUE(all_finite(out));
    const double measured = measured_reverb_time(out, c.rate, c.time_ms, 0.2, 0.7);
    EXPECT_GT(measured, 0.7 * c.time_ms);
    EXPECT_LT(measured, 1.3 * c.time_ms);
  }
}

TEST(ReverbEffect, HighFrequenciesDieSoonerWithALowRatio) {
  // Share of high frequencies in the tail, as the energy of the first difference against the
  // energy itself (near 0 for a dull sound, 2 for white noise), a third of a second in.
  auto brightness = [](double ratio) {
    Sound in = silence(48000);
    in[0] = in[1] = 1.0f;
    const Sound out = run_one(kReverb, encode(kReverb, {0, 0, 1000, ratio}), in);
    double level = 0, edges = 0;
    for (std::size_t n = 16000; n < 24000; ++n) {
      level += double(out[2 * n]) * out[2 * n];
      edges += std::pow(double(out[2 * n]) - out[2 * n - 2], 2);
    }
    return edges / level;
  };
  const double dull = brightness(0.001), middle = brightness(0.3), bright = brightness(0.999);
  EXPECT_LT(dull, 0.05);
  EXPECT_GT(middle, 2 * dull);
  EXPECT_GT(bright, 2 * middle);
  EXPECT_GT(bright, 0.3);
}

TEST(ReverbEffect, InGainScalesAllAndTheMixScalesTheReverberation) {
  Sound in = silence(24000);
  in[0] = in[1] = 1.0f;
  const Sound reference = run_one(kReverb, encode(kReverb, {0, 0, 1000, 0.001}), in);
  ASSERT_FLOAT_EQ(reference[0], 1.0f);
  ASSERT_GT(rms(reference, 0, 1, 24000 - 1), 0.001);
  struct Case {
    double in_gain, mix;
  } const cases[] = {{-6, 0}, {0, -20}, {-12, -40}, {0, -96}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.in_gain) + " dB in, mix " + std::to_string(c.mix) + " dB");
    const Sound out = run_one(kReverb, encode(kReverb, {c.in_gain, c.mix, 1000, 0.001}), in);
    const double dry = std::pow(10, c.in_gain / 20), tail = std::pow(10, (c.in_gain + c.mix) / 20);
    EXPECT_NEAR(out[0], dry, 1e-6);
    EXPECT_NEAR(out[1], dry, 1e-6);
    double worst = 0;
    for (std::size_t i = 2; i < out.size(); ++i) worst = std::max(worst, std::fabs(out[i] - tail * reference[i]));
    EXPECT_LT(worst, 1e-6);
  }
}

}  // namespace
}  // namespace talven::sound
