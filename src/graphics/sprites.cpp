// The sprite pool, its layers and hierarchies, the preparation and drawing passes of sp_draw, and
// the hit regions. See sprites.h for who owns which part of a record.
#include "graphics/sprites.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <mutex>
#include <omp.h>
#include <vector>

#include "graphics/palette.h"
#include "graphics/pixel_tables.h"
#include "graphics/presentation.h"
#include "vm/call_gate.h"
#include "vm/report.h"
#include "platform/text_encoding.h"

namespace talven::graphics {
namespace {

using vm::Address;
using i64 = std::int64_t;

// What the engine keeps of each record besides the record itself. Only the links are
// authoritative here; everything else a script may change is read from the record.
struct SpriteLinks {
  bool used = false;
  int layer = 0;
  int previous = -1, next = -1;
  int parent = -1;
  std::vector<int> children;
  Address children_block = 0;  // the script's copy: capacity word, then the addresses
  std::uint32_t children_capacity = 0;
  int first_region = -1;       // hit regions bound to this sprite
  std::vector<Rect> fragments;  // exposed parts still to repaint
  Rect screen{};                // as last computed
  Rect destination{};
};

struct RegionLinks {
  bool used = false;
  int layer = 0;
  int previous = -1, next = -1;
  int sprite = -1;
  int next_of_sprite = -1;
};

struct Layer {
  int head = -1, tail = -1;
};

// The sprites a rectangle may expose, found by cells instead of by walking every layer. Built at
// the start of each preparation from the sprites that can be exposed at all (drawn, on the page,
// unchanged), whose screen rectangles stay as they are for the rest of the frame; it is stale
// once the preparation ends.
class ExposureGrid {
 public:
  static constexpr int kCell = 64;

  void build(const std::vector<int>& candidates, const std::vector<SpriteLinks>& sprites, const Rect& area) {
    area_ = area;
    columns_ = std::max(1, (area.right - area.left + kCell - 1) / kCell);
    rows_ = std::max(1, (area.bottom - area.top + kCell - 1) / kCell);
    cells_.assign(std::size_t(columns_) * rows_, {});
    everywhere_.clear();
    for (int i : candidates) {
      const Rect& r = sprites[i].screen;
      if (r.left < area.left || r.top < area.top || r.right > area.right || r.bottom > area.bottom ||
          r.left >= r.right || r.top >= r.bottom) {
        everywhere_.push_back(i);
        continue;
      }
      for (int y = cell_row(r.top); y <= cell_row(r.bottom - 1); ++y)
        for (int x = cell_column(r.left); x <= cell_column(r.right - 1); ++x) cells_[std::size_t(y) * columns_ + x].push_back(i);
    }
  }

  // Calls visit(i) once for every candidate that may meet `r` (a superset; the caller tests).
  template <typename Visit>
  void candidates(const Rect& r, std::vector<std::uint32_t>& stamps, std::uint32_t stamp, Visit visit) const {
    for (int i : everywhere_) visit(i);
    const Rect c{std::max(r.left, area_.left), std::max(r.top, area_.top), std::min(r.right, area_.right),
                 std::min(r.bottom, area_.bottom)};
    if (c.left >= c.right || c.top >= c.bottom) return;
    for (int y = cell_row(c.top); y <= cell_row(c.bottom - 1); ++y)
      for (int x = cell_column(c.left); x <= cell_column(c.right - 1); ++x)
        for (int i : cells_[std::size_t(y) * columns_ + x])
          if (stamps[i] != stamp) {
            stamps[i] = stamp;
            visit(i);
          }
  }

 private:
  int cell_column(std::int32_t x) const { return std::min(columns_ - 1, (x - area_.left) / kCell); }
  int cell_row(std::int32_t y) const { return std::min(rows_ - 1, (y - area_.top) / kCell); }
  Rect area_{};
  int columns_ = 1, rows_ = 1;
  std::vector<std::vector<int>> cells_;
  std::vector<int> everywhere_;
};

// All sprite state. Only script threads touch it, inside the built-in lock.
struct SpriteState {
  Address pool = 0;  // kSpriteRecords records, then the fallback record
  std::vector<SpriteLinks> sprites;  // kSpriteRecords once the pool exists
  std::array<Layer, kSpriteLayers> layers;
  std::array<std::int32_t, kSpriteLayers> origin_x{}, origin_y{};
  std::uint16_t default_flags = 0;
  std::uint32_t background = kPlaneSlots;  // kPlaneSlots or more: none
  std::int32_t background_x = 0, background_y = 0;
  Rect update{};
  bool update_empty = true;
  int fragments_used = 0;
  std::int32_t smoothing = 1;
  SpriteFrameTimes times;
  // The frame's background pieces; kept between frames only for the room its list has grown.
  DirtyCopy background_copy;
  ExposureGrid grid;
  // Marks of the sprites one exposure has visited, so that a sprite in several cells is seen once.
  std::vector<std::uint32_t> stamps;  // kSpriteRecords once the pool exists
  std::uint32_t stamp = 0;

