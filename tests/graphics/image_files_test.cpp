// Image files: BMP, PNG and JPEG reading and writing, delta images, HSV, and the failures of
// hostile or damaged files (the message, an empty slot, no huge allocation).
#include <png.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "archive/fast_file.h"
#include "archive/pack_file.h"
#include "graphics/graphics_test_support.h"
#include "graphics/image_files.h"
#include "graphics/presentation.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"

namespace talven::graphics::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct PlaneDeleter {
  void operator()(Plane* p) const { delete_plane(p); }
};
using PlanePtr = std::unique_ptr<Plane, PlaneDeleter>;

Plane* random_plane(int w, int h, int bits, std::mt19937& rng) {
  Plane* p = new_plane(w, h, bits);
  randomise(*p, rng);
  if (bits == 16)  // the top bit of a 15-bit pixel carries no colour
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x) row_address(*p, y)[2 * x + 1] &= 0x7F;
  return p;
}

void expect_same_pixels(const Plane& a, const Plane& b) {
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  for (std::int32_t y = 0; y < a.height; ++y)
    for (std::int32_t x = 0; x < a.width; ++x)
      ASSERT_EQ(read_pixel(a, x, y), read_pixel(b, x, y)) << "at " << x << "," << y;
}

using ImageFilesTest = GraphicsTest;

// ---- BMP ----------------------------------------------------------------------------------------

TEST_F(ImageFilesTest, BmpRoundTripAtEveryDepth) {
  std::mt19937 rng(7);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    PlanePtr source(random_plane(13, 7, bits, rng));
    std::string file;
    ASSERT_TRUE(write_bmp(*source, nullptr, file));
    PlanePtr back(read_bmp(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->bits, bits);
    expect_same_pixels(*source, *back);
    // A rectangle that starts inside a byte (1 and 4-bit) still saves the right pixels.
    const Rect r{3, 2, 11, 6};
    ASSERT_TRUE(write_bmp(*source, &r, file));
    PlanePtr part(read_bmp(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    ASSERT_NE(part, nullptr);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(read_pixel(*part, x, y), read_pixel(*source, x + 3, y + 2));
  }
}

TEST_F(ImageFilesTest, BmpWithoutFileHeaderAndWithCoreHeaderLoads) {
  std::mt19937 rng(3);
  PlanePtr source(random_plane(5, 3, 8, rng));
  std::string file;
  ASSERT_TRUE(write_bmp(*source, nullptr, file));
  // Bare: the 40-byte header, the table and the rows.
  const std::string bare = file.substr(14);
  PlanePtr a(read_bmp(reinterpret_cast<const std::uint8_t*>(bare.data()), bare.size()));
  ASSERT_NE(a, nullptr);
  expect_same_pixels(*source, *a);
  // Core header: 12 bytes, 3-byte colour entries.
  std::string core = "BM";
  core += std::string(12, '\0');
  const std::uint8_t header[12] = {12, 0, 0, 0, 5, 0, 3, 0, 1, 0, 8, 0};
  core.append(reinterpret_cast<const char*>(header), 12);
  for (int i = 0; i < 256; ++i) core.append(reinterpret_cast<const char*>(colour_table(*source) + 4 * i), 3);
  for (int y = source->height - 1; y >= 0; --y) {
    core.append(reinterpret_cast<const char*>(row_address(*source, y)), 5);
    core.append(3, '\0');
  }
  PlanePtr b(read_bmp(reinterpret_cast<const std::uint8_t*>(core.data()), core.size()));
  ASSERT_NE(b, nullptr);
  expect_same_pixels(*source, *b);
}

std::string bmp_header_only(int width, int height, int bits, int compression, std::uint32_t image_size) {
  std::string f = "BM" + std::string(12, '\0');
  auto put32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) f.push_back(static_cast<char>(v >> (8 * i))); };
  auto put16 = [&](std::uint32_t v) { for (int i = 0; i < 2; ++i) f.push_back(static_cast<char>(v >> (8 * i))); };
  put32(40), put32(width), put32(height), put16(1), put16(bits), put32(compression), put32(image_size);
  put32(0), put32(0), put32(bits <= 8 ? 2 : 0), put32(0);
  if (bits <= 8) f += std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
  return f;
}

