#include "graphics/pixel_simd.h"

#include <algorithm>
#include <cstring>

#include "graphics/pixel_tables.h"

#if defined(__x86_64__) || defined(__SSE2__)
#define TALVEN_X86 1
// GCC 12's AVX-512 headers build their "undefined" vectors by self-initialisation, which
// -Wmaybe-uninitialized reports at every inlined use.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

// The wider forms are compiled for their instruction sets function by function, so the rest of
// the engine still runs on any x86-64; each compiler has its own way of saying so for a region.
#if defined(__clang__)
#define TALVEN_TARGET_BEGIN(features) \
  _Pragma(TALVEN_STRINGIFY(clang attribute push(__attribute__((target(features))), apply_to = function)))
#define TALVEN_TARGET_END _Pragma("clang attribute pop")
#else
#define TALVEN_TARGET_BEGIN(features) _Pragma("GCC push_options") _Pragma(TALVEN_STRINGIFY(GCC target(features)))
#define TALVEN_TARGET_END _Pragma("GCC pop_options")
#endif
#define TALVEN_STRINGIFY(x) #x

// The arithmetic that replaces the tables, each form checked against them for all inputs:
// - mul(x, y) = x * y / 255 for x * y <= 65025 is (t * 0x8081) >> 23, i.e. mulhi(t, 0x8081) >> 7
//   on 16-bit lanes.
// - W(a, b) for a > 0 is 65025 a / (255 a + b (255 - a)) truncated: numerator and denominator
//   are exact in single precision and the quotient never rounds across an integer, except at
//   a = 204, b = 136, where the quotient is exactly 225 but the table (built in double precision
//   through a / 255 and b / 255) holds 224. The denominator never exceeds 65025.
// - a = 0 leaves the pixel when k is taken as 0: mul(255, d) = d and screen(0, b) = b.
// - W(a, 255) = a for every a, and screen(a, 255) = 255.

