// The pixel kernels of the blits: one row function per (mode, source depth, destination depth)
// and sampling scheme, so that no depth or mode test happens per pixel. Internal to graphics/.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "graphics/palette.h"
#include "graphics/pixel_simd.h"
#include "graphics/pixel_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talven::graphics::blit {

// The blit modes, by the names scripts use (BLIT_COPY ... BLIT_MONOTINT in the SDK header). Plain
// numbers, because they are template arguments of the kernels and bytes of the mode record.
enum BlitModeNumber : int {
  kBlitCopy = 0,
  kBlitSourceKey = 1,       // skip source pixels of the key colour
  kBlitDestinationKey = 2,  // write only over destination pixels of the key colour
  kBlitBlend = 3,           // constant opacity
  kBlitOperation = 4,       // a blend operation, weighted by source alpha and opacity
  kBlitAlpha = 5,           // source alpha (or the mask's coverage) times opacity
  kBlitTint = 6,            // alpha blend of the source tinted towards a colour
  kBlitWindow = 7,          // copy where source alpha lies in a window
  kBlitRamp = 8,            // alpha through a ramp (transitions)
  kBlitChannels = 9,        // channels chosen from the source, under a write mask
  kBlitAlphaCopy = 10,      // source alpha (or an 8-bit source) into the destination's alpha
  kBlitMaskFill = 11,       // a colour through an 8-bit coverage source
  kBlitMonoTint = 12,       // the source's luminance, tinted
};
inline constexpr int kModes = 13;
// The modes that take an 8-bit mask plane's coverage as their alpha, in this order.
inline constexpr int kFirstMaskedMode = kBlitAlpha, kLastMaskedMode = kBlitRamp;

// Everything a kernel needs that is fixed for one call.
struct Params {
  std::uint8_t opacity = 0;
  std::uint8_t parameter = 0;                  // tint strength (6, 12)
  const std::uint8_t (*op)[256] = nullptr;     // blend table [upper][base] (4, 6, 11, 12)
  std::uint32_t key_source = 0;                // kBlitSourceKey, converted for the source plane
  std::uint32_t key_destination = 0;           // kBlitDestinationKey, converted for the destination plane
  std::uint32_t write_mask = 0;                // kBlitChannels
  std::uint8_t select[4] = {};                 // kBlitChannels: source byte per channel
  std::uint32_t tint = 0;                      // 0x00RRGGBB (6, 11, 12)
  std::uint8_t ramp[256] = {};                 // kBlitRamp
  const std::uint8_t* source_colours = nullptr;       // 8-bit sources
  const std::uint8_t* destination_colours = nullptr;  // 8-bit destinations
  const std::uint8_t* inverse = nullptr;              // the inverse palette map
  bool map_indices = false;                    // color_mapping: 8-bit to 8-bit through colours
  // Full 256-entry copies for 8-bit planes whose colour table is shorter (read from files).
  std::uint8_t short_source_colours[1024] = {};
  std::uint8_t short_destination_colours[1024] = {};
};

// A source pixel: its colour as blue, green, red, alpha (255 where the source has no alpha), its
// raw value (index, 15-bit or 24-bit colour) and the mask byte of masked kernels.
struct Sample {
  std::uint32_t c;
  std::uint32_t raw;
  std::uint32_t m;
};

struct Destination {
  std::uint32_t c;    // blue, green, red, fourth byte (0 where the plane has none)
  std::uint32_t raw;  // index, 15-bit or 24-bit colour
};

// What a rule decided for one pixel.
enum Outcome : int { kKeep = 0, kWrite = 1, kCopySource = 2, kWriteByte = 3 };

inline std::uint32_t chan(std::uint32_t x, int i) { return (x >> (8 * i)) & 255; }
inline std::uint32_t bgra(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint32_t a) {
  return b | g << 8 | r << 16 | a << 24;
}
inline std::uint32_t pack555(std::uint32_t c) {
  return ((c >> 19) & 31) << 10 | ((c >> 11) & 31) << 5 | ((c >> 3) & 31);
}

