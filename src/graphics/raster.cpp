// Raster primitives drawn straight into a plane (gclear, gfill, gline, gpoly) and the
// dirty-rectangle list (drt_init, drt_set, drt_copy).
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "graphics/parallel_rows.h"
#include "graphics/pixel_simd.h"
#include "graphics/pixel_tables.h"
#include "graphics/planes.h"
#include "vm/call_gate.h"

namespace talven::graphics {
namespace {

using i64 = std::int64_t;

bool drawable(const Plane* p) { return p && (p->bits == 8 || p->bits == 16 || p->bits == 24 || p->bits == 32); }

// The part of {left, top, right, bottom} (64-bit, possibly reversed or huge) inside the clip.
bool cut_to_clip(const Plane& p, i64 left, i64 top, i64 right, i64 bottom, Rect& out) {
  left = std::max<i64>(left, p.clip.left);
  top = std::max<i64>(top, p.clip.top);
  right = std::min<i64>(right, p.clip.right);
  bottom = std::min<i64>(bottom, p.clip.bottom);
  if (right <= left || bottom <= top) return false;
  out = {static_cast<std::int32_t>(left), static_cast<std::int32_t>(top), static_cast<std::int32_t>(right),
         static_cast<std::int32_t>(bottom)};
  return true;
}

// Blends colour (0x00RRGGBB; 8-bit planes use its low byte as a number) with opacity a onto the
// pixel at p, by the rule of the plane's depth. Opacity 0 leaves the pixel.
template <int BITS>
inline void blend(std::uint8_t* p, std::uint32_t colour, std::uint32_t a) {
  const PixelTables& T = g_pixel_tables;
  if (a == 0) return;
  const std::uint8_t b = colour & 255, g = (colour >> 8) & 255, r = (colour >> 16) & 255;
  if constexpr (BITS == 32) {
    const std::uint32_t k = T.weight[a][p[3]];
    const std::uint8_t* mk = T.multiply[k];
    const std::uint8_t* mr = T.multiply[255 - k];
    p[0] = mk[b] + mr[p[0]];
    p[1] = mk[g] + mr[p[1]];
    p[2] = mk[r] + mr[p[2]];
    p[3] = T.screen[a][p[3]];
  } else {
    const std::uint8_t* ma = T.multiply[a];
    const std::uint8_t* mr = T.multiply[255 - a];
    if constexpr (BITS == 24) {
      p[0] = ma[b] + mr[p[0]];
      p[1] = ma[g] + mr[p[1]];
      p[2] = ma[r] + mr[p[2]];
    } else if constexpr (BITS == 16) {
      const std::uint32_t v = p[0] | std::uint32_t(p[1]) << 8;
      const std::uint32_t nb = ma[b] + mr[T.expand5[v & 31]], ng = ma[g] + mr[T.expand5[(v >> 5) & 31]],
                          nr = ma[r] + mr[T.expand5[(v >> 10) & 31]];
      const std::uint32_t w = (nr >> 3) << 10 | (ng >> 3) << 5 | (nb >> 3);
      p[0] = w & 255;
      p[1] = static_cast<std::uint8_t>(w >> 8);
    } else {
      p[0] = ma[b] + mr[p[0]];
    }
  }
}

void blend_at(const Plane& p, i64 x, i64 y, std::uint32_t colour, std::uint32_t a) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
  std::uint8_t* q = row_address(p, static_cast<std::int32_t>(y)) + x * (p.bits / 8);
  switch (p.bits) {
    case 8: blend<8>(q, colour, a); break;
    case 16: blend<16>(q, colour, a); break;
    case 24: blend<24>(q, colour, a); break;
    case 32: blend<32>(q, colour, a); break;
  }
}

void blend_span(const Plane& p, std::int32_t y, std::int32_t x0, std::int32_t x1, std::uint32_t colour, std::uint32_t a) {
  std::uint8_t* q = row_address(p, y);
  switch (p.bits) {
    case 8: for (std::int32_t x = x0; x < x1; ++x) blend<8>(q + x, colour, a); break;
    case 16: for (std::int32_t x = x0; x < x1; ++x) blend<16>(q + 2 * x, colour, a); break;
    case 24: for (std::int32_t x = x0; x < x1; ++x) blend<24>(q + 3 * x, colour, a); break;
    case 32:
      if (x1 > x0) simd::composite_fill_row(colour | a << 24, q + 4 * std::ptrdiff_t(x0), x1 - x0);
      break;
  }
}

struct RectJob {
  const Plane* plane;
  Rect area;
  std::uint32_t colour;
  std::uint32_t alpha;
  std::uint8_t value[4];  // gclear's pixel bytes
};

void clear_row(const void* job, int row) {
  const RectJob& J = *static_cast<const RectJob*>(job);
  const int bytes = J.plane->bits / 8;
  std::uint8_t* q = row_address(*J.plane, J.area.top + row) + std::ptrdiff_t(J.area.left) * bytes;
  const int n = J.area.right - J.area.left;
  const bool one_byte_value = bytes == 1 || (J.value[0] == J.value[1] && (bytes == 2 || J.value[1] == J.value[2]) &&
                                             (bytes < 4 || J.value[2] == J.value[3]));
  if (one_byte_value || n <= 0) {
    if (n > 0) std::memset(q, J.value[0], std::size_t(n) * std::size_t(bytes));
    return;
  }
  // The first pixel, then the filled part copied onto what follows, doubling each time.
  std::memcpy(q, J.value, std::size_t(bytes));
  for (std::size_t done = std::size_t(bytes), total = std::size_t(n) * std::size_t(bytes); done < total; done *= 2)
    std::memcpy(q + done, q, std::min(done, total - done));
}

void fill_row(const void* job, int row) {
  const RectJob& J = *static_cast<const RectJob*>(job);
  blend_span(*J.plane, J.area.top + row, J.area.left, J.area.right, J.colour, J.alpha);
}

// Moves an end point that lies outside [0, w) x [0, h) along the line to the boundary.
bool clip_segment(i64& x1, i64& y1, i64& x2, i64& y2, i64 w, i64 h) {
  for (int round = 0; round < 8; ++round) {
    auto code = [&](i64 x, i64 y) { return (x < 0) | (x >= w) << 1 | (y < 0) << 2 | (y >= h) << 3; };
    const int c1 = code(x1, y1), c2 = code(x2, y2);
    if ((c1 | c2) == 0) return true;
    if (c1 & c2) return false;
    const bool first = c1 != 0;
    i64& x = first ? x1 : x2;
    i64& y = first ? y1 : y2;
    const i64 ox = first ? x2 : x1, oy = first ? y2 : y1;
    const int c = first ? c1 : c2;
    using i128 = __int128;
    if (c & 1) {
      y = static_cast<i64>(y + i128(0 - x) * (oy - y) / (ox - x));
      x = 0;
    } else if (c & 2) {
      y = static_cast<i64>(y + i128(w - 1 - x) * (oy - y) / (ox - x));
      x = w - 1;
    } else if (c & 4) {
      x = static_cast<i64>(x + i128(0 - y) * (ox - x) / (oy - y));
      y = 0;
    } else {
      x = static_cast<i64>(x + i128(h - 1 - y) * (ox - x) / (oy - y));
      y = h - 1;
    }
  }
  return false;
}

// ---- dirty rectangles -----------------------------------------------------------------------

constexpr int kDirtyCapacity = 2048;
Rect g_dirty[kDirtyCapacity];
int g_dirty_count = 0;

}  // namespace

