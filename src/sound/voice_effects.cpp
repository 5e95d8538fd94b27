// The effects a voice plays through. The eight effects are not built yet: a slot records its
// effect parameters, and its voice plays without them.
#include "sound/mixer.h"
#include "sound/sound_slots.h"

namespace talven::sound {

std::unique_ptr<VoiceEffects> make_voice_effects(std::uint32_t, const std::array<std::array<std::uint32_t, 7>, 8>&, int) {
  return nullptr;
}

}  // namespace talven::sound