template <int SB>
inline Sample fetch(const std::uint8_t* p, const Params& P) {
  if constexpr (SB == 1) {
    const std::uint8_t* e = P.source_colours + 4 * p[0];
    return {bgra(e[0], e[1], e[2], 255), p[0], 0};
  } else if constexpr (SB == 2) {
    const std::uint32_t v = (p[0] | std::uint32_t(p[1]) << 8) & 0x7FFF;
    return {g_pixel_tables.rgb555[v] | 0xFF000000u, v, 0};
  } else if constexpr (SB == 3) {
    const std::uint32_t c = bgra(p[0], p[1], p[2], 0);
    return {c | 0xFF000000u, c, 0};
  } else {
    std::uint32_t c;
    std::memcpy(&c, p, 4);
    return {c, c & 0xFFFFFF, 0};
  }
}

template <int DB>
inline Destination load(const std::uint8_t* p, const Params& P) {
  if constexpr (DB == 1) {
    const std::uint8_t* e = P.destination_colours + 4 * p[0];
    return {bgra(e[0], e[1], e[2], 0), p[0]};
  } else if constexpr (DB == 2) {
    const std::uint32_t v = (p[0] | std::uint32_t(p[1]) << 8) & 0x7FFF;
    return {g_pixel_tables.rgb555[v], v};
  } else if constexpr (DB == 3) {
    const std::uint32_t c = bgra(p[0], p[1], p[2], 0);
    return {c, c};
  } else {
    std::uint32_t c;
    std::memcpy(&c, p, 4);
    return {c, c & 0xFFFFFF};
  }
}

template <int DB>
inline void store(std::uint8_t* p, std::uint32_t c, const Params& P) {
  if constexpr (DB == 1) {
    p[0] = P.inverse[inverse_key(c)];
  } else if constexpr (DB == 2) {
    const std::uint32_t v = pack555(c);
    p[0] = v & 255;
    p[1] = static_cast<std::uint8_t>(v >> 8);
  } else if constexpr (DB == 3) {
    p[0] = c & 255;
    p[1] = (c >> 8) & 255;
    p[2] = (c >> 16) & 255;
  } else {
    std::memcpy(p, &c, 4);
  }
}

// mul(k, s.c) + mul(255 - k, d.c) per colour channel (never above 255); the fourth byte is `a`.
inline std::uint32_t mix(std::uint32_t k, std::uint32_t s, std::uint32_t d, std::uint32_t a) {
  const std::uint8_t* mk = g_pixel_tables.multiply[k];
  const std::uint8_t* mr = g_pixel_tables.multiply[255 - k];
  return bgra(mk[chan(s, 0)] + mr[chan(d, 0)], mk[chan(s, 1)] + mr[chan(d, 1)], mk[chan(s, 2)] + mr[chan(d, 2)], a);
}

// Composites colour t with opacity a onto d (the rule of kBlitAlpha): the weight follows the
// destination alpha on planes that have one.
template <int DB>
inline int composite(std::uint32_t t, std::uint32_t a, const Destination& d, std::uint32_t& out) {
  if (a == 0) return kKeep;
  if (a == 255) {
    out = (t & 0xFFFFFF) | 0xFF000000u;
    return kWrite;
  }
  const std::uint32_t da = d.c >> 24;
  const std::uint32_t k = DB == 4 ? g_pixel_tables.weight[a][da] : a;
  out = mix(k, t, d.c, g_pixel_tables.screen[a][da]);
  return kWrite;
}

inline std::uint32_t tinted(const Params& P, std::uint32_t s) {
  const std::uint8_t* ms = g_pixel_tables.multiply[P.parameter];
  const std::uint8_t* mr = g_pixel_tables.multiply[255 - P.parameter];
  std::uint32_t t = 0;
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t sc = chan(s, i);
    t |= std::uint32_t(ms[P.op[chan(P.tint, i)][sc]] + mr[sc]) << (8 * i);
  }
  return t;
}

