// CPU time of the sound mixer per second of 48 kHz stereo output, as a fraction of one core, for
// 64 looping voices of 16-bit PCM (stereo and mono, tones and noise), side by side with SDL_mixer
// mixing the same 64 voices:
//   (a) ours, plain: every voice at 48000 Hz, no effects;
//   (b) ours, half of the voices resampled from 22050, 60417 (44100 x 1.37), 11025 and 31999 Hz;
//       then the same with reverb and echo at their default parameters (make_voice_effects, mask
//       128|8) on 8 of them (when make_voice_effects gives none, that line says so);
//   SDL_mixer: the same 64 voices at 48000 Hz, Mix_PlayChannel looping, once with an S16 device
//       (SDL_mixer's default format) and once with an F32 device.
// Ours is timed with the thread's CPU clock around Mixer::render calls of 1024 frames. SDL_mixer
// has no public function that mixes a block, so its own audio callback is timed inside SDL's audio
// thread: the disk driver writes to /dev/null without waiting (SDL_DISKAUDIODELAY=0), the music
// hook (the first thing SDL_mixer's callback does, after clearing the buffer) reads the thread's
// CPU clock and the post-mix callback (the last thing) reads it again; the sum over the callbacks
// is SDL_mixer's mixing of 1024-frame blocks, without SDL's device loop. SDL_mixer takes chunks in
// the device's format, so its voices are converted to it beforehand (as Mix_LoadWAV does at load);
// ours convert 8- or 16-bit PCM as they mix. Volumes match: -12 dB ours, 32/128 SDL_mixer's; no pan.
// Each figure is the median of three runs. The ratios are ours over SDL_mixer: below 1, ours costs less.
// Run: bench_sound_mixer [--seconds N]   (N seconds of output per run, default 5)
#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "sound/mixer.h"
#include "sound/sound_effects.h"
#include "sound/sound_slots.h"

namespace {

using namespace talven::sound;

constexpr int kRate = 48000;
constexpr int kBlock = 1024;
constexpr int kRuns = 3;
constexpr int kVolume = -1200;  // hundredths of a decibel: a gain of 0.25, SDL_mixer's 32 of 128

double thread_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::array<double, kRuns> v) {
  std::sort(v.begin(), v.end());
  return v[kRuns / 2];
}

// Voice i: stereo when i is even, mono when odd; a tone or noise; lengths differ so the loops wrap
// at different moments.
struct Pcm {
  int channels;
  std::vector<std::int16_t> samples;  // interleaved
};

std::vector<Pcm> make_voices() {
  std::vector<Pcm> voices(kVoices);
  std::uint32_t noise = 12345;
  for (int i = 0; i < kVoices; ++i) {
    Pcm& p = voices[i];
    p.channels = i % 2 == 0 ? 2 : 1;
    const int frames = kRate / 2 + i * 997;
    const double hz = 110.0 * (1 + i % 13);
    p.samples.resize(std::size_t(frames) * p.channels);
    for (int f = 0; f < frames; ++f)
      for (int c = 0; c < p.channels; ++c) {
        double v;
        if (i % 4 < 2) {
          v = std::sin(2 * std::numbers::pi * hz * (c + 1) * f / kRate);
        } else {
          noise = noise * 1664525u + 1013904223u;
          v = (int(noise >> 16) - 32768) / 32768.0;
        }
        p.samples[std::size_t(f) * p.channels + c] = static_cast<std::int16_t>(v * 24000);
      }
  }
  return voices;
}

enum class Load { kPlain, kResampled, kResampledWithEffects };