int clear_rect(std::uint32_t number, const Rect* rect, std::uint32_t colour) {
  const Plane* p = plane(number);
  if (!drawable(p)) return 0;
  const Rect whole{0, 0, p->width, p->height};
  const Rect& r = rect ? *rect : whole;
  RectJob job{p, {}, colour, 0, {}};
  if (!cut_to_clip(*p, r.left, r.top, r.right, r.bottom, job.area)) return 0;
  const std::uint32_t b = colour & 255, g = (colour >> 8) & 255, red = (colour >> 16) & 255;
  switch (p->bits) {
    case 8: job.value[0] = static_cast<std::uint8_t>(b); break;
    case 16: {
      const std::uint32_t v = (red & 0xF8) << 7 | (g & 0xF8) << 2 | b >> 3;
      job.value[0] = v & 255;
      job.value[1] = static_cast<std::uint8_t>(v >> 8);
      break;
    }
    default: std::memcpy(job.value, &colour, 4); break;  // 24 bits take blue, green, red of it
  }
  const int rows = job.area.bottom - job.area.top;
  run_rows(clear_row, &job, rows, i64(rows) * (job.area.right - job.area.left));
  return 1;
}

int fill_rect(std::uint32_t number, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
              std::uint32_t colour) {
  const Plane* p = plane(number);
  if (!drawable(p)) return 0;
  RectJob job{p, {}, colour & 0xFFFFFF, colour >> 24, {}};
  if (job.alpha == 0) return 1;
  if (!cut_to_clip(*p, x, y, i64(x) + width, i64(y) + height, job.area)) return 1;
  const int rows = job.area.bottom - job.area.top;
  run_rows(fill_row, &job, rows, i64(rows) * (job.area.right - job.area.left));
  return 1;
}

