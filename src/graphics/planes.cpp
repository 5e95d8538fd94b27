// The plane table, plane creation and the plane built-ins that do not draw.
#include "graphics/planes.h"

#include "graphics/sprites.h"
#include "graphics/text.h"

#include <cstring>

#include "graphics/palette.h"
#include "graphics/pixel_tables.h"
#include "graphics/presentation.h"
#include "platform/text_encoding.h"
#include "vm/report.h"
#include "vm/call_gate.h"

namespace talven::graphics {
namespace {

struct Slot {
  Plane* plane = nullptr;
  std::int32_t attached = -1;  // slot number of the mask, -1 for none
};

Slot g_slots[kPlaneSlots];
std::int32_t g_view_page = 0;
std::int32_t g_active_page = 0;
bool g_multi_threading = true;  // MultiThreading, set by graphics_start

void put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
void put16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }

void write_default_colours(Plane& p) {
  std::uint8_t* table = colour_table(p);
  auto set = [&](std::uint32_t i, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    table[4 * i + 0] = static_cast<std::uint8_t>(b);
    table[4 * i + 1] = static_cast<std::uint8_t>(g);
    table[4 * i + 2] = static_cast<std::uint8_t>(r);
    table[4 * i + 3] = 0;
  };
  if (p.bits == 1) {
    set(0, 0, 0, 0);
    set(1, 255, 255, 255);
  } else if (p.bits == 4) {
    for (std::uint32_t i = 0; i < 16; ++i) {
      set(i, ((i >> 2) * 255) >> 1, (((((i >> 1) & 4) | (i & 2)) >> 1) * 255) >> 1, (((((i >> 2) & 2) | (i & 1))) * 255) >> 1);
    }
  } else if (p.bits == 8) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t c = cube_332_colour(static_cast<int>(i));
      set(i, c >> 16, (c >> 8) & 255, c & 255);
    }
  }
}

void release(Plane* p) {
  if (p == nullptr) return;
  if (p->pixels) vm::script_free(p->pixels);
  if (p->header) vm::script_free(p->header);
  delete p;
}

PixelAllocator g_allocate_pixels = nullptr;

// A plane of the given shape, or nullptr when plane_fits refuses it or memory runs out.
Plane* create(std::int32_t width, std::int32_t height, std::int32_t bits) {
  if (!plane_fits(width, height, bits)) return nullptr;
  const std::uint64_t pitch = plane_pitch(std::uint64_t(width), std::uint64_t(bits));
  const std::uint64_t size = pitch * std::uint64_t(height);
  Plane* p = new Plane;
  p->width = width;
  p->height = height;
  p->bits = bits;
  p->pitch = static_cast<std::uint32_t>(pitch);
  p->colour_count = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  p->header = vm::script_alloc_zeroed(40 + 4 * p->colour_count);
  p->pixels = g_allocate_pixels ? g_allocate_pixels(static_cast<std::uint32_t>(size))
                                : vm::script_alloc_zeroed(static_cast<std::uint32_t>(size));
  if (p->header == 0 || p->pixels == 0) {
    release(p);
    return nullptr;
  }
  std::uint8_t* h = vm::host_pointer(p->header);
  put32(h + 0, 40);
  put32(h + 4, static_cast<std::uint32_t>(width));
  put32(h + 8, static_cast<std::uint32_t>(height));
  put16(h + 12, 1);
  put16(h + 14, static_cast<std::uint16_t>(bits));
  put32(h + 16, 0);
  put32(h + 20, static_cast<std::uint32_t>(size));
  put32(h + 32, p->colour_count);
  put32(h + 36, p->colour_count);
  write_default_colours(*p);
  p->clip = {0, 0, width, height};
  return p;
}

}  // namespace

bool plane_fits(std::int64_t width, std::int64_t height, std::int64_t bits) {
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (width <= 0 || height <= 0 || width > kMaxPlaneSide || height > kMaxPlaneSide) return false;
  return plane_pitch(std::uint64_t(width), std::uint64_t(bits)) * std::uint64_t(height) <= kMaxPlaneBytes;
}

void set_pixel_allocator_for_testing(PixelAllocator allocator) { g_allocate_pixels = allocator; }

