// Checksums over script memory: CRC-16 (0x1021), CRC-32 (0x04C11DB7, not reflected) and the
// Adler-style hash32.
#include <algorithm>
#include <array>

#include "library/library_builtins.h"
#include "vm/call_gate.h"

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

constexpr std::array<std::uint16_t, 256> make_crc16_table() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 8;
    for (int bit = 0; bit < 8; ++bit) r = (r & 0x8000u) ? (r << 1) ^ 0x1021u : r << 1;
    table[i] = static_cast<std::uint16_t>(r);
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> make_crc32_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    table[i] = r;
  }
  return table;
}

constexpr auto kCrc16Table = make_crc16_table();
constexpr auto kCrc32Table = make_crc32_table();

}  // namespace

std::uint32_t bi_crc16(Address arguments) {
  std::int32_t length = argument_int(arguments, 1);
  std::uint32_t reg = 0xFFFF;
  if (length >= 1) {
    const std::uint8_t* data = vm::checked_pointer(argument_word(arguments, 0), static_cast<std::uint32_t>(length));
    if (data == nullptr) return 0;
    for (std::int32_t i = 0; i < length; ++i) reg = ((reg << 8) & 0xFFFFu) ^ kCrc16Table[((reg >> 8) ^ data[i]) & 0xFFu];
  }
  return ~reg;
}

std::uint32_t bi_crc32(Address arguments) {
  std::int32_t length = argument_int(arguments, 1);
  if (length < 1) return 0;
  const std::uint8_t* data = vm::checked_pointer(argument_word(arguments, 0), static_cast<std::uint32_t>(length));
  if (data == nullptr) return 0;
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::int32_t i = 0; i < length; ++i) reg = (reg << 8) ^ kCrc32Table[((reg >> 24) ^ data[i]) & 0xFFu];
  return ~reg;
}

std::uint32_t bi_hash32(Address arguments) {
  auto text = vm::load_string(argument_word(arguments, 0));
  if (!text || text->empty()) return 0;
  std::uint32_t a = 0, b = 0;
  std::size_t i = 0;
  while (i < text->size()) {
    std::size_t chunk_end = std::min(text->size(), i + 5552);
    for (; i < chunk_end; ++i) {
      a += static_cast<std::uint8_t>((*text)[i]);
      b += a;
    }
    a %= 65521u;
    b %= 65521u;
  }
  return (b << 16) | a;
}

}  // namespace talven::library
