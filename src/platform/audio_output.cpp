// The sound outputs: the SDL audio device, and the null output that pulls at real-time pace
// without a device.
#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/devices.h"

namespace talven::platform {
namespace {

// Pulls a block every 10 ms of sound, measured against the clock rather than summed sleeps, so
// that a second of sound takes a second however the thread is woken.
class NullAudioOutput final : public AudioOutput {
 public:
  int open(int rate, Render render, void* context) override {
    close();
    if (rate <= 0 || render == nullptr) return 0;
    stop_ = false;
    worker_ = std::thread([this, rate, render, context] { run(rate, render, context); });
    return rate;
  }
  void close() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
  }
  ~NullAudioOutput() override { close(); }

 private:
  void run(int rate, Render render, void* context) {
    const int block = rate / 100;
    std::vector<float> scratch(static_cast<std::size_t>(block) * 2);
    const auto start = std::chrono::steady_clock::now();
    long long blocks = 0;
    std::unique_lock lock(mutex_);
    while (!stop_) {
      lock.unlock();
      render(scratch.data(), block, context);
      lock.lock();
      ++blocks;
      wake_.wait_until(lock, start + std::chrono::milliseconds(10 * blocks), [this] { return stop_; });
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread worker_;
};

// Sound libraries below SDL (ALSA's) print their own complaints on stderr while SDL looks for a
// device; on a machine without one that is a screenful for every start. While SDL looks, stderr
// goes nowhere; what went wrong is said once, afterwards, from SDL's own error. Start-up only:
// no other thread of the engine writes to stderr yet.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && nowhere >= 0) ::dup2(nowhere, 2);
    if (nowhere >= 0) ::close(nowhere);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    ::dup2(saved_, 2);
    ::close(saved_);
  }

 private:
  int saved_ = -1;
};

// One SDL audio device in 32-bit float stereo; SDL converts to what the hardware takes.
class SdlAudioOutput final : public AudioOutput {
 public:
  int open(int rate, Render render, void* context) override {
    close();
    int started = 0;
    {
      QuietStderr quiet;
      started = SDL_InitSubSystem(SDL_INIT_AUDIO);
    }
    if (started != 0) {
      std::fprintf(stderr, "talven: the sound system could not be started: %s\n", SDL_GetError());
      return 0;
    }
    render_ = render;
    context_ = context;
    SDL_AudioSpec want{}, have{};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = [](void* self, Uint8* stream, int bytes) {
      auto* output = static_cast<SdlAudioOutput*>(self);
      output->render_(reinterpret_cast<float*>(stream), bytes / 8, output->context_);
    };
    want.userdata = this;
    {
      QuietStderr quiet;
      device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    }
    if (device_ == 0) {
      std::fprintf(stderr, "talven: no audio device could be opened: %s\n", SDL_GetError());
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return 0;
    }
    SDL_PauseAudioDevice(device_, 0);
    return have.freq;
  }
  void close() override {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

 private:
  SDL_AudioDeviceID device_ = 0;
  Render render_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace

AudioOutput& null_audio_output() {
  static NullAudioOutput output;
  return output;
}

AudioOutput& sdl_audio_output() {
  static SdlAudioOutput output;
  return output;
}

}  // namespace talven::platform
