#include "vm/program.h"

#include <atomic>

#include <cstring>
#include <limits>
#include <mutex>

#include "vm/interpreter.h"
#include "vm/source_map.h"

namespace talven::vm {
namespace {

constexpr std::uint32_t kCountSize = 4;

// Threads share images (thd_begin) and free their contexts on their own, so changes of the
// shared count must not interleave. The count may sit at any byte offset, hence a lock rather
// than an atomic in place.
std::mutex g_count_mutex;

std::uint32_t read_count(Address a) {
  std::uint32_t n;
  std::memcpy(&n, host_pointer(a), sizeof n);
  return n;
}

void write_count(Address a, std::uint32_t n) { std::memcpy(host_pointer(a), &n, sizeof n); }

// The record and its stack; the image is attached by the caller.
ScriptContext* new_context_with_stack(std::uint32_t stack_size) {
  Address record = script_alloc_zeroed(sizeof(ScriptContext));
  if (record == 0) return nullptr;
  Address stack = script_alloc_zeroed(stack_size);
  if (stack == 0) {
    script_free(record);
    return nullptr;
  }
  ScriptContext* c = context_at(record);
  c->stack_base = stack;
  c->stack_size = stack_size;
  c->r[kStackPointer] = stack + stack_size;
  return c;
}

void free_record_and_stack(ScriptContext* c) {
  script_free(c->stack_base);
  script_free(context_address(*c));
}

}  // namespace

ScriptContext* create_context(std::uint32_t image_size, std::uint32_t stack_size) {
  if (image_size > std::numeric_limits<std::uint32_t>::max() - kCountSize) return nullptr;
  ScriptContext* c = new_context_with_stack(stack_size);
  if (c == nullptr) return nullptr;
  Address image = script_alloc_zeroed(image_size + kCountSize);
  if (image == 0) {
    free_record_and_stack(c);
    return nullptr;
  }
  c->image_base = image;
  c->image_size = image_size;
  c->reference_count = image + image_size;
  write_count(c->reference_count, 1);
  c->pc = image;
  return c;
}

ScriptContext* create_shared_context(const ScriptContext& source, std::uint32_t stack_size) {
  ScriptContext* c = new_context_with_stack(stack_size);
  if (c == nullptr) return nullptr;
  c->image_base = source.image_base;
  c->image_size = source.image_size;
  c->reference_count = source.reference_count;
  c->pc = source.image_base;
  std::lock_guard lock(g_count_mutex);
  write_count(c->reference_count, read_count(c->reference_count) + 1);
  return c;
}

namespace {
std::atomic<void (*)(Address, std::uint32_t)> g_image_release_hook{nullptr};
}  // namespace

void set_image_release_hook(void (*hook)(Address base, std::uint32_t size)) { g_image_release_hook = hook; }

void free_context(ScriptContext* context) {
  if (context == nullptr) return;
  bool last = false;
  {
    std::lock_guard lock(g_count_mutex);
    std::int32_t n = static_cast<std::int32_t>(read_count(context->reference_count)) - 1;
    write_count(context->reference_count, static_cast<std::uint32_t>(n));
    last = n < 1;
  }
  if (last) {
    if (auto hook = g_image_release_hook.load()) hook(context->image_base, context->image_size);
    forget_source_map(context->image_base);
    note_image_released();
    script_free(context->image_base);
  }
  free_record_and_stack(context);
}

std::uint32_t image_reference_count(const ScriptContext& context) {
  std::lock_guard lock(g_count_mutex);
  return read_count(context.reference_count);
}

}  // namespace talven::vm
