// BMP files: reading (with or without the file header; core, 40-byte and the longer headers of
// 52, 56, 64, 108 and 124 bytes; colour tables, RLE8 and RLE4 compression, bit-field layouts,
// top-down rows) and writing (40-byte headers).
#include <algorithm>
#include <cstring>

#include "graphics/image_files.h"

namespace talven::graphics {
namespace {

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
void put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 255));
  out.push_back(static_cast<char>((v >> 8) & 255));
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Compression values of the header.
constexpr std::uint32_t kUncompressed = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

// Where each channel sits in a 16 or 32-bit pixel.
struct ChannelMasks {
  std::uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};

struct BmpHeader {
  std::uint32_t size = 0;  // of the info header: 12, 40, 52, 56, 64, 108 or 124
  std::int32_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = 0, image_size = 0, colours_used = 0;
  bool core = false;
  ChannelMasks masks;  // bit-field layouts only
};

// One channel of a bit-field layout: its place and width, and the exact scale to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t largest = 0;  // the mask shifted down: the channel's full value
  std::uint8_t scaled(std::uint32_t pixel) const {
    const std::uint32_t v = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((std::uint64_t(v) * 255 + largest / 2) / largest);
  }
};

// A mask is usable when it is one run of set bits inside the pixel.
bool contiguous_within(std::uint32_t mask, std::uint32_t bits) {
  if (mask == 0 || (bits < 32 && (mask >> bits) != 0)) return false;
  const std::uint32_t low = mask >> __builtin_ctz(mask);
  return (low & (low + 1)) == 0;
}

Channel channel_of(std::uint32_t mask) {
  Channel c;
  c.mask = mask;
  c.shift = mask == 0 ? 0 : __builtin_ctz(mask);
  c.largest = mask >> c.shift;
  return c;
}

// The masks of a bit-field file: red, green and blue present, every mask one run of bits inside
// the pixel, no two overlapping. The alpha mask may be absent (0).
bool usable_masks(const ChannelMasks& m, std::uint32_t bits) {
  if (bits != 16 && bits != 32) return false;
  for (std::uint32_t mask : {m.red, m.green, m.blue})
    if (!contiguous_within(mask, bits)) return false;
  if (m.alpha != 0 && !contiguous_within(m.alpha, bits)) return false;
  const std::uint32_t all[] = {m.red, m.green, m.blue, m.alpha};
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      if ((all[i] & all[j]) != 0) return false;
  return true;
}

bool is_555(const ChannelMasks& m) { return m.red == 0x7C00 && m.green == 0x03E0 && m.blue == 0x001F && m.alpha == 0; }

// The plane a converted bit-field file becomes: 24-bit, or 32-bit when it carries alpha.
std::uint32_t plane_bits_for(const BmpHeader& h) { return h.bits == 32 || h.masks.alpha != 0 ? 32 : 24; }

// Converts the rows of a bit-field picture into `p` (24 or 32-bit), turning file rows the right
// way up. Alpha comes from its mask; without one, or when every pixel's alpha is zero (what tools
// write for "no alpha" with the mask still set), the picture is opaque.
void convert_bit_fields(const BmpHeader& h, const std::uint8_t* source, std::uint64_t source_pitch, bool top_down,
                        Plane& p) {
  const Channel red = channel_of(h.masks.red), green = channel_of(h.masks.green), blue = channel_of(h.masks.blue),
                alpha = channel_of(h.masks.alpha);
  const int source_bytes = static_cast<int>(h.bits / 8), target_bytes = p.bits / 8;
  auto pixel_at = [&](std::int64_t row, std::int64_t x) {
    const std::uint8_t* q = source + std::uint64_t(row) * source_pitch + std::uint64_t(x) * source_bytes;
    return source_bytes == 2 ? std::uint32_t(get16(q)) : get32(q);
  };
  bool alpha_seen = false;
  if (h.masks.alpha != 0)
    for (std::int64_t row = 0; row < p.height && !alpha_seen; ++row)
      for (std::int64_t x = 0; x < p.width; ++x)
        if ((pixel_at(row, x) & h.masks.alpha) != 0) {
          alpha_seen = true;
          break;
        }
  std::uint8_t* pixels = vm::host_pointer(p.pixels);
  for (std::int64_t row = 0; row < p.height; ++row) {
    std::uint8_t* out = pixels + std::uint64_t(top_down ? p.height - 1 - row : row) * p.pitch;
    for (std::int64_t x = 0; x < p.width; ++x, out += target_bytes) {
      const std::uint32_t v = pixel_at(row, x);
      out[0] = blue.scaled(v);
      out[1] = green.scaled(v);
      out[2] = red.scaled(v);
      if (target_bytes == 4) out[3] = alpha_seen ? alpha.scaled(v) : 255;
    }
  }
}

