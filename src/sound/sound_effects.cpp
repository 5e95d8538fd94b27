// The eight sound effects as plain DSP. Each effect is a small processor with its own state; the
// chain runs the enabled ones over a block, lowest bit first. Filters and oscillators keep their
// state in double so that low corner frequencies at high rates stay accurate; delay lines hold
// float. Every value fed back into a delay line passes tame(), which flushes denormals (they make
// decaying tails very slow on x86) and keeps feedback at its documented maximum from running off.
#include "sound/sound_effects.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace talven::sound {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr ParamKind R = ParamKind::real;
constexpr ParamKind I = ParamKind::integer;

constexpr EffectInfo kEffects[kEffectCount] = {
    {kEffectChorus, "chorus", "DSFXChorus", 7,
     {{{"fWetDryMix", R, 0, 100, 50, "%", "share of the processed sound in the output (0: the input only)"},
       {"fDepth", R, 0, 100, 10, "%", "how far the oscillator sweeps the delay, in percent of fDelay"},
       {"fFeedback", R, -99, 99, 25, "%", "share of the delayed sound fed back into the delay"},
       {"fFrequency", R, 0, 10, 1.1f, "Hz", "rate of the oscillator"},
       {"lWaveform", I, 0, 1, 1, "", "oscillator shape: 0 triangle, 1 sine"},
       {"fDelay", R, 0, 20, 16, "ms", "delay around which the oscillator sweeps"},
       {"lPhase", I, 0, 4, 3, "", "right oscillator against the left: 0 -180, 1 -90, 2 0, 3 90, 4 180 degrees"}}}},
    {kEffectCompressor, "compressor", "DSFXCompressor", 6,
     {{{"fGain", R, -60, 60, 0, "dB", "output gain after compression"},
       {"fAttack", R, 0.01f, 500, 10, "ms", "how fast the gain falls when the level rises"},
       {"fRelease", R, 50, 3000, 200, "ms", "how fast the gain recovers when the level falls"},
       {"fThreshold", R, -60, 0, -20, "dB", "peak level above which the compressor acts"},
       {"fRatio", R, 1, 100, 3, "", "the level above the threshold, in dB, is divided by this"},
       {"fPredelay", R, 0, 4, 4, "ms", "the sound runs this much behind the level detector (look-ahead)"}}}},
    {kEffectDistortion, "distortion", "DSFXDistortion", 5,
     {{{"fGain", R, -60, 0, -18, "dB", "output gain after distortion"},
       {"fEdge", R, 0, 100, 15, "%", "distortion intensity"},
       {"fPostEQCenterFrequency", R, 100, 8000, 2400, "Hz", "centre of the band the distorted sound is filtered to"},
       {"fPostEQBandwidth", R, 100, 8000, 2400, "Hz", "width of that band"},
       {"fPreLowpassCutoff", R, 100, 8000, 8000, "Hz", "low-pass before the distortion, which limits high harmonics"}}}},
    {kEffectEcho, "echo", "DSFXEcho", 5,
     {{{"fWetDryMix", R, 0, 100, 50, "%", "share of the echoes in the output (0: the input only)"},
       {"fFeedback", R, 0, 100, 50, "%", "level of each echo against the one before"},
       {"fLeftDelay", R, 1, 2000, 500, "ms", "delay of the left channel's echoes"},
       {"fRightDelay", R, 1, 2000, 500, "ms", "delay of the right channel's echoes"},
       {"lPanDelay", I, 0, 1, 0, "", "0: each channel echoes itself; 1: the echoes swap sides each repeat"}}}},
    {kEffectFlanger, "flanger", "DSFXFlanger", 7,
     {{{"fWetDryMix", R, 0, 100, 50, "%", "share of the processed sound in the output (0: the input only)"},
       {"fDepth", R, 0, 100, 100, "%", "how far the oscillator sweeps the delay, in percent of fDelay"},
       {"fFeedback", R, -99, 99, -50, "%", "share of the delayed sound fed back into the delay"},
       {"fFrequency", R, 0, 10, 0.25f, "Hz", "rate of the oscillator"},
       {"lWaveform", I, 0, 1, 1, "", "oscillator shape: 0 triangle, 1 sine"},
       {"fDelay", R, 0, 4, 2, "ms", "delay around which the oscillator sweeps"},
       {"lPhase", I, 0, 4, 2, "", "right oscillator against the left: 0 -180, 1 -90, 2 0, 3 90, 4 180 degrees"}}}},
    {kEffectGargle, "gargle", "DSFXGargle", 2,
     {{{"dwRateHz", I, 1, 1000, 20, "Hz", "rate of the amplitude modulation"},
       {"dwWaveShape", I, 0, 1, 0, "", "modulation shape: 0 triangle, 1 square"}}}},
    {kEffectParamEq, "parametric EQ", "DSFXParamEq", 3,
     {{{"fCenter", R, 80, 16000, 8000, "Hz", "centre of the band; at most a third of the sound's rate"},
       {"fBandwidth", R, 1, 36, 12, "semitones", "width of the band"},
       {"fGain", R, -15, 15, 0, "dB", "gain at the centre of the band"}}}},
    {kEffectReverb, "reverb", "DSFXWavesReverb", 4,
     {{{"fInGain", R, -96, 0, 0, "dB", "gain of the sound entering the effect"},
       {"fReverbMix", R, -96, 0, 0, "dB", "level of the reverberation added to the sound"},
       {"fReverbTime", R, 0.001f, 3000, 1000, "ms", "time the reverberation takes to fall by 60 dB"},
       {"fHighFreqRTRatio", R, 0.001f, 0.999f, 0.001f, "", "reverb time of high frequencies, as a share of fReverbTime"}}}},
};

