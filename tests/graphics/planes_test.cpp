// The plane table and the plane built-ins that do not draw, the shared tables and the palettes.
#include <array>
#include <cmath>

#include "graphics/graphics_test_support.h"
#include "platform/text_encoding.h"

namespace talven::graphics::test {
namespace {

using PlanesTest = GraphicsTest;

TEST_F(PlanesTest, GallocReplacesAnyPlaneIncludingTheViewPage) {
  ScriptArguments args;
  ASSERT_EQ(args.call(bi_galloc, {0, 64, 32, 24}), 1u);
  ASSERT_EQ(args.call(bi_galloc, {0, 16, 8, 32}), 1u);
  ASSERT_NE(plane(0), nullptr);
  EXPECT_EQ(plane(0)->width, 16);
  EXPECT_EQ(plane(0)->bits, 32);
  EXPECT_EQ(plane(0)->pitch, 64u);
  EXPECT_EQ(plane(0)->clip.right, 16);
}

TEST_F(PlanesTest, GallocAddressFormTakesTheHighestFreeSlotAndFailsWhenAllAreUsed) {
  ScriptArguments args;
  const vm::Address variable = args.scratch();
  ASSERT_EQ(args.call(bi_galloc, {variable, 4, 4, 8}), 1u);
  std::int32_t slot = 0;
  vm::load(variable, slot);
  EXPECT_EQ(slot, 1023);
  ASSERT_EQ(args.call(bi_galloc, {variable, 4, 4, 8}), 1u);
  vm::load(variable, slot);
  EXPECT_EQ(slot, 1022);
  for (std::uint32_t i = 0; i < 1022; ++i) ASSERT_TRUE(allocate_plane(i, 1, 1, 8));
  EXPECT_EQ(args.call(bi_galloc, {variable, 4, 4, 8}), 0u);
  vm::load(variable, slot);
  EXPECT_EQ(slot, -1);
}

TEST_F(PlanesTest, FailedCreationIsReportedAndLeavesTheSlotEmpty) {
  ScriptArguments args;
  struct Case {
    std::int32_t width, height, bits;
  } cases[] = {{10, 10, 12}, {0, 10, 8}, {10, -1, 8}, {70000, 70000, 32}, {-5, 5, 24}};
  for (const Case& c : cases) {
    ASSERT_TRUE(allocate_plane(7, 2, 2, 8));
    reported().clear();
    EXPECT_EQ(args.call(bi_galloc, {7, std::uint32_t(c.width), std::uint32_t(c.height), std::uint32_t(c.bits)}), 0u);
    EXPECT_EQ(plane(7), nullptr);
    ASSERT_EQ(reported().size(), 1u);
    EXPECT_EQ(reported()[0], platform::cp932("CreatePlane : 仮想画面の作成に失敗しました。"));
  }
}

TEST_F(PlanesTest, GfreeKeepsTheViewAndActivePagesButClearsTheirMasks) {
  ScriptArguments args;
  ASSERT_TRUE(allocate_plane(0, 4, 4, 24));
  ASSERT_TRUE(allocate_plane(3, 4, 4, 24));
  ASSERT_TRUE(allocate_plane(5, 4, 4, 8));
  set_active_page(3);
  ASSERT_EQ(args.call(bi_gattach, {0, 5}), 1u);
  ASSERT_EQ(args.call(bi_gattach, {3, 5}), 1u);
  EXPECT_EQ(attached_plane(0), plane(5));
  EXPECT_EQ(args.call(bi_gfree, {0}), 1u);
  EXPECT_EQ(args.call(bi_gfree, {3}), 1u);
  EXPECT_NE(plane(0), nullptr);
  EXPECT_NE(plane(3), nullptr);
  EXPECT_EQ(attached_plane(0), nullptr);
  EXPECT_EQ(attached_plane(3), nullptr);
  EXPECT_EQ(args.call(bi_gfree, {5}), 1u);
  EXPECT_EQ(plane(5), nullptr);
  EXPECT_EQ(args.call(bi_gfree, {1024}), 0u);
  ASSERT_TRUE(allocate_plane(9, 1, 1, 8));
  EXPECT_EQ(args.call(bi_ginit, {}), 1u);
  EXPECT_EQ(plane(9), nullptr);
  EXPECT_NE(plane(0), nullptr);
  EXPECT_NE(plane(3), nullptr);
}

TEST_F(PlanesTest, AttachmentIsResolvedAtEachUse) {
  ScriptArguments args;
  ASSERT_EQ(args.call(bi_gattach, {2, 6}), 1u);  // the mask need not exist yet
  EXPECT_EQ(attached_plane(2), nullptr);
  ASSERT_TRUE(allocate_plane(6, 3, 3, 8));
  EXPECT_EQ(attached_plane(2), plane(6));
  EXPECT_EQ(args.call(bi_gattach, {2, 1024}), 0u);
  EXPECT_EQ(args.call(bi_gdetach, {2}), 1u);
  EXPECT_EQ(attached_plane(2), nullptr);
  EXPECT_EQ(args.call(bi_gdetach, {5000}), 0u);
}

TEST_F(PlanesTest, GclipNormalisesAndCutsToThePlane) {
  ScriptArguments args;
  ASSERT_TRUE(allocate_plane(1, 20, 10, 32));
  const struct {
    Rect given, clip;
  } cases[] = {{{15, 8, 5, 2}, {5, 2, 15, 8}}, {{-4, -3, 30, 40}, {0, 0, 20, 10}}, {{25, 12, 30, 14}, {25, 12, 25, 12}}};
  for (const auto& c : cases) {
    ASSERT_EQ(args.call(bi_gclip, {1, put_rect(args.scratch(), c.given)}), 1u);
    const Rect r = plane(1)->clip;
    EXPECT_EQ(std::make_tuple(r.left, r.top, r.right, r.bottom), std::make_tuple(c.clip.left, c.clip.top, c.clip.right, c.clip.bottom));
  }
  ASSERT_EQ(args.call(bi_gclip, {1, 0}), 1u);
  EXPECT_EQ(plane(1)->clip.right, 20);
  EXPECT_EQ(args.call(bi_gclip, {2, 0}), 0u);
}

TEST_F(PlanesTest, GinfoDescribesThePlaneAndZerosForAnEmptySlot) {
  ScriptArguments args;
  const vm::Address out = args.scratch();
  std::uint32_t info[6];
  ASSERT_TRUE(allocate_plane(4, 5, 3, 8));
  const Plane& p = *plane(4);
  ASSERT_EQ(args.call(bi_ginfo, {4, out}), 1u);
  std::memcpy(info, vm::host_pointer(out), sizeof info);
  EXPECT_EQ(info[0], 5u);
  EXPECT_EQ(info[1], 3u);
  EXPECT_EQ(info[2], 8u);
  EXPECT_EQ(info[3], p.pixels + 2 * 8);  // pitch 8: the top row is the last one in memory
  EXPECT_EQ(static_cast<std::int32_t>(info[4]), -8);
  EXPECT_EQ(vm::host_pointer(info[5]), colour_table(p));
  std::memset(vm::host_pointer(out), 0xAB, sizeof info);
  ASSERT_EQ(args.call(bi_ginfo, {77, out}), 1u);
  std::memcpy(info, vm::host_pointer(out), sizeof info);
  for (std::uint32_t v : info) EXPECT_EQ(v, 0u);
  EXPECT_EQ(args.call(bi_ginfo, {4, 0}), 1u);
  EXPECT_EQ(args.call(bi_ginfo, {4, 12}), 1u);  // an out pointer in the null guard writes nothing
}

TEST_F(PlanesTest, GetpixelReadsEveryDepth) {
  ScriptArguments args;
  ASSERT_TRUE(allocate_plane(1, 8, 1, 1));
  *bytes(*plane(1)) = 0xA5;  // 1010 0101
  const std::uint32_t bits_7_to_0[] = {1, 0, 1, 0, 0, 1, 0, 1};
  for (std::uint32_t x = 0; x < 8; ++x) EXPECT_EQ(args.call(bi_getpixel, {1, x, 0}), bits_7_to_0[x] ? 0xFFFFFFu : 0u) << x;
  ASSERT_TRUE(allocate_plane(2, 2, 1, 4));
  *bytes(*plane(2)) = 0x4C;  // even x: entry 4, odd x: entry 12
  const std::uint8_t* t = colour_table(*plane(2));
  auto entry = [&](int i) { return std::uint32_t(t[4 * i + 2]) << 16 | std::uint32_t(t[4 * i + 1]) << 8 | t[4 * i]; };
  EXPECT_EQ(args.call(bi_getpixel, {2, 0, 0}), entry(4));
  EXPECT_EQ(args.call(bi_getpixel, {2, 1, 0}), entry(12));
  ASSERT_TRUE(allocate_plane(3, 2, 1, 16));
  bytes(*plane(3))[0] = 0xFF, bytes(*plane(3))[1] = 0x7F;
  bytes(*plane(3))[2] = 0x21, bytes(*plane(3))[3] = 0x04;
  EXPECT_EQ(args.call(bi_getpixel, {3, 0, 0}), 0xFFFFFFu);
  EXPECT_EQ(args.call(bi_getpixel, {3, 1, 0}), 0x080808u);
  ASSERT_TRUE(allocate_plane(4, 2, 2, 32));
  std::uint8_t* top = row_address(*plane(4), 0);
  top[4] = 1, top[5] = 2, top[6] = 3, top[7] = 0x99;
  EXPECT_EQ(args.call(bi_getpixel, {4, 1, 0}), 0x030201u);
  EXPECT_EQ(args.call(bi_getpixel, {4, 2, 0}), 0u);
  EXPECT_EQ(args.call(bi_getpixel, {4, 0xFFFFFFFFu, 0}), 0u);
  EXPECT_EQ(args.call(bi_getpixel, {900, 0, 0}), 0u);
}

TEST_F(PlanesTest, DefaultColourTables) {
  ASSERT_TRUE(allocate_plane(1, 1, 1, 8));
  ASSERT_TRUE(allocate_plane(2, 1, 1, 4));
  ASSERT_TRUE(allocate_plane(3, 1, 1, 1));
  const std::uint8_t* t8 = colour_table(*plane(1));
  EXPECT_EQ(t8[4 * 0xFF + 2], 255);
  EXPECT_EQ(t8[4 * 0x25 + 2], 36);   // red 1 of 7
  EXPECT_EQ(t8[4 * 0x25 + 1], 36);   // green 1 of 7
  EXPECT_EQ(t8[4 * 0x25 + 0], 85);   // blue 1 of 3
  const std::uint8_t* t4 = colour_table(*plane(2));
  EXPECT_EQ(t4[4 * 4 + 2], 127);  // (1 * 255) >> 1
  EXPECT_EQ(t4[4 * 12 + 2], 126);  // (3 * 255) >> 1 = 382, kept to its low 8 bits
  const std::uint8_t* t1 = colour_table(*plane(3));
  EXPECT_EQ(t1[4 + 0], 255);
  EXPECT_EQ(t1[0], 0);
}

TEST(PixelTables, FollowTheirFormulas) {
  const PixelTables& t = pixel_tables();
  EXPECT_EQ(t.multiply[255][255], 255);
  EXPECT_EQ(t.multiply[128][255], 128);
  EXPECT_EQ(t.multiply[100][100], 39);
  EXPECT_EQ(t.weight[77][0], 255);
  EXPECT_EQ(t.weight[255][200], 255);
  EXPECT_EQ(t.weight[0][10], 0);
  EXPECT_EQ(t.weight[128][255], static_cast<int>(255.0 * (128 / 255.0) / (128 / 255.0 + 1.0 * (1 - 128 / 255.0))));
  EXPECT_EQ(t.screen[0][0], 0);
  EXPECT_EQ(t.screen[128][128], 255 - 127 * 127 / 255);
  struct Op {
    int op, s, d, value;
  } ops[] = {{0, 10, 20, 10},  {1, 200, 100, 255}, {2, 30, 20, 0},     {3, 255, 77, 77},  {4, 0, 9, 255},
             {4, 100, 50, 127}, {5, 0, 40, 40},    {6, 200, 100, 156}, {8, 100, 200, 156}, {9, 200, 100, 255},
             {9, 0, 0, 0},      {10, 0, 255, 255}, {10, 10, 10, 0},    {11, 3, 9, 9},     {12, 3, 9, 3},
             {13, 0xF0, 0x3C, 0xCC}};
  for (const Op& o : ops) EXPECT_EQ(blend_table(o.op)[o.s][o.d], o.value) << "operation " << o.op;
  // Soft light, one case for each of its three branches.
  EXPECT_EQ(blend_table(7)[0][128], 64);
  EXPECT_EQ(blend_table(7)[255][20], 63);
  EXPECT_EQ(blend_table(7)[255][200], 225);
  EXPECT_EQ(t.sine[0], 0);
  EXPECT_EQ(t.sine[512], 65536);
  EXPECT_EQ(t.sine[1024 + 512], -65536);
  for (int i = 2048; i < kSineEntries; ++i) ASSERT_EQ(t.sine[i], t.sine[i - 2048]);
  EXPECT_EQ(t.sine[256], static_cast<std::int32_t>(std::sin(std::acos(-1.0) / 4) * 65536));
  EXPECT_EQ(t.expand5[31], 255);
  EXPECT_EQ(t.expand5[1], 8);
  EXPECT_EQ(t.rgb555[0x7C00], 0xFF0000u);
  EXPECT_EQ(t.rgb555[0x0421], 0x080808u);
}

TEST_F(PlanesTest, InverseMapHoldsANearestEntryForEveryCell) {
  std::mt19937 rng(3);
  std::uint32_t colours[256];
  for (auto& c : colours) c = rng() & 0xFFFFFF;
  ScriptArguments args;
  const vm::Address table = args.scratch();
  std::memcpy(vm::host_pointer(table), colours, sizeof colours);
  ASSERT_EQ(args.call(bi_pal_map, {table}), 1u);
  EXPECT_EQ(args.call(bi_pal_map, {0}), 0u);
  std::uint8_t entries[1024];
  for (int i = 0; i < 256; ++i) {
    entries[4 * i] = colours[i] & 255, entries[4 * i + 1] = (colours[i] >> 8) & 255, entries[4 * i + 2] = colours[i] >> 16;
    entries[4 * i + 3] = 0;
  }
  auto distance = [&](int i, int r, int g, int b) {
    const int dr = (entries[4 * i + 2] >> 2) - (r >> 2), dg = (entries[4 * i + 1] >> 2) - (g >> 2), db = (entries[4 * i] >> 2) - (b >> 2);
    return 900 * dr * dr + 3481 * dg * dg + 121 * db * db;
  };
  for (int key = 0; key < 32768; key += 7) {
    const int r = (key >> 10) << 3 | (key >> 12), g = ((key >> 5) & 31) << 3 | ((key >> 7) & 7), b = (key & 31) << 3 | ((key >> 2) & 7);
    int best = 1 << 30;
    for (int i = 0; i < 256; ++i) best = std::min(best, distance(i, r, g, b));
    const int chosen = inverse_map()[key];
    // A seeded cell holds an entry whose own colour lies in it; any other cell the nearest entry.
    const bool seeded = inverse_key(colours[chosen]) == key;
    EXPECT_TRUE(seeded || distance(chosen, r, g, b) == best) << key;
  }
  EXPECT_EQ(nearest_entry(entries, colours[77] >> 16, (colours[77] >> 8) & 255, colours[77] & 255) <= 77, true);
}

// The map is built by a search taken apart for speed; it must hold exactly what the plain search
// gives: the seeding entry where an entry's own colour lies in the cell, else the first nearest
// entry. Palettes: random, the 3-3-2 cube, and one full of repeated colours where ties decide.
TEST_F(PlanesTest, InverseMapEqualsThePlainSearchInEveryCell) {
  std::mt19937 rng(11);
  std::vector<std::array<std::uint32_t, 256>> palettes(3);
  for (auto& c : palettes[0]) c = rng() & 0xFFFFFF;
  for (int i = 0; i < 256; ++i) palettes[1][i] = cube_332_colour(i);
  for (auto& c : palettes[2]) c = (rng() % 6) * 0x333333u;
  for (const auto& colours : palettes) {
    build_inverse_map(colours.data());
    std::uint8_t entries[1024];
    for (int i = 0; i < 256; ++i) {
      entries[4 * i] = colours[i] & 255, entries[4 * i + 1] = (colours[i] >> 8) & 255;
      entries[4 * i + 2] = colours[i] >> 16, entries[4 * i + 3] = 0;
    }
    int seed[32768];
    std::fill(std::begin(seed), std::end(seed), -1);
    for (int i = 255; i >= 0; --i) seed[inverse_key(colours[i])] = i;
    int differing = 0;
    for (int key = 0; key < 32768; ++key) {
      const int r5 = key >> 10, g5 = (key >> 5) & 31, b5 = key & 31;
      const int expected =
          seed[key] >= 0 ? seed[key] : nearest_entry(entries, r5 << 3 | r5 >> 2, g5 << 3 | g5 >> 2, b5 << 3 | b5 >> 2);
      if (inverse_map()[key] != expected && differing++ < 5) ADD_FAILURE() << "cell " << key;
    }
    EXPECT_EQ(differing, 0);
  }
  reset_palettes();
}

TEST_F(PlanesTest, ColourConversionForEachDepth) {
  set_screen_palette_entry(7, 0x123456);
  EXPECT_EQ(colour_rgb(0x01000007), 0x123456u);
  EXPECT_EQ(colour_rgb(0x00ABCDEF), 0xABCDEFu);
  EXPECT_EQ(colour_index(0x01000007), 7);
  EXPECT_EQ(colour_index(0x00FF0000), 0xE0);  // pure red in the 3-3-2 cube
  EXPECT_EQ(colour_index(0x00FFFFFF), 0xFF);
}

}  // namespace
}  // namespace talven::graphics::test
