// The vector pixel rules against the table-driven rules, over every input pair that decides
// their arithmetic, for each variant this processor can run.
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/graphics_test_support.h"
#include "graphics/blit_kernels.h"
#include "graphics/pixel_simd.h"

namespace talven::graphics::test {
namespace {

using simd::Implementation;

std::uint32_t composite_by_tables(std::uint32_t s, std::uint32_t d, std::uint32_t opacity) {
  const PixelTables& T = pixel_tables();
  const std::uint32_t a = T.multiply[s >> 24][opacity];
  if (a == 0) return d;
  const std::uint32_t da = d >> 24, k = T.weight[a][da];
  std::uint32_t out = std::uint32_t(T.screen[a][da]) << 24;
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t c = T.multiply[k][(s >> (8 * i)) & 255] + T.multiply[255 - k][(d >> (8 * i)) & 255];
    out |= c << (8 * i);
  }
  return out;
}

// Runs a row rule in two calls, so that both the vector body and the short tail are used.
template <typename F>
void in_two_parts(std::size_t n, F&& call) {
  const std::size_t first = n - 5;
  call(0, first);
  call(first, n - first);
}

std::vector<const Implementation*> variants() {
  int count = 0;
  const Implementation* all = simd::implementations(count);
  std::vector<const Implementation*> out;
  for (int i = 0; i < count; ++i) out.push_back(&all[i]);
  return out;
}

class PixelSimdTest : public GraphicsTest {};

TEST_F(PixelSimdTest, AtLeastThePlainVariantRuns) { EXPECT_GE(variants().size(), 1u); }

// Every (source alpha, destination alpha) pair at several opacities: this covers every
// composite weight W(a, b) the rule can look up, and the colour channels vary with them. The
// second pass has only opaque destinations, which take a shorter way.
TEST_F(PixelSimdTest, CompositeEqualsTheTablesForEveryAlphaPair) {
  std::mt19937 rng(7);
  std::vector<std::uint32_t> source(65536), destination(65536);
  for (int pass = 0; pass < 2; ++pass) {
    for (std::uint32_t i = 0; i < 65536; ++i) {
      source[i] = (i >> 8) << 24 | (rng() & 0xFFFFFF);
      destination[i] = (pass == 0 ? (i & 255) << 24 : 0xFF000000u) | (rng() & 0xFFFFFF);
    }
    for (const Implementation* v : variants()) {
      for (std::uint32_t opacity : {255u, 254u, 128u, 77u, 1u}) {
        std::vector<std::uint32_t> got = destination;
        in_two_parts(got.size(), [&](std::size_t at, std::size_t n) {
          v->composite_row(reinterpret_cast<const std::uint8_t*>(source.data() + at),
                           reinterpret_cast<std::uint8_t*>(got.data() + at), static_cast<int>(n), opacity);
        });
        for (std::uint32_t i = 0; i < 65536; ++i) {
          ASSERT_EQ(got[i], composite_by_tables(source[i], destination[i], opacity))
              << v->name << ": source alpha " << (i >> 8) << ", destination " << destination[i] << ", opacity " << opacity;
        }
      }
    }
  }
}

TEST_F(PixelSimdTest, CompositeFillEqualsTheTablesForEveryAlphaPair) {
  std::mt19937 rng(8);
  for (const Implementation* v : variants()) {
    for (std::uint32_t a = 0; a < 256; ++a) {
      const std::uint32_t colour = a << 24 | (rng() & 0xFFFFFF);
      std::vector<std::uint32_t> destination(512), got;
      for (std::uint32_t b = 0; b < 512; ++b) destination[b] = (b < 256 ? b << 24 : 0xFF000000u) | (rng() & 0xFFFFFF);
      got = destination;
      in_two_parts(got.size(), [&](std::size_t at, std::size_t n) {
        v->composite_fill_row(colour, reinterpret_cast<std::uint8_t*>(got.data() + at), static_cast<int>(n));
      });
      for (std::uint32_t b = 0; b < 512; ++b)
        ASSERT_EQ(got[b], composite_by_tables(colour, destination[b], 255)) << v->name << ": alpha " << a << ", pixel " << b;
    }
  }
}

// Every (opacity, source byte, destination byte): the whole multiply table is reproduced.
TEST_F(PixelSimdTest, ConstantBlendEqualsTheTablesForEveryByteTriple) {
  const PixelTables& T = pixel_tables();
  std::vector<std::uint8_t> source(4 * 65536), destination(4 * 65536);
  for (std::uint32_t i = 0; i < 65536; ++i)
    for (int c = 0; c < 4; ++c) {
      source[4 * i + c] = static_cast<std::uint8_t>((i >> 8) ^ (c * 85));
      destination[4 * i + c] = static_cast<std::uint8_t>(i ^ (c * 51));
    }
  for (const Implementation* v : variants()) {
    for (std::uint32_t opacity = 0; opacity < 256; ++opacity) {
      std::vector<std::uint8_t> got = destination;
      in_two_parts(65536, [&](std::size_t at, std::size_t n) {
        v->blend_row(source.data() + 4 * at, got.data() + 4 * at, static_cast<int>(n), opacity);
      });
      for (std::size_t i = 0; i < got.size(); ++i) {
        const int want = T.multiply[opacity][source[i]] + T.multiply[255 - opacity][destination[i]];
        ASSERT_EQ(got[i], want) << v->name << ": opacity " << opacity << ", source " << int(source[i]) << ", destination "
                                << int(destination[i]);
      }
    }
  }
}

}  // namespace
}  // namespace talven::graphics::test