// The words' values, clamped into range (NaN takes the default): configure() gets words the
// built-ins already checked, but the chain must stay finite whatever it is given.
using Params = std::array<double, kMaxEffectParams>;

Params read_params(int effect, const EffectWords& words) {
  Params values{};
  const EffectInfo& info = kEffects[effect];
  for (int i = 0; i < info.param_count; ++i) {
    const EffectParam& p = info.params[i];
    double v;
    if (p.kind == ParamKind::real) {
      const float f = std::bit_cast<float>(words[i]);
      v = std::isnan(f) ? p.fallback : f;
    } else {
      v = static_cast<std::int32_t>(words[i]);
    }
    values[i] = std::clamp(v, static_cast<double>(p.min), static_cast<double>(p.max));
  }
  return values;
}

double db_to_gain(double db) { return std::pow(10.0, db / 20.0); }
int ms_to_samples(double ms, int rate) { return static_cast<int>(std::lround(ms * rate / 1000.0)); }

// Flushes denormals and holds the value within ±kGuard (NaN becomes 0). The guard is far above full
// scale, so it never touches sound; it only keeps a feedback loop at 100 % finite under endless input.
constexpr float kGuard = 64.0f;
float tame(float x) {
  const float a = std::fabs(x);
  if (a < 1e-25f) return 0.0f;
  if (!(a <= kGuard)) return x > 0 ? kGuard : (x < 0 ? -kGuard : 0.0f);
  return x;
}
double tame(double x) { return std::fabs(x) < 1e-30 ? 0.0 : x; }

// A ring of past samples. Before push(), tap(1) is the newest sample and tap(size) the oldest.
struct DelayLine {
  std::vector<float> buffer;
  int pos = 0;

  void allocate(int size) {
    buffer.assign(static_cast<std::size_t>(std::max(size, 1)), 0.0f);
    pos = 0;
  }
  void release() {
    buffer = {};
    pos = 0;
  }
  void clear() {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    pos = 0;
  }
  int size() const { return static_cast<int>(buffer.size()); }
  float tap(int delay) const {
    int i = pos - delay;
    if (i < 0) i += size();
    return buffer[static_cast<std::size_t>(i)];
  }
  // A fractional delay, 1 <= delay <= size - 1, read by linear interpolation.
  float tap(double delay) const {
    const int whole = static_cast<int>(delay);
    const float frac = static_cast<float>(delay - whole);
    const float a = tap(whole);
    return a + frac * (tap(whole + 1) - a);
  }
  void push(float x) {
    buffer[static_cast<std::size_t>(pos)] = x;
    if (++pos == size()) pos = 0;
  }
};

