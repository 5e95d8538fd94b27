// Rectangle built-ins: {left, top, right, bottom}, right and bottom exclusive. Arithmetic wraps at
// 32 bits as it did on the platform, without undefined behaviour here.
#include <algorithm>

#include "library/library_builtins.h"
#include "vm/call_gate.h"

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

struct Rect {
  std::int32_t left, top, right, bottom;
  bool empty() const { return right <= left || bottom <= top; }
};

bool read_rect(Address a, Rect& r) { return a != 0 && vm::load(a, r); }
bool write_rect(Address a, const Rect& r) { return a != 0 && vm::store(a, r); }
bool writable(Address a) { return a != 0 && vm::usable_range(a, sizeof(Rect)); }

std::int32_t add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

}  // namespace

std::uint32_t bi_rc_empty(Address arguments) { return write_rect(argument_word(arguments, 0), Rect{0, 0, 0, 0}) ? 1 : 0; }

std::uint32_t bi_rc_set(Address arguments) {
  Rect r{argument_int(arguments, 1), argument_int(arguments, 2), argument_int(arguments, 3), argument_int(arguments, 4)};
  return write_rect(argument_word(arguments, 0), r) ? 1 : 0;
}

std::uint32_t bi_rc_setwh(Address arguments) {
  std::int32_t x = argument_int(arguments, 1), y = argument_int(arguments, 2);
  Rect r{x, y, add(x, argument_int(arguments, 3)), add(y, argument_int(arguments, 4))};
  return write_rect(argument_word(arguments, 0), r) ? 1 : 0;
}

std::uint32_t bi_rc_copy(Address arguments) {
  Rect r;
  if (!writable(argument_word(arguments, 0)) || !read_rect(argument_word(arguments, 1), r)) return 0;
  return write_rect(argument_word(arguments, 0), r) ? 1 : 0;
}

std::uint32_t bi_rc_move(Address arguments) {
  Rect r;
  Address a = argument_word(arguments, 0);
  if (!read_rect(a, r)) return 0;
  std::int32_t dx = argument_int(arguments, 1), dy = argument_int(arguments, 2);
  r = Rect{add(r.left, dx), add(r.top, dy), add(r.right, dx), add(r.bottom, dy)};
  return write_rect(a, r) ? 1 : 0;
}

std::uint32_t bi_rc_intersect(Address arguments) {
  Rect a, b;
  Address dst = argument_word(arguments, 0);
  if (!writable(dst) || !read_rect(argument_word(arguments, 1), a) || !read_rect(argument_word(arguments, 2), b)) return 0;
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (a.empty() || b.empty() || r.empty()) {
    write_rect(dst, Rect{0, 0, 0, 0});
    return 0;
  }
  write_rect(dst, r);
  return 1;
}

std::uint32_t bi_rc_union(Address arguments) {
  Rect a, b;
  Address dst = argument_word(arguments, 0);
  if (!writable(dst) || !read_rect(argument_word(arguments, 1), a) || !read_rect(argument_word(arguments, 2), b)) return 0;
  if (a.empty() && b.empty()) {
    write_rect(dst, Rect{0, 0, 0, 0});
    return 0;
  }
  Rect r = a.empty() ? b
           : b.empty() ? a
                       : Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                              std::max(a.bottom, b.bottom)};
  write_rect(dst, r);
  return 1;
}

std::uint32_t bi_rc_inflate(Address arguments) {
  Rect r;
  Address a = argument_word(arguments, 0);
  if (!read_rect(a, r)) return 0;
  std::int32_t dx = argument_int(arguments, 1), dy = argument_int(arguments, 2);
  r = Rect{sub(r.left, dx), sub(r.top, dy), add(r.right, dx), add(r.bottom, dy)};
  return write_rect(a, r) ? 1 : 0;
}

std::uint32_t bi_rc_in(Address arguments) {
  Rect r;
  if (!read_rect(argument_word(arguments, 0), r)) return 0;
  std::int32_t x = argument_int(arguments, 1), y = argument_int(arguments, 2);
  return (r.left <= x && x < r.right && r.top <= y && y < r.bottom) ? 1 : 0;
}

std::uint32_t bi_rc_check(Address arguments) {
  Rect r;
  if (!read_rect(argument_word(arguments, 0), r)) return 0;
  return r.empty() ? 1 : 0;
}

}  // namespace talven::library
