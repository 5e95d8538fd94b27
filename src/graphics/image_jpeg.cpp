// JPEG files through libjpeg. Its errors end in error_exit, which jumps back to the caller.
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/image_files.h"

namespace talven::graphics {
namespace {

struct JumpingError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void jump_back(j_common_ptr info) { std::longjmp(reinterpret_cast<JumpingError*>(info->err)->jump, 1); }
void no_message(j_common_ptr) {}

// True when a file of `file_bytes` bytes can hold the coded blocks of the picture its header
// declares (all components' 8 x 8 blocks, known once the header is read). In a sequential scan
// every block takes at least two bits (a DC and an AC code, at least a bit each); a progressive
// file codes every block's DC coefficient first, at least a bit a block. Arithmetic coding has no
// such floor, so files that use it (rare in practice) are refused.
bool picture_in_data(const jpeg_decompress_struct& info, std::uint64_t file_bytes) {
  if (info.arith_code) return false;
  std::uint64_t blocks = 0;
  for (int c = 0; c < info.num_components; ++c)
    blocks += std::uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
  const std::uint64_t bits_per_block = info.progressive_mode ? 1 : 2;
  return blocks * bits_per_block <= file_bytes * 8;
}

}  // namespace

Plane* read_jpeg(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return nullptr;
  jpeg_decompress_struct info;
  JumpingError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jump_back;
  error.manager.output_message = no_message;
  Plane* volatile plane = nullptr;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    delete_plane(plane);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
  if (!grey && info.num_components != 3) std::longjmp(error.jump, 1);  // CMYK and others: no RGB form
  info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  const int bits = grey ? 8 : 24;
  // Checked before jpeg_start_decompress, which takes the library's own memory for the picture.
  if (!plane_fits(info.image_width, info.image_height, bits) || !picture_in_data(info, size))
    std::longjmp(error.jump, 1);
  jpeg_start_decompress(&info);
  plane = new_plane(static_cast<std::int32_t>(info.output_width), static_cast<std::int32_t>(info.output_height), bits);
  if (plane == nullptr) std::longjmp(error.jump, 1);
  Plane* p = plane;
  if (grey) {
    std::uint8_t* table = colour_table(*p);
    for (int i = 0; i < 256; ++i) {
      table[4 * i + 0] = table[4 * i + 1] = table[4 * i + 2] = static_cast<std::uint8_t>(i);
      table[4 * i + 3] = 0;
    }
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = row_address(*p, static_cast<std::int32_t>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return p;
}

bool write_jpeg(const Plane& p, const Rect* rect, std::string& out) {
  Rect r;
  if (!cut_to_plane(p, rect, r)) return false;
  const std::uint32_t width = r.right - r.left;
  std::vector<std::uint8_t> row(std::size_t(width) * 3);
  jpeg_compress_struct info;
  JumpingError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jump_back;
  error.manager.output_message = no_message;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &length);
  info.image_width = width;
  info.image_height = static_cast<JDIMENSION>(r.bottom - r.top);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  for (std::int32_t y = r.top; y < r.bottom; ++y) {
    for (std::uint32_t i = 0; i < width; ++i) {
      const std::uint32_t c = read_pixel(p, r.left + static_cast<std::int32_t>(i), y);
      row[3 * i + 0] = (c >> 16) & 255;
      row[3 * i + 1] = (c >> 8) & 255;
      row[3 * i + 2] = c & 255;
    }
    JSAMPROW rows = row.data();
    jpeg_write_scanlines(&info, &rows, 1);
  }
  jpeg_finish_compress(&info);
  out.assign(reinterpret_cast<const char*>(buffer), length);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return true;
}

}  // namespace talven::graphics