int draw_line(std::uint32_t number, std::int32_t x1_, std::int32_t y1_, std::int32_t x2_, std::int32_t y2_,
              std::uint32_t colour) {
  const Plane* p = plane(number);
  if (!drawable(p)) return 0;
  const std::uint32_t a = colour >> 24;
  const std::uint32_t rgb = colour & 0xFFFFFF;
  if (a == 0) return 1;
  i64 x1 = x1_, y1 = y1_, x2 = x2_, y2 = y2_;
  if (!clip_segment(x1, y1, x2, y2, p->width, p->height)) return 0;
  if (y1 == y2) {
    for (i64 x = std::min(x1, x2); x <= std::max(x1, x2); ++x) blend_at(*p, x, y1, rgb, a);
    return 1;
  }
  if (x1 == x2) {
    for (i64 y = std::min(y1, y2); y <= std::max(y1, y2); ++y) blend_at(*p, x1, y, rgb, a);
    return 1;
  }
  const bool x_major = std::abs(x2 - x1) >= std::abs(y2 - y1);
  i64 major1 = x_major ? x1 : y1, major2 = x_major ? x2 : y2;
  i64 minor1 = x_major ? y1 : x1, minor2 = x_major ? y2 : x2;
  if (major1 > major2) {
    std::swap(major1, major2);
    std::swap(minor1, minor2);
  }
  const i64 minor_difference = minor2 - minor1;
  i64 m = minor1 << 16;
  i64 step = (minor_difference << 16) / (major2 - major1);
  if (minor_difference > 0) {
    step -= 1;
  } else {
    step += 1;
    m -= 1;
  }
  const auto& mul = g_pixel_tables.multiply;
  for (i64 major = major1; major <= major2; ++major, m += step) {
    const std::uint32_t f = (m >> 8) & 255;
    const i64 minor = m >> 16;
    if (x_major) {
      blend_at(*p, major, minor, rgb, mul[255 - f][a]);
      blend_at(*p, major, minor + 1, rgb, mul[f][a]);
    } else {
      blend_at(*p, minor, major, rgb, mul[255 - f][a]);
      blend_at(*p, minor + 1, major, rgb, mul[f][a]);
    }
  }
  return 1;
}

