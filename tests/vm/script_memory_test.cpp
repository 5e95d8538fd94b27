#include "vm/script_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace talven::vm {
namespace {

void fill(Address a, std::uint32_t n, std::uint8_t value) { std::memset(host_pointer(a), value, n); }

bool all_bytes(Address a, std::uint32_t n, std::uint8_t value) {
  const std::uint8_t* p = host_pointer(a);
  return std::all_of(p, p + n, [value](std::uint8_t b) { return b == value; });
}

// Three blocks in a row, so that the middle one has live neighbours on both sides and its space
// can only come back to a request of the same size.
struct Sandwich {
  Address before, middle, after;
  explicit Sandwich(std::uint32_t size)
      : before(script_alloc(size)), middle(script_alloc(size)), after(script_alloc(size)) {}
  ~Sandwich() {
    script_free(before);
    script_free(middle);
    script_free(after);
  }
};

TEST(ScriptMemoryTest, FreedBlockIsHandedOutAgain) {
  Sandwich s(1000);
  ASSERT_NE(s.middle, 0u);
  ASSERT_TRUE(script_free(s.middle));
  const Address again = script_alloc(1000);
  EXPECT_EQ(again, s.middle);
  EXPECT_EQ(script_block_size(again), 1000u);
  s.middle = again;
}

TEST(ScriptMemoryTest, ZeroedAllocationIsZeroAfterReuse) {
  for (std::uint32_t size : {256u, 196608u}) {  // small blocks are cleared, large ones discarded
    Sandwich s(size);
    ASSERT_NE(s.middle, 0u);
    fill(s.middle, size, 0xFF);
    ASSERT_TRUE(script_free(s.middle));
    const Address again = script_alloc_zeroed(size);
    ASSERT_EQ(again, s.middle) << "the test needs the same block back";
    EXPECT_TRUE(all_bytes(again, size, 0)) << size;
    s.middle = again;
  }
}

TEST(ScriptMemoryTest, ZeroedAllocationIsZeroWhereStrayWritesLanded) {
  // A script may write anywhere in the space, also where no block was ever handed out. Keep
  // allocating until a block starts exactly at the high-water mark, scribbling there first.
  constexpr std::uint32_t kSize = 1u << 20;
  std::vector<Address> kept;
  bool reached_fresh_memory = false;
  for (int i = 0; i < 4000 && !reached_fresh_memory; ++i) {
    const Address mark = static_cast<Address>(script_heap_stats().high_water);
    for (std::uint32_t offset = 0; offset < kSize; offset += 4096) host_pointer(mark)[offset + 7] = 0xEE;
    const Address a = script_alloc_zeroed(kSize);
    ASSERT_NE(a, 0u);
    kept.push_back(a);
    if (a == mark) {
      reached_fresh_memory = true;
      EXPECT_TRUE(all_bytes(a, kSize, 0));
    }
  }
  EXPECT_TRUE(reached_fresh_memory);
  for (Address a : kept) script_free(a);
}

TEST(ScriptMemoryTest, BlocksAreAlignedAndOutsideTheGuard) {
  std::vector<Address> blocks;
  for (std::uint32_t size : {0u, 1u, 3u, 16u, 17u, 100u, 4095u, 65536u}) {
    const Address a = script_alloc(size);
    ASSERT_NE(a, 0u);
    EXPECT_EQ(a % 16, 0u);
    EXPECT_GE(a, kNullGuardSize);
    EXPECT_EQ(script_block_size(a), size);
    blocks.push_back(a);
  }
  for (Address a : blocks) EXPECT_TRUE(script_free(a));
}

TEST(ScriptMemoryTest, NeighboursCoalesceIntoOneFreeBlock) {
  constexpr std::uint32_t kSize = 4096;
  constexpr int kRun = 64;
  // Find kRun + 2 blocks that lie next to each other.
  std::vector<Address> blocks;
  for (int i = 0; i < 4 * kRun; ++i) blocks.push_back(script_alloc(kSize));
  std::vector<Address> sorted = blocks;
  std::sort(sorted.begin(), sorted.end());
  std::size_t start = 0, length = 1;
  for (std::size_t i = 1; i < sorted.size() && length < kRun + 2; ++i) {
    if (sorted[i] == sorted[i - 1] + kSize) {
      ++length;
    } else {
      start = i;
      length = 1;
    }
  }
  ASSERT_GE(length, std::size_t(kRun + 2));
  const Address first = sorted[start + 1];

  // Free the inner run in a scrambled order; the two ends stay live.
  std::vector<Address> inner(sorted.begin() + start + 1, sorted.begin() + start + 1 + kRun);
  std::shuffle(inner.begin(), inner.end(), std::mt19937(7));
  const ScriptHeapStats before = script_heap_stats();
  for (Address a : inner) ASSERT_TRUE(script_free(a));
  const ScriptHeapStats after = script_heap_stats();
  EXPECT_EQ(after.free_blocks, before.free_blocks + 1) << "the run became one free block";

  const Address big = script_alloc(kRun * kSize);
  EXPECT_EQ(big, first) << "one allocation fills the space of all its former neighbours";
  for (Address a : blocks)
    if (std::find(inner.begin(), inner.end(), a) == inner.end()) script_free(a);
  script_free(big);
}

TEST(ScriptMemoryTest, RandomWorkloadKeepsFootprintBounded) {
  std::mt19937 random(12345);
  struct Live {
    Address a;
    std::uint32_t size;
    std::uint8_t tag;
  };
  std::vector<Live> live;
  const std::uint64_t high_water_before = script_heap_stats().high_water;
  std::uint64_t live_bytes = 0, peak_live = 0;
  for (int step = 0; step < 20000; ++step) {
    const bool allocate = live.empty() || (live.size() < 1000 ? random() % 3 != 0 : random() % 3 == 0);
    if (allocate) {
      // Mostly small blocks, sometimes large ones, as scripts and built-ins ask.
      const std::uint32_t size = random() % 20 == 0 ? 1 + random() % 100000 : 1 + random() % 2000;
      const Address a = script_alloc(size);
      ASSERT_NE(a, 0u);
      const auto tag = static_cast<std::uint8_t>(step);
      fill(a, size, tag);
      live.push_back({a, size, tag});
      live_bytes += size;
      peak_live = std::max(peak_live, live_bytes);
    } else {
      const std::size_t i = random() % live.size();
      ASSERT_TRUE(all_bytes(live[i].a, live[i].size, live[i].tag)) << "a block was overwritten";
      ASSERT_TRUE(script_free(live[i].a));
      live_bytes -= live[i].size;
      live[i] = live.back();
      live.pop_back();
    }
  }
  const std::uint64_t grown = script_heap_stats().high_water - high_water_before;
  EXPECT_LE(grown, peak_live + peak_live / 2 + (1u << 20)) << "peak live " << peak_live;
  for (const Live& l : live) script_free(l.a);
}

TEST(ScriptMemoryTest, ReallocGrowsInPlaceWhenNeighbourIsFree) {
  Address a = script_alloc(100);
  Address b = script_alloc(100);
  const Address fence = script_alloc(100);
  ASSERT_EQ(b, a + 112) << "the test needs two neighbouring blocks";
  for (int i = 0; i < 100; ++i) host_pointer(a)[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(script_free(b));
  EXPECT_EQ(script_realloc(a, 200), a);
  EXPECT_EQ(script_block_size(a), 200u);
  EXPECT_EQ(script_realloc(a, 50), a) << "shrinking never moves";
  EXPECT_EQ(script_block_size(a), 50u);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(host_pointer(a)[i], i);
  script_free(a);
  script_free(fence);
}

TEST(ScriptMemoryTest, ReallocMovesAndKeepsContents) {
  const Address a = script_alloc(100);
  const Address fence = script_alloc(100);
  for (int i = 0; i < 100; ++i) host_pointer(a)[i] = static_cast<std::uint8_t>(i + 1);
  const Address moved = script_realloc(a, 100000);
  ASSERT_NE(moved, 0u);
  EXPECT_NE(moved, a);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(host_pointer(moved)[i], i + 1);
  EXPECT_EQ(script_block_size(moved), 100000u);
  EXPECT_FALSE(script_free(a)) << "the old block was released";
  // A request that cannot be met leaves the block as it was.
  EXPECT_EQ(script_realloc(moved, 0xFFFFFFF0u), 0u);
  EXPECT_EQ(script_block_size(moved), 100000u);
  EXPECT_EQ(host_pointer(moved)[99], 100);
  EXPECT_EQ(script_realloc(moved, 0), 0u) << "size 0 frees";
  EXPECT_EQ(script_block_size(moved), 0u);
  const Address fresh = script_realloc(0, 64);
  EXPECT_NE(fresh, 0u);
  EXPECT_EQ(script_realloc(fresh + 16, 128), 0u) << "not a block";
  EXPECT_EQ(script_block_size(fresh), 64u);
  script_free(fresh);
  script_free(fence);
}

TEST(ScriptMemoryTest, FreeOfNonBlockOrTwiceIsRefused) {
  Sandwich s(64);
  fill(s.middle, 64, 0x42);
  const ScriptHeapStats before = script_heap_stats();
  EXPECT_FALSE(script_free(0));
  EXPECT_FALSE(script_free(s.middle + 16)) << "inside a block";
  EXPECT_FALSE(script_free(0xFFFFFF00u)) << "never handed out";
  EXPECT_FALSE(script_free(5)) << "in the guard";
  const ScriptHeapStats after = script_heap_stats();
  EXPECT_EQ(after.live_blocks, before.live_blocks);
  EXPECT_EQ(after.bytes_in_use, before.bytes_in_use);
  EXPECT_TRUE(all_bytes(s.middle, 64, 0x42));

  EXPECT_TRUE(script_free(s.middle));
  EXPECT_FALSE(script_free(s.middle)) << "second free";
  EXPECT_EQ(script_heap_stats().live_blocks, before.live_blocks - 1);
  s.middle = 0;
}

TEST(ScriptMemoryTest, ImpossibleRequestsFailCleanly) {
  const ScriptHeapStats before = script_heap_stats();
  EXPECT_EQ(script_alloc(0xFFFFFFFFu), 0u);
  EXPECT_EQ(script_alloc_zeroed(0xFFFF0000u), 0u);
  EXPECT_EQ(script_heap_stats().live_blocks, before.live_blocks);
}

TEST(ScriptMemoryTest, CheckedAccessorsAtTheEdges) {
  struct Case {
    Address a;
    std::uint64_t n;
    bool ok;
  };
  const Case cases[] = {
      {0, 1, false},          {0xFFFF, 1, false},     {0xFFFE, 4, false},      {0x10000, 1, true},
      {0xFFFFFFFF, 1, true},  {0xFFFFFFFF, 2, false}, {0xFFFFFFFC, 4, true},   {0xFFFFFFFD, 4, false},
      {0x10000, 0xFFFF0000, true}, {0x10000, 0xFFFF0001, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(range_ok(c.a, c.n), c.ok) << std::hex << c.a << " + " << c.n;
    EXPECT_EQ(checked_pointer(c.a, c.n) != nullptr, c.ok) << std::hex << c.a << " + " << c.n;
  }
  std::uint32_t v = 0;
  EXPECT_FALSE(load(0xFFFE, v));
  EXPECT_FALSE(store(0, v));
  EXPECT_TRUE(store<std::uint32_t>(0xFFFFFFFC, 0xA5A5A5A5));
  EXPECT_TRUE(load(0xFFFFFFFC, v));
  EXPECT_EQ(v, 0xA5A5A5A5u);
  EXPECT_FALSE(load(0xFFFFFFFE, v));
}

TEST(ScriptMemoryTest, StringsStopAtTheEndOfTheSpace) {
  // The last 16 bytes of the space hold no terminator: the string runs off the end.
  fill(0xFFFFFFF0u, 16, 'x');
  EXPECT_FALSE(load_string(0xFFFFFFF0u).has_value());
  EXPECT_FALSE(load_string(0).has_value());
  EXPECT_FALSE(load_string(0x100).has_value());

  Sandwich s(32);
  ASSERT_TRUE(store_string(s.middle, "hello", 6));
  EXPECT_EQ(load_string(s.middle).value(), "hello");
  EXPECT_EQ(load_string(s.middle, 5).value(), "hello");
  EXPECT_FALSE(load_string(s.middle, 4).has_value()) << "no terminator within the limit";
  EXPECT_FALSE(store_string(s.middle, "hello", 5)) << "no room for the terminator";
  EXPECT_FALSE(store_string(0xFFFFFFFCu, "hello", 6)) << "past the end of the space";
  EXPECT_FALSE(store_string(0x8000, "", 1)) << "in the guard";
}

TEST(ScriptMemoryTest, ThreadsAllocateAndFreeConcurrently) {
  constexpr int kThreads = 4;
  std::vector<std::vector<std::pair<Address, std::uint32_t>>> kept(kThreads);
  std::vector<int> corrupted(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &kept, &corrupted] {
      std::mt19937 random(100 + t);
      std::vector<std::pair<Address, std::uint32_t>> live;
      const auto tag = static_cast<std::uint8_t>(0xA0 + t);
      for (int step = 0; step < 20000; ++step) {
        if (live.size() < 20 || random() % 2 == 0) {
          const std::uint32_t size = 1 + random() % 3000;
          const Address a = random() % 4 == 0 ? script_alloc_zeroed(size) : script_alloc(size);
          if (a == 0) continue;
          fill(a, size, tag);
          live.push_back({a, size});
        } else {
          const std::size_t i = random() % live.size();
          if (!all_bytes(live[i].first, live[i].second, tag)) ++corrupted[t];
          script_free(live[i].first);
          live[i] = live.back();
          live.pop_back();
        }
      }
      kept[t] = live;
    });
  }
  for (std::thread& t : threads) t.join();

  std::vector<std::pair<Address, std::uint32_t>> all;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(corrupted[t], 0) << "thread " << t << " found its block overwritten";
    for (auto& block : kept[t]) {
      EXPECT_TRUE(all_bytes(block.first, block.second, static_cast<std::uint8_t>(0xA0 + t)));
      all.push_back(block);
    }
  }
  std::sort(all.begin(), all.end());
  for (std::size_t i = 1; i < all.size(); ++i)
    EXPECT_GE(all[i].first, all[i - 1].first + all[i - 1].second) << "live blocks overlap";
  for (auto& block : all) EXPECT_TRUE(script_free(block.first));
}

}  // namespace
}  // namespace talven::vm