// A second-order filter (transposed direct form II) for both channels, with the usual
// audio-cookbook designs.
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double s1[2] = {0, 0};
  double s2[2] = {0, 0};

  double run(int ch, double x) {
    const double y = b0 * x + s1[ch];
    s1[ch] = tame(b1 * x - a1 * y + s2[ch]);
    s2[ch] = tame(b2 * x - a2 * y);
    return y;
  }
  void clear() { s1[0] = s1[1] = s2[0] = s2[1] = 0; }
  void set(double n0, double n1, double n2, double d0, double d1, double d2) {
    b0 = n0 / d0;
    b1 = n1 / d0;
    b2 = n2 / d0;
    a1 = d1 / d0;
    a2 = d2 / d0;
  }
  void lowpass(double hz, double q, int rate) {
    const double w = 2 * kPi * hz / rate, c = std::cos(w), alpha = std::sin(w) / (2 * q);
    set((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
  }
  // Band-pass with 0 dB at the centre.
  void bandpass(double hz, double q, int rate) {
    const double w = 2 * kPi * hz / rate, c = std::cos(w), alpha = std::sin(w) / (2 * q);
    set(alpha, 0, -alpha, 1 + alpha, -2 * c, 1 - alpha);
  }
  // Peaking: `gain_db` exactly at the centre, half of it (in dB) at the band's edges, `octaves` from each other.
  void peaking(double hz, double octaves, double gain_db, int rate) {
    const double w = 2 * kPi * hz / rate, c = std::cos(w), s = std::sin(w);
    const double a = std::pow(10.0, gain_db / 40.0);
    const double alpha = s * std::sinh(std::log(2.0) / 2 * octaves * w / s);
    set(1 + alpha * a, -2 * c, 1 - alpha * a, 1 + alpha / a, -2 * c, 1 - alpha / a);
  }
};

// Each processor: setup() takes the clamped parameters and (re)allocates only when it was off or the
// rate changed, keeping its state otherwise; release() frees; clear() zeroes the state.

// Chorus and flanger share one design (and the same field order): a delay swept by a low-frequency
// oscillator, delay(t) = fDelay * (1 + depth * lfo(t)), lfo in -1..1, with feedback into the delay.
struct ModulatedDelay {
  double max_delay_ms;
  DelayLine line[2];
  int rate = 0;
  double dry = 1, wet = 0, feedback = 0, depth = 0, base = 1, step = 0, right_offset = 0;
  bool sine = true;
  double phase = 0;  // of the left oscillator, in cycles

  explicit ModulatedDelay(double max_ms) : max_delay_ms(max_ms) {}

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      // The sweep reaches twice fDelay at depth 100, plus room for interpolation.
      const int size = static_cast<int>(std::ceil(2 * max_delay_ms * rate / 1000.0)) + 4;
      line[0].allocate(size);
      line[1].allocate(size);
      phase = 0;
    }
    wet = p[0] / 100;
    dry = 1 - wet;
    depth = p[1] / 100;
    feedback = p[2] / 100;
    step = p[3] / rate;
    sine = p[4] == 1;
    base = p[5] * rate / 1000.0;
    right_offset = (p[6] - 2) * 0.25;  // phase index 0..4 is -180..180 degrees in quarter turns
  }
  void release() {
    line[0].release();
    line[1].release();
    rate = 0;
  }
  void clear() {
    line[0].clear();
    line[1].clear();
    phase = 0;
  }
  double lfo(double cycles) const {
    cycles -= std::floor(cycles);
    if (sine) return std::sin(2 * kPi * cycles);
    // Triangle in the sine's phase: 0 rising at 0, 1 at a quarter, -1 at three quarters.
    if (cycles < 0.25) return 4 * cycles;
    if (cycles < 0.75) return 2 - 4 * cycles;
    return 4 * cycles - 4;
  }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n) {
      for (int ch = 0; ch < 2; ++ch) {
        // At least one sample of delay: with feedback, a shorter loop would feed a sample into itself.
        const double delay = std::max(1.0, base * (1 + depth * lfo(phase + (ch ? right_offset : 0))));
        const float delayed = line[ch].tap(delay);
        const float x = s[2 * n + ch];
        line[ch].push(tame(static_cast<float>(x + feedback * delayed)));
        s[2 * n + ch] = static_cast<float>(dry * x + wet * delayed);
      }
      phase += step;
      if (phase >= 1) phase -= 1;
    }
  }
};