  Address regions = 0;
  std::array<RegionLinks, kHitRegions> region_links;
  std::array<Layer, kSpriteLayers> hit_layers;
};
SpriteState g;

// ---- records --------------------------------------------------------------------------------

// The pool and the engine's side of it are made when a script first needs them.
bool ensure_pool() {
  if (g.sprites.empty()) {
    g.sprites.resize(kSpriteRecords);
    g.stamps.assign(kSpriteRecords, 0);
  }
  if (g.pool == 0) g.pool = vm::script_alloc_zeroed((kSpriteRecords + 1) * kSpriteBytes);
  if (g.regions == 0) g.regions = vm::script_alloc_zeroed((kHitRegions + kSpriteLayers) * kHitRegionBytes);
  return g.pool != 0 && g.regions != 0;
}

Address address_of(int i) { return g.pool + std::uint32_t(i) * kSpriteBytes; }
Address fallback_record() { return g.pool + kSpriteRecords * kSpriteBytes; }
std::uint8_t* record(int i) { return vm::host_pointer(address_of(i)); }

template <typename T>
T get(int i, std::uint32_t offset) {
  T value;
  std::memcpy(&value, record(i) + offset, sizeof value);
  return value;
}
template <typename T>
void put(int i, std::uint32_t offset, const T& value) {
  std::memcpy(record(i) + offset, &value, sizeof value);
}

std::uint16_t flags_of(int i) { return get<std::uint16_t>(i, kSpriteFlags); }
void set_flags(int i, std::uint16_t flags) { put(i, kSpriteFlags, flags); }
std::uint8_t kind_of(int i) { return get<std::uint8_t>(i, kSpriteKind); }

// The live sprite whose record is at `a`, or -1.
int sprite_at(Address a) {
  if (g.pool == 0 || a < g.pool) return -1;
  const std::uint64_t offset = std::uint64_t(a) - g.pool;
  if (offset % kSpriteBytes != 0 || offset / kSpriteBytes >= kSpriteRecords) return -1;
  const int i = static_cast<int>(offset / kSpriteBytes);
  return g.sprites[i].used ? i : -1;
}

// Writes the links into the record, where scripts read them.
void write_links(int i) {
  const SpriteLinks& s = g.sprites[i];
  put(i, kSpriteLayer, static_cast<std::uint8_t>(s.layer));
  put<std::uint32_t>(i, kSpritePrevious, s.previous >= 0 ? address_of(s.previous) : 0);
  put<std::uint32_t>(i, kSpriteNext, s.next >= 0 ? address_of(s.next) : 0);
  put<std::uint32_t>(i, kSpriteParent, s.parent >= 0 ? address_of(s.parent) : 0);
  put<std::uint32_t>(i, kSpriteChildCount, static_cast<std::uint32_t>(s.children.size()));
  put<std::uint32_t>(i, kSpriteChildren, s.children_block != 0 ? s.children_block + 4 : 0);
  put<std::uint32_t>(i, kSpriteHitRegions, s.first_region >= 0 ? g.regions + s.first_region * kHitRegionBytes : 0);
  put<std::uint32_t>(i, kSpriteExposed, 0);
  if (s.children_block != 0) {
    std::uint8_t* array = vm::host_pointer(s.children_block + 4);
    for (std::size_t k = 0; k < s.children.size(); ++k) {
      const std::uint32_t child = address_of(s.children[k]);
      std::memcpy(array + 4 * k, &child, 4);
    }
  }
}

void free_children_block(SpriteLinks& s) {
  if (s.children_block != 0) vm::script_free(s.children_block);
  s.children_block = 0;
  s.children_capacity = 0;
}

// ---- layer lists ----------------------------------------------------------------------------

void unlink_from_layer(int i) {
  SpriteLinks& s = g.sprites[i];
  Layer& l = g.layers[s.layer];
  if (s.previous >= 0) g.sprites[s.previous].next = s.next; else l.head = s.next;
  if (s.next >= 0) g.sprites[s.next].previous = s.previous; else l.tail = s.previous;
  const int before = s.previous, after = s.next;
  s.previous = s.next = -1;
  if (before >= 0) write_links(before);
  if (after >= 0) write_links(after);
}

// Puts `i` after `after` in its layer (-1: at the tail).
void link_into_layer(int i, int after) {
  SpriteLinks& s = g.sprites[i];
  Layer& l = g.layers[s.layer];
  if (after < 0) after = l.tail;
  s.previous = after;
  s.next = after >= 0 ? g.sprites[after].next : l.head;
  if (s.previous >= 0) g.sprites[s.previous].next = i; else l.head = i;
  if (s.next >= 0) g.sprites[s.next].previous = i; else l.tail = i;
  write_links(i);
  if (s.previous >= 0) write_links(s.previous);
  if (s.next >= 0) write_links(s.next);
}

// The layers a mask names, in order.
template <typename Visit>
void for_each_layer(std::uint32_t mask, Visit visit) {
  for (int layer = 0; layer < kSpriteLayers; ++layer)
    if (mask & (1u << layer)) visit(layer);
}

// Every sprite of a layer from head to tail; the visit may free the sprite it is given.
template <typename Visit>
void for_each_in_layer(int layer, Visit visit) {
  for (int i = g.layers[layer].head; i >= 0;) {
    const int next = g.sprites[i].next;
    visit(i);
    i = next;
  }
}

// ---- hit regions ----------------------------------------------------------------------------

std::uint8_t* region_record(int r) { return vm::host_pointer(g.regions + std::uint32_t(r) * kHitRegionBytes); }
std::int32_t region_word(int r, int word) {
  std::int32_t v;
  std::memcpy(&v, region_record(r) + 4 * word, 4);
  return v;
}
void put_region_word(int r, int word, std::uint32_t v) { std::memcpy(region_record(r) + 4 * word, &v, 4); }
Address region_address(int r) { return g.regions + std::uint32_t(r) * kHitRegionBytes; }

int region_at(Address a) {
  if (g.regions == 0 || a < g.regions) return -1;
  const std::uint64_t offset = std::uint64_t(a) - g.regions;
  if (offset % kHitRegionBytes != 0 || offset / kHitRegionBytes >= kHitRegions) return -1;
  const int r = static_cast<int>(offset / kHitRegionBytes);
  return g.region_links[r].used ? r : -1;
}

void write_region_links(int r) {
  const RegionLinks& l = g.region_links[r];
  put_region_word(r, 0, static_cast<std::uint32_t>(l.layer));
  put_region_word(r, 6, l.sprite >= 0 ? address_of(l.sprite) : 0);
  // A region in use never has a previous link of 0: the first of a layer points at its layer's
  // header record, which follows the pool.
  put_region_word(r, 8, region_address(l.previous >= 0 ? l.previous : kHitRegions + l.layer));
  put_region_word(r, 9, l.next >= 0 ? region_address(l.next) : 0);
  put_region_word(r, 10, l.next_of_sprite >= 0 ? region_address(l.next_of_sprite) : 0);
}

void free_region(int r) {
  RegionLinks& l = g.region_links[r];
  Layer& layer = g.hit_layers[l.layer];
  if (l.previous >= 0) g.region_links[l.previous].next = l.next; else layer.head = l.next;
  if (l.next >= 0) g.region_links[l.next].previous = l.previous; else layer.tail = l.previous;
  if (l.previous >= 0) write_region_links(l.previous);
  if (l.next >= 0) write_region_links(l.next);
  if (l.sprite >= 0) {
    SpriteLinks& s = g.sprites[l.sprite];
    int* link = &s.first_region;
    while (*link >= 0 && *link != r) link = &g.region_links[*link].next_of_sprite;
    if (*link == r) *link = l.next_of_sprite;
    if (s.used) write_links(l.sprite);
    for (int k = s.first_region; k >= 0; k = g.region_links[k].next_of_sprite) write_region_links(k);
  }
  l = RegionLinks{};
  std::memset(region_record(r), 0, kHitRegionBytes);
}

// ---- the effective transform and the rectangles ---------------------------------------------

struct Transform {
  std::uint32_t x = 0, y = 0;  // 16.16, wrapping as 32-bit values do
  std::uint32_t scale_x = 0x10000, scale_y = 0x10000;
  std::uint16_t angle = 0;
};

std::int32_t sine(std::uint32_t angle) { return g_pixel_tables.sine[angle & 2047]; }
std::int32_t cosine(std::uint32_t angle) { return g_pixel_tables.sine[(angle + 512) & 2047]; }

// Computes (and writes into the record) the effective scales and angle along the parent chain.
Transform effective(int i) {
  const std::int32_t x = get<std::int32_t>(i, kSpriteX), y = get<std::int32_t>(i, kSpriteY);
  const int shift = get<std::uint8_t>(i, kSpriteShift) & 31;
  const std::uint32_t scale_x = get<std::uint32_t>(i, kSpriteScaleX), scale_y = get<std::uint32_t>(i, kSpriteScaleY);
  const std::uint16_t angle = get<std::uint16_t>(i, kSpriteAngle);
  Transform t;
  const int parent = g.sprites[i].parent;
  if (parent < 0) {
    const int layer = g.sprites[i].layer;
    // Positions wrap as 32-bit values do, whatever a script wrote.
    t.x = (std::uint32_t(x >> shift) - std::uint32_t(g.origin_x[layer])) << 16;
    t.y = (std::uint32_t(y >> shift) - std::uint32_t(g.origin_y[layer])) << 16;
    t.scale_x = scale_x;
    t.scale_y = scale_y;
    t.angle = angle;
  } else {
    const Transform p = effective(parent);
    const std::uint32_t s = static_cast<std::uint32_t>(sine(p.angle)), c = static_cast<std::uint32_t>(cosine(p.angle));
    const std::uint32_t px = static_cast<std::uint32_t>((i64(x >> shift) * i64(p.scale_x)) >> 16);
    const std::uint32_t py = static_cast<std::uint32_t>((i64(y >> shift) * i64(p.scale_y)) >> 16);
    t.x = p.x + px * c + py * s;
    t.y = p.y + py * c - px * s;
    t.scale_x = scale_x == 0x10000 ? p.scale_x : static_cast<std::uint32_t>((std::uint64_t(scale_x) * p.scale_x) >> 16);
    t.scale_y = scale_y == 0x10000 ? p.scale_y : static_cast<std::uint32_t>((std::uint64_t(scale_y) * p.scale_y) >> 16);
    t.angle = static_cast<std::uint16_t>(p.angle + angle);
  }
  put(i, kSpriteEffectiveScaleX, t.scale_x);
  put(i, kSpriteEffectiveScaleY, t.scale_y);
  put(i, kSpriteEffectiveAngle, t.angle);
  return t;
}

std::int32_t clamp32(i64 v) { return static_cast<std::int32_t>(std::clamp<i64>(v, INT32_MIN, INT32_MAX)); }

// The destination and screen rectangles from the effective transform, into the record and here.
void compute_rects(int i) {
  const Transform t = effective(i);
  const Rect source = get<Rect>(i, kSpriteSourceRect);
  const i64 w = i64(source.right) - source.left, h = i64(source.bottom) - source.top;
  const i64 pivot_x = get<std::int32_t>(i, kSpritePivotX), pivot_y = get<std::int32_t>(i, kSpritePivotY);
  // Products of script values need more than 64 bits; sizes beyond 2^40 pixels lie off every page
  // and are held there, so that what follows stays within 64 bits.
  auto scaled = [](i64 length, std::uint32_t scale, int shift) {
    const __int128 v = (__int128(length) * scale) >> shift;
    return static_cast<i64>(std::clamp<__int128>(v, -(__int128(1) << 40), __int128(1) << 40));
  };
  const i64 dw = scaled(w, t.scale_x, 16), dh = scaled(h, t.scale_y, 16);
  const i64 dx = scaled(w - 2 * pivot_x, t.scale_x, 17), dy = scaled(h - 2 * pivot_y, t.scale_y, 17);
  const std::uint32_t s = static_cast<std::uint32_t>(sine(t.angle)), c = static_cast<std::uint32_t>(cosine(t.angle));
  const std::int32_t cx = static_cast<std::int32_t>(t.x + std::uint32_t(dx) * c + std::uint32_t(dy) * s);
  const std::int32_t cy = static_cast<std::int32_t>(t.y + std::uint32_t(dy) * c - std::uint32_t(dx) * s);
  // Centred as the blits centre: the left half is the smaller one for odd sizes.
  auto centred = [&](i64 width, i64 height) {
    const i64 left = i64(cx >> 16) - width / 2, top = i64(cy >> 16) - height / 2;
    return Rect{clamp32(left), clamp32(top), clamp32(left + width), clamp32(top + height)};
  };
  const Rect destination = centred(dw, dh);
  Rect screen = destination;
  if ((t.angle & 2047) != 0) {
    const i64 S = sine(t.angle), C = cosine(t.angle);
    const i64 aw = std::abs(dw), ah = std::abs(dh);
    screen = centred((std::abs(C * aw) + std::abs(S * ah) + 32768) >> 16, (std::abs(S * aw) + std::abs(C * ah) + 32768) >> 16);
  }
  if (get<std::uint8_t>(i, kSpriteShift) != 0)
    screen = {clamp32(i64(screen.left) - 1), clamp32(i64(screen.top) - 1), clamp32(i64(screen.right) + 1),
              clamp32(i64(screen.bottom) + 1)};
  g.sprites[i].screen = screen;
  g.sprites[i].destination = destination;
  put(i, kSpriteScreenRect, screen);
  put(i, kSpriteDestinationRect, destination);
}

// ---- rectangles -----------------------------------------------------------------------------

bool meets(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

void add_to_update(const Rect& r) {
  if (empty(r)) return;
  if (g.update_empty) {
    g.update = r;
    g.update_empty = false;
    return;
  }
  g.update = {std::min(g.update.left, r.left), std::min(g.update.top, r.top), std::max(g.update.right, r.right),
              std::max(g.update.bottom, r.bottom)};
}

// The parts of `piece` outside `hole`, at most four.
void subtract(const Rect& piece, const Rect& hole, std::vector<Rect>& out) {
  if (!meets(piece, hole)) {
    out.push_back(piece);
    return;
  }
  Rect rest = piece;
  if (hole.top > rest.top) out.push_back({rest.left, rest.top, rest.right, hole.top}), rest.top = hole.top;
  if (hole.bottom < rest.bottom) out.push_back({rest.left, hole.bottom, rest.right, rest.bottom}), rest.bottom = hole.bottom;
  if (hole.left > rest.left) out.push_back({rest.left, rest.top, hole.left, rest.bottom});
  if (hole.right < rest.right) out.push_back({hole.right, rest.top, rest.right, rest.bottom});
}

// Adds the part of `r` the sprite does not list yet to its exposed fragments.
void add_fragment(int i, const Rect& r) {
  std::vector<Rect> pieces{r}, next;
  for (const Rect& held : g.sprites[i].fragments) {
    next.clear();
    for (const Rect& p : pieces) subtract(p, held, next);
    pieces.swap(next);
    if (pieces.empty()) return;
  }
  for (const Rect& p : pieces) {
    if (g.fragments_used >= kExposedFragments) return;  // the pool is spent: further ones are dropped
    g.sprites[i].fragments.push_back(p);
    ++g.fragments_used;
  }
}

// Every unchanged sprite on the page under `r` in the masked layers repaints its part of it. Only
// during a preparation, after the grid is built.
// A sprite can be exposed when it is drawn, on the page and unchanged: one that changed is drawn
// whole anyway.
bool exposable(int i) {
  return kind_of(i) == 2 && (flags_of(i) & (kSpriteOnPage | kSpriteChanged | kSpriteChangedToo)) == kSpriteOnPage;
}

void expose_sprites(const Rect& r) {
  if (++g.stamp == 0) {
    std::fill(g.stamps.begin(), g.stamps.end(), 0);
    g.stamp = 1;
  }
  g.grid.candidates(r, g.stamps, g.stamp, [&](int i) {
    // Candidates were exposable when the frame began; one marked changed since is skipped.
    if (!exposable(i)) return;
    if (!meets(g.sprites[i].screen, r)) return;
    set_flags(i, flags_of(i) | kSpriteExposedFlag);
    add_fragment(i, intersection(g.sprites[i].screen, r));
  });
}

void expose(const Rect& r) {
  if (empty(r)) return;
  expose_sprites(r);
  // A full list becomes one rectangle around everything: the background copy will paint all of
  // it, so everything under it must be drawn again too.
  if (!add_dirty_rect(r)) expose_sprites(dirty_rect(0));
}

// ---- freeing --------------------------------------------------------------------------------

void detach_from_parent(int i) {
  SpriteLinks& s = g.sprites[i];
  if (s.parent < 0) return;
  SpriteLinks& p = g.sprites[s.parent];
  p.children.erase(std::remove(p.children.begin(), p.children.end(), i), p.children.end());
  const int parent = s.parent;
  s.parent = -1;
  write_links(parent);
  write_links(i);
}

void reset_sprite(int i) {
  SpriteLinks& s = g.sprites[i];
  detach_from_parent(i);
  while (!s.children.empty()) reset_sprite(s.children.back());
  free_children_block(s);
  set_flags(i, flags_of(i) | kSpriteRemove);
  put<std::uint8_t>(i, kSpriteKind, 1);
  while (s.first_region >= 0) free_region(s.first_region);
  write_links(i);
}

void free_sprite(int i) {
  reset_sprite(i);
  unlink_from_layer(i);
  g.sprites[i] = SpriteLinks{};
  std::memset(record(i), 0, kSpriteBytes);
}

void clear_everything() {
  for (auto& s : g.sprites) {
    free_children_block(s);
    s = SpriteLinks{};
  }
  for (auto& l : g.layers) l = Layer{};
  g.origin_x.fill(0);
  g.origin_y.fill(0);
  g.fragments_used = 0;
  if (g.pool != 0) std::memset(vm::host_pointer(g.pool), 0, (kSpriteRecords + 1) * kSpriteBytes);
  // Regions bound to a sprite stay bound to its (now free) record, and so take part in no test.
  for (auto& r : g.region_links) r.next_of_sprite = -1;
}

// ---- drawing --------------------------------------------------------------------------------

// Draws sprite i onto `page` inside the page's clip. The pixels inside any part of the page depend
// only on that part's clip, not on how the rest is cut: blits step through their source in exact
// integer arithmetic from the whole destination rectangle.
void draw_sprite(int i, Plane* page) {
  const std::uint32_t plane_number = get<std::uint32_t>(i, kSpritePlane);
  Plane* source = plane_number < kPlaneSlots ? plane(plane_number) : nullptr;
  if (source == nullptr) return;
  const Rect source_rect = get<Rect>(i, kSpriteSourceRect);
  const BlitMode mode = get<BlitMode>(i, kSpriteMode);
  const std::uint32_t scale_x = get<std::uint32_t>(i, kSpriteEffectiveScaleX),
                      scale_y = get<std::uint32_t>(i, kSpriteEffectiveScaleY);
  const std::uint16_t angle = get<std::uint16_t>(i, kSpriteEffectiveAngle) & 2047;
  const bool mirror_x = get<std::uint8_t>(i, kSpriteMirrorX) != 0, mirror_y = get<std::uint8_t>(i, kSpriteMirrorY) != 0;
  const SpriteLinks& s = g.sprites[i];
  Plane* mask = attached_plane(plane_number);
  if (scale_x == 0x10000 && scale_y == 0x10000 && angle == 0 && get<std::uint8_t>(i, kSpriteShift) == 0 && !mirror_x &&
      !mirror_y) {
    copy_blit_onto(page, s.screen.left, s.screen.top, source, mask, &source_rect, &mode);
    return;
  }
  Rect d = s.destination;
  if (mirror_x) std::swap(d.left, d.right);
  if (mirror_y) std::swap(d.top, d.bottom);
  const i64 w = std::abs(i64(source_rect.right) - source_rect.left), h = std::abs(i64(source_rect.bottom) - source_rect.top);
  // Bilinear sampling needs two pixels in each direction: it takes no sample from a single row or
  // column.
  if ((flags_of(i) & kSpriteSmoothing) && w >= 2 && h >= 2)
    rotated_blit(page, &d, source, &source_rect, mask, &mode, angle, true);
  else if (angle == 0)
    stretch_blit(page, &d, source, &source_rect, mask, &mode);
  else
    rotated_blit(page, &d, source, &source_rect, mask, &mode, angle, false);
}

// One sprite to draw inside one rectangle of the page, in drawing order.
struct DrawCall {
  int sprite;
  Rect clip;
};

// Copies the frame's background pieces, then runs its drawing calls in order. With MultiThreading
// the page is cut into bands of rows, each band copied and drawn by one thread through every call
// cut to it: every pixel still sees the copy and then the calls in their order, so the picture is
// the same as one thread's (a test compares both), and a band's rows are still in the cache when
// its sprites are drawn over them.
void run_draw_calls(const DirtyCopy& background, const std::vector<DrawCall>& calls, Plane* page) {
  const Rect clip = page->clip;
  long long pixels = 0;
  for (const Rect& r : background.pieces) pixels += (long long)(r.right - r.left) * (r.bottom - r.top);
  for (const DrawCall& c : calls) pixels += (long long)(c.clip.right - c.clip.left) * (c.clip.bottom - c.clip.top);
  const int height = clip.bottom - clip.top;
  if (!multi_threading() || pixels < 16384 || height < 32) {
    if (!background.pieces.empty()) copy_dirty_pieces(background, kEverywhere);
    for (const DrawCall& c : calls) {
      page->clip = c.clip;
      draw_sprite(c.sprite, page);
    }
    page->clip = clip;
    return;
  }
  // Tables built on first use are built here, before the threads share them.
  inverse_map();
  // Few bands: every call cut by a band boundary pays its blit's set-up once more.
  const int bands = std::min(height / 16, 2 * omp_get_max_threads());
#pragma omp parallel for schedule(dynamic)
  for (int band = 0; band < bands; ++band) {
    Plane view = *page;
    const Rect rows{clip.left, clip.top + int(i64(height) * band / bands), clip.right, clip.top + int(i64(height) * (band + 1) / bands)};
    if (!background.pieces.empty()) copy_dirty_pieces(background, rows);
    for (const DrawCall& c : calls) {
      const Rect part = intersection(c.clip, rows);
      if (empty(part)) continue;
      view.clip = part;
      draw_sprite(c.sprite, &view);
    }
  }
}

// Passes a changed parent's state down to its children, and their children.
void pass_changes_down(int i, int depth) {
  if (depth > kSpriteRecords) return;
  const bool changed = (flags_of(i) & (kSpriteChanged | kSpriteChangedToo)) != 0;
  for (int child : g.sprites[i].children) {
    if (changed) set_flags(child, flags_of(child) | kSpriteChanged);
    pass_changes_down(child, depth + 1);
  }
}

void prepare(std::uint32_t mask, const Rect& clip) {
  for_each_layer(mask, [&](int layer) {
    for_each_in_layer(layer, [&](int i) {
      if (g.sprites[i].parent < 0 && !g.sprites[i].children.empty()) pass_changes_down(i, 0);
      g.sprites[i].fragments.clear();
    });
  });
  g.fragments_used = 0;
  std::vector<int> candidates;
  for_each_layer(mask, [&](int layer) {
    for_each_in_layer(layer, [&](int i) {
      if (exposable(i)) candidates.push_back(i);
    });
  });
  g.grid.build(candidates, g.sprites, clip);
  // What is already listed as dirty (a new background, sp_redraw, drt_set) will be painted over
  // by the background copy: the sprites under it must be drawn again there too.
  for (int k = 0, n = dirty_count(); k < n; ++k) expose_sprites(dirty_rect(k));
  for_each_layer(mask, [&](int layer) {
    for_each_in_layer(layer, [&](int i) {
      const std::uint8_t kind = kind_of(i);
      std::uint16_t flags = flags_of(i);
      if (kind == 2 && !(flags & kSpriteOnPage)) {
        compute_rects(i);
        if (meets(g.sprites[i].screen, clip)) {
          set_flags(i, flags | kSpriteChanged);
          expose(g.sprites[i].screen);
        }
      } else if (kind == 2 && (flags & (kSpriteChanged | kSpriteChangedToo))) {
        const Rect old = g.sprites[i].screen;
        compute_rects(i);
        const Rect& now = g.sprites[i].screen;
        if (std::memcmp(&old, &now, sizeof old) != 0) {
          expose(old);
          add_to_update(old);
        }
        expose(now);
      } else if (kind == 1 && (flags & kSpriteOnPage)) {
        set_flags(i, flags & ~(kSpriteChanged | kSpriteExposedFlag | kSpriteOnPage));
        expose(g.sprites[i].screen);
        add_to_update(g.sprites[i].screen);
      }
    });
  });
}

std::uint32_t draw(std::uint32_t mask, Address out) {
  const std::uint32_t page_number = static_cast<std::uint32_t>(active_page());
  Plane* page = plane(page_number);
  if (page == nullptr || !ensure_pool()) return 0;
  std::lock_guard lock(presentation_lock());
  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  const Rect clip = page->clip;
  prepare(mask, clip);
  const auto prepared = Clock::now();
  DirtyCopy& background = g.background_copy;
  background.pieces.clear();
  if (g.background < kPlaneSlots && plane(g.background) != nullptr) {
    const Rect area{g.background_x, g.background_y, clamp32(i64(g.background_x) + page->width),
                    clamp32(i64(g.background_y) + page->height)};
    plan_dirty_copy(page_number, 0, 0, g.background, &area, background);
  }
  const auto copied = Clock::now();
  // Everything dirty has been repainted from the background; what is drawn from here on is not
  // dirty, and the next frame starts from an empty list.
  clear_dirty_list();
  std::vector<DrawCall> calls;
  for_each_layer(mask, [&](int layer) {
    for_each_in_layer(layer, [&](int i) {
      std::uint16_t flags = flags_of(i);
      const std::uint8_t kind = kind_of(i);
      if (flags & kSpriteRemove) {
        free_sprite(i);
        return;
      }
      if (kind == 1) {
        if (flags & kSpriteOnPage) add_to_update(g.sprites[i].screen);
        set_flags(i, flags & ~(kSpriteChanged | kSpriteExposedFlag | kSpriteOnPage));
      } else if (kind == 2 && (flags & (kSpriteChanged | kSpriteChangedToo))) {
        flags &= ~(kSpriteChanged | kSpriteExposedFlag | kSpriteOnPage);
        if (meets(g.sprites[i].screen, clip)) {
          calls.push_back({i, clip});
          add_to_update(g.sprites[i].screen);
          flags |= kSpriteOnPage;
        }
        set_flags(i, flags);
      } else if (kind == 2 && (flags & kSpriteExposedFlag)) {
        for (const Rect& fragment : g.sprites[i].fragments) {
          const Rect part = intersection(fragment, clip);
          if (empty(part)) continue;
          calls.push_back({i, part});
          add_to_update(part);
        }
        set_flags(i, flags & ~(kSpriteChanged | kSpriteExposedFlag));
      }
    });
  });
  run_draw_calls(background, calls, page);
  background.area.reset();
  const auto drawn = Clock::now();
  g.times = {std::chrono::duration<double>(prepared - started).count(), std::chrono::duration<double>(copied - prepared).count(),
             std::chrono::duration<double>(drawn - copied).count()};
  if (out != 0) {
    Rect result = g.update_empty ? Rect{0, 0, 0, 0} : intersection(g.update, clip);
    if (empty(result)) result = {0, 0, 0, 0};
    vm::store(out, result);
  }
  g.update_empty = true;
  return 1;
}

// ---- sorting --------------------------------------------------------------------------------

std::int32_t sort_key(int i, std::uint32_t mode) {
  std::int32_t key = 0;
  if (mode & 1) {
    std::uint32_t sum = 0;
    for (int k = i, depth = 0; k >= 0 && depth <= kSpriteRecords; k = g.sprites[k].parent, ++depth)
      sum += static_cast<std::uint32_t>(get<std::int32_t>(k, kSpriteY) >> (get<std::uint8_t>(k, kSpriteShift) & 31));
    key = static_cast<std::int32_t>(sum);
  }
  if (mode & 2) key = static_cast<std::int32_t>((std::uint32_t(key) << 16) + std::uint32_t(get<std::int32_t>(i, kSpritePriority)));
  return key;
}

void sort_layer(int layer, std::uint32_t mode) {
  std::vector<int> order;
  for_each_in_layer(layer, [&](int i) { order.push_back(i); });
  std::vector<std::int32_t> keys;
  for (int i : order) keys.push_back(sort_key(i, mode));
  // Selection sort: the first of the smallest keys comes next, so equal keys keep their order.
  for (std::size_t at = 0; at < order.size(); ++at) {
    std::size_t best = at;
    for (std::size_t k = at + 1; k < order.size(); ++k)
      if (keys[k] < keys[best]) best = k;
    std::rotate(order.begin() + at, order.begin() + best, order.begin() + best + 1);
    std::rotate(keys.begin() + at, keys.begin() + best, keys.begin() + best + 1);
  }
  Layer& l = g.layers[layer];
  l.head = l.tail = -1;
  for (int i : order) {
    g.sprites[i].previous = g.sprites[i].next = -1;
    link_into_layer(i, -1);
  }
}

// ---- hit-region geometry --------------------------------------------------------------------

// The region's rectangle where it is now: moved along its sprite's parent chain when bound.
Rect region_rect(int r) {
  Rect rect{region_word(r, 2), region_word(r, 3), region_word(r, 4), region_word(r, 5)};
  std::uint32_t dx = 0, dy = 0;
  for (int k = g.region_links[r].sprite, depth = 0; k >= 0 && depth <= kSpriteRecords; k = g.sprites[k].parent, ++depth) {
    const int shift = get<std::uint8_t>(k, kSpriteShift) & 31;
    dx += std::uint32_t(get<std::int32_t>(k, kSpriteX) >> shift) - std::uint32_t(get<std::int32_t>(k, kSpritePivotX));
    dy += std::uint32_t(get<std::int32_t>(k, kSpriteY) >> shift) - std::uint32_t(get<std::int32_t>(k, kSpritePivotY));
  }
  return {std::int32_t(std::uint32_t(rect.left) + dx), std::int32_t(std::uint32_t(rect.top) + dy),
          std::int32_t(std::uint32_t(rect.right) + dx), std::int32_t(std::uint32_t(rect.bottom) + dy)};
}

// The overlap test as sign tests of 32-bit differences.
bool less(std::int32_t a, std::int32_t b) { return std::int32_t(std::uint32_t(a) - std::uint32_t(b)) < 0; }
bool overlap(const Rect& a, const Rect& b) {
  return less(a.left, b.right) && less(b.left, a.right) && less(a.top, b.bottom) && less(b.top, a.bottom);
}

// A region takes part as a target when it is unbound or bound to a drawn sprite.
bool is_target(int r) {
  const int sprite = g.region_links[r].sprite;
  return sprite < 0 || (g.sprites[sprite].used && kind_of(sprite) == 2);
}

template <typename Match>
Address first_region(std::uint32_t mask, int skip, Match match) {
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!(mask & (1u << layer))) continue;
    for (int r = g.hit_layers[layer].head; r >= 0; r = g.region_links[r].next)
      if (r != skip && is_target(r) && match(region_rect(r))) return region_address(r);
  }
  return 0;
}

bool load_rect(Address a, Rect& r) { return a != 0 && vm::load(a, r); }

}  // namespace

