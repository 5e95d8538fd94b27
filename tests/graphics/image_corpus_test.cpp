// The seed files of the image fuzz targets, made here from planes drawn by the engine. Every seed
// must be accepted by its reader; with TALVEN_WRITE_CORPUS=<folder> they are also written to
// <folder>/<target>/ (fuzz/make-image-corpus.sh does that for fuzz/corpus).
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "graphics/bmp_test_files.h"
#include "graphics/graphics_test_support.h"
#include "graphics/image_files.h"

namespace talven::graphics::test {
namespace {

namespace fs = std::filesystem;

std::string drawn_picture(int bits, int width, int height, std::string (*encode)(const Plane&)) {
  EXPECT_TRUE(allocate_plane(9, width, height, bits));
  clear_rect(9, nullptr, 0x203040);
  fill_rect(9, 1, 1, width / 2, height / 2, bits == 8 ? 0x010000E3u : 0xC08020u);
  draw_line(9, 0, height - 1, width - 1, 0, bits == 8 ? 0x0100001Cu : 0x30F0F0u);
  return encode(*plane(9));
}

std::string as_bmp(const Plane& p) { std::string s; EXPECT_TRUE(write_bmp(p, nullptr, s)); return s; }
std::string as_png(const Plane& p) { std::string s; EXPECT_TRUE(write_png(p, nullptr, s)); return s; }
std::string as_jpeg(const Plane& p) { std::string s; EXPECT_TRUE(write_jpeg(p, nullptr, s)); return s; }

std::string bmp_header(int width, int height, int bits, int compression) {
  std::string f = "BM" + std::string(12, '\0');
  auto put = [&](std::uint32_t v, int n) { for (int i = 0; i < n; ++i) f.push_back(static_cast<char>(v >> (8 * i))); };
  put(40, 4), put(width, 4), put(height, 4), put(1, 2), put(bits, 2), put(compression, 4), put(0, 4);
  put(0, 4), put(0, 4), put(2, 4), put(0, 4);
  f += std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
  return f;
}

std::string delta(std::uint32_t bits, std::int32_t right, std::int32_t bottom, const std::string& stream) {
  std::string d = "DIFF" + std::string(8, '\0');
  auto put = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) d.push_back(static_cast<char>(v >> (8 * i))); };
  put(bits), put(0), put(0), put(right), put(bottom);
  return d + stream;
}

using ImageCorpus = GraphicsTest;

TEST_F(ImageCorpus, SeedsAreAcceptedAndWrittenOnRequest) {
  struct Seed {
    const char* target;
    const char* name;
    std::string bytes;
  };
  std::vector<Seed> seeds = {
      {"bmp_reader", "eight.bmp", drawn_picture(8, 12, 9, as_bmp)},
      {"bmp_reader", "true.bmp", drawn_picture(24, 7, 5, as_bmp)},
      {"bmp_reader", "four.bmp", drawn_picture(4, 9, 4, as_bmp)},
      {"bmp_reader", "bare.bmp", drawn_picture(16, 5, 5, as_bmp).substr(14)},
      {"bmp_reader", "rle8.bmp", bmp_header(4, 2, 8, 1) + std::string("\x04\x01\x00\x00\x00\x03\x01\x00\x01\x00\x00\x01", 12)},
      {"bmp_reader", "rle4.bmp", bmp_header(4, 1, 4, 2) + std::string("\x04\x10\x00\x02\x01\x00\x00\x01", 8)},
      {"bmp_reader", "v4-565.bmp", bmp_file(108, 3, 2, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, "", std::string("\x1F\x00\xE0\x07\x00\xF8\x00\x00\xFF\xFF\x10\x84\x00\x00\x00\x00", 16))},
      {"bmp_reader", "v5-rgba-top-down.bmp", bmp_file(124, 2, -2, 32, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, "", std::string("\x10\x20\x30\x80\xFF\x00\x00\xFF\x00\xFF\x00\x40\x00\x00\xFF\x00", 16))},
      {"bmp_reader", "v3-4444.bmp", bmp_file(56, 2, 1, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}, "", std::string("\x12\xF3\x45\x86", 4))},
      {"bmp_reader", "v2-1010102.bmp", bmp_file(52, 1, 1, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}, "", std::string("\xFF\x03\xF0\x3F", 4))},
      {"bmp_reader", "alpha-fields.bmp", bmp_file(40, 2, 1, 16, 6, {0x7C00, 0x03E0, 0x001F, 0x8000}, "", std::string("\xFF\xFF\x1F\x00", 4))},
      {"bmp_reader", "os2-palette.bmp", bmp_file(64, 3, 1, 8, 0, {}, std::string("\x00\x00\xFF\x00\x00\xFF\x00\x00", 8), std::string("\x00\x01\x01\x00", 4), 6)},
      {"png_reader", "palette.png", drawn_picture(8, 12, 9, as_png)},
      {"png_reader", "rgb.png", drawn_picture(24, 10, 6, as_png)},
      {"png_reader", "rgba.png", drawn_picture(32, 6, 6, as_png)},
      {"jpeg_reader", "colour.jpg", drawn_picture(24, 16, 16, as_jpeg)},
      {"jpeg_reader", "odd.jpg", drawn_picture(8, 19, 3, as_jpeg)},
      {"diff_reader", "eight.diff", std::string("\x02\x03", 2) + delta(8, 4, 2, std::string("\x01\x00\x03\xAA\xBB\x00\x00\x00\x02\xCC\x00\x01", 12))},
      {"diff_reader", "true.diff", std::string("\x00\x00", 2) + delta(24, 1, 1, std::string("\x00\x02\x01\x02\x03\x00\x01", 7))},
  };
  for (const Seed& s : seeds) {
    SCOPED_TRACE(s.name);
    const auto* data = reinterpret_cast<const std::uint8_t*>(s.bytes.data());
    const std::string target = s.target;
    if (target == "diff_reader") {
      Plane* p = new_plane(23, 17, s.bytes[14]);
      EXPECT_TRUE(apply_delta(p, s.bytes[0], s.bytes[1], data + 2, s.bytes.size() - 2, nullptr));
      delete_plane(p);
    } else {
      Plane* p = target == "bmp_reader" ? read_bmp(data, s.bytes.size())
                 : target == "png_reader" ? read_png(data, s.bytes.size())
                                          : read_jpeg(data, s.bytes.size());
      EXPECT_NE(p, nullptr);
      delete_plane(p);
    }
  }
  if (const char* folder = std::getenv("TALVEN_WRITE_CORPUS")) {
    for (const Seed& s : seeds) {
      const fs::path dir = fs::path(folder) / s.target;
      fs::create_directories(dir);
      std::ofstream(dir / s.name, std::ios::binary) << s.bytes;
    }
  }
}

}  // namespace
}  // namespace talven::graphics::test
