// Shared set-up of the graphics tests: tables and palettes built, headless, planes made from
// random bytes, and plane contents compared.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "graphics/palette.h"
#include "graphics/pixel_tables.h"
#include "graphics/planes.h"
#include "shell/error_reporter.h"

namespace talven::graphics::test {

inline std::vector<std::string>& reported() {
  static std::vector<std::string> messages;
  return messages;
}

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_graphics_state();
    set_multi_threading(false);
    reported().clear();
    shell::set_report_listener([](const char* text) { reported().push_back(text); });
  }
  void TearDown() override {
    shell::set_report_listener(nullptr);
    graphics_shutdown();
  }
};

inline std::uint8_t* bytes(const Plane& p) { return vm::host_pointer(p.pixels); }
inline std::size_t size(const Plane& p) { return std::size_t(p.pitch) * p.height; }

// Random pixels; 32-bit alpha is often 0 or 255 so both ends of every rule are reached.
inline void randomise(Plane& p, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uint8_t* q = bytes(p);
  for (std::size_t i = 0; i < size(p); ++i) q[i] = static_cast<std::uint8_t>(byte(rng));
  if (p.bits == 32) {
    for (std::int32_t y = 0; y < p.height; ++y)
      for (std::int32_t x = 0; x < p.width; ++x) {
        const int pick = byte(rng) % 4;
        std::uint8_t* a = row_address(p, y) + 4 * x + 3;
        if (pick == 0) *a = 0;
        if (pick == 1) *a = 255;
      }
  }
}

inline void randomise_colours(Plane& p, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::uint32_t i = 0; i < p.colour_count; ++i)
    for (int k = 0; k < 3; ++k) colour_table(p)[4 * i + k] = static_cast<std::uint8_t>(byte(rng));
}

// Copies pixels, colour table and clip of plane `from` into the same-shaped plane `to`.
inline void copy_plane(const Plane& from, Plane& to) {
  std::memcpy(bytes(to), bytes(from), size(from));
  std::memcpy(colour_table(to), colour_table(from), 4 * from.colour_count);
  to.clip = from.clip;
}

// The first differing pixel, as text, or "" when the planes hold the same pixels.
inline std::string first_difference(const Plane& a, const Plane& b) {
  const int bpp = a.bits / 8;
  for (std::int32_t y = 0; y < a.height; ++y)
    for (std::int32_t x = 0; x < a.width; ++x) {
      const std::uint8_t* p = row_address(a, y) + x * bpp;
      const std::uint8_t* q = row_address(b, y) + x * bpp;
      std::uint32_t va = 0, vb = 0;
      std::memcpy(&va, p, bpp);
      std::memcpy(&vb, q, bpp);
      if (bpp == 2) va &= 0x7FFF, vb &= 0x7FFF;  // bit 15 of a 16-bit pixel means nothing
      if (va != vb) {
        char text[160];
        std::snprintf(text, sizeof text, "pixel (%d, %d): kernel %08x, reference %08x", x, y, va, vb);
        return text;
      }
    }
  return "";
}

}  // namespace talven::graphics::test

namespace talven::graphics::test {

// Calls a built-in the way the gate does: with the script address of its argument words.
class ScriptArguments {
 public:
  ScriptArguments() : block_(vm::script_alloc_zeroed(4096)) {}
  ~ScriptArguments() { vm::script_free(block_); }
  std::uint32_t call(std::uint32_t (*handler)(vm::Address), std::initializer_list<std::uint32_t> words) {
    vm::Address a = block_;
    for (std::uint32_t w : words) vm::store(a, w), a += 4;
    return handler(block_);
  }
  // Scratch script memory for records (rectangles, modes, out-parameters), 1024 bytes at `offset`.
  vm::Address scratch(std::uint32_t offset = 0) const { return block_ + 1024 + offset; }

 private:
  vm::Address block_;
};

inline vm::Address put_rect(vm::Address a, Rect r) {
  vm::store(a, r);
  return a;
}

}  // namespace talven::graphics::test
