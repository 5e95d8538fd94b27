// What the mixer outputs, written to a 16-bit stereo WAV file (talven --audio-out FILE).
//
// push() runs on the output's thread: it only copies into a ring and never waits; a writer
// thread of its own moves the ring to the file. A ring that overflows (a stalled disk) drops the
// newest block and counts it, rather than hold up the sound.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talven::sound {

class AudioCapture {
 public:
  ~AudioCapture() { close(); }
  // False (with the reason on stderr) when the file cannot be written.
  bool open(const std::string& host_path, int rate);
  void push(const float* interleaved, int frames);
  // Writes what is left and completes the file's header.
  void close();

 private:
  void run();
  std::FILE* file_ = nullptr;
  int rate_ = 0;
  std::vector<std::int16_t> ring_;
  std::atomic<std::size_t> head_{0}, tail_{0};  // samples written by push, taken by the writer
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> dropped_{0};
  std::uint64_t data_bytes_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread writer_;
};

}  // namespace talven::sound
