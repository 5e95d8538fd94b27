// The table of built-ins is assembled from the modules' spans and checked once.
#include <gtest/gtest.h>

#include <vector>

#include "vm/call_gate.h"

namespace talven::vm {
namespace {

std::uint32_t answer(Address) { return 42; }

TEST(BuiltinTable, EveryIndexExactlyOnceOrNothingChanges) {
  std::vector<BuiltinEntry> whole;
  for (std::uint32_t i = 0; i < kBuiltinCount; ++i) whole.push_back({i, "b", 0, 1, i == 5 ? answer : nullptr});
  const std::vector<BuiltinEntry> first(whole.begin(), whole.begin() + 100);
  const std::vector<BuiltinEntry> rest(whole.begin() + 100, whole.end());
  ASSERT_EQ(install_builtins({first, rest}), "");
  EXPECT_EQ(builtin_entry(5).handler, answer);

  const std::vector<BuiltinEntry> twice{{7, "again", 1, 0, nullptr}};
  const std::vector<BuiltinEntry> beyond{{kBuiltinCount, "beyond", 0, 0, nullptr}};
  const std::vector<BuiltinEntry> part(whole.begin(), whole.end() - 1);
  EXPECT_EQ(install_builtins({first, rest, twice}), "built-in index 7 is given twice (b, again)");
  EXPECT_EQ(install_builtins({part}), "built-in index 326 is missing");
  EXPECT_EQ(install_builtins({whole, beyond}), "built-in index 327 is beyond the table");
  // A refused table leaves the one installed before.
  EXPECT_EQ(builtin_entry(5).handler, answer);
  EXPECT_STREQ(builtin_entry(7).name, "b");
}

}  // namespace
}  // namespace talven::vm
