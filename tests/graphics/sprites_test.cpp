// Sprites and hit regions under hostile scripts: random bytes scribbled over live records between
// frames, wild addresses, huge scales and every angle. Whatever a script writes, the engine stays
// inside script memory and the planes (the sanitizer build checks), never loops for ever, and keeps
// its own lists whole.
#include <array>
#include <random>

#include "graphics/graphics_test_support.h"
#include "graphics/sprites.h"
#include "shell/configuration.h"

namespace talven::graphics::test {
namespace {

struct QuietErrors {
  std::int32_t saved = shell::config().error;
  QuietErrors() { shell::config().error = 0; }
  ~QuietErrors() { shell::config().error = saved; }
};

class SpritesTest : public GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    ASSERT_TRUE(allocate_plane(0, 160, 120, 32));
    ASSERT_TRUE(allocate_plane(1, 160, 120, 32));
    clear_rect(1, nullptr, 0x203040);
    ASSERT_TRUE(allocate_plane(2, 16, 16, 32));
    clear_rect(2, nullptr, 0x80FF8000);
    ASSERT_TRUE(allocate_plane(3, 9, 5, 8));
    ASSERT_TRUE(allocate_plane(4, 16, 16, 8));  // a mask for plane 2
    args.call(bi_gattach, {2, 4});
    sprites_start(true);
  }
  void TearDown() override {
    sprites_stop();
    GraphicsTest::TearDown();
  }
  vm::Address sprite(std::uint32_t layer, std::int32_t x, std::int32_t y, std::uint32_t plane_number) {
    return args.call(bi_sp_set, {layer, 2, std::uint32_t(x), std::uint32_t(y), plane_number, 0, 0});
  }
  ScriptArguments args;
};

TEST_F(SpritesTest, ScribbledRecordsNeverLeadOutsideMemoryOrIntoEndlessLoops) {
  QuietErrors quiet;
  std::mt19937 engine(2024);
  auto rng = [&] { return static_cast<std::uint32_t>(engine()); };
  args.call(bi_sp_setbg, {1});
  std::vector<vm::Address> sprites, regions;
  for (int i = 0; i < 60; ++i) {
    const vm::Address s = sprite(rng() % 4, rng() % 160, rng() % 120, 2 + rng() % 2);
    sprites.push_back(s);
    if (i > 0 && rng() % 2) args.call(bi_sp_link, {sprites[rng() % sprites.size()], s});
    regions.push_back(args.call(bi_hit_set, {rng() % 4, rng(), rng() % 3 ? s : 0, 0, std::uint32_t(i)}));
  }
  const vm::Address out = args.scratch(0);
  for (int frame = 0; frame < 300; ++frame) {
    // Scribble: random bytes anywhere in a few records, or chosen fields set to hostile values.
    for (int k = 0; k < 6; ++k) {
      const vm::Address s = sprites[rng() % sprites.size()];
      switch (rng() % 4) {
        case 0: vm::store<std::uint8_t>(s + rng() % kSpriteBytes, static_cast<std::uint8_t>(rng())); break;
        case 1: vm::store<std::uint32_t>(s + (rng() % (kSpriteBytes / 4)) * 4, rng()); break;
        case 2: {
          const std::uint32_t fields[] = {kSpritePlane, kSpriteScaleX, kSpriteScaleY, kSpriteChildCount,
                                          kSpriteChildren, kSpriteNext, kSpritePrevious, kSpriteParent,
                                          kSpriteSourceRect, kSpriteSourceRect + 8, kSpriteX, kSpritePivotX};
          const std::uint32_t hostile[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 1024, 0, 0x10000 * 300u, rng()};
          vm::store<std::uint32_t>(s + fields[rng() % 12], hostile[rng() % 7]);
          break;
        }
        default: {
          // Kind, layer, flags, shift and angle bytes.
          vm::store<std::uint8_t>(s + kSpriteKind, static_cast<std::uint8_t>(rng() % 4));
          vm::store<std::uint8_t>(s + kSpriteLayer, static_cast<std::uint8_t>(rng()));
          vm::store<std::uint16_t>(s + kSpriteFlags, static_cast<std::uint16_t>(rng()));
          vm::store<std::uint8_t>(s + kSpriteShift, static_cast<std::uint8_t>(rng()));
          vm::store<std::uint16_t>(s + kSpriteAngle, static_cast<std::uint16_t>(rng()));
          break;
        }
      }
      vm::store<std::uint32_t>(regions[rng() % regions.size()] + 4 * (rng() % 11), rng());
    }
    EXPECT_EQ(args.call(bi_sp_draw, {0xFFFFFFFFu, frame % 2 ? out : 0}), 1u);
    const vm::Address s = sprites[rng() % sprites.size()];
    switch (rng() % 6) {
      case 0: args.call(bi_sp_rect, {s, out}); break;
      case 1: args.call(bi_sp_sort, {rng(), rng() % 4}); break;
      case 2: args.call(bi_hit_check, {regions[rng() % regions.size()]}); break;
      case 3: args.call(bi_sp_link, {sprites[rng() % sprites.size()], s}); break;
      case 4: args.call(bi_hit_point, {rng() % 200, rng() % 200, rng()}); break;
      default: args.call(bi_sp_redraw, {rng()}); break;
    }
  }
  // After all that the engine starts over cleanly: nothing left, and a new sprite draws where it should.
  EXPECT_EQ(args.call(bi_sp_init, {0xFFFFFFFFu}), 1u);
  EXPECT_EQ(sprite_count(), 0u);
  args.call(bi_sp_setbg, {1});
  sprite(0, 20, 30, 2);
  EXPECT_EQ(args.call(bi_sp_draw, {0xFFFFFFFFu, 0}), 1u);
  EXPECT_EQ(sprite_count(), 1u);
  EXPECT_EQ(read_pixel(*plane(0), 5, 5), 0x203040u);
  EXPECT_NE(read_pixel(*plane(0), 27, 37), 0x203040u);
}

