// One sp_draw frame of N moving 32x32 alpha sprites (BLIT_ALPHA) over a 1280x720 32-bit background,
// half of them scaled or turned, side by side in the same run with SDL2's software renderer drawing
// the same sprites (SDL_CreateSoftwareRenderer, SDL_RenderCopyEx with blending). Frames per second
// and the ratio are printed at the end, with where the engine's frame time goes.
// Run: bench_sprites [--benchmark_min_time=1]
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "graphics/planes.h"
#include "graphics/sprites.h"
#include "vm/call_gate.h"

namespace {

using namespace talven;
using namespace talven::graphics;

constexpr int kW = 1280, kH = 720, kSize = 32;
enum Slot : std::uint32_t { kPage = 0, kBackground = 1, kPicture = 2 };

struct Mover {
  float x, y, vx, vy;
  std::uint32_t scale;  // 16.16
  std::uint16_t angle, spin;
};

std::vector<Mover> movers(int count) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> px(0, kW), py(0, kH), v(-3, 3);
  std::vector<Mover> m(count);
  for (int i = 0; i < count; ++i) {
    // Every other sprite is transformed: scaled, turned, or both.
    const bool transformed = i % 2 == 1;
    m[i] = {px(rng), py(rng), v(rng), v(rng), transformed && i % 4 != 3 ? 0x18000u : 0x10000u,
            static_cast<std::uint16_t>(transformed && i % 4 != 1 ? rng() % 2048 : 0),
            static_cast<std::uint16_t>(transformed && i % 4 != 1 ? 1 + rng() % 9 : 0)};
  }
  return m;
}

void step(Mover& m) {
  m.x += m.vx;
  m.y += m.vy;
  if (m.x < 0 || m.x >= kW) m.vx = -m.vx;
  if (m.y < 0 || m.y >= kH) m.vy = -m.vy;
  m.angle = static_cast<std::uint16_t>((m.angle + m.spin) & 2047);
}

void setup_planes() {
  static bool done = false;
  if (done) return;
  done = true;
  reset_graphics_state();
  allocate_plane(kPage, kW, kH, 32);
  allocate_plane(kBackground, kW, kH, 32);
  allocate_plane(kPicture, kSize, kSize, 32);
  std::mt19937 rng(42);
  std::uint8_t* bg = vm::host_pointer(plane(kBackground)->pixels);
  for (std::size_t i = 0; i < std::size_t(kW) * kH * 4; ++i) bg[i] = (i % 4 == 3) ? 255 : static_cast<std::uint8_t>(rng());
  // A round ball: opaque inside, soft at the edge, transparent outside.
  Plane& ball = *plane(kPicture);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const float d = std::hypot(x - 15.5f, y - 15.5f);
      const int a = d < 13 ? 255 : d < 16 ? int((16 - d) / 3 * 255) : 0;
      std::uint8_t* px = row_address(ball, y) + 4 * x;
      px[0] = static_cast<std::uint8_t>(40 + 6 * x), px[1] = static_cast<std::uint8_t>(200 - 5 * y), px[2] = 220;
      px[3] = static_cast<std::uint8_t>(a);
    }
}

// Calls a built-in with its argument words laid out in script memory, as a script's call would.
std::uint32_t call(std::uint32_t (*handler)(vm::Address), std::initializer_list<std::uint32_t> words) {
  static const vm::Address block = vm::script_alloc_zeroed(256);
  vm::Address a = block;
  for (std::uint32_t w : words) vm::store(a, w), a += 4;
  return handler(block);
}

SpriteFrameTimes g_engine_times;

void engine_frames(benchmark::State& state, bool threads, bool smoothing) {
  setup_planes();
  set_multi_threading(threads);
  sprites_start(smoothing);
  const vm::Address mode = vm::script_alloc_zeroed(12);
  vm::store<std::uint8_t>(mode, 5);        // BLIT_ALPHA
  vm::store<std::uint8_t>(mode + 2, 255);  // opacity
  call(bi_sp_setbg, {kBackground});
  std::vector<Mover> m = movers(static_cast<int>(state.range(0)));
  std::vector<vm::Address> records;
  for (const Mover& v : m) {
    const vm::Address s = call(bi_sp_set, {0, 2, std::uint32_t(v.x), std::uint32_t(v.y), kPicture, 0, mode});
    vm::store<std::uint32_t>(s + kSpriteScaleX, v.scale);
    vm::store<std::uint32_t>(s + kSpriteScaleY, v.scale);
    vm::store<std::uint16_t>(s + kSpriteAngle, v.angle);
    vm::store<std::int32_t>(s + kSpritePivotX, kSize / 2);
    vm::store<std::int32_t>(s + kSpritePivotY, kSize / 2);
    records.push_back(s);
  }
  call(bi_sp_draw, {1, 0});
  SpriteFrameTimes total;
  for (auto _ : state) {
    for (std::size_t i = 0; i < m.size(); ++i) {
      step(m[i]);
      const vm::Address s = records[i];
      vm::store<std::int32_t>(s + kSpriteX, static_cast<std::int32_t>(m[i].x));
      vm::store<std::int32_t>(s + kSpriteY, static_cast<std::int32_t>(m[i].y));
      vm::store<std::uint16_t>(s + kSpriteAngle, m[i].angle);
      std::uint16_t flags;
      vm::load(s + kSpriteFlags, flags);
      vm::store<std::uint16_t>(s + kSpriteFlags, flags | kSpriteChanged);
    }
    call(bi_sp_draw, {1, 0});
    const SpriteFrameTimes t = last_sprite_frame_times();
    total.prepare += t.prepare, total.background += t.background, total.drawing += t.drawing;
  }
  const double n = double(state.iterations());
  g_engine_times = {total.prepare / n, total.background / n, total.drawing / n};
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  sprites_stop();
  vm::script_free(mode);
}

