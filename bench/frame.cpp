// Frame cost: `update` of a full 1280 x 720 page (upload of 32 and 8-bit view pages into the frame,
// headless and, when a display is there, presented in a window), and PNG load and save of a
// 1280 x 720 picture next to a plain libpng round trip through its simplified interface.
//   bench_frame                      headless
//   xvfb-run -a bench_frame          adds the window presents
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "graphics/image_files.h"
#include "graphics/palette.h"
#include "graphics/pixel_tables.h"
#include "graphics/presentation.h"
#include "shell/error_reporter.h"
#include "platform/devices.h"
#include "shell/configuration.h"
#include "vm/call_gate.h"

namespace {

using namespace talven;

// A picture with gradients and noise, so PNG compression has real work.
void fill_picture(graphics::Plane& p) {
  std::mt19937 rng(1);
  for (int y = 0; y < p.height; ++y) {
    std::uint8_t* row = graphics::row_address(p, y);
    for (int x = 0; x < p.width; ++x) {
      const std::uint32_t noise = rng() & 15;
      const std::uint32_t v = (x * 255 / p.width) << 16 | (y * 255 / p.height) << 8 | (((x ^ y) & 255) + noise);
      if (p.bits == 8) {
        row[x] = static_cast<std::uint8_t>(x + y + noise);
      } else {
        std::memcpy(row + x * (p.bits / 8), &v, p.bits / 8);
      }
    }
  }
}

void start_screen(int bits) {
  talven::shell::install_error_reporter();
  graphics::graphics_start({1280, 720, bits, true});
  fill_picture(*graphics::plane(0));
}

void BM_UpdateHeadless(benchmark::State& state) {
  start_screen(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    graphics::upload_view_page(nullptr);
    graphics::present_frame();
  }
  state.SetItemsProcessed(state.iterations() * 1280 * 720);
  graphics::graphics_shutdown();
}
BENCHMARK(BM_UpdateHeadless)->Arg(32)->Arg(24)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_UpdateWindow(benchmark::State& state) {
  if (!platform::choose_devices(platform::DeviceBackends::sdl)) {
    state.SkipWithError("no display (run under xvfb-run)");
    return;
  }
  platform::WindowOptions options;
  options.title = "bench_frame";
  options.client_width = 1280;
  options.client_height = 720;
  if (!platform::display().create_frame_window(options)) {
    state.SkipWithError("no window");
    platform::release_devices();
    return;
  }
  start_screen(32);
  graphics::set_frame_presenter([](const std::uint32_t* texels, int w, int h) { platform::display().present_texels(texels, w, h, platform::PictureFit::fill); });
  for (auto _ : state) {
    graphics::upload_view_page(nullptr);
    graphics::present_frame();
  }
  graphics::set_frame_presenter(nullptr);
  graphics::graphics_shutdown();
  platform::display().destroy_frame_window();
  platform::release_devices();
}
BENCHMARK(BM_UpdateWindow)->Unit(benchmark::kMillisecond)->MinTime(2.0);

std::string& png_file() {
  static std::string bytes;
  return bytes;
}

void BM_PngSaveEngine(benchmark::State& state) {
  graphics::build_pixel_tables();
  graphics::Plane* p = graphics::new_plane(1280, 720, 24);
  fill_picture(*p);
  for (auto _ : state) {
    graphics::write_png(*p, nullptr, png_file());
    benchmark::DoNotOptimize(png_file().data());
  }
  state.counters["bytes"] = static_cast<double>(png_file().size());
  graphics::delete_plane(p);
}
BENCHMARK(BM_PngSaveEngine)->Unit(benchmark::kMillisecond);

void BM_PngLoadEngine(benchmark::State& state) {
  for (auto _ : state) {
    graphics::Plane* p = graphics::read_png(reinterpret_cast<const std::uint8_t*>(png_file().data()), png_file().size());
    if (p == nullptr) state.SkipWithError("the saved picture did not load");
    graphics::delete_plane(p);
  }
}
BENCHMARK(BM_PngLoadEngine)->Unit(benchmark::kMillisecond);

// libpng alone: the simplified interface decoding to BGR and encoding back.
void BM_PngLoadLibpng(benchmark::State& state) {
  std::vector<std::uint8_t> pixels;
  for (auto _ : state) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, png_file().data(), png_file().size());
    image.format = PNG_FORMAT_BGR;
    pixels.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
  }
}
BENCHMARK(BM_PngLoadLibpng)->Unit(benchmark::kMillisecond);

void BM_PngSaveLibpng(benchmark::State& state) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  png_image_begin_read_from_memory(&image, png_file().data(), png_file().size());
  image.format = PNG_FORMAT_BGR;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
  std::vector<std::uint8_t> out(pixels.size() * 2);
  png_alloc_size_t size = 0;
  for (auto _ : state) {
    size = out.size();
    png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr);
  }
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_PngSaveLibpng)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
