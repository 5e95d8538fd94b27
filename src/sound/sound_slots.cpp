#include "sound/sound_slots.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/pack_file.h"
#include "platform/text_encoding.h"
#include "sound/audio_engine.h"
#include "sound/mixer.h"
#include "sound/sound_source.h"
#include "vm/report.h"

namespace talven::sound {
namespace {

struct Slot {
  std::string name;
  int loop = 0;         // a whole slot's looping; 1 for a playing stream
  int pause_count = 0;
  bool has_buffer = false;
  bool streamed = false;
  std::uint32_t effect_mask = 0;
  std::array<std::array<std::uint32_t, 7>, 8> effect_words{};
  // What the load read of the file, kept after a whole slot dropped its source.
  PcmFormat format;
  bool is_ogg = false;
  std::uint32_t total_bytes = 0;
  std::uint64_t total_samples = 0;

  // The stream: the source and the fields its thread shares with the window thread, under `lock`.
  std::mutex lock;
  std::unique_ptr<SoundSource> source;
  std::thread thread;
  std::atomic<bool> stop_request{false};
  std::atomic<bool> ended{false};
  int stream_loop = 0;
  std::atomic<std::uint32_t> written{0};
  std::uint32_t ring_size = 0;
  std::uint32_t position_base = 0, loop_point = 0;
  std::vector<std::uint8_t> half;  // a refill's bytes, made at load so the thread never allocates
};

std::array<Slot, kSlots> g_slots;
// The audio engine's mixer while the sound slots are up (DirectSound on), else null.
Mixer* g_mixer = nullptr;
std::uint32_t g_margin_ms = 0;

bool valid_slot(int slot) { return slot >= 0 && slot < kSlots; }

// Runs `operation` on every slot in order, stopping at the first that fails.
template <typename Operation>
std::uint32_t every_slot(Operation operation) {
  for (int slot = 0; slot < kSlots; ++slot)
    if (operation(slot) == 0) return 0;
  return 1;
}

void report_message(const char* utf8) { vm::report(1, "%s", platform::cp932(utf8)); }

// ---- Streams -----------------------------------------------------------------------------------

// Writes one half of the ring from the source (under the slot's lock).
void refill(int index, int which_half) {
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  std::lock_guard lock(s.lock);
  if (s.ended) g_mixer->stop(index);
  if (!s.source) return;
  const std::uint32_t half = s.ring_size / 2;
  std::uint8_t* out = s.half.data();
  std::uint32_t filled = 0, delivered = 0;
  bool looped_back = false;
  while (filled < half) {
    const std::uint32_t got = s.source->deliver(out + filled, half - filled);
    delivered += got;
    filled += got;
    if (filled >= half) break;
    if (s.stream_loop == 0) {
      if (got == 0 && delivered == 0) s.ended = true;
      break;  // the rest is silence already
    }
    // Back to the loop point; a source that gives nothing from there plays silence instead of
    // turning this loop for ever.
    if (got == 0 && looped_back) break;
    looped_back = got == 0;
    if (s.source->is_ogg())
      s.source->seek(s.loop_point);
    else if (!s.source->seek(s.loop_point))
      s.source->seek(0);
  }
  g_mixer->write(index, half * static_cast<std::uint32_t>(which_half), out, half);
  s.written += delivered;
}

void stream_thread(int index) {
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  bool fill = true;  // the first half was filled before the thread began
  while (!s.stop_request) {
    const std::uint32_t cursor = g_mixer->cursor(index);
    const bool second_half = cursor >= s.ring_size / 2;
    if (second_half && !fill) {
      refill(index, 0);
      fill = true;
    } else if (!second_half && fill) {
      refill(index, 1);
      fill = false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void end_stream_thread(Slot& s) {
  if (!s.thread.joinable()) return;
  s.stop_request = true;
  s.thread.join();
  s.stop_request = false;
}

// ---- Effects -----------------------------------------------------------------------------------

// The recorded effects go to the voice at each play, when its buffer takes effects.
void apply_effects(int index) {
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!g_mixer->effects_allowed(index) || s.effect_mask == 0) {
    g_mixer->set_effects(index, nullptr);
    return;
  }
  g_mixer->set_effects(index, make_voice_effects(s.effect_mask, s.effect_words, s.format.rate, g_mixer->output_rate()));
}

}  // namespace

// ---- Conversions -------------------------------------------------------------------------------

namespace {
std::int32_t hundredths_of_fraction(float x) {
  if (x <= 0.002f) return kSilentVolume;
  return static_cast<std::int32_t>(std::log10(x) * 3322.0f);
}
double fraction_of_hundredths(std::int32_t value) {
  if (value <= kSilentVolume) return 0.0;
  return std::pow(10.0, value / 33.22 / 100.0);
}
}  // namespace

std::int32_t volume_to_hundredths(std::int32_t volume) {
  return hundredths_of_fraction(static_cast<float>(std::clamp(volume, 0, 100)) / 100.0f);
}

std::int32_t hundredths_to_volume(std::int32_t hundredths) {
  return static_cast<std::int32_t>(fraction_of_hundredths(hundredths) * 100.0);
}

std::int32_t pan_to_hundredths(std::int32_t pan) {
  pan = std::clamp(pan, -100, 100);
  const std::int32_t a = hundredths_of_fraction(1.0f - static_cast<float>(std::abs(pan)) / 100.0f);
  return pan > 0 ? -a : a;
}

std::int32_t hundredths_to_pan(std::int32_t p) {
  const std::int32_t r = static_cast<std::int32_t>((1.0 - fraction_of_hundredths(-std::abs(p))) * 100.0);
  return p < 0 ? -r : r;
}

std::int32_t clamp_frequency(std::int32_t hz) {
  if (hz == 0) return 0;
  if (hz < static_cast<std::int32_t>(kMinFrequency)) return static_cast<std::int32_t>(kMinFrequency);
  return std::min(hz, static_cast<std::int32_t>(kMaxFrequency));
}

// ---- The sound system --------------------------------------------------------------------------

bool sound_available() { return g_mixer != nullptr; }

void start_sound_system() {
  stop_sound_system();
  g_mixer = open_audio_engine();
  if (g_mixer == nullptr)
    report_message("DirectSound の初期化に失敗しました。\n現在の環境ではサウンドは再生されません。");
}

void stop_sound_system() {
  if (g_mixer) slot_free(-1);
  g_mixer = nullptr;
  g_margin_ms = 0;
}

void set_margin(std::uint32_t ms) { g_margin_ms = ms; }

// ---- Loading -----------------------------------------------------------------------------------

std::uint32_t slot_load(int index, const std::string& name, bool stream) {
  if (!valid_slot(index)) return 0;
  slot_free(index);
  if (!g_mixer || name.empty()) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  std::string bytes;
  if (!archive::read_whole_exp_file(name.c_str(), archive::kMaxContentSize, bytes)) return 0;
  std::unique_ptr<SoundSource> source = SoundSource::open(std::move(bytes));
  if (!source) return 0;

  const PcmFormat format = source->format();
  const std::uint32_t block = static_cast<std::uint32_t>(std::max(format.block_align(), 1));
  const std::uint64_t per_second = std::uint64_t(format.rate) * block;
  std::uint64_t length = 0;
  if (stream) {
    length = 2 * per_second;
  } else {
    const std::uint64_t margin = std::uint64_t(format.rate) * g_margin_ms / 1000 * block;
    length = std::uint64_t(source->total_bytes()) + margin;
  }
  const bool effects = stream || (per_second > 0 && length * 1000 / per_second >= 150);
  // The platform refused buffers under four bytes and over 256 MiB.
  if (length < 4 || length > 0x0FFFFFFF || !g_mixer->create(index, format, static_cast<std::uint32_t>(length), effects)) {
    report_message("DirectSound::CreateSoundBuffer に失敗しました。");
    return 0;
  }
  s.has_buffer = true;
  s.name = name.substr(0, 259);
  s.format = format;
  s.is_ogg = source->is_ogg();
  s.total_bytes = source->total_bytes();
  s.total_samples = source->total_samples();
  if (!stream) {
    std::vector<std::uint8_t> pcm(static_cast<std::size_t>(length), format.bits == 8 ? 128 : 0);
    source->deliver(pcm.data(), source->total_bytes());
    g_mixer->write(index, 0, pcm.data(), static_cast<std::uint32_t>(pcm.size()));
    s.streamed = false;
    return 1;  // a whole slot keeps only its buffer and name
  }
  std::lock_guard lock(s.lock);
  s.streamed = true;
  s.ring_size = g_mixer->size(index);
  s.half.assign(s.ring_size / 2, 0);
  s.source = std::move(source);
  return 1;
}

std::uint32_t slot_free(int index) {
  if (index == -1) return every_slot(slot_free);
  if (!valid_slot(index)) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (g_mixer && s.has_buffer) {
    g_mixer->stop(index);
    if (s.streamed) g_mixer->set_volume(index, kSilentVolume);
  }
  end_stream_thread(s);
  if (g_mixer) g_mixer->release(index);
  std::lock_guard lock(s.lock);
  s.source.reset();
  s.half.clear();
  s.half.shrink_to_fit();
  s.name.clear();
  s.loop = s.pause_count = 0;
  s.has_buffer = s.streamed = false;
  s.effect_mask = 0;
  s.effect_words = {};
  s.ended = false;
  s.stream_loop = 0;
  s.written = 0;
  s.ring_size = s.position_base = s.loop_point = 0;
  s.format = PcmFormat{};
  s.is_ogg = false;
  s.total_bytes = 0;
  s.total_samples = 0;
  return 1;
}

// ---- Playing -----------------------------------------------------------------------------------

std::uint32_t slot_play(int index, int loop) {
  if (!valid_slot(index) || !g_mixer) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer) return 0;
  if (!s.streamed) {
    s.pause_count = 0;
    s.loop = loop;
    g_mixer->stop(index);
    g_mixer->set_cursor(index, 0);
    apply_effects(index);
    g_mixer->play(index, loop != 0);
    return 1;
  }
  if (!s.source) return 0;
  s.pause_count = 0;
  g_mixer->stop(index);
  end_stream_thread(s);
  g_mixer->set_cursor(index, 0);
  apply_effects(index);
  {
    std::lock_guard lock(s.lock);
    s.loop = 1;
    s.ended = false;
    s.stream_loop = loop;
    s.written = 0;
    s.source->rewind_wave();
  }
  refill(index, 0);
  g_mixer->play(index, true);
  s.thread = std::thread(stream_thread, index);
  return 1;
}

std::uint32_t slot_stop(int index) {
  if (index == -1) return every_slot(slot_stop);
  if (!valid_slot(index) || !g_mixer) return 0;
  if (!g_slots[static_cast<std::size_t>(index)].has_buffer) return 1;
  if (!g_mixer->playing(index)) return 1;
  g_mixer->stop(index);
  g_mixer->set_cursor(index, 0);
  return 1;
}

std::uint32_t slot_pause(int index) {
  if (index == -1) return every_slot(slot_pause);
  if (!valid_slot(index) || !g_mixer) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer) return 1;
  if (s.pause_count >= 1) ++s.pause_count;
  if (g_mixer->playing(index)) {
    s.pause_count = 1;
    g_mixer->stop(index);
  }
  return 1;
}

std::uint32_t slot_replay(int index) {
  if (index == -1) return every_slot(slot_replay);
  if (!valid_slot(index) || !g_mixer) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer || s.pause_count == 0) return 1;
  if (--s.pause_count == 0) g_mixer->play(index, s.loop != 0);
  return 1;
}

