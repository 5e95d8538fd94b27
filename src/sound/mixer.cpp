#include "sound/mixer.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace talven::sound {

namespace {

// Frames converted from a voice's ring per step; the scratch buffers hold this many.
constexpr int kChunkFrames = 1024;
// Speex quality 3: the images of a 9 kHz tone resampled from 22050 to 48000 Hz lie 90 dB below
// it (quality 4: 96 dB, 5: 117 dB), past what 16-bit sounds hold, at four fifths of quality 4's
// cost; bench/sound_mixer measures 64 voices.
constexpr int kResamplerQuality = 3;

}  // namespace

float gain_of(int hundredths) {
  if (hundredths <= kSilentVolume) return 0.0f;
  return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

void pan_gains(int pan, float& left, float& right) {
  // A pan attenuates the far side by its amount in hundredths of a decibel.
  left = pan > 0 ? gain_of(-pan) : 1.0f;
  right = pan < 0 ? gain_of(pan) : 1.0f;
}

struct Mixer::Voice {
  PcmFormat format;
  std::vector<std::uint8_t> data;
  std::uint32_t cursor = 0;  // bytes, a multiple of the block
  bool playing = false, looping = false;
  bool effects_allowed = false;
  int volume = 0, pan = 0;
  float left = 1, right = 1;
  std::uint32_t frequency = 0;  // 0: the source's rate
  SpeexResamplerState* resampler = nullptr;
  bool resampling = false;  // the voice's rate differs from the output's
  std::unique_ptr<VoiceEffects> effects;

  ~Voice() {
    if (resampler) speex_resampler_destroy(resampler);
  }
  std::uint32_t rate() const { return frequency != 0 ? frequency : static_cast<std::uint32_t>(format.rate); }
  std::uint32_t frames() const { return static_cast<std::uint32_t>(data.size()) / static_cast<std::uint32_t>(format.block_align()); }

  // `count` frames from frame `first` as stereo floats; mono plays on both sides.
  void convert(std::uint32_t first, int count, float* out) const {
    const std::uint8_t* p = data.data() + std::size_t(first) * format.block_align();
    if (format.bits == 16) {
      for (int i = 0; i < count; ++i) {
        std::int16_t l, r;
        std::memcpy(&l, p, 2);
        r = l;
        if (format.channels == 2) std::memcpy(&r, p + 2, 2);
        out[2 * i] = l * (1.0f / 32768.0f);
        out[2 * i + 1] = r * (1.0f / 32768.0f);
        p += format.block_align();
      }
    } else {
      for (int i = 0; i < count; ++i) {
        const float l = (p[0] - 128) * (1.0f / 128.0f);
        const float r = format.channels == 2 ? (p[1] - 128) * (1.0f / 128.0f) : l;
        out[2 * i] = l;
        out[2 * i + 1] = r;
        p += format.block_align();
      }
    }
  }

  // `count` frames from frame `first` as floats in the source's own channels (one per frame for
  // mono), for the resampler.
  void convert_native(std::uint32_t first, int count, float* out) const {
    const std::uint8_t* p = data.data() + std::size_t(first) * format.block_align();
    const int samples = count * format.channels;
    if (format.bits == 16) {
      for (int i = 0; i < samples; ++i) {
        std::int16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        out[i] = v * (1.0f / 32768.0f);
      }
    } else {
      for (int i = 0; i < samples; ++i) out[i] = (p[i] - 128) * (1.0f / 128.0f);
    }
  }
};

Mixer::Mixer(int output_rate)
    : output_rate_(output_rate > 0 ? output_rate : 48000),
      scratch_in_(std::size_t(kChunkFrames) * 2),
      scratch_voice_(std::size_t(kChunkFrames) * 2),
      scratch_mono_(std::size_t(kChunkFrames)) {}

Mixer::~Mixer() = default;

Mixer::Voice* Mixer::voice_of(int voice) {
  if (voice < 0 || voice >= kVoices) return nullptr;
  return voices_[static_cast<std::size_t>(voice)].get();
}

bool Mixer::create(int voice, const PcmFormat& format, std::uint32_t bytes, bool effects_allowed) {
  if (voice < 0 || voice >= kVoices) return false;
  if ((format.bits != 8 && format.bits != 16) || format.channels < 1 || format.channels > 2 || format.rate < 1 ||
      format.rate > 200000)
    return false;
  auto v = std::make_unique<Voice>();
  v->format = format;
  // Rounded down to whole frames: the cursor moves in frames.
  bytes -= bytes % static_cast<std::uint32_t>(format.block_align());
  v->data.assign(bytes, format.bits == 8 ? 128 : 0);
  v->effects_allowed = effects_allowed;
  int error = 0;
  // A mono voice is resampled as one channel and spread to both sides afterwards: half the work.
  v->resampler = speex_resampler_init(static_cast<spx_uint32_t>(format.channels), static_cast<spx_uint32_t>(format.rate),
                                      static_cast<spx_uint32_t>(output_rate_), kResamplerQuality, &error);
  if (v->resampler == nullptr) return false;
  v->resampling = format.rate != output_rate_;
  std::unique_ptr<Voice> old;
  {
    std::lock_guard lock(mutex_);
    old = std::move(voices_[static_cast<std::size_t>(voice)]);
    voices_[static_cast<std::size_t>(voice)] = std::move(v);
  }
  return true;  // the old voice goes outside the lock
}

void Mixer::release(int voice) {
  std::unique_ptr<Voice> old;
  std::lock_guard lock(mutex_);
  if (voice >= 0 && voice < kVoices) old = std::move(voices_[static_cast<std::size_t>(voice)]);
}

bool Mixer::exists(int voice) {
  std::lock_guard lock(mutex_);
  return voice_of(voice) != nullptr;
}

void Mixer::write(int voice, std::uint32_t offset, const std::uint8_t* data, std::uint32_t n) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  if (v == nullptr || v->data.empty()) return;
  const std::uint32_t size = static_cast<std::uint32_t>(v->data.size());
  offset %= size;
  while (n > 0) {
    const std::uint32_t piece = std::min(n, size - offset);
    std::memcpy(v->data.data() + offset, data, piece);
    data += piece;
    n -= piece;
    offset = 0;
  }
}

