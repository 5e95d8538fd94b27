// The three blits (stretch, rotated nearest, rotated bilinear), their mode preparation, clipping
// and fixed-point stepping, and the built-ins gcopy, gblit and gblita.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "graphics/blit_kernels.h"
#include "graphics/palette.h"
#include "graphics/parallel_rows.h"
#include "graphics/planes.h"
#include "vm/call_gate.h"

namespace talven::graphics {
namespace {

using blit::Params;
using i64 = std::int64_t;
using i128 = __int128;

bool drawable_depth(const Plane* p) { return p && (p->bits == 8 || p->bits == 16 || p->bits == 24 || p->bits == 32); }

std::uint32_t key_for(const Plane& p, std::uint32_t colour) {
  if (p.bits == 8) return static_cast<std::uint32_t>(colour_index(colour));
  const std::uint32_t rgb = colour_rgb(colour);
  return p.bits == 16 ? blit::pack555(rgb) : rgb;
}

// A prepared call: the effective mode, the parameters the kernel reads, and whether to draw.
struct Prepared {
  int mode = 0;
  bool masked = false;
  bool draws = true;
  Params params;
};

// False when the call is refused (the blit returns 0).
bool prepare(const Plane* dst, const Plane* src, const Plane* mask, const BlitMode* record, Prepared& out) {
  const BlitMode m = record ? *record : BlitMode{};
  if (m.mode >= blit::kModes || !drawable_depth(dst) || !drawable_depth(src)) return false;
  int mode = m.mode;
  switch (mode) {
    // Modes weighted by the opacity draw nothing at 0.
    case blit::kBlitBlend: case blit::kBlitOperation: case blit::kBlitAlpha: case blit::kBlitTint:
    case blit::kBlitWindow: case blit::kBlitRamp: case blit::kBlitMaskFill: case blit::kBlitMonoTint:
      if (m.opacity == 0) return false;
  }
  Params& P = out.params;
  int operation = m.operation;
  using namespace blit;
  if (mode == kBlitOperation && operation > 13) mode = kBlitBlend;
  if (mode == kBlitBlend && m.opacity == 255) mode = kBlitCopy;
  if (mode == kBlitTint && (m.parameter == 0 || operation > 13)) mode = kBlitAlpha;
  if ((mode == kBlitMaskFill || mode == kBlitMonoTint) && operation > 13) operation = 0;
  if (mode == kBlitChannels && m.key == 0) out.draws = false;
  P.opacity = m.opacity;
  P.parameter = m.parameter;
  P.op = blend_table(operation <= 13 ? operation : 0);
  P.key_source = key_for(*src, m.key);
  P.key_destination = key_for(*dst, m.key);
  P.write_mask = m.key;
  for (int i = 0; i < 4; ++i) P.select[i] = (m.operation >> (2 * i)) & 3;
  P.tint = colour_rgb(m.colour);
  if (mode == kBlitRamp) {
    const int t = m.opacity, w = m.parameter;
    for (int i = 0; i < 256; ++i) {
      int r = i < t ? 255 : i >= t + w ? 0 : 255 + (255 * (t - i)) / w;
      P.ramp[i] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
    }
  }
  // Kernels index the colour table of an 8-bit plane by any byte: a shorter table is read
  // through a full copy whose missing entries are black.
  P.source_colours = colour_table(*src);
  P.destination_colours = colour_table(*dst);
  if (src->bits == 8 && src->colour_count < 256) {
    std::memcpy(P.short_source_colours, P.source_colours, 4 * std::size_t(src->colour_count));
    P.source_colours = P.short_source_colours;
  }
  if (dst->bits == 8 && dst->colour_count < 256) {
    std::memcpy(P.short_destination_colours, P.destination_colours, 4 * std::size_t(dst->colour_count));
    P.destination_colours = P.short_destination_colours;
  }
  P.inverse = inverse_map();
  P.map_indices = color_mapping();
  out.mode = mode;
  // Only an 8-bit plane can serve as a mask: its bytes are the coverage.
  out.masked = mode >= kFirstMaskedMode && mode <= kLastMaskedMode && mask != nullptr && mask->bits == 8;
  return true;
}

int bytes_of(const Plane& p) { return p.bits / 8; }

struct Box {
  i64 left, top, right, bottom;
};

// A rectangle from script coordinates (null: the whole plane), with reversed axes noted.
Box normalise(const Rect* r, const Plane& p, bool& mirror_x, bool& mirror_y) {
  Box b = r ? Box{r->left, r->top, r->right, r->bottom} : Box{0, 0, p.width, p.height};
  if (b.left > b.right) {
    std::swap(b.left, b.right);
    mirror_x = !mirror_x;
  }
  if (b.top > b.bottom) {
    std::swap(b.top, b.bottom);
    mirror_y = !mirror_y;
  }
  return b;
}

i128 ceil_div(i128 a, i128 b) {  // b > 0
  return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// One axis of the stretch: the range [k0, k1) of destination steps (in drawing order) that land
// inside the destination clip and whose source position lies inside [source_low, source_high).
struct AxisRange {
  i64 k0, k1;
};
AxisRange stretch_axis(i64 d0, i64 d1, i64 clip_low, i64 clip_high, i64 s0, i64 source_low, i64 source_high,
                       bool mirror, std::uint64_t step) {
  const i64 dw = d1 - d0;
  i128 k0 = 0, k1 = dw;
  if (!mirror) {
    k0 = std::max<i128>(k0, clip_low - d0);
    k1 = std::min<i128>(k1, clip_high - d0);
  } else {
    k0 = std::max<i128>(k0, d1 - clip_high);
    k1 = std::min<i128>(k1, d1 - clip_low);
  }
  const i128 a = source_low - s0, b = source_high - s0;
  if (b <= 0) return {0, 0};
  if (a > 0) k0 = std::max<i128>(k0, ceil_div(a << 32, step));
  k1 = std::min<i128>(k1, ceil_div(b << 32, step));
  if (k1 <= k0) return {0, 0};
  return {static_cast<i64>(k0), static_cast<i64>(k1)};
}

// ---- a plane drawn onto itself ---------------------------------------------------------------
//
// Every blit reads its source and mask as they were before the call, as if through a temporary
// copy, also when they share pixel memory with the destination (a plane scrolled onto itself is a
// common idiom). Planes own their pixel memory, so sharing means the very same plane; the test
// (shares_pixels) is made on the memory all the same.

// A host copy of the part of a plane's pixel memory that a blit reads, laid out as the plane's own
// memory (same pitch, rows bottom-up), so that every offset computed for the plane reads the copy
// unchanged. Only rows [top, bottom) and, in each, bytes [first, end) are copied: the rest of the
// buffer is never read.
class PixelCopy {
 public:
  // False when the buffer cannot be allocated. The ranges lie inside the plane.
  bool take(const Plane& p, i64 top, i64 bottom, i64 first, i64 end) {
    bytes_.reset(new (std::nothrow) std::uint8_t[std::size_t(p.pitch) * std::size_t(p.height)]);
    if (!bytes_) return false;
    const std::uint8_t* from = vm::host_pointer(p.pixels);
    for (i64 y = top; y < bottom; ++y) {
      const std::size_t row = std::size_t(p.height - 1 - y) * p.pitch;
      std::memcpy(bytes_.get() + row + first, from + row + first, std::size_t(end - first));
    }
    return true;
  }
  // Stands for the plane's pixel memory (its bottom row).
  const std::uint8_t* pixels() const { return bytes_.get(); }
  // Stands for the first byte of the plane's top row.
  const std::uint8_t* top_row(const Plane& p) const { return bytes_.get() + std::size_t(p.height - 1) * p.pitch; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
};

// A plane moved along its own rows (same rows, shifted left or right): each row's source span is
// copied aside before the kernel writes the row, so every pixel reads the row as it was. Rows stay
// independent, so they may still be split over threads.
struct RowCopyJob {
  const blit::StretchJob* job;
  blit::RowFunction kernel;
  std::ptrdiff_t first, end;         // the bytes of a source row that the kernel reads
  const std::ptrdiff_t* zero_rows;   // a row offset of 0 for every row: the copy is the row
};

void row_through_copy(const void* p, int y) {
  const RowCopyJob& R = *static_cast<const RowCopyJob*>(p);
  thread_local std::vector<std::uint8_t> buffer;
  if (buffer.size() < std::size_t(R.end)) buffer.resize(std::size_t(R.end));
  const std::uint8_t* row = R.job->source + R.job->source_rows[y];
  std::memcpy(buffer.data() + R.first, row + R.first, std::size_t(R.end - R.first));
  blit::StretchJob local = *R.job;
  local.source = buffer.data();
  local.source_rows = R.zero_rows;
  R.kernel(&local, y);
}

// How an unmirrored, unscaled blit of a plane onto itself must run: the destination is the source
// moved by (dx, dy) picture pixels over an area of columns x rows.
enum class SelfCopy { independent, bottom_up, top_down, row_copies };
SelfCopy self_copy_order(i64 dx, i64 dy, i64 columns, i64 rows) {
  // Disjoint areas, or every pixel onto itself (each rule reads a pixel before writing it).
  if (std::abs(dx) >= columns || std::abs(dy) >= rows || (dx == 0 && dy == 0)) return SelfCopy::independent;
  // Rows move down: the lowest row is written first, so each source row is read before the row
  // that replaces it; moving up, the other way round. Rows then depend on each other's order.
  if (dy > 0) return SelfCopy::bottom_up;
  if (dy < 0) return SelfCopy::top_down;
  return SelfCopy::row_copies;
}

}  // namespace

bool shares_pixels(const Plane& a, const Plane& b) {
  const std::uint64_t a0 = a.pixels, a1 = a0 + std::uint64_t(a.pitch) * std::uint64_t(a.height);
  const std::uint64_t b0 = b.pixels, b1 = b0 + std::uint64_t(b.pitch) * std::uint64_t(b.height);
  return a0 < b1 && b0 < a1;
}

int stretch_blit(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, Plane* mask, const BlitMode* mode) {
  Prepared prep;
  if (!prepare(dst, src, mask, mode, prep)) return 0;
  bool mirror_x = false, mirror_y = false;
  const Box d = normalise(dst_rect, *dst, mirror_x, mirror_y);
  const Box s = normalise(src_rect, *src, mirror_x, mirror_y);
  if (d.right == d.left || d.bottom == d.top || s.right == s.left || s.bottom == s.top) return 0;
  if (!prep.draws) return 1;
  const int sb = bytes_of(*src), db = bytes_of(*dst);
  const int pair = blit::pair_index(sb, db);
  const bool masked = prep.masked;
  const blit::RowFunction general =
      masked ? blit::kStretchKernels.masked[prep.mode - blit::kFirstMaskedMode][pair] : blit::kStretchKernels.plain[prep.mode][pair];
  if (general == nullptr) return 1;

  const std::uint64_t step_x = static_cast<std::uint64_t>((i128(s.right - s.left) << 32) / (d.right - d.left));
  const std::uint64_t step_y = static_cast<std::uint64_t>((i128(s.bottom - s.top) << 32) / (d.bottom - d.top));
  i64 source_width = src->width, source_height = src->height;
  if (masked) {
    source_width = std::min<i64>(source_width, mask->width);
    source_height = std::min<i64>(source_height, mask->height);
  }
  const AxisRange ax = stretch_axis(d.left, d.right, dst->clip.left, dst->clip.right, s.left, 0, source_width, mirror_x, step_x);
  const AxisRange ay = stretch_axis(d.top, d.bottom, dst->clip.top, dst->clip.bottom, s.top, 0, source_height, mirror_y, step_y);
  const i64 columns = ax.k1 - ax.k0, rows = ay.k1 - ay.k0;
  if (columns <= 0 || rows <= 0) return 1;

  std::vector<std::ptrdiff_t> offsets(std::size_t(columns + rows) * (masked ? 2 : 1));
  std::ptrdiff_t* source_columns = offsets.data();
  std::ptrdiff_t* source_rows = source_columns + columns;
  std::ptrdiff_t* mask_columns = masked ? source_rows + rows : nullptr;
  std::ptrdiff_t* mask_rows = masked ? mask_columns + columns : nullptr;
  // Source positions only grow along each table, so the first and last entries bound what is read.
  const i64 first_source_x = s.left + static_cast<i64>((static_cast<unsigned __int128>(ax.k0) * step_x) >> 32);
  const i64 first_source_y = s.top + static_cast<i64>((static_cast<unsigned __int128>(ay.k0) * step_y) >> 32);
  i64 last_source_x = first_source_x, last_source_y = first_source_y;
  unsigned __int128 position = static_cast<unsigned __int128>(ax.k0) * step_x;
  for (i64 k = 0; k < columns; ++k, position += step_x) {
    const i64 x = s.left + static_cast<i64>(position >> 32);
    source_columns[k] = x * sb;
    if (masked) mask_columns[k] = x;
    last_source_x = x;
  }
  position = static_cast<unsigned __int128>(ay.k0) * step_y;
  for (i64 k = 0; k < rows; ++k, position += step_y) {
    const i64 y = s.top + static_cast<i64>(position >> 32);
    source_rows[k] = (src->height - 1 - y) * std::ptrdiff_t(src->pitch);
    if (masked) mask_rows[k] = (mask->height - 1 - y) * std::ptrdiff_t(mask->pitch);
    last_source_y = y;
  }

  const i64 first_x = mirror_x ? d.right - 1 - ax.k0 : d.left + ax.k0;
  const i64 first_y = mirror_y ? d.bottom - 1 - ay.k0 : d.top + ay.k0;
  blit::StretchJob job;
  job.params = &prep.params;
  job.destination = row_address(*dst, static_cast<std::int32_t>(first_y)) + first_x * db;
  job.destination_column_step = mirror_x ? -db : db;
  job.destination_row_step = mirror_y ? std::ptrdiff_t(dst->pitch) : -std::ptrdiff_t(dst->pitch);
  job.source = vm::host_pointer(src->pixels);
  job.source_columns = source_columns;
  job.source_rows = source_rows;
  job.mask = masked ? vm::host_pointer(mask->pixels) : nullptr;
  job.mask_columns = mask_columns;
  job.mask_rows = mask_rows;
  job.columns = static_cast<int>(columns);

  blit::RowFunction row = general;
  const bool unscaled = step_x == (std::uint64_t(1) << 32) && step_y == (std::uint64_t(1) << 32) && !mirror_x;
  if (unscaled && !(db == 1 && color_mapping())) {
    if (blit::RowFunction direct = blit::direct_kernel(prep.mode, masked, sb, db)) row = direct;
  }

  // A source or mask in the destination's own memory is read as it was before the call.
  PixelCopy mask_copy, source_copy;
  if (masked && shares_pixels(*dst, *mask)) {
    if (!mask_copy.take(*mask, first_source_y, last_source_y + 1, first_source_x, last_source_x + 1)) return 0;
    job.mask = mask_copy.pixels();
  }
  if (shares_pixels(*dst, *src)) {
    const bool translation = unscaled && !mirror_y && dst == src;
    if (!translation) {
      // Scaled or mirrored, a row may read what another has written: the kernel reads a copy.
      if (!source_copy.take(*src, first_source_y, last_source_y + 1, first_source_x * sb, (last_source_x + 1) * sb))
        return 0;
      job.source = source_copy.pixels();
    } else {
      const i64 dx = first_x - first_source_x, dy = first_y - first_source_y;
      switch (self_copy_order(dx, dy, columns, rows)) {
        case SelfCopy::independent: break;
        case SelfCopy::bottom_up:
        case SelfCopy::top_down:
          // Rows now depend on the order they run in: never split over threads.
          run_rows_in_order(row, &job, static_cast<int>(rows), dy > 0);
          return 1;
        case SelfCopy::row_copies: {
          const std::vector<std::ptrdiff_t> zero_rows(std::size_t(rows), 0);
          const RowCopyJob copies{&job, row, source_columns[0], source_columns[columns - 1] + sb, zero_rows.data()};
          run_rows(row_through_copy, &copies, static_cast<int>(rows), columns * rows);
          return 1;
        }
      }
    }
  }
  run_rows(row, &job, static_cast<int>(rows), columns * rows);
  return 1;
}

int copy_blit(std::uint32_t dst_number, std::int32_t x, std::int32_t y, std::uint32_t src_number, const Rect* src_rect,
              const BlitMode* mode) {
  Plane* dst = plane(dst_number);
  Plane* src = plane(src_number);
  if (dst == nullptr || src == nullptr) return 0;
  return copy_blit_onto(dst, x, y, src, attached_plane(src_number), src_rect, mode);
}

int copy_blit_onto(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, Plane* mask, const Rect* src_rect,
                   const BlitMode* mode) {
  const Rect whole{0, 0, src->width, src->height};
  const Rect& r = src_rect ? *src_rect : whole;
  const i64 w = r.right >= r.left ? i64(r.right) - r.left : i64(r.left) - r.right;
  const i64 h = r.bottom >= r.top ? i64(r.bottom) - r.top : i64(r.top) - r.bottom;
  // A destination reaching past the 32-bit range is cut there; the part beyond lies off every plane.
  const Rect d{x, y, static_cast<std::int32_t>(std::min<i64>(x + w, INT32_MAX)),
               static_cast<std::int32_t>(std::min<i64>(y + h, INT32_MAX))};
  if (w > 0 && h > 0 && (d.right == d.left || d.bottom == d.top)) return 1;
  // The copy stays unscaled even when the destination was cut at the top of the range.
  if (i64(d.right) - d.left != w || i64(d.bottom) - d.top != h) {
    Rect cut = r;
    const i64 cw = i64(d.right) - d.left, ch = i64(d.bottom) - d.top;
    // The destination keeps its left and top parts; mirrored, those come from the source's far end.
    cut.right = static_cast<std::int32_t>(r.right >= r.left ? r.left + cw : r.left - cw);
    cut.bottom = static_cast<std::int32_t>(r.bottom >= r.top ? r.top + ch : r.top - ch);
    return stretch_blit(dst, &d, src, &cut, mask, mode);
  }
  return stretch_blit(dst, &d, src, &r, mask, mode);
}

int rotated_blit(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, Plane* mask, const BlitMode* mode,
                 std::int32_t angle, bool bilinear, std::int32_t sub_x, std::int32_t sub_y) {
  Prepared prep;
  if (!prepare(dst, src, mask, mode, prep)) return 0;
  bool mirror_x = false, mirror_y = false;
  const Box d = normalise(dst_rect, *dst, mirror_x, mirror_y);
  const Box s = normalise(src_rect, *src, mirror_x, mirror_y);
  if (d.right == d.left || d.bottom == d.top || s.right == s.left || s.bottom == s.top) return 0;
  if (!prep.draws) return 1;
  const int sb = bytes_of(*src), db = bytes_of(*dst);
  const int pair = blit::pair_index(sb, db);
  const blit::KernelSet& set = bilinear ? blit::kBilinearKernels : blit::kNearestKernels;
  const blit::RowFunction row = prep.masked ? set.masked[prep.mode - blit::kFirstMaskedMode][pair] : set.plain[prep.mode][pair];
  if (row == nullptr) return 1;

  // Only the angle modulo a turn matters: unsigned arithmetic keeps every 32-bit value defined.
  std::uint32_t turn = static_cast<std::uint32_t>(angle);
  if (mirror_x != mirror_y) turn = 0u - turn;
  const i64 S = g_pixel_tables.sine[turn & 2047], C = g_pixel_tables.sine[(turn + 512) & 2047];
  const i64 dw = d.right - d.left, dh = d.bottom - d.top, sw = s.right - s.left, sh = s.bottom - s.top;
  const i64 box_w = (std::abs(C * dw) + std::abs(S * dh) + 32768) >> 16;
  const i64 box_h = (std::abs(S * dw) + std::abs(C * dh) + 32768) >> 16;
  const i64 cx = d.left + dw / 2, cy = d.top + dh / 2;
  const Box box{cx - box_w / 2, cy - box_h / 2, cx - box_w / 2 + box_w, cy - box_h / 2 + box_h};
  const Box clipped{std::max<i64>(box.left, dst->clip.left), std::max<i64>(box.top, dst->clip.top),
                    std::min<i64>(box.right, dst->clip.right), std::min<i64>(box.bottom, dst->clip.bottom)};
  if (clipped.right <= clipped.left || clipped.bottom <= clipped.top) return 1;

  // Accepted source area: the source rectangle inside the source plane (and the mask).
  i64 plane_w = src->width, plane_h = src->height;
  if (prep.masked) {
    plane_w = std::min<i64>(plane_w, mask->width);
    plane_h = std::min<i64>(plane_h, mask->height);
  }
  blit::RotateJob job;
  job.left = std::max<i64>(s.left, 0);
  job.top = std::max<i64>(s.top, 0);
  job.right = std::min<i64>(s.right, plane_w);
  job.bottom = std::min<i64>(s.bottom, plane_h);
  if (job.right <= job.left || job.bottom <= job.top) return 1;

  // Source position of the box's first pixel (its right or bottom end when mirrored).
  const i64 ox = (mirror_x ? box.right - 1 : box.left) - cx, oy = (mirror_y ? box.bottom - 1 : box.top) - cy;
  i128 u = (i128(ox * C - oy * S) * sw) / dw + (i128(s.left + sw / 2) << 16);
  i128 v = (i128(ox * S + oy * C) * sh) / dh + (i128(s.top + sh / 2) << 16);
  if (sw & 1) u += 32768;
  if (sh & 1) v += 32768;
  u += sub_x;
  v += sub_y;
  i64 du_column = static_cast<i64>(i128(C) * sw / dw), dv_column = static_cast<i64>(i128(S) * sh / dh);
  i64 du_row = static_cast<i64>(-i128(S) * sw / dw), dv_row = static_cast<i64>(i128(C) * sh / dh);
  if (mirror_x) du_column = -du_column, dv_column = -dv_column;
  if (mirror_y) du_row = -du_row, dv_row = -dv_row;
  const std::uint64_t cut_x = static_cast<std::uint64_t>(clipped.left - box.left);
  const std::uint64_t cut_y = static_cast<std::uint64_t>(clipped.top - box.top);
  job.u0 = static_cast<std::uint64_t>(u) + cut_x * std::uint64_t(du_column) + cut_y * std::uint64_t(du_row);
  job.v0 = static_cast<std::uint64_t>(v) + cut_x * std::uint64_t(dv_column) + cut_y * std::uint64_t(dv_row);
  job.du_column = std::uint64_t(du_column);
  job.dv_column = std::uint64_t(dv_column);
  job.du_row = std::uint64_t(du_row);
  job.dv_row = std::uint64_t(dv_row);
  job.params = &prep.params;
  job.destination = row_address(*dst, static_cast<std::int32_t>(clipped.top)) + clipped.left * db;
  job.destination_row_step = -std::ptrdiff_t(dst->pitch);
  job.columns = static_cast<int>(clipped.right - clipped.left);
  job.source_top = row_address(*src, 0);
  job.source_pitch = std::ptrdiff_t(src->pitch);
  job.mask_top = prep.masked ? row_address(*mask, 0) : nullptr;
  job.mask_pitch = prep.masked ? std::ptrdiff_t(mask->pitch) : 0;
  // A turned or scaled picture may read any pixel of the accepted area after writing it: a source
  // or mask in the destination's own memory is read from a copy of that area.
  PixelCopy source_copy, mask_copy;
  if (shares_pixels(*dst, *src)) {
    if (!source_copy.take(*src, job.top, job.bottom, job.left * sb, job.right * sb)) return 0;
    job.source_top = source_copy.top_row(*src);
  }
  if (prep.masked && shares_pixels(*dst, *mask)) {
    if (!mask_copy.take(*mask, job.top, job.bottom, job.left, job.right)) return 0;
    job.mask_top = mask_copy.top_row(*mask);
  }
  const i64 rows = clipped.bottom - clipped.top;
  run_rows(row, &job, static_cast<int>(rows), rows * job.columns);
  return 1;
}

// ---- built-ins ------------------------------------------------------------------------------

namespace {

// An optional record argument: null is fine (nullptr), an address outside script memory fails.
template <typename T>
bool optional_record(vm::Address a, T& storage, const T*& out) {
  out = nullptr;
  if (a == 0) return true;
  if (!vm::load(a, storage)) return false;
  out = &storage;
  return true;
}

std::uint32_t rotated_builtin(vm::Address arguments, bool bilinear) {
  const std::uint32_t dst_number = vm::argument_word(arguments, 0), src_number = vm::argument_word(arguments, 2);
  Rect dr, sr;
  BlitMode m;
  const Rect *dst_rect, *src_rect;
  const BlitMode* mode;
  if (!optional_record(vm::argument_word(arguments, 1), dr, dst_rect) ||
      !optional_record(vm::argument_word(arguments, 3), sr, src_rect) ||
      !optional_record(vm::argument_word(arguments, 4), m, mode))
    return 0;
  Plane* dst = plane(dst_number);
  Plane* src = plane(src_number);
  if (dst == nullptr || src == nullptr) return 0;
  return static_cast<std::uint32_t>(rotated_blit(dst, dst_rect, src, src_rect, attached_plane(src_number), mode,
                                                 vm::argument_int(arguments, 5), bilinear));
}

}  // namespace

std::uint32_t bi_gcopy(vm::Address arguments) {
  Rect sr;
  BlitMode m;
  const Rect* src_rect;
  const BlitMode* mode;
  if (!optional_record(vm::argument_word(arguments, 4), sr, src_rect) ||
      !optional_record(vm::argument_word(arguments, 5), m, mode))
    return 0;
  return static_cast<std::uint32_t>(copy_blit(vm::argument_word(arguments, 0), vm::argument_int(arguments, 1),
                                              vm::argument_int(arguments, 2), vm::argument_word(arguments, 3), src_rect,
                                              mode));
}

std::uint32_t bi_gblit(vm::Address arguments) { return rotated_builtin(arguments, false); }
std::uint32_t bi_gblita(vm::Address arguments) { return rotated_builtin(arguments, true); }

}  // namespace talven::graphics
