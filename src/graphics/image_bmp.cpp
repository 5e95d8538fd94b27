// BMP files: reading (with or without the file header, core or 40-byte headers, colour tables,
// RLE8 and RLE4 compression, top-down rows) and writing.
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

struct BmpHeader {
  std::int32_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = 0, image_size = 0, colours_used = 0;
  bool core = false;
};

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
  const std::uint32_t header_size = get32(data + header_at);
  BmpHeader h;
  if (header_size == 12) {
    h.core = true;
    h.width = get16(data + header_at + 4);
    h.height = get16(data + header_at + 6);
    h.bits = get16(data + header_at + 10);
  } else if (header_size == 40) {
    if (size < header_at + 40) return nullptr;
    const std::uint8_t* b = data + header_at;
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
  if (!plane_fits(h.width, height, h.bits)) return nullptr;
  const std::uint64_t pitch = plane_pitch(std::uint64_t(h.width), h.bits);
  const std::uint64_t full_size = pitch * std::uint64_t(height);

  // Compression: none, RLE for the depth it belongs to, or bit fields that name the plane's own layout.
  std::size_t table_at = header_at + header_size;
  bool rle = false;
  switch (h.compression) {
    case 0: break;
    case 1: rle = h.bits == 8; if (!rle || top_down) return nullptr; break;
    case 2: rle = h.bits == 4; if (!rle || top_down) return nullptr; break;
    case 3: {
      if (size < table_at + 12) return nullptr;
      const std::uint32_t r = get32(data + table_at), g = get32(data + table_at + 4), b = get32(data + table_at + 8);
      const bool plain = (h.bits == 16 && r == 0x7C00 && g == 0x03E0 && b == 0x001F) ||
                         (h.bits == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF);
      if (!plain) return nullptr;
      table_at += 12;
      break;
    }
    default: return nullptr;
  }

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

  Plane* p = new_plane(h.width, static_cast<std::int32_t>(height), static_cast<std::int32_t>(h.bits));
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
  if (rle) {
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