// ---- module ---------------------------------------------------------------------------------

void sprites_start(bool smoothing_on) {
  sprites_stop();
  g.smoothing = smoothing_on ? 1 : 0;
  ensure_pool();
}

void sprites_stop() {
  clear_everything();
  for (auto& r : g.region_links) r = RegionLinks{};
  for (auto& l : g.hit_layers) l = Layer{};
  if (g.pool != 0) vm::script_free(g.pool);
  if (g.regions != 0) vm::script_free(g.regions);
  g.pool = g.regions = 0;
  g.default_flags = 0;
  g.background = kPlaneSlots;
  g.background_x = g.background_y = 0;
  g.update_empty = true;
}

void set_smoothing(std::int32_t value) { g.smoothing = value; }
SpriteFrameTimes last_sprite_frame_times() { return g.times; }
std::int32_t smoothing() { return g.smoothing; }

std::uint32_t sprite_count() {
  if (g.pool == 0) return 0;
  std::uint32_t count = 0;
  for (int i = 0; i < kSpriteRecords; ++i) count += kind_of(i) != 0 ? 1 : 0;
  return count;
}

// ---- built-ins ------------------------------------------------------------------------------

using vm::argument_int;
using vm::argument_word;

std::uint32_t bi_sp_flag(Address arguments) {
  const std::uint16_t previous = g.default_flags;
  g.default_flags = static_cast<std::uint16_t>(argument_word(arguments, 0));
  return previous;
}