// The pixel rule of mode M. Masked kernels (kBlitAlpha to kBlitRamp) take their alpha from the mask.
template <int M, int SB, int DB, bool MASKED>
inline int apply(const Params& P, const Sample& s, const Destination& d, std::uint32_t& out) {
  const auto& T = g_pixel_tables;
  const std::uint32_t sa = MASKED ? s.m : s.c >> 24;
  if constexpr (M == kBlitCopy) {
    out = s.c;
    return kCopySource;
  } else if constexpr (M == kBlitSourceKey) {
    if (s.raw == P.key_source) return kKeep;
    out = (s.c & 0xFFFFFF) | (d.c & 0xFF000000u);
    return kCopySource;
  } else if constexpr (M == kBlitDestinationKey) {
    if (d.raw != P.key_destination) return kKeep;
    out = (s.c & 0xFFFFFF) | (d.c & 0xFF000000u);
    return kCopySource;
  } else if constexpr (M == kBlitBlend) {
    const std::uint8_t* mo = T.multiply[P.opacity];
    const std::uint8_t* mr = T.multiply[255 - P.opacity];
    out = bgra(mr[chan(d.c, 0)] + mo[chan(s.c, 0)], mr[chan(d.c, 1)] + mo[chan(s.c, 1)],
               mr[chan(d.c, 2)] + mo[chan(s.c, 2)], mr[chan(d.c, 3)] + mo[chan(s.c, 3)]);
    return kWrite;
  } else if constexpr (M == kBlitOperation) {
    const std::uint32_t a = T.multiply[s.c >> 24][P.opacity];
    if (a == 0) return kKeep;
    const std::uint32_t blended =
        bgra(P.op[chan(s.c, 0)][chan(d.c, 0)], P.op[chan(s.c, 1)][chan(d.c, 1)], P.op[chan(s.c, 2)][chan(d.c, 2)], 0);
    out = mix(a, blended, d.c, d.c >> 24);
    return kWrite;
  } else if constexpr (M == kBlitAlpha && SB == 4 && DB == 4 && !MASKED) {
    // The general composite also gives d = s at a = 255 (W(255, b) = 255, screen(255, b) = 255 =
    // s.alpha), so only a = 0 needs a choice, made without a branch on random alphas.
    const std::uint32_t a = T.multiply[sa][P.opacity], da = d.c >> 24;
    const std::uint32_t mixed = mix(T.weight[a][da], s.c, d.c, T.screen[a][da]);
    out = a != 0 ? mixed : d.c;
    return kWrite;
  } else if constexpr (M == kBlitAlpha) {
    const std::uint32_t a = T.multiply[sa][P.opacity];
    if (a == 255) {
      out = MASKED ? (s.c & 0xFFFFFF) | 0xFF000000u : s.c;
      return kCopySource;
    }
    return composite<DB>(s.c, a, d, out);
  } else if constexpr (M == kBlitTint) {
    return composite<DB>(tinted(P, s.c), T.multiply[sa][P.opacity], d, out);
  } else if constexpr (M == kBlitWindow) {
    if (sa < P.opacity || sa > std::uint32_t(P.opacity) + P.parameter) return kKeep;
    out = (s.c & 0xFFFFFF) | (d.c & 0xFF000000u);
    return kCopySource;
  } else if constexpr (M == kBlitRamp) {
    const std::uint32_t a = P.ramp[sa];
    if (a == 0) return kKeep;
    if (a == 255) {
      out = (s.c & 0xFFFFFF) | (d.c & 0xFF000000u);
      return kCopySource;
    }
    out = mix(a, s.c, d.c, d.c >> 24);
    return kWrite;
  } else if constexpr (M == kBlitChannels) {
    const std::uint8_t* mo = T.multiply[P.opacity];
    const std::uint8_t* mr = T.multiply[255 - P.opacity];
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t(mo[chan(s.c, P.select[i])] + mr[chan(d.c, i)]) << (8 * i);
    out = (d.c & ~P.write_mask) | (v & P.write_mask);
    return kWrite;
  } else if constexpr (M == kBlitAlphaCopy) {
    const std::uint32_t a = T.multiply[SB == 1 ? s.raw : s.c >> 24][P.opacity];
    if constexpr (DB == 1) {
      out = a;
      return kWriteByte;
    } else {
      out = (d.c & 0xFFFFFF) | a << 24;
      return kWrite;
    }
  } else if constexpr (M == kBlitMaskFill) {
    const std::uint32_t t = bgra(P.op[chan(P.tint, 0)][chan(d.c, 0)], P.op[chan(P.tint, 1)][chan(d.c, 1)],
                                 P.op[chan(P.tint, 2)][chan(d.c, 2)], 0);
    return composite<DB>(t, T.multiply[s.raw & 255][P.opacity], d, out);
  } else {
    const std::uint32_t y = (19595u * chan(s.c, 2) + 38470u * chan(s.c, 1) + 7471u * chan(s.c, 0)) >> 16;
    return composite<DB>(tinted(P, bgra(y, y, y, 0)), T.multiply[sa][P.opacity], d, out);
  }
}

