// RIFF wave files of any bytes: refused, or a source that delivers exactly its data chunk, seeks
// inside it and nowhere else, and whose format, when the mixer takes it, plays in a voice whose
// output stays finite and inside [-1, 1].
// Input that does not start with "RIFF" gets a RIFF "WAVE" header in front, so the fuzzer works on
// the chunks and every input takes the wave path (an "OggS" start included).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sound/mixer.h"
#include "sound/sound_source.h"

using namespace talven::sound;

namespace {

std::string riff_of(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.compare(0, 4, "RIFF") == 0) return bytes;
  const std::uint32_t riff_size = static_cast<std::uint32_t>(size + 4);
  std::string header = "RIFF";
  for (int i = 0; i < 4; ++i) header += static_cast<char>(riff_size >> (8 * i));
  return header + "WAVE" + bytes;
}

// The whole PCM, `chunk` bytes per call; the delivered count must be the data chunk's size.
std::vector<std::uint8_t> deliver_all(SoundSource& source, std::uint32_t chunk) {
  std::vector<std::uint8_t> pcm;
  std::vector<std::uint8_t> buffer(chunk);
  for (std::uint32_t calls = 0;; ++calls) {
    if (calls > source.total_bytes() / chunk + 1) std::abort();  // a wave source must end
    const std::uint32_t got = source.deliver(buffer.data(), chunk);
    if (got > chunk) std::abort();
    pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + got);
    if (got < chunk) break;
  }
  if (pcm.size() != source.total_bytes()) std::abort();
  return pcm;
}

void check_seek(SoundSource& source, const std::vector<std::uint8_t>& pcm, std::uint32_t position) {
  const bool inside = position < pcm.size();
  if (source.seek(position) != inside) std::abort();
  if (!inside) return;
  std::uint8_t buffer[64];
  const std::uint32_t got = source.deliver(buffer, sizeof buffer);
  if (got != std::min<std::size_t>(sizeof buffer, pcm.size() - position)) std::abort();
  for (std::uint32_t i = 0; i < got; ++i)
    if (buffer[i] != pcm[position + i]) std::abort();
}

void play_in_mixer(const PcmFormat& format, const std::vector<std::uint8_t>& pcm, std::uint8_t knob) {
  Mixer mixer(48000);
  const bool playable = (format.bits == 8 || format.bits == 16) && format.channels >= 1 && format.channels <= 2 &&
                        format.rate >= 1 && format.rate <= 200000;
  // A ring no larger than the data (plus a little, so an empty file still gets a voice).
  const std::uint32_t bytes = static_cast<std::uint32_t>(std::min<std::size_t>(pcm.size() + 4, 1 << 16));
  if (mixer.create(0, format, bytes, true) != playable) std::abort();
  if (!playable) return;
  if (!pcm.empty()) mixer.write(0, 0, pcm.data(), static_cast<std::uint32_t>(pcm.size()));
  mixer.set_volume(0, -100 * (knob & 7));
  mixer.set_pan(0, 1000 * ((knob >> 3) & 7) - 3000);
  mixer.set_frequency(0, (knob & 0x40) ? 0 : static_cast<std::uint32_t>(format.rate) * (1 + (knob >> 7)) + knob);
  mixer.play(0, (knob & 1) != 0);
  float out[2 * 1024];
  for (int frames : {1024, 333, 1, 1024}) {
    mixer.render(out, frames);
    for (int i = 0; i < 2 * frames; ++i)
      if (!std::isfinite(out[i]) || out[i] < -1.0f || out[i] > 1.0f) std::abort();
    if (mixer.cursor(0) > mixer.size(0)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<SoundSource> source = SoundSource::open(riff_of(data, size));
  if (!source) return 0;
  if (source->is_ogg() || source->comment()) std::abort();
  const std::uint8_t knob = size > 0 ? data[size - 1] : 0;
  const std::vector<std::uint8_t> pcm = deliver_all(*source, 1 + knob * 37u);
  source->rewind_wave();
  if (deliver_all(*source, 4096) != pcm) std::abort();
  const std::uint32_t total = static_cast<std::uint32_t>(pcm.size());
  for (std::uint32_t position : {0u, total / 2, total - std::min(total, 1u), total, total + 1, 0xFFFFFFFFu})
    check_seek(*source, pcm, position);
  play_in_mixer(source->format(), pcm, knob);
  return 0;
}
