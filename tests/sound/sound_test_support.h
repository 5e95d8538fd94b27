// Test sounds made by the tests themselves, and measures of what came out: level, pitch and the
// energy at one frequency. Measures over stereo float frames take a channel (0 left, 1 right, -1
// both) and a range of frames.
#pragma once
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace talven::sound::test {

inline std::vector<std::int16_t> sine(double hz, int rate, double seconds, double amplitude, int channels = 1) {
  const int frames = static_cast<int>(rate * seconds);
  std::vector<std::int16_t> pcm;
  pcm.reserve(std::size_t(frames) * channels);
  for (int i = 0; i < frames; ++i) {
    const auto v = static_cast<std::int16_t>(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * i / rate)));
    for (int c = 0; c < channels; ++c) pcm.push_back(v);
  }
  return pcm;
}

// White noise from a fixed seed: it compresses badly, so its Ogg file has many pages.
inline std::vector<std::int16_t> noise(int rate, double seconds, double amplitude) {
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(rate * seconds));
  std::uint32_t state = 20261211;
  for (auto& v : pcm) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<std::int16_t>(amplitude * static_cast<std::int16_t>(state >> 16));
  }
  return pcm;
}

inline void put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}
inline void put16(std::string& s, std::uint16_t v) {
  s += static_cast<char>(v);
  s += static_cast<char>(v >> 8);
}

// A RIFF wave file of 16-bit samples (or their top bytes as unsigned 8-bit ones).
inline std::string wave_file(const std::vector<std::int16_t>& pcm, int rate, int channels, int bits) {
  std::string data;
  for (std::int16_t v : pcm) {
    if (bits == 8) data += static_cast<char>((v >> 8) + 128);
    else put16(data, static_cast<std::uint16_t>(v));
  }
  const int block = channels * bits / 8;
  std::string f = "RIFF";
  put32(f, static_cast<std::uint32_t>(36 + data.size()));
  f += "WAVEfmt ";
  put32(f, 16);
  put16(f, 1);
  put16(f, static_cast<std::uint16_t>(channels));
  put32(f, static_cast<std::uint32_t>(rate));
  put32(f, static_cast<std::uint32_t>(rate * block));
  put16(f, static_cast<std::uint16_t>(block));
  put16(f, static_cast<std::uint16_t>(bits));
  f += "data";
  put32(f, static_cast<std::uint32_t>(data.size()));
  return f + data;
}

inline std::string read_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The same sound as Ogg Vorbis, made by oggenc with a COMMENT= comment; empty without oggenc.
inline std::string ogg_file(const std::vector<std::int16_t>& pcm, int rate, const std::string& comment, int channels = 1) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("talven-ogg-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "in.wav", std::ios::binary) << wave_file(pcm, rate, channels, 16);
  const std::string command = "oggenc -Q -q 6 -c 'COMMENT=" + comment + "' -o '" + (dir / "out.ogg").string() + "' '" +
                              (dir / "in.wav").string() + "' 2>/dev/null";
  std::string ogg;
  if (std::system(command.c_str()) == 0) ogg = read_bytes(dir / "out.ogg");
  std::filesystem::remove_all(dir);
  return ogg;
}

inline double rms(const std::vector<float>& stereo, int from, int to, int channel = -1) {
  double sum = 0;
  int count = 0;
  for (int i = from; i < to && 2 * std::size_t(i) + 1 < stereo.size(); ++i)
    for (int c = 0; c < 2; ++c)
      if (channel < 0 || channel == c) {
        sum += double(stereo[2 * std::size_t(i) + c]) * stereo[2 * std::size_t(i) + c];
        ++count;
      }
  return count == 0 ? 0.0 : std::sqrt(sum / count);
}

// The pitch of the left channel from its rising zero crossings.
inline double frequency(const std::vector<float>& stereo, int from, int to, int rate) {
  int first = -1, last = -1, crossings = 0;
  for (int i = from + 1; i < to && 2 * std::size_t(i) < stereo.size(); ++i)
    if (stereo[2 * std::size_t(i - 1)] < 0 && stereo[2 * std::size_t(i)] >= 0) {
      if (first < 0) first = i;
      last = i;
      ++crossings;
    }
  if (crossings < 2) return 0.0;
  return double(crossings - 1) * rate / (last - first);
}

// The amplitude of the left channel's component at `hz` (a single-bin Fourier transform).
inline double amplitude_at(const std::vector<float>& stereo, int from, int to, int rate, double hz) {
  double re = 0, im = 0;
  int n = 0;
  for (int i = from; i < to && 2 * std::size_t(i) < stereo.size(); ++i, ++n) {
    const double phase = 2.0 * M_PI * hz * i / rate;
    re += stereo[2 * std::size_t(i)] * std::cos(phase);
    im += stereo[2 * std::size_t(i)] * std::sin(phase);
  }
  return n == 0 ? 0.0 : 2.0 * std::sqrt(re * re + im * im) / n;
}

// The strongest frequency of the left channel between `low` and `high` Hz, to a hertz: the pitch of
// a tone rich in harmonics, where zero crossings mislead.
inline double peak_frequency(const std::vector<float>& stereo, int from, int to, int rate, int low, int high) {
  double best = 0, best_amplitude = -1;
  for (int hz = low; hz <= high; ++hz) {
    const double a = amplitude_at(stereo, from, to, rate, hz);
    if (a > best_amplitude) {
      best_amplitude = a;
      best = hz;
    }
  }
  return best;
}

// A 16-bit stereo WAV file (what --audio-out writes) as stereo floats; its rate in `rate`.
inline std::vector<float> read_wave_output(const std::filesystem::path& p, int& rate) {
  const std::string b = read_bytes(p);
  std::vector<float> out;
  rate = 0;
  if (b.size() < 44 || b.compare(0, 4, "RIFF") != 0) return out;
  rate = static_cast<int>(std::uint8_t(b[24]) | std::uint8_t(b[25]) << 8 | std::uint8_t(b[26]) << 16);
  for (std::size_t i = 44; i + 1 < b.size(); i += 2)
    out.push_back(static_cast<std::int16_t>(std::uint8_t(b[i]) | std::uint8_t(b[i + 1]) << 8) / 32768.0f);
  return out;
}

}  // namespace talven::sound::test