namespace talven::graphics::simd {
namespace {

// ---- plain rules, for the last few pixels of a row and for machines without SSE2 -----------

inline void composite_scalar(std::uint32_t s, std::uint8_t* d, std::uint32_t opacity) {
  const auto& T = g_pixel_tables;
  const std::uint32_t a = T.multiply[s >> 24][opacity];
  if (a == 0) return;
  const std::uint32_t da = d[3];
  const std::uint8_t* mk = T.multiply[T.weight[a][da]];
  const std::uint8_t* mr = T.multiply[255 - T.weight[a][da]];
  for (int i = 0; i < 3; ++i) d[i] = static_cast<std::uint8_t>(mk[(s >> (8 * i)) & 255] + mr[d[i]]);
  d[3] = T.screen[a][da];
}

inline void blend_scalar(const std::uint8_t* s, std::uint8_t* d, std::uint32_t opacity) {
  const std::uint8_t* mo = g_pixel_tables.multiply[opacity];
  const std::uint8_t* mr = g_pixel_tables.multiply[255 - opacity];
  for (int i = 0; i < 4; ++i) d[i] = static_cast<std::uint8_t>(mo[s[i]] + mr[d[i]]);
}

[[maybe_unused]] void composite_row_plain(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  for (int x = 0; x < n; ++x) {
    std::uint32_t c;
    std::memcpy(&c, s + 4 * x, 4);
    composite_scalar(c, d + 4 * x, opacity);
  }
}
[[maybe_unused]] void composite_fill_row_plain(std::uint32_t colour, std::uint8_t* d, int n) {
  for (int x = 0; x < n; ++x) composite_scalar(colour, d + 4 * x, 255);
}
[[maybe_unused]] void blend_row_plain(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  for (int x = 0; x < n; ++x) blend_scalar(s + 4 * x, d + 4 * x, opacity);
}

// The bilinear filter is computed in two stages, along the rows and then between them:
//   ((256 - v)((256 - u) a + u b) + v((256 - u) c + u d)) >> 16
// for 8-bit fractions u, v and corners a (iu, iv), b (iu + 1, iv), c (iu, iv + 1), d. Expanded, the
// sum is 65536 a + A uv + 256 (B v + C u) with A = d - b - c + a, B = c - a, C = b - a: the very
// integer whose shift the engine's formula adds to a, so the two give the same numbers.
struct BilinearSample {
  const std::uint8_t* row0;  // corners a and b
  const std::uint8_t* row1;  // corners c and d
  std::uint32_t u, v;        // 8-bit fractions
};

inline BilinearSample bilinear_at(const BilinearRun& r, int k) {
  const std::int64_t u = static_cast<std::int64_t>(r.u + std::uint64_t(k) * r.du);
  const std::int64_t v = static_cast<std::int64_t>(r.v + std::uint64_t(k) * r.dv);
  const std::uint8_t* row0 = r.top - (v >> 16) * r.pitch + (u >> 16) * 4;
  return {row0, row0 - r.pitch, static_cast<std::uint32_t>(u >> 8) & 255, static_cast<std::uint32_t>(v >> 8) & 255};
}

[[maybe_unused]] void bilinear_row_plain(const BilinearRun& run, std::uint32_t* out, int n) {
  for (int k = 0; k < n; ++k) {
    const BilinearSample s = bilinear_at(run, k);
    std::uint32_t colour = 0;
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t top = (256 - s.u) * s.row0[c] + s.u * s.row0[4 + c];
      const std::uint32_t bottom = (256 - s.u) * s.row1[c] + s.u * s.row1[4 + c];
      colour |= (((256 - s.v) * top + s.v * bottom) >> 16) << (8 * c);
    }
    out[k] = colour;
  }
}

// Set bits per byte (the baseline instruction set has no popcount instruction).
struct ByteBits {
  std::uint8_t of[256];
  constexpr ByteBits() : of() {
    for (int b = 0; b < 256; ++b)
      for (int k = 0; k < 8; ++k) of[b] = static_cast<std::uint8_t>(of[b] + ((b >> k) & 1));
  }
};
constexpr ByteBits kByteBits;

// Pixels from `first` on.
void coverage_row_plain_from(const std::uint8_t* blocks, std::size_t n, std::size_t first, std::uint16_t* out) {
  for (std::size_t c = first; c < n; ++c) {
    std::uint32_t bits = 0;
    for (int r = 0; r < 8; ++r) bits += kByteBits.of[blocks[std::size_t(r) * n + c]];
    out[c] = static_cast<std::uint16_t>(4 * bits - (blocks[c] == 0xFF ? 1 : 0));
  }
}

[[maybe_unused]] void coverage_row_plain(const std::uint8_t* blocks, std::size_t n, std::uint16_t* out) {
  coverage_row_plain_from(blocks, n, 0, out);
}

#ifdef TALVEN_X86

// ---- SSE2: four pixels at a time -----------------------------------------------------------

inline __m128i mul255_16(__m128i t) { return _mm_srli_epi16(_mm_mulhi_epu16(t, _mm_set1_epi16(short(0x8081))), 7); }

// The composite of four source pixels onto four destination pixels. `a` is the alpha of each
// pixel (after the opacity), in 32-bit lanes.
inline __m128i composite4(__m128i S, __m128i D, __m128i a) {
  const __m128i ff = _mm_set1_epi32(255), zero = _mm_setzero_si128();
  __m128i k = a, alpha = ff;
  // Onto opaque pixels W(a, 255) = a and screen(a, 255) = 255: no division.
  const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(D, opaque), opaque)) != 0xFFFF) {
    const __m128i da = _mm_srli_epi32(D, 24);
    const __m128i ia = _mm_sub_epi32(ff, a);
    // Products below 65536 in 32-bit lanes: the 16-bit multiply leaves the upper halves 0.
    __m128i den = _mm_add_epi32(_mm_mullo_epi16(a, ff), _mm_mullo_epi16(da, ia));
    den = _mm_or_si128(den, _mm_and_si128(_mm_cmpeq_epi32(a, zero), _mm_set1_epi32(1)));
    const __m128 q = _mm_div_ps(_mm_mul_ps(_mm_cvtepi32_ps(a), _mm_set1_ps(65025.0f)), _mm_cvtepi32_ps(den));
    k = _mm_cvttps_epi32(q);
    k = _mm_add_epi32(k, _mm_cmpeq_epi32(_mm_or_si128(_mm_slli_epi32(a, 8), da), _mm_set1_epi32(204 << 8 | 136)));
    alpha = _mm_sub_epi32(ff, mul255_16(_mm_mullo_epi16(ia, _mm_sub_epi32(ff, da))));
  }
  const __m128i ik = _mm_sub_epi32(ff, k);
  const __m128i kk = _mm_or_si128(k, _mm_or_si128(_mm_slli_epi32(k, 8), _mm_slli_epi32(k, 16)));
  const __m128i ikk = _mm_or_si128(ik, _mm_or_si128(_mm_slli_epi32(ik, 8), _mm_slli_epi32(ik, 16)));
  const __m128i lo = _mm_add_epi16(mul255_16(_mm_mullo_epi16(_mm_unpacklo_epi8(S, zero), _mm_unpacklo_epi8(kk, zero))),
                                   mul255_16(_mm_mullo_epi16(_mm_unpacklo_epi8(D, zero), _mm_unpacklo_epi8(ikk, zero))));
  const __m128i hi = _mm_add_epi16(mul255_16(_mm_mullo_epi16(_mm_unpackhi_epi8(S, zero), _mm_unpackhi_epi8(kk, zero))),
                                   mul255_16(_mm_mullo_epi16(_mm_unpackhi_epi8(D, zero), _mm_unpackhi_epi8(ikk, zero))));
  const __m128i colour = _mm_and_si128(_mm_packus_epi16(lo, hi), _mm_set1_epi32(0x00FFFFFF));
  return _mm_or_si128(colour, _mm_slli_epi32(alpha, 24));
}