TEST_F(ImageFilesTest, BmpRleEightAndFourDecode) {
  // RLE8 3x3: a run, an absolute block, a delta, end of line and end of picture.
  std::string rle8 = bmp_header_only(3, 3, 8, 1, 0);
  rle8 += std::string("\x03\x01", 2);              // bottom row: 1 1 1
  rle8 += std::string("\x00\x00", 2);              // next row
  rle8 += std::string("\x00\x03\x01\x00\x01\x00", 6);  // absolute 1 0 1, padded
  rle8 += std::string("\x00\x02\x01\x00", 4);      // delta: one right, same row... then next row
  rle8 += std::string("\x00\x00\x01\x01\x00\x01", 6);  // next row, run of one 1, end
  PlanePtr a(read_bmp(reinterpret_cast<const std::uint8_t*>(rle8.data()), rle8.size()));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->bits, 8);
  const int expect8[3][3] = {{1, 0, 0}, {1, 0, 1}, {1, 1, 1}};  // top row first
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(read_pixel(*a, x, y), expect8[y][x] ? 0xFFFFFFu : 0u) << x << "," << y;
  // RLE4 4x1: a run of nibbles alternating, end.
  std::string rle4 = bmp_header_only(4, 1, 4, 2, 0);
  rle4 += std::string("\x04\x10\x00\x01", 4);
  PlanePtr b(read_bmp(reinterpret_cast<const std::uint8_t*>(rle4.data()), rle4.size()));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(read_pixel(*b, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(read_pixel(*b, 1, 0), 0u);
  EXPECT_EQ(read_pixel(*b, 2, 0), 0xFFFFFFu);
  // Cut short before the picture ends: refused.
  const std::string cut = rle8.substr(0, rle8.size() - 8);
  EXPECT_EQ(read_bmp(reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size()), nullptr);
}

TEST_F(ImageFilesTest, BmpDamagedOrLyingHeadersFail) {
  std::mt19937 rng(5);
  PlanePtr source(random_plane(9, 9, 24, rng));
  std::string good;
  ASSERT_TRUE(write_bmp(*source, nullptr, good));
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string wrong_size = good;
  wrong_size[14] = 20;
  std::string bad_bits = good;
  bad_bits[28] = 7;
  const Case cases[] = {
      {"empty", ""},
      {"only BM", "BM"},
      {"truncated pixels", good.substr(0, good.size() - 10)},
      {"header size 20", wrong_size},
      {"7 bits", bad_bits},
      {"huge width, tiny file", bmp_header_only(30000, 30000, 32, 0, 0)},
      {"huge RLE picture", bmp_header_only(32768, 32768, 8, 1, 0) + std::string("\x00\x01", 2)},
      {"negative width", bmp_header_only(-5, 5, 8, 0, 0)},
      {"RLE8 at 4 bits", bmp_header_only(4, 4, 4, 1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(read_bmp(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()), nullptr);
  }
}

TEST_F(ImageFilesTest, TopDownBmpLoadsUpright) {
  std::string f = bmp_header_only(1, -2, 8, 0, 0);
  f += std::string("\x01\0\0\0\x00\0\0\0", 8);  // top row 1, bottom row 0
  PlanePtr p(read_bmp(reinterpret_cast<const std::uint8_t*>(f.data()), f.size()));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(read_pixel(*p, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(read_pixel(*p, 0, 1), 0u);
}

// ---- PNG ----------------------------------------------------------------------------------------

// A PNG made by libpng from rows of samples as the format stores them.
struct PngSpec {
  int colour_type, depth;
  int width, height;
  std::vector<Bytes> rows;
  std::vector<png_color> palette;
  Bytes trns;              // palette alpha, or empty
  png_color_16 trns_colour{};
  bool has_trns_colour = false;
  bool interlaced = false;
};

void append(png_structp png, png_bytep data, png_size_t n) {
  static_cast<Bytes*>(png_get_io_ptr(png))->insert(static_cast<Bytes*>(png_get_io_ptr(png))->end(), data, data + n);
}

Bytes make_png(const PngSpec& s) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, append, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.depth, s.colour_type,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.trns.empty()) png_set_tRNS(png, info, s.trns.data(), static_cast<int>(s.trns.size()), nullptr);
  if (s.has_trns_colour) png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(&s.trns_colour));
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const Bytes& r : s.rows) rows.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST_F(ImageFilesTest, PngEveryColourTypeAndTransparency) {
  const std::vector<png_color> pal = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}};
  png_color_16 grey_key{};
  grey_key.gray = 3;
  png_color_16 rgb_key{};
  rgb_key.red = 1, rgb_key.green = 2, rgb_key.blue = 3;
  struct Case {
    const char* what;
    PngSpec spec;
    int bits;
    std::uint32_t colour_at_1_0;  // 0x00RRGGBB of pixel (1, 0)
    int alpha_at_1_0;             // -1: no alpha channel
  };
  auto spec = [](int type, int depth, std::vector<Bytes> rows) {
    PngSpec s;
    s.colour_type = type, s.depth = depth, s.width = 2, s.height = static_cast<int>(rows.size()), s.rows = std::move(rows);
    return s;
  };
  std::vector<Case> cases;
  {
    PngSpec s = spec(PNG_COLOR_TYPE_PALETTE, 8, {{0, 2}, {1, 3}});
    s.palette = pal;
    cases.push_back({"palette 8", s, 8, 0x0000FF, -1});
    s.trns = {255, 255, 40};
    cases.push_back({"palette 8 + tRNS", s, 32, 0x0000FF, 40});
    PngSpec four = spec(PNG_COLOR_TYPE_PALETTE, 4, {{0x02}, {0x13}});
    four.palette = pal;
    cases.push_back({"palette 4", four, 8, 0x0000FF, -1});
    PngSpec one = spec(PNG_COLOR_TYPE_PALETTE, 1, {{0x40}, {0x80}});
    one.palette = {{0, 0, 0}, {200, 100, 50}};
    cases.push_back({"palette 1", one, 1, 0xC86432, -1});
  }
  cases.push_back({"grey 8", spec(PNG_COLOR_TYPE_GRAY, 8, {{0, 77}}), 8, 0x4D4D4D, -1});
  cases.push_back({"grey 16", spec(PNG_COLOR_TYPE_GRAY, 16, {{0, 0, 0x80, 0x01}}), 8, 0x808080, -1});
  cases.push_back({"grey 4", spec(PNG_COLOR_TYPE_GRAY, 4, {{0x0F}}), 8, 0xFFFFFF, -1});
  cases.push_back({"grey 2", spec(PNG_COLOR_TYPE_GRAY, 2, {{0x10}}), 8, 0x555555, -1});
  cases.push_back({"grey 1", spec(PNG_COLOR_TYPE_GRAY, 1, {{0x40}}), 1, 0xFFFFFF, -1});
  {
    PngSpec s = spec(PNG_COLOR_TYPE_GRAY, 8, {{3, 4}});
    s.trns_colour = grey_key, s.has_trns_colour = true;
    cases.push_back({"grey 8 + tRNS", s, 32, 0x040404, 255});
  }
  cases.push_back({"grey alpha", spec(PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{0, 0, 90, 60}}), 32, 0x5A5A5A, 60});
  cases.push_back({"rgb", spec(PNG_COLOR_TYPE_RGB, 8, {{0, 0, 0, 10, 20, 30}}), 24, 0x0A141E, -1});
  cases.push_back({"rgb 16", spec(PNG_COLOR_TYPE_RGB, 16, {{0, 0, 0, 0, 0, 0, 10, 0, 20, 0, 30, 0}}), 24, 0x0A141E, -1});
  {
    PngSpec s = spec(PNG_COLOR_TYPE_RGB, 8, {{0, 0, 0, 1, 2, 3}});
    s.trns_colour = rgb_key, s.has_trns_colour = true;
    cases.push_back({"rgb + tRNS", s, 32, 0x010203, 0});
  }
  cases.push_back({"rgba", spec(PNG_COLOR_TYPE_RGB_ALPHA, 8, {{0, 0, 0, 0, 10, 20, 30, 128}}), 32, 0x0A141E, 128});
  {
    PngSpec s = spec(PNG_COLOR_TYPE_RGB, 8, {{0, 0, 0, 10, 20, 30}, {1, 1, 1, 2, 2, 2}, {3, 3, 3, 4, 4, 4}});
    s.interlaced = true;
    cases.push_back({"rgb interlaced", s, 24, 0x0A141E, -1});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes file = make_png(c.spec);
    PlanePtr p(read_png(file.data(), file.size()));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->bits, c.bits);
    EXPECT_EQ(p->width, 2);
    EXPECT_EQ(read_pixel(*p, 1, 0), c.colour_at_1_0);
    if (c.alpha_at_1_0 >= 0) {
      EXPECT_EQ(row_address(*p, 0)[7], c.alpha_at_1_0);
    }
  }
}