std::uint32_t bi_sp_init(Address arguments) {
  const std::uint32_t mask = argument_word(arguments, 0);
  if (!ensure_pool()) return 1;
  if (mask == 0xFFFFFFFFu) {
    clear_dirty_list();
    clear_everything();
    return 1;
  }
  for_each_layer(mask, [&](int layer) { for_each_in_layer(layer, [&](int i) { reset_sprite(i); }); });
  return 1;
}

std::uint32_t bi_sp_set(Address arguments) {
  if (!ensure_pool()) return 0;
  const std::uint32_t layer = argument_word(arguments, 0), kind = argument_word(arguments, 1);
  const std::int32_t x = argument_int(arguments, 2), y = argument_int(arguments, 3);
  const std::uint32_t plane_number = argument_word(arguments, 4);
  const Address rect_at = argument_word(arguments, 5), mode_at = argument_word(arguments, 6);
  if (plane_number >= kPlaneSlots || layer >= kSpriteLayers) return fallback_record();
  Rect source{};
  if (rect_at != 0) {
    if (!vm::load(rect_at, source)) return fallback_record();
  } else {
    const Plane* p = plane(plane_number);
    if (p == nullptr) return fallback_record();
    source = {0, 0, p->width, p->height};
  }
  BlitMode mode{};
  if (mode_at != 0 && !vm::load(mode_at, mode)) return fallback_record();
  int i = 0;
  while (i < kSpriteRecords && g.sprites[i].used) ++i;
  if (i == kSpriteRecords) return fallback_record();
  std::memset(record(i), 0, kSpriteBytes);
  SpriteLinks& s = g.sprites[i];
  s = SpriteLinks{};
  s.used = true;
  s.layer = static_cast<int>(layer);
  put(i, kSpriteKind, static_cast<std::uint8_t>(kind));
  set_flags(i, static_cast<std::uint16_t>(g.default_flags | (g.smoothing != 0 ? kSpriteSmoothing : 0)));
  put(i, kSpritePlane, plane_number);
  put(i, kSpriteX, x);
  put(i, kSpriteY, y);
  put<std::uint32_t>(i, kSpriteScaleX, 0x10000);
  put<std::uint32_t>(i, kSpriteScaleY, 0x10000);
  put(i, kSpriteSourceRect, source);
  put(i, kSpriteMode, mode);
  link_into_layer(i, -1);
  return address_of(i);
}