// Our mixer's CPU per second of output; a negative value when the load cannot be set up.
double ours(const std::vector<Pcm>& voices, Load load, double seconds) {
  Mixer mixer(kRate);
  const std::uint32_t odd_rates[] = {22050, 60417, 11025, 31999};
  const EffectWordTable words = default_effect_word_table();  // the platform's defaults
  for (int i = 0; i < kVoices; ++i) {
    const Pcm& p = voices[i];
    const std::uint32_t bytes = static_cast<std::uint32_t>(p.samples.size() * 2);
    if (!mixer.create(i, PcmFormat{p.channels, kRate, 16}, bytes, true)) return -1;
    mixer.write(i, 0, reinterpret_cast<const std::uint8_t*>(p.samples.data()), bytes);
    mixer.set_volume(i, kVolume);
    if (load != Load::kPlain && i % 2 == 1) mixer.set_frequency(i, odd_rates[(i / 2) % 4]);
    // Eight voices with effects (0 ... 7): four resampled, four not.
    if (load == Load::kResampledWithEffects && i < 8) {
      std::unique_ptr<VoiceEffects> effects = make_voice_effects(kEffectReverb | kEffectEcho, words, kRate, kRate);
      if (!effects) return -1;
      mixer.set_effects(i, std::move(effects));
    }
    mixer.play(i, true);
  }
  std::vector<float> out(2 * kBlock);
  for (int i = 0; i < 20; ++i) mixer.render(out.data(), kBlock);  // warm the caches and filters
  float peak = 0;
  for (float s : out) peak = std::max(peak, std::abs(s));
  if (peak == 0) {
    std::fprintf(stderr, "bench_sound_mixer: our mix is silent\n");
    std::exit(1);
  }
  const int blocks = static_cast<int>(seconds * kRate / kBlock);
  std::array<double, kRuns> fractions;
  for (double& fraction : fractions) {
    const double start = thread_cpu_seconds();
    for (int b = 0; b < blocks; ++b) mixer.render(out.data(), kBlock);
    fraction = (thread_cpu_seconds() - start) / (double(blocks) * kBlock / kRate);
  }
  return median(fractions);
}

// ---- SDL_mixer, timed inside its audio callback ------------------------------------------------

// Written by the audio thread once the hooks are in; read by the main thread after `done`.
struct CallbackClock {
  int blocks = 0;          // callbacks per run; the first kWarmUp callbacks are not timed
  int callbacks = 0;
  double started = 0;
  std::array<double, kRuns> spent{};
  std::atomic<bool> done{false};
};
CallbackClock g_clock;
constexpr int kWarmUp = 20;

void SDLCALL before_channels(void*, Uint8*, int) { g_clock.started = thread_cpu_seconds(); }

void SDLCALL after_channels(void*, Uint8*, int) {
  const double now = thread_cpu_seconds();
  const int timed = g_clock.callbacks++ - kWarmUp;
  if (timed < 0 || timed >= kRuns * g_clock.blocks) return;
  g_clock.spent[static_cast<std::size_t>(timed / g_clock.blocks)] += now - g_clock.started;
  if (timed + 1 == kRuns * g_clock.blocks) g_clock.done.store(true, std::memory_order_release);
}

