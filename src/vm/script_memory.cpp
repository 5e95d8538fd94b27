#include "vm/script_memory.h"

#include <bit>
#include <cstdlib>
#include <memory>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/virtual_memory.h"

namespace talven::vm {

std::uint8_t* g_script_base = script_memory_base();

namespace {

constexpr std::uint64_t kTailSize = 0x10000;
// The top 64 KiB of the space are never handed out either, so that a block's end always fits in
// 32 bits and an access that runs past the last block stays inside the mapping.
constexpr std::uint64_t kHeapEnd = kAddressSpaceSize - 0x10000;

std::uint8_t* reserve_region() {
  void* p = platform::reserve_lazy_memory(kAddressSpaceSize + kTailSize);
  if (p == nullptr) {
    std::fputs("talven: cannot reserve the 4 GiB script address space\n", stderr);
    std::abort();
  }
  platform::make_inaccessible(p, kNullGuardSize);
  return static_cast<std::uint8_t*>(p);
}

// Two-level segregated fit (TLSF) over the script space, with the block records kept on the
// host side. Free lists are indexed by a first level (power of two) and a second level (32
// linear subdivisions), so allocation and freeing take constant time and fit is good.
class Tlsf {
 public:
  static constexpr unsigned kGranuleLog2 = 4;
  static constexpr std::uint64_t kGranule = 1u << kGranuleLog2;
  static constexpr unsigned kSlLog2 = 5;
  static constexpr unsigned kSlCount = 1u << kSlLog2;
  static constexpr unsigned kFlShift = kSlLog2 + kGranuleLog2;
  static constexpr std::uint64_t kSmallBlock = 1u << kFlShift;
  static constexpr unsigned kFlCount = 33 - kFlShift + 1;

  Tlsf() {
    Block* all = new_block();
    all->start = kNullGuardSize;
    all->size = kHeapEnd - kNullGuardSize;
    all->free = true;
    insert_free(all);
  }

  // Returns the block's address (0 when no room) and its rounded size in `granted`.
  Address allocate(std::uint32_t requested, std::uint64_t& granted) {
    std::uint64_t size = round_up(requested == 0 ? 1 : requested);
    std::lock_guard lock(mutex_);
    Block* b = find_free(size);
    if (b == nullptr) return 0;
    remove_free(b);
    split(b, size);
    b->free = false;
    b->requested = requested;
    live_.emplace(static_cast<Address>(b->start), b);
    bytes_in_use_ += b->size;
    if (b->start + b->size > high_water_) high_water_ = b->start + b->size;
    granted = b->size;
    return static_cast<Address>(b->start);
  }

  bool release(Address a) {
    std::lock_guard lock(mutex_);
    auto it = live_.find(a);
    if (it == live_.end()) return false;
    Block* b = it->second;
    live_.erase(it);
    bytes_in_use_ -= b->size;
    // Large blocks give their pages back; the system hands them out zeroed again.
    if (b->size >= 0x10000) {
      std::uint64_t page = platform::page_size();
      std::uint64_t first = (b->start + page - 1) / page * page;
      std::uint64_t last = (b->start + b->size) / page * page;
      if (last > first) platform::discard_pages(host_pointer(static_cast<Address>(first)), last - first);
    }
    b->free = true;
    if (b->prev_phys && b->prev_phys->free) {
      Block* p = b->prev_phys;
      remove_free(p);
      p->size += b->size;
      unlink_phys(b);
      b = p;
    }
    if (b->next_phys && b->next_phys->free) {
      Block* n = b->next_phys;
      remove_free(n);
      b->size += n->size;
      unlink_phys(n);
    }
    insert_free(b);
    return true;
  }

  // Grows or shrinks in place when the neighbour allows; returns false when it must move.
  bool resize_in_place(Address a, std::uint32_t requested) {
    std::uint64_t size = round_up(requested == 0 ? 1 : requested);
    std::lock_guard lock(mutex_);
    auto it = live_.find(a);
    if (it == live_.end()) return false;
    Block* b = it->second;
    if (size > b->size) {
      Block* n = b->next_phys;
      if (!n || !n->free || b->size + n->size < size) return false;
      remove_free(n);
      bytes_in_use_ -= b->size;
      b->size += n->size;
      unlink_phys(n);
      split(b, size);
      bytes_in_use_ += b->size;
      if (b->start + b->size > high_water_) high_water_ = b->start + b->size;
    } else {
      bytes_in_use_ -= b->size;
      split(b, size);
      bytes_in_use_ += b->size;
    }
    b->requested = requested;
    return true;
  }

  bool is_live(Address a) {
    std::lock_guard lock(mutex_);
    return live_.count(a) != 0;
  }