int fill_polygon(std::uint32_t number, const std::int32_t* xy, std::uint32_t count, std::uint32_t colour) {
  const Plane* p = plane(number);
  if (!drawable(p) || count < 3) return 0;
  const std::uint32_t a = colour >> 24, rgb = colour & 0xFFFFFF;
  if (a == 0) return 1;
  struct Edge {
    i64 top, bottom, x_top, step;  // x in 16.16, per row
  };
  std::vector<Edge> edges;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t j = i + 1 == count ? 0 : i + 1;
    i64 x0 = xy[2 * i], y0 = xy[2 * i + 1], x1 = xy[2 * j], y1 = xy[2 * j + 1];
    if (y0 == y1) continue;
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    edges.push_back({y0, y1, x0 << 16, ((x1 - x0) << 16) / (y1 - y0)});
  }
  if (edges.size() < 2) return 1;
  std::sort(edges.begin(), edges.end(), [](const Edge& l, const Edge& r) { return l.top < r.top; });
  i64 last = p->clip.bottom;
  i64 lowest = edges.front().bottom;
  for (const Edge& e : edges) lowest = std::max(lowest, e.bottom);
  last = std::min(last, lowest);
  std::vector<const Edge*> active;
  std::vector<i64> xs;
  std::size_t next = 0;
  for (i64 y = std::max<i64>(edges.front().top, p->clip.top); y < last; ++y) {
    while (next < edges.size() && edges[next].top <= y) active.push_back(&edges[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [&](const Edge* e) { return e->bottom <= y; }), active.end());
    xs.clear();
    for (const Edge* e : active) {
      // Positions far outside any plane are held at a bound, so no product can overflow.
      const __int128 x = __int128(e->x_top) + __int128(e->step) * (y - e->top);
      xs.push_back(static_cast<i64>(std::clamp<__int128>(x, -(i64(1) << 50), i64(1) << 50)));
    }
    // Insertion sort: the active list is short and nearly sorted from row to row.
    for (std::size_t i = 1; i < xs.size(); ++i) {
      const i64 v = xs[i];
      std::size_t k = i;
      while (k > 0 && xs[k - 1] > v) xs[k] = xs[k - 1], --k;
      xs[k] = v;
    }
    for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
      const i64 left = std::max<i64>(xs[i] >> 16, p->clip.left), right = std::min<i64>(xs[i + 1] >> 16, p->clip.right);
      if (left < right)
        blend_span(*p, static_cast<std::int32_t>(y), static_cast<std::int32_t>(left), static_cast<std::int32_t>(right), rgb, a);
    }
  }
  return 1;
}

// ---- built-ins ------------------------------------------------------------------------------

std::uint32_t bi_gclear(vm::Address arguments) {
  const vm::Address rect = vm::argument_word(arguments, 1);
  Rect r;
  if (rect != 0 && !vm::load(rect, r)) return 0;
  return static_cast<std::uint32_t>(clear_rect(vm::argument_word(arguments, 0), rect ? &r : nullptr, vm::argument_word(arguments, 2)));
}

std::uint32_t bi_gfill(vm::Address arguments) {
  return static_cast<std::uint32_t>(fill_rect(vm::argument_word(arguments, 0), vm::argument_int(arguments, 1),
                                              vm::argument_int(arguments, 2), vm::argument_int(arguments, 3),
                                              vm::argument_int(arguments, 4), vm::argument_word(arguments, 5)));
}

std::uint32_t bi_gline(vm::Address arguments) {
  return static_cast<std::uint32_t>(draw_line(vm::argument_word(arguments, 0), vm::argument_int(arguments, 1),
                                              vm::argument_int(arguments, 2), vm::argument_int(arguments, 3),
                                              vm::argument_int(arguments, 4), vm::argument_word(arguments, 5)));
}

// Polygons of more corners than this are refused: no picture needs them, and the edge list of a
// count taken from a stray word would exhaust memory.
constexpr std::uint32_t kMaxPolygonPoints = 1u << 22;

std::uint32_t bi_gpoly(vm::Address arguments) {
  const std::uint32_t count = vm::argument_word(arguments, 2);
  if (count < 3 || count > kMaxPolygonPoints) return 0;
  const std::uint8_t* points = vm::checked_pointer(vm::argument_word(arguments, 1), std::uint64_t(count) * 8);
  if (points == nullptr) return 0;
  std::vector<std::int32_t> xy(std::size_t(count) * 2);
  std::memcpy(xy.data(), points, xy.size() * 4);
  return static_cast<std::uint32_t>(fill_polygon(vm::argument_word(arguments, 0), xy.data(), count, vm::argument_word(arguments, 3)));
}

std::uint32_t bi_drt_init(vm::Address) {
  g_dirty_count = 0;
  return 1;
}

std::uint32_t bi_drt_set(vm::Address arguments) {
  const vm::Address a = vm::argument_word(arguments, 0);
  Rect r;
  if (a == 0 || !vm::load(a, r)) return 0;
  return add_dirty_rect(r) ? 1 : 0;
}