inline __m128i alpha4(__m128i S, __m128i opacity) {
  const __m128i sa = _mm_srli_epi32(S, 24);
  return mul255_16(_mm_mullo_epi16(sa, opacity));
}

void composite_row_sse2(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  const __m128i op = _mm_set1_epi32(static_cast<int>(opacity));
  const __m128i alpha_bits = _mm_set1_epi32(int(0xFF000000u)), zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i S = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
    const __m128i sa = _mm_and_si128(S, alpha_bits);
    // Runs of transparent or (at full opacity) opaque pixels are common in sprites.
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(sa, zero)) == 0xFFFF) continue;
    if (opacity == 255 && _mm_movemask_epi8(_mm_cmpeq_epi32(sa, alpha_bits)) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), S);
      continue;
    }
    const __m128i D = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), composite4(S, D, alpha4(S, op)));
  }
  composite_row_plain(s + 4 * x, d + 4 * x, n - x, opacity);
}

void composite_fill_row_sse2(std::uint32_t colour, std::uint8_t* d, int n) {
  const __m128i S = _mm_set1_epi32(static_cast<int>(colour));
  const __m128i a = _mm_set1_epi32(static_cast<int>(colour >> 24));
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i D = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), composite4(S, D, a));
  }
  composite_fill_row_plain(colour, d + 4 * x, n - x);
}

void blend_row_sse2(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  const __m128i o = _mm_set1_epi16(static_cast<short>(opacity)), io = _mm_set1_epi16(static_cast<short>(255 - opacity));
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i S = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
    const __m128i D = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * x));
    const __m128i lo = _mm_add_epi16(mul255_16(_mm_mullo_epi16(_mm_unpacklo_epi8(S, zero), o)),
                                     mul255_16(_mm_mullo_epi16(_mm_unpacklo_epi8(D, zero), io)));
    const __m128i hi = _mm_add_epi16(mul255_16(_mm_mullo_epi16(_mm_unpackhi_epi8(S, zero), o)),
                                     mul255_16(_mm_mullo_epi16(_mm_unpackhi_epi8(D, zero), io)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), _mm_packus_epi16(lo, hi));
  }
  blend_row_plain(s + 4 * x, d + 4 * x, n - x, opacity);
}

// The 16-bit multiplier pair (256 - f, f) of a fraction, for madd against a corner pair.
inline int fraction_pair(std::uint32_t f) { return static_cast<int>((256 - f) | f << 16); }

// The second stage from the first's 32-bit sums (each at most 65280), kept in 16-bit products by
// splitting them into their high and low bytes.
inline __m128i between_rows(__m128i top, __m128i bottom, __m128i wv) {
  const __m128i ff = _mm_set1_epi32(255);
  const __m128i high = _mm_or_si128(_mm_srli_epi32(top, 8), _mm_slli_epi32(_mm_srli_epi32(bottom, 8), 16));
  const __m128i low = _mm_or_si128(_mm_and_si128(top, ff), _mm_slli_epi32(_mm_and_si128(bottom, ff), 16));
  return _mm_srli_epi32(_mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(high, wv), 8), _mm_madd_epi16(low, wv)), 16);
}

void bilinear_row_sse2(const BilinearRun& run, std::uint32_t* out, int n) {
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < n; ++k) {
    const BilinearSample s = bilinear_at(run, k);
    // Each row's corner pair as 16-bit (first, second) pairs per channel.
    __m128i r0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s.row0)), zero);
    __m128i r1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s.row1)), zero);
    r0 = _mm_unpacklo_epi16(r0, _mm_srli_si128(r0, 8));
    r1 = _mm_unpacklo_epi16(r1, _mm_srli_si128(r1, 8));
    const __m128i wu = _mm_set1_epi32(fraction_pair(s.u));
    const __m128i p = between_rows(_mm_madd_epi16(r0, wu), _mm_madd_epi16(r1, wu), _mm_set1_epi32(fraction_pair(s.v)));
    out[k] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(p, p), zero)));
  }
}