void pause_all_slots() {
  if (g_mixer) slot_pause(-1);
}

void replay_all_slots() {
  if (g_mixer) slot_replay(-1);
}

// ---- Settings ----------------------------------------------------------------------------------

std::int32_t slot_set_volume(int index, int volume) {
  if (!g_mixer) return 0;
  if (index == -1) {
    g_mixer->set_master_volume(volume_to_hundredths(volume));
    return 0;
  }
  if (valid_slot(index) && g_slots[static_cast<std::size_t>(index)].has_buffer)
    g_mixer->set_volume(index, volume_to_hundredths(volume));
  return 0;
}

std::int32_t slot_get_volume(int index) {
  if (!g_mixer) return 0;
  if (index == -1) return hundredths_to_volume(g_mixer->master_volume());
  if (!valid_slot(index) || !g_slots[static_cast<std::size_t>(index)].has_buffer) return 0;
  return hundredths_to_volume(g_mixer->volume(index));
}

std::int32_t slot_set_pan(int index, int pan) {
  if (!g_mixer) return 0;
  if (index == -1) {
    g_mixer->set_master_pan(pan_to_hundredths(pan));
    return 0;
  }
  if (valid_slot(index) && g_slots[static_cast<std::size_t>(index)].has_buffer)
    g_mixer->set_pan(index, pan_to_hundredths(pan));
  return 0;
}

