// Image files (BMP, PNG, JPEG), the "DIFF" delta images and the image and palette built-ins.
//
// Readers take the whole file in memory and return a new plane (nullptr on any failure, with
// nothing left allocated). Writers return the file's bytes (false when the rectangle is empty or
// the plane cannot be written in that format).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "graphics/planes.h"

namespace talven::graphics {

// Readers refuse a picture as soon as its header declares one that no plane may hold (plane_fits)
// or one larger than the file's data can describe, before anything is allocated for it.
Plane* read_bmp(const std::uint8_t* data, std::size_t size);
Plane* read_png(const std::uint8_t* data, std::size_t size);
Plane* read_jpeg(const std::uint8_t* data, std::size_t size);

// The rectangle (null: the whole plane) cut to the plane, coordinates put in order; false when empty.
bool cut_to_plane(const Plane& p, const Rect* rect, Rect& out);

// `rect` null: the whole plane. The rectangle is cut to the plane first.
bool write_bmp(const Plane& p, const Rect* rect, std::string& out);
bool write_png(const Plane& p, const Rect* rect, std::string& out);
bool write_jpeg(const Plane& p, const Rect* rect, std::string& out);

enum class ImageFormat { bmp, png, jpeg };
// By the last four characters of the name, compared without case.
ImageFormat image_format_for(const char* name);

// The largest image or delta file that is read at all. No file of a picture a plane may hold needs
// more: BMP, PNG and delta images stay within a few per cent of the pixel bytes, JPEG at its best
// quality within about a third more.
inline constexpr std::uint64_t kMaxImageFileBytes = kMaxPlaneBytes / 2 * 3;

// The plane read from a game path (through the archive layer, so archives and pack files work);
// nullptr on failure (no message).
Plane* load_image(const char* game_path);
// Writes the plane to a disk file at a game path; false on failure (no message).
bool save_image(const char* game_path, const Plane& p, const Rect* rect);

// Applies a delta image to the plane with (x, y) as the placement point. Every check is made, and
// the whole operation stream is walked, before any pixel changes: a refused image changes nothing.
// `rect_out` (when not null) receives the header's rectangle before any check.
bool apply_delta(Plane* p, std::int32_t x, std::int32_t y, const std::uint8_t* data, std::size_t size,
                 Rect* rect_out);

// The packed HSV conversions (hue 0..2047 in bits 16..26, saturation bits 8..15, value 0..7).
std::uint32_t rgb_to_hsv(std::uint32_t rgb);
std::uint32_t hsv_to_rgb(std::uint32_t hsv);

// Built-ins.
std::uint32_t bi_gload(vm::Address arguments);
std::uint32_t bi_gsave(vm::Address arguments);
std::uint32_t bi_dload(vm::Address arguments);
std::uint32_t bi_dcopy(vm::Address arguments);
std::uint32_t bi_pal_load(vm::Address arguments);
std::uint32_t bi_pal_set(vm::Address arguments);
std::uint32_t bi_pal_get(vm::Address arguments);
std::uint32_t bi_pal_sets(vm::Address arguments);
std::uint32_t bi_pal_gets(vm::Address arguments);
std::uint32_t bi_pal_change(vm::Address arguments);
std::uint32_t bi_rgbtohsv(vm::Address arguments);
std::uint32_t bi_hsvtorgb(vm::Address arguments);
std::uint32_t bi_ggetpal(vm::Address arguments);
std::uint32_t bi_gsetpal(vm::Address arguments);

}  // namespace talven::graphics