// Pixels from `first` on (rows of the blocks still n bytes apart).
void coverage_row_sse2_from(const std::uint8_t* blocks, std::size_t n, std::size_t first, std::uint16_t* out) {
  const __m128i m1 = _mm_set1_epi8(0x55), m2 = _mm_set1_epi8(0x33), m4 = _mm_set1_epi8(0x0F), zero = _mm_setzero_si128();
  std::size_t c = first;
  for (; c + 16 <= n; c += 16) {
    __m128i rows[8], any = zero;
    for (int r = 0; r < 8; ++r) {
      rows[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + std::size_t(r) * n + c));
      any = _mm_or_si128(any, rows[r]);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF) {  // sixteen empty blocks: most of a line
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), zero);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c + 8), zero);
      continue;
    }
    __m128i sum = zero;
    for (int r = 0; r < 8; ++r) {
      // Bits per byte: pairs, nibbles, bytes (16-bit shifts; the masks keep each byte's own bits).
      __m128i v = rows[r];
      v = _mm_sub_epi8(v, _mm_and_si128(_mm_srli_epi16(v, 1), m1));
      v = _mm_add_epi8(_mm_and_si128(v, m2), _mm_and_si128(_mm_srli_epi16(v, 2), m2));
      v = _mm_and_si128(_mm_add_epi8(v, _mm_srli_epi16(v, 4)), m4);
      sum = _mm_add_epi8(sum, v);
    }
    // 4 per bit, one less where the first row is full (full is -1 there).
    const __m128i full = _mm_cmpeq_epi8(rows[0], _mm_set1_epi8(-1));
    const __m128i lo =
        _mm_add_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(sum, zero), 2), _mm_srai_epi16(_mm_unpacklo_epi8(full, full), 8));
    const __m128i hi =
        _mm_add_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(sum, zero), 2), _mm_srai_epi16(_mm_unpackhi_epi8(full, full), 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c + 8), hi);
  }
  coverage_row_plain_from(blocks, n, c, out);
}

void coverage_row_sse2(const std::uint8_t* blocks, std::size_t n, std::uint16_t* out) {
  coverage_row_sse2_from(blocks, n, 0, out);
}

// ---- AVX2: eight pixels at a time, the same arithmetic -----------------------------------

TALVEN_TARGET_BEGIN("avx2")

inline __m256i mul255_16x(__m256i t) {
  return _mm256_srli_epi16(_mm256_mulhi_epu16(t, _mm256_set1_epi16(short(0x8081))), 7);
}

inline __m256i composite8(__m256i S, __m256i D, __m256i a) {
  const __m256i ff = _mm256_set1_epi32(255), zero = _mm256_setzero_si256();
  __m256i k = a, alpha = ff;
  const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
  if (!_mm256_testc_si256(D, opaque)) {
    const __m256i da = _mm256_srli_epi32(D, 24);
    const __m256i ia = _mm256_sub_epi32(ff, a);
    __m256i den = _mm256_add_epi32(_mm256_mullo_epi16(a, ff), _mm256_mullo_epi16(da, ia));
    den = _mm256_max_epi32(den, _mm256_set1_epi32(1));
    const __m256 q =
        _mm256_div_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(a), _mm256_set1_ps(65025.0f)), _mm256_cvtepi32_ps(den));
    k = _mm256_cvttps_epi32(q);
    k = _mm256_add_epi32(
        k, _mm256_cmpeq_epi32(_mm256_or_si256(_mm256_slli_epi32(a, 8), da), _mm256_set1_epi32(204 << 8 | 136)));
    alpha = _mm256_sub_epi32(ff, mul255_16x(_mm256_mullo_epi16(ia, _mm256_sub_epi32(ff, da))));
  }
  // k of each pixel spread over the four 16-bit channel lanes of the unpacked halves.
  const __m256i spread_lo = _mm256_setr_epi8(0, -128, 0, -128, 0, -128, 0, -128, 4, -128, 4, -128, 4, -128, 4, -128, 0,
                                             -128, 0, -128, 0, -128, 0, -128, 4, -128, 4, -128, 4, -128, 4, -128);
  const __m256i spread_hi = _mm256_setr_epi8(8, -128, 8, -128, 8, -128, 8, -128, 12, -128, 12, -128, 12, -128, 12, -128,
                                             8, -128, 8, -128, 8, -128, 8, -128, 12, -128, 12, -128, 12, -128, 12, -128);
  const __m256i ff16 = _mm256_set1_epi16(255);
  const __m256i k_lo = _mm256_shuffle_epi8(k, spread_lo), k_hi = _mm256_shuffle_epi8(k, spread_hi);
  const __m256i lo =
      _mm256_add_epi16(mul255_16x(_mm256_mullo_epi16(_mm256_unpacklo_epi8(S, zero), k_lo)),
                       mul255_16x(_mm256_mullo_epi16(_mm256_unpacklo_epi8(D, zero), _mm256_sub_epi16(ff16, k_lo))));
  const __m256i hi =
      _mm256_add_epi16(mul255_16x(_mm256_mullo_epi16(_mm256_unpackhi_epi8(S, zero), k_hi)),
                       mul255_16x(_mm256_mullo_epi16(_mm256_unpackhi_epi8(D, zero), _mm256_sub_epi16(ff16, k_hi))));
  const __m256i colour = _mm256_and_si256(_mm256_packus_epi16(lo, hi), _mm256_set1_epi32(0x00FFFFFF));
  return _mm256_or_si256(colour, _mm256_slli_epi32(alpha, 24));
}