std::uint32_t bi_sp_reset(Address arguments) {
  const int i = sprite_at(argument_word(arguments, 0));
  if (i < 0) return 0;
  reset_sprite(i);
  return 1;
}

std::uint32_t bi_sp_link(Address arguments) {
  const int parent = sprite_at(argument_word(arguments, 0)), child = sprite_at(argument_word(arguments, 1));
  if (parent < 0 || child < 0) return 0;
  for (int k = parent; k >= 0; k = g.sprites[k].parent) {
    if (k == child) {
      vm::report(1, "%s", platform::cp932("LinkSprite : 循環参照してます。"));
      return 0;
    }
  }
  detach_from_parent(child);
  SpriteLinks& p = g.sprites[parent];
  if (p.children.size() + 1 > p.children_capacity) {
    const std::uint32_t capacity = p.children_capacity == 0 ? 8 : p.children_capacity * 2;
    const Address block = vm::script_alloc((capacity + 1) * 4);
    if (block == 0) {
      vm::report(1, "%s", platform::cp932("LinkSprite : メモリの確保に失敗しました。"));
      return 0;
    }
    std::memcpy(vm::host_pointer(block), &capacity, 4);
    free_children_block(p);
    p.children_block = block;
    p.children_capacity = capacity;
  }
  p.children.push_back(child);
  g.sprites[child].parent = parent;
  if (g.sprites[child].layer == p.layer && p.next != child) {
    unlink_from_layer(child);
    link_into_layer(child, parent);
  }
  write_links(parent);
  write_links(child);
  return 1;
}

