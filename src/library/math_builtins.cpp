// Integer and float math, the random generator, noise, curves and key frames.
#include <cmath>
#include <cstring>
#include <cstdio>
#include <mutex>

#include "library/library_builtins.h"
#include "library/math_tables.h"
#include "platform/clock.h"
#include "vm/call_gate.h"

namespace talven::library {
namespace {

using vm::argument_float;
using vm::argument_int;
using vm::argument_word;
using vm::float_result;

// ---- MT19937 with the 1998 reference seeding -------------------------------------------------
constexpr int kStateWords = 624;
constexpr int kMiddle = 397;
std::uint32_t g_state[kStateWords];
int g_index = kStateWords + 1;  // never seeded

void seed_state(std::uint32_t s) {
  for (int i = 0; i < kStateWords; ++i) {
    std::uint32_t word = s & 0xFFFF0000u;
    s = 69069u * s + 1;
    word |= (s & 0xFFFF0000u) >> 16;
    s = 69069u * s + 1;
    g_state[i] = word;
  }
  g_index = kStateWords;
}

std::uint32_t draw() {
  if (g_index >= kStateWords) {
    if (g_index == kStateWords + 1) seed_state(4357);
    auto twist = [](std::uint32_t upper, std::uint32_t lower, std::uint32_t far) {
      std::uint32_t y = (upper & 0x80000000u) | (lower & 0x7FFFFFFFu);
      return far ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
    };
    for (int k = 0; k < kStateWords; ++k)
      g_state[k] = twist(g_state[k], g_state[(k + 1) % kStateWords], g_state[(k + kMiddle) % kStateWords]);
    g_index = 0;
  }
  std::uint32_t y = g_state[g_index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

struct Tables {
  std::int32_t sine[kSineEntries];
  std::int32_t atan[kAtanEntries];
  float random[kRandomTableEntries];
};
Tables g_tables;
std::once_flag g_tables_once;

void build_tables() {
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < kSineEntries; ++i)
    g_tables.sine[i] = static_cast<std::int32_t>(std::sin(i * 2.0 * pi / 2048.0) * 65536.0);
  for (int i = 0; i < kAtanEntries; ++i)
    g_tables.atan[i] = static_cast<std::int32_t>(std::atan(i / 256.0) * 1024.0 / pi);
  // The table is drawn from the generator in its unseeded state (which seeds it with 4357), then
  // the generator is reseeded from the clock, as start-up does.
  for (int k = 0; k < kRandomTableEntries; ++k)
    g_tables.random[k] = static_cast<float>((draw() & 0x7FFFFFFFu) * 4.656612873077393e-10);
  seed_state(platform::tick_count());
}

const Tables& tables() {
  std::call_once(g_tables_once, build_tables);
  return g_tables;
}

// ---- Noise ---------------------------------------------------------------------------------
int g_octaves = 4;
float g_persistence = 0.5f;

std::uint32_t float_math(Address arguments, double (*f)(double)) {
  return float_result(static_cast<float>(f(argument_float(arguments, 0))));
}

double bezier(double p0, double p1, double p2, double t) {
  double u = 1.0 - t;
  return u * u * p0 + 2.0 * t * u * p1 + t * t * p2;
}

double neville(double p0, double p1, double p2, double t) {
  double x = 2.0 * t;
  double a = (p1 - p0) * (x - 1.0) + p1;
  double b = p2 + (p2 - p1) * (x - 2.0);
  return b + (x - 2.0) * (b - a) * 0.5;
}

// ---- Key frames ------------------------------------------------------------------------------
// A track is `count` records of four floats in script memory; every access goes through this view,
// which refuses a track that does not lie wholly in script memory.
constexpr std::uint32_t kKeySize = 16;
struct Track {
  Address base = 0;
  int count = 0;
  bool valid() const { return base != 0 && count >= 1; }
  // Only called on a track whose whole range was checked, with 0 <= index < count.
  float field(int index, int f) const {
    float value;
    std::memcpy(&value, vm::host_pointer(base) + static_cast<std::size_t>(index) * kKeySize + 4u * static_cast<std::size_t>(f), 4);
    return value;
  }
  void set(int index, int f, float value) const {
    std::memcpy(vm::host_pointer(base) + static_cast<std::size_t>(index) * kKeySize + 4u * static_cast<std::size_t>(f), &value, 4);
  }
  float time(int i) const { return field(i, 0); }
  float value(int i) const { return field(i, 1); }
};

Track track_argument(Address arguments) {
  Track track{argument_word(arguments, 0), argument_int(arguments, 1)};
  if (!track.valid() || !vm::usable_range(track.base, std::uint64_t(track.count) * kKeySize)) return Track{};
  return track;
}

// Binary search for key[i].time <= t < key[i+1].time. A t at or beyond the last key has no such i.
int key_index(const Track& track, float t) {
  int lo = 0, hi = track.count - 1;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    if (track.time(mid) <= t) {
      if (mid + 1 >= track.count) return -1;
      if (track.time(mid + 1) > t) return mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return -1;
}

float key_value(const Track& track, float t, int mode) {
  if (!track.valid()) return 0.0f;
  const int last = track.count - 1;
  if (track.time(0) >= t) return track.value(0);
  if (track.time(last) <= t) return track.value(last);
  int i = key_index(track, t);
  if (i < 0) return 0.0f;
  if (i + 1 >= track.count) return track.value(last);
  const float a = track.value(i), b = track.value(i + 1);
  const float t0 = track.time(i), t1 = track.time(i + 1);
  float s = 0.0f;
  if (b != a) s = (t - t0) / (t1 - t0);
  switch (mode) {
    case 0: return a;
    case 1: return a + (b - a) * s;
    case 2: return a + (b - a) * s * s;
    case 3: return a + (b - a) * std::sqrt(s);
    case 4: {
      float v = track.field(last, 2);
      for (int j = last - 1; j >= 0; --j) v = (t - track.time(j)) * v + track.field(j, 2);
      return v;
    }
    case 5: return static_cast<float>(neville(a, b, b, s));
    case 6: return static_cast<float>(neville(a, a, b, s));
    case 7: return static_cast<float>(bezier(a, b, b, s));
    case 8: return static_cast<float>(bezier(a, a, b, s));
    case 9: {
      float m0 = b - a, m1 = b - a;
      if (i >= 1) m0 = ((t1 - t0) / (t1 - track.time(i - 1))) * ((a - track.value(i - 1)) + (b - a));
      if (i + 2 < track.count) m1 = ((t1 - t0) / (track.time(i + 2) - t0)) * ((track.value(i + 2) - b) + (b - a));
      float s2 = s * s, s3 = s2 * s;
      float h01 = 3 * s2 - 2 * s3, h10 = s3 - 2 * s2 + s, h11 = s3 - s2;
      return h01 * b + (1 - h01) * a + h10 * m0 + h11 * m1;
    }
    default: return 0.0f;
  }
}

}  // namespace

const std::int32_t* sine_table() { return tables().sine; }
const std::int32_t* atan_table() { return tables().atan; }
const float* random_table() { return tables().random; }

void random_seed(std::uint32_t seed) {
  tables();
  seed_state(seed != 0 ? seed : platform::tick_count());
}

std::uint32_t random_next() {
  tables();
  return draw();
}

void perlin_settings(int octaves, float persistence) {
  if (octaves > 0) g_octaves = octaves;
  if (persistence > 0) g_persistence = persistence;
}

float perlin_noise(float x, float y, float z) {
  const float* table = random_table();
  const double pi = 3.14159265358979323846;
  double ax = std::fabs(double(x)), ay = std::fabs(double(y)), az = std::fabs(double(z));
  // Integer parts wrap like the 32-bit ones did; the table index only uses the low bits.
  auto integer_part = [](double v) { return v < 4294967296.0 ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)) : 0u; };
  std::uint32_t ix = integer_part(ax), iy = integer_part(ay), iz = integer_part(az);
  double fx = ax - std::floor(ax), fy = ay - std::floor(ay), fz = az - std::floor(az);
  double sum = 0.0, amplitude = 0.5;
  auto corner = [&](std::uint32_t h, std::uint32_t k) { return double(table[(h + k) & 4095u]); };
  auto mix = [](double a, double b, double w) { return a + (b - a) * w; };
  for (int octave = 0; octave < g_octaves; ++octave) {
    std::uint32_t h = ((iz * 16u) + iy) * 16u + ix;
    double wx = (1.0 - std::cos(fx * pi)) * 0.5, wy = (1.0 - std::cos(fy * pi)) * 0.5, wz = (1.0 - std::cos(fz * pi)) * 0.5;
    double x00 = mix(corner(h, 0), corner(h, 1), wx);
    double x10 = mix(corner(h, 16), corner(h, 17), wx);
    double x01 = mix(corner(h, 256), corner(h, 257), wx);
    double x11 = mix(corner(h, 272), corner(h, 273), wx);
    double y0 = mix(x00, x10, wy), y1 = mix(x01, x11, wy);
    sum += mix(y0, y1, wz) * amplitude;
    amplitude *= g_persistence;
    ix *= 2u, iy *= 2u, iz *= 2u;
    fx *= 2.0, fy *= 2.0, fz *= 2.0;
    if (fx >= 1.0) fx -= 1.0, ix += 1u;
    if (fy >= 1.0) fy -= 1.0, iy += 1u;
    if (fz >= 1.0) fz -= 1.0, iz += 1u;
  }
  return static_cast<float>(sum);
}

// ---- Integer math ----------------------------------------------------------------------------

std::uint32_t bi_srand(Address arguments) {
  random_seed(argument_word(arguments, 0));
  return 1;
}
std::uint32_t bi_rand(Address) { return random_next() & 0x7FFFFFFFu; }
std::uint32_t bi_random(Address) {
  return float_result(static_cast<float>((random_next() & 0x7FFFFFFFu) * 4.656612873077393e-10));
}
std::uint32_t bi_abs(Address arguments) {
  std::uint32_t n = argument_word(arguments, 0);
  return (n & 0x80000000u) ? 0u - n : n;
}
std::uint32_t bi_sgn(Address arguments) {
  std::int32_t n = argument_int(arguments, 0);
  return static_cast<std::uint32_t>(n > 0 ? 1 : n < 0 ? -1 : 0);
}
std::uint32_t bi_tsin(Address arguments) {
  return static_cast<std::uint32_t>(sine_table()[argument_word(arguments, 0) & 2047u]);
}
std::uint32_t bi_tcos(Address arguments) {
  return static_cast<std::uint32_t>(sine_table()[(argument_word(arguments, 0) + 512u) & 2047u]);
}
std::uint32_t bi_tatan(Address arguments) {
  std::int64_t x = argument_int(arguments, 0), y = argument_int(arguments, 1);
  if (x == 0 && y == 0) return 0;
  std::int64_t ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
  const std::int32_t* table = atan_table();
  std::int64_t r = ax < ay ? 512 - table[(ax * 256) / ay] : table[(ay * 256) / ax];
  if (x <= 0) r = 1024 - r;
  std::int64_t result = y < 1 ? 2048 - r : r;
  return static_cast<std::uint32_t>(result & 2047);
}

// ---- Float math ------------------------------------------------------------------------------

std::uint32_t bi_fabs(Address a) { return float_math(a, [](double v) { return std::fabs(v); }); }
std::uint32_t bi_sqrt(Address a) { return float_math(a, [](double v) { return std::sqrt(v); }); }
std::uint32_t bi_log(Address a) { return float_math(a, [](double v) { return std::log(v); }); }
std::uint32_t bi_exp(Address a) { return float_math(a, [](double v) { return std::exp(v); }); }
std::uint32_t bi_floor(Address a) { return float_math(a, [](double v) { return std::floor(v); }); }
std::uint32_t bi_ceil(Address a) { return float_math(a, [](double v) { return std::ceil(v); }); }
std::uint32_t bi_sin(Address a) { return float_math(a, [](double v) { return std::sin(v); }); }
std::uint32_t bi_cos(Address a) { return float_math(a, [](double v) { return std::cos(v); }); }
std::uint32_t bi_tan(Address a) { return float_math(a, [](double v) { return std::tan(v); }); }
std::uint32_t bi_asin(Address a) { return float_math(a, [](double v) { return std::asin(v); }); }
std::uint32_t bi_acos(Address a) { return float_math(a, [](double v) { return std::acos(v); }); }
std::uint32_t bi_pow(Address a) {
  return float_result(static_cast<float>(std::pow(double(argument_float(a, 0)), double(argument_float(a, 1)))));
}
std::uint32_t bi_atan(Address a) {
  return float_result(static_cast<float>(std::atan2(double(argument_float(a, 0)), double(argument_float(a, 1)))));
}

std::uint32_t bi_ftoa(Address arguments) {
  char text[64];
  int n = std::snprintf(text, sizeof text, "%f", double(argument_float(arguments, 1)));
  if (n < 0 || n >= static_cast<int>(sizeof text)) return 0;
  return vm::store_string(argument_word(arguments, 0), text, static_cast<std::uint32_t>(n) + 1) ? 1 : 0;
}

// ---- Noise and curves ------------------------------------------------------------------------

std::uint32_t bi_perlin_init(Address arguments) {
  perlin_settings(argument_int(arguments, 0), argument_float(arguments, 1));
  return 1;
}
std::uint32_t bi_perlin_noise(Address a) {
  return float_result(perlin_noise(argument_float(a, 0), argument_float(a, 1), argument_float(a, 2)));
}
std::uint32_t bi_bezier(Address a) {
  return float_result(static_cast<float>(bezier(argument_float(a, 0), argument_float(a, 1), argument_float(a, 2), argument_float(a, 3))));
}
std::uint32_t bi_neville(Address a) {
  return float_result(static_cast<float>(neville(argument_float(a, 0), argument_float(a, 1), argument_float(a, 2), argument_float(a, 3))));
}
std::uint32_t bi_linear(Address a) {
  float x = argument_float(a, 0), y = argument_float(a, 1), t = argument_float(a, 2);
  return float_result(x + (y - x) * t);
}

// ---- Key frames ------------------------------------------------------------------------------

std::uint32_t bi_kf_setkey(Address arguments) {
  Address key = argument_word(arguments, 0);
  if (!vm::usable_range(key, kKeySize)) return 0;
  vm::store(key, argument_float(arguments, 1));
  vm::store(key + 4, argument_float(arguments, 2));
  return 1;
}

std::uint32_t bi_kf_calc(Address arguments) {
  Track track = track_argument(arguments);
  if (!track.valid()) return 1;
  for (int k = 0; k < track.count; ++k) {
    track.set(k, 3, track.value(k));
    for (int m = k - 1; m >= 0; --m)
      track.set(m, 3, (track.field(m + 1, 3) - track.field(m, 3)) / (track.time(k) - track.time(m)));
    track.set(k, 2, track.field(0, 3));
  }
  return 1;
}

std::uint32_t bi_kf_getindex(Address arguments) {
  Track track = track_argument(arguments);
  if (!track.valid()) return static_cast<std::uint32_t>(-1);
  return static_cast<std::uint32_t>(key_index(track, argument_float(arguments, 2)));
}

std::uint32_t bi_kf_getkey(Address arguments) {
  Track track = track_argument(arguments);
  return float_result(key_value(track, argument_float(arguments, 2), argument_int(arguments, 3)));
}

// A fresh process has drawn its random table and seeded the generator from the clock.
void reset_math_state() {
  tables();
  seed_state(platform::tick_count());
  g_octaves = 4;
  g_persistence = 0.5f;
}

}  // namespace talven::library