TEST_F(ImageFilesTest, PngRoundTripKeepsPixelsAndAlpha) {
  std::mt19937 rng(11);
  for (int bits : {8, 24, 32, 16, 4, 1}) {
    SCOPED_TRACE(bits);
    PlanePtr source(random_plane(17, 5, bits, rng));
    std::string file;
    ASSERT_TRUE(write_png(*source, nullptr, file));
    PlanePtr back(read_png(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->bits, bits == 8 || bits == 32 ? bits : 24);
    expect_same_pixels(*source, *back);
    if (bits == 32) {
      EXPECT_EQ(0, std::memcmp(bytes(*source), bytes(*back), size(*source)));
    }
  }
}

TEST_F(ImageFilesTest, PngDamagedOrHostileFails) {
  std::mt19937 rng(2);
  PlanePtr source(random_plane(40, 40, 24, rng));
  std::string file;
  ASSERT_TRUE(write_png(*source, nullptr, file));
  const Bytes good = to_bytes(file);
  Bytes flipped = good;
  flipped[good.size() / 2] ^= 0x55;  // inside the picture data: the CRC no longer matches
  Bytes huge = good;                 // IHDR claims 30000 x 30000 (CRC fixed), data stays small
  const std::uint8_t dims[8] = {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30};
  std::memcpy(huge.data() + 16, dims, 8);
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, huge.data() + 12, 17));
  for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"signature only", Bytes(good.begin(), good.begin() + 8)},
      {"truncated", Bytes(good.begin(), good.begin() + good.size() / 2)},
      {"corrupted", flipped},
      {"lying size", huge},
  };
  for (const auto& [what, b] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(read_png(b.data(), b.size()), nullptr);
  }
}