template <int M, int SB, int DB, bool MASKED>
inline void pixel(const Params& P, const Sample& s, std::uint8_t* dp) {
  const Destination d = load<DB>(dp, P);
  std::uint32_t out;
  const int outcome = apply<M, SB, DB, MASKED>(P, s, d, out);
  if (outcome == kKeep) return;
  if constexpr (DB == 1) {
    if (outcome == kWriteByte || (outcome == kCopySource && SB == 1 && !P.map_indices)) {
      dp[0] = static_cast<std::uint8_t>(outcome == kWriteByte ? out : s.raw);
      return;
    }
  }
  store<DB>(dp, out, P);
}

// ---- whole spans of 32-bit pixels ----------------------------------------------------------

// The rules with a vector form for 32-bit sources onto 32-bit destinations.
template <int M, int SB, int DB, bool MASKED>
inline constexpr bool kVectorRule = (M == kBlitBlend || M == kBlitAlpha) && SB == 4 && DB == 4 && !MASKED;

template <int M>
inline void rule_span(const Params& P, const std::uint8_t* s, std::uint8_t* d, int n) {
  if constexpr (M == kBlitAlpha) {
    simd::composite_row(s, d, n, P.opacity);
  } else {
    simd::blend_row(s, d, n, P.opacity);
  }
}

// Source pixels are gathered into a short buffer so that the rule runs on whole vectors.
inline constexpr int kSpan = 128;

// Applies rule M to n gathered source pixels and the destination pixels at d, d + step, ...
template <int M>
inline void rule_gathered(const Params& P, const std::uint32_t* s, std::uint8_t* d, std::ptrdiff_t step, int n) {
  const auto* sb = reinterpret_cast<const std::uint8_t*>(s);
  if (step == 4) {
    rule_span<M>(P, sb, d, n);
    return;
  }
  std::uint32_t run[kSpan];
  for (int i = 0; i < n; ++i) std::memcpy(&run[i], d + i * step, 4);
  rule_span<M>(P, sb, reinterpret_cast<std::uint8_t*>(run), n);
  for (int i = 0; i < n; ++i) std::memcpy(d + i * step, &run[i], 4);
}

// ---- sampling schemes -----------------------------------------------------------------------

using RowFunction = void (*)(const void* job, int row);

// Stretch: the source offset of every destination column and row is precomputed.
struct StretchJob {
  const Params* params;
  std::uint8_t* destination;  // first pixel of the first row drawn
  std::ptrdiff_t destination_column_step;
  std::ptrdiff_t destination_row_step;
  const std::uint8_t* source;  // pixel memory (bottom row)
  const std::ptrdiff_t* source_columns;
  const std::ptrdiff_t* source_rows;
  const std::uint8_t* mask;
  const std::ptrdiff_t* mask_columns;
  const std::ptrdiff_t* mask_rows;
  int columns;
};

template <int M, int SB, int DB, bool MASKED>
void stretch_row(const void* job, int y) {
  const StretchJob& J = *static_cast<const StretchJob*>(job);
  const Params& P = *J.params;
  std::uint8_t* dp = J.destination + y * J.destination_row_step;
  const std::uint8_t* row = J.source + J.source_rows[y];
  const std::uint8_t* mask_row = MASKED ? J.mask + J.mask_rows[y] : nullptr;
  if constexpr (kVectorRule<M, SB, DB, MASKED>) {
    // With one step for the whole row, neighbouring source columns differ by at most one pixel
    // (enlarging) or by at least one (reducing): a span exactly one pixel per column is consecutive.
    const std::ptrdiff_t first = J.source_columns[0], last = J.source_columns[J.columns - 1];
    if (J.destination_column_step == 4 && last - first == 4 * std::ptrdiff_t(J.columns - 1)) {
      rule_span<M>(P, row + first, dp, J.columns);
      return;
    }
    std::uint32_t run[kSpan];
    for (int x0 = 0; x0 < J.columns; x0 += kSpan) {
      const int n = std::min(kSpan, J.columns - x0);
      for (int i = 0; i < n; ++i) std::memcpy(&run[i], row + J.source_columns[x0 + i], 4);
      rule_gathered<M>(P, run, dp + x0 * J.destination_column_step, J.destination_column_step, n);
    }
    return;
  }
  if constexpr (M == kBlitCopy && SB == 4 && DB == 4 && !MASKED) {
    if (J.destination_column_step == 4) {
      const std::ptrdiff_t* columns = J.source_columns;
      for (int x = 0; x < J.columns; ++x) std::memcpy(dp + 4 * x, row + columns[x], 4);
      return;
    }
  }
  for (int x = 0; x < J.columns; ++x, dp += J.destination_column_step) {
    Sample s = fetch<SB>(row + J.source_columns[x], P);
    if constexpr (MASKED) s.m = mask_row[J.mask_columns[x]];
    pixel<M, SB, DB, MASKED>(P, s, dp);
  }
}