// Compressor: a peak detector (instant rise, falling at the release rate) smoothed by the attack
// time drives the gain; above the threshold the level in dB rises only 1/ratio as fast. The sound
// itself runs fPredelay behind the detector, so the gain is already down when a loud onset arrives.
struct Compressor {
  DelayLine line[2];
  int rate = 0;
  double makeup = 1, attack = 1, release_keep = 0, threshold = 1, exponent = 0;
  int predelay = 0;
  double peak = 0, level = 0;

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      const int size = static_cast<int>(std::ceil(4.0 * rate / 1000.0)) + 2;
      line[0].allocate(size);
      line[1].allocate(size);
      peak = level = 0;
    }
    makeup = db_to_gain(p[0]);
    attack = 1 - std::exp(-1000.0 / (p[1] * rate));
    release_keep = std::exp(-1000.0 / (p[2] * rate));
    threshold = db_to_gain(p[3]);
    exponent = 1 / p[4] - 1;  // gain = (level / threshold) ^ exponent above the threshold
    predelay = ms_to_samples(p[5], rate);
  }
  void release() {
    line[0].release();
    line[1].release();
    rate = 0;
  }
  void clear() {
    line[0].clear();
    line[1].clear();
    peak = level = 0;
  }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n) {
      const double in = std::max(std::fabs(s[2 * n]), std::fabs(s[2 * n + 1]));
      peak = tame(std::max(in, peak * release_keep));
      level = peak > level ? level + (peak - level) * attack : peak;
      const double gain = makeup * (level > threshold ? std::pow(level / threshold, exponent) : 1.0);
      for (int ch = 0; ch < 2; ++ch) {
        float x = s[2 * n + ch];
        if (predelay > 0) {
          const float late = line[ch].tap(predelay);
          line[ch].push(x);
          x = late;
        }
        s[2 * n + ch] = static_cast<float>(x * gain);
      }
    }
  }
};

// Distortion: low-pass at fPreLowpassCutoff, a tanh waveshaper whose drive grows with fEdge
// (normalised so full scale stays full scale; near edge 0 it is almost linear), then a band-pass
// at the post-EQ centre and bandwidth that shapes the harmonics, then fGain.
struct Distortion {
  int rate = 0;
  Biquad pre, post;
  double drive = 1, drive_norm = 1, gain = 1;

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      clear();
    }
    const double top = 0.45 * rate;  // corner frequencies stay below the Nyquist frequency
    gain = db_to_gain(p[0]);
    drive = 0.05 + 0.3 * p[1];
    drive_norm = 1 / std::tanh(drive);
    const double centre = std::min(p[2], top);
    post.bandpass(centre, centre / p[3], rate);
    pre.lowpass(std::min(p[4], top), std::sqrt(0.5), rate);
  }
  void release() { rate = 0; }
  void clear() {
    pre.clear();
    post.clear();
  }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n)
      for (int ch = 0; ch < 2; ++ch) {
        const double x = pre.run(ch, s[2 * n + ch]);
        const double shaped = std::tanh(drive * x) * drive_norm;
        s[2 * n + ch] = static_cast<float>(post.run(ch, shaped) * gain);
      }
  }
};

// Echo: one delay line per channel with feedback; with lPanDelay the feedback crosses over, so a
// left echo comes back on the right after the right delay, then on the left again, and so on.
struct Echo {
  DelayLine line[2];
  int rate = 0;
  int delay[2] = {1, 1};
  double dry = 1, wet = 0, feedback = 0;
  bool swap = false;

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      const int size = 2 * rate + 1;  // 2000 ms, the longest delay
      line[0].allocate(size);
      line[1].allocate(size);
    }
    wet = p[0] / 100;
    dry = 1 - wet;
    feedback = p[1] / 100;
    delay[0] = std::max(1, ms_to_samples(p[2], rate));
    delay[1] = std::max(1, ms_to_samples(p[3], rate));
    swap = p[4] == 1;
  }
  void release() {
    line[0].release();
    line[1].release();
    rate = 0;
  }
  void clear() {
    line[0].clear();
    line[1].clear();
  }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n) {
      const float echo[2] = {line[0].tap(delay[0]), line[1].tap(delay[1])};
      for (int ch = 0; ch < 2; ++ch) {
        const float x = s[2 * n + ch];
        const float returned = echo[swap ? 1 - ch : ch];
        line[ch].push(tame(static_cast<float>(x + feedback * returned)));
        s[2 * n + ch] = static_cast<float>(dry * x + wet * echo[ch]);
      }
    }
  }
};

// Gargle: the sound times a 0..1 modulator at dwRateHz, a triangle (0 up to 1 and back) or a square
// (1 for the first half of each period, 0 for the second).
struct Gargle {
  int rate = 0;
  double step = 0, phase = 0;
  bool square = false;

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      phase = 0;
    }
    step = p[0] / rate;
    square = p[1] == 1;
  }
  void release() { rate = 0; }
  void clear() { phase = 0; }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n) {
      const double m = square ? (phase < 0.5 ? 1.0 : 0.0) : (phase < 0.5 ? 2 * phase : 2 - 2 * phase);
      s[2 * n] = static_cast<float>(s[2 * n] * m);
      s[2 * n + 1] = static_cast<float>(s[2 * n + 1] * m);
      phase += step;
      if (phase >= 1) phase -= 1;
    }
  }
};

