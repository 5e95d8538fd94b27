// BMP files made byte by byte, for the reader's tests and the fuzz target's seeds.
#pragma once
#include <cstdint>
#include <string>

namespace talven::graphics::test {

inline void put_le(std::string& f, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) f.push_back(static_cast<char>(v >> (8 * i)));
}

struct Masks {
  std::uint32_t red, green, blue, alpha;
};

// A whole BMP file: file header, an info header of `header_size` bytes (masks at 40 when it has
// room for them, zero-filled colour-space data after), masks after a 40-byte header for bit
// fields, `gap` bytes before the pixels, which the file header's offset points past.
inline std::string bmp_file(std::uint32_t header_size, int width, int height, int bits, std::uint32_t compression,
                     const Masks& m, const std::string& table, const std::string& pixels, std::size_t gap = 0) {
  std::string info;
  put_le(info, header_size, 4), put_le(info, width, 4), put_le(info, height, 4), put_le(info, 1, 2), put_le(info, bits, 2);
  put_le(info, compression, 4), put_le(info, static_cast<std::uint32_t>(pixels.size()), 4), put_le(info, 2835, 4);
  put_le(info, 2835, 4), put_le(info, static_cast<std::uint32_t>(table.size() / 4), 4), put_le(info, 0, 4);
  if (header_size >= 52 && header_size != 64) put_le(info, m.red, 4), put_le(info, m.green, 4), put_le(info, m.blue, 4);
  if (header_size >= 56 && header_size != 64) put_le(info, m.alpha, 4);
  info.resize(header_size, '\0');
  if (header_size >= 108) info[56] = 's', info[57] = 'R', info[58] = 'G', info[59] = 'B';  // colour space, ignored
  if (header_size == 40 && (compression == 3 || compression == 6)) {
    put_le(info, m.red, 4), put_le(info, m.green, 4), put_le(info, m.blue, 4);
    if (compression == 6) put_le(info, m.alpha, 4);
  }
  const std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size() + table.size() + gap);
  std::string f = "BM";
  put_le(f, offset + static_cast<std::uint32_t>(pixels.size()), 4), put_le(f, 0, 4), put_le(f, offset, 4);
  return f + info + table + std::string(gap, '\x5A') + pixels;
}

}  // namespace talven::graphics::test
