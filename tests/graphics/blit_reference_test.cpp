// Every blit kernel against the per-pixel reference, on random planes, for every depth pair,
// mode, masked variant, opacity, mirroring and clip case.
#include <cstdio>

#include "graphics/graphics_test_support.h"
#include "graphics/reference_blit.h"

namespace talven::graphics::test {
namespace {

enum class Scheme { kStretch, kNearest, kBilinear };
const char* scheme_name(Scheme s) { return s == Scheme::kStretch ? "stretch" : s == Scheme::kNearest ? "nearest" : "bilinear"; }

#if defined(__SANITIZE_ADDRESS__)
constexpr int kTrials = 6;
#else
constexpr int kTrials = 16;
#endif

constexpr std::uint32_t kDst = 1, kSrc = 2, kMask = 3, kExpected = 4, kBefore = 5;

class BlitReferenceTest : public GraphicsTest, public ::testing::WithParamInterface<Scheme> {};

Rect random_rect(std::mt19937& rng, std::int32_t w, std::int32_t h, bool outside, bool mirror_x, bool mirror_y) {
  std::uniform_int_distribution<int> pad(0, outside ? 4 : 0);
  Rect r;
  r.left = std::uniform_int_distribution<int>(0, w - 1)(rng) - pad(rng);
  r.top = std::uniform_int_distribution<int>(0, h - 1)(rng) - pad(rng);
  r.right = std::min(w, r.left + pad(rng) + std::uniform_int_distribution<int>(1, w)(rng)) + pad(rng);
  r.bottom = std::min(h, r.top + pad(rng) + std::uniform_int_distribution<int>(1, h)(rng)) + pad(rng);
  if (r.right <= r.left) r.right = r.left + 1;
  if (r.bottom <= r.top) r.bottom = r.top + 1;
  if (mirror_x) std::swap(r.left, r.right);
  if (mirror_y) std::swap(r.top, r.bottom);
  return r;
}

TEST_P(BlitReferenceTest, EveryKernelAgreesWithTheReference) {
  const Scheme scheme = GetParam();
  std::mt19937 rng(1234 + static_cast<int>(scheme));
  const int depths[] = {8, 16, 24, 32};
  int checked = 0, changed = 0;
  for (int mode = 0; mode <= 12; ++mode) {
    for (int sb : depths) {
      for (int db : depths) {
        for (int masked = 0; masked <= (mode >= 5 && mode <= 8 ? 1 : 0); ++masked) {
          for (int trial = 0; trial < kTrials; ++trial) {
            std::uniform_int_distribution<int> byte(0, 255);
            const std::int32_t sw = 5 + byte(rng) % 8, sh = 4 + byte(rng) % 8, dw = 6 + byte(rng) % 10, dh = 5 + byte(rng) % 10;
            ASSERT_TRUE(allocate_plane(kDst, dw, dh, db));
            ASSERT_TRUE(allocate_plane(kExpected, dw, dh, db));
            ASSERT_TRUE(allocate_plane(kSrc, sw, sh, sb));
            Plane& dst = *plane(kDst);
            Plane& src = *plane(kSrc);
            Plane& expected = *plane(kExpected);
            randomise(dst, rng);
            randomise(src, rng);
            randomise_colours(src, rng);
            Plane* mask = nullptr;
            if (masked) {
              ASSERT_TRUE(allocate_plane(kMask, sw - byte(rng) % 2, sh - byte(rng) % 2, 8));
              mask = plane(kMask);
              randomise(*mask, rng);
            }
            const bool clip = trial % 2 == 1;
            const bool mirror_x = trial & 2, mirror_y = trial & 4;
            if (clip) dst.clip = {1 + byte(rng) % 2, byte(rng) % 2, dw - byte(rng) % 3, dh - 1};
            copy_plane(dst, expected);
            ASSERT_TRUE(allocate_plane(kBefore, dw, dh, db));
            copy_plane(dst, *plane(kBefore));
            BlitMode m;
            m.mode = static_cast<std::uint8_t>(mode);
            const int opacities[] = {255, 128, 1 + byte(rng) % 254};
            m.opacity = static_cast<std::uint8_t>(opacities[trial % 3]);
            m.operation = static_cast<std::uint8_t>(mode == 9 ? byte(rng) : byte(rng) % 16);
            m.parameter = static_cast<std::uint8_t>(byte(rng) % 4 == 0 ? 0 : byte(rng) % 80);
            // Keys taken from the planes' own pixels, so the key modes both match and miss.
            const Plane& keyed = mode == 2 ? dst : src;
            m.key = mode == 9 ? ((std::uint32_t(byte(rng)) * 0x01010101u) & 0xFF00FFFFu) | 0x000000FFu
                              : read_pixel(keyed, byte(rng) % keyed.width, byte(rng) % keyed.height);
            if (mode != 9 && trial % 5 == 4) m.key = 0x01000000u | byte(rng);
            m.colour = byte(rng) << 16 | byte(rng) << 8 | byte(rng);
            const bool scaled = scheme != Scheme::kStretch || trial % 3 != 0;
            Rect dr = random_rect(rng, dw, dh, clip, mirror_x && trial % 4 != 3, mirror_y);
            Rect sr = random_rect(rng, sw, sh, clip, mirror_x && trial % 4 == 3, false);
            if (!scaled) {  // unscaled copies also reach gcopy's direct path
              dr.right = dr.left + (sr.right - sr.left);
              dr.bottom = dr.top + (sr.bottom - sr.top);
            }
            const int angle = scheme == Scheme::kStretch ? 0 : std::uniform_int_distribution<int>(-3000, 3000)(rng);
            int got, want;
            if (scheme == Scheme::kStretch) {
              got = stretch_blit(&dst, &dr, &src, &sr, mask, &m);
              want = reference::stretch(expected, &dr, src, &sr, mask, m);
            } else {
              const bool bilinear = scheme == Scheme::kBilinear;
              got = rotated_blit(&dst, &dr, &src, &sr, mask, &m, angle, bilinear);
              want = reference::rotated(expected, &dr, src, &sr, mask, m, angle, bilinear);
            }
            const std::string difference = first_difference(dst, expected);
            if (!first_difference(dst, *plane(kBefore)).empty()) ++changed;
            ASSERT_TRUE(got == want && difference.empty())
                << scheme_name(scheme) << " mode " << mode << (masked ? " masked" : "") << ", " << sb << " to " << db
                << " bits, opacity " << int(m.opacity) << ", operation " << int(m.operation) << ", parameter "
                << int(m.parameter) << ", angle " << angle << ", rects {" << dr.left << "," << dr.top << "," << dr.right
                << "," << dr.bottom << "} from {" << sr.left << "," << sr.top << "," << sr.right << "," << sr.bottom
                << "}, clip " << clip << ": result " << got << " (reference " << want << "); " << difference;
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
  EXPECT_GT(changed, checked / 3) << "most calls must draw something, or the comparison proves little";
}

INSTANTIATE_TEST_SUITE_P(Schemes, BlitReferenceTest, ::testing::Values(Scheme::kStretch, Scheme::kNearest, Scheme::kBilinear),
                         [](const auto& info) { return std::string(scheme_name(info.param)); });

// Rows long enough for the vector rules (constant blend and alpha composite, 32 to 32 bits):
// unscaled, scaled and mirrored stretches and both rotations, with and without threads.
TEST_F(GraphicsTest, WideThirtyTwoBitRowsAgreeWithTheReference) {
  std::mt19937 rng(99);
  ASSERT_TRUE(allocate_plane(kSrc, 157, 9, 32));
  randomise(*plane(kSrc), rng);
  const Rect sources[] = {{0, 0, 157, 9}, {3, 1, 140, 8}, {150, 0, 2, 9}};
  const Rect destinations[] = {{-5, 0, 152, 9}, {0, 1, 211, 7}, {160, 0, 9, 8}, {2, 0, 139, 7}};
  int case_number = 0;
  for (int mode : {3, 5}) {
    for (int opacity : {255, 180, 3}) {
      for (const Rect& sr : sources) {
        for (const Rect& dr : destinations) {
          ++case_number;
          ASSERT_TRUE(allocate_plane(kDst, 170, 9, 32));
          ASSERT_TRUE(allocate_plane(kExpected, 170, 9, 32));
          randomise(*plane(kDst), rng);
          copy_plane(*plane(kDst), *plane(kExpected));
          BlitMode m;
          m.mode = static_cast<std::uint8_t>(mode);
          m.opacity = static_cast<std::uint8_t>(opacity);
          set_multi_threading(case_number % 2 == 1);
          const int scheme = case_number % 3;
          int got, want;
          if (scheme == 0) {
            got = stretch_blit(plane(kDst), &dr, plane(kSrc), &sr, nullptr, &m);
            want = reference::stretch(*plane(kExpected), &dr, *plane(kSrc), &sr, nullptr, m);
          } else {
            const int angle = case_number % 4 == 0 ? 0 : 37 * case_number;
            got = rotated_blit(plane(kDst), &dr, plane(kSrc), &sr, nullptr, &m, angle, scheme == 2);
            want = reference::rotated(*plane(kExpected), &dr, *plane(kSrc), &sr, nullptr, m, angle, scheme == 2);
          }
          ASSERT_EQ(got, want);
          ASSERT_EQ(first_difference(*plane(kDst), *plane(kExpected)), "")
              << "mode " << mode << ", opacity " << opacity << ", case " << case_number << ", scheme " << scheme;
        }
      }
    }
  }
}

// With color_mapping set, 8-bit to 8-bit copies go through colours and the inverse map.
TEST_F(GraphicsTest, ColourMappingSendsIndicesThroughColours) {
  std::mt19937 rng(7);
  for (bool mapping : {false, true}) {
    set_color_mapping(mapping);
    ASSERT_TRUE(allocate_plane(kDst, 9, 7, 8));
    ASSERT_TRUE(allocate_plane(kExpected, 9, 7, 8));
    ASSERT_TRUE(allocate_plane(kSrc, 9, 7, 8));
    randomise(*plane(kSrc), rng);
    randomise_colours(*plane(kSrc), rng);
    copy_plane(*plane(kDst), *plane(kExpected));
    for (int mode : {0, 1, 3}) {
      BlitMode m;
      m.mode = static_cast<std::uint8_t>(mode);
      m.opacity = 100;
      m.key = 0x01000005;
      ASSERT_EQ(copy_blit(kDst, 0, 0, kSrc, nullptr, &m), 1);
      const Rect d{0, 0, 9, 7};
      ASSERT_EQ(reference::stretch(*plane(kExpected), &d, *plane(kSrc), nullptr, nullptr, m), 1);
      EXPECT_EQ(first_difference(*plane(kDst), *plane(kExpected)), "") << "mode " << mode << " mapping " << mapping;
    }
  }
  // Without mapping the index itself arrives; with it, the nearest entry of the colour.
  set_color_mapping(false);
  ASSERT_TRUE(allocate_plane(kSrc, 1, 1, 8));
  colour_table(*plane(kSrc))[4 * 9 + 2] = 255;  // entry 9 turned pure red
  colour_table(*plane(kSrc))[4 * 9 + 1] = 0;
  colour_table(*plane(kSrc))[4 * 9 + 0] = 0;
  *bytes(*plane(kSrc)) = 9;
  ASSERT_TRUE(allocate_plane(kDst, 1, 1, 8));
  copy_blit(kDst, 0, 0, kSrc, nullptr, nullptr);
  EXPECT_EQ(*bytes(*plane(kDst)), 9);
  set_color_mapping(true);
  copy_blit(kDst, 0, 0, kSrc, nullptr, nullptr);
  EXPECT_EQ(*bytes(*plane(kDst)), 0xE0);  // red in the 3-3-2 cube
}

}  // namespace
}  // namespace talven::graphics::test