  std::uint32_t requested_size(Address a) {
    std::lock_guard lock(mutex_);
    auto it = live_.find(a);
    return it == live_.end() ? 0 : it->second->requested;
  }

  ScriptHeapStats stats() {
    std::lock_guard lock(mutex_);
    ScriptHeapStats s{};
    s.bytes_in_use = bytes_in_use_;
    s.live_blocks = live_.size();
    s.high_water = high_water_;
    for (unsigned fl = 0; fl < kFlCount; ++fl)
      for (unsigned sl = 0; sl < kSlCount; ++sl)
        for (Block* b = heads_[fl][sl]; b; b = b->next_free) {
          ++s.free_blocks;
          if (b->size > s.largest_free) s.largest_free = b->size;
        }
    return s;
  }

 private:
  struct Block {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    Block* prev_phys = nullptr;
    Block* next_phys = nullptr;
    Block* prev_free = nullptr;
    Block* next_free = nullptr;
    std::uint32_t requested = 0;
    bool free = false;
  };

  static std::uint64_t round_up(std::uint64_t n) { return (n + kGranule - 1) & ~(kGranule - 1); }

  static void mapping(std::uint64_t size, unsigned& fl, unsigned& sl) {
    if (size < kSmallBlock) {
      fl = 0;
      sl = static_cast<unsigned>(size / (kSmallBlock / kSlCount));
    } else {
      unsigned msb = 63 - std::countl_zero(size);
      sl = static_cast<unsigned>((size >> (msb - kSlLog2)) ^ (1u << kSlLog2));
      fl = msb - (kFlShift - 1);
    }
  }

  Block* find_free(std::uint64_t size) {
    // Round up to the next list boundary so that any block of the list found fits.
    std::uint64_t search = size;
    if (search >= kSmallBlock) {
      unsigned msb = 63 - std::countl_zero(search);
      search += (std::uint64_t(1) << (msb - kSlLog2)) - 1;
    }
    unsigned fl, sl;
    mapping(search, fl, sl);
    if (fl >= kFlCount) return nullptr;
    std::uint32_t sl_bits = sl_map_[fl] & (~0u << sl);
    if (sl_bits == 0) {
      std::uint64_t fl_bits = fl_map_ & (~std::uint64_t(0) << (fl + 1));
      if (fl_bits == 0) return nullptr;
      fl = static_cast<unsigned>(std::countr_zero(fl_bits));
      sl_bits = sl_map_[fl];
    }
    sl = static_cast<unsigned>(std::countr_zero(sl_bits));
    return heads_[fl][sl];
  }

  void insert_free(Block* b) {
    unsigned fl, sl;
    mapping(b->size, fl, sl);
    b->prev_free = nullptr;
    b->next_free = heads_[fl][sl];
    if (b->next_free) b->next_free->prev_free = b;
    heads_[fl][sl] = b;
    fl_map_ |= std::uint64_t(1) << fl;
    sl_map_[fl] |= 1u << sl;
  }

  void remove_free(Block* b) {
    unsigned fl, sl;
    mapping(b->size, fl, sl);
    if (b->prev_free) b->prev_free->next_free = b->next_free;
    else heads_[fl][sl] = b->next_free;
    if (b->next_free) b->next_free->prev_free = b->prev_free;
    b->prev_free = b->next_free = nullptr;
    if (heads_[fl][sl] == nullptr) {
      sl_map_[fl] &= ~(1u << sl);
      if (sl_map_[fl] == 0) fl_map_ &= ~(std::uint64_t(1) << fl);
    }
  }

  // Cuts b down to `size`, returning the rest to the free lists (merged with a free neighbour).
  void split(Block* b, std::uint64_t size) {
    if (b->size - size < kGranule) return;
    Block* rest = new_block();
    rest->start = b->start + size;
    rest->size = b->size - size;
    rest->free = true;
    rest->prev_phys = b;
    rest->next_phys = b->next_phys;
    if (rest->next_phys) rest->next_phys->prev_phys = rest;
    b->next_phys = rest;
    b->size = size;
    if (rest->next_phys && rest->next_phys->free) {
      Block* n = rest->next_phys;
      remove_free(n);
      rest->size += n->size;
      unlink_phys(n);
    }
    insert_free(rest);
  }

  void unlink_phys(Block* b) {
    if (b->prev_phys) b->prev_phys->next_phys = b->next_phys;
    if (b->next_phys) b->next_phys->prev_phys = b->prev_phys;
    recycle(b);
  }