std::int32_t slot_get_pan(int index) {
  if (!g_mixer) return 0;
  if (index == -1) return hundredths_to_pan(g_mixer->master_pan());
  if (!valid_slot(index) || !g_slots[static_cast<std::size_t>(index)].has_buffer) return 0;
  return hundredths_to_pan(g_mixer->pan(index));
}

std::int32_t slot_set_frequency(int index, std::int32_t hz) {
  if (!g_mixer) return 0;
  if (index == -1) return static_cast<std::int32_t>(every_slot([hz](int slot) {
    return slot_set_frequency(slot, hz) == 0 ? 1u : 0u;
  }));
  if (valid_slot(index) && g_slots[static_cast<std::size_t>(index)].has_buffer)
    g_mixer->set_frequency(index, static_cast<std::uint32_t>(clamp_frequency(hz)));
  return 0;
}

std::uint32_t slot_get_frequency(int index) {
  if (!g_mixer || !valid_slot(index) || !g_slots[static_cast<std::size_t>(index)].has_buffer) return 0;
  return g_mixer->frequency(index);
}

std::uint32_t slot_is_playing(int index) {
  if (!g_mixer || !valid_slot(index) || !g_slots[static_cast<std::size_t>(index)].has_buffer) return 0;
  return g_mixer->playing(index) ? 1 : 0;
}