// Parametric EQ: one peaking filter; the centre is held at a third of the rate, as the platform
// requires of the buffer's rate, which also keeps the band clear of the Nyquist frequency.
struct ParamEq {
  int rate = 0;
  Biquad filter;

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      filter.clear();
    }
    filter.peaking(std::min(p[0], rate / 3.0), p[1] / 12, p[2], rate);
  }
  void release() { rate = 0; }
  void clear() { filter.clear(); }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n)
      for (int ch = 0; ch < 2; ++ch) s[2 * n + ch] = static_cast<float>(filter.run(ch, s[2 * n + ch]));
  }
};

// Reverb: a Schroeder/Freeverb network per channel, eight parallel feedback combs into four series
// all-passes, the right channel's lines a little longer for width. Each comb's loop gain is set so
// that its sound falls 60 dB in fReverbTime; a crossover in the loop (a one-pole low-pass at 4 kHz)
// gives the band above it the loop gain for fReverbTime * fHighFreqRTRatio instead.
struct Reverb {
  static constexpr int kCombs = 8;
  static constexpr int kAllpasses = 4;
  // Freeverb's tunings in samples at 44.1 kHz, scaled to the rate.
  static constexpr int kCombTuning[kCombs] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
  static constexpr int kAllpassTuning[kAllpasses] = {556, 441, 341, 225};
  static constexpr int kStereoSpread = 23;
  static constexpr double kAllpassGain = 0.5;
  static constexpr double kCrossoverHz = 4000;
  // The eight combs add up; this brings a steady sound's reverberation near the level of the sound.
  static constexpr double kWetScale = 0.12;

  struct Comb {
    DelayLine line;
    float low = 0;  // the crossover's low-pass state
    double keep_low = 0, keep_high = 0;
  };
  Comb combs[2][kCombs];
  DelayLine allpasses[2][kAllpasses];
  int rate = 0;
  double in_gain = 1, mix = 1, crossover = 0;

  static int scaled(int samples, int rate) { return std::max(1, static_cast<int>(std::lround(samples * (rate / 44100.0)))); }

  void setup(const Params& p, int sample_rate) {
    if (rate != sample_rate) {
      rate = sample_rate;
      for (int ch = 0; ch < 2; ++ch) {
        for (int i = 0; i < kCombs; ++i) {
          combs[ch][i].line.allocate(scaled(kCombTuning[i] + ch * kStereoSpread, rate));
          combs[ch][i].low = 0;
        }
        for (int i = 0; i < kAllpasses; ++i) allpasses[ch][i].allocate(scaled(kAllpassTuning[i] + ch * kStereoSpread, rate));
      }
    }
    in_gain = db_to_gain(p[0]);
    mix = db_to_gain(p[1]);
    const double time = p[2] / 1000, high_time = time * p[3];
    for (auto& side : combs)
      for (Comb& c : side) {
        // A loop of d samples passes 60 dB / (time / d seconds) of decay each turn.
        const double seconds = static_cast<double>(c.line.size()) / rate;
        c.keep_low = std::pow(10.0, -3 * seconds / time);
        c.keep_high = std::pow(10.0, -3 * seconds / high_time);
      }
    crossover = 1 - std::exp(-2 * kPi * std::min(kCrossoverHz, 0.4 * rate) / rate);
  }
  void release() {
    for (auto& side : combs)
      for (Comb& c : side) c.line.release();
    for (auto& side : allpasses)
      for (DelayLine& a : side) a.release();
    rate = 0;
  }
  void clear() {
    for (auto& side : combs)
      for (Comb& c : side) {
        c.line.clear();
        c.low = 0;
      }
    for (auto& side : allpasses)
      for (DelayLine& a : side) a.clear();
  }
  void process(float* s, int frames) {
    for (int n = 0; n < frames; ++n) {
      const float x[2] = {static_cast<float>(s[2 * n] * in_gain), static_cast<float>(s[2 * n + 1] * in_gain)};
      const float input = 0.5f * (x[0] + x[1]);
      for (int ch = 0; ch < 2; ++ch) {
        float sum = 0;
        for (Comb& c : combs[ch]) {
          const float out = c.line.tap(c.line.size());
          c.low = tame(static_cast<float>(c.low + crossover * (out - c.low)));
          const double loop = c.keep_low * c.low + c.keep_high * (out - c.low);
          c.line.push(tame(static_cast<float>(input + loop)));
          sum += out;
        }
        for (DelayLine& a : allpasses[ch]) {
          // w[n] = x[n] + g w[n-d], y[n] = w[n-d] - g w[n]: flat magnitude, smeared phase.
          const float old = a.tap(a.size());
          const float w = tame(static_cast<float>(sum + kAllpassGain * old));
          a.push(w);
          sum = static_cast<float>(old - kAllpassGain * w);
        }
        s[2 * n + ch] = static_cast<float>(x[ch] + mix * kWetScale * sum);
      }
    }
  }
};

}  // namespace