void Mixer::play(int voice, bool looping) {
  std::lock_guard lock(mutex_);
  if (Voice* v = voice_of(voice)) {
    if (!v->playing) {
      speex_resampler_reset_mem(v->resampler);
      if (v->effects) v->effects->reset();
    }
    v->playing = true;
    v->looping = looping;
  }
}

void Mixer::stop(int voice) {
  std::lock_guard lock(mutex_);
  if (Voice* v = voice_of(voice)) v->playing = false;
}

bool Mixer::playing(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v != nullptr && v->playing;
}

bool Mixer::looping(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v != nullptr && v->looping;
}

std::uint32_t Mixer::cursor(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v ? v->cursor : 0;
}

void Mixer::set_cursor(int voice, std::uint32_t position) {
  std::lock_guard lock(mutex_);
  if (Voice* v = voice_of(voice)) {
    const std::uint32_t block = static_cast<std::uint32_t>(v->format.block_align());
    position -= position % block;
    // A position past the end is refused, as the platform refused it: the cursor stays.
    if (position < v->data.size()) v->cursor = position;
  }
}

PcmFormat Mixer::format(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v ? v->format : PcmFormat{};
}

std::uint32_t Mixer::size(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v ? static_cast<std::uint32_t>(v->data.size()) : 0;
}

bool Mixer::effects_allowed(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v != nullptr && v->effects_allowed;
}

int Mixer::volume(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v ? v->volume : kSilentVolume;
}

void Mixer::set_volume(int voice, int hundredths) {
  std::lock_guard lock(mutex_);
  if (Voice* v = voice_of(voice)) v->volume = std::clamp(hundredths, kSilentVolume, 0);
}

int Mixer::pan(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v ? v->pan : 0;
}

void Mixer::set_pan(int voice, int hundredths) {
  std::lock_guard lock(mutex_);
  if (Voice* v = voice_of(voice)) {
    v->pan = std::clamp(hundredths, -10000, 10000);
    pan_gains(v->pan, v->left, v->right);
  }
}

std::uint32_t Mixer::frequency(int voice) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  return v ? v->rate() : 0;
}

void Mixer::set_frequency(int voice, std::uint32_t hz) {
  std::lock_guard lock(mutex_);
  Voice* v = voice_of(voice);
  if (v == nullptr) return;
  v->frequency = hz == 0 ? 0 : std::clamp(hz, kMinFrequency, kMaxFrequency);
  const bool resampling = v->rate() != static_cast<std::uint32_t>(output_rate_);
  // The filter keeps its history across a change of rate, so a sliding pitch stays smooth.
  speex_resampler_set_rate(v->resampler, v->rate(), static_cast<spx_uint32_t>(output_rate_));
  if (resampling && !v->resampling) speex_resampler_reset_mem(v->resampler);
  v->resampling = resampling;
}

void Mixer::set_effects(int voice, std::unique_ptr<VoiceEffects> effects) {
  std::unique_ptr<VoiceEffects> old;
  std::lock_guard lock(mutex_);
  if (Voice* v = voice_of(voice)) {
    old = std::move(v->effects);
    v->effects = std::move(effects);
  }
}

int Mixer::master_volume() {
  std::lock_guard lock(mutex_);
  return master_volume_;
}

void Mixer::set_master_volume(int hundredths) {
  std::lock_guard lock(mutex_);
  master_volume_ = std::clamp(hundredths, kSilentVolume, 0);
}

