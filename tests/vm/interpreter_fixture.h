// Shared set-up for interpreter tests: one context with a 4 KiB image (code from offset 0, a data
// area from offset 2048) and a small stack, messages captured, the stop flag cleared.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/configuration.h"
#include "shell/error_reporter.h"
#include "support/assembler.h"
#include "vm/interpreter.h"
#include "vm/program.h"

namespace talven::vm {

inline std::vector<std::string>& reported_messages() {
  static std::vector<std::string> messages;
  return messages;
}
inline void record_message(const char* text) { reported_messages().push_back(text); }

class InterpreterTest : public ::testing::Test {
 public:
  static constexpr std::uint32_t kImageSize = 4096;
  static constexpr std::uint32_t kStackSize = 256;
  static constexpr std::uint32_t kDataOffset = 2048;

  void SetUp() override {
    shell::config().error = 1;
    shell::set_report_listener(record_message);
    reported_messages().clear();
    g_stop_flag.store(0);
    set_gate(nullptr);
    ctx = create_context(kImageSize, kStackSize);
    ASSERT_NE(ctx, nullptr);
  }
  void TearDown() override {
    free_context(ctx);
    shell::set_report_listener(nullptr);
    shell::config().error = 1;
    g_stop_flag.store(0);
    set_gate(nullptr);
  }

  // Starts a fresh context, as a test that runs several programs needs.
  void reset(std::uint32_t image_size = kImageSize) {
    free_context(ctx);
    ctx = create_context(image_size, kStackSize);
    ASSERT_NE(ctx, nullptr);
    g_stop_flag.store(0);
    reported_messages().clear();
  }

  Address data(std::uint32_t offset = 0) const { return ctx->image_base + kDataOffset + offset; }
  std::uint32_t top() const { return ctx->stack_base + ctx->stack_size; }

  std::uint32_t word(Address a) const {
    std::uint32_t v = 0;
    EXPECT_TRUE(load(a, v));
    return v;
  }
  void set_word(Address a, std::uint32_t v) { ASSERT_TRUE(store(a, v)); }

  // Ends a program from any stack depth: a frame larger than the stack fails leave's frame check.
  static test::Assembler& halt(test::Assembler& a) { return a.leave(kStackSize); }

  // Loads the program and runs slices until the context leaves state 0 or the stop flag is set.
  int run(const test::Assembler& program, int max_slices = 1000) {
    program.load(*ctx);
    return run_loaded(max_slices);
  }
  int run_loaded(int max_slices = 1000) {
    int slices = 0;
    while (ctx->state == kRunning && g_stop_flag.load() == 0 && slices < max_slices) {
      run_slice(*ctx);
      ++slices;
    }
    return slices;
  }

  void expect_runtime_error(int code) {
    EXPECT_EQ(ctx->state, kStopped);
    EXPECT_EQ(g_stop_flag.load(), 1u);
    ASSERT_EQ(reported_messages().size(), 1u);
    EXPECT_EQ(reported_messages()[0], runtime_error_message(code));
  }
  void expect_ended_quietly() {
    EXPECT_EQ(ctx->state, kEnded);
    EXPECT_EQ(g_stop_flag.load(), 0u);
    EXPECT_TRUE(reported_messages().empty());
  }

  ScriptContext* ctx = nullptr;
};

}  // namespace talven::vm