// Writes one index into an 8 or 4-bit plane; positions outside the plane are ignored.
void put_index(Plane& p, std::int64_t x, std::int64_t bottom_y, std::uint8_t value) {
  if (x < 0 || x >= p.width || bottom_y < 0 || bottom_y >= p.height) return;
  std::uint8_t* row = vm::host_pointer(p.pixels) + std::uint64_t(bottom_y) * p.pitch;
  if (p.bits == 8) {
    row[x] = value;
  } else {
    std::uint8_t& b = row[x / 2];
    b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (value & 15)) : static_cast<std::uint8_t>((b & 0x0F) | value << 4);
  }
}

// RLE8 (bits 8) and RLE4 (bits 4). Rows run from the bottom. False when the data ends before the
// end-of-picture code and the last row is not yet reached.
bool decode_rle(Plane& p, const std::uint8_t* data, std::size_t size) {
  const bool four = p.bits == 4;
  std::size_t i = 0;
  std::int64_t x = 0, y = 0;
  while (y < p.height) {
    if (i + 2 > size) return false;
    const std::uint8_t count = data[i], value = data[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k) {
        const std::uint8_t v = four ? ((k & 1) ? value & 15 : value >> 4) : value;
        put_index(p, x++, y, v);
      }
      continue;
    }
    if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (i + 2 > size) return false;
      x += data[i];
      y += data[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = four ? (value + 1u) / 2 : value;
      if (i + bytes > size) return false;
      for (int k = 0; k < value; ++k) {
        const std::uint8_t v = four ? ((k & 1) ? data[i + k / 2] & 15 : data[i + k / 2] >> 4) : data[i + k];
        put_index(p, x++, y, v);
      }
      i += (bytes + 1) & ~std::size_t(1);
    }
  }
  return true;
}

// True when the pixel data present (`available` bytes from the pixel offset) holds the header's
// image size and can describe the whole picture the header declares: every uncompressed row (the
// last one's padding may be missing), or, run-length encoded, no more pixels than 255 for every
// two bytes of the stream (a run, the densest code, sets 255 pixels with two bytes; the stream's
// skips may still leave pixels unset).
bool picture_in_data(const BmpHeader& h, std::uint64_t pitch, std::uint64_t height, std::uint64_t available) {
  if (available < h.image_size) return false;
  if (h.compression == 1 || h.compression == 2) {
    return std::uint64_t(h.width) * height <= std::uint64_t{h.image_size} / 2 * 255;
  }
  const std::uint64_t last_row = (std::uint64_t(h.width) * h.bits + 7) / 8;
  return available >= pitch * (height - 1) + last_row;
}

}  // namespace