// The byte position of `ms` into a stream's PCM, rounded down to whole frames; nothing past its end.
static std::optional<std::uint32_t> stream_position(const SoundSource& source, std::uint32_t ms) {
  const PcmFormat& f = source.format();
  const std::uint64_t frame = static_cast<std::uint64_t>(f.bits / 8) * static_cast<std::uint64_t>(f.channels);
  if (frame == 0) return std::nullopt;
  std::uint64_t position = std::uint64_t(f.rate) * frame * ms / 1000;
  position -= position % frame;
  const std::uint64_t limit = source.is_ogg() ? source.total_samples() * frame : source.total_bytes();
  if (position >= limit) return std::nullopt;
  return static_cast<std::uint32_t>(position);
}

std::uint32_t slot_set_loop(int index, std::uint32_t ms) {
  if (!valid_slot(index)) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  std::lock_guard lock(s.lock);
  if (!s.streamed || !s.source) return 0;
  if (auto position = stream_position(*s.source, ms)) s.loop_point = *position;
  return 1;
}

std::uint32_t slot_set_position(int index, std::uint32_t ms) {
  if (!valid_slot(index) || !g_mixer) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer) return 0;
  if (!s.streamed) {
    const PcmFormat f = g_mixer->format(index);
    const std::uint64_t cursor = std::uint64_t(f.rate) * ms / 1000 * static_cast<std::uint64_t>(f.bits / 8) *
                                 static_cast<std::uint64_t>(f.channels);
    g_mixer->set_cursor(index, static_cast<std::uint32_t>(std::min<std::uint64_t>(cursor, 0xFFFFFFFFu)));
    return 1;
  }
  if (g_mixer->playing(index)) return 0;
  std::lock_guard lock(s.lock);
  if (!s.source) return 1;
  if (auto position = stream_position(*s.source, ms)) {
    s.position_base = *position;
    s.source->seek(*position);
  }
  return 1;
}

std::uint32_t slot_get_position(int index) {
  if (!valid_slot(index) || !g_mixer) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer || !g_mixer->playing(index)) return 0;
  const PcmFormat f = g_mixer->format(index);
  const std::uint64_t c = g_mixer->cursor(index);
  std::uint64_t p = c;
  if (s.streamed) {
    std::lock_guard lock(s.lock);
    const std::uint64_t ring = s.ring_size;
    const std::uint64_t w = s.written;
    std::int64_t d = static_cast<std::int64_t>(w % ring) - static_cast<std::int64_t>(c);
    if (d <= 0) d += static_cast<std::int64_t>(ring);
    p = s.position_base + w - static_cast<std::uint64_t>(d);
    const std::uint64_t total = s.total_bytes;
    if (p >= total && total > s.loop_point) p = (p - s.loop_point) % (total - s.loop_point) + s.loop_point;
  }
  const double block = static_cast<double>(f.bits / 8 * f.channels);
  const double per_ms = block * f.rate / 1000.0;
  return per_ms > 0 ? static_cast<std::uint32_t>(static_cast<double>(p) / per_ms) : 0;
}

std::uint32_t slot_get_length(int index) {
  if (!valid_slot(index)) return 0;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer || s.format.rate <= 0) return 0;
  const std::uint64_t rate = static_cast<std::uint64_t>(s.format.rate);
  if (s.is_ogg) return static_cast<std::uint32_t>(s.total_samples * 1000 / rate);
  const std::uint64_t block = static_cast<std::uint64_t>(s.format.bits / 8 * s.format.channels);
  return block == 0 ? 0 : static_cast<std::uint32_t>(s.total_bytes / block * 1000 / rate);
}

std::optional<std::string> slot_comment(int index) {
  if (!valid_slot(index)) return std::nullopt;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  std::lock_guard lock(s.lock);
  if (!s.has_buffer || !s.source || !s.source->is_ogg()) return std::nullopt;
  return s.source->comment();
}

bool slot_set_effect(int index, int effect, const std::array<std::uint32_t, 7>* words) {
  if (!valid_slot(index) || effect < 0 || effect > 7) return false;
  Slot& s = g_slots[static_cast<std::size_t>(index)];
  if (!s.has_buffer) return false;
  if (words == nullptr) {
    s.effect_mask &= ~(1u << effect);
    return true;
  }
  s.effect_words[static_cast<std::size_t>(effect)] = *words;
  s.effect_mask |= 1u << effect;
  return true;
}

}  // namespace talven::sound