bool add_dirty_rect(const Rect& r) {
  if (g_dirty_count < kDirtyCapacity) {
    g_dirty[g_dirty_count++] = r;
    return true;
  }
  Rect u = r;
  for (int i = 0; i < g_dirty_count; ++i) {
    u.left = std::min(u.left, g_dirty[i].left);
    u.top = std::min(u.top, g_dirty[i].top);
    u.right = std::max(u.right, g_dirty[i].right);
    u.bottom = std::max(u.bottom, g_dirty[i].bottom);
  }
  g_dirty[0] = u;
  g_dirty_count = 1;
  return false;
}

namespace {

// A new plane holding the w x h pixels of `p` from (x, y) (inside `p`) and its colour table;
// nullptr when it cannot be made. For planes of 8 bits or more.
Plane* copy_of_area(const Plane& p, i64 x, i64 y, i64 w, i64 h) {
  Plane* area = new_plane(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), p.bits);
  if (area == nullptr) return nullptr;
  const std::size_t bytes = std::size_t(p.bits / 8);
  for (i64 row = 0; row < h; ++row)
    std::memcpy(row_address(*area, static_cast<std::int32_t>(row)),
                row_address(p, static_cast<std::int32_t>(y + row)) + std::size_t(x) * bytes, std::size_t(w) * bytes);
  // The same colours, and the same number of them: a short table reads as black beyond its end.
  std::memcpy(colour_table(*area), colour_table(p), 4 * std::size_t(p.colour_count));
  area->colour_count = p.colour_count;
  return area;
}

}  // namespace

int dirty_count() { return g_dirty_count; }
void clear_dirty_list() { g_dirty_count = 0; }
Rect dirty_rect(int i) { return g_dirty[i]; }

int plan_dirty_copy(std::uint32_t dst_number, std::int32_t x, std::int32_t y, std::uint32_t src_number,
                    const Rect* src_rect, DirtyCopy& plan) {
  plan.pieces.clear();
  plan.area.reset();
  Plane* dst = plane(dst_number);
  Plane* src = plane(src_number);
  if (dst == nullptr || src == nullptr) return 0;
  Rect s = src_rect ? *src_rect : Rect{0, 0, src->width, src->height};
  if (s.left > s.right) std::swap(s.left, s.right);
  if (s.top > s.bottom) std::swap(s.top, s.bottom);
  // The copy area in destination coordinates: the source rectangle inside the source plane, placed
  // at (x, y), inside the destination's clip.
  const i64 dx = i64(x) - s.left, dy = i64(y) - s.top;  // destination = source + (dx, dy)
  const i64 left = std::max({i64(x), i64(dst->clip.left), dx}), top = std::max({i64(y), i64(dst->clip.top), dy});
  const i64 right = std::min({i64(x) + (i64(s.right) - s.left), i64(dst->clip.right), dx + src->width});
  const i64 bottom = std::min({i64(y) + (i64(s.bottom) - s.top), i64(dst->clip.bottom), dy + src->height});
  if (g_dirty_count == 0 || right <= left || bottom <= top) return 1;

  // The pieces may be copied in any order, so a plane copied onto itself at another place would
  // let a piece read what another wrote: they read a copy of the source area instead.
  plan.destination = dst;
  plan.source = src;
  plan.from_x = dx;
  plan.from_y = dy;
  if ((dx != 0 || dy != 0) && src->bits >= 8 && shares_pixels(*dst, *src)) {
    plan.area.reset(copy_of_area(*src, left - dx, top - dy, right - left, bottom - top));
    if (plan.area == nullptr) return 0;
    plan.source = plan.area.get();
    plan.from_x = left;
    plan.from_y = top;
  }
  auto piece = [](i64 l, i64 t, i64 r, i64 b) {
    return Rect{static_cast<std::int32_t>(l), static_cast<std::int32_t>(t), static_cast<std::int32_t>(r),
                static_cast<std::int32_t>(b)};
  };
  std::vector<Rect> cut;
  for (int i = 0; i < g_dirty_count; ++i) {
    const Rect& r = g_dirty[i];
    const i64 l = std::max<i64>(r.left, left), t = std::max<i64>(r.top, top), rr = std::min<i64>(r.right, right),
              bb = std::min<i64>(r.bottom, bottom);
    if (rr <= l || bb <= t) continue;
    // One rectangle over the whole area is the whole copy, and it empties the list.
    if (l == left && t == top && rr == right && bb == bottom) {
      plan.pieces.assign(1, piece(left, top, right, bottom));
      g_dirty_count = 0;
      return 1;
    }
    cut.push_back(piece(l, t, rr, bb));
  }
  // A sweep from top to bottom: at every row where a rectangle starts or ends the set of active
  // rectangles (kept in order of their left edges) changes, and each band between two such rows
  // takes the merged spans of the active set, so that no pixel is listed twice.
  std::vector<std::int32_t> edges;
  for (const Rect& r : cut) edges.push_back(r.top), edges.push_back(r.bottom);
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  std::sort(cut.begin(), cut.end(), [](const Rect& a, const Rect& b) { return a.top < b.top; });
  std::vector<Rect> active;
  std::size_t next = 0;
  for (std::size_t band = 0; band + 1 < edges.size(); ++band) {
    const std::int32_t t = edges[band], b = edges[band + 1];
    active.erase(std::remove_if(active.begin(), active.end(), [&](const Rect& r) { return r.bottom <= t; }), active.end());
    for (; next < cut.size() && cut[next].top <= t; ++next) {
      const auto at = std::upper_bound(active.begin(), active.end(), cut[next],
                                       [](const Rect& a, const Rect& b) { return a.left < b.left; });
      active.insert(at, cut[next]);
    }
    std::int32_t span_left = 0, span_right = 0;
    bool open = false;
    for (const Rect& r : active) {
      if (open && r.left <= span_right) {
        span_right = std::max(span_right, r.right);
        continue;
      }
      if (open) plan.pieces.push_back({span_left, t, span_right, b});
      span_left = r.left;
      span_right = r.right;
      open = true;
    }
    if (open) plan.pieces.push_back({span_left, t, span_right, b});
  }
  return 1;
}