Plane* read_bmp(const std::uint8_t* data, std::size_t size) {
  std::size_t header_at = 0, pixel_offset = 0;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
    if (size < 14) return nullptr;
    pixel_offset = get32(data + 10);
    header_at = 14;
  }
  if (size < header_at + 12) return nullptr;
  BmpHeader h;
  h.size = get32(data + header_at);
  const std::uint8_t* b = data + header_at;
  if (h.size == 12) {
    h.core = true;
    h.width = get16(b + 4);
    h.height = get16(b + 6);
    h.bits = get16(b + 10);
  } else if (h.size == 40 || h.size == 52 || h.size == 56 || h.size == 64 || h.size == 108 || h.size == 124) {
    // The longer headers begin as the 40-byte one does; what follows is masks (52 and up, but not
    // the 64-byte one of OS/2) and colour-space data, which is ignored.
    if (size < header_at + h.size) return nullptr;
    h.width = static_cast<std::int32_t>(get32(b + 4));
    h.height = static_cast<std::int32_t>(get32(b + 8));
    h.bits = get16(b + 14);
    h.compression = get32(b + 16);
    h.image_size = get32(b + 20);
    h.colours_used = get32(b + 32);
  } else {
    return nullptr;
  }
  const bool top_down = h.height < 0;
  const std::int64_t height = top_down ? -std::int64_t(h.height) : h.height;

  // Compression: none, RLE for the depth it belongs to, or bit fields. The colour table starts
  // after the whole header, and after the masks that follow a 40-byte one.
  std::size_t table_at = header_at + h.size;
  bool rle = false, bit_fields = false;
  switch (h.compression) {
    case kUncompressed: break;
    case kRle8: rle = h.bits == 8; if (!rle || top_down) return nullptr; break;
    case kRle4: rle = h.bits == 4; if (!rle || top_down) return nullptr; break;
    case kBitFields:
    case kAlphaBitFields: {
      // Compression 3 in the 64-byte OS/2 header is its Huffman coding, which no game needs.
      if (h.core || h.size == 64) return nullptr;
      const bool with_alpha = h.compression == kAlphaBitFields;
      const std::uint8_t* m = b + 40;
      if (h.size == 40) {
        const std::size_t mask_bytes = with_alpha ? 16 : 12;
        if (size < table_at + mask_bytes) return nullptr;
        m = data + table_at;
        table_at += mask_bytes;
      }
      // The alpha mask is there in headers of 56 bytes and more, and after a 40-byte one with
      // compression 6.
      const bool alpha_given = h.size >= 56 || (h.size == 40 && with_alpha);
      h.masks = {get32(m), get32(m + 4), get32(m + 8), alpha_given ? get32(m + 12) : 0u};
      if (!usable_masks(h.masks, h.bits)) return nullptr;
      bit_fields = true;
      break;
    }
    default: return nullptr;
  }
  // What loaded before the longer headers stays exactly as it was: a 40-byte header whose masks
  // name the plane's own layout has its pixels copied, the fourth byte of 32-bit pixels included.
  // 16-bit 5-5-5 is the plane's own layout in every header.
  const bool own_layout = (h.bits == 16 && is_555(h.masks)) ||
                          (h.size == 40 && h.compression == kBitFields && h.bits == 32 && h.masks.red == 0xFF0000 &&
                           h.masks.green == 0xFF00 && h.masks.blue == 0xFF);
  const bool convert = bit_fields && !own_layout;
  const std::uint32_t plane_bits = convert ? plane_bits_for(h) : h.bits;
  if (!plane_fits(h.width, height, plane_bits) || !plane_fits(h.width, height, h.bits)) return nullptr;
  const std::uint64_t pitch = plane_pitch(std::uint64_t(h.width), h.bits);
  const std::uint64_t full_size = pitch * std::uint64_t(height);

  const std::uint32_t max_colours = h.bits <= 8 ? (1u << h.bits) : 256u;
  if (h.colours_used == 0 || h.core) h.colours_used = h.bits <= 8 ? (1u << h.bits) : 0;
  if (h.colours_used > max_colours) h.colours_used = max_colours;
  const std::size_t entry = h.core ? 3 : 4;
  const std::size_t table_bytes = entry * h.colours_used;
  if (table_at + table_bytes > size) return nullptr;

  std::size_t pixels_at = pixel_offset != 0 ? pixel_offset : table_at + table_bytes;
  if (pixels_at > size) return nullptr;
  if (!rle && (h.image_size == 0 || h.image_size > full_size)) h.image_size = static_cast<std::uint32_t>(full_size);
  if (rle && (h.image_size == 0 || h.image_size > size - pixels_at)) h.image_size = static_cast<std::uint32_t>(size - pixels_at);
  if (!picture_in_data(h, pitch, std::uint64_t(height), size - pixels_at)) return nullptr;

  Plane* p = new_plane(h.width, static_cast<std::int32_t>(height), static_cast<std::int32_t>(plane_bits));
  if (p == nullptr) return nullptr;
  if (h.bits <= 8) {
    std::uint8_t* table = colour_table(*p);
    std::memset(table, 0, 4u << h.bits);
    for (std::uint32_t i = 0; i < h.colours_used; ++i) {
      std::memcpy(table + 4 * i, data + table_at + entry * i, 3);
      table[4 * i + 3] = h.core ? 0 : data[table_at + entry * i + 3];
    }
    p->colour_count = h.colours_used;
    std::uint8_t* hb = vm::host_pointer(p->header);
    std::memcpy(hb + 32, &h.colours_used, 4);
    std::memcpy(hb + 36, &h.colours_used, 4);
  }
  std::uint8_t* pixels = vm::host_pointer(p->pixels);
  const std::uint8_t* source = data + pixels_at;
  if (convert) {
    convert_bit_fields(h, source, pitch, top_down, *p);
  } else if (rle) {
    if (!decode_rle(*p, source, h.image_size)) {
      delete_plane(p);
      return nullptr;
    }
  } else if (top_down) {
    const std::uint64_t rows = h.image_size / pitch;
    for (std::uint64_t r = 0; r < rows; ++r) std::memcpy(pixels + (height - 1 - r) * pitch, source + r * pitch, pitch);
  } else {
    std::memcpy(pixels, source, h.image_size);
  }
  return p;
}

