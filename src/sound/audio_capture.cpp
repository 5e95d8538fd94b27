#include "sound/audio_capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace talven::sound {
namespace {

void put_u32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The 44-byte header of a PCM wave file with `data_bytes` of 16-bit stereo samples.
void write_header(std::FILE* f, int rate, std::uint64_t data_bytes) {
  const std::uint32_t size = static_cast<std::uint32_t>(std::min<std::uint64_t>(data_bytes, 0xFFFFFFFFull - 36));
  std::uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
  put_u32(h + 4, 36 + size);
  put_u32(h + 24, static_cast<std::uint32_t>(rate));
  put_u32(h + 28, static_cast<std::uint32_t>(rate) * 4);
  put_u16(h + 32, 4);
  put_u16(h + 34, 16);
  std::copy_n("data", 4, h + 36);
  put_u32(h + 40, size);
  std::fseek(f, 0, SEEK_SET);
  std::fwrite(h, 1, sizeof h, f);
}

}  // namespace

bool AudioCapture::open(const std::string& host_path, int rate) {
  close();
  file_ = std::fopen(host_path.c_str(), "wb");
  if (file_ == nullptr) {
    std::fprintf(stderr, "talven: --audio-out %s: the file cannot be written\n", host_path.c_str());
    return false;
  }
  rate_ = rate;
  data_bytes_ = 0;
  write_header(file_, rate_, 0);
  ring_.assign(static_cast<std::size_t>(rate) * 2 * 4, 0);  // four seconds
  head_ = tail_ = 0;
  dropped_ = 0;
  stop_ = false;
  writer_ = std::thread([this] { run(); });
  return true;
}

void AudioCapture::push(const float* interleaved, int frames) {
  if (file_ == nullptr) return;
  const std::size_t samples = static_cast<std::size_t>(frames) * 2;
  const std::size_t head = head_.load(std::memory_order_relaxed), tail = tail_.load(std::memory_order_acquire);
  if (ring_.size() - (head - tail) < samples) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  for (std::size_t i = 0; i < samples; ++i) {
    const float v = std::clamp(interleaved[i], -1.0f, 1.0f);
    ring_[(head + i) % ring_.size()] = static_cast<std::int16_t>(std::lrint(v * 32767.0f));
  }
  head_.store(head + samples, std::memory_order_release);
}

void AudioCapture::run() {
  std::vector<std::int16_t> block;
  for (;;) {
    const bool stopping = stop_.load();
    const std::size_t head = head_.load(std::memory_order_acquire), tail = tail_.load(std::memory_order_relaxed);
    block.resize(head - tail);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = ring_[(tail + i) % ring_.size()];
    tail_.store(head, std::memory_order_release);
    if (!block.empty()) {
      std::fwrite(block.data(), sizeof(std::int16_t), block.size(), file_);
      data_bytes_ += block.size() * sizeof(std::int16_t);
    }
    if (stopping) break;
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stop_.load(); });
  }
}

void AudioCapture::close() {
  if (file_ == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  write_header(file_, rate_, data_bytes_);
  std::fclose(file_);
  file_ = nullptr;
  if (const std::uint64_t dropped = dropped_.load(); dropped != 0)
    std::fprintf(stderr, "talven: --audio-out: %llu blocks of sound could not be written in time and are missing\n",
                 static_cast<unsigned long long>(dropped));
}

}  // namespace talven::sound