// Unscaled and unmirrored along the row (gcopy's direct path): source columns are consecutive.
template <int M, int SB, int DB, bool MASKED>
void direct_row(const void* job, int y) {
  const StretchJob& J = *static_cast<const StretchJob*>(job);
  const Params& P = *J.params;
  std::uint8_t* dp = J.destination + y * J.destination_row_step;
  const std::uint8_t* sp = J.source + J.source_rows[y] + J.source_columns[0];
  if constexpr (M == kBlitCopy && SB == DB && SB > 1) {
    std::memcpy(dp, sp, std::size_t(J.columns) * DB);
  } else if constexpr (kVectorRule<M, SB, DB, MASKED>) {
    rule_span<M>(P, sp, dp, J.columns);
  } else {
    const std::uint8_t* mp = MASKED ? J.mask + J.mask_rows[y] + J.mask_columns[0] : nullptr;
    for (int x = 0; x < J.columns; ++x, dp += DB, sp += SB) {
      Sample s = fetch<SB>(sp, P);
      if constexpr (MASKED) s.m = mp[x];
      pixel<M, SB, DB, MASKED>(P, s, dp);
    }
  }
}

// Rotated blits: 16.16 source positions stepped per column and per row (wrapping arithmetic;
// a position is only used after it was found inside the accepted source area).
struct RotateJob {
  const Params* params;
  std::uint8_t* destination;  // first pixel of the first row
  std::ptrdiff_t destination_row_step;
  int columns;
  std::uint64_t u0, v0, du_column, dv_column, du_row, dv_row;
  std::int64_t left, top, right, bottom;  // accepted source area
  const std::uint8_t* source_top;         // first byte of the source's top row
  std::ptrdiff_t source_pitch;
  const std::uint8_t* mask_top;
  std::ptrdiff_t mask_pitch;
};

// The sample of a rotated nearest-neighbour blit at 16.16 position (u, v); false outside the
// accepted source area.
template <int SB, bool MASKED>
inline bool nearest_sample(const RotateJob& J, const Params& P, std::uint64_t u, std::uint64_t v, Sample& s) {
  const std::int64_t iu = static_cast<std::int64_t>(u) >> 16, iv = static_cast<std::int64_t>(v) >> 16;
  if (iu < J.left || iu >= J.right || iv < J.top || iv >= J.bottom) return false;
  s = fetch<SB>(J.source_top - iv * J.source_pitch + iu * SB, P);
  if constexpr (MASKED) s.m = (J.mask_top - iv * J.mask_pitch)[iu];
  return true;
}

inline std::uint32_t bilinear(std::uint32_t p00, std::uint32_t p10, std::uint32_t p01, std::uint32_t p11, std::int32_t fu,
                              std::int32_t fv, std::int32_t fuv) {
  const std::int32_t a = static_cast<std::int32_t>(p00), b = static_cast<std::int32_t>(p10),
                     c = static_cast<std::int32_t>(p01), d = static_cast<std::int32_t>(p11);
  const std::int32_t p = a + (((d - b - c + a) * fuv + (c - a) * fv + (b - a) * fu) >> 16);
  return static_cast<std::uint32_t>(std::clamp(p, 0, 255));
}