// ---- JPEG ---------------------------------------------------------------------------------------

TEST_F(ImageFilesTest, JpegRoundTripColourAndGrey) {
  ASSERT_TRUE(allocate_plane(1, 32, 16, 24));
  clear_rect(1, nullptr, 0x2060C0);
  const Rect right{16, 0, 32, 16};
  clear_rect(1, &right, 0xF0E010);
  std::string file;
  ASSERT_TRUE(write_jpeg(*plane(1), nullptr, file));
  PlanePtr back(read_jpeg(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->bits, 24);
  auto near = [](std::uint32_t a, std::uint32_t b) {
    for (int s = 0; s < 24; s += 8)
      if (std::abs(int((a >> s) & 255) - int((b >> s) & 255)) > 6) return false;
    return true;
  };
  EXPECT_TRUE(near(read_pixel(*back, 4, 4), 0x2060C0)) << std::hex << read_pixel(*back, 4, 4);
  EXPECT_TRUE(near(read_pixel(*back, 28, 12), 0xF0E010)) << std::hex << read_pixel(*back, 28, 12);
  // An 8-bit plane goes through its colour table; a truncated file fails.
  ASSERT_TRUE(allocate_plane(2, 8, 8, 8));
  clear_rect(2, nullptr, 0x01000000u | 0xE0);  // 3-3-2 entry 0xE0: pure red
  ASSERT_TRUE(write_jpeg(*plane(2), nullptr, file));
  PlanePtr red(read_jpeg(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
  ASSERT_NE(red, nullptr);
  EXPECT_TRUE(near(read_pixel(*red, 3, 3), 0xFF0000)) << std::hex << read_pixel(*red, 3, 3);
  EXPECT_EQ(read_jpeg(reinterpret_cast<const std::uint8_t*>(file.data()), file.size() / 2), nullptr);
}

// ---- gload, gsave and file names ------------------------------------------------------------------

class ImageFileBuiltinsTest : public GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    saved_dir_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("talven-images-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    saved_file_system_ = archive::file_system();
    archive::set_file_system(3);
  }
  void TearDown() override {
    archive::set_file_system(saved_file_system_);
    fs::current_path(saved_dir_);
    fs::remove_all(dir_);
    GraphicsTest::TearDown();
  }
  vm::Address text(const std::string& s, std::uint32_t offset) {
    const vm::Address a = args_.scratch(offset);
    std::memcpy(vm::host_pointer(a), s.c_str(), s.size() + 1);
    return a;
  }
  ScriptArguments args_;
  fs::path dir_, saved_dir_;
  std::int32_t saved_file_system_ = 0;
};

TEST_F(ImageFileBuiltinsTest, SaveAndLoadByExtensionInAnyCase) {
  std::mt19937 rng(4);
  ASSERT_TRUE(allocate_plane(3, 12, 9, 24));
  randomise(*plane(3), rng);
  for (const char* name : {"a.bmp", "b.PNG", "c.png", "noext"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(args_.call(bi_gsave, {text(name, 0), 3, 0}), 1u);
    ASSERT_EQ(args_.call(bi_gload, {5, text(name, 0)}), 1u);
    expect_same_pixels(*plane(3), *plane(5));
    EXPECT_STREQ(plane(5)->name, name);
  }
  // A packed file holding a PNG loads as the PNG.
  std::ifstream in("c.png", std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(archive::write_pack_file((dir_ / "packed.png").string(), content.data(), content.size()));
  ASSERT_NE(content.substr(0, 8), std::string(std::istreambuf_iterator<char>(std::ifstream("packed.png", std::ios::binary).rdbuf()), {}).substr(0, 8));
  ASSERT_EQ(args_.call(bi_gload, {5, text("packed.png", 0)}), 1u);
  expect_same_pixels(*plane(3), *plane(5));
  EXPECT_EQ(image_format_for("x.PnG"), ImageFormat::png);
  EXPECT_EQ(image_format_for("x.JPG"), ImageFormat::jpeg);
  EXPECT_EQ(image_format_for("xjpeg"), ImageFormat::bmp);
  EXPECT_EQ(image_format_for("png"), ImageFormat::bmp);
  // A PNG written under a name ending in "jpeg" is read as BMP and fails.
  fs::copy_file("b.PNG", "pic.jpeg");
  ASSERT_TRUE(allocate_plane(6, 2, 2, 8));
  EXPECT_EQ(args_.call(bi_gload, {6, text("pic.jpeg", 0)}), 0u);
  EXPECT_EQ(plane(6), nullptr);
  ASSERT_FALSE(reported().empty());
  EXPECT_EQ(reported().back(), std::string(platform::cp932("LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : pic.jpeg")));
}

TEST_F(ImageFileBuiltinsTest, LoadIntoTheHighestEmptySlotThroughAVariable) {
  ASSERT_TRUE(allocate_plane(1, 4, 4, 24));
  ASSERT_EQ(args_.call(bi_gsave, {text("p.png", 0), 1, 0}), 1u);
  ASSERT_TRUE(allocate_plane(kPlaneSlots - 1, 1, 1, 8));
  const vm::Address variable = args_.scratch(512);
  vm::store(variable, std::int32_t(-5));
  ASSERT_EQ(args_.call(bi_gload, {variable, text("p.png", 0)}), 1u);
  std::int32_t slot = 0;
  vm::load(variable, slot);
  EXPECT_EQ(slot, std::int32_t(kPlaneSlots - 2));
  ASSERT_NE(plane(kPlaneSlots - 2), nullptr);
  EXPECT_EQ(plane(kPlaneSlots - 2)->width, 4);
}

TEST_F(ImageFileBuiltinsTest, FailuresShowTheirMessages) {
  EXPECT_EQ(args_.call(bi_gload, {4, text("missing.png", 0)}), 0u);
  EXPECT_EQ(plane(4), nullptr);
  ASSERT_EQ(reported().size(), 1u);
  EXPECT_EQ(args_.call(bi_gsave, {text("x.bmp", 0), 77, 0}), 0u);  // no plane 77
  ASSERT_EQ(reported().size(), 2u);
  EXPECT_EQ(reported().back(), std::string(platform::cp932("SavePlane : 画像ファイルの書き込みに失敗しました。\nFile : x.bmp")));
  ASSERT_TRUE(allocate_plane(1, 4, 4, 24));
  EXPECT_EQ(args_.call(bi_gsave, {text("nofolder/x.png", 0), 1, 0}), 0u);
  const vm::Address outside = put_rect(args_.scratch(512), Rect{10, 10, 20, 20});
  EXPECT_EQ(args_.call(bi_gsave, {text("empty.png", 0), 1, outside}), 0u);
  EXPECT_FALSE(fs::exists("empty.png"));
  EXPECT_EQ(reported().size(), 4u);
}

// ---- delta images -------------------------------------------------------------------------------

Bytes delta(std::uint32_t bits, Rect r, const Bytes& stream) {
  Bytes d = {'D', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0};
  auto put32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) d.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
  put32(bits), put32(r.left), put32(r.top), put32(r.right), put32(r.bottom);
  d.insert(d.end(), stream.begin(), stream.end());
  return d;
}

TEST_F(ImageFilesTest, DeltaImageAppliesItsStream) {
  ASSERT_TRUE(allocate_plane(1, 8, 4, 8));
  // At (2, 1): skip 1, copy 2 pixels, next row, copy 1 pixel, end.
  const Bytes d = delta(8, {0, 0, 3, 2}, {1, 0, 3, 0xAA, 0xBB, 0, 0, 0, 2, 0xCC, 0, 1});
  Rect out{};
  ASSERT_TRUE(apply_delta(plane(1), 2, 1, d.data(), d.size(), &out));
  EXPECT_EQ(out.right, 3);
  EXPECT_EQ(out.bottom, 2);
  EXPECT_EQ(*pixel_address(plane(1), 3, 1), 0xAA);
  EXPECT_EQ(*pixel_address(plane(1), 4, 1), 0xBB);
  EXPECT_EQ(*pixel_address(plane(1), 2, 2), 0xCC);
  EXPECT_EQ(*pixel_address(plane(1), 2, 1), 0);
}

TEST_F(ImageFilesTest, DeltaImageRefusalsChangeNothing) {
  ASSERT_TRUE(allocate_plane(1, 8, 4, 8));
  const Bytes ok = delta(8, {0, 0, 2, 1}, {0, 3, 1, 2, 0, 1});
  Bytes bad_magic = ok;
  bad_magic[0] = 'X';
  struct Case {
    const char* what;
    Bytes data;
    std::int32_t x, y;
    std::uint32_t slot;
  };
  const Case cases[] = {
      {"negative x", ok, -1, 0, 1},
      {"negative y", ok, 0, -1, 1},
      {"no plane", ok, 0, 0, 9},
      {"magic", bad_magic, 0, 0, 1},
      {"bits differ", delta(32, {0, 0, 2, 1}, {0, 1}), 0, 0, 1},
      {"empty rectangle", delta(8, {0, 0, 0, 1}, {0, 1}), 0, 0, 1},
      {"one past the right edge", delta(8, {0, 0, 2, 1}, {0, 3, 1, 2, 0, 1}), 7, 0, 1},
      {"below the bottom", delta(8, {0, 0, 2, 1}, {0, 3, 1, 2, 0, 1}), 0, 4, 1},
      {"stream copies past the plane", delta(8, {0, 0, 2, 1}, {0, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 9, 0, 1}), 0, 0, 1},
      {"stream runs past the row end", delta(8, {0, 0, 2, 1}, {7, 0, 3, 1, 2, 0, 1}), 0, 0, 1},
      {"no end", delta(8, {0, 0, 2, 1}, {0, 3, 1, 2}), 0, 0, 1},
      {"short header", Bytes(ok.begin(), ok.begin() + 20), 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(apply_delta(plane(c.slot), c.x, c.y, c.data.data(), c.data.size(), nullptr));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(*pixel_address(plane(1), x, y), 0);
  }
  EXPECT_TRUE(apply_delta(plane(1), 6, 3, ok.data(), ok.size(), nullptr));
}

TEST_F(ImageFileBuiltinsTest, DloadReadsTheFileAndReportsTheRectangleFirst) {
  ASSERT_TRUE(allocate_plane(1, 4, 4, 24));
  const Bytes d = delta(24, {0, 0, 1, 1}, {0, 2, 1, 2, 3, 0, 1});
  std::ofstream("d.dif", std::ios::binary).write(reinterpret_cast<const char*>(d.data()), d.size());
  const vm::Address out = args_.scratch(512);
  EXPECT_EQ(args_.call(bi_dload, {1, 1, 1, text("d.dif", 0), out}), 1u);
  EXPECT_EQ(read_pixel(*plane(1), 1, 1), 0x030201u);
  Rect r{};
  vm::load(out, r);
  EXPECT_EQ(r.right, 1);
  // Refused (x negative), the rectangle still comes back.
  vm::store(out, Rect{});
  EXPECT_EQ(args_.call(bi_dload, {1, std::uint32_t(-1), 1, text("d.dif", 0), out}), 0u);
  vm::load(out, r);
  EXPECT_EQ(r.bottom, 1);
  // dcopy from script memory.
  const vm::Address block = args_.scratch(600);
  std::memcpy(vm::host_pointer(block), d.data(), d.size());
  EXPECT_EQ(args_.call(bi_dcopy, {1, 2, 2, block, 0}), 1u);
  EXPECT_EQ(read_pixel(*plane(1), 2, 2), 0x030201u);
  EXPECT_EQ(args_.call(bi_dcopy, {1, 2, 2, 0, out}), 0u);
}

// ---- palettes and HSV -----------------------------------------------------------------------------

TEST_F(ImageFilesTest, HsvConversions) {
  EXPECT_EQ(rgb_to_hsv(0x00FF0000u), 0x0000FFFFu);
  EXPECT_EQ(hsv_to_rgb(0x0000FFFFu), 0x00FF0000u);
  EXPECT_EQ(rgb_to_hsv(0x00808080u), 0x00000080u);
  EXPECT_EQ(hsv_to_rgb(0x00000080u), 0x00808080u);
  // Pure green and blue sit a third and two thirds round the circle.
  EXPECT_EQ(rgb_to_hsv(0x0000FF00u) >> 16, 682u);
  EXPECT_EQ(rgb_to_hsv(0x000000FFu) >> 16, 1365u);
  for (std::uint32_t c : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00FFFF00u, 0x0000FFFFu, 0x00FF00FFu}) {
    const std::uint32_t back = hsv_to_rgb(rgb_to_hsv(c));
    for (int s = 0; s < 24; s += 8) EXPECT_NEAR(int((back >> s) & 255), int((c >> s) & 255), 3) << std::hex << c;
  }
}

TEST_F(ImageFilesTest, PaletteBuiltins) {
  ScriptArguments args;
  const vm::Address colours = args.scratch(0);
  for (std::uint32_t i = 0; i < 10; ++i) vm::store(colours + 4 * i, 0x00100000u * i + i);
  EXPECT_EQ(args.call(bi_pal_sets, {250, 10, colours}), 1u);
  EXPECT_EQ(args.call(bi_pal_get, {255}), 0x00500005u);
  EXPECT_EQ(args.call(bi_pal_get, {256}), 0u);
  EXPECT_EQ(args.call(bi_pal_sets, {256, 1, colours}), 0u);
  EXPECT_EQ(args.call(bi_pal_sets, {0, 0, colours}), 0u);
  EXPECT_EQ(args.call(bi_ggetpal, {std::uint32_t(-1), 250, 10, colours}), 6u);
  EXPECT_EQ(args.call(bi_gsetpal, {std::uint32_t(-1), 0, 3, colours}), 3u);
  EXPECT_EQ(args.call(bi_pal_set, {7, 0x123456}), 1u);
  EXPECT_EQ(args.call(bi_pal_set, {300, 0x123456}), 0u);
  EXPECT_EQ(args.call(bi_pal_get, {7}), 0x123456u);
  // Plane colour tables: 4-bit plane has 16 entries.
  ASSERT_TRUE(allocate_plane(2, 4, 4, 4));
  ASSERT_TRUE(allocate_plane(3, 4, 4, 24));
  vm::store(colours, 0x00ABCDEFu);
  EXPECT_EQ(args.call(bi_gsetpal, {2, 15, 5, colours}), 1u);
  EXPECT_EQ(args.call(bi_gsetpal, {2, 16, 1, colours}), 0u);
  EXPECT_EQ(args.call(bi_gsetpal, {3, 0, 1, colours}), 0u);
  EXPECT_EQ(args.call(bi_pal_load, {2, 100, 14, 10}), 2u);
  EXPECT_EQ(args.call(bi_pal_get, {101}), 0x00ABCDEFu);
  EXPECT_EQ(args.call(bi_pal_load, {3, 0, 0, 10}), 0u);
  EXPECT_EQ(args.call(bi_pal_load, {2, 0, 16, 10}), 0u);
}

TEST_F(ImageFilesTest, PaletteChangeShowsAtTheNextUpdateWithoutTouchingThePlane) {
  presentation_start(4, 2);
  ASSERT_TRUE(allocate_plane(0, 4, 2, 8));
  clear_rect(0, nullptr, 0x01000005u);
  ScriptArguments args;
  ASSERT_EQ(args.call(bi_update, {0}), 1u);
  int w = 0, h = 0;
  const std::uint32_t before = snapshot_frame(w, h)[0];
  EXPECT_EQ(before, 0xFF000000u | cube_332_colour(5));
  const std::vector<std::uint8_t> pixels_before(bytes(*plane(0)), bytes(*plane(0)) + size(*plane(0)));
  ASSERT_EQ(args.call(bi_pal_set, {5, 0x00112233}), 1u);
  ASSERT_EQ(args.call(bi_pal_change, {}), 1u);
  EXPECT_EQ(snapshot_frame(w, h)[0], before);
  ASSERT_EQ(args.call(bi_update, {0}), 1u);
  EXPECT_EQ(snapshot_frame(w, h)[3], 0xFF112233u);
  EXPECT_EQ(0, std::memcmp(pixels_before.data(), bytes(*plane(0)), pixels_before.size()));
}

}  // namespace
}  // namespace talven::graphics::test