// SDL_mixer's CPU per second of output with a device of `format`; negative when it cannot run.
double sdl_mixer(const std::vector<Pcm>& voices, SDL_AudioFormat format, double seconds) {
  // No changes allowed: SDL_mixer's callback gets blocks of exactly this rate, format and size.
  if (Mix_OpenAudioDevice(kRate, format, 2, kBlock, nullptr, 0) != 0) {
    std::fprintf(stderr, "bench_sound_mixer: Mix_OpenAudioDevice: %s\n", Mix_GetError());
    return -1;
  }
  const bool f32 = format == AUDIO_F32SYS;
  std::vector<std::vector<std::uint8_t>> data(kVoices);
  std::vector<Mix_Chunk*> chunks(kVoices);
  Mix_AllocateChannels(kVoices);
  for (int i = 0; i < kVoices; ++i) {
    const Pcm& p = voices[i];
    const std::size_t frames = p.samples.size() / p.channels;
    data[i].resize(frames * 2 * (f32 ? 4 : 2));
    for (std::size_t f = 0; f < frames; ++f)
      for (int c = 0; c < 2; ++c) {
        const std::int16_t s = p.samples[f * p.channels + (p.channels == 2 ? c : 0)];
        if (f32) {
          const float v = s * (1.0f / 32768.0f);
          std::memcpy(&data[i][(f * 2 + c) * 4], &v, 4);
        } else {
          std::memcpy(&data[i][(f * 2 + c) * 2], &s, 2);
        }
      }
    chunks[i] = Mix_QuickLoad_RAW(data[i].data(), static_cast<Uint32>(data[i].size()));
    Mix_Volume(i, 32);
    Mix_PlayChannel(i, chunks[i], -1);
  }
  const bool all_playing = Mix_Playing(-1) == kVoices;
  g_clock.blocks = static_cast<int>(seconds * kRate / kBlock);
  g_clock.callbacks = 0;
  g_clock.spent = {};
  g_clock.done = false;
  // Installing the hooks takes SDL_mixer's lock of the device: the audio thread sees the above.
  Mix_HookMusic(before_channels, nullptr);
  Mix_SetPostMix(after_channels, nullptr);
  while (!g_clock.done.load(std::memory_order_acquire)) SDL_Delay(5);
  std::array<double, kRuns> fractions;
  for (int r = 0; r < kRuns; ++r) fractions[r] = g_clock.spent[r] / (double(g_clock.blocks) * kBlock / kRate);
  Mix_HookMusic(nullptr, nullptr);
  Mix_SetPostMix(nullptr, nullptr);
  Mix_HaltChannel(-1);
  for (Mix_Chunk* c : chunks) Mix_FreeChunk(c);
  Mix_CloseAudio();
  if (!all_playing) {
    std::fprintf(stderr, "bench_sound_mixer: SDL_mixer did not play every voice\n");
    return -1;
  }
  return median(fractions);
}

SDL_LogOutputFunction g_sdl_log = nullptr;
void* g_sdl_log_data = nullptr;

// The disk driver announces itself on stderr at each open; SDL's other messages pass.
void SDLCALL log_without_audio(void* data, int category, SDL_LogPriority priority, const char* message) {
  if (category != SDL_LOG_CATEGORY_AUDIO && g_sdl_log) g_sdl_log(g_sdl_log_data, category, priority, message);
}

void print(const char* name, double fraction, double peer = 0) {
  std::printf("  %-58s %6.2f %% of a core", name, 100 * fraction);
  if (peer > 0) std::printf("   ours/SDL_mixer %.2f", fraction / peer);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atof(argv[++i]);
  }
  if (seconds <= 0) seconds = 5;
  const std::vector<Pcm> voices = make_voices();

  // SDL's disk driver, writing to nowhere as fast as the callback goes.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  SDL_LogGetOutputFunction(&g_sdl_log, &g_sdl_log_data);
  SDL_LogSetOutputFunction(log_without_audio, nullptr);
  if (SDL_Init(SDL_INIT_AUDIO) != 0) {
    std::fprintf(stderr, "bench_sound_mixer: SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  const double peer_s16 = sdl_mixer(voices, AUDIO_S16SYS, seconds);
  const double peer_f32 = sdl_mixer(voices, AUDIO_F32SYS, seconds);
  SDL_Quit();
  if (peer_s16 <= 0 || peer_f32 <= 0) return 1;

  const double plain = ours(voices, Load::kPlain, seconds);
  const double resampled = ours(voices, Load::kResampled, seconds);
  const double with_effects = ours(voices, Load::kResampledWithEffects, seconds);

  std::printf("CPU per second of 48 kHz stereo output, 64 looping voices (%g s of output, median of %d runs):\n",
              seconds, kRuns);
  print("SDL_mixer, S16 device", peer_s16);
  print("SDL_mixer, F32 device", peer_f32);
  print("(a) ours, plain (against SDL_mixer S16)", plain, peer_s16);
  print("(a) ours, plain (against SDL_mixer F32)", plain, peer_f32);
  print("(b) ours, half resampled, no effects", resampled);
  if (with_effects >= 0)
    print("(b) ours, half resampled, 8 with reverb and echo", with_effects);
  else
    std::printf("  (b) ours with reverb and echo on 8 voices: not measured (make_voice_effects gives none yet)\n");
  return 0;
}