namespace talven::graphics::test {
namespace {

// The four-byte bilinear filter against the per-byte formula, for every pair of fractions and
// corner bytes that include both extremes.
TEST_F(GraphicsTest, BilinearOnFourBytesEqualsTheFormulaPerByte) {
  std::mt19937 rng(3);
  auto word = [&] { return static_cast<std::uint32_t>(rng()); };
  const std::uint32_t corners[][4] = {{0xFF00FF00u, 0x00FF00FFu, 0xFFFFFFFFu, 0u}, {0u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0u},
                                      {0x80808080u, 0x7F7F7F7Fu, 0x01FE01FEu, 0xFE01FE01u}};
  std::vector<std::array<std::uint32_t, 4>> sets;
  for (const auto& c : corners) sets.push_back({c[0], c[1], c[2], c[3]});
  for (int i = 0; i < 5; ++i) sets.push_back({word(), word(), word(), word()});
  for (const auto& p : sets) {
    for (std::int32_t u = 0; u < 256; ++u) {
      for (std::int32_t v = 0; v < 256; ++v) {
        const std::int32_t fu = u << 8, fv = v << 8;
        const std::int32_t fuv = static_cast<std::int32_t>((std::uint32_t(fu) * std::uint32_t(fv)) >> 16);
        std::uint32_t want = 0;
        for (int i = 0; i < 4; ++i)
          want |= blit::bilinear(blit::chan(p[0], i), blit::chan(p[1], i), blit::chan(p[2], i), blit::chan(p[3], i), fu, fv, fuv)
                  << (8 * i);
        ASSERT_EQ(blit::bilinear_bytes(p[0], p[1], p[2], p[3], fu, fv, fuv), want) << "fractions " << u << ", " << v;
      }
    }
  }
}

// Runs of filtered samples against the four-byte filter sample by sample: runs stepping every way
// across a bottom-up source, with every fraction, whole and partial vector groups.
TEST_F(GraphicsTest, BilinearRowsEqualTheFilterSampleBySample) {
  constexpr int kW = 40, kH = 30;
  std::mt19937 rng(11);
  std::vector<std::uint8_t> pixels(std::size_t(kW) * kH * 4);
  for (std::uint8_t& b : pixels) b = static_cast<std::uint8_t>(rng());
  pixels[0] = 0, pixels[1] = 255;  // both extremes among the corners
  const std::ptrdiff_t pitch = kW * 4;
  const std::uint8_t* top = pixels.data() + (kH - 1) * pitch;  // row 0 is the last in memory
  auto pixel_at = [&](std::int64_t x, std::int64_t y) {
    std::uint32_t c;
    std::memcpy(&c, top - y * pitch + x * 4, 4);
    return c;
  };
  for (const Implementation* impl : variants()) {
    for (int trial = 0; trial < 2000; ++trial) {
      const int n = 1 + static_cast<int>(rng() % 23);
      // A start and an end inside the area whose neighbours exist, so every sample between is inside.
      auto position = [&](int limit) { return std::int64_t(rng() % ((limit - 1) * 65536)); };
      const std::int64_t u0 = position(kW), v0 = position(kH), u1 = position(kW), v1 = position(kH);
      const std::int64_t du = n > 1 ? (u1 - u0) / (n - 1) : 0, dv = n > 1 ? (v1 - v0) / (n - 1) : 0;
      const simd::BilinearRun run{top, pitch, std::uint64_t(u0), std::uint64_t(v0), std::uint64_t(du), std::uint64_t(dv)};
      std::uint32_t got[23];
      impl->bilinear_row(run, got, n);
      for (int k = 0; k < n; ++k) {
        const std::int64_t u = u0 + k * du, v = v0 + k * dv, x = u >> 16, y = v >> 16;
        const std::int32_t fu = static_cast<std::int32_t>(u & 0xFF00), fv = static_cast<std::int32_t>(v & 0xFF00);
        const std::int32_t fuv = static_cast<std::int32_t>((std::uint32_t(fu) * std::uint32_t(fv)) >> 16);
        const std::uint32_t want =
            blit::bilinear_bytes(pixel_at(x, y), pixel_at(x + 1, y), pixel_at(x, y + 1), pixel_at(x + 1, y + 1), fu, fv, fuv);
        ASSERT_EQ(got[k], want) << impl->name << ": sample " << k << " of " << n << " at " << u << ", " << v;
      }
    }
  }
}

}  // namespace
}  // namespace talven::graphics::test
