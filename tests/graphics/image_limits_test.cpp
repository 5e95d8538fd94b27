// What a plane may hold, and image files that declare more than that or more than their data can
// describe: refused before any pixel memory is asked for, with gload's usual message, while files
// within the limits still load.
#include <sys/resource.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <jpeglib.h>
#include <zlib.h>

#include "archive/pack_codec.h"
#include "graphics/graphics_test_support.h"
#include "graphics/image_files.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"

namespace talven::graphics::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

// Pixel memory asked for since the fixture began: the number of requests and the largest.
int g_requests = 0;
std::uint32_t g_largest = 0;
vm::Address counting_allocator(std::uint32_t bytes) {
  ++g_requests;
  g_largest = std::max(g_largest, bytes);
  return vm::script_alloc_zeroed(bytes);
}

class ImageLimitsTest : public GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    g_requests = 0;
    g_largest = 0;
    set_pixel_allocator_for_testing(counting_allocator);
  }
  void TearDown() override {
    set_pixel_allocator_for_testing(nullptr);
    GraphicsTest::TearDown();
  }
};

void put_le(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
}

// A BMP file header and 40-byte header (with a two-entry colour table below 16 bits), no pixels.
Bytes bmp_header(std::int32_t width, std::int32_t height, int bits, int compression, std::uint32_t image_size) {
  Bytes f = "BM" + Bytes(12, '\0');
  put_le(f, 40, 4), put_le(f, static_cast<std::uint32_t>(width), 4), put_le(f, static_cast<std::uint32_t>(height), 4);
  put_le(f, 1, 2), put_le(f, static_cast<std::uint32_t>(bits), 2), put_le(f, static_cast<std::uint32_t>(compression), 4);
  put_le(f, image_size, 4), put_le(f, 0, 4), put_le(f, 0, 4), put_le(f, bits <= 8 ? 2 : 0, 4), put_le(f, 0, 4);
  if (bits <= 8) f += Bytes("\0\0\0\0\xFF\xFF\xFF\0", 8);
  return f;
}

