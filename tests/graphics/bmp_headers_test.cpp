// BMP files as today's image editors write them: the longer info headers (52, 56, 64, 108, 124
// bytes), bit-field layouts of 16 and 32-bit pixels, top-down rows. Each file is made here and read
// next to the same picture saved as a 40-byte BMP of the plane it should become.
#include <cmath>
#include <random>

#include "graphics/bmp_test_files.h"
#include "graphics/graphics_test_support.h"
#include "graphics/image_files.h"

namespace talven::graphics::test {
namespace {

struct PlaneDeleter {
  void operator()(Plane* p) const { delete_plane(p); }
};
using PlanePtr = std::unique_ptr<Plane, PlaneDeleter>;

std::uint32_t bits_in(std::uint32_t mask) { return static_cast<std::uint32_t>(__builtin_popcount(mask)); }
std::uint32_t place(std::uint32_t value, std::uint32_t mask) { return mask == 0 ? 0 : value << __builtin_ctz(mask); }
// The exact 8-bit value of an n-bit channel value: the nearest of 0..255 to v / (2^n - 1).
std::uint8_t to_8_bits(std::uint32_t v, std::uint32_t n) {
  return static_cast<std::uint8_t>(std::lround(v * 255.0 / double((1ull << n) - 1)));
}

struct Picture {
  std::string file_pixels;  // rows as the bit-field file stores them, bottom-up
  PlanePtr expected;        // the plane the file should become
};

// A random picture in layout `m`, and the plane it means: 24-bit, or 32-bit when `out_bits` is 32
// (alpha from the mask, or 255 when `opaque`).
Picture random_picture(int width, int height, int bits, const Masks& m, int out_bits, bool opaque, std::mt19937& rng) {
  Picture pic;
  pic.expected.reset(new_plane(width, height, out_bits));
  const std::size_t pitch = (std::size_t(width) * bits / 8 + 3) / 4 * 4;
  pic.file_pixels.assign(pitch * height, '\0');
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      std::uint32_t pixel = 0;
      std::uint8_t channel[4];  // b, g, r, a
      const std::uint32_t masks[4] = {m.blue, m.green, m.red, m.alpha};
      for (int c = 0; c < 4; ++c) {
        if (masks[c] == 0) {
          channel[c] = 255;
          continue;
        }
        const std::uint32_t v = rng() & ((1u << bits_in(masks[c])) - 1);
        pixel |= place(v, masks[c]);
        channel[c] = to_8_bits(v, bits_in(masks[c]));
      }
      if (opaque) channel[3] = 255;
      for (int i = 0; i < bits / 8; ++i) pic.file_pixels[row * pitch + x * (bits / 8) + i] = static_cast<char>(pixel >> (8 * i));
      // Plane rows run from the bottom, as the file's do.
      std::uint8_t* out = vm::host_pointer(pic.expected->pixels) + std::size_t(row) * pic.expected->pitch + x * (out_bits / 8);
      std::memcpy(out, channel, out_bits / 8);
    }
  return pic;
}

// The file's rows in the other order, for a top-down file.
std::string flipped(const std::string& rows, int height) {
  const std::size_t pitch = rows.size() / height;
  std::string out;
  for (int r = height - 1; r >= 0; --r) out += rows.substr(r * pitch, pitch);
  return out;
}

Plane* read(const std::string& f) { return read_bmp(reinterpret_cast<const std::uint8_t*>(f.data()), f.size()); }

void expect_same_plane(const Plane& got, const Plane& want) {
  ASSERT_EQ(got.bits, want.bits);
  ASSERT_EQ(got.width, want.width);
  ASSERT_EQ(got.height, want.height);
  const std::size_t row_bytes = std::size_t(want.width) * want.bits / 8;
  for (int y = 0; y < want.height; ++y)
    ASSERT_EQ(0, std::memcmp(row_address(got, y), row_address(want, y), row_bytes)) << "row " << y;
}

using BmpHeadersTest = GraphicsTest;

TEST_F(BmpHeadersTest, BitFieldLayoutsLoadAsTheSamePictureSavedPlainInEveryHeaderAndOrientation) {
  struct Layout {
    const char* name;
    int bits;
    Masks masks;
    int plane_bits;
  };
  const Layout layouts[] = {
      {"16-bit 5-6-5", 16, {0xF800, 0x07E0, 0x001F, 0}, 24},
      {"16-bit 4-4-4-4", 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 32},
      {"16-bit 1-5-5-5", 16, {0x7C00, 0x03E0, 0x001F, 0x8000}, 32},
      {"16-bit 5-5-5 in the high bits", 16, {0xF800, 0x07C0, 0x003E, 0}, 24},
      {"32-bit B G R A", 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 32},
      {"32-bit R G B A", 32, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, 32},
      {"32-bit 10-10-10-2", 32, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, 32},
      {"32-bit without alpha", 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0}, 32},
  };
  std::mt19937 rng(15);
  for (const Layout& l : layouts) {
    for (std::uint32_t header : {40u, 52u, 56u, 108u, 124u}) {
      if (header == 52 && l.masks.alpha != 0) continue;  // no room for an alpha mask
      // The one bit-field form that loaded before keeps its bytes (see the next test).
      if (header == 40 && l.bits == 32 && l.masks.alpha == 0) continue;
      for (bool top_down : {false, true}) {
        SCOPED_TRACE(std::string(l.name) + ", header " + std::to_string(header) + (top_down ? ", top-down" : ""));
        const int width = 7, height = 5;
        Picture pic = random_picture(width, height, l.bits, l.masks, l.plane_bits, l.masks.alpha == 0, rng);
        const std::uint32_t compression = header == 40 && l.masks.alpha != 0 ? 6 : 3;
        const std::string file = bmp_file(header, width, top_down ? -height : height, l.bits, compression, l.masks, "",
                                          top_down ? flipped(pic.file_pixels, height) : pic.file_pixels);
        PlanePtr got(read(file));
        ASSERT_NE(got, nullptr);
        std::string plain;
        ASSERT_TRUE(write_bmp(*pic.expected, nullptr, plain));
        PlanePtr reference(read(plain));
        ASSERT_NE(reference, nullptr);
        expect_same_plane(*got, *reference);
      }
    }
  }
}