std::uint32_t bi_sp_unlink(Address arguments) {
  const int i = sprite_at(argument_word(arguments, 0));
  if (i >= 0) detach_from_parent(i);
  return 1;
}

std::uint32_t bi_sp_setbg(Address arguments) {
  const std::uint32_t previous = g.background;
  clear_dirty_list();
  g.background = argument_word(arguments, 0);
  g.background_x = g.background_y = 0;
  const Plane* background = g.background < kPlaneSlots ? plane(g.background) : nullptr;
  if (background != nullptr) {
    const Rect whole{0, 0, background->width, background->height};
    add_to_update(whole);
    add_dirty_rect(whole);
  } else if (const Plane* page = plane(static_cast<std::uint32_t>(active_page()))) {
    add_to_update({0, 0, page->width, page->height});
  }
  return previous;
}

std::uint32_t bi_sp_getbg(Address) { return g.background; }

std::uint32_t bi_sp_bgorg(Address arguments) {
  g.background_x = argument_int(arguments, 0);
  g.background_y = argument_int(arguments, 1);
  if (const Plane* background = g.background < kPlaneSlots ? plane(g.background) : nullptr) {
    const Rect whole{0, 0, background->width, background->height};
    add_dirty_rect(whole);
    add_to_update(whole);
  }
  return 1;
}