TEST_F(SpritesTest, WildAddressesAreRefusedAndTheFallbackRecordAbsorbsWrites) {
  const vm::Address good = sprite(0, 10, 10, 2);
  const vm::Address fallback = args.call(bi_sp_set, {32, 2, 0, 0, 2, 0, 0});
  ASSERT_NE(fallback, 0u);
  ASSERT_NE(fallback, good);
  const std::uint32_t wild[] = {0, 12, 0xFFFFFFF0u, good + 4, good + kSpriteBytes * 4095, fallback, 0x80000000u};
  for (std::uint32_t a : wild) {
    SCOPED_TRACE(a);
    EXPECT_EQ(args.call(bi_sp_reset, {a}), 0u);
    EXPECT_EQ(args.call(bi_sp_link, {good, a}), 0u);
    EXPECT_EQ(args.call(bi_sp_link, {a, good}), 0u);
    EXPECT_EQ(args.call(bi_sp_rect, {a, args.scratch(0)}), 0u);
    EXPECT_EQ(args.call(bi_hit_reset, {a}), 0u);
    EXPECT_EQ(args.call(bi_hit_check, {a}), 0u);
  }
  EXPECT_EQ(args.call(bi_sp_rect, {good, 0xFFFFFFF8u}), 0u);  // 16 bytes do not fit there
  EXPECT_EQ(sprite_count(), 1u);
  for (std::uint32_t offset = 0; offset < kSpriteBytes; offset += 4) vm::store<std::uint32_t>(fallback + offset, 0x02020202u);
  EXPECT_EQ(sprite_count(), 1u);
  EXPECT_EQ(args.call(bi_sp_draw, {0xFFFFFFFFu, 0}), 1u);
}