TEST_F(BmpHeadersTest, PlaneLayoutsKeepTheirBytes) {
  std::mt19937 rng(16);
  const int width = 6, height = 3;
  // 16-bit 5-5-5 stays a 16-bit plane, in every header; so does compression 0 with a long header.
  for (std::uint32_t header : {40u, 52u, 56u, 108u, 124u}) {
    for (std::uint32_t compression : {0u, 3u}) {
      SCOPED_TRACE("header " + std::to_string(header) + ", compression " + std::to_string(compression));
      std::string rows(std::size_t((width * 2 + 3) / 4 * 4) * height, '\0');
      for (auto& c : rows) c = static_cast<char>(rng() & 0x7F);
      PlanePtr got(read(bmp_file(header, width, height, 16, compression, {0x7C00, 0x03E0, 0x001F, 0}, "", rows)));
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->bits, 16);
      EXPECT_EQ(0, std::memcmp(vm::host_pointer(got->pixels), rows.data(), rows.size()));
    }
  }
  // A 40-byte header naming the 32-bit plane's own layout: the pixels, fourth byte included, are
  // copied as they always were.
  std::string rows(std::size_t(width) * 4 * height, '\0');
  for (auto& c : rows) c = static_cast<char>(rng());
  PlanePtr got(read(bmp_file(40, width, height, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0}, "", rows)));
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(0, std::memcmp(vm::host_pointer(got->pixels), rows.data(), rows.size()));
}

TEST_F(BmpHeadersTest, AnAlphaMaskWhoseAlphaIsZeroEverywhereMeansOpaque) {
  const int width = 4, height = 2;
  std::string rows;
  for (int i = 0; i < width * height; ++i) put_le(rows, 0x00102030u + i, 4);
  PlanePtr got(read(bmp_file(124, width, height, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, "", rows)));
  ASSERT_NE(got, nullptr);
  ASSERT_EQ(got->bits, 32);
  for (int i = 0; i < width * height; ++i) {
    const std::uint8_t* px = vm::host_pointer(got->pixels) + 4 * i;
    EXPECT_EQ(px[3], 255) << i;
    EXPECT_EQ(px[0], 0x30 + i) << i;
  }
}