std::uint32_t bi_sp_org(Address arguments) {
  const std::uint32_t mask = argument_word(arguments, 0);
  for_each_layer(mask, [&](int layer) {
    g.origin_x[layer] = argument_int(arguments, 1);
    g.origin_y[layer] = argument_int(arguments, 2);
  });
  return 1;
}

std::uint32_t bi_sp_redraw(Address arguments) {
  const std::uint32_t mask = argument_word(arguments, 0);
  if (g.background < kPlaneSlots && plane(g.background) != nullptr)
    if (const Plane* page = plane(static_cast<std::uint32_t>(active_page()))) add_dirty_rect({0, 0, page->width, page->height});
  for_each_layer(mask, [&](int layer) {
    for_each_in_layer(layer, [&](int i) {
      const std::uint16_t flags = flags_of(i);
      if (kind_of(i) == 1 && !(flags & kSpriteOnPage)) return;
      set_flags(i, flags | kSpriteChanged);
    });
  });
  return 1;
}

std::uint32_t bi_sp_sort(Address arguments) {
  const std::uint32_t mask = argument_word(arguments, 0), mode = argument_word(arguments, 1);
  for_each_layer(mask, [&](int layer) { sort_layer(layer, mode); });
  return 1;
}

std::uint32_t bi_sp_rect(Address arguments) {
  const int i = sprite_at(argument_word(arguments, 0));
  if (i < 0) return 0;
  compute_rects(i);
  return vm::store(argument_word(arguments, 1), g.sprites[i].screen) ? 1 : 0;
}