// bilinear() on each of the four bytes at once.
inline std::uint32_t bilinear_bytes(std::uint32_t p00, std::uint32_t p10, std::uint32_t p01, std::uint32_t p11,
                                    std::int32_t fu, std::int32_t fv, std::int32_t fuv) {
#if defined(__SSE2__)
  // The same integer sum, exact in 16-bit products: with fu = u << 8, fv = v << 8 and
  // fuv = h << 8 | l, the sum is ((A h + B v + C u) << 8) + A l for A = p11 - p10 - p01 + p00,
  // B = p01 - p00 and C = p10 - p00, all within 16 bits.
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p00)), zero);
  const __m128i b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p10)), zero);
  const __m128i c = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p01)), zero);
  const __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p11)), zero);
  const __m128i A = _mm_add_epi16(_mm_sub_epi16(d, _mm_add_epi16(b, c)), a);
  const __m128i B = _mm_sub_epi16(c, a), C = _mm_sub_epi16(b, a);
  const std::int32_t u = fu >> 8, v = fv >> 8, h = fuv >> 8, l = fuv & 255;
  const __m128i AB = _mm_unpacklo_epi16(A, B), CA = _mm_unpacklo_epi16(C, A);
  const __m128i high = _mm_add_epi32(_mm_madd_epi16(AB, _mm_set1_epi32(h | v << 16)), _mm_madd_epi16(CA, _mm_set1_epi32(u)));
  const __m128i sum = _mm_add_epi32(_mm_slli_epi32(high, 8), _mm_madd_epi16(CA, _mm_set1_epi32(l << 16)));
  const __m128i p = _mm_add_epi32(_mm_unpacklo_epi16(a, zero), _mm_srai_epi32(sum, 16));
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(p, p), zero);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
#else
  std::uint32_t out = 0;
  for (int i = 0; i < 4; ++i)
    out |= bilinear(chan(p00, i), chan(p10, i), chan(p01, i), chan(p11, i), fu, fv, fuv) << (8 * i);
  return out;
#endif
}

template <int SB>
inline std::uint32_t raw_of_colour(std::uint32_t c) {
  if constexpr (SB == 2) return pack555(c);
  return c & 0xFFFFFF;
}

// The filtered sample of a rotated bilinear blit at 16.16 position (u, v); false outside the
// accepted source area.
template <int SB, bool MASKED>
inline bool bilinear_sample(const RotateJob& J, const Params& P, std::uint64_t u, std::uint64_t v, Sample& s) {
  const std::int64_t last_u = (J.right - 1) * 65536, last_v = (J.bottom - 1) * 65536;
  const std::int64_t su = static_cast<std::int64_t>(u), sv = static_cast<std::int64_t>(v);
  const std::int64_t iu = su >> 16, iv = sv >> 16;
  if (iu < J.left || iv < J.top || su > last_u || sv > last_v) return false;
  const std::int64_t iu1 = std::min(iu + 1, J.right - 1), iv1 = std::min(iv + 1, J.bottom - 1);
  const std::uint8_t* r0 = J.source_top - iv * J.source_pitch;
  const std::uint8_t* r1 = J.source_top - iv1 * J.source_pitch;
  const Sample s00 = fetch<SB>(r0 + iu * SB, P), s10 = fetch<SB>(r0 + iu1 * SB, P);
  const Sample s01 = fetch<SB>(r1 + iu * SB, P), s11 = fetch<SB>(r1 + iu1 * SB, P);
  const std::int32_t fu = static_cast<std::int32_t>(su & 0xFF00), fv = static_cast<std::int32_t>(sv & 0xFF00);
  // The product of two 16-bit fractions needs 32 unsigned bits.
  const std::int32_t fuv = static_cast<std::int32_t>((std::uint32_t(fu) * std::uint32_t(fv)) >> 16);
  s.c = bilinear_bytes(s00.c, s10.c, s01.c, s11.c, fu, fv, fuv);
  s.raw = SB == 1 ? bilinear(s00.raw, s10.raw, s01.raw, s11.raw, fu, fv, fuv) : raw_of_colour<SB>(s.c);
  s.m = 0;
  if constexpr (MASKED) {
    const std::uint8_t* m0 = J.mask_top - iv * J.mask_pitch;
    const std::uint8_t* m1 = J.mask_top - iv1 * J.mask_pitch;
    s.m = bilinear(m0[iu], m0[iu1], m1[iu], m1[iu1], fu, fv, fuv);
  }
  return true;
}

// True when the sampler takes a sample at (u, v): the test nearest_sample and bilinear_sample make
// before they read anything.
template <bool BILINEAR>
inline bool sampled(const RotateJob& J, std::uint64_t u, std::uint64_t v) {
  const std::int64_t su = static_cast<std::int64_t>(u), sv = static_cast<std::int64_t>(v);
  const std::int64_t iu = su >> 16, iv = sv >> 16;
  if constexpr (BILINEAR) return !(iu < J.left || iv < J.top || su > (J.right - 1) * 65536 || sv > (J.bottom - 1) * 65536);
  return !(iu < J.left || iu >= J.right || iv < J.top || iv >= J.bottom);
}