std::span<const EffectInfo, kEffectCount> effect_table() { return std::span<const EffectInfo, kEffectCount>(kEffects); }

EffectWords default_effect_words(int effect) {
  EffectWords words{};
  if (effect < 0 || effect >= kEffectCount) return words;
  const EffectInfo& info = kEffects[effect];
  for (int i = 0; i < info.param_count; ++i) {
    const EffectParam& p = info.params[i];
    words[i] = p.kind == ParamKind::real ? std::bit_cast<std::uint32_t>(p.fallback)
                                         : static_cast<std::uint32_t>(static_cast<std::int32_t>(p.fallback));
  }
  return words;
}

EffectWordTable default_effect_word_table() {
  EffectWordTable table{};
  for (int e = 0; e < kEffectCount; ++e) table[e] = default_effect_words(e);
  return table;
}

bool effect_words_valid(int effect, const EffectWords& words, int buffer_rate) {
  if (effect < 0 || effect >= kEffectCount) return false;
  const EffectInfo& info = kEffects[effect];
  for (int i = 0; i < info.param_count; ++i) {
    const EffectParam& p = info.params[i];
    if (p.kind == ParamKind::real) {
      const float v = std::bit_cast<float>(words[i]);
      if (!(v >= p.min && v <= p.max)) return false;  // also refuses NaN
    } else {
      const std::int32_t v = static_cast<std::int32_t>(words[i]);
      if (v < static_cast<std::int32_t>(p.min) || v > static_cast<std::int32_t>(p.max)) return false;
    }
  }
  if (info.bit == kEffectParamEq && buffer_rate > 0 && std::bit_cast<float>(words[0]) * 3.0 > buffer_rate) return false;
  return true;
}

struct EffectChain::Effects {
  ModulatedDelay chorus{20.0};
  Compressor compressor;
  Distortion distortion;
  Echo echo;
  ModulatedDelay flanger{4.0};
  Gargle gargle;
  ParamEq param_eq;
  Reverb reverb;

  // Calls f(effect number, processor) for each of the eight, in bit order.
  template <typename F>
  void each(F f) {
    f(0, chorus);
    f(1, compressor);
    f(2, distortion);
    f(3, echo);
    f(4, flanger);
    f(5, gargle);
    f(6, param_eq);
    f(7, reverb);
  }
};

EffectChain::EffectChain() : effects_(std::make_unique<Effects>()) {}
EffectChain::~EffectChain() = default;
EffectChain::EffectChain(EffectChain&&) noexcept = default;
EffectChain& EffectChain::operator=(EffectChain&&) noexcept = default;

void EffectChain::configure(std::uint32_t mask, const EffectWordTable& words, int sample_rate) {
  if (!effects_) effects_ = std::make_unique<Effects>();
  const int rate = std::clamp(sample_rate, 8000, 192000);
  mask &= kAllEffects;
  effects_->each([&](int e, auto& fx) {
    if (mask & (1u << e)) fx.setup(read_params(e, words[static_cast<std::size_t>(e)]), rate);
    else fx.release();
  });
  mask_ = mask;
}

void EffectChain::process(float* interleaved_stereo, int frames) {
  if (!effects_ || mask_ == 0 || frames <= 0) return;
  effects_->each([&](int e, auto& fx) {
    if (mask_ & (1u << e)) fx.process(interleaved_stereo, frames);
  });
}

void EffectChain::reset() {
  if (!effects_) return;
  effects_->each([&](int e, auto& fx) {
    if (mask_ & (1u << e)) fx.clear();
  });
}

}  // namespace talven::sound
