// Vector forms of the hottest 32-bit pixel rules. Each one gives exactly the numbers of the
// table-driven scalar rule (the tests compare them over every input pair); the widest form the
// processor supports is chosen once, at first use. Internal to graphics/.
#pragma once
#include <cstddef>
#include <cstdint>

namespace talven::graphics::simd {

// The alpha composite onto 32-bit pixels: a = mul(s.alpha, opacity); k = W(a, d.alpha);
// d.c = mul(k, s.c) + mul(255 - k, d.c); d.alpha = screen(a, d.alpha); a = 0 leaves d.
void composite_row(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity);
// The same with one source colour for every pixel (0xAARRGGBB, AA its alpha).
void composite_fill_row(std::uint32_t colour, std::uint8_t* d, int n);
// The constant blend of all four bytes: d = mul(opacity, s) + mul(255 - opacity, d).
void blend_row(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity);

// A run of bilinear samples of a 32-bit source: sample k at 16.16 position (u + k du, v + k dv)
// (wrapping arithmetic), source row r starting at `top - r * pitch`.
struct BilinearRun {
  const std::uint8_t* top;
  std::ptrdiff_t pitch;
  std::uint64_t u, v, du, dv;
};
// The colours of the run's first n samples, exactly the numbers of blit::bilinear_bytes. Only for
// samples whose four neighbours (columns iu and iu + 1, rows iv and iv + 1) all lie in the source.
void bilinear_row(const BilinearRun& run, std::uint32_t* out, int n);

// The coverage of anti-aliased text for a row of n destination pixels: for each, the set bits of
// its 8 x 8 block (one byte in each of eight work rows, the rows n bytes apart) counted 4 each,
// less 1 when the block's first row is full, so that full coverage is 255.
void coverage_row(const std::uint8_t* blocks, std::size_t n, std::uint16_t* out);

// One complete set of the rules above, for the tests to check each variant the machine can run.
struct Implementation {
  const char* name;
  void (*composite_row)(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity);
  void (*composite_fill_row)(std::uint32_t colour, std::uint8_t* d, int n);
  void (*blend_row)(const std::uint8_t* s, std::uint8_t* d, int n, std::uint32_t opacity);
  void (*bilinear_row)(const BilinearRun& run, std::uint32_t* out, int n);
  void (*coverage_row)(const std::uint8_t* blocks, std::size_t n, std::uint16_t* out);
};

// The variants this processor runs, the plain (SSE2) one first; `count` receives their number.
const Implementation* implementations(int& count);

}  // namespace talven::graphics::simd
