// A sound file read into memory: RIFF wave (PCM) or Ogg Vorbis, delivering PCM in its format.
//
// One thread at a time: the slot that owns a source serialises its users (the window thread and
// the slot's streaming thread) with the slot's own lock.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sound/mixer.h"

namespace talven::sound {

class SoundSource {
 public:
  // Reads `bytes` (the whole file); nullptr when it is neither a PCM wave with a data chunk nor an
  // Ogg Vorbis stream the decoder opens.
  static std::unique_ptr<SoundSource> open(std::string bytes);
  virtual ~SoundSource() = default;

  const PcmFormat& format() const { return format_; }
  bool is_ogg() const { return is_ogg_; }
  // PCM length in bytes (wave: the data chunk; Ogg: block align x total samples, 0 when unknown).
  std::uint32_t total_bytes() const { return total_bytes_; }
  // Ogg: total samples (frames), 0 when the stream does not tell.
  std::uint64_t total_samples() const { return total_samples_; }

  // Fills `n` bytes at `out`: PCM from the current position, then silence. Returns the bytes of
  // PCM delivered (0 at the end).
  virtual std::uint32_t deliver(std::uint8_t* out, std::uint32_t n) = 0;
  // Moves to byte `position` of the PCM (a multiple of the block); false when it is not inside.
  virtual bool seek(std::uint32_t position) = 0;
  // The wave read position, for a restarted stream; Ogg keeps its decoder where it is.
  virtual void rewind_wave() {}
  // The first Vorbis comment that starts with COMMENT=, without that prefix; Ogg only.
  virtual std::optional<std::string> comment() const { return std::nullopt; }

 protected:
  PcmFormat format_;
  bool is_ogg_ = false;
  std::uint32_t total_bytes_ = 0;
  std::uint64_t total_samples_ = 0;
};

// Bounds how long the Ogg decoder may keep failing before the stream counts as ended.
inline constexpr int kMaxDecoderFailures = 64;

}  // namespace talven::sound
