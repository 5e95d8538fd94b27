// Pixel throughput of the plane engine on 1280x720 planes, side by side with pixman and SDL2 doing
// the nearest equivalent work in the same run, and memcpy of the frame as the bandwidth limit.
// Rates are megapixels of destination per second; at the end the ratios are printed.
// Run: bench_blit [--benchmark_min_time=0.3]
#include <SDL.h>
#include <benchmark/benchmark.h>
#ifdef TALVEN_HAVE_PIXMAN
#include <pixman.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "graphics/palette.h"
#include "graphics/pixel_tables.h"
#include "graphics/planes.h"

namespace {

using namespace talven;
using namespace talven::graphics;

constexpr int kW = 1280, kH = 720;
constexpr std::int64_t kFrame = std::int64_t(kW) * kH;
enum Slot : std::uint32_t { kDst = 1, kSrc = 2, kHalf = 3, kDst24 = 4, kSrc24 = 5, kDstVaried = 6, kVaried = 7 };

void fill_random(Plane& p, bool varied_alpha) {
  std::mt19937 rng(42);
  std::uint8_t* q = vm::host_pointer(p.pixels);
  for (std::size_t i = 0; i < std::size_t(p.pitch) * p.height; ++i) q[i] = static_cast<std::uint8_t>(rng());
  if (p.bits == 32 && !varied_alpha)
    for (std::size_t i = 3; i < std::size_t(p.pitch) * p.height; i += 4) q[i] = 255;
}

void setup() {
  static bool done = false;
  if (done) return;
  done = true;
  build_pixel_tables();
  reset_palettes();
  allocate_plane(kDst, kW, kH, 32);
  allocate_plane(kSrc, kW, kH, 32);
  allocate_plane(kHalf, kW / 2, kH / 2, 32);
  allocate_plane(kDst24, kW, kH, 24);
  allocate_plane(kSrc24, kW, kH, 24);
  allocate_plane(kDstVaried, kW, kH, 32);
  allocate_plane(kVaried, kW, kH, 32);
  fill_random(*plane(kDst), false);
  fill_random(*plane(kSrc), true);
  fill_random(*plane(kHalf), true);
  fill_random(*plane(kDst24), false);
  fill_random(*plane(kSrc24), false);
  fill_random(*plane(kVaried), true);
}

void finish(benchmark::State& state, std::int64_t pixels_per_iteration) {
  state.SetItemsProcessed(state.iterations() * pixels_per_iteration);
}

BlitMode mode_of(int mode, int opacity) {
  BlitMode m;
  m.mode = static_cast<std::uint8_t>(mode);
  m.opacity = static_cast<std::uint8_t>(opacity);
  return m;
}

// ---- the engine -----------------------------------------------------------------------------

void Talven_gcopy(benchmark::State& state, int mode, int opacity, bool threads, std::uint32_t src, std::uint32_t dst) {
  setup();
  set_multi_threading(threads);
  const BlitMode m = mode_of(mode, opacity);
  for (auto _ : state) copy_blit(dst, 0, 0, src, nullptr, &m);
  finish(state, kFrame);
}

// The composite onto a destination whose alpha varies (each pass makes it more opaque, so the
// destination is restored, untimed, before every pass).
void Talven_gcopy_varied(benchmark::State& state) {
  setup();
  set_multi_threading(false);
  const BlitMode m = mode_of(5, 255);
  const std::size_t bytes = std::size_t(kFrame) * 4;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(vm::host_pointer(plane(kDstVaried)->pixels), vm::host_pointer(plane(kVaried)->pixels), bytes);
    state.ResumeTiming();
    copy_blit(kDstVaried, 0, 0, kSrc, nullptr, &m);
  }
  finish(state, kFrame);
}

// Many small blits (32 x 32 pixels, a frame's worth): the fixed cost of a call shows here.
void Talven_sprites(benchmark::State& state) {
  setup();
  set_multi_threading(false);
  const BlitMode m = mode_of(5, 255);
  for (auto _ : state) {
    for (int y = 0; y < kH; y += 32)
      for (int x = 0; x < kW; x += 32) {
        const Rect from{x, y, x + 32, y + 32};
        copy_blit(kDst, (x * 7) % (kW - 32), y, kSrc, &from, &m);
      }
  }
  finish(state, kFrame);
}

// A plane scrolled onto itself by one pixel: rows run in order (down) or through row copies (right).
void Talven_scroll(benchmark::State& state, int dx, int dy, bool threads) {
  setup();
  set_multi_threading(threads);
  const Rect from{0, 0, kW - dx, kH - dy};
  for (auto _ : state) copy_blit(kDst, dx, dy, kDst, &from, nullptr);
  finish(state, std::int64_t(kW - dx) * (kH - dy));
}

void Talven_stretch(benchmark::State& state, bool threads) {
  setup();
  set_multi_threading(threads);
  const BlitMode m = mode_of(0, 0);
  const Rect to{0, 0, kW, kH};
  for (auto _ : state) stretch_blit(plane(kDst), &to, plane(kHalf), nullptr, nullptr, &m);
  finish(state, kFrame);
}