int Mixer::master_pan() {
  std::lock_guard lock(mutex_);
  return master_pan_;
}

void Mixer::set_master_pan(int hundredths) {
  std::lock_guard lock(mutex_);
  master_pan_ = std::clamp(hundredths, -10000, 10000);
  pan_gains(master_pan_, master_left_, master_right_);
}

// Produces up to `frames` frames of the voice into `out` (stereo, before its gains) and advances
// its cursor; fewer when a voice that does not loop comes to its end, which stops it. `scratch`
// and `mono` hold kChunkFrames frames.
static int pull_frames(Mixer::Voice& v, float* out, int frames, float* scratch, float* mono,
                       std::uint32_t output_rate) {
  const std::uint32_t total = v.frames();
  const std::uint32_t block = static_cast<std::uint32_t>(v.format.block_align());
  int produced = 0;
  while (produced < frames && v.playing && total > 0) {
    std::uint32_t at = v.cursor / block;
    if (at >= total) {
      if (!v.looping) {
        v.playing = false;
        v.cursor = total * block;
        break;
      }
      at = 0;
    }
    const int wanted = frames - produced;
    spx_uint32_t used = 0, made = 0;
    if (!v.resampling) {
      const int n = static_cast<int>(std::min<std::uint32_t>(total - at, static_cast<std::uint32_t>(wanted)));
      v.convert(at, n, out + 2 * produced);
      used = made = static_cast<spx_uint32_t>(n);
    } else {
      // Only about as many source frames as the wanted output needs, and a few for the filter.
      const std::uint64_t needed = std::uint64_t(wanted) * v.rate() / output_rate + 8;
      const int available = static_cast<int>(std::min<std::uint64_t>({total - at, needed, std::uint64_t(kChunkFrames)}));
      v.convert_native(at, available, scratch);
      used = static_cast<spx_uint32_t>(available);
      made = static_cast<spx_uint32_t>(wanted);
      if (v.format.channels == 1) {
        speex_resampler_process_float(v.resampler, 0, scratch, &used, mono, &made);
        float* o = out + 2 * produced;
        for (spx_uint32_t i = 0; i < made; ++i) o[2 * i] = o[2 * i + 1] = mono[i];
      } else {
        speex_resampler_process_interleaved_float(v.resampler, scratch, &used, out + 2 * produced, &made);
      }
      if (used == 0 && made == 0) break;
    }
    at += used;
    produced += static_cast<int>(made);
    if (at >= total && v.looping) at = 0;
    v.cursor = at * block;
  }
  return produced;
}

void Mixer::mix_voice(Voice& v, float* out, int frames) {
  float* voice_out = scratch_voice_.data();
  int done = 0;
  while (done < frames && v.playing) {
    const int want = std::min(frames - done, kChunkFrames);
    const int got = pull_frames(v, voice_out, want, scratch_in_.data(), scratch_mono_.data(),
                                static_cast<std::uint32_t>(output_rate_));
    if (got < want) std::fill(voice_out + 2 * got, voice_out + 2 * want, 0.0f);
    if (v.effects && v.effects_allowed) v.effects->process(voice_out, want);
    const float gain = gain_of(v.volume);
    const float left = gain * v.left, right = gain * v.right;
    float* o = out + 2 * done;
    for (int i = 0; i < want; ++i) {
      o[2 * i] += voice_out[2 * i] * left;
      o[2 * i + 1] += voice_out[2 * i + 1] * right;
    }
    done += want;
    if (got < want) break;
  }
}

bool Mixer::attach(MixerChannel* channel) {
  std::lock_guard lock(channels_mutex_);
  for (MixerChannel*& c : channels_)
    if (c == channel) return true;
  for (MixerChannel*& c : channels_)
    if (c == nullptr) {
      c = channel;
      return true;
    }
  return false;
}

void Mixer::detach(MixerChannel* channel) {
  std::lock_guard lock(channels_mutex_);
  for (MixerChannel*& c : channels_)
    if (c == channel) c = nullptr;
}

void Mixer::render(float* out, int frames) {
  std::fill(out, out + 2 * std::size_t(frames), 0.0f);
  {
    std::lock_guard lock(mutex_);
    bool any = false;
    for (auto& voice : voices_)
      if (voice && voice->playing) {
        mix_voice(*voice, out, frames);
        any = true;
      }
    if (any) {
      const float gain = gain_of(master_volume_);
      const float left = gain * master_left_, right = gain * master_right_;
      for (int i = 0; i < frames; ++i) {
        out[2 * i] *= left;
        out[2 * i + 1] *= right;
      }
    }
  }
  {
    std::lock_guard lock(channels_mutex_);
    for (MixerChannel* channel : channels_)
      if (channel != nullptr) channel->mix_into(out, frames);
  }
  for (int i = 0; i < 2 * frames; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

}  // namespace talven::sound