  Block* new_block() {
    if (spare_.empty()) {
      chunks_.emplace_back(new Block[256]);
      for (int i = 0; i < 256; ++i) spare_.push_back(&chunks_.back()[i]);
    }
    Block* b = spare_.back();
    spare_.pop_back();
    *b = Block{};
    return b;
  }

  void recycle(Block* b) { spare_.push_back(b); }

  std::mutex mutex_;
  std::uint64_t fl_map_ = 0;
  std::uint32_t sl_map_[kFlCount] = {};
  Block* heads_[kFlCount][kSlCount] = {};
  std::unordered_map<Address, Block*> live_;
  std::vector<Block*> spare_;
  std::vector<std::unique_ptr<Block[]>> chunks_;
  std::uint64_t bytes_in_use_ = 0;
  std::uint64_t high_water_ = kNullGuardSize;
};

Tlsf& heap() {
  static Tlsf instance;
  return instance;
}

}  // namespace

std::uint8_t* script_memory_base() {
  static std::uint8_t* base = reserve_region();
  return base;
}

namespace {
thread_local bool t_watching_refusals = false;
thread_local std::optional<Address> t_first_refused;
}  // namespace

void watch_refused_addresses(bool on) {
  t_watching_refusals = on;
  t_first_refused.reset();
}

std::optional<Address> first_refused_address() { return t_first_refused; }

void note_refused_address(Address a) {
  if (t_watching_refusals && !t_first_refused) t_first_refused = a;
}

std::uint8_t* checked_pointer(Address a, std::uint64_t n) {
  if (range_ok(a, n)) return host_pointer(a);
  note_refused_address(a);
  return nullptr;
}

std::optional<std::string_view> load_string(Address a, std::uint32_t max_length) {
  if (a < kNullGuardSize) {
    note_refused_address(a);
    return std::nullopt;
  }
  const std::uint64_t to_end = kAddressSpaceSize - a;
  std::uint64_t limit = to_end;
  if (limit > std::uint64_t(max_length) + 1) limit = std::uint64_t(max_length) + 1;
  const void* end = std::memchr(host_pointer(a), 0, limit);
  if (end == nullptr) {
    // Running off the end of the space is a bad address; a string longer than the caller's limit
    // is not.
    if (limit == to_end) note_refused_address(a);
    return std::nullopt;
  }
  return std::string_view(reinterpret_cast<const char*>(host_pointer(a)),
                          static_cast<const std::uint8_t*>(end) - host_pointer(a));
}

bool store_string(Address a, std::string_view text, std::uint32_t capacity) {
  if (capacity == 0 || text.size() + 1 > capacity) return false;
  if (!range_ok(a, text.size() + 1)) {
    note_refused_address(a);
    return false;
  }
  std::memcpy(host_pointer(a), text.data(), text.size());
  host_pointer(a)[text.size()] = 0;
  return true;
}

namespace {

// Memory that was never handed out is not necessarily zero: any script may have written there
// through a stray pointer. So every zeroed block is cleared; whole pages of a large block are
// handed back to the system instead, which reads them as zero without committing them.
void zero_block(Address a, std::uint64_t size) {
  std::uint8_t* p = host_pointer(a);
  if (size < 0x10000) {
    std::memset(p, 0, size);
    return;
  }
  const std::uint64_t page = platform::page_size();
  const std::uint64_t first = (std::uint64_t(a) + page - 1) / page * page;
  const std::uint64_t last = (std::uint64_t(a) + size) / page * page;
  std::memset(p, 0, first - a);
  platform::discard_pages(host_pointer(static_cast<Address>(first)), last - first);
  std::memset(g_script_base + last, 0, std::uint64_t(a) + size - last);
}

}  // namespace

Address script_alloc(std::uint32_t size) {
  std::uint64_t granted = 0;
  return heap().allocate(size, granted);
}

Address script_alloc_zeroed(std::uint32_t size) {
  std::uint64_t granted = 0;
  Address a = heap().allocate(size, granted);
  if (a != 0) zero_block(a, granted);
  return a;
}
bool script_free(Address a) { return heap().release(a); }
std::uint32_t script_block_size(Address a) { return heap().requested_size(a); }
ScriptHeapStats script_heap_stats() { return heap().stats(); }

Address script_realloc(Address a, std::uint32_t size) {
  if (a == 0) return script_alloc(size);
  if (!heap().is_live(a)) return 0;
  std::uint32_t old_size = script_block_size(a);
  if (size == 0) {
    script_free(a);
    return 0;
  }
  if (heap().resize_in_place(a, size)) return a;
  Address b = script_alloc(size);
  if (b == 0) return 0;
  std::memcpy(host_pointer(b), host_pointer(a), old_size < size ? old_size : size);
  script_free(a);
  return b;
}

}  // namespace talven::vm
