// A slow, per-pixel implementation of the blits written straight from the rules, used only to check
// the fast kernels. It shares nothing with them: every pixel is decoded, ruled on and encoded on its
// own, with the arithmetic written out (only the blend-operation table and the palette functions
// come from the engine, and those are tested on their own).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/palette.h"
#include "graphics/pixel_tables.h"
#include "graphics/planes.h"

namespace talven::graphics::reference {

using i64 = std::int64_t;

inline int mul(int x, int y) { return x * y / 255; }
inline int weight(int a, int b) {
  if (b == 0) return 255;
  const double x = a / 255.0, y = b / 255.0;
  return static_cast<int>(std::min(255.0, 255.0 * x / (x + y * (1.0 - x))));
}
inline int screen(int a, int b) { return 255 - (255 - a) * (255 - b) / 255; }
inline int op(int operation, int s, int d) { return blend_table(operation)[s][d]; }

struct Px {
  int c[4];  // blue, green, red, alpha
  std::uint32_t raw;
};

inline std::uint8_t* at(const Plane& p, i64 x, i64 y) {
  return vm::host_pointer(p.pixels) + (p.height - 1 - y) * i64(p.pitch) + x * (p.bits / 8);
}

inline Px decode(const Plane& p, const std::uint8_t* q, bool is_source) {
  Px v{};
  switch (p.bits) {
    case 8: {
      const std::uint8_t* e = vm::host_pointer(p.header) + 40 + 4 * q[0];
      v = {{e[0], e[1], e[2], is_source ? 255 : 0}, q[0]};
      break;
    }
    case 16: {
      const int w = (q[0] | q[1] << 8) & 0x7FFF;
      v = {{(w & 31) * 255 / 31, ((w >> 5) & 31) * 255 / 31, ((w >> 10) & 31) * 255 / 31, is_source ? 255 : 0},
           std::uint32_t(w)};
      break;
    }
    case 24: v = {{q[0], q[1], q[2], is_source ? 255 : 0}, std::uint32_t(q[0] | q[1] << 8 | q[2] << 16)}; break;
    default: v = {{q[0], q[1], q[2], q[3]}, std::uint32_t(q[0] | q[1] << 8 | q[2] << 16)}; break;
  }
  return v;
}

inline std::uint32_t rgb_of(const int c[4]) { return std::uint32_t(c[2]) << 16 | std::uint32_t(c[1]) << 8 | std::uint32_t(c[0]); }

inline void encode(const Plane& p, std::uint8_t* q, const int c[4]) {
  switch (p.bits) {
    case 8: q[0] = inverse_map()[((c[2] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[0] >> 3)]; break;
    case 16: {
      const int w = (c[2] >> 3) << 10 | (c[1] >> 3) << 5 | (c[0] >> 3);
      q[0] = w & 255;
      q[1] = w >> 8;
      break;
    }
    case 24: q[0] = c[0], q[1] = c[1], q[2] = c[2]; break;
    default: q[0] = c[0], q[1] = c[1], q[2] = c[2], q[3] = c[3]; break;
  }
}

// The call after the documented mode preparation.
struct Call {
  int mode;
  int operation;
  int opacity;
  int parameter;
  std::uint32_t key;
  std::uint32_t tint;
  bool masked;
  bool draws;
};

// Returns false when the call is refused.
inline bool prepare(const BlitMode& m, const Plane& dst, const Plane& src, const Plane* mask, Call& c) {
  auto ok = [](int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; };
  if (m.mode > 12 || !ok(dst.bits) || !ok(src.bits)) return false;
  const int needs_opacity[] = {3, 4, 5, 6, 7, 8, 11, 12};
  for (int n : needs_opacity)
    if (m.mode == n && m.opacity == 0) return false;
  c = {m.mode, m.operation, m.opacity, m.parameter, m.key, colour_rgb(m.colour), false, true};
  if (c.mode == 4 && c.operation > 13) c.mode = 3;
  if (c.mode == 3 && c.opacity == 255) c.mode = 0;
  if (c.mode == 6 && (c.parameter == 0 || c.operation > 13)) c.mode = 5;
  if ((c.mode == 11 || c.mode == 12) && c.operation > 13) c.operation = 0;
  if (c.mode == 9 && c.key == 0) c.draws = false;
  c.masked = c.mode >= 5 && c.mode <= 8 && mask && mask->bits == 8;
  if (!c.masked) {
    if ((c.mode == 7 || c.mode == 8) && src.bits != 32) c.draws = false;
    if (c.mode == 10 && ((src.bits != 8 && src.bits != 32) || (dst.bits != 8 && dst.bits != 32))) c.draws = false;
    if (c.mode == 11 && src.bits != 8) c.draws = false;
    if (c.mode == 5 && src.bits != 32) c.mode = 3;
  }
  return true;
}

inline std::uint32_t key_for(const Plane& p, std::uint32_t colour) {
  if (p.bits == 8) return colour_index(colour);
  const std::uint32_t rgb = colour_rgb(colour);
  if (p.bits == 16) return ((rgb >> 19) & 31) << 10 | ((rgb >> 11) & 31) << 5 | ((rgb >> 3) & 31);
  return rgb;
}

// Applies the rule of the call to one destination pixel given the (possibly filtered) source.
inline void rule(const Call& c, const Plane& dst, const Plane& src, const Px& s, int mask_value, std::uint8_t* q) {
  const Px d = decode(dst, q, false);
  const bool dst_alpha = dst.bits == 32;
  int out[4] = {d.c[0], d.c[1], d.c[2], d.c[3]};
  bool copy = false;  // the result is the source pixel itself
  auto composite = [&](const int t[3], int a) -> bool {
    if (a == 0) return false;
    if (a == 255) {
      out[0] = t[0], out[1] = t[1], out[2] = t[2], out[3] = 255;
      return true;
    }
    const int k = dst_alpha ? weight(a, d.c[3]) : a;
    for (int i = 0; i < 3; ++i) out[i] = mul(k, t[i]) + mul(255 - k, d.c[i]);
    out[3] = screen(a, d.c[3]);
    return true;
  };
  auto tint_of = [&](const int base[3], int t[3]) {
    const int tc[3] = {int(c.tint & 255), int((c.tint >> 8) & 255), int((c.tint >> 16) & 255)};
    for (int i = 0; i < 3; ++i) t[i] = mul(c.parameter, op(c.operation, tc[i], base[i])) + mul(255 - c.parameter, base[i]);
  };
  const int source_alpha = c.masked ? mask_value : s.c[3];
  switch (c.mode) {
    case 0: std::copy(s.c, s.c + 4, out), copy = true; break;
    case 1:
      if (s.raw == key_for(src, c.key)) return;
      std::copy(s.c, s.c + 3, out), copy = true;
      break;
    case 2:
      if (d.raw != key_for(dst, c.key)) return;
      std::copy(s.c, s.c + 3, out), copy = true;
      break;
    case 3:
      for (int i = 0; i < 4; ++i) out[i] = mul(255 - c.opacity, d.c[i]) + mul(c.opacity, s.c[i]);
      break;
    case 4: {
      const int a = mul(s.c[3], c.opacity);
      if (a == 0) return;
      for (int i = 0; i < 3; ++i) out[i] = mul(a, op(c.operation, s.c[i], d.c[i])) + mul(255 - a, d.c[i]);
      break;
    }
    case 5: {
      const int a = mul(source_alpha, c.opacity);
      if (a == 255) {
        std::copy(s.c, s.c + 4, out);
        if (c.masked) out[3] = 255;
        copy = true;
        break;
      }
      if (!composite(s.c, a)) return;
      break;
    }
    case 6: {
      int t[3];
      tint_of(s.c, t);
      if (!composite(t, mul(source_alpha, c.opacity))) return;
      break;
    }
    case 7:
      if (source_alpha < c.opacity || source_alpha > c.opacity + c.parameter) return;
      std::copy(s.c, s.c + 3, out), copy = true;
      break;
    case 8: {
      const int t = c.opacity, w = c.parameter, i = source_alpha;
      const int a = std::clamp(i < t ? 255 : i >= t + w ? 0 : 255 + (255 * (t - i)) / w, 0, 255);
      if (a == 0) return;
      if (a == 255) {
        std::copy(s.c, s.c + 3, out), copy = true;
      } else {
        for (int k = 0; k < 3; ++k) out[k] = mul(a, s.c[k]) + mul(255 - a, d.c[k]);
      }
      break;
    }
    case 9:
      for (int n = 0; n < 4; ++n) {
        const int v = mul(c.opacity, s.c[(c.operation >> (2 * n)) & 3]) + mul(255 - c.opacity, d.c[n]);
        const int key_byte = (c.key >> (8 * n)) & 255;
        out[n] = (d.c[n] & ~key_byte) | (v & key_byte);
      }
      break;
    case 10: {
      const int a = mul(src.bits == 8 ? int(s.raw) : s.c[3], c.opacity);
      if (dst.bits == 8) {
        q[0] = static_cast<std::uint8_t>(a);
        return;
      }
      out[3] = a;
      break;
    }
    case 11: {
      const int tc[3] = {int(c.tint & 255), int((c.tint >> 8) & 255), int((c.tint >> 16) & 255)};
      int t[3];
      for (int i = 0; i < 3; ++i) t[i] = op(c.operation, tc[i], d.c[i]);
      if (!composite(t, mul(int(s.raw & 255), c.opacity))) return;
      break;
    }
    default: {
      const int y = (19595 * s.c[2] + 38470 * s.c[1] + 7471 * s.c[0]) >> 16;
      const int grey[3] = {y, y, y};
      int t[3];
      tint_of(grey, t);
      if (!composite(t, mul(source_alpha, c.opacity))) return;
      break;
    }
  }
  if (dst.bits == 8 && copy && src.bits == 8 && !color_mapping()) {
    q[0] = static_cast<std::uint8_t>(s.raw);
    return;
  }
  encode(dst, q, out);
}

struct Box {
  i64 left, top, right, bottom;
};
inline Box box_of(const Rect* r, const Plane& p, bool& mx, bool& my) {
  Box b = r ? Box{r->left, r->top, r->right, r->bottom} : Box{0, 0, p.width, p.height};
  if (b.left > b.right) std::swap(b.left, b.right), mx = !mx;
  if (b.top > b.bottom) std::swap(b.top, b.bottom), my = !my;
  return b;
}

// Expected result code of the call; `dst` is drawn into.
inline int stretch(Plane& dst, const Rect* dr, const Plane& src, const Rect* sr, const Plane* mask, const BlitMode& m) {
  Call c;
  if (!prepare(m, dst, src, mask, c)) return 0;
  bool mx = false, my = false;
  const Box d = box_of(dr, dst, mx, my), s = box_of(sr, src, mx, my);
  if (d.left == d.right || d.top == d.bottom || s.left == s.right || s.top == s.bottom) return 0;
  if (!c.draws) return 1;
  const unsigned __int128 step_x = (static_cast<unsigned __int128>(s.right - s.left) << 32) / (d.right - d.left);
  const unsigned __int128 step_y = (static_cast<unsigned __int128>(s.bottom - s.top) << 32) / (d.bottom - d.top);
  for (i64 y = std::max<i64>(d.top, dst.clip.top); y < std::min<i64>(d.bottom, dst.clip.bottom); ++y) {
    const i64 ky = my ? d.bottom - 1 - y : y - d.top;
    const i64 sy = s.top + static_cast<i64>((ky * step_y) >> 32);
    if (sy < 0 || sy >= src.height || (c.masked && sy >= mask->height)) continue;
    for (i64 x = std::max<i64>(d.left, dst.clip.left); x < std::min<i64>(d.right, dst.clip.right); ++x) {
      const i64 kx = mx ? d.right - 1 - x : x - d.left;
      const i64 sx = s.left + static_cast<i64>((kx * step_x) >> 32);
      if (sx < 0 || sx >= src.width || (c.masked && sx >= mask->width)) continue;
      const int mv = c.masked ? *at(*mask, sx, sy) : 0;
      rule(c, dst, src, decode(src, at(src, sx, sy), true), mv, at(dst, x, y));
    }
  }
  return 1;
}

inline int filter(int p00, int p10, int p01, int p11, int fu, int fv) {
  const int p = p00 + (((p11 - p10 - p01 + p00) * static_cast<int>((unsigned(fu) * unsigned(fv)) >> 16) + (p01 - p00) * fv + (p10 - p00) * fu) >> 16);
  return std::clamp(p, 0, 255);
}

inline int rotated(Plane& dst, const Rect* dr, const Plane& src, const Rect* sr, const Plane* mask, const BlitMode& m,
                   int angle, bool bilinear) {
  Call c;
  if (!prepare(m, dst, src, mask, c)) return 0;
  bool mx = false, my = false;
  const Box d = box_of(dr, dst, mx, my), s = box_of(sr, src, mx, my);
  if (d.left == d.right || d.top == d.bottom || s.left == s.right || s.top == s.bottom) return 0;
  if (!c.draws) return 1;
  if (mx != my) angle = -angle;
  const double pi = std::acos(-1.0);
  auto sine = [&](int a) { return static_cast<i64>(std::sin((a & 2047) * 2.0 * pi / 2048.0) * 65536.0); };
  const i64 S = sine(angle), C = sine(angle + 512);
  const i64 dw = d.right - d.left, dh = d.bottom - d.top, sw = s.right - s.left, sh = s.bottom - s.top;
  const i64 bw = (std::llabs(C * dw) + std::llabs(S * dh) + 32768) >> 16;
  const i64 bh = (std::llabs(S * dw) + std::llabs(C * dh) + 32768) >> 16;
  const i64 cx = d.left + dw / 2, cy = d.top + dh / 2;
  const i64 bl = cx - bw / 2, bt = cy - bh / 2;
  i64 el = std::max<i64>(s.left, 0), et = std::max<i64>(s.top, 0), er = std::min<i64>(s.right, src.width),
      eb = std::min<i64>(s.bottom, src.height);
  if (c.masked) er = std::min<i64>(er, mask->width), eb = std::min<i64>(eb, mask->height);
  // The position of the box's first pixel, then per-column and per-row increments.
  const i64 ox = (mx ? bl + bw - 1 : bl) - cx, oy = (my ? bt + bh - 1 : bt) - cy;
  i64 u0 = (ox * C - oy * S) * sw / dw + ((s.left + sw / 2) << 16) + (sw & 1 ? 32768 : 0);
  i64 v0 = (ox * S + oy * C) * sh / dh + ((s.top + sh / 2) << 16) + (sh & 1 ? 32768 : 0);
  i64 ucol = C * sw / dw, vcol = S * sh / dh, urow = -S * sw / dw, vrow = C * sh / dh;
  if (mx) ucol = -ucol, vcol = -vcol;
  if (my) urow = -urow, vrow = -vrow;
  for (i64 y = std::max<i64>(bt, dst.clip.top); y < std::min<i64>(bt + bh, dst.clip.bottom); ++y) {
    for (i64 x = std::max<i64>(bl, dst.clip.left); x < std::min<i64>(bl + bw, dst.clip.right); ++x) {
      const i64 u = u0 + (x - bl) * ucol + (y - bt) * urow, v = v0 + (x - bl) * vcol + (y - bt) * vrow;
      const i64 iu = u >> 16, iv = v >> 16;
      Px sample;
      int mv = 0;
      if (!bilinear) {
        if (iu < el || iu >= er || iv < et || iv >= eb) continue;
        sample = decode(src, at(src, iu, iv), true);
        if (c.masked) mv = *at(*mask, iu, iv);
      } else {
        if (iu < el || iv < et || u > (er - 1) * 65536 || v > (eb - 1) * 65536) continue;
        const i64 iu1 = std::min(iu + 1, er - 1), iv1 = std::min(iv + 1, eb - 1);
        const int fu = static_cast<int>(u & 0xFF00), fv = static_cast<int>(v & 0xFF00);
        const Px p00 = decode(src, at(src, iu, iv), true), p10 = decode(src, at(src, iu1, iv), true),
                 p01 = decode(src, at(src, iu, iv1), true), p11 = decode(src, at(src, iu1, iv1), true);
        for (int i = 0; i < 4; ++i) sample.c[i] = filter(p00.c[i], p10.c[i], p01.c[i], p11.c[i], fu, fv);
        if (src.bits == 8) {
          sample.raw = filter(p00.raw, p10.raw, p01.raw, p11.raw, fu, fv);
        } else if (src.bits == 16) {
          sample.raw = (sample.c[2] >> 3) << 10 | (sample.c[1] >> 3) << 5 | (sample.c[0] >> 3);
        } else {
          sample.raw = rgb_of(sample.c);
        }
        if (c.masked) mv = filter(*at(*mask, iu, iv), *at(*mask, iu1, iv), *at(*mask, iu, iv1), *at(*mask, iu1, iv1), fu, fv);
      }
      rule(c, dst, src, sample, mv, at(dst, x, y));
    }
  }
  return 1;
}

}  // namespace talven::graphics::reference
