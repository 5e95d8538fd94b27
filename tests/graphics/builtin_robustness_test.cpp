// Random arguments thrown at every built-in of the plane engine: whatever a script passes, nothing
// is read or written outside a plane (the sanitizer build turns any stray access into a failure).
#include "graphics/graphics_test_support.h"
#include "graphics/sprites.h"
#include "graphics/text.h"
#include "shell/configuration.h"

namespace talven::graphics::test {
namespace {

using BuiltinRobustnessTest = GraphicsTest;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 4000;
#else
constexpr int kRounds = 20000;
#endif

TEST_F(BuiltinRobustnessTest, RandomArgumentsStayInsideThePlanes) {
  // Failed allocations are expected here by the thousand: keep their boxes quiet.
  struct QuietErrors {
    std::int32_t saved = shell::config().error;
    QuietErrors() { shell::config().error = 0; }
    ~QuietErrors() { shell::config().error = saved; }
  } quiet;
  std::mt19937 engine(99);
  auto rng = [&]() { return static_cast<std::uint32_t>(engine()); };
  ScriptArguments args;
  auto pick = [&](std::initializer_list<std::uint32_t> values) {
    return *(values.begin() + std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(engine));
  };
  // Planes of every depth in slots 0..7, masks attached, clips set.
  const int depths[] = {1, 4, 8, 16, 24, 32, 8, 32};
  auto reset_planes = [&] {
    for (std::uint32_t i = 0; i < 8; ++i) {
      ASSERT_TRUE(allocate_plane(i, 1 + rng() % 40, 1 + rng() % 30, depths[i]));
      randomise(*plane(i), engine);
    }
  };
  reset_planes();
  auto coordinate = [&]() -> std::uint32_t {
    return pick({rng() % 50, std::uint32_t(-std::int32_t(rng() % 50)), 0x7FFFFFFFu, 0x80000000u, rng(), 0xFFFFFFFFu, 1000});
  };
  auto number = [&]() -> std::uint32_t { return pick({rng() % 9, rng() % 9, 1023, 1024, rng()}); };
  auto record = [&](std::uint32_t offset) -> vm::Address {
    const vm::Address a = args.scratch(offset);
    for (int i = 0; i < 4; ++i) vm::store(a + 4 * i, coordinate());
    return pick({a, a, a, 0, 12, 0xFFFFFFF0u});
  };
  auto mode_record = [&](std::uint32_t offset) -> vm::Address {
    const vm::Address a = args.scratch(offset);
    const std::uint32_t words[3] = {pick({rng() % 13, rng() % 16, rng()}) | (rng() & 0xFFFFFF00u), rng(), rng()};
    for (int i = 0; i < 3; ++i) vm::store(a + 4 * i, words[i]);
    return pick({a, a, a, a, 0, 8});
  };
  int successes = 0;
  std::vector<std::uint32_t> sprites, regions;
  sprites_start(true);
  for (int round = 0; round < kRounds; ++round) {
    if (round % 500 == 499) reset_planes();
    std::uint32_t r = 0;
    // Sprites: records handed out so far, and sometimes an address that is none.
    auto sprite = [&]() -> std::uint32_t {
      return pick({sprites.empty() ? 0u : sprites[rng() % sprites.size()], 0u, rng(), sprites.empty() ? 12u : sprites[0] + 4});
    };
    auto region = [&]() -> std::uint32_t {
      return pick({regions.empty() ? 0u : regions[rng() % regions.size()], 0u, rng()});
    };
    switch (rng() % 34) {
      case 0: r = args.call(bi_gcopy, {number(), coordinate(), coordinate(), number(), record(0), mode_record(64)}); break;
      case 1: r = args.call(bi_gblit, {number(), record(0), number(), record(32), mode_record(64), coordinate()}); break;
      case 2: r = args.call(bi_gblita, {number(), record(0), number(), record(32), mode_record(64), coordinate()}); break;
      case 3: r = args.call(bi_gclear, {number(), record(0), rng()}); break;
      case 4: r = args.call(bi_gfill, {number(), coordinate(), coordinate(), coordinate(), coordinate(), rng()}); break;
      case 5: r = args.call(bi_gline, {number(), coordinate(), coordinate(), coordinate(), coordinate(), rng()}); break;
      case 6: {
        const vm::Address points = args.scratch(128);
        for (int i = 0; i < 64; ++i) vm::store(points + 4 * i, coordinate());
        r = args.call(bi_gpoly, {number(), pick({points, 0, 0xFFFFFFF8u}), pick({rng() % 33, rng(), 0xFFFFFFFFu}), rng()});
        break;
      }
      case 7: r = args.call(bi_gclip, {number(), record(0)}); break;
      case 8: r = args.call(bi_gattach, {number(), number()}); break;
      case 9: r = args.call(bi_gdetach, {number()}); break;
      case 10: r = args.call(bi_ginfo, {number(), pick({args.scratch(0), 0, 0xFFFFFFF0u, 4})}); break;
      case 11: r = args.call(bi_getpixel, {number(), coordinate(), coordinate()}); break;
      case 12: r = args.call(bi_drt_set, {record(0)}); break;
      case 13: r = args.call(bi_drt_copy, {number(), coordinate(), coordinate(), number(), record(32)}); break;
      case 14: r = args.call(bi_drt_init, {}); break;
      case 15: {
        const std::uint32_t n = pick({rng() % 9, 1023});
        // Small, empty, negative, or so large that no plane can hold it (never a slow giant).
        const std::uint32_t shape = rng() % 4;
        const std::uint32_t w = shape == 0 ? 0x7FFFFFFFu : shape == 1 ? 0xFFFFFFFFu - rng() % 9 : rng() % 50;
        const std::uint32_t h = shape == 0 ? 0x7FFFFFFFu : rng() % 50;
        r = args.call(bi_galloc, {n, w, h, pick({8, 16, 24, 32, 1, 4, 7, rng()})});
        if (n < 8 && plane(n) == nullptr) {
          ASSERT_TRUE(allocate_plane(n, 3, 3, 8));
        }
        break;
      }
      case 17: sprites.push_back(args.call(bi_sp_set, {pick({rng() % 33, rng()}), rng() % 3, coordinate(), coordinate(), number(), record(0), mode_record(64)})); break;
      case 18: r = args.call(bi_sp_reset, {sprite()}); break;
      case 19: r = args.call(bi_sp_link, {sprite(), sprite()}); break;
      case 20: r = args.call(bi_sp_unlink, {sprite()}); break;
      case 21: r = args.call(bi_sp_draw, {rng(), pick({args.scratch(0), 0u, 0xFFFFFFF8u})}); break;
      case 22: r = args.call(bi_sp_rect, {sprite(), pick({args.scratch(0), 0u, 8u})}); break;
      case 23: r = args.call(bi_sp_sort, {rng(), rng()}); break;
      case 24: r = args.call(bi_sp_setbg, {number()}); break;
      case 25: r = args.call(bi_sp_org, {rng(), coordinate(), coordinate()}) + args.call(bi_sp_bgorg, {coordinate(), coordinate()}); break;
      case 26: r = args.call(bi_sp_redraw, {rng()}) + args.call(bi_sp_flag, {rng()}); break;
      case 27: regions.push_back(args.call(bi_hit_set, {pick({rng() % 33, rng()}), rng(), sprite(), record(0), rng()})); break;
      case 28: r = args.call(bi_hit_check, {region()}) + args.call(bi_hit_reset, {region()}); break;
      case 29: r = args.call(bi_hit_rect, {record(0), rng()}) + args.call(bi_hit_point, {coordinate(), coordinate(), rng()}); break;
      case 30:
        if (rng() % 50 == 0) {
          r = args.call(bi_sp_init, {pick({0xFFFFFFFFu, rng()})}) + args.call(bi_hit_init, {rng()});
          sprites.clear();
          regions.clear();
        } else if (!sprites.empty()) {
          // A script writing into a record it was given.
          vm::store<std::uint32_t>(sprites[rng() % sprites.size()] + 4 * (rng() % 36), pick({rng(), rng() % 9, 0x10000}));
        }
        break;
      case 31: {
        // A font record of random words: any face bytes, sizes from nothing to absurd (the absurd
        // ones rarely, as drawing a glyph thousands of pixels high is slow, not unsafe).
        const vm::Address font = args.scratch(128);
        for (int i = 0; i < 8; ++i) vm::store(font + 4 * i, rng());
        const std::uint32_t size = rng() % 50 == 0 ? 100000u : pick({rng() % 40, 0u, 0xFFFFFFFFu, rng() % 200});
        vm::store(font + 32, size);
        vm::store(font + 36, rng());
        vm::store(font + 40, rng());
        vm::store(font + 44, rng());
        r = args.call(bi_font_set, {pick({rng() % 33, rng()}), pick({font, font, 0u, 0xFFFFFFF0u})});
        r += args.call(bi_font_use, {pick({rng() % 33, rng()})});
        if (rng() % 8 == 0) r += args.call(bi_font_get, {rng() % 33, pick({font, 0u, 0xFFFFFFF8u})});
        if (rng() % 8 == 0) r += args.call(bi_font_abc, {rng() % 33, rng() % 140, pick({font, 0u, 0xFFFFFFF8u})});
        if (rng() % 8 == 0) r += args.call(bi_font_kern, {rng() % 33, rng() % 17000, pick({font, 0u, 0xFFFFFFFEu})});
        break;
      }
      case 32:
      case 33: {
        // Random text, or a format of random directives with random words after it.
        static const char* const kPieces[] = {"%d", "%s", "%x", "%c", "%f", "%5.2f", "%-12s", "%%", "%08X", "%u",
                                              "%.3s", "%*d", "%", "%ls", "%n", "abc", "\x82\xA0", " ", "%e", "%g"};
        std::string text;
        const int pieces = static_cast<int>(rng() % 12);
        for (int i = 0; i < pieces; ++i) text += kPieces[rng() % std::size(kPieces)];
        if (rng() % 4 == 0) text += static_cast<char>(0x81 + rng() % 30);  // a lead byte at the end
        const vm::Address t = args.scratch(512);
        vm::store_string(t, text, 400);
        const std::uint32_t where = pick({t, t, t, 0u, 0xFFFFFFFFu, 12u});
        if (rng() % 2 == 0) {
          r = args.call(bi_gtext, {number(), coordinate(), coordinate(), rng(), where});
        } else {
          r = args.call(bi_gtextf, {number(), coordinate(), coordinate(), rng(), where, rng(), args.scratch(0), rng(),
                                    pick({t, 0xFFFFFFF0u, 8u}), rng(), rng(), rng()});
        }
        break;
      }
      default:  // building the map takes milliseconds: a valid palette only now and then
        r = args.call(bi_pal_map, {rng() % 20 == 0 ? args.scratch(0) : pick({0u, 0xFFFFFF00u, 8u})});
        break;
    }
    successes += r != 0;
  }
  sprites_stop();
  reset_fonts();
  EXPECT_GT(successes, kRounds / 10);
}

}  // namespace
}  // namespace talven::graphics::test