void Talven_gblita(benchmark::State& state, bool threads) {
  setup();
  set_multi_threading(threads);
  const BlitMode m = mode_of(5, 255);
  const Rect to{0, 0, kW, kH};
  for (auto _ : state) rotated_blit(plane(kDst), &to, plane(kHalf), nullptr, nullptr, &m, 100, true);
  finish(state, kFrame);  // the turned picture's box is larger than the frame, cut to it
}

void Talven_gfill(benchmark::State& state, bool threads) {
  setup();
  set_multi_threading(threads);
  for (auto _ : state) fill_rect(kDst, 0, 0, kW, kH, 0x80336699);
  finish(state, kFrame);
}

void Memcpy_frame(benchmark::State& state) {
  setup();
  for (auto _ : state) {
    std::memcpy(vm::host_pointer(plane(kDst)->pixels), vm::host_pointer(plane(kSrc)->pixels), std::size_t(kFrame) * 4);
    benchmark::ClobberMemory();
  }
  finish(state, kFrame);
}

// ---- SDL2 -----------------------------------------------------------------------------------

SDL_Surface* surface_of(std::uint32_t slot) {
  Plane& p = *plane(slot);
  return SDL_CreateRGBSurfaceWithFormatFrom(vm::host_pointer(p.pixels), p.width, p.height, 32, static_cast<int>(p.pitch),
                                            SDL_PIXELFORMAT_ARGB8888);
}

void SDL_copy(benchmark::State& state, bool blend) {
  setup();
  SDL_Surface* s = surface_of(kSrc);
  SDL_Surface* d = surface_of(kDst);
  SDL_SetSurfaceBlendMode(s, blend ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
  for (auto _ : state) SDL_BlitSurface(s, nullptr, d, nullptr);
  SDL_FreeSurface(s);
  SDL_FreeSurface(d);
  finish(state, kFrame);
}

void SDL_scaled(benchmark::State& state) {
  setup();
  SDL_Surface* s = surface_of(kHalf);
  SDL_Surface* d = surface_of(kDst);
  SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
  for (auto _ : state) SDL_BlitScaled(s, nullptr, d, nullptr);
  SDL_FreeSurface(s);
  SDL_FreeSurface(d);
  finish(state, kFrame);
}

// ---- pixman ---------------------------------------------------------------------------------
#ifdef TALVEN_HAVE_PIXMAN
pixman_image_t* image_of(std::uint32_t slot) {
  Plane& p = *plane(slot);
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, p.width, p.height, reinterpret_cast<std::uint32_t*>(vm::host_pointer(p.pixels)),
                                  static_cast<int>(p.pitch));
}

void Pixman(benchmark::State& state, pixman_op_t op, int constant_alpha) {
  setup();
  pixman_image_t* s = image_of(kSrc);
  pixman_image_t* d = image_of(kDst);
  pixman_image_t* mask = nullptr;
  if (constant_alpha >= 0) {
    const pixman_color_t c{0, 0, 0, static_cast<std::uint16_t>(constant_alpha * 257)};
    mask = pixman_image_create_solid_fill(&c);
  }
  for (auto _ : state) pixman_image_composite32(op, s, mask, d, 0, 0, 0, 0, 0, 0, kW, kH);
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(s);
  pixman_image_unref(d);
  finish(state, kFrame);
}

void Pixman_fill(benchmark::State& state) {
  setup();
  pixman_image_t* d = image_of(kDst);
  const pixman_color_t c{0x3333, 0x6666, 0x9999, 0x8080};
  pixman_image_t* solid = pixman_image_create_solid_fill(&c);
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_OVER, solid, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
  pixman_image_unref(solid);
  pixman_image_unref(d);
  finish(state, kFrame);
}

void Pixman_transformed(benchmark::State& state, bool rotate) {
  setup();
  pixman_image_t* s = image_of(kHalf);
  pixman_image_t* d = image_of(kDst);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
  if (rotate) {
    const double angle = 100.0 * 2 * 3.14159265358979 / 2048;
    pixman_transform_rotate(&t, nullptr, pixman_double_to_fixed(std::cos(angle)), pixman_double_to_fixed(std::sin(angle)));
  }
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, rotate ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  const pixman_op_t op = rotate ? PIXMAN_OP_OVER : PIXMAN_OP_SRC;
  for (auto _ : state) pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
  pixman_image_unref(s);
  pixman_image_unref(d);
  finish(state, kFrame);
}
#endif