template <bool FULL>
void composite_row_avx2_at(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  const __m256i op = _mm256_set1_epi32(static_cast<int>(opacity));
  const __m256i alpha_bits = _mm256_set1_epi32(int(0xFF000000u));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i S = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * x));
    // Runs of transparent or (at full opacity) opaque pixels are common in sprites.
    if (_mm256_testz_si256(S, alpha_bits)) continue;
    if (FULL && _mm256_testc_si256(S, alpha_bits)) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * x), S);
      continue;
    }
    const __m256i D = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 4 * x));
    __m256i a = _mm256_srli_epi32(S, 24);
    if (!FULL) a = mul255_16x(_mm256_mullo_epi16(a, op));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * x), composite8(S, D, a));
  }
  composite_row_sse2(s + 4 * x, d + 4 * x, n - x, opacity);
}

void composite_row_avx2(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  // mul(x, 255) = x: at full opacity the source alpha is the composite's alpha.
  if (opacity == 255) {
    composite_row_avx2_at<true>(s, d, n, opacity);
  } else {
    composite_row_avx2_at<false>(s, d, n, opacity);
  }
}

void composite_fill_row_avx2(std::uint32_t colour, std::uint8_t* d, int n) {
  const __m256i S = _mm256_set1_epi32(static_cast<int>(colour));
  const __m256i a = _mm256_set1_epi32(static_cast<int>(colour >> 24));
  // Onto opaque pixels (k = a, alpha 255) the source's share mul(a, colour) is the same for all.
  const __m256i a16 = _mm256_set1_epi16(static_cast<short>(colour >> 24));
  const __m256i ia16 = _mm256_set1_epi16(static_cast<short>(255 - (colour >> 24)));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i share = mul255_16x(_mm256_mullo_epi16(_mm256_unpacklo_epi8(S, zero), a16));
  const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i D = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 4 * x));
    __m256i out;
    if (_mm256_testc_si256(D, opaque)) {
      const __m256i lo = _mm256_add_epi16(share, mul255_16x(_mm256_mullo_epi16(_mm256_unpacklo_epi8(D, zero), ia16)));
      const __m256i hi = _mm256_add_epi16(share, mul255_16x(_mm256_mullo_epi16(_mm256_unpackhi_epi8(D, zero), ia16)));
      out = _mm256_or_si256(_mm256_packus_epi16(lo, hi), opaque);
    } else {
      out = composite8(S, D, a);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * x), out);
  }
  composite_fill_row_sse2(colour, d + 4 * x, n - x);
}

void blend_row_avx2(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  const __m256i o = _mm256_set1_epi16(static_cast<short>(opacity));
  const __m256i io = _mm256_set1_epi16(static_cast<short>(255 - opacity));
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i S = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * x));
    const __m256i D = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 4 * x));
    const __m256i lo = _mm256_add_epi16(mul255_16x(_mm256_mullo_epi16(_mm256_unpacklo_epi8(S, zero), o)),
                                        mul255_16x(_mm256_mullo_epi16(_mm256_unpacklo_epi8(D, zero), io)));
    const __m256i hi = _mm256_add_epi16(mul255_16x(_mm256_mullo_epi16(_mm256_unpackhi_epi8(S, zero), o)),
                                        mul255_16x(_mm256_mullo_epi16(_mm256_unpackhi_epi8(D, zero), io)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * x), _mm256_packus_epi16(lo, hi));
  }
  blend_row_sse2(s + 4 * x, d + 4 * x, n - x, opacity);
}

// Four samples at a time in 16-bit lanes. Both stages are sums w0 x + w1 y with w0 + w1 = 256 whose
// value fits 16 bits, so they are computed as (x << 8) + w1 (y - x) modulo 2^16. The second
// stage's sum (up to 24 bits) is split over the high and low bytes of the first's results:
//   (256 - v) T + v B = 256 X + Y, X = (256 - v) T_hi + v B_hi, Y = (256 - v) T_lo + v B_lo,
// and its top byte is (X + (Y >> 8)) >> 8.
inline __m256i between(__m256i x, __m256i y, __m256i w) {
  return _mm256_add_epi16(_mm256_slli_epi16(x, 8), _mm256_mullo_epi16(w, _mm256_sub_epi16(y, x)));
}

// The corner pairs of four samples (8 bytes each) as the first corners and the second corners,
// four channels of four samples in each.
inline void split_pairs(const BilinearSample* s, int row, __m256i& first, __m256i& second) {
  auto pair = [&](int k) { return reinterpret_cast<const __m128i*>(row == 0 ? s[k].row0 : s[k].row1); };
  const __m128 p01 = _mm_castsi128_ps(_mm_unpacklo_epi64(_mm_loadl_epi64(pair(0)), _mm_loadl_epi64(pair(1))));
  const __m128 p23 = _mm_castsi128_ps(_mm_unpacklo_epi64(_mm_loadl_epi64(pair(2)), _mm_loadl_epi64(pair(3))));
  first = _mm256_cvtepu8_epi16(_mm_castps_si128(_mm_shuffle_ps(p01, p23, 0x88)));
  second = _mm256_cvtepu8_epi16(_mm_castps_si128(_mm_shuffle_ps(p01, p23, 0xDD)));
}

