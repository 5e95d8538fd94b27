// Compiled programs run from decoded blocks must go through the very states that running them one
// instruction at a time goes through: after every slice the registers, flags, pc, state and all of
// the image's and the stack's bytes are compared. The programs are the C-subset samples of both
// differential folders, so the blocks are made of the instruction sequences the compiler really
// emits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "vm/interpreter.h"
#include "vm/program.h"

namespace talven::vm {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> sample_programs() {
  std::vector<std::string> paths;
  for (const char* folder : {"tests/compiler/programs", "tests/differential/programs"})
    for (const auto& e : fs::directory_iterator(fs::path(TALVEN_SOURCE_DIR) / folder))
      if (e.path().extension() == ".c") paths.push_back(fs::relative(e.path(), TALVEN_SOURCE_DIR).string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// What a slice leaves behind. Memory is kept as a hash: the programs run thousands of slices.
struct SliceState {
  std::uint32_t words[13];
  std::uint64_t memory_hash;
  bool operator==(const SliceState&) const = default;
};

std::uint64_t hash_bytes(const std::uint8_t* p, std::size_t n, std::uint64_t h) {
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

SliceState state_of(const ScriptContext& c) {
  SliceState s{};
  std::memcpy(s.words, c.r, sizeof c.r);
  s.words[8] = c.pc;
  s.words[9] = c.state;
  s.words[10] = c.z;
  s.words[11] = c.l;
  s.words[12] = c.b;
  s.memory_hash = hash_bytes(host_pointer(c.image_base), c.image_size, 0xCBF29CE484222325ull);
  s.memory_hash = hash_bytes(host_pointer(c.stack_base), c.stack_size, s.memory_hash);
  return s;
}

class DecodedProgramTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    g_stop_flag.store(0);
  }
  void TearDown() override {
    set_decoding(true);
    g_stop_flag.store(0);
  }
};

TEST_P(DecodedProgramTest, EverySliceEndsWhereSingleStepsEnd) {
  std::ifstream in(fs::path(TALVEN_SOURCE_DIR) / GetParam(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str();

  constexpr std::uint32_t kImageSize = 64u << 10, kStackSize = 16u << 10;
  ScriptContext* context = create_context(kImageSize, kStackSize);
  ASSERT_NE(context, nullptr);
  compiler::CompileOptions options;
  options.image_base = context->image_base;
  options.capacity = kImageSize;
  options.report_errors = false;
  options.reader = [&source](const std::string&, std::string& out) {
    out = source;
    return compiler::SourceStatus::ok;
  };
  ASSERT_TRUE(compiler::compile("main.c", options).ok);
  note_code_write(context->image_base, kImageSize);

  // Both runs start from the same bytes in the same place.
  const ScriptContext initial = *context;
  const std::vector<std::uint8_t> image(host_pointer(context->image_base), host_pointer(context->image_base) + kImageSize);
  auto restart = [&] {
    std::memcpy(host_pointer(context->image_base), image.data(), image.size());
    std::memset(host_pointer(context->stack_base), 0, kStackSize);
    *context = initial;
    note_code_write(context->image_base, kImageSize);
  };

  set_decoding(false);
  std::vector<SliceState> reference;
  while (context->state == kRunning && reference.size() < 2000000) {
    run_slice(*context);
    reference.push_back(state_of(*context));
  }
  ASSERT_EQ(context->state, kEnded) << "the program must end by itself";

  set_decoding(true);
  restart();
  for (std::size_t i = 0; i < reference.size(); ++i) {
    run_slice(*context);
    ASSERT_TRUE(state_of(*context) == reference[i]) << "slice " << i << " of " << reference.size();
  }
  EXPECT_EQ(context->state, kEnded);
  free_context(context);
}

INSTANTIATE_TEST_SUITE_P(Samples, DecodedProgramTest, ::testing::ValuesIn(sample_programs()), [](const auto& info) {
  const fs::path path(info.param);
  return path.parent_path().parent_path().filename().string() + "_" + path.stem().string();
});

}  // namespace
}  // namespace talven::vm
