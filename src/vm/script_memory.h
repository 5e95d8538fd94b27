// The 32-bit script address space.
//
// Scripts see 32-bit addresses; every script-visible byte (program images, stacks, the script
// heap, blocks that built-ins hand out) lives in one lazily committed region of 4 GiB, and script
// address `a` is host address `base + a`. The first 64 KiB are never handed out so that 0 stays
// null; touching them is a script fault. The region is followed by a 64 KiB tail so that a
// multi-byte access at the very top still stays inside the mapping.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace talven::vm {

using Address = std::uint32_t;

inline constexpr Address kNullGuardSize = 0x10000;
inline constexpr std::uint64_t kAddressSpaceSize = 0x100000000ull;

// Host address of script address 0. Set up on first use of anything in this header.
extern std::uint8_t* g_script_base;
std::uint8_t* script_memory_base();

// Unchecked translation, for code that has already checked the range.
inline std::uint8_t* host_pointer(Address a) { return g_script_base + a; }

// Script address of a host pointer that lies inside the region.
inline Address script_address(const void* p) {
  return static_cast<Address>(static_cast<const std::uint8_t*>(p) - g_script_base);
}

// True when [a, a + n) lies wholly in the usable part of the space (outside the null guard).
inline bool range_ok(Address a, std::uint64_t n) {
  return a >= kNullGuardSize && std::uint64_t(a) + n <= kAddressSpaceSize;
}

// The accessors below remember, per OS thread, the first address they refused while a watch is
// on. The call gate watches during a built-in's call in DebugMode to name the argument that
// carried a bad address; elsewhere the watch is off and a refusal costs one thread-local test.
void watch_refused_addresses(bool on);
// The first refused address since the watch began, if any.
std::optional<Address> first_refused_address();
void note_refused_address(Address a);

// range_ok for a range a built-in was given: a refusal is noted as the accessors below note theirs.
inline bool usable_range(Address a, std::uint64_t n) {
  if (range_ok(a, n)) return true;
  note_refused_address(a);
  return false;
}

// Checked accessors for built-ins. A range that leaves the usable space fails.
std::uint8_t* checked_pointer(Address a, std::uint64_t n);  // nullptr on failure

template <typename T>
bool load(Address a, T& out) {
  if (!range_ok(a, sizeof(T))) {
    note_refused_address(a);
    return false;
  }
  std::memcpy(&out, host_pointer(a), sizeof(T));
  return true;
}

template <typename T>
bool store(Address a, const T& value) {
  if (!range_ok(a, sizeof(T))) {
    note_refused_address(a);
    return false;
  }
  std::memcpy(host_pointer(a), &value, sizeof(T));
  return true;
}

// The zero-terminated byte string at `a`, without the terminator. Fails when `a` is out of range,
// or when no terminator is found within `max_length` bytes or before the end of the space.
std::optional<std::string_view> load_string(Address a, std::uint32_t max_length = 0xFFFFFFFFu);

// Copies `text` and a terminating zero to `a`, at most `capacity` bytes in all.
bool store_string(Address a, std::string_view text, std::uint32_t capacity);

// ---- Allocation ---------------------------------------------------------------------------
// One allocator serves every thread. Its bookkeeping lives outside the region, so a script that
// scribbles over its own memory cannot corrupt the heap, and freeing an address that is not a
// live block is refused instead of acted on. Blocks are 16-byte aligned.

Address script_alloc(std::uint32_t size);         // 0 when no room; contents undefined
Address script_alloc_zeroed(std::uint32_t size);  // 0 when no room; contents zero
bool script_free(Address a);                      // false (and nothing done) unless a is a live block
// C realloc: 0 from a size of 0 frees; on failure returns 0 and the old block stays.
Address script_realloc(Address a, std::uint32_t size);
std::uint32_t script_block_size(Address a);  // the size asked for, 0 when a is not a live block

struct ScriptHeapStats {
  std::uint64_t bytes_in_use;   // sum of live block sizes (rounded up to the granule)
  std::uint64_t live_blocks;
  std::uint64_t free_blocks;
  std::uint64_t largest_free;   // bytes
  std::uint64_t high_water;     // highest address ever handed out + 1
};
ScriptHeapStats script_heap_stats();

}  // namespace talven::vm