Plane* new_plane(std::int32_t width, std::int32_t height, std::int32_t bits) { return create(width, height, bits); }
void delete_plane(Plane* p) { release(p); }

void put_plane(std::uint32_t number, Plane* p) {
  if (number >= kPlaneSlots) {
    release(p);
    return;
  }
  free_plane(number);
  g_slots[number].plane = p;
}

std::int32_t highest_empty_slot() {
  for (std::int32_t i = kPlaneSlots - 1; i >= 0; --i)
    if (g_slots[i].plane == nullptr) return i;
  return -1;
}

void set_multi_threading(bool on) { g_multi_threading = on; }
bool multi_threading() { return g_multi_threading; }

Plane* plane(std::uint32_t number) { return number < kPlaneSlots ? g_slots[number].plane : nullptr; }

Plane* attached_plane(std::uint32_t number) {
  if (number >= kPlaneSlots) return nullptr;
  const std::int32_t a = g_slots[number].attached;
  return a >= 0 ? g_slots[a].plane : nullptr;
}

std::int32_t view_page() { return g_view_page; }
std::int32_t active_page() { return g_active_page; }
void set_view_page(std::int32_t number) { g_view_page = number; }
void set_active_page(std::int32_t number) { g_active_page = number; }

std::uint8_t* pixel_address(const Plane* p, std::uint32_t x, std::uint32_t y) {
  if (p == nullptr || x >= std::uint32_t(p->width) || y >= std::uint32_t(p->height)) return nullptr;
  return row_address(*p, static_cast<std::int32_t>(y)) + (std::uint64_t(p->bits) * x) / 8;
}

void free_plane(std::uint32_t number) {
  if (number >= kPlaneSlots) return;
  release(g_slots[number].plane);
  g_slots[number].plane = nullptr;
}

bool allocate_plane(std::uint32_t number, std::int32_t width, std::int32_t height, std::int32_t bits) {
  if (number >= kPlaneSlots) return false;
  free_plane(number);
  g_slots[number].plane = create(width, height, bits);
  if (g_slots[number].plane == nullptr) {
    vm::report(1, "%s", platform::cp932("CreatePlane : 仮想画面の作成に失敗しました。"));
    return false;
  }
  return true;
}

