// The cost of the music parts as a fraction of one core per second of sound, at 48 kHz stereo:
//   MIDI: FluidSynth (as the game's music sets it up: default polyphony of 256, reverb and chorus
//         on) rendering a dense 16-channel file (tests/sound/midi_writer.h: held four-note chords
//         and sixteenth-note arpeggios on fifteen channels, drums on channel 9, CC7 every bar,
//         program changes every four bars), with every SoundFont found of TimGM6mb and FluidR3;
//         the mean and peak of the synthesiser's active voices are reported beside it;
//   CD:   the track decoder (libsndfile, then the Speex resampler from 44100 Hz) on the same 30 s
//         stereo tone encoded as WAV, FLAC (flac), Ogg Vorbis (oggenc) and MP3 (lame), those
//         encoders permitting.
// Times are the thread's CPU clock; each figure is the median of three runs.
// Run: bench_music_render [--seconds N]   (N seconds of music per run, default 30)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sound/cd_audio.h"
#include "sound/midi_music.h"
#include "sound/midi_writer.h"
#include "sound/sound_test_support.h"

namespace {

using namespace talven::sound;
namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr int kBlock = 1024;
constexpr int kRuns = 3;

double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void midi(const std::string& font, double seconds) {
  const test::MidiBytes bytes = test::dense_midi_file(seconds);
  const auto playable = playable_midi_file(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!playable) {
    std::printf("MIDI: the dense file does not load\n");
    return;
  }
  OfflineMidi synth(kRate, font);
  if (!synth.ready()) {
    std::printf("MIDI %-38s cannot be loaded\n", font.c_str());
    return;
  }
  std::vector<double> costs;
  double voices_sum = 0, energy = 0, peak = 0;
  int voices_peak = 0, blocks = 0;
  std::vector<float> out(2 * kBlock);
  for (int run = 0; run < kRuns; ++run) {
    synth.play(*playable);
    const int total = static_cast<int>(seconds * kRate / kBlock);
    const double start = thread_cpu_seconds();
    for (int b = 0; b < total; ++b) {
      synth.render(out.data(), kBlock);
      if (run == 0) {
        const int v = synth.active_voices();
        voices_sum += v;
        voices_peak = std::max(voices_peak, v);
        ++blocks;
        for (float x : out) {
          energy += double(x) * x;
          peak = std::max(peak, double(std::abs(x)));
        }
      }
    }
    costs.push_back((thread_cpu_seconds() - start) / (total * double(kBlock) / kRate));
  }
  const double rms = std::sqrt(energy / (2.0 * kBlock * std::max(blocks, 1)));
  std::printf("MIDI %-16s %6.2f%% of a core   voices: mean %5.1f, peak %d (polyphony 256)   level: %.1f dBFS RMS, peak %.2f\n",
              fs::path(font).filename().c_str(), 100 * median(costs), voices_sum / std::max(blocks, 1), voices_peak,
              20 * std::log10(std::max(rms, 1e-9)), peak);
}

void cd(const fs::path& file, const char* kind, double seconds) {
  if (!fs::exists(file)) {
    std::printf("CD   %-6s not made (the encoder is missing)\n", kind);
    return;
  }
  std::vector<double> costs;
  std::vector<float> out;
  for (int run = 0; run < kRuns; ++run) {
    TrackDecoder decoder;
    if (!decoder.open(file.string(), 0, static_cast<std::int64_t>(seconds), kRate)) {
      std::printf("CD   %-6s does not open\n", kind);
      return;
    }
    out.resize(2 * decoder.largest_step());
    std::size_t frames = 0;
    const double start = thread_cpu_seconds();
    while (!decoder.done()) frames += decoder.decode(out.data());
    costs.push_back((thread_cpu_seconds() - start) / (double(frames) / kRate));
  }
  std::printf("CD   %-6s %6.2f%% of a core\n", kind, 100 * median(costs));
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 30;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1.0, std::atof(argv[i + 1]));

  for (const char* font : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"})
    if (fs::exists(font)) midi(font, seconds);

  const fs::path work = fs::temp_directory_path() / ("talven-bench-music-" + std::to_string(::getpid()));
  fs::create_directories(work);
  const fs::path wav = work / "track.wav";
  std::ofstream(wav, std::ios::binary) << test::wave_file(test::sine(440, 44100, seconds + 1, 0.5, 2), 44100, 2, 16);
  const std::string w = wav.string(), d = work.string();
  std::system(("flac -s -f -o '" + d + "/track.flac' '" + w + "' 2>/dev/null").c_str());
  std::system(("oggenc -Q -q 5 -o '" + d + "/track.ogg' '" + w + "' 2>/dev/null").c_str());
  std::system(("lame --quiet -b 192 '" + w + "' '" + d + "/track.mp3' 2>/dev/null").c_str());
  cd(wav, "WAV", seconds);
  cd(work / "track.flac", "FLAC", seconds);
  cd(work / "track.ogg", "Ogg", seconds);
  cd(work / "track.mp3", "MP3", seconds);
  fs::remove_all(work);
  return 0;
}
