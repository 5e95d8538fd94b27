#include "sound/audio_engine.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "platform/devices.h"
#include "sound/audio_capture.h"
#include "sound/mixer.h"

namespace talven::sound {
namespace {

std::unique_ptr<Mixer> g_mixer;
platform::AudioOutput* g_output = nullptr;
AudioCapture g_capture;
std::string g_capture_path;
// Set once the capture is ready, and cleared before it closes: the output's thread looks at it.
std::atomic<bool> g_capturing{false};

void render(float* out, int frames, void*) {
  g_mixer->render(out, frames);
  if (g_capturing.load(std::memory_order_acquire)) g_capture.push(out, frames);
}

}  // namespace

void set_capture_path(const std::string& host_path) { g_capture_path = host_path; }
const std::string& capture_path() { return g_capture_path; }

Mixer* audio_mixer() { return g_mixer.get(); }

Mixer* open_audio_engine() {
  if (g_mixer) return g_mixer.get();
  constexpr int kWantedRate = 48000;
  platform::AudioOutput* output = &platform::audio_output();
  // The mixer must exist before the output pulls from it; it is made at the rate asked for and
  // made again when the device settles on another.
  g_mixer = std::make_unique<Mixer>(kWantedRate);
  int rate = output->open(kWantedRate, render, nullptr);
  if (rate != kWantedRate && rate != 0) {
    output->close();
    g_mixer = std::make_unique<Mixer>(rate);
    rate = output->open(rate, render, nullptr);
  }
  if (rate == 0 && output != &platform::null_audio_output()) {
    std::fputs("talven: the game's sound runs silently, without an audio device\n", stderr);
    output = &platform::null_audio_output();
    g_mixer = std::make_unique<Mixer>(kWantedRate);
    rate = output->open(kWantedRate, render, nullptr);
  }
  if (rate == 0) {
    g_mixer.reset();
    return nullptr;
  }
  g_output = output;
  if (!g_capture_path.empty() && g_capture.open(g_capture_path, rate)) g_capturing.store(true, std::memory_order_release);
  return g_mixer.get();
}

void close_audio_engine() {
  if (g_output) g_output->close();
  g_output = nullptr;
  if (g_capturing.exchange(false)) g_capture.close();
  g_mixer.reset();
}

}  // namespace talven::sound