std::uint32_t read_pixel(const Plane& p, std::int32_t x, std::int32_t y) {
  const std::uint8_t* a = pixel_address(&p, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
  if (a == nullptr) return 0;
  auto entry = [&](std::uint32_t index) -> std::uint32_t {
    if (index >= p.colour_count) return 0;
    const std::uint8_t* e = colour_table(p) + 4 * index;
    return std::uint32_t(e[2]) << 16 | std::uint32_t(e[1]) << 8 | e[0];
  };
  switch (p.bits) {
    case 1: return entry((*a >> (7 - (x & 7))) & 1);
    case 4: return entry((x & 1) ? (*a & 15) : (*a >> 4));
    case 8: return entry(*a);
    case 16: {
      const std::uint32_t v = a[0] | std::uint32_t(a[1]) << 8;
      auto x8 = [](std::uint32_t c) { return (c << 3) | (c >> 2); };
      return x8((v >> 10) & 31) << 16 | x8((v >> 5) & 31) << 8 | x8(v & 31);
    }
    default: return std::uint32_t(a[2]) << 16 | std::uint32_t(a[1]) << 8 | a[0];
  }
}

void reset_graphics_state() {
  build_pixel_tables();
  graphics_shutdown();
  reset_palettes();
  set_color_mapping(false);
  g_view_page = g_active_page = 0;
  set_multi_threading(true);
  clear_dirty_list();
}

void graphics_start(const GraphicsSettings& settings) {
  reset_graphics_state();
  set_multi_threading(settings.multi_threading);
  presentation_start(settings.width, settings.height);
  sprites_start(settings.smoothing);
  // A new plane's pixels are zero already: the screen starts black without a clear.
  allocate_plane(0, settings.width, settings.height, settings.depth);
}

void graphics_shutdown() {
  sprites_stop();
  reset_fonts();
  for (std::uint32_t i = 0; i < kPlaneSlots; ++i) {
    free_plane(i);
    g_slots[i].attached = -1;
  }
}

// ---- built-ins ------------------------------------------------------------------------------

using vm::Address;
using vm::argument_int;
using vm::argument_word;

std::uint32_t bi_galloc(Address arguments) {
  std::uint32_t number = argument_word(arguments, 0);
  const std::int32_t width = argument_int(arguments, 1), height = argument_int(arguments, 2),
                     bits = argument_int(arguments, 3);
  if (number >= kPlaneSlots) {
    const Address variable = number;
    std::int32_t found = -1;
    for (std::int32_t i = kPlaneSlots - 1; i >= 0; --i) {
      if (g_slots[i].plane == nullptr) {
        found = i;
        break;
      }
    }
    if (!vm::store(variable, found) || found < 0) return 0;
    number = static_cast<std::uint32_t>(found);
  }
  return allocate_plane(number, width, height, bits) ? 1 : 0;
}

std::uint32_t bi_gfree(Address arguments) {
  const std::uint32_t number = argument_word(arguments, 0);
  if (number >= kPlaneSlots) return 0;
  if (std::int32_t(number) != g_view_page && std::int32_t(number) != g_active_page) free_plane(number);
  g_slots[number].attached = -1;
  return 1;
}

std::uint32_t bi_ginit(Address) {
  for (std::uint32_t i = 0; i < kPlaneSlots; ++i) {
    if (std::int32_t(i) != g_view_page && std::int32_t(i) != g_active_page) free_plane(i);
    g_slots[i].attached = -1;
  }
  return 1;
}

std::uint32_t bi_gclip(Address arguments) {
  Plane* p = plane(argument_word(arguments, 0));
  if (p == nullptr) return 0;
  const Address rect = argument_word(arguments, 1);
  if (rect == 0) {
    p->clip = {0, 0, p->width, p->height};
    return 1;
  }
  Rect r;
  if (!vm::load(rect, r)) return 0;
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, p->width);
  r.bottom = std::min(r.bottom, p->height);
  // A rectangle wholly outside the plane leaves an empty clip rather than a reversed one.
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  p->clip = r;
  return 1;
}

std::uint32_t bi_gattach(Address arguments) {
  const std::uint32_t number = argument_word(arguments, 0), mask = argument_word(arguments, 1);
  if (number >= kPlaneSlots || mask >= kPlaneSlots) return 0;
  g_slots[number].attached = static_cast<std::int32_t>(mask);
  return 1;
}

std::uint32_t bi_gdetach(Address arguments) {
  const std::uint32_t number = argument_word(arguments, 0);
  if (number >= kPlaneSlots) return 0;
  g_slots[number].attached = -1;
  return 1;
}

std::uint32_t bi_ginfo(Address arguments) {
  const Address out = argument_word(arguments, 1);
  if (out == 0) return 1;
  std::uint32_t info[6] = {};
  if (const Plane* p = plane(argument_word(arguments, 0))) {
    info[0] = static_cast<std::uint32_t>(p->width);
    info[1] = static_cast<std::uint32_t>(p->height);
    info[2] = static_cast<std::uint32_t>(p->bits);
    info[3] = p->pixels + (p->height - 1) * p->pitch;
    info[4] = static_cast<std::uint32_t>(-static_cast<std::int64_t>(p->pitch));
    info[5] = p->colour_count ? p->header + 40 : 0;
  }
  if (std::uint8_t* q = vm::checked_pointer(out, sizeof info)) std::memcpy(q, info, sizeof info);
  return 1;
}

std::uint32_t bi_getpixel(Address arguments) {
  const Plane* p = plane(argument_word(arguments, 0));
  return p ? read_pixel(*p, argument_int(arguments, 1), argument_int(arguments, 2)) : 0;
}

std::uint32_t bi_pal_map(Address arguments) {
  const Address palette = argument_word(arguments, 0);
  const std::uint8_t* colours = palette ? vm::checked_pointer(palette, 1024) : nullptr;
  if (colours == nullptr) return 0;
  std::uint32_t table[256];
  std::memcpy(table, colours, sizeof table);
  build_inverse_map(table);
  return 1;
}

}  // namespace talven::graphics