std::uint32_t bi_sp_draw(Address arguments) { return draw(argument_word(arguments, 0), argument_word(arguments, 1)); }

std::uint32_t bi_hit_init(Address arguments) {
  const std::uint32_t mask = argument_word(arguments, 0);
  for_each_layer(mask, [&](int layer) {
    while (g.hit_layers[layer].head >= 0) free_region(g.hit_layers[layer].head);
  });
  return 1;
}

std::uint32_t bi_hit_set(Address arguments) {
  if (!ensure_pool()) return 0;
  const std::uint32_t layer = argument_word(arguments, 0), mask = argument_word(arguments, 1);
  const Address sprite_address = argument_word(arguments, 2), rect_at = argument_word(arguments, 3);
  if (layer >= kSpriteLayers) return 0;
  const int sprite = sprite_address != 0 ? sprite_at(sprite_address) : -1;
  if (sprite_address != 0 && sprite < 0) return 0;  // a region can follow only a live sprite
  Rect rect{};
  if (rect_at != 0) {
    if (!vm::load(rect_at, rect)) return 0;
  } else if (sprite >= 0) {
    const Rect source = get<Rect>(sprite, kSpriteSourceRect);
    rect = {0, 0, std::int32_t(std::uint32_t(source.right) - std::uint32_t(source.left)),
            std::int32_t(std::uint32_t(source.bottom) - std::uint32_t(source.top))};
  }
  int r = 0;
  while (r < kHitRegions && g.region_links[r].used) ++r;
  if (r == kHitRegions) return 0;
  RegionLinks& l = g.region_links[r];
  l = RegionLinks{};
  l.used = true;
  l.layer = static_cast<int>(layer);
  Layer& hit_layer = g.hit_layers[layer];
  l.previous = hit_layer.tail;
  if (hit_layer.tail >= 0) g.region_links[hit_layer.tail].next = r; else hit_layer.head = r;
  hit_layer.tail = r;
  std::memset(region_record(r), 0, kHitRegionBytes);
  put_region_word(r, 1, mask);
  put_region_word(r, 2, static_cast<std::uint32_t>(rect.left));
  put_region_word(r, 3, static_cast<std::uint32_t>(rect.top));
  put_region_word(r, 4, static_cast<std::uint32_t>(rect.right));
  put_region_word(r, 5, static_cast<std::uint32_t>(rect.bottom));
  put_region_word(r, 7, argument_word(arguments, 4));
  if (sprite >= 0) {
    // Appended at the end of the sprite's list.
    l.sprite = sprite;
    int* link = &g.sprites[sprite].first_region;
    while (*link >= 0) link = &g.region_links[*link].next_of_sprite;
    *link = r;
    write_links(sprite);
    for (int k = g.sprites[sprite].first_region; k >= 0; k = g.region_links[k].next_of_sprite) write_region_links(k);
  }
  write_region_links(r);
  if (l.previous >= 0) write_region_links(l.previous);
  return region_address(r);
}

std::uint32_t bi_hit_reset(Address arguments) {
  const int r = region_at(argument_word(arguments, 0));
  if (r < 0) return 0;
  free_region(r);
  return 1;
}

std::uint32_t bi_hit_check(Address arguments) {
  const int tester = region_at(argument_word(arguments, 0));
  if (tester < 0) return 0;
  const std::uint32_t mask = static_cast<std::uint32_t>(region_word(tester, 1));
  if (mask == 0) return 0;
  const Rect rect = region_rect(tester);
  return first_region(mask, tester, [&](const Rect& other) { return overlap(rect, other); });
}

std::uint32_t bi_hit_rect(Address arguments) {
  Rect rect;
  if (!load_rect(argument_word(arguments, 0), rect)) return 0;
  return first_region(argument_word(arguments, 1), -1, [&](const Rect& other) { return overlap(rect, other); });
}

std::uint32_t bi_hit_point(Address arguments) {
  const std::int32_t x = argument_int(arguments, 0), y = argument_int(arguments, 1);
  return first_region(argument_word(arguments, 2), -1, [&](const Rect& r) {
    return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
  });
}

}  // namespace talven::graphics
