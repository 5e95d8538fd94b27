// Loading and saving planes by file name, delta images, and the image and palette built-ins.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/pack_file.h"
#include "graphics/image_files.h"
#include "graphics/palette.h"
#include "graphics/presentation.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/text_encoding.h"
#include "vm/report.h"
#include "vm/call_gate.h"

namespace talven::graphics {
namespace {

std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The whole content of an image or delta file through the archive layer; false when it cannot be
// opened or read, or is larger than any such file needs to be.
bool read_game_file(const char* game_path, std::vector<std::uint8_t>& out) {
  return archive::read_whole_exp_file(game_path, kMaxImageFileBytes, out);
}

}  // namespace

ImageFormat image_format_for(const char* name) {
  const std::size_t n = std::strlen(name);
  if (n < 4) return ImageFormat::bmp;
  std::string tail(name + n - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (tail == ".png") return ImageFormat::png;
  if (tail == ".jpg") return ImageFormat::jpeg;
  return ImageFormat::bmp;
}

Plane* load_image(const char* game_path) {
  std::vector<std::uint8_t> bytes;
  if (!read_game_file(game_path, bytes)) return nullptr;
  Plane* p = nullptr;
  switch (image_format_for(game_path)) {
    case ImageFormat::png: p = read_png(bytes.data(), bytes.size()); break;
    case ImageFormat::jpeg: p = read_jpeg(bytes.data(), bytes.size()); break;
    case ImageFormat::bmp: p = read_bmp(bytes.data(), bytes.size()); break;
  }
  if (p != nullptr) {
    std::strncpy(p->name, game_path, sizeof p->name - 1);
  }
  return p;
}

bool save_image(const char* game_path, const Plane& p, const Rect* rect) {
  std::string bytes;
  bool ok = false;
  switch (image_format_for(game_path)) {
    case ImageFormat::png: ok = write_png(p, rect, bytes); break;
    case ImageFormat::jpeg: ok = write_jpeg(p, rect, bytes); break;
    case ImageFormat::bmp: ok = write_bmp(p, rect, bytes); break;
  }
  // The new file replaces the old one only once it is complete, so a failed write leaves no half file.
  return ok && *game_path && platform::replace_file_atomically(platform::resolve_game_path(game_path), bytes);
}

namespace {

// Walks a delta image's operation stream from byte 32 with (x, y) as the placement point: checks
// that every copied pixel lands inside the plane and that the stream ends properly, and copies
// when `write`. The number of stream bytes (from the start of the data) goes to `used`. False,
// with nothing written, for a stream that is refused.
bool walk_delta(Plane& p, std::int64_t x, std::int64_t y, const std::uint8_t* data, std::size_t size, std::uint32_t b,
                bool write, std::size_t& used) {
  std::size_t i = 32;
  std::int64_t px = x, py = y;
  for (;;) {
    if (i >= size) return false;
    const std::uint8_t op = data[i++];
    if (op != 0) {
      px += op;
      continue;
    }
    if (i >= size) return false;
    const std::uint8_t n = data[i++];
    if (n == 0) {
      px = x;
      ++py;
    } else if (n == 1) {
      used = i;
      return true;
    } else {
      const std::uint64_t count = n - 1u;
      if (size - i < count * b) return false;
      if (py >= p.height || px + std::int64_t(count) > p.width) return false;
      if (write) std::memcpy(row_address(p, static_cast<std::int32_t>(py)) + px * b, data + i, count * b);
      i += count * b;
      px += count;
    }
  }
}

}  // namespace

bool apply_delta(Plane* p, std::int32_t x, std::int32_t y, const std::uint8_t* data, std::size_t size, Rect* rect_out) {
  if (data == nullptr) return false;
  if (rect_out != nullptr && size >= 32) {
    rect_out->left = static_cast<std::int32_t>(get32(data + 16));
    rect_out->top = static_cast<std::int32_t>(get32(data + 20));
    rect_out->right = static_cast<std::int32_t>(get32(data + 24));
    rect_out->bottom = static_cast<std::int32_t>(get32(data + 28));
  }
  if (p == nullptr || x < 0 || y < 0 || size < 32 || std::memcmp(data, "DIFF", 4) != 0) return false;
  const std::uint32_t bits = get32(data + 12);
  if (bits != std::uint32_t(p->bits) || bits < 8) return false;
  const std::int64_t left = static_cast<std::int32_t>(get32(data + 16)), top = static_cast<std::int32_t>(get32(data + 20)),
                     right = static_cast<std::int32_t>(get32(data + 24)), bottom = static_cast<std::int32_t>(get32(data + 28));
  if (left >= right || top >= bottom) return false;
  if (x + left < 0 || x + right > p->width || y + top < 0 || y + bottom > p->height) return false;

  // Two walks over the stream: the first only checks, the second copies. A stream held in the
  // plane's own pixels (dcopy takes any script address) would be changed by the copying walk,
  // which then could no longer trust the first walk's checks: it copies from a copy instead.
  const std::uint32_t b = bits / 8;
  std::size_t used = 0;
  if (!walk_delta(*p, x, y, data, size, b, false, used)) return false;
  const std::uint8_t* pixels = vm::host_pointer(p->pixels);
  const std::uint8_t* pixels_end = pixels + std::size_t(p->pitch) * std::size_t(p->height);
  std::vector<std::uint8_t> copy;
  if (std::less<>{}(data, pixels_end) && std::less<>{}(pixels, data + used)) {
    copy.assign(data, data + used);
    data = copy.data();
  }
  return walk_delta(*p, x, y, data, used, b, true, used);
}

std::uint32_t rgb_to_hsv(std::uint32_t rgb) {
  const int r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, bl = rgb & 255;
  const int mx = std::max({r, g, bl}), mn = std::min({r, g, bl}), d = mx - mn;
  const int v = mx;
  const int s = mx == 0 ? 0 : d * 255 / mx;
  int hue = 0;
  if (s != 0) {
    const int rr = (mx - r) * 255 / d, gg = (mx - g) * 255 / d, bb = (mx - bl) * 255 / d;
    int h = r == mx ? bb - gg : g == mx ? rr - bb + 512 : gg - rr + 1024;
    if (h < 0) h += 1536;
    hue = h * 2048 / 1536;
  }
  return std::uint32_t(hue) << 16 | std::uint32_t(s) << 8 | std::uint32_t(v);
}

std::uint32_t hsv_to_rgb(std::uint32_t hsv) {
  const std::uint32_t hue = (hsv >> 16) & 2047, s = (hsv >> 8) & 255, v = hsv & 255;
  if (s == 0) return v << 16 | v << 8 | v;
  const std::uint32_t h6 = hue * 1536, sector = h6 >> 19, f = (h6 >> 11) & 255;
  const std::uint32_t p = (255 - s) * v / 255, q = v * (255 - s * f / 255) / 255, t = v * (255 - s * (255 - f) / 255) / 255;
  std::uint32_t r, g, b;
  switch (sector) {
    case 0: r = v, g = t, b = p; break;
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    default: r = v, g = p, b = q; break;
  }
  return r << 16 | g << 8 | b;
}

// ---- built-ins ------------------------------------------------------------------------------

using vm::Address;
using vm::argument_int;
using vm::argument_word;

namespace {
std::string argument_string(Address arguments, int i) {
  const Address a = argument_word(arguments, i);
  if (a == 0) return {};
  auto s = vm::load_string(a, 4096);
  return s ? std::string(*s) : std::string();
}
}  // namespace

std::uint32_t bi_gload(Address arguments) {
  std::uint32_t number = argument_word(arguments, 0);
  const std::string name = argument_string(arguments, 1);
  if (number >= kPlaneSlots) {
    // As for galloc: the address of a variable that receives the highest empty slot.
    const Address variable = number;
    const std::int32_t found = highest_empty_slot();
    if (found < 0 || !vm::store(variable, found)) return 0;
    number = static_cast<std::uint32_t>(found);
  }
  free_plane(number);
  Plane* p = name.empty() ? nullptr : load_image(name.c_str());
  if (p == nullptr) {
    vm::report(1, platform::cp932("LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : %s"), name.c_str());
    return 0;
  }
  put_plane(number, p);
  return 1;
}

std::uint32_t bi_gsave(Address arguments) {
  const std::string name = argument_string(arguments, 0);
  const Plane* p = plane(argument_word(arguments, 1));
  const Address rect_address = argument_word(arguments, 2);
  Rect rect{};
  const bool rect_ok = rect_address == 0 || vm::load(rect_address, rect);
  if (p == nullptr || !rect_ok || name.empty() || !save_image(name.c_str(), *p, rect_address ? &rect : nullptr)) {
    vm::report(1, platform::cp932("SavePlane : 画像ファイルの書き込みに失敗しました。\nFile : %s"), name.c_str());
    return 0;
  }
  return 1;
}

namespace {
std::uint32_t delta_result(Address arguments, const std::uint8_t* data, std::size_t size) {
  Plane* p = plane(argument_word(arguments, 0));
  Rect rect{};
  const bool ok = apply_delta(p, argument_int(arguments, 1), argument_int(arguments, 2), data, size, &rect);
  const Address out = argument_word(arguments, 4);
  if (out != 0 && data != nullptr && size >= 32) vm::store(out, rect);
  return ok ? 1 : 0;
}
}  // namespace

std::uint32_t bi_dload(Address arguments) {
  const std::string name = argument_string(arguments, 3);
  std::vector<std::uint8_t> bytes;
  if (name.empty() || !read_game_file(name.c_str(), bytes)) return delta_result(arguments, nullptr, 0);
  return delta_result(arguments, bytes.data(), bytes.size());
}

std::uint32_t bi_dcopy(Address arguments) {
  const Address data = argument_word(arguments, 3);
  if (data == 0 || !vm::usable_range(data, 32)) return delta_result(arguments, nullptr, 0);
  // The stream's length is not stored: it may run to the end of script memory readable from here.
  std::size_t size = 32;
  while (size < (1u << 30) && vm::range_ok(data, size * 2)) size *= 2;
  for (std::size_t step = size / 2; step >= 1; step /= 2)
    if (vm::range_ok(data, size + step)) size += step;
  return delta_result(arguments, vm::host_pointer(data), size);
}

std::uint32_t bi_pal_set(Address arguments) {
  const std::uint32_t index = argument_word(arguments, 0);
  if (index > 255) return 0;
  script_palette()[index] = argument_word(arguments, 1);
  return 1;
}

std::uint32_t bi_pal_get(Address arguments) {
  const std::uint32_t index = argument_word(arguments, 0);
  return index > 255 ? 0 : script_palette()[index];
}

namespace {
// Copies between an array in script memory and the script palette; the number copied (0 refused).
std::uint32_t copy_script_palette(std::uint32_t start, std::int32_t count, Address colours, bool to_palette) {
  if (start > 255 || count < 1 || colours == 0) return 0;
  const std::uint32_t n = std::min<std::uint32_t>(std::uint32_t(count), 256 - start);
  std::uint8_t* array = vm::checked_pointer(colours, 4ull * n);
  if (array == nullptr) return 0;
  if (to_palette)
    std::memcpy(script_palette() + start, array, 4 * n);
  else
    std::memcpy(array, script_palette() + start, 4 * n);
  return n;
}

// The same with a plane's colour table (planes of 8 bits or fewer).
std::uint32_t copy_plane_table(Plane* p, std::uint32_t start, std::int32_t count, Address colours, bool to_plane) {
  if (p == nullptr || p->bits > 8 || start >= p->colour_count || count < 1 || colours == 0) return 0;
  const std::uint32_t n = std::min<std::uint32_t>(std::uint32_t(count), p->colour_count - start);
  std::uint8_t* array = vm::checked_pointer(colours, 4ull * n);
  if (array == nullptr) return 0;
  std::uint8_t* table = colour_table(*p) + 4 * start;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (to_plane) {
      std::uint32_t c;
      std::memcpy(&c, array + 4 * i, 4);
      table[4 * i + 0] = c & 255;
      table[4 * i + 1] = (c >> 8) & 255;
      table[4 * i + 2] = (c >> 16) & 255;
    } else {
      const std::uint32_t c = std::uint32_t(table[4 * i + 2]) << 16 | std::uint32_t(table[4 * i + 1]) << 8 | table[4 * i];
      std::memcpy(array + 4 * i, &c, 4);
    }
  }
  return n;
}
}  // namespace

std::uint32_t bi_pal_sets(Address arguments) {
  return copy_script_palette(argument_word(arguments, 0), argument_int(arguments, 1), argument_word(arguments, 2), true) ? 1 : 0;
}

std::uint32_t bi_pal_gets(Address arguments) {
  return copy_script_palette(argument_word(arguments, 0), argument_int(arguments, 1), argument_word(arguments, 2), false) ? 1 : 0;
}

std::uint32_t bi_ggetpal(Address arguments) {
  const std::int32_t number = argument_int(arguments, 0);
  const std::uint32_t start = argument_word(arguments, 1);
  const std::int32_t count = argument_int(arguments, 2);
  const Address colours = argument_word(arguments, 3);
  if (number == -1) return copy_script_palette(start, count, colours, false);
  return copy_plane_table(plane(static_cast<std::uint32_t>(number)), start, count, colours, false);
}

std::uint32_t bi_gsetpal(Address arguments) {
  const std::int32_t number = argument_int(arguments, 0);
  const std::uint32_t start = argument_word(arguments, 1);
  const std::int32_t count = argument_int(arguments, 2);
  const Address colours = argument_word(arguments, 3);
  if (number == -1) return copy_script_palette(start, count, colours, true);
  return copy_plane_table(plane(static_cast<std::uint32_t>(number)), start, count, colours, true);
}

std::uint32_t bi_pal_load(Address arguments) {
  const Plane* p = plane(argument_word(arguments, 0));
  const std::uint32_t first = argument_word(arguments, 1), start = argument_word(arguments, 2);
  const std::int32_t count = argument_int(arguments, 3);
  if (p == nullptr || p->bits > 8 || start >= p->colour_count || first > 255 || count < 1) return 0;
  const std::uint32_t n = std::min({std::uint32_t(count), p->colour_count - start, 256 - first});
  const std::uint8_t* table = colour_table(*p) + 4 * start;
  for (std::uint32_t i = 0; i < n; ++i)
    script_palette()[first + i] =
        std::uint32_t(table[4 * i + 2]) << 16 | std::uint32_t(table[4 * i + 1]) << 8 | table[4 * i];
  return n;
}

std::uint32_t bi_pal_change(Address) {
  for (int i = 0; i < 256; ++i) set_screen_palette_entry(i, script_palette()[i]);
  const Plane* view = plane(static_cast<std::uint32_t>(view_page()));
  if (view != nullptr && view->bits == 8) request_repaint();
  return 1;
}

std::uint32_t bi_rgbtohsv(Address arguments) { return rgb_to_hsv(argument_word(arguments, 0)); }
std::uint32_t bi_hsvtorgb(Address arguments) { return hsv_to_rgb(argument_word(arguments, 0)); }

}  // namespace talven::graphics
