// The row split: every row runs exactly once, whatever the row count, also when calls follow
// each other closely and when they come from two threads at once.
#include <atomic>
#include <thread>
#include <vector>

#include "graphics/graphics_test_support.h"
#include "graphics/parallel_rows.h"

namespace talven::graphics::test {
namespace {

struct Count {
  mutable std::vector<std::atomic<int>> runs;
  explicit Count(int rows) : runs(static_cast<std::size_t>(rows)) {}
};

void count_row(const void* job, int y) {
  static_cast<const Count*>(job)->runs[static_cast<std::size_t>(y)].fetch_add(1);
}

TEST_F(GraphicsTest, EveryRowRunsExactlyOnce) {
  set_multi_threading(true);
  for (int rows : {1, 2, 3, 7, 17, 64, 513, 720, 70000}) {
    for (int call = 0; call < 20; ++call) {
      Count count(rows);
      run_rows(count_row, &count, rows, 1 << 20);
      for (int y = 0; y < rows; ++y) ASSERT_EQ(count.runs[static_cast<std::size_t>(y)].load(), 1) << rows << " rows, row " << y;
    }
  }
}

TEST_F(GraphicsTest, RowsFromTwoCallersAtOnceEachRunOnce) {
  set_multi_threading(true);
  auto caller = [](int rows) {
    for (int call = 0; call < 200; ++call) {
      Count count(rows);
      run_rows(count_row, &count, rows, 1 << 20);
      for (int y = 0; y < rows; ++y)
        if (count.runs[static_cast<std::size_t>(y)].load() != 1) return false;
    }
    return true;
  };
  bool other = false;
  std::thread second([&] { other = caller(300); });
  const bool first = caller(411);
  second.join();
  EXPECT_TRUE(first);
  EXPECT_TRUE(other);
}

}  // namespace
}  // namespace talven::graphics::test