TEST_F(SpritesTest, HugeScalesAndEveryAngleDrawInsideThePage) {
  const vm::Address parent = sprite(0, 80, 60, 2);
  const vm::Address child = sprite(0, 5, 5, 3);
  ASSERT_EQ(args.call(bi_sp_link, {parent, child}), 1u);
  const std::uint32_t scales[] = {0, 1, 0x8000, 0x10000, 0x30000, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  for (int angle = 0; angle < 2048; angle += 37) {
    for (std::uint32_t scale : scales) {
      vm::store<std::uint16_t>(parent + kSpriteAngle, static_cast<std::uint16_t>(angle));
      vm::store<std::uint16_t>(child + kSpriteAngle, static_cast<std::uint16_t>(angle * 3));
      vm::store<std::uint32_t>(parent + kSpriteScaleX, scale);
      vm::store<std::uint32_t>(child + kSpriteScaleY, scale);
      vm::store<std::uint16_t>(parent + kSpriteFlags,
                               static_cast<std::uint16_t>(kSpriteChanged | (angle % 2 ? kSpriteSmoothing : 0)));
      ASSERT_EQ(args.call(bi_sp_draw, {1, args.scratch(0)}), 1u);
      Rect update;
      ASSERT_TRUE(vm::load(args.scratch(0), update));
      EXPECT_GE(update.left, 0);
      EXPECT_LE(update.right, 160);
    }
  }
}

}  // namespace
}  // namespace talven::graphics::test

namespace talven::graphics::test {
namespace {

// The frame drawn by bands of rows on several threads is the frame one thread draws: the same
// moving, turning, scaled, mirrored, overlapping sprites in several modes, frame after frame.
TEST_F(SpritesTest, BandsOnThreadsDrawTheSamePictureAsOneThread) {
  auto run = [&](bool threads) {
    set_multi_threading(threads);
    sprites_start(true);
    clear_rect(0, nullptr, 0);
    args.call(bi_sp_setbg, {1});
    std::mt19937 engine(5);
    auto rng = [&] { return static_cast<std::uint32_t>(engine()); };
    const vm::Address mode = args.scratch(512);
    std::vector<vm::Address> sprites;
    for (int i = 0; i < 300; ++i) {
      vm::store<std::uint8_t>(mode, static_cast<std::uint8_t>(std::array{0, 1, 3, 5, 5, 6}[rng() % 6]));
      vm::store<std::uint8_t>(mode + 2, static_cast<std::uint8_t>(rng()));
      vm::store<std::uint32_t>(mode + 4, rng());
      const vm::Address s = args.call(bi_sp_set, {rng() % 3, 2, rng() % 180 - 10, rng() % 140 - 10, 2 + rng() % 2, 0, mode});
      if (i % 3 == 1) vm::store<std::uint32_t>(s + kSpriteScaleX, 0x8000 + rng() % 0x30000);
      if (i % 3 == 2) vm::store<std::uint16_t>(s + kSpriteAngle, static_cast<std::uint16_t>(rng() % 2048));
      if (i % 5 == 0) vm::store<std::uint8_t>(s + kSpriteMirrorX, 1);
      if (i % 7 == 0) vm::store<std::uint16_t>(s + kSpriteFlags, 0);  // nearest rather than bilinear
      sprites.push_back(s);
    }
    std::string frames;
    for (int frame = 0; frame < 6; ++frame) {
      // Some move (and are drawn whole); the ones under them are exposed and drawn in parts.
      for (int k = 0; k < 40; ++k) {
        const vm::Address s = sprites[rng() % sprites.size()];
        vm::store<std::int32_t>(s + kSpriteX, static_cast<std::int32_t>(rng() % 180) - 10);
        std::uint16_t flags;
        vm::load(s + kSpriteFlags, flags);
        vm::store<std::uint16_t>(s + kSpriteFlags, flags | kSpriteChanged);
      }
      args.call(bi_sp_draw, {0xFFFFFFFFu, 0});
      const Plane& page = *plane(0);
      frames.append(reinterpret_cast<const char*>(vm::host_pointer(page.pixels)), std::size_t(page.pitch) * page.height);
    }
    sprites_stop();
    return frames;
  };
  const std::string one = run(false), bands = run(true);
  ASSERT_EQ(one.size(), bands.size());
  EXPECT_TRUE(one == bands);
}

}  // namespace
}  // namespace talven::graphics::test
