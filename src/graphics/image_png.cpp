// PNG files through libpng. libpng reports errors by longjmp, so the functions that call it keep
// every object that outlives a jump in memory the jump cannot skip (declared before setjmp).
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "graphics/image_files.h"

namespace talven::graphics {
namespace {

struct MemoryInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
};

void read_from_memory(png_structp png, png_bytep out, png_size_t count) {
  auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (count > in->size - in->position) png_error(png, "truncated");
  std::memcpy(out, in->data + in->position, count);
  in->position += count;
}

void write_to_string(png_structp png, png_bytep bytes, png_size_t count) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(bytes), count);
}
void flush_nothing(png_structp) {}
void quiet_warning(png_structp, png_const_charp) {}
void error_jump(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Deflate, which holds a PNG's pixels, writes at most 258 bytes for a length and a distance code
// of at least one bit each: a file never expands to more than 1032 times its own size.
constexpr std::uint64_t kMostDeflatedBytesPerByte = 1032;

// True when a file of `file_bytes` bytes can hold the samples a header declares (`bits` per
// pixel as stored), so that a picture is never made for data that cannot be there.
bool picture_in_data(std::uint64_t width, std::uint64_t height, std::uint64_t bits, std::uint64_t file_bytes) {
  return width * height * bits / 8 <= file_bytes * kMostDeflatedBytesPerByte;
}

// The decoded layout chosen from the colour type, before libpng is told.
struct Layout {
  int bits = 0;          // the plane's depth
  bool palette = false;  // the colour table is the PNG palette
  bool grey = false;     // the colour table is a grey ramp
};

}  // namespace

Plane* read_png(const std::uint8_t* data, std::size_t size) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return nullptr;
  MemoryInput input{data, size, 8};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, error_jump, quiet_warning);
  if (png == nullptr) return nullptr;
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  Plane* volatile plane = nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    delete_plane(plane);
    return nullptr;
  }
  png_set_read_fn(png, &input, read_from_memory);
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, kMaxPlaneSide, kMaxPlaneSide);
  png_set_chunk_malloc_max(png, 8u << 20);
  png_read_info(png, info);

  const int colour_type = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  if (!picture_in_data(png_get_image_width(png, info), png_get_image_height(png, info),
                       std::uint64_t(depth) * png_get_channels(png, info), size))
    png_longjmp(png, 1);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (depth == 16) png_set_strip_16(png);
  Layout layout;
  switch (colour_type) {
    case PNG_COLOR_TYPE_PALETTE:
      if (transparency) {
        png_set_palette_to_rgb(png);
        png_set_tRNS_to_alpha(png);
        layout.bits = 32;
      } else {
        if (depth == 2 || depth == 4) png_set_packing(png);
        layout.bits = depth == 1 ? 1 : 8;
        layout.palette = true;
      }
      break;
    case PNG_COLOR_TYPE_GRAY:
      if (transparency) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_tRNS_to_alpha(png);
        png_set_gray_to_rgb(png);
        layout.bits = 32;
      } else {
        // 2 and 4-bit grey is scaled to 0..255 so the 256-entry grey ramp shows it as drawn.
        if (depth == 2 || depth == 4) png_set_expand_gray_1_2_4_to_8(png);
        layout.bits = depth == 1 ? 1 : 8;
        layout.grey = true;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_gray_to_rgb(png);
      layout.bits = 32;
      break;
    case PNG_COLOR_TYPE_RGB:
      if (transparency) png_set_tRNS_to_alpha(png);
      layout.bits = transparency ? 32 : 24;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA: layout.bits = 32; break;
    default: png_longjmp(png, 1);
  }
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (!plane_fits(width, height, layout.bits) || png_get_rowbytes(png, info) > plane_pitch(width, layout.bits))
    png_longjmp(png, 1);
  plane = new_plane(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), layout.bits);
  if (plane == nullptr) png_longjmp(png, 1);
  Plane* p = plane;
  if (layout.palette) {
    png_colorp colours = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &colours, &count) == 0) png_longjmp(png, 1);
    std::uint8_t* table = colour_table(*p);
    std::memset(table, 0, 4 * p->colour_count);
    for (int i = 0; i < count && i < static_cast<int>(p->colour_count); ++i) {
      table[4 * i + 0] = colours[i].blue;
      table[4 * i + 1] = colours[i].green;
      table[4 * i + 2] = colours[i].red;
    }
  } else if (layout.grey) {
    std::uint8_t* table = colour_table(*p);
    const std::uint32_t n = p->colour_count;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t v = static_cast<std::uint8_t>(255 * i / (n - 1));
      table[4 * i + 0] = table[4 * i + 1] = table[4 * i + 2] = v;
      table[4 * i + 3] = 0;
    }
  }
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = row_address(*p, static_cast<std::int32_t>(y));
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return p;
}

bool write_png(const Plane& p, const Rect* rect, std::string& out) {
  Rect r;
  if (!cut_to_plane(p, rect, r)) return false;
  const std::uint32_t width = r.right - r.left, height = r.bottom - r.top;
  out.clear();
  std::vector<std::uint8_t> converted;  // rows of planes written through a conversion
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, error_jump, quiet_warning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    out.clear();
    return false;
  }
  png_set_write_fn(png, &out, write_to_string, flush_nothing);
  const bool indexed = p.bits == 8;
  const bool alpha = p.bits == 32;
  png_set_IHDR(png, info, width, height, 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (indexed) {
    png_color colours[256];
    const std::uint32_t count = p.colour_count ? p.colour_count : 256;
    const std::uint8_t* table = colour_table(p);
    for (std::uint32_t i = 0; i < count; ++i) colours[i] = {table[4 * i + 2], table[4 * i + 1], table[4 * i + 0]};
    png_set_PLTE(png, info, colours, static_cast<int>(count));
  }
  png_write_info(png, info);
  if (p.bits == 24 || p.bits == 32) png_set_bgr(png);
  const std::uint32_t bytes = p.bits == 8 ? 1 : p.bits == 32 ? 4 : 3;
  converted.resize(std::size_t(width) * bytes);
  for (std::int32_t y = r.top; y < r.bottom; ++y) {
    const std::uint8_t* row = row_address(p, y);
    if (p.bits >= 8 && p.bits != 16) {
      png_write_row(png, row + std::size_t(r.left) * bytes);
      continue;
    }
    // 1, 4 and 16-bit planes are written as RGB through their colours.
    for (std::uint32_t i = 0; i < width; ++i) {
      const std::uint32_t c = read_pixel(p, r.left + static_cast<std::int32_t>(i), y);
      converted[3 * i + 0] = (c >> 16) & 255;
      converted[3 * i + 1] = (c >> 8) & 255;
      converted[3 * i + 2] = c & 255;
    }
    png_write_row(png, converted.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool encode_frame_png(const std::uint32_t* texels, int width, int height, std::string& out) {
  out.clear();
  std::vector<std::uint8_t> row(std::size_t(width) * 3);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, error_jump, quiet_warning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    out.clear();
    return false;
  }
  png_set_write_fn(png, &out, write_to_string, flush_nothing);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* in = texels + std::size_t(y) * width;
    for (int x = 0; x < width; ++x) {
      row[3 * x + 0] = (in[x] >> 16) & 255;
      row[3 * x + 1] = (in[x] >> 8) & 255;
      row[3 * x + 2] = in[x] & 255;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace talven::graphics
