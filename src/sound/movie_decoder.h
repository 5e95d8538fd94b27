// The decoding core of the movie player: a movie file (a host path or bytes read out of an archive)
// through FFmpeg into pictures as 0xAARRGGBB pixels at the size the movie is shown and sound as
// interleaved float stereo at the output's rate, each stamped with its time from the start of the
// file.
//
// Threads: one thread at a time uses a decoder (the player's decoder thread); nothing in it is
// shared with another decoder, so two movies may decode on two threads. FFmpeg's log is global and
// left as the engine set it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talven::sound {

// Where a movie's bytes come from: a host file path, or bytes in memory (a file read out of an archive).
struct MovieSource {
  std::string host_path;
  std::string bytes;  // used, and host_path ignored, when non-empty
};

struct MovieInfo {
  bool has_video = false, has_audio = false;
  // The picture as shown: a sample aspect ratio other than 1:1 scales the width, rounded up to even.
  int width = 0, height = 0;
  double duration = 0;    // seconds; 0 when unknown
  double frame_rate = 0;  // average frames a second, 0 when unknown
};

// A picture at the movie's shown size: width * height pixels 0xAARRGGBB, row by row from the top,
// alpha always 0xFF.
struct VideoFrame {
  double time = 0;
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
};

// Sound: interleaved stereo frames (left, right) at the rate asked for at open, finite values.
struct AudioBlock {
  double time = 0;
  std::vector<float> samples;
};

// The largest picture a movie may have: neither side over kMaxMovieSide, and no more pixels than a
// square kMaxMovieSquare on a side. Bounds what a bad or hostile file can make the decoder allocate.
inline constexpr int kMaxMovieSide = 16384;
inline constexpr int kMaxMovieSquare = 8192;
inline constexpr std::int64_t kMaxMoviePixels = std::int64_t(kMaxMovieSquare) * kMaxMovieSquare;

// The threads a picture decoder uses at most: two, so a large movie can use a second core (one
// when the game turns MultiThreading off); sound decodes on one.
inline constexpr int kMovieDecoderThreads = 2;

class MovieDecoder {
 public:
  MovieDecoder();
  ~MovieDecoder();
  MovieDecoder(MovieDecoder&&) noexcept;
  MovieDecoder& operator=(MovieDecoder&&) noexcept;
  MovieDecoder(const MovieDecoder&) = delete;
  MovieDecoder& operator=(const MovieDecoder&) = delete;

  // Opens and probes the movie, dropping whatever was open before; `audio_rate` (8000 to 192000)
  // is the rate of the sound that comes out. The bytes of a memory source are copied. False with a
  // short English reason in *why, e.g. "not a media file FFmpeg can read", "no stream FFmpeg can
  // decode", "picture of 40000x40000 is larger than 16384x16384". The movie's picture is its best
  // video stream that is not an attached picture (cover art), its sound its best audio stream.
  // `picture_threads` (1 or 2) is how many threads decode pictures.
  bool open(const MovieSource& source, int audio_rate, std::string* why = nullptr,
            int picture_threads = kMovieDecoderThreads);
  // What open found; all zero before an open succeeds.
  const MovieInfo& info() const;
  // Decodes until at least one video frame or audio block is ready and appends them to `frames`
  // and `audio`; false, adding nothing, at the end of the file or on an error that stops decoding.
  // Frames come out in decode order per stream with their presentation times in seconds from the
  // start of the file (the first frame's time is about 0 even when the container's clock starts
  // later). A picture or sound packet the decoder refuses is skipped; the next one is tried.
  bool decode_next(std::vector<VideoFrame>& frames, std::vector<AudioBlock>& audio);
  // Back to the start: seeks to the first frame and forgets what the decoders and the resampler
  // held; opens the source afresh when the container cannot seek. False when neither works; the
  // decoder is then closed (info all zero, decode_next false) until the next open.
  bool rewind();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace talven::sound