// SDL draws with its own filter: nearest, or linear (smoothed rotation and scaling) as the
// engine's Smoothing does, so each of the engine's two ways is timed against SDL's same way.
void sdl_frames(benchmark::State& state, bool linear) {
  setup_planes();
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, kW, kH, 32, SDL_PIXELFORMAT_ARGB8888);
  SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(target);
  const Plane& bg = *plane(kBackground);
  const Plane& ball = *plane(kPicture);
  // Planes are stored bottom-up: SDL gets the top row and a negative pitch would not do, so copies.
  auto texture_of = [&](const Plane& p, bool blend) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, p.width, p.height, 32, SDL_PIXELFORMAT_ARGB8888);
    for (int y = 0; y < p.height; ++y)
      std::memcpy(static_cast<std::uint8_t*>(s->pixels) + y * s->pitch, row_address(p, y), std::size_t(p.width) * 4);
    SDL_Texture* t = SDL_CreateTextureFromSurface(renderer, s);
    SDL_SetTextureBlendMode(t, blend ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(t, linear ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    SDL_FreeSurface(s);
    return t;
  };
  SDL_Texture* background = texture_of(bg, false);
  SDL_Texture* sprite = texture_of(ball, true);
  std::vector<Mover> m = movers(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SDL_RenderCopy(renderer, background, nullptr, nullptr);
    for (Mover& v : m) {
      step(v);
      const int size = int(kSize * (v.scale / 65536.0));
      const SDL_Rect d{int(v.x) - size / 2, int(v.y) - size / 2, size, size};
      SDL_RenderCopyEx(renderer, sprite, nullptr, &d, v.angle * 360.0 / 2048.0, nullptr, SDL_FLIP_NONE);
    }
    SDL_RenderPresent(renderer);
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  SDL_DestroyTexture(sprite);
  SDL_DestroyTexture(background);
  SDL_DestroyRenderer(renderer);
  SDL_FreeSurface(target);
}

// Keeps each benchmark's frame rate so the ratios can be printed after the run.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> fps;
  std::map<std::string, SpriteFrameTimes> phases;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("fps");
      if (it != r.counters.end()) fps[r.benchmark_name()] = it->second;
      if (r.benchmark_name().rfind("sp_draw", 0) == 0) phases[r.benchmark_name()] = g_engine_times;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  for (int n : {1000, 10000}) {
    benchmark::RegisterBenchmark(("sp_draw MT/" + std::to_string(n)).c_str(), [](benchmark::State& s) { engine_frames(s, true, true); })->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("sp_draw 1 thread/" + std::to_string(n)).c_str(), [](benchmark::State& s) { engine_frames(s, false, true); })->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("sp_draw MT nearest/" + std::to_string(n)).c_str(), [](benchmark::State& s) { engine_frames(s, true, false); })->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("SDL software renderer linear/" + std::to_string(n)).c_str(), [](benchmark::State& s) { sdl_frames(s, true); })->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("SDL software renderer nearest/" + std::to_string(n)).c_str(), [](benchmark::State& s) { sdl_frames(s, false); })->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nFrames per second (ratio to SDL's software renderer with the same filter):\n");
  struct Pair {
    const char* ours;
    const char* sdl;
  };
  const Pair pairs[] = {{"sp_draw MT", "SDL software renderer linear"},
                        {"sp_draw 1 thread", "SDL software renderer linear"},
                        {"sp_draw MT nearest", "SDL software renderer nearest"}};
  for (int n : {1000, 10000}) {
    const std::string suffix = "/" + std::to_string(n) + "/" + std::to_string(n) + "/real_time";
    for (const Pair& p : pairs) {
      const std::string name = std::string(p.ours) + suffix;
      const double sdl = reporter.fps[std::string(p.sdl) + suffix];
      if (!reporter.fps.count(name) || sdl == 0) continue;
      const SpriteFrameTimes t = reporter.phases[name];
      std::printf("  %6d sprites  %-20s %7.1f fps   SDL %-8s %7.1f fps   ratio %.2f   (prepare %.2f ms, background pieces %.2f ms, copy and blits %.2f ms)\n",
                  n, p.ours, reporter.fps[name], std::strstr(p.sdl, "linear") ? "linear" : "nearest", sdl,
                  reporter.fps[name] / sdl, t.prepare * 1e3, t.background * 1e3, t.drawing * 1e3);
    }
  }
  return 0;
}
