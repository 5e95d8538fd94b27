// Every built-in of the script library and of input, called with random argument words: addresses from all over
// the 32-bit space (the null guard, the top, the middle), counts that are negative, zero, small or
// reach past the end, and texts of random bytes. Under the sanitizer build any access outside
// script memory stops the test; in every build nothing may crash.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "input/input.h"
#include "library/library.h"
#include "shell/modules.h"
#include "vm/call_gate.h"
#include "vm/requests.h"
#include "vm/script_memory.h"

namespace talven::library {
namespace {

namespace fs = std::filesystem;
using vm::Address;

// Scripts' own memory for the test, near the top. Every word of the pool that reads as a positive
// count is at most 0xFFFF, so that no call is asked to fill gigabytes: that would be slow, not
// unsafe.
constexpr Address kArena = 0xFFFE0000u;
constexpr std::uint32_t kArenaSize = 0x10000;
constexpr int kWordsPerCall = 12;
constexpr std::uint32_t kKeyFramePreparation = 223;  // kf_calc

class RandomWords {
 public:
  explicit RandomWords(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t next() {
    static const std::uint32_t kSpecial[] = {
        0u, 1u, 2u, 3u, 7u, 16u, 100u, 260u, 1000u, 0xFFFFu, 0x10000u - 4u,
        0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFF9Cu, 0x80000000u, 0xFFFFFFFCu, 0xFFFFFFF0u, 0xFFFF0000u,
    };
    switch (rng_() % 5) {
      case 0: return kSpecial[rng_() % std::size(kSpecial)];
      case 1: return kArena + rng_() % kArenaSize;                 // inside the arena, possibly near its end
      case 2: return kArena + kArenaSize - 1 - (rng_() % 8);     // the arena's last bytes
      case 3: return static_cast<std::uint32_t>(rng_()) | 0x80000000u;  // anywhere in the upper half
      default: return static_cast<std::uint32_t>(rng_()) & 0x3FFu;      // the start of the null guard
    }
  }

  // Random text in the arena: short runs ended by zeros; no separators or dots, so that file
  // built-ins stay inside the test's own folder.
  void fill_arena() {
    std::uint8_t* p = vm::host_pointer(kArena);
    for (std::uint32_t i = 0; i < kArenaSize; ++i) {
      std::uint8_t b = static_cast<std::uint8_t>(rng_());
      if (rng_() % 12 == 0) b = 0;
      if (b == '/' || b == '\\' || b == '.') b = 'x';
      p[i] = b;
    }
  }

  std::mt19937 rng_;
};

// Calls each built-in of `span` 200 times with random argument blocks; returns how many have handlers.
int call_every_builtin(vm::BuiltinSpan span, RandomWords& words) {
  int handlers = 0;
  for (const vm::BuiltinEntry& builtin : span) {
    if (builtin.handler == nullptr) continue;  // not built yet
    const std::uint32_t index = builtin.index;
    ++handlers;
    for (int call = 0; call < 200; ++call) {
      if (call % 50 == 0) words.fill_arena();
      // The argument block lies anywhere: in the arena, at the top (words beyond it read as 0) or
      // in the null guard.
      Address arguments = call % 10 == 9 ? words.next() : kArena + (words.next() % (kArenaSize - 4 * kWordsPerCall));
      if (vm::range_ok(arguments, 4 * kWordsPerCall)) {
        for (int i = 0; i < kWordsPerCall; ++i) vm::store(arguments + 4u * static_cast<Address>(i), words.next());
      }
      // Preparing a track costs count squared: a track of 65535 keys anywhere in the upper half
      // is valid and takes half a minute, so the key count stays below 1024 here.
      if (index == kKeyFramePreparation && vm::range_ok(arguments, 8)) {
        std::uint32_t count = vm::argument_word(arguments, 1);
        vm::store(arguments + 4, count & 0x3FFu);
      }
      builtin.handler(arguments);
      // What the calls asked of the window thread (this thread) is done before the next.
      vm::process_pending_requests();
    }
  }
  return handlers;
}

TEST(RandomArguments, NoBuiltinOfTheLibraryTouchesMemoryOutsideScriptMemory) {
  const fs::path saved_directory = fs::current_path();
  const fs::path work = fs::temp_directory_path() / ("talven-random-arguments-" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  fs::current_path(work);
  // exec and shell run whatever the random text says: with no PATH nothing but the shell's own
  // built-ins can run, inside the test's folder.
  std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", "", 1);

  RandomWords words(20261210);
  EXPECT_GT(call_every_builtin(library::builtins(), words), 100);

  setenv("PATH", saved_path.c_str(), 1);
  fs::current_path(saved_directory);
  fs::remove_all(work);
}

// The input built-ins with the window thread serving their reads (this thread is the window
// thread here), so that the records really are copied into the wild buffers' places.
TEST(RandomArguments, NoBuiltinOfInputTouchesMemoryOutsideScriptMemory) {
  input::input_start(true);
  vm::start_serving_requests();
  RandomWords words(20261211);
  EXPECT_EQ(call_every_builtin(input::builtins(), words), 9);
  vm::stop_serving_requests();
  shell::reset_engine_state();
}

}  // namespace
}  // namespace talven::library