namespace {
// The rectangle cut to the plane; false when nothing is left.
bool cut_rect(const Plane& p, const Rect* rect, Rect& r) {
  r = rect ? *rect : Rect{0, 0, p.width, p.height};
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, p.width);
  r.bottom = std::min(r.bottom, p.height);
  return r.left < r.right && r.top < r.bottom;
}
}  // namespace

bool cut_to_plane(const Plane& p, const Rect* rect, Rect& r) { return cut_rect(p, rect, r); }

bool write_bmp(const Plane& p, const Rect* rect, std::string& out) {
  Rect r;
  if (!cut_rect(p, rect, r)) return false;
  const std::uint32_t width = r.right - r.left, height = r.bottom - r.top;
  const std::uint32_t row_bytes = ((p.bits * width + 31) / 32) * 4;
  const std::uint32_t image_size = row_bytes * height;
  const std::uint32_t colours = p.colour_count;
  out.clear();
  out.reserve(54 + 4 * colours + image_size);
  out += "BM";
  put32(out, 54 + 4 * colours + image_size);
  put32(out, 0);
  put32(out, 54 + 4 * colours);
  put32(out, 40);
  put32(out, width);
  put32(out, height);
  put16(out, 1);
  put16(out, static_cast<std::uint32_t>(p.bits));
  put32(out, 0);
  put32(out, image_size);
  put32(out, 0);
  put32(out, 0);
  put32(out, colours);
  put32(out, colours);
  out.append(reinterpret_cast<const char*>(colour_table(p)), 4 * colours);
  std::string row(row_bytes, '\0');
  for (std::int32_t y = r.bottom - 1; y >= r.top; --y) {
    const std::uint8_t* src = row_address(p, y);
    if (p.bits >= 8) {
      std::memcpy(row.data(), src + std::uint64_t(r.left) * (p.bits / 8), std::uint64_t(width) * (p.bits / 8));
    } else {
      // 1 and 4-bit rows start at a bit that need not be byte aligned: move pixel by pixel.
      std::fill(row.begin(), row.end(), '\0');
      const int per_byte = 8 / p.bits, mask = (1 << p.bits) - 1;
      for (std::uint32_t i = 0; i < width; ++i) {
        const std::uint32_t sx = r.left + i;
        const int v = (src[sx / per_byte] >> ((per_byte - 1 - sx % per_byte) * p.bits)) & mask;
        row[i / per_byte] = static_cast<char>(row[i / per_byte] | v << ((per_byte - 1 - i % per_byte) * p.bits));
      }
    }
    out += row;
  }
  return true;
}

}  // namespace talven::graphics
