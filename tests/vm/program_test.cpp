#include "vm/program.h"

#include <gtest/gtest.h>

namespace talven::vm {
namespace {

std::uint32_t word_at(Address a) {
  std::uint32_t v = 0;
  EXPECT_TRUE(load(a, v));
  return v;
}

TEST(ProgramTest, NewContextStartsAtImageWithEmptyStack) {
  const std::uint64_t live_before = script_heap_stats().live_blocks;
  ScriptContext* c = create_context(1000, 4096);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->state, kRunning);
  EXPECT_EQ(c->pc, c->image_base);
  EXPECT_EQ(c->image_size, 1000u);
  EXPECT_EQ(c->stack_size, 4096u);
  EXPECT_EQ(c->r[7], c->stack_base + 4096);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(c->r[i], 0u) << "r" << i;
  EXPECT_EQ(c->z | c->l | c->b, 0);
  EXPECT_EQ(c->reference_count, c->image_base + 1000);
  EXPECT_EQ(word_at(c->reference_count), 1u);
  EXPECT_EQ(image_reference_count(*c), 1u);
  // The image and the stack are zero-filled script memory; the record itself is script memory.
  const std::uint8_t* image = checked_pointer(c->image_base, 1000);
  ASSERT_NE(image, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(image[i], 0) << i;
  EXPECT_EQ(context_at(context_address(*c)), c);
  EXPECT_GE(context_address(*c), kNullGuardSize);
  EXPECT_EQ(script_heap_stats().live_blocks, live_before + 3);
  free_context(c);
  EXPECT_EQ(script_heap_stats().live_blocks, live_before);
}

TEST(ProgramTest, RecordIsSixteenWordsInOrder) {
  ScriptContext* c = create_context(64, 64);
  ASSERT_NE(c, nullptr);
  c->state = 2;
  c->z = 1;
  c->r[0] = 0xAABBCCDD;
  c->r[7] = 0x11223344;
  const Address a = context_address(*c);
  EXPECT_EQ(word_at(a + 4), 0x00000102u);  // state, Z, L, B
  EXPECT_EQ(word_at(a + 8), c->pc);
  EXPECT_EQ(word_at(a + 16), c->image_base);
  EXPECT_EQ(word_at(a + 20), c->stack_base);
  EXPECT_EQ(word_at(a + 32), 0xAABBCCDDu);
  EXPECT_EQ(word_at(a + 60), 0x11223344u);
  free_context(c);
}

TEST(ProgramTest, SharedImageLivesUntilLastContextIsFreed) {
  const std::uint64_t live_before = script_heap_stats().live_blocks;
  ScriptContext* first = create_context(256, 1024);
  ASSERT_NE(first, nullptr);
  ScriptContext* second = create_shared_context(*first, 512);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->image_base, first->image_base);
  EXPECT_EQ(second->image_size, first->image_size);
  EXPECT_EQ(second->reference_count, first->reference_count);
  EXPECT_NE(second->stack_base, first->stack_base);
  EXPECT_EQ(second->stack_size, 512u);
  EXPECT_EQ(second->r[7], second->stack_base + 512);
  EXPECT_EQ(image_reference_count(*first), 2u);

  const Address image = first->image_base;
  free_context(first);
  EXPECT_EQ(image_reference_count(*second), 1u);
  EXPECT_NE(script_block_size(image), 0u) << "image freed while a context still runs it";
  free_context(second);
  EXPECT_EQ(script_block_size(image), 0u);
  EXPECT_EQ(script_heap_stats().live_blocks, live_before);
}

TEST(ProgramTest, AllocationFailureLeavesNothingBehind) {
  const std::uint64_t live_before = script_heap_stats().live_blocks;
  EXPECT_EQ(create_context(0xFFFFFFF0u, 1024), nullptr);   // image cannot exist
  EXPECT_EQ(create_context(0xFFFFFFFFu, 1024), nullptr);   // image plus count overflows
  EXPECT_EQ(create_context(1024, 0xFFFFFFF0u), nullptr);   // stack cannot exist
  ScriptContext* c = create_context(64, 64);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(create_shared_context(*c, 0xFFFFFFF0u), nullptr);
  EXPECT_EQ(image_reference_count(*c), 1u);
  free_context(c);
  free_context(nullptr);
  EXPECT_EQ(script_heap_stats().live_blocks, live_before);
}

}  // namespace
}  // namespace talven::vm
