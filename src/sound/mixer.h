// The software mixer: 64 voices, one per sound slot, each a ring of PCM in its source's format
// with a play cursor, mixed in float into one stereo output at the output's rate.
//
// A voice behaves as the platform's secondary sound buffers did: it plays once or looping from
// its cursor, the cursor (a byte offset) advances as the sound is consumed, a non-looping voice
// stops at its end, and its data can be rewritten while it plays (streams refill the half that is
// not playing). Volume and pan are in hundredths of a decibel, frequency in Hz (0: the source's).
//
// Who may call what: render() only from the output's thread; everything else from any thread.
// Every call holds the mixer's lock briefly; render holds it while it mixes one block. Nothing
// render does allocates: buffers, resamplers and effect state are made by the other calls.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace talven::sound {

struct PcmFormat {
  int channels = 2;
  int rate = 44100;
  int bits = 16;
  int block_align() const { return channels * bits / 8; }
  std::uint32_t bytes_per_second() const { return static_cast<std::uint32_t>(rate) * static_cast<std::uint32_t>(block_align()); }
};

// The limits of frequency changes, as the platform kept them.
inline constexpr std::uint32_t kMinFrequency = 100, kMaxFrequency = 100000;
inline constexpr int kVoices = 64;
inline constexpr int kSilentVolume = -10000;

// What the mixer asks of a voice's effects: process its stereo frames in place (output thread,
// without allocating), and forget their state when the voice starts again.
class VoiceEffects {
 public:
  virtual ~VoiceEffects() = default;
  virtual void process(float* interleaved_stereo, int frames) = 0;
  virtual void reset() = 0;
};

// A source of its own, mixed after the voices and outside their master volume and pan: MIDI
// music, CD audio. It keeps its own volume and lock.
class MixerChannel {
 public:
  virtual ~MixerChannel() = default;
  // Adds `frames` stereo frames of its sound into `out` (output thread: never allocates, and
  // holds its lock only as long as one block takes).
  virtual void mix_into(float* out, int frames) = 0;
};

class Mixer {
 public:
  explicit Mixer(int output_rate);
  ~Mixer();
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  int output_rate() const { return output_rate_; }

  // A voice of `bytes` bytes of silence in `format`; false when the format cannot be played
  // (only 8- and 16-bit PCM with one or two channels at 1 Hz ... 200 kHz can). Replaces the voice.
  bool create(int voice, const PcmFormat& format, std::uint32_t bytes, bool effects_allowed);
  void release(int voice);
  bool exists(int voice);

  // Writes `n` bytes at `offset`, wrapping at the end of the ring.
  void write(int voice, std::uint32_t offset, const std::uint8_t* data, std::uint32_t n);
  void play(int voice, bool looping);
  void stop(int voice);
  bool playing(int voice);
  bool looping(int voice);
  std::uint32_t cursor(int voice);
  void set_cursor(int voice, std::uint32_t position);  // past the end: refused, the cursor stays
  PcmFormat format(int voice);
  std::uint32_t size(int voice);
  bool effects_allowed(int voice);

  int volume(int voice);  // hundredths of a decibel, -10000 ... 0
  void set_volume(int voice, int hundredths);
  int pan(int voice);  // -10000 (left only) ... 10000 (right only)
  void set_pan(int voice, int hundredths);
  std::uint32_t frequency(int voice);  // the rate the voice plays at
  void set_frequency(int voice, std::uint32_t hz);  // 0: the source's own rate

  // The effects applied to the voice from its next play on, in bit order; mask 0: none.
  void set_effects(int voice, std::unique_ptr<VoiceEffects> effects);

  int master_volume();
  void set_master_volume(int hundredths);
  int master_pan();
  void set_master_pan(int hundredths);

  // The channel is mixed from the next block on, until detached; detach returns once render no
  // longer uses it, so the channel may then be destroyed. At most kChannels at once.
  static constexpr int kChannels = 4;
  bool attach(MixerChannel* channel);
  void detach(MixerChannel* channel);

  // Fills `frames` stereo frames with the mix (output thread).
  void render(float* out, int frames);

  struct Voice;  // one voice's ring, cursor and settings (mixer.cpp)

 private:
  Voice* voice_of(int voice);  // under the lock; nullptr when absent
  void mix_voice(Voice& v, float* out, int frames);

  const int output_rate_;
  std::mutex mutex_;
  std::array<std::unique_ptr<Voice>, kVoices> voices_;
  int master_volume_ = 0, master_pan_ = 0;
  float master_left_ = 1, master_right_ = 1;
  std::vector<float> scratch_in_, scratch_voice_, scratch_mono_;
  // Taken by render after the voices' lock, never together with it.
  std::mutex channels_mutex_;
  std::array<MixerChannel*, kChannels> channels_{};
};

// Decibel hundredths to a linear gain, and the left and right gains of a pan.
float gain_of(int hundredths);
void pan_gains(int pan, float& left, float& right);

}  // namespace talven::sound
