// The effects a voice plays through, from the parameters a slot recorded.
//
// As the platform applied them at play: the chain holds every recorded effect in bit order, each
// first with its defaults; then each is given its recorded parameters in the same order, and the
// first that is refused (a value out of its range) ends that step, so it and the ones after it
// keep their defaults.
#include "sound/mixer.h"
#include "sound/sound_effects.h"
#include "sound/sound_slots.h"

namespace talven::sound {
namespace {

class ChainOfEffects final : public VoiceEffects {
 public:
  ChainOfEffects(std::uint32_t mask, const EffectWordTable& words, int rate) { chain_.configure(mask, words, rate); }
  void process(float* interleaved_stereo, int frames) override { chain_.process(interleaved_stereo, frames); }
  void reset() override { chain_.reset(); }

 private:
  EffectChain chain_;
};

}  // namespace

std::unique_ptr<VoiceEffects> make_voice_effects(std::uint32_t mask,
                                                 const std::array<std::array<std::uint32_t, 7>, 8>& recorded,
                                                 int buffer_rate, int mixer_rate) {
  if (mask == 0) return nullptr;
  EffectWordTable words = default_effect_word_table();
  for (int effect = 0; effect < kEffectCount; ++effect) {
    if ((mask & (1u << effect)) == 0) continue;
    EffectWords given{};
    for (std::size_t i = 0; i < given.size() && i < recorded[static_cast<std::size_t>(effect)].size(); ++i)
      given[i] = recorded[static_cast<std::size_t>(effect)][i];
    if (!effect_words_valid(effect, given, buffer_rate)) break;
    words[static_cast<std::size_t>(effect)] = given;
  }
  return std::make_unique<ChainOfEffects>(mask, words, mixer_rate);
}

}  // namespace talven::sound
