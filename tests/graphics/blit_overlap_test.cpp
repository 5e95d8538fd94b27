// Blits of a plane onto itself, and with the destination as the source's mask: the result is what
// a copy through a temporary gives (the source read whole before anything is written), for every
// mode, direction and sampling scheme, with rows split over threads.
#include <cstdio>

#include "graphics/graphics_test_support.h"
#include "graphics/image_files.h"
#include "graphics/reference_blit.h"

namespace talven::graphics::test {
namespace {

constexpr std::uint32_t kPlane = 1, kMask = 2, kExpected = 3, kSourceCopy = 4, kBefore = 5;

// Large enough that the rows of every call are split over threads (16384 pixels or more).
constexpr std::int32_t kWidth = 136, kHeight = 134;
constexpr Rect kSource{3, 3, 133, 131};

enum class Scheme { kCopy, kMirroredCopy, kStretch, kNearest, kBilinear };
const char* scheme_name(Scheme s) {
  switch (s) {
    case Scheme::kCopy: return "gcopy";
    case Scheme::kMirroredCopy: return "mirrored gcopy";
    case Scheme::kStretch: return "stretch";
    case Scheme::kNearest: return "gblit";
    default: return "gblita";
  }
}

// The mask of masked modes: none, another 8-bit plane, or the destination itself (8-bit planes).
enum class MaskKind { kNone, kOther, kItself };
const char* mask_name(MaskKind k) { return k == MaskKind::kNone ? "" : k == MaskKind::kOther ? " masked" : " masked by itself"; }

struct Shift {
  int dx, dy;
  const char* name;
};
const Shift kShifts[] = {{0, 1, "down"},        {0, -1, "up"},          {1, 0, "right"},
                         {-1, 0, "left"},       {1, 1, "down right"},   {-2, -3, "up left"},
                         {3, -1, "up right"},   {-1, 2, "down left"},   {0, 0, "onto the same place"}};

Rect moved(const Rect& r, const Shift& s) { return {r.left + s.dx, r.top + s.dy, r.right + s.dx, r.bottom + s.dy}; }

BlitMode random_mode(int mode, std::mt19937& rng, const Plane& p) {
  std::uniform_int_distribution<int> byte(0, 255);
  BlitMode m;
  m.mode = static_cast<std::uint8_t>(mode);
  const int opacities[] = {255, 1 + byte(rng) % 254};
  m.opacity = static_cast<std::uint8_t>(opacities[byte(rng) % 2]);
  m.operation = static_cast<std::uint8_t>(mode == 9 ? byte(rng) : byte(rng) % 14);
  m.parameter = static_cast<std::uint8_t>(1 + byte(rng) % 80);
  m.key = mode == 9 ? 0xFF00FF00u | std::uint32_t(byte(rng)) : read_pixel(p, byte(rng) % p.width, byte(rng) % p.height);
  m.colour = std::uint32_t(byte(rng)) << 16 | std::uint32_t(byte(rng)) << 8 | std::uint32_t(byte(rng));
  return m;
}

struct Case {
  Scheme scheme;
  int mode;
  int bits;
  MaskKind mask;
  Shift shift;
};

// gcopy in every depth; the other schemes with the depth changing from case to case.
std::vector<Case> all_cases() {
  std::vector<Case> cases;
  const int depths[] = {8, 16, 24, 32};
  int turn = 0;
  for (Scheme scheme : {Scheme::kCopy, Scheme::kMirroredCopy, Scheme::kStretch, Scheme::kNearest, Scheme::kBilinear}) {
    for (int mode = 0; mode <= 12; ++mode) {
      for (MaskKind mask : {MaskKind::kNone, MaskKind::kOther, MaskKind::kItself}) {
        if (mask != MaskKind::kNone && (mode < 5 || mode > 8)) continue;
        for (const Shift& shift : kShifts) {
          if (mask == MaskKind::kItself) {
            cases.push_back({scheme, mode, 8, mask, shift});
          } else if (scheme == Scheme::kCopy) {
            for (int bits : depths) cases.push_back({scheme, mode, bits, mask, shift});
          } else {
            cases.push_back({scheme, mode, depths[turn++ % 4], mask, shift});
          }
        }
      }
    }
  }
  return cases;
}

TEST_F(GraphicsTest, BlitsOfAPlaneOntoItselfReadTheSourceAsItWas) {
  set_multi_threading(true);
  ScriptArguments args;
  std::mt19937 rng(2024);
  int checked = 0, changed = 0, case_number = 0;
  for (const Case& c : all_cases()) {
    ++case_number;
    ASSERT_TRUE(allocate_plane(kPlane, kWidth, kHeight, c.bits));
    Plane& p = *plane(kPlane);
    randomise(p, rng);
    randomise_colours(p, rng);
    Plane* mask = nullptr;
    args.call(bi_gdetach, {kPlane});
    if (c.mask == MaskKind::kOther) {
      ASSERT_TRUE(allocate_plane(kMask, kWidth, kHeight, 8));
      randomise(*plane(kMask), rng);
      mask = plane(kMask);
      args.call(bi_gattach, {kPlane, kMask});
    } else if (c.mask == MaskKind::kItself) {
      mask = &p;
      args.call(bi_gattach, {kPlane, kPlane});
    }
    // The reference draws into a copy of the plane and reads another copy taken before the call.
    for (std::uint32_t slot : {kExpected, kSourceCopy, kBefore}) {
      ASSERT_TRUE(allocate_plane(slot, kWidth, kHeight, c.bits));
      copy_plane(p, *plane(slot));
    }
    Plane& expected = *plane(kExpected);
    const Plane& source = *plane(kSourceCopy);
    const Plane* reference_mask = c.mask == MaskKind::kItself ? &source : mask;
    const BlitMode m = random_mode(c.mode, rng, p);

    Rect from = kSource, to = moved(kSource, c.shift);
    int angle = 0, got = 0, want = 0;
    switch (c.scheme) {
      case Scheme::kCopy:
      case Scheme::kMirroredCopy:
        if (c.scheme == Scheme::kMirroredCopy) {
          if (case_number % 2) std::swap(from.left, from.right);
          else std::swap(from.top, from.bottom);
        }
        got = copy_blit(kPlane, to.left, to.top, kPlane, &from, &m);
        want = reference::stretch(expected, &to, source, &from, reference_mask, m);
        break;
      case Scheme::kStretch:
        to.right += 5 + case_number % 3;
        to.bottom -= 7;
        got = stretch_blit(&p, &to, &p, &from, mask, &m);
        want = reference::stretch(expected, &to, source, &from, reference_mask, m);
        break;
      case Scheme::kNearest:
      case Scheme::kBilinear: {
        const bool bilinear = c.scheme == Scheme::kBilinear;
        angle = c.shift.dx == 0 && c.shift.dy == 0 ? 0 : 23 * (case_number % 7) - 60;
        got = rotated_blit(&p, &to, &p, &from, mask, &m, angle, bilinear);
        want = reference::rotated(expected, &to, source, &from, reference_mask, m, angle, bilinear);
        break;
      }
    }
    if (!first_difference(p, *plane(kBefore)).empty()) ++changed;
    ASSERT_TRUE(got == want && first_difference(p, expected).empty())
        << scheme_name(c.scheme) << " " << c.shift.name << ", mode " << c.mode << mask_name(c.mask) << ", " << c.bits
        << " bits, opacity " << int(m.opacity) << ", operation " << int(m.operation) << ", parameter "
        << int(m.parameter) << ", angle " << angle << ": result " << got << " (reference " << want << "); "
        << first_difference(p, expected);
    ++checked;
  }
  EXPECT_GT(checked, 1000);
  EXPECT_GT(changed, checked / 2) << "most calls must draw something, or the comparison proves little";
}

// The scroll that games do every frame, checked row by row: a 200 x 280 region moved one pixel in
// each direction keeps every row and column it had.
TEST_F(GraphicsTest, ScrollingARegionByOnePixelMovesEveryRowIntact) {
  for (bool threads : {false, true}) {
    set_multi_threading(threads);
    for (int bits : {8, 24, 32}) {
      for (const Shift& s : {Shift{0, 1, "down"}, Shift{0, -1, "up"}, Shift{1, 0, "right"}, Shift{-1, 0, "left"}}) {
        ASSERT_TRUE(allocate_plane(kPlane, 202, 282, bits));
        Plane& p = *plane(kPlane);
        const int bytes = bits / 8;
        // Every pixel tells where it was: row number in the first byte, column in the second.
        for (std::int32_t y = 0; y < p.height; ++y)
          for (std::int32_t x = 0; x < p.width; ++x) {
            std::uint8_t* q = row_address(p, y) + x * bytes;
            q[0] = static_cast<std::uint8_t>(y);
            if (bytes > 1) q[1] = static_cast<std::uint8_t>(x);
          }
        const Rect region{1, 1, 201, 281};
        ASSERT_EQ(copy_blit(kPlane, 1 + s.dx, 1 + s.dy, kPlane, &region, nullptr), 1);
        for (std::int32_t y = region.top; y < region.bottom; ++y)
          for (std::int32_t x = region.left; x < region.right; ++x) {
            const std::uint8_t* q = row_address(p, y + s.dy) + (x + s.dx) * bytes;
            ASSERT_EQ(q[0], static_cast<std::uint8_t>(y)) << bits << " bits moved " << s.name << ", pixel " << x << "," << y;
            if (bytes > 1) {
              ASSERT_EQ(q[1], static_cast<std::uint8_t>(x)) << bits << " bits moved " << s.name;
            }
          }
      }
    }
  }
}

// drt_copy copies the dirty parts one by one; onto the same plane elsewhere, no part may read what
// an earlier part wrote.
TEST_F(GraphicsTest, DirtyCopyOfAPlaneOntoItselfReadsTheSourceAsItWas) {
  set_multi_threading(true);
  ScriptArguments args;
  std::mt19937 rng(5);
  const Rect dirty[] = {{0, 0, 60, 50}, {40, 30, 130, 90}, {10, 80, 120, 134}};
  for (int bits : {8, 16, 24, 32}) {
    for (const Shift& s : kShifts) {
      ASSERT_TRUE(allocate_plane(kPlane, kWidth, kHeight, bits));
      randomise(*plane(kPlane), rng);
      for (std::uint32_t slot : {kExpected, kSourceCopy}) {
        ASSERT_TRUE(allocate_plane(slot, kWidth, kHeight, bits));
        copy_plane(*plane(kPlane), *plane(slot));
      }
      args.call(bi_drt_init, {});
      for (const Rect& r : dirty) ASSERT_EQ(args.call(bi_drt_set, {put_rect(args.scratch(), r)}), 1u);
      const Rect to = moved(kSource, s);
      ASSERT_EQ(dirty_copy(kPlane, to.left, to.top, kPlane, &kSource), 1);
      // Every dirty part of the destination area receives the source pixels under it.
      for (const Rect& r : dirty) {
        const Rect part{std::max(r.left, to.left), std::max(r.top, to.top), std::min(r.right, to.right),
                        std::min(r.bottom, to.bottom)};
        const Rect from{part.left - s.dx, part.top - s.dy, part.right - s.dx, part.bottom - s.dy};
        reference::stretch(*plane(kExpected), &part, *plane(kSourceCopy), &from, nullptr, BlitMode{});
      }
      ASSERT_EQ(first_difference(*plane(kPlane), *plane(kExpected)), "") << bits << " bits moved " << s.name;
    }
  }
}

// dcopy takes its delta image from any script address, also from the plane's own pixels; the
// copying walk then changes the stream it walks and must copy from the stream as it was checked.
TEST_F(GraphicsTest, DeltaImageHeldInThePlaneItChanges) {
  ASSERT_TRUE(allocate_plane(kPlane, 128, 2, 8));
  Plane& p = *plane(kPlane);
  std::vector<std::uint8_t> stream = {'D', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0};
  for (std::int32_t v : {0, 0, 88, 1}) {
    for (int k = 0; k < 4; ++k) stream.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
  // From byte 32: 40 pixels, then 3 more, then the end. Placed at (36, 1), where the stream itself
  // lies (the bottom row), the first copy lands on the stream's next operation and turns it into
  // "copy 254 pixels", which would run far past the plane.
  stream.insert(stream.end(), {0, 41});
  for (int i = 0; i < 38; ++i) stream.push_back(0x11);
  stream.insert(stream.end(), {0, 0xFF});
  stream.insert(stream.end(), {0, 4, 7, 8, 9, 0, 1});
  std::memcpy(row_address(p, 1), stream.data(), stream.size());

  ASSERT_TRUE(allocate_plane(kExpected, 128, 2, 8));
  copy_plane(p, *plane(kExpected));
  ASSERT_TRUE(apply_delta(plane(kExpected), 36, 1, stream.data(), stream.size(), nullptr));
  const std::uint8_t* row = row_address(*plane(kExpected), 1);
  EXPECT_EQ(row[36], 0x11);
  EXPECT_EQ(row[75], 0xFF);
  EXPECT_EQ(row[76], 7);
  EXPECT_EQ(row[78], 9);

  ASSERT_TRUE(apply_delta(&p, 36, 1, row_address(p, 1), std::size_t(p.pitch), nullptr));
  EXPECT_EQ(first_difference(p, *plane(kExpected)), "");
}

}  // namespace
}  // namespace talven::graphics::test
