// The movie player's decoding cost per second of movie, as a fraction of one core, side by side with
// the ffmpeg command decoding the same clip: a 1280x720, 30 frames a second H.264 clip with AAC
// sound (ten seconds of FFmpeg's testsrc2 pattern and a tone, made here by the ffmpeg command).
//   ours:   MovieDecoder as the player runs it: demuxing, decoding, the picture converted to
//           0xAARRGGBB at its shown size and the sound resampled to 48 kHz float stereo;
//   ffmpeg: `ffmpeg -threads N -i clip -f null -`, decoding both streams and throwing them away
//           (no conversion), its user and system time from the child's resource usage.
// Both decode with the same number of threads as the player's decoder uses. Each figure is the
// median of three runs; the ratio is ours over ffmpeg's (below 1.3 is the target).
// Run: bench_movie_decode [--seconds N]   (N seconds of clip, default 10)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "sound/movie_decoder.h"

namespace {

using namespace talven::sound;
namespace fs = std::filesystem;

constexpr int kRuns = 3;

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double children_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec * 1e-6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
  const fs::path work = fs::temp_directory_path() / ("talven-bench-movie-" + std::to_string(::getpid()));
  fs::create_directories(work);
  const std::string clip = (work / "clip.mp4").string();
  const std::string make = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30:duration=" + std::to_string(seconds) +
                           " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds) +
                           " -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac '" + clip + "'";
  if (std::system(make.c_str()) != 0) {
    std::printf("the clip could not be made (the ffmpeg command with libx264 is needed)\n");
    return 1;
  }

  std::vector<double> ours, theirs;
  int frames = 0;
  for (int run = 0; run < kRuns; ++run) {
    MovieDecoder decoder;
    std::string why;
    const double start = process_cpu_seconds();
    if (!decoder.open(MovieSource{clip, {}}, 48000, &why)) {
      std::printf("the clip does not open: %s\n", why.c_str());
      return 1;
    }
    std::vector<VideoFrame> pictures;
    std::vector<AudioBlock> sound;
    frames = 0;
    while (decoder.decode_next(pictures, sound)) {
      frames += static_cast<int>(pictures.size());
      pictures.clear();
      sound.clear();
    }
    ours.push_back((process_cpu_seconds() - start) / seconds);

    const double before = children_cpu_seconds();
    const std::string decode = "ffmpeg -v error -threads " + std::to_string(kMovieDecoderThreads) + " -i '" + clip + "' -f null - ";
    if (std::system(decode.c_str()) != 0) {
      std::printf("ffmpeg could not decode the clip\n");
      return 1;
    }
    theirs.push_back((children_cpu_seconds() - before) / seconds);
  }
  fs::remove_all(work);
  const double a = median(ours), b = median(theirs);
  std::printf("1280x720 30 fps H.264 + AAC, %d s, %d pictures, decoder threads %d\n", seconds, frames, kMovieDecoderThreads);
  std::printf("ours (decode, convert to ARGB, resample) %6.2f%% of a core\n", 100 * a);
  std::printf("ffmpeg -f null (decode only)             %6.2f%% of a core\n", 100 * b);
  std::printf("ratio ours / ffmpeg                      %6.2f\n", a / b);
  return 0;
}