// The colours of n consecutive samples of a 32-bit source from (u, v), every one of them taken
// (see sampled()). Those whose four neighbours lie inside the source, one run along the line, go to
// the vector filter; the few at the right and bottom edges, where a neighbour is clamped, go
// through bilinear_sample.
inline void bilinear_colours(const RotateJob& J, const Params& P, std::uint64_t u, std::uint64_t v, int n,
                             std::uint32_t* out) {
  const std::int64_t inner_u = (J.right - 1) * 65536, inner_v = (J.bottom - 1) * 65536;
  auto inner = [&](int k) {
    return static_cast<std::int64_t>(u + std::uint64_t(k) * J.du_column) < inner_u &&
           static_cast<std::int64_t>(v + std::uint64_t(k) * J.dv_column) < inner_v;
  };
  auto at_edge = [&](int k) {
    Sample s{};
    bilinear_sample<4, false>(J, P, u + std::uint64_t(k) * J.du_column, v + std::uint64_t(k) * J.dv_column, s);
    out[k] = s.c;
  };
  int first = 0, last = n - 1;
  while (first <= last && !inner(first)) at_edge(first++);
  while (last >= first && !inner(last)) at_edge(last--);
  if (first > last) return;
  simd::bilinear_row({J.source_top, J.source_pitch, u + std::uint64_t(first) * J.du_column,
                      v + std::uint64_t(first) * J.dv_column, J.du_column, J.dv_column},
                     out + first, last - first + 1);
}

template <int M, int SB, int DB, bool MASKED, bool BILINEAR>
inline void rotated_row(const void* job, int y) {
  const RotateJob& J = *static_cast<const RotateJob*>(job);
  const Params& P = *J.params;
  std::uint8_t* dp = J.destination + y * J.destination_row_step;
  std::uint64_t u = J.u0 + std::uint64_t(y) * J.du_row, v = J.v0 + std::uint64_t(y) * J.dv_row;
  // The row's samples lie on a line, and the source area is a rectangle: the columns that take a
  // sample are one run. Only that run is worked on; every column outside it would take no sample
  // and leave its pixel as it is.
  int first = 0, last = J.columns - 1;
  while (first <= last && !sampled<BILINEAR>(J, u + std::uint64_t(first) * J.du_column, v + std::uint64_t(first) * J.dv_column))
    ++first;
  while (last >= first && !sampled<BILINEAR>(J, u + std::uint64_t(last) * J.du_column, v + std::uint64_t(last) * J.dv_column))
    --last;
  if (first > last) return;
  u += std::uint64_t(first) * J.du_column;
  v += std::uint64_t(first) * J.dv_column;
  dp += std::ptrdiff_t(first) * DB;
  const int columns = last - first + 1;
  auto sample = [&](Sample& s) {
    return BILINEAR ? bilinear_sample<SB, MASKED>(J, P, u, v, s) : nearest_sample<SB, MASKED>(J, P, u, v, s);
  };
  if constexpr (M == kBlitAlpha && kVectorRule<M, SB, DB, MASKED>) {
    // A pixel outside the source gets a transparent sample, which the composite leaves alone.
    std::uint32_t run[kSpan];
    for (int x0 = 0; x0 < columns; x0 += kSpan) {
      const int n = std::min(kSpan, columns - x0);
      if constexpr (BILINEAR && SB == 4 && !MASKED) {
        bilinear_colours(J, P, u, v, n, run);
        u += std::uint64_t(n) * J.du_column;
        v += std::uint64_t(n) * J.dv_column;
      } else {
        for (int i = 0; i < n; ++i, u += J.du_column, v += J.dv_column) {
          Sample s;
          run[i] = sample(s) ? s.c : 0;
        }
      }
      rule_span<M>(P, reinterpret_cast<const std::uint8_t*>(run), dp + x0 * DB, n);
    }
    return;
  }
  for (int x = 0; x < columns; ++x, dp += DB, u += J.du_column, v += J.dv_column) {
    Sample s;
    if (sample(s)) pixel<M, SB, DB, MASKED>(P, s, dp);
  }
}