void bilinear_row_avx2(const BilinearRun& run, std::uint32_t* out, int n) {
  const __m256i low_byte = _mm256_set1_epi16(255);
  // The fractions come from the low 32 bits of the positions, which wrap the same way.
  const __m128i du = _mm_set1_epi32(static_cast<int>(4 * run.du)), dv = _mm_set1_epi32(static_cast<int>(4 * run.dv));
  __m128i u = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(run.u)),
                    _mm_setr_epi32(0, static_cast<int>(run.du), static_cast<int>(2 * run.du), static_cast<int>(3 * run.du)));
  __m128i v = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(run.v)),
                            _mm_setr_epi32(0, static_cast<int>(run.dv), static_cast<int>(2 * run.dv), static_cast<int>(3 * run.dv)));
  // A last group of fewer than four repeats its last sample, and only its own results are kept.
  for (int k = 0; k < n; k += 4, u = _mm_add_epi32(u, du), v = _mm_add_epi32(v, dv)) {
    const int last = n - 1;
    const BilinearSample s[4] = {bilinear_at(run, k), bilinear_at(run, std::min(k + 1, last)),
                                 bilinear_at(run, std::min(k + 2, last)), bilinear_at(run, std::min(k + 3, last))};
    // Each sample's fraction over its four channel lanes.
    const __m128i mask = _mm_set1_epi32(255);
    const __m128i f = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(u, 8), mask), _mm_and_si128(_mm_srli_epi32(v, 8), mask));
    const __m128i fu = _mm_unpacklo_epi16(f, f), fv = _mm_unpackhi_epi16(f, f);
    const __m256i wu = _mm256_setr_m128i(_mm_unpacklo_epi32(fu, fu), _mm_unpackhi_epi32(fu, fu));
    const __m256i wv = _mm256_setr_m128i(_mm_unpacklo_epi32(fv, fv), _mm_unpackhi_epi32(fv, fv));
    __m256i a, b, c, d;
    split_pairs(s, 0, a, b);
    split_pairs(s, 1, c, d);
    const __m256i top = between(a, b, wu), bottom = between(c, d, wu);
    const __m256i x = between(_mm256_srli_epi16(top, 8), _mm256_srli_epi16(bottom, 8), wv);
    const __m256i y = between(_mm256_and_si256(top, low_byte), _mm256_and_si256(bottom, low_byte), wv);
    const __m256i p = _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(y, 8)), 8);
    const __m128i colours = _mm_packus_epi16(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
    if (k + 4 <= n) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), colours);
    } else {
      alignas(16) std::uint32_t group[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(group), colours);
      std::memcpy(out + k, group, std::size_t(n - k) * 4);
    }
  }
}

void coverage_row_avx2(const std::uint8_t* blocks, std::size_t n, std::uint16_t* out) {
  // Bits per byte from a table of the sixteen nibbles.
  const __m256i nibble_bits = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1, 2,
                                               2, 3, 2, 3, 3, 4);
  const __m256i low = _mm256_set1_epi8(0x0F), zero = _mm256_setzero_si256();
  std::size_t c = 0;
  for (; c + 32 <= n; c += 32) {
    __m256i rows[8], any = zero;
    for (int r = 0; r < 8; ++r) {
      rows[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks + std::size_t(r) * n + c));
      any = _mm256_or_si256(any, rows[r]);
    }
    if (_mm256_testz_si256(any, any)) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), zero);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c + 16), zero);
      continue;
    }
    __m256i sum = zero;
    for (int r = 0; r < 8; ++r) {
      const __m256i v = rows[r];
      sum = _mm256_add_epi8(sum, _mm256_add_epi8(_mm256_shuffle_epi8(nibble_bits, _mm256_and_si256(v, low)),
                                                 _mm256_shuffle_epi8(nibble_bits, _mm256_and_si256(_mm256_srli_epi16(v, 4), low))));
    }
    const __m256i full = _mm256_cmpeq_epi8(rows[0], _mm256_set1_epi8(-1));
    const __m256i lo = _mm256_add_epi16(_mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(sum)), 2),
                                        _mm256_cvtepi8_epi16(_mm256_castsi256_si128(full)));
    const __m256i hi = _mm256_add_epi16(_mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(sum, 1)), 2),
                                        _mm256_cvtepi8_epi16(_mm256_extracti128_si256(full, 1)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c + 16), hi);
  }
  // The rest sixteen at a time: the same rows, n bytes apart, from pixel c on.
  coverage_row_sse2_from(blocks, n, c, out);
}

TALVEN_TARGET_END

