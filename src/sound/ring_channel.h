// A mixer channel fed through a ring of stereo frames at the mixer's rate: a producer thread
// (a CD track's decoder, a movie's) pushes, the output thread takes, scaled by the channel's gain.
// While paused the output takes nothing, so the count of frames played is the channel's clock.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sound/mixer.h"

namespace talven::sound {

class RingChannel final : public MixerChannel {
 public:
  explicit RingChannel(std::size_t frames) : ring_(2 * frames) {}

  void set_gain(float gain) { gain_.store(gain, std::memory_order_relaxed); }
  void set_paused(bool paused) { paused_.store(paused, std::memory_order_relaxed); }
  std::uint64_t frames_played() const { return played_.load(std::memory_order_relaxed); }
  std::size_t capacity() const { return ring_.size() / 2; }

  // Producer side.
  std::size_t space() {
    std::lock_guard guard(lock_);
    return capacity() - count_;
  }
  bool empty() {
    std::lock_guard guard(lock_);
    return count_ == 0;
  }
  // Appends as many of `n` frames as fit; returns how many did.
  std::size_t push(const float* frames, std::size_t n) {
    std::lock_guard guard(lock_);
    n = std::min(n, capacity() - count_);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = (read_ + count_ + i) % capacity();
      ring_[2 * at] = frames[2 * i];
      ring_[2 * at + 1] = frames[2 * i + 1];
    }
    count_ += n;
    return n;
  }
  // Drops what waits and starts the clock again.
  void clear() {
    std::lock_guard guard(lock_);
    read_ = count_ = 0;
    played_.store(0, std::memory_order_relaxed);
  }

  void mix_into(float* out, int frames) override {
    if (paused_.load(std::memory_order_relaxed)) return;
    const float gain = gain_.load(std::memory_order_relaxed);
    std::lock_guard guard(lock_);
    const std::size_t n = std::min(static_cast<std::size_t>(frames), count_);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = (read_ + i) % capacity();
      out[2 * i] += ring_[2 * at] * gain;
      out[2 * i + 1] += ring_[2 * at + 1] * gain;
    }
    read_ = (read_ + n) % capacity();
    count_ -= n;
    played_.fetch_add(n, std::memory_order_relaxed);
  }

 private:
  std::mutex lock_;
  std::vector<float> ring_;
  std::size_t read_ = 0, count_ = 0;
  std::atomic<float> gain_{1.0f};
  std::atomic<bool> paused_{false};
  std::atomic<std::uint64_t> played_{0};
};

}  // namespace talven::sound
