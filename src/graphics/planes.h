// Planes: the engine's off-screen pictures, named by number through the plane table, and the
// drawing operations that work on them (blits, fills, lines, polygons, dirty rectangles).
//
// Pixel memory and colour tables live in script memory (scripts read them through `ginfo`). Rows
// are stored bottom-up: pixel (x, y) is at pixels + (height - y - 1) * pitch + bits * x / 8.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "vm/script_memory.h"

namespace talven::graphics {

inline constexpr std::uint32_t kPlaneSlots = 1024;

// What one plane may hold: at most 32768 pixels a side and 256 MiB of pixel memory (pitch x
// height). Planes live in the 4 GiB script address space beside everything else a script uses
// (programs, stacks, its heap, mload blocks); 256 MiB is a sixteenth of it, an 8192 x 8192 picture
// at 32 bits or 16384 x 5461 at 24, many times any screen or picture the engine's games draw,
// while a few such planes still leave the script room. Every plane is measured against it before
// memory is taken: galloc refuses a larger one, and image files are refused as soon as their
// header declares one, so a small file can never make the engine allocate more.
inline constexpr std::int32_t kMaxPlaneSide = 32768;
inline constexpr std::uint64_t kMaxPlaneBytes = std::uint64_t{256} << 20;

// Bytes per row of a plane: ((width * bits + 31) / 32) * 4.
inline constexpr std::uint64_t plane_pitch(std::uint64_t width, std::uint64_t bits) { return (width * bits + 31) / 32 * 4; }
// True when a plane of this shape may be created: a depth of 1, 4, 8, 16, 24 or 32 bits and a
// positive size within the limit above.
bool plane_fits(std::int64_t width, std::int64_t height, std::int64_t bits);

struct Rect {
  std::int32_t left, top, right, bottom;  // right and bottom exclusive
};

inline Rect intersection(const Rect& a, const Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}
inline bool empty(const Rect& r) { return r.left >= r.right || r.top >= r.bottom; }
// Every position a plane can have.
inline constexpr Rect kEverywhere{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};

struct Plane {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bits = 0;
  std::uint32_t pitch = 0;          // bytes per row, a multiple of 4
  std::uint32_t colour_count = 0;   // entries of the colour table: 2, 16, 256 or 0
  vm::Address header = 0;           // 40-byte bitmap header, then the colour table
  vm::Address pixels = 0;           // the bottom row
  Rect clip{};                      // drawing clip as a destination
  char name[260] = {};              // file name when read from a file
};

// The blit mode record as scripts pass it (12 bytes).
struct BlitMode {
  std::uint8_t mode = 0;
  std::uint8_t operation = 0;
  std::uint8_t opacity = 0;
  std::uint8_t parameter = 0;
  std::uint32_t key = 0;
  std::uint32_t colour = 0;
};

// ---- start-up -------------------------------------------------------------------------------
void build_pixel_tables();  // also in pixel_tables.h; first thing at start-up
// Palettes back to the 3-3-2 cube, pages to 0, plane 0 of Width x Height x Depth cleared to 0.
// The screen the configuration asks for, and whether row loops may use several threads.
struct GraphicsSettings {
  std::int32_t width = 640, height = 480, depth = 24;
  bool multi_threading = true;
  bool smoothing = true;  // Smoothing: turned and scaled sprites drawn bilinear
};
void graphics_start(const GraphicsSettings& settings);
// Everything of this module as at process start: no planes, the default palettes, pages 0, colour
// mapping off, pixel rows split over threads, an empty dirty list. graphics_start begins with it;
// tests call it to start from a known state.
void reset_graphics_state();
// Frees every plane and forgets the attachments; frees the sprites and hit regions.
void graphics_shutdown();
// Follows the MultiThreading setting unless changed here (tests compare both).
void set_multi_threading(bool on);
bool multi_threading();

// ---- the plane table ------------------------------------------------------------------------
Plane* plane(std::uint32_t number);           // nullptr: out of range or empty
Plane* attached_plane(std::uint32_t number);  // the plane in the slot this slot is attached to
std::int32_t view_page();
std::int32_t active_page();
void set_view_page(std::int32_t number);
void set_active_page(std::int32_t number);

// First byte of pixel (x, y); nullptr outside the plane.
std::uint8_t* pixel_address(const Plane* p, std::uint32_t x, std::uint32_t y);
inline std::uint8_t* row_address(const Plane& p, std::int32_t y) {
  return vm::host_pointer(p.pixels) + std::uint64_t(p.height - y - 1) * p.pitch;
}
inline std::uint8_t* colour_table(const Plane& p) { return vm::host_pointer(p.header) + 40; }

// Creates a plane in the slot (freeing what was there). False, with the user told, on failure.
bool allocate_plane(std::uint32_t number, std::int32_t width, std::int32_t height, std::int32_t bits);
void free_plane(std::uint32_t number);
// A plane that belongs to no slot yet (nullptr when the shape is refused), its release, and
// placing it in a slot (freeing what was there; the plane is released when the slot is invalid).
Plane* new_plane(std::int32_t width, std::int32_t height, std::int32_t bits);
void delete_plane(Plane* p);
void put_plane(std::uint32_t number, Plane* p);
// The highest slot number holding no plane, or -1 when every slot is taken.
std::int32_t highest_empty_slot();
// Replaces the allocation of pixel memory (zero-filled script memory; 0 when refused) so tests can
// see what is asked for. Null restores it.
using PixelAllocator = vm::Address (*)(std::uint32_t bytes);
void set_pixel_allocator_for_testing(PixelAllocator allocator);

// A colour as 0x00RRGGBB (0 outside the plane).
std::uint32_t read_pixel(const Plane& p, std::int32_t x, std::int32_t y);

// ---- drawing (the built-ins' engine side; all clip and never leave a plane) -----------------
// Every drawing call that reads one plane and writes another gives the result of reading the
// whole source (and mask) before writing, also when both are the same plane.
//
// True when the two planes' pixel memory overlaps.
bool shares_pixels(const Plane& a, const Plane& b);
// Stretch blit: null rectangles mean the whole plane; reversed coordinates mirror. Returns 0 when
// the call is refused (mode, depths, empty rectangle) or the copy of a source in the destination's
// own memory cannot be made, 1 otherwise.
int stretch_blit(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, Plane* mask, const BlitMode* mode);
int copy_blit(std::uint32_t dst, std::int32_t x, std::int32_t y, std::uint32_t src, const Rect* src_rect,
              const BlitMode* mode);
// The same between planes given directly, with the source's mask (nullptr: none).
int copy_blit_onto(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, Plane* mask, const Rect* src_rect,
                   const BlitMode* mode);
int rotated_blit(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, Plane* mask, const BlitMode* mode,
                 std::int32_t angle, bool bilinear, std::int32_t sub_x = 0, std::int32_t sub_y = 0);
int clear_rect(std::uint32_t plane, const Rect* rect, std::uint32_t colour);
int fill_rect(std::uint32_t plane, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
              std::uint32_t colour);
int draw_line(std::uint32_t plane, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::uint32_t colour);
int fill_polygon(std::uint32_t plane, const std::int32_t* xy_pairs, std::uint32_t count, std::uint32_t colour);
// The dirty-rectangle list (drt_init, drt_set) and the copy of its parts.
int dirty_count();
void clear_dirty_list();
// Appends a rectangle; when the list is full, it becomes one rectangle around everything held
// and the new one, and the answer is false (as drt_set answers).
bool add_dirty_rect(const Rect& r);
Rect dirty_rect(int index);
int dirty_copy(std::uint32_t dst, std::int32_t x, std::int32_t y, std::uint32_t src, const Rect* src_rect);
// dirty_copy in two steps, so that the copy can be cut into bands of rows drawn on several
// threads: the plan lists the pieces (disjoint, in destination coordinates) and takes the list's
// side effects; the pieces are then copied, the parts inside `rows` at a time, while the planes stay
// as they were planned.
struct DirtyCopy {
  Plane* destination = nullptr;
  const Plane* source = nullptr;  // or `area`, when the two planes share pixels
  std::unique_ptr<Plane, void (*)(Plane*)> area{nullptr, delete_plane};
  std::int64_t from_x = 0, from_y = 0;  // source position = destination position - (from_x, from_y)
  std::vector<Rect> pieces;
};
int plan_dirty_copy(std::uint32_t dst, std::int32_t x, std::int32_t y, std::uint32_t src, const Rect* src_rect,
                    DirtyCopy& plan);
void copy_dirty_pieces(const DirtyCopy& plan, const Rect& rows);

// ---- built-ins ------------------------------------------------------------------------------
std::uint32_t bi_pal_map(vm::Address arguments);
std::uint32_t bi_getpixel(vm::Address arguments);
std::uint32_t bi_gclip(vm::Address arguments);
std::uint32_t bi_ginit(vm::Address arguments);
std::uint32_t bi_galloc(vm::Address arguments);
std::uint32_t bi_gfree(vm::Address arguments);
std::uint32_t bi_gcopy(vm::Address arguments);
std::uint32_t bi_gblit(vm::Address arguments);
std::uint32_t bi_gblita(vm::Address arguments);
std::uint32_t bi_gclear(vm::Address arguments);
std::uint32_t bi_gfill(vm::Address arguments);
std::uint32_t bi_gline(vm::Address arguments);
std::uint32_t bi_gpoly(vm::Address arguments);
std::uint32_t bi_gattach(vm::Address arguments);
std::uint32_t bi_gdetach(vm::Address arguments);
std::uint32_t bi_ginfo(vm::Address arguments);
std::uint32_t bi_drt_init(vm::Address arguments);
std::uint32_t bi_drt_set(vm::Address arguments);
std::uint32_t bi_drt_copy(vm::Address arguments);

}  // namespace talven::graphics
