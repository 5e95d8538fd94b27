// The eight per-slot sound effects games set with snd_setchorus ... snd_setreverb: chorus,
// compressor, distortion, echo, flanger, gargle, parametric EQ and reverb, as plain DSP on one
// voice's stereo float samples at the mixer's rate.
//
// A game hands each effect's parameters as 32-bit words in the field order of the DirectX 8 DSFX
// structures (DSFXChorus, DSFXCompressor, ...): floats as their IEEE bits, integers as ints. The
// table below records, for each effect, those fields with their ranges, defaults and units; the
// built-ins validate a game's words with effect_words_valid() and the manual lists the table.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace talven::sound {

inline constexpr int kEffectCount = 8;
inline constexpr int kMaxEffectParams = 7;

// Bits of the effect mask, in processing order (the chain runs effects from the lowest bit up).
enum EffectBit : std::uint32_t {
  kEffectChorus = 1,
  kEffectCompressor = 2,
  kEffectDistortion = 4,
  kEffectEcho = 8,
  kEffectFlanger = 16,
  kEffectGargle = 32,
  kEffectParamEq = 64,
  kEffectReverb = 128,
};
inline constexpr std::uint32_t kAllEffects = 255;

// One effect's parameter words, in the platform structure's field order; unused words are ignored.
using EffectWords = std::array<std::uint32_t, kMaxEffectParams>;
// The words of all eight effects, indexed by effect number (bit = 1 << number).
using EffectWordTable = std::array<EffectWords, kEffectCount>;

enum class ParamKind : std::uint8_t {
  real,     // a float, passed as its IEEE bits
  integer,  // a signed 32-bit int (LONG or DWORD fields; negative DWORDs are out of range anyway)
};

struct EffectParam {
  const char* field;    // the platform structure's field name, e.g. "fWetDryMix"
  ParamKind kind;
  float min;            // inclusive range, as the platform documents it
  float max;
  float fallback;       // the platform's default
  const char* unit;     // "%", "ms", "Hz", "dB", "semitones", "" for plain numbers
  const char* meaning;  // one line for the manual
};

struct EffectInfo {
  std::uint32_t bit;      // the effect's bit in the mask
  const char* name;       // "chorus", as in snd_setchorus
  const char* structure;  // the platform structure the words follow, e.g. "DSFXChorus"
  int param_count;
  std::array<EffectParam, kMaxEffectParams> params;
};

// The eight effects, indexed by effect number (0 chorus ... 7 reverb).
std::span<const EffectInfo, kEffectCount> effect_table();

// The platform's default words of one effect (0..7), and of all of them.
EffectWords default_effect_words(int effect);
EffectWordTable default_effect_word_table();

// Whether every used word of one effect is inside the platform's range (NaN is refused). The
// parametric EQ's centre must also not exceed a third of the sound buffer's rate when buffer_rate
// is given (0 skips that check). On false the caller keeps the defaults for this effect and the
// ones after it, as the platform's "a failure ends the step" does.
bool effect_words_valid(int effect, const EffectWords& words, int buffer_rate = 0);

// The effects of one voice. configure() may allocate and runs off the audio thread; process() and
// reset() never allocate nor lock. The caller keeps configure() and process() from running at the
// same time.
class EffectChain {
 public:
  EffectChain();
  ~EffectChain();
  EffectChain(EffectChain&&) noexcept;
  EffectChain& operator=(EffectChain&&) noexcept;
  EffectChain(const EffectChain&) = delete;
  EffectChain& operator=(const EffectChain&) = delete;

  // Enables the effects of `mask` with their words (values outside the range are clamped, NaN
  // takes the default, so the chain stays sound even with unchecked words) at `sample_rate`
  // (clamped to 8000..192000). An effect that stays enabled at the same rate keeps its state, so
  // an echo or reverb tail in flight goes on with the new settings; a newly enabled one starts
  // clear. Disabled effects free their memory.
  void configure(std::uint32_t mask, const EffectWordTable& words, int sample_rate);

  // Runs the enabled effects, lowest bit first, over `frames` interleaved stereo frames in place.
  void process(float* interleaved_stereo, int frames);

  // Clears delay lines, filters and oscillators, as for a sound started anew.
  void reset();

  std::uint32_t mask() const { return mask_; }

 private:
  struct Effects;
  std::unique_ptr<Effects> effects_;
  std::uint32_t mask_ = 0;
};

}  // namespace talven::sound