void register_all() {
  auto add = [](const char* name, auto fn) { benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->UseRealTime(); };
  add("memcpy frame 32", Memcpy_frame);
  add("gcopy mode 0 32>32", [](benchmark::State& s) { Talven_gcopy(s, 0, 0, false, kSrc, kDst); });
  add("gcopy mode 0 32>32 MT", [](benchmark::State& s) { Talven_gcopy(s, 0, 0, true, kSrc, kDst); });
  add("gcopy mode 0 24>24", [](benchmark::State& s) { Talven_gcopy(s, 0, 0, false, kSrc24, kDst24); });
  add("gcopy mode 5 32>32", [](benchmark::State& s) { Talven_gcopy(s, 5, 255, false, kSrc, kDst); });
  add("gcopy mode 5 32>32 MT", [](benchmark::State& s) { Talven_gcopy(s, 5, 255, true, kSrc, kDst); });
  add("gcopy mode 5 32>32 varied dst alpha", Talven_gcopy_varied);
  add("gcopy mode 5 32x32 sprites", Talven_sprites);
  add("gcopy mode 3 32>32", [](benchmark::State& s) { Talven_gcopy(s, 3, 128, false, kSrc, kDst); });
  add("gcopy mode 3 32>32 MT", [](benchmark::State& s) { Talven_gcopy(s, 3, 128, true, kSrc, kDst); });
  add("gcopy mode 0 32>32 scroll down onto itself", [](benchmark::State& s) { Talven_scroll(s, 0, 1, false); });
  add("gcopy mode 0 32>32 scroll right onto itself", [](benchmark::State& s) { Talven_scroll(s, 1, 0, false); });
  add("gcopy mode 0 32>32 scroll right onto itself MT", [](benchmark::State& s) { Talven_scroll(s, 1, 0, true); });
  add("stretch 640x360>1280x720", [](benchmark::State& s) { Talven_stretch(s, false); });
  add("stretch 640x360>1280x720 MT", [](benchmark::State& s) { Talven_stretch(s, true); });
  add("gblita turned", [](benchmark::State& s) { Talven_gblita(s, false); });
  add("gblita turned MT", [](benchmark::State& s) { Talven_gblita(s, true); });
  add("gfill alpha 32", [](benchmark::State& s) { Talven_gfill(s, false); });
  add("gfill alpha 32 MT", [](benchmark::State& s) { Talven_gfill(s, true); });
  add("SDL_BlitSurface copy", [](benchmark::State& s) { SDL_copy(s, false); });
  add("SDL_BlitSurface blend", [](benchmark::State& s) { SDL_copy(s, true); });
  add("SDL_BlitScaled", SDL_scaled);
#ifdef TALVEN_HAVE_PIXMAN
  add("pixman SRC", [](benchmark::State& s) { Pixman(s, PIXMAN_OP_SRC, -1); });
  add("pixman OVER", [](benchmark::State& s) { Pixman(s, PIXMAN_OP_OVER, -1); });
  add("pixman OVER const alpha", [](benchmark::State& s) { Pixman(s, PIXMAN_OP_OVER, 128); });
  add("pixman scaled nearest SRC", [](benchmark::State& s) { Pixman_transformed(s, false); });
  add("pixman scaled bilinear OVER turned", [](benchmark::State& s) { Pixman_transformed(s, true); });
  add("pixman OVER solid fill", Pixman_fill);
#endif
}

// Keeps each benchmark's rate so the ratios can be printed after the run.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rate;  // megapixels per second
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      std::string name = r.benchmark_name();
      const std::size_t cut = name.find("/real_time");
      if (cut != std::string::npos) name.resize(cut);
      if (it != r.counters.end()) rate[name] = it->second.value / 1e6;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void ratio(const RateReporter& r, const char* ours, const char* peer) {
  const auto a = r.rate.find(ours), b = r.rate.find(peer);
  if (a == r.rate.end() || b == r.rate.end()) return;
  std::printf("  %-30s %8.0f Mpx/s   %-36s %8.0f Mpx/s   ratio %.2f\n", ours, a->second, peer, b->second, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  register_all();
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (ours / peer; above 1 means faster):\n");
  ratio(reporter, "gcopy mode 0 32>32", "memcpy frame 32");
  ratio(reporter, "gcopy mode 0 32>32", "pixman SRC");
  ratio(reporter, "gcopy mode 0 32>32", "SDL_BlitSurface copy");
  ratio(reporter, "gcopy mode 5 32>32", "pixman OVER");
  ratio(reporter, "gcopy mode 5 32>32", "SDL_BlitSurface blend");
  ratio(reporter, "gcopy mode 5 32>32 varied dst alpha", "pixman OVER");
  ratio(reporter, "gcopy mode 3 32>32", "pixman OVER const alpha");
  ratio(reporter, "stretch 640x360>1280x720", "pixman scaled nearest SRC");
  ratio(reporter, "stretch 640x360>1280x720", "SDL_BlitScaled");
  ratio(reporter, "gblita turned", "pixman scaled bilinear OVER turned");
  ratio(reporter, "gfill alpha 32", "pixman OVER solid fill");
  std::printf("Threads (MultiThreading 1 / 0):\n");
  for (const char* name : {"gcopy mode 0 32>32", "gcopy mode 5 32>32", "gcopy mode 3 32>32", "stretch 640x360>1280x720",
                           "gblita turned", "gfill alpha 32"})
    ratio(reporter, (std::string(name) + " MT").c_str(), name);
  return 0;
}