template <int M, int SB, int DB, bool MASKED>
void nearest_row(const void* job, int y) {
  rotated_row<M, SB, DB, MASKED, false>(job, y);
}

template <int M, int SB, int DB, bool MASKED>
void bilinear_row(const void* job, int y) {
  rotated_row<M, SB, DB, MASKED, true>(job, y);
}

// ---- kernel tables --------------------------------------------------------------------------

inline constexpr int pair_index(int source_bytes, int destination_bytes) {
  return (source_bytes - 1) * 4 + (destination_bytes - 1);
}

// Which (mode, depth) combinations have a kernel.
inline constexpr bool kernel_present(int mode, int sb, int db) {
  if (mode == kBlitWindow || mode == kBlitRamp) return sb == 4;
  if (mode == kBlitAlphaCopy) return (sb == 1 || sb == 4) && (db == 1 || db == 4);
  if (mode == kBlitMaskFill) return sb == 1;
  return true;
}

struct KernelSet {
  RowFunction plain[kModes][16];
  RowFunction masked[kLastMaskedMode - kFirstMaskedMode + 1][16];
};

extern const KernelSet kStretchKernels;
extern const KernelSet kNearestKernels;
extern const KernelSet kBilinearKernels;

// gcopy's direct path (unscaled, unmirrored along rows); nullptr where there is none.
RowFunction direct_kernel(int mode, bool masked, int source_bytes, int destination_bytes);

// The table of one sampling scheme, written out by the macros below in each kernel file. PICK is
// a function template <M, SB, DB> returning the plain kernel or nullptr; ROW the row template.
#define TALVEN_KERNELS_SB(PICK, M, SB) PICK<M, SB, 1>(), PICK<M, SB, 2>(), PICK<M, SB, 3>(), PICK<M, SB, 4>()
#define TALVEN_KERNELS_MODE(PICK, M) \
  { TALVEN_KERNELS_SB(PICK, M, 1), TALVEN_KERNELS_SB(PICK, M, 2), TALVEN_KERNELS_SB(PICK, M, 3), TALVEN_KERNELS_SB(PICK, M, 4) }
#define TALVEN_MASKED_SB(ROW, M, SB) &ROW<M, SB, 1, true>, &ROW<M, SB, 2, true>, &ROW<M, SB, 3, true>, &ROW<M, SB, 4, true>
#define TALVEN_MASKED_MODE(ROW, M) \
  { TALVEN_MASKED_SB(ROW, M, 1), TALVEN_MASKED_SB(ROW, M, 2), TALVEN_MASKED_SB(ROW, M, 3), TALVEN_MASKED_SB(ROW, M, 4) }
#define TALVEN_KERNEL_SET(PICK, ROW)                                                                        \
  {{TALVEN_KERNELS_MODE(PICK, 0), TALVEN_KERNELS_MODE(PICK, 1), TALVEN_KERNELS_MODE(PICK, 2),               \
    TALVEN_KERNELS_MODE(PICK, 3), TALVEN_KERNELS_MODE(PICK, 4), TALVEN_KERNELS_MODE(PICK, 5),               \
    TALVEN_KERNELS_MODE(PICK, 6), TALVEN_KERNELS_MODE(PICK, 7), TALVEN_KERNELS_MODE(PICK, 8),               \
    TALVEN_KERNELS_MODE(PICK, 9), TALVEN_KERNELS_MODE(PICK, 10), TALVEN_KERNELS_MODE(PICK, 11),             \
    TALVEN_KERNELS_MODE(PICK, 12)},                                                                         \
   {TALVEN_MASKED_MODE(ROW, 5), TALVEN_MASKED_MODE(ROW, 6), TALVEN_MASKED_MODE(ROW, 7), TALVEN_MASKED_MODE(ROW, 8)}}

// Alpha blending from a source without alpha is the constant blend.
#define TALVEN_DEFINE_PICK(PICK, ROW)                                                 \
  template <int M, int SB, int DB>                                                    \
  constexpr RowFunction PICK() {                                                      \
    if constexpr (kernel_present(M, SB, DB)) {                                        \
      return &ROW<(M == kBlitAlpha && SB != 4) ? kBlitBlend : M, SB, DB, false>;                        \
    } else {                                                                          \
      return nullptr;                                                                 \
    }                                                                                 \
  }

}  // namespace talven::graphics::blit