// ---- AVX-512: sixteen pixels at a time, the same arithmetic ------------------------------

TALVEN_TARGET_BEGIN("avx2,avx512f,avx512bw")

inline __m512i mul255_16z(__m512i t) {
  return _mm512_srli_epi16(_mm512_mulhi_epu16(t, _mm512_set1_epi16(short(0x8081))), 7);
}

inline __m512i spread_z(int first, int second) {
  const __m128i lane = _mm_setr_epi8(static_cast<char>(first), -128, static_cast<char>(first), -128, static_cast<char>(first),
                                     -128, static_cast<char>(first), -128, static_cast<char>(second), -128,
                                     static_cast<char>(second), -128, static_cast<char>(second), -128,
                                     static_cast<char>(second), -128);
  return _mm512_broadcast_i32x4(lane);
}

inline __m512i composite16(__m512i S, __m512i D, __m512i a) {
  const __m512i ff = _mm512_set1_epi32(255), zero = _mm512_setzero_si512();
  __m512i k = a, alpha = ff;
  if (_mm512_cmpge_epu32_mask(D, _mm512_set1_epi32(int(0xFF000000u))) != 0xFFFF) {
    const __m512i da = _mm512_srli_epi32(D, 24);
    const __m512i ia = _mm512_sub_epi32(ff, a);
    __m512i den = _mm512_add_epi32(_mm512_mullo_epi16(a, ff), _mm512_mullo_epi16(da, ia));
    den = _mm512_max_epi32(den, _mm512_set1_epi32(1));
    const __m512 q =
        _mm512_div_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(a), _mm512_set1_ps(65025.0f)), _mm512_cvtepi32_ps(den));
    k = _mm512_cvttps_epi32(q);
    const __mmask16 odd =
        _mm512_cmpeq_epi32_mask(_mm512_or_si512(_mm512_slli_epi32(a, 8), da), _mm512_set1_epi32(204 << 8 | 136));
    k = _mm512_mask_sub_epi32(k, odd, k, _mm512_set1_epi32(1));
    alpha = _mm512_sub_epi32(ff, mul255_16z(_mm512_mullo_epi16(ia, _mm512_sub_epi32(ff, da))));
  }
  const __m512i ff16 = _mm512_set1_epi16(255);
  const __m512i k_lo = _mm512_shuffle_epi8(k, spread_z(0, 4)), k_hi = _mm512_shuffle_epi8(k, spread_z(8, 12));
  const __m512i lo =
      _mm512_add_epi16(mul255_16z(_mm512_mullo_epi16(_mm512_unpacklo_epi8(S, zero), k_lo)),
                       mul255_16z(_mm512_mullo_epi16(_mm512_unpacklo_epi8(D, zero), _mm512_sub_epi16(ff16, k_lo))));
  const __m512i hi =
      _mm512_add_epi16(mul255_16z(_mm512_mullo_epi16(_mm512_unpackhi_epi8(S, zero), k_hi)),
                       mul255_16z(_mm512_mullo_epi16(_mm512_unpackhi_epi8(D, zero), _mm512_sub_epi16(ff16, k_hi))));
  // Colour bytes from the packed halves, the fourth byte from the screened alpha.
  return _mm512_ternarylogic_epi32(_mm512_packus_epi16(lo, hi), _mm512_slli_epi32(alpha, 24),
                                   _mm512_set1_epi32(0x00FFFFFF), 0xE4);
}

template <bool FULL>
void composite_row_avx512_at(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  const __m512i op = _mm512_set1_epi32(static_cast<int>(opacity));
  const __m512i transparent_below = _mm512_set1_epi32(0x01000000), opaque_from = _mm512_set1_epi32(int(0xFF000000u));
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m512i S = _mm512_loadu_si512(s + 4 * x);
    // Runs of transparent or (at full opacity) opaque pixels are common in sprites.
    if (_mm512_cmplt_epu32_mask(S, transparent_below) == 0xFFFF) continue;
    if (FULL && _mm512_cmpge_epu32_mask(S, opaque_from) == 0xFFFF) {
      _mm512_storeu_si512(d + 4 * x, S);
      continue;
    }
    const __m512i D = _mm512_loadu_si512(d + 4 * x);
    __m512i a = _mm512_srli_epi32(S, 24);
    if (!FULL) a = mul255_16z(_mm512_mullo_epi16(a, op));
    _mm512_storeu_si512(d + 4 * x, composite16(S, D, a));
  }
  // The last few pixels through lane masks: lanes past the row are neither read nor written.
  if (x < n) {
    const __mmask16 lanes = static_cast<__mmask16>((1u << (n - x)) - 1);
    const __m512i S = _mm512_maskz_loadu_epi32(lanes, s + 4 * x);
    const __m512i D = _mm512_maskz_loadu_epi32(lanes, d + 4 * x);
    __m512i a = _mm512_srli_epi32(S, 24);
    if (!FULL) a = mul255_16z(_mm512_mullo_epi16(a, op));
    _mm512_mask_storeu_epi32(d + 4 * x, lanes, composite16(S, D, a));
  }
}