TEST_F(BmpHeadersTest, PalettedPicturesFindTheirTableAfterTheWholeHeaderAndTheirPixelsAtTheOffset) {
  const int width = 3, height = 2;
  std::string table;
  put_le(table, 0x00112233, 4), put_le(table, 0x00445566, 4);
  const std::string rows = std::string("\x00\x01\x00\x00\x01\x01\x00\x00", 8);
  std::string plain_rows = rows;
  for (std::uint32_t header : {40u, 52u, 56u, 64u, 108u, 124u}) {
    for (std::size_t gap : {std::size_t(0), std::size_t(10)}) {
      SCOPED_TRACE("header " + std::to_string(header) + ", gap " + std::to_string(gap));
      PlanePtr got(read(bmp_file(header, width, -height, 8, 0, {}, table, rows, gap)));
      ASSERT_NE(got, nullptr);
      ASSERT_EQ(got->bits, 8);
      EXPECT_EQ(got->colour_count, 2u);
      EXPECT_EQ(0, std::memcmp(colour_table(*got), table.data(), 8));
      // Top-down: the file's first row is the picture's top row, the plane's last.
      EXPECT_EQ(0, std::memcmp(row_address(*got, 0), rows.data(), 3));
      EXPECT_EQ(0, std::memcmp(row_address(*got, 1), rows.data() + 4, 3));
    }
  }
}

TEST_F(BmpHeadersTest, WhatCannotBeReadStaysRefused) {
  const std::string rows16(8 * 2, '\x11'), rows32(16 * 2, '\x22');
  const Masks rgb565{0xF800, 0x07E0, 0x001F, 0};
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string cut_v5 = bmp_file(124, 4, 2, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0}, "", rows32);
  cut_v5.resize(cut_v5.size() - 5);
  std::string short_header = bmp_file(124, 4, 2, 16, 3, rgb565, "", rows16);
  short_header.resize(14 + 100);
  const Case cases[] = {
      {"overlapping masks", bmp_file(108, 4, 2, 16, 3, {0xF800, 0x0FE0, 0x001F, 0}, "", rows16)},
      {"an empty mask", bmp_file(108, 4, 2, 16, 3, {0xF800, 0, 0x001F, 0}, "", rows16)},
      {"a mask in two pieces", bmp_file(108, 4, 2, 16, 3, {0xF801, 0x07E0, 0x001E, 0}, "", rows16)},
      {"a mask beyond 16 bits", bmp_file(108, 4, 2, 16, 3, {0x1F0000, 0x07E0, 0x001F, 0}, "", rows16)},
      {"alpha overlapping red", bmp_file(124, 4, 2, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF800000}, "", rows32)},
      {"bit fields at 24 bits", bmp_file(124, 4, 2, 24, 3, {0xFF0000, 0xFF00, 0xFF, 0}, "", rows32)},
      {"bit fields at 8 bits", bmp_file(40, 4, 2, 8, 3, {0xE0, 0x1C, 0x03, 0}, "", rows32)},
      {"JPEG inside", bmp_file(124, 4, 2, 24, 4, {}, "", rows32)},
      {"PNG inside", bmp_file(124, 4, 2, 24, 5, {}, "", rows32)},
      {"OS/2 Huffman", bmp_file(64, 4, 2, 1, 3, {}, "", rows32)},
      {"pixels cut short", cut_v5},
      {"header past the end", short_header},
      {"header size 100", bmp_file(100, 4, 2, 24, 0, {}, "", rows32)},
      {"masks past the end", bmp_file(40, 4, 2, 16, 3, rgb565, "", "").substr(0, 14 + 40 + 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(read(c.bytes), nullptr);
  }
}

}  // namespace
}  // namespace talven::graphics::test
