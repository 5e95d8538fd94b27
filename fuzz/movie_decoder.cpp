// Movie files of any bytes, read from memory as a movie out of an archive is: refused with a
// reason, or a movie whose info is sane and whose pictures and sound come out well formed (the
// shown size, opaque pixels, finite times and samples, whole stereo frames) through a bounded
// number of decode calls, then again after a rewind. The last byte picks the output rate.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "sound/movie_decoder.h"

using namespace talven::sound;

namespace {

constexpr int kCalls = 50;
constexpr int kCallsAfterRewind = 10;
// Larger pictures are opened but not decoded: scaling a few of them would take the time of
// thousands of small inputs.
constexpr std::int64_t kMostDecodedPixels = std::int64_t(1) << 22;
constexpr int kRates[] = {8000, 22050, 44100, 48000};

void check_info(const MovieInfo& info) {
  if (!info.has_video && !info.has_audio) std::abort();
  if (info.has_video) {
    if (info.width < 1 || info.height < 1 || info.width > kMaxMovieSide || info.height > kMaxMovieSide) std::abort();
    if (std::int64_t(info.width) * info.height > kMaxMoviePixels) std::abort();
  } else if (info.width != 0 || info.height != 0 || info.frame_rate != 0) {
    std::abort();
  }
  if (!std::isfinite(info.duration) || info.duration < 0) std::abort();
  if (!std::isfinite(info.frame_rate) || info.frame_rate < 0 || info.frame_rate > 1000) std::abort();
}

// Up to `calls` decode calls; each true one must have added something, a false one nothing.
void decode(MovieDecoder& decoder, int calls) {
  const MovieInfo& info = decoder.info();
  for (int call = 0; call < calls; ++call) {
    std::vector<VideoFrame> frames;
    std::vector<AudioBlock> audio;
    const bool more = decoder.decode_next(frames, audio);
    if (more == (frames.empty() && audio.empty())) std::abort();
    if (!frames.empty() && !info.has_video) std::abort();
    if (!audio.empty() && !info.has_audio) std::abort();
    for (const VideoFrame& f : frames) {
      if (f.width != info.width || f.height != info.height) std::abort();
      if (f.pixels.size() != std::size_t(f.width) * f.height || !std::isfinite(f.time)) std::abort();
      for (std::uint32_t p : f.pixels)
        if (p >> 24 != 0xFF) std::abort();
    }
    for (const AudioBlock& b : audio) {
      if (b.samples.empty() || b.samples.size() % 2 != 0 || !std::isfinite(b.time)) std::abort();
      for (float v : b.samples)
        if (!std::isfinite(v)) std::abort();
    }
    if (!more) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int rate = size > 0 ? kRates[data[size - 1] & 3] : 48000;
  MovieDecoder decoder;
  std::string why;
  if (!decoder.open(MovieSource{{}, std::string(reinterpret_cast<const char*>(data), size)}, rate, &why)) {
    if (why.empty()) std::abort();
    if (decoder.info().has_video || decoder.info().has_audio) std::abort();
    return 0;
  }
  const MovieInfo& info = decoder.info();
  check_info(info);
  if (std::int64_t(info.width) * info.height > kMostDecodedPixels) return 0;
  decode(decoder, kCalls);
  if (decoder.rewind()) {
    check_info(decoder.info());
    decode(decoder, kCallsAfterRewind);
  }
  return 0;
}
