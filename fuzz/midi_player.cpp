// MIDI files of any bytes through the whole reading path of music: the scan decides, and what it
// lets through is handed to the synthesiser's player, which reads it and plays a second of it.
#include <cstdint>
#include <string_view>
#include <vector>

#include "sound/midi_music.h"

using namespace talven::sound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static OfflineMidi synth(8000, "");
  const auto playable = playable_midi_file(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!playable || !synth.play(*playable)) return 0;
  std::vector<float> out(2 * 800);
  for (int block = 0; block < 10; ++block) synth.render(out.data(), 800);
  return 0;
}