void composite_row_avx512(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  if (opacity == 255) {
    composite_row_avx512_at<true>(s, d, n, opacity);
  } else {
    composite_row_avx512_at<false>(s, d, n, opacity);
  }
}

void composite_fill_row_avx512(std::uint32_t colour, std::uint8_t* d, int n) {
  const __m512i S = _mm512_set1_epi32(static_cast<int>(colour));
  const __m512i a = _mm512_set1_epi32(static_cast<int>(colour >> 24));
  // Onto opaque pixels (k = a, alpha 255) the source's share mul(a, colour) is the same for all.
  const __m512i a16 = _mm512_set1_epi16(static_cast<short>(colour >> 24));
  const __m512i ia16 = _mm512_set1_epi16(static_cast<short>(255 - (colour >> 24)));
  const __m512i share = mul255_16z(_mm512_mullo_epi16(_mm512_unpacklo_epi8(S, _mm512_setzero_si512()), a16));
  const __m512i opaque = _mm512_set1_epi32(int(0xFF000000u));
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m512i D = _mm512_loadu_si512(d + 4 * x);
    if (_mm512_cmpge_epu32_mask(D, opaque) == 0xFFFF) {
      const __m512i zero = _mm512_setzero_si512();
      const __m512i lo = _mm512_add_epi16(share, mul255_16z(_mm512_mullo_epi16(_mm512_unpacklo_epi8(D, zero), ia16)));
      const __m512i hi = _mm512_add_epi16(share, mul255_16z(_mm512_mullo_epi16(_mm512_unpackhi_epi8(D, zero), ia16)));
      _mm512_storeu_si512(d + 4 * x, _mm512_or_si512(_mm512_packus_epi16(lo, hi), opaque));
    } else {
      _mm512_storeu_si512(d + 4 * x, composite16(S, D, a));
    }
  }
  composite_fill_row_avx2(colour, d + 4 * x, n - x);
}

void blend_row_avx512(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  const __m512i o = _mm512_set1_epi16(static_cast<short>(opacity));
  const __m512i io = _mm512_set1_epi16(static_cast<short>(255 - opacity));
  const __m512i zero = _mm512_setzero_si512();
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m512i S = _mm512_loadu_si512(s + 4 * x);
    const __m512i D = _mm512_loadu_si512(d + 4 * x);
    const __m512i lo = _mm512_add_epi16(mul255_16z(_mm512_mullo_epi16(_mm512_unpacklo_epi8(S, zero), o)),
                                        mul255_16z(_mm512_mullo_epi16(_mm512_unpacklo_epi8(D, zero), io)));
    const __m512i hi = _mm512_add_epi16(mul255_16z(_mm512_mullo_epi16(_mm512_unpackhi_epi8(S, zero), o)),
                                        mul255_16z(_mm512_mullo_epi16(_mm512_unpackhi_epi8(D, zero), io)));
    _mm512_storeu_si512(d + 4 * x, _mm512_packus_epi16(lo, hi));
  }
  blend_row_avx2(s + 4 * x, d + 4 * x, n - x, opacity);
}

TALVEN_TARGET_END

const Implementation kImplementations[] = {
    {"sse2", composite_row_sse2, composite_fill_row_sse2, blend_row_sse2, bilinear_row_sse2, coverage_row_sse2},
    {"avx2", composite_row_avx2, composite_fill_row_avx2, blend_row_avx2, bilinear_row_avx2, coverage_row_avx2},
    {"avx512", composite_row_avx512, composite_fill_row_avx512, blend_row_avx512, bilinear_row_avx2, coverage_row_avx2},
};

int available() {
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return 3;
  return __builtin_cpu_supports("avx2") ? 2 : 1;
}

#else

const Implementation kImplementations[] = {
    {"plain", composite_row_plain, composite_fill_row_plain, blend_row_plain, bilinear_row_plain, coverage_row_plain},
};

int available() { return 1; }

#endif

const Implementation& best() {
  static const Implementation& chosen = kImplementations[available() - 1];
  return chosen;
}

}  // namespace

const Implementation* implementations(int& count) {
  count = available();
  return kImplementations;
}

void composite_row(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) {
  best().composite_row(s, d, n, opacity);
}
void composite_fill_row(std::uint32_t colour, std::uint8_t* d, int n) { best().composite_fill_row(colour, d, n); }
void blend_row(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity) { best().blend_row(s, d, n, opacity); }
void bilinear_row(const BilinearRun& run, std::uint32_t* out, int n) { best().bilinear_row(run, out, n); }
void coverage_row(const std::uint8_t* blocks, std::size_t n, std::uint16_t* out) { best().coverage_row(blocks, n, out); }

}  // namespace talven::graphics::simd
