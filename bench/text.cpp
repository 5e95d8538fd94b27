// Glyphs per second of gtext drawing a 40-character line at 16 and 32 pixels, plain and
// anti-aliased, onto a 32-bit plane, side by side with SDL_ttf (TTF_RenderUTF8_Blended and the
// blit of its surface onto a 32-bit surface) on the same font file and size. The ratios are
// printed at the end.
// Run: bench_text [--benchmark_min_time=1]
#include <SDL.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "graphics/planes.h"
#include "graphics/text.h"

namespace {

using namespace talven;
using namespace talven::graphics;

constexpr const char* kFontFile = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
constexpr const char* kLine = "The quick brown fox jumps over 13 dogs!!";  // 40 characters
constexpr int kGlyphs = 40;
constexpr int kW = 1280, kH = 720;

void engine_text(benchmark::State& state, int size, bool anti_aliased) {
  static bool planes = false;
  if (!planes) {
    reset_graphics_state();
    allocate_plane(0, kW, kH, 32);
    planes = true;
  }
  FontRecord r{};
  std::strcpy(r.face, "IPAGothic");
  r.size = size;
  r.flags = anti_aliased ? std::uint32_t(kFontAntiAliased) : 0u;
  reset_fonts();
  // The slot is set as a script would set it, through the record.
  const vm::Address record = vm::script_alloc_zeroed(sizeof r);
  vm::store(record, r);
  const vm::Address words = vm::script_alloc_zeroed(8);
  vm::store(words, 0u);
  vm::store(words + 4, record);
  bi_font_set(words);
  Plane& page = *plane(0);
  int y = 0;
  for (auto _ : state) {
    draw_text(page, 10, y, 0xFF, kLine, 0);
    y = (y + size) % (kH - 2 * size);
  }
  state.counters["glyphs/s"] = benchmark::Counter(double(state.iterations()) * kGlyphs, benchmark::Counter::kIsRate);
  vm::script_free(words);
  vm::script_free(record);
}

void sdl_ttf_text(benchmark::State& state, int size) {
  if (!TTF_WasInit()) TTF_Init();
  TTF_Font* font = TTF_OpenFont(kFontFile, size);
  if (font == nullptr) {
    state.SkipWithError("TTF_OpenFont failed");
    return;
  }
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, kW, kH, 32, SDL_PIXELFORMAT_ARGB8888);
  const SDL_Color white{255, 255, 255, 255};
  int y = 0;
  for (auto _ : state) {
    SDL_Surface* text = TTF_RenderUTF8_Blended(font, kLine, white);
    SDL_Rect at{10, y, 0, 0};
    SDL_BlitSurface(text, nullptr, target, &at);
    SDL_FreeSurface(text);
    y = (y + size) % (kH - 2 * size);
  }
  state.counters["glyphs/s"] = benchmark::Counter(double(state.iterations()) * kGlyphs, benchmark::Counter::kIsRate);
  SDL_FreeSurface(target);
  TTF_CloseFont(font);
}

class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rate;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("glyphs/s");
      if (it != r.counters.end()) rate[r.benchmark_name()] = it->second;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  for (int size : {16, 32}) {
    const std::string s = std::to_string(size);
    benchmark::RegisterBenchmark(("gtext plain/" + s).c_str(), [size](benchmark::State& st) { engine_text(st, size, false); })
        ->UseRealTime();
    benchmark::RegisterBenchmark(("gtext anti-aliased/" + s).c_str(),
                                 [size](benchmark::State& st) { engine_text(st, size, true); })
        ->UseRealTime();
    benchmark::RegisterBenchmark(("SDL_ttf blended/" + s).c_str(), [size](benchmark::State& st) { sdl_ttf_text(st, size); })
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nGlyphs per second (ratio to SDL_ttf's blended rendering and blit):\n");
  for (int size : {16, 32}) {
    const std::string s = "/" + std::to_string(size) + "/real_time";
    const double peer = reporter.rate["SDL_ttf blended" + s];
    for (const char* ours : {"gtext plain", "gtext anti-aliased"}) {
      const double r = reporter.rate[std::string(ours) + s];
      if (peer > 0 && r > 0)
        std::printf("  %2d px  %-20s %10.0f   SDL_ttf %10.0f   ratio %.2f\n", size, ours, r, peer, r / peer);
    }
  }
  return 0;
}