// A PNG of a small plane with the header's size changed to width x height (its CRC made right).
Bytes png_declaring(std::uint32_t width, std::uint32_t height) {
  EXPECT_TRUE(allocate_plane(9, 8, 8, 24));
  Bytes f;
  EXPECT_TRUE(write_png(*plane(9), nullptr, f));
  free_plane(9);
  for (int i = 0; i < 4; ++i) {
    f[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    f[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(f.data()) + 12, 17));
  for (int i = 0; i < 4; ++i) f[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return f;
}

struct JumpingError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
void jump_back(j_common_ptr info) { std::longjmp(reinterpret_cast<JumpingError*>(info->err)->jump, 1); }

// A grey-and-colour JPEG of w x h written by libjpeg, baseline, progressive or arithmetic-coded;
// empty when the library cannot write that kind.
enum class JpegKind { kBaseline, kProgressive, kArithmetic };
Bytes make_jpeg(int w, int h, JpegKind kind) {
  jpeg_compress_struct info;
  JumpingError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jump_back;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &length);
  info.image_width = static_cast<JDIMENSION>(w);
  info.image_height = static_cast<JDIMENSION>(h);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  if (kind == JpegKind::kProgressive) jpeg_simple_progression(&info);
  if (kind == JpegKind::kArithmetic) info.arith_code = TRUE;
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(std::size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * 3; ++x) row[std::size_t(x)] = static_cast<std::uint8_t>(x * 7 + y * 13);
    JSAMPROW rows = row.data();
    jpeg_write_scanlines(&info, &rows, 1);
  }
  jpeg_finish_compress(&info);
  Bytes out(reinterpret_cast<const char*>(buffer), length);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

// The same JPEG with the frame header's size changed to w x h.
Bytes jpeg_declaring(Bytes f, std::uint32_t w, std::uint32_t h) {
  for (std::size_t i = 2; i + 9 < f.size(); ++i) {
    const auto marker = static_cast<std::uint8_t>(f[i + 1]);
    if (static_cast<std::uint8_t>(f[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2 || marker == 0xC9)) {
      f[i + 5] = static_cast<char>(h >> 8), f[i + 6] = static_cast<char>(h);
      f[i + 7] = static_cast<char>(w >> 8), f[i + 8] = static_cast<char>(w);
      return f;
    }
  }
  ADD_FAILURE() << "no frame header";
  return f;
}

Plane* read(Plane* (*reader)(const std::uint8_t*, std::size_t), const Bytes& f) {
  return reader(reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
}

TEST_F(ImageLimitsTest, PlaneLimitIsInclusiveAndAppliesToGalloc) {
  const struct {
    std::int64_t width, height, bits;
    bool fits;
  } cases[] = {
      {8192, 8192, 32, true},   {8192, 8193, 32, false}, {32768, 2048, 32, true},  {32769, 1, 8, false},
      {1, 32769, 8, false},     {16384, 5461, 24, true}, {16384, 5462, 24, false}, {32768, 32768, 1, true},
      {0, 5, 8, false},         {5, -1, 8, false},       {5, 5, 12, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " x " + std::to_string(c.bits));
    EXPECT_EQ(plane_fits(c.width, c.height, c.bits), c.fits);
  }
  // The largest plane there is, and one row more, which galloc refuses with its message.
  ASSERT_TRUE(allocate_plane(1, 8192, 8192, 32));
  EXPECT_EQ(g_largest, kMaxPlaneBytes);
  free_plane(1);
  EXPECT_FALSE(allocate_plane(1, 8192, 8193, 32));
  EXPECT_EQ(plane(1), nullptr);
  ASSERT_EQ(reported().size(), 1u);
  EXPECT_EQ(reported()[0], std::string(platform::cp932("CreatePlane : 仮想画面の作成に失敗しました。")));
  EXPECT_EQ(g_requests, 1);
}

// The pictures of small hostile files: each reader refuses before asking for pixel memory.
TEST_F(ImageLimitsTest, SmallFilesDeclaringHugePicturesAreRefusedBeforeAnyAllocation) {
  const Bytes baseline = make_jpeg(16, 16, JpegKind::kBaseline);
  const Bytes progressive = make_jpeg(64, 48, JpegKind::kProgressive);
  const Bytes arithmetic = make_jpeg(16, 16, JpegKind::kArithmetic);
  ASSERT_FALSE(baseline.empty());
  ASSERT_FALSE(progressive.empty());
  Bytes missing_rows = bmp_header(100, 100, 8, 0, 0) + Bytes(100 * 99, '\x01');  // one row short
  const struct {
    const char* what;
    Plane* (*reader)(const std::uint8_t*, std::size_t);
    Bytes file;
  } cases[] = {
      {"BMP of 2304 x 11779 from one byte", read_bmp, bmp_header(2304, 11779, 24, 0, 1) + "\x7F"},
      {"BMP of 65535 x 65535", read_bmp, bmp_header(65535, 65535, 8, 0, 0) + Bytes(64, '\0')},
      {"BMP missing its last row", read_bmp, missing_rows},
      {"RLE8 of 2304 x 11779 from one run", read_bmp, bmp_header(2304, 11779, 8, 1, 0) + Bytes("\xFF\x01\x00\x01", 4)},
      {"PNG of 2304 x 11779", read_png, png_declaring(2304, 11779)},
      {"PNG of 40000 x 1", read_png, png_declaring(40000, 1)},
      {"JPEG of 2304 x 11779", read_jpeg, jpeg_declaring(baseline, 2304, 11779)},
      {"progressive JPEG of 2304 x 11779", read_jpeg, jpeg_declaring(progressive, 2304, 11779)},
      {"JPEG of 32768 x 32768", read_jpeg, jpeg_declaring(baseline, 32768, 32768)},
      {"arithmetic-coded JPEG", read_jpeg, arithmetic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.file.empty()) continue;  // a library without arithmetic coding cannot make that case
    EXPECT_LT(c.file.size(), 20000u);
    const int requests = g_requests;
    Plane* p = read(c.reader, c.file);
    EXPECT_EQ(p, nullptr);
    delete_plane(p);
    EXPECT_EQ(g_requests, requests);
  }
}

// Files at the edges of the rules still load: every row present (a header's smaller image size
// read as far as it goes), runs that cover the picture, the widest plane, progressive JPEG.
TEST_F(ImageLimitsTest, FilesWithinTheLimitsLoad) {
  Bytes short_size = bmp_header(3, 2, 8, 0, 4) + Bytes("\x01\x01\x01\0\x01\x01\x01\0", 8);
  Bytes wide = bmp_header(32768, 1, 8, 0, 0) + Bytes(32768, '\x01');
  Bytes runs = bmp_header(600, 2, 8, 1, 0);
  for (int row = 0; row < 2; ++row) runs += Bytes("\xFF\x01\xFF\x01\x5A\x01\x00\x00", 8);  // 255 + 255 + 90
  const Bytes progressive = make_jpeg(64, 48, JpegKind::kProgressive);
  const struct {
    const char* what;
    Plane* (*reader)(const std::uint8_t*, std::size_t);
    Bytes file;
    std::int32_t width, height;
    std::uint32_t top_left, bottom_right;  // colours, ~0 for any
  } cases[] = {
      {"BMP with a smaller image size: the top row stays black", read_bmp, short_size, 3, 2, 0, 0xFFFFFF},
      {"BMP 32768 pixels wide", read_bmp, wide, 32768, 1, 0xFFFFFF, 0xFFFFFF},
      {"RLE8 covered by runs", read_bmp, runs, 600, 2, 0xFFFFFF, 0xFFFFFF},
      {"progressive JPEG", read_jpeg, progressive, 64, 48, ~0u, ~0u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Plane* p = read(c.reader, c.file);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->width, c.width);
    EXPECT_EQ(p->height, c.height);
    if (c.top_left != ~0u) {
      EXPECT_EQ(read_pixel(*p, 0, 0), c.top_left);
      EXPECT_EQ(read_pixel(*p, c.width - 1, c.height - 1), c.bottom_right);
    }
    delete_plane(p);
  }
}

// gload of such files, also packed and also too large to be an image at all, shows its message
// and leaves the slot empty; in a process allowed only 64 MiB more address space, so that neither
// the file's content nor the libraries' working memory can be large.
class ImageLimitBuiltinsTest : public ImageLimitsTest {
 protected:
  void SetUp() override {
    ImageLimitsTest::SetUp();
    saved_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("talven-limits-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::current_path(dir_);
    shell::config().file_system = 3;
  }
  void TearDown() override {
    shell::config() = shell::Configuration();
    fs::current_path(saved_);
    fs::remove_all(dir_);
    ImageLimitsTest::TearDown();
  }
  static void write(const char* name, const Bytes& bytes) { std::ofstream(name, std::ios::binary) << bytes; }
  fs::path dir_, saved_;
};

// The child's exit code carries the verdict; what it prints (gload's message) is not checked there.
class AnyOutput : public ::testing::MatcherInterface<const std::string&> {
 public:
  bool MatchAndExplain(const std::string&, ::testing::MatchResultListener*) const override { return true; }
  void DescribeTo(std::ostream* os) const override { *os << "any output"; }
};

TEST_F(ImageLimitBuiltinsTest, GloadOfHostileFilesFailsWithItsMessageAndLittleMemory) {
  write("wide.jpg", jpeg_declaring(make_jpeg(64, 48, JpegKind::kProgressive), 2304, 11779));
  write("tall.png", png_declaring(2304, 11779));
  write("thin.bmp", bmp_header(2304, 11779, 24, 0, 1) + "\x7F");
  const std::vector<std::uint8_t> small(100, 1);
  std::vector<std::uint8_t> lie = archive::pack_bytes(small.data(), small.size());
  lie[4] = 0x40;  // declares a gigabyte from a few bytes of codes
  write("lie.bmp", Bytes(lie.begin(), lie.end()));
  write("huge.bmp", "BM");
  fs::resize_file("huge.bmp", kMaxImageFileBytes + 1);  // sparse: nothing is written

  ScriptArguments args;
  const vm::Address name = args.scratch(0);
  for (const char* file : {"wide.jpg", "tall.png", "thin.bmp", "lie.bmp", "huge.bmp"}) {
    SCOPED_TRACE(file);
    std::memcpy(vm::host_pointer(name), file, std::strlen(file) + 1);
    reported().clear();
    const int requests = g_requests;
    EXPECT_EXIT(
        {
          rlimit limit{};
          std::FILE* statm = std::fopen("/proc/self/statm", "r");
          unsigned long pages = 0;
          if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1) std::_Exit(3);
          std::fclose(statm);
          limit.rlim_cur = limit.rlim_max = pages * static_cast<unsigned long>(::sysconf(_SC_PAGESIZE)) + (64ul << 20);
          if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(4);
          if (args.call(bi_gload, {7, name}) != 0) std::_Exit(5);
          if (plane(7) != nullptr) std::_Exit(6);
          std::_Exit(g_requests == requests ? 0 : 7);
        },
        ::testing::ExitedWithCode(0), ::testing::Matcher<const std::string&>(new AnyOutput));
    // And in this process, for the message.
    EXPECT_EQ(args.call(bi_gload, {7, name}), 0u);
    EXPECT_EQ(plane(7), nullptr);
    ASSERT_EQ(reported().size(), 1u);
    EXPECT_EQ(reported()[0], std::string(platform::cp932("LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : ")) + file);
    EXPECT_EQ(g_requests, requests);
  }
}

}  // namespace
}  // namespace talven::graphics::test
