// Memory built-ins over the script heap. Every range is checked against script memory: a range
// that leaves it does nothing and gives the failure result, and a count below 1 does nothing.
#include <cstring>
#include <utility>

#include "library/library_builtins.h"
#include "vm/call_gate.h"

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

// Host pointers for two ranges of `count` bytes, or nullptrs.
bool two_ranges(Address arguments, std::uint8_t*& a, std::uint8_t*& b, std::int32_t& count) {
  count = argument_int(arguments, 2);
  if (count < 1) return false;
  a = vm::checked_pointer(argument_word(arguments, 0), static_cast<std::uint32_t>(count));
  b = vm::checked_pointer(argument_word(arguments, 1), static_cast<std::uint32_t>(count));
  return a != nullptr && b != nullptr;
}

}  // namespace

std::uint32_t bi_malloc(Address arguments) {
  std::int32_t size = argument_int(arguments, 0);
  if (size < 0) return 0;
  return vm::script_alloc(static_cast<std::uint32_t>(size));
}

std::uint32_t bi_realloc(Address arguments) {
  Address block = argument_word(arguments, 0);
  std::int32_t size = argument_int(arguments, 1);
  if (size < 0) return 0;
  // An address that is not a live block is refused (0) instead of corrupting the heap.
  return vm::script_realloc(block, static_cast<std::uint32_t>(size));
}

std::uint32_t bi_free(Address arguments) {
  Address block = argument_word(arguments, 0);
  if (block == 0) return 1;
  return vm::script_free(block) ? 1 : 0;
}

std::uint32_t bi_memcpy(Address arguments) {
  std::uint8_t *d, *s;
  std::int32_t count;
  if (!two_ranges(arguments, d, s, count)) return count < 1 ? 1 : 0;
  std::memmove(d, s, static_cast<std::size_t>(count));
  return 1;
}

std::uint32_t bi_memmove(Address arguments) { return bi_memcpy(arguments); }

std::uint32_t bi_memset(Address arguments) {
  std::int32_t count = argument_int(arguments, 2);
  if (count < 1) return 1;
  std::uint8_t* d = vm::checked_pointer(argument_word(arguments, 0), static_cast<std::uint32_t>(count));
  if (d == nullptr) return 0;
  std::memset(d, static_cast<int>(argument_word(arguments, 1) & 0xFF), static_cast<std::size_t>(count));
  return 1;
}

std::uint32_t bi_memcmp(Address arguments) {
  std::uint8_t *a, *b;
  std::int32_t count;
  if (!two_ranges(arguments, a, b, count)) return 0;
  int c = std::memcmp(a, b, static_cast<std::size_t>(count));
  return static_cast<std::uint32_t>(c < 0 ? -1 : c > 0 ? 1 : 0);
}

std::uint32_t bi_memswap(Address arguments) {
  std::uint8_t *a, *b;
  std::int32_t count;
  if (!two_ranges(arguments, a, b, count)) return count < 1 ? 1 : 0;
  for (std::int32_t i = 0; i < count; ++i) std::swap(a[i], b[i]);
  return 1;
}

}  // namespace talven::library