void copy_dirty_pieces(const DirtyCopy& plan, const Rect& rows) {
  Plane* dst = plan.destination;
  const Plane* from = plan.source;
  // Same-depth planes of 16 bits and more copy their bytes row by row, exactly what the mode-0 blit
  // writes for them; other pairs go through the blit, which converts.
  const bool same_bytes = from->bits == dst->bits && dst->bits >= 16;
  const std::size_t pixel_bytes = std::size_t(dst->bits / 8);
  for (const Rect& whole : plan.pieces) {
    const Rect r = intersection(whole, rows);
    if (empty(r)) continue;
    if (same_bytes) {
      for (i64 y = r.top; y < r.bottom; ++y)
        std::memcpy(row_address(*dst, static_cast<std::int32_t>(y)) + std::size_t(r.left) * pixel_bytes,
                    row_address(*from, static_cast<std::int32_t>(y - plan.from_y)) + std::size_t(r.left - plan.from_x) * pixel_bytes,
                    std::size_t(r.right - r.left) * pixel_bytes);
      continue;
    }
    const Rect source{static_cast<std::int32_t>(r.left - plan.from_x), static_cast<std::int32_t>(r.top - plan.from_y),
                      static_cast<std::int32_t>(r.right - plan.from_x), static_cast<std::int32_t>(r.bottom - plan.from_y)};
    stretch_blit(dst, &r, const_cast<Plane*>(from), &source, nullptr, nullptr);
  }
}

int dirty_copy(std::uint32_t dst, std::int32_t x, std::int32_t y, std::uint32_t src, const Rect* src_rect) {
  DirtyCopy plan;
  const int result = plan_dirty_copy(dst, x, y, src, src_rect, plan);
  if (!plan.pieces.empty()) copy_dirty_pieces(plan, kEverywhere);
  return result;
}

std::uint32_t bi_drt_copy(vm::Address arguments) {
  const vm::Address a = vm::argument_word(arguments, 4);
  Rect r;
  if (a != 0 && !vm::load(a, r)) return 0;
  return static_cast<std::uint32_t>(dirty_copy(vm::argument_word(arguments, 0), vm::argument_int(arguments, 1),
                                               vm::argument_int(arguments, 2), vm::argument_word(arguments, 3),
                                               a ? &r : nullptr));
}

}  // namespace talven::graphics
