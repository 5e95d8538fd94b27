// Script contexts: the 64-byte record of one running program instance, and the images they run.
//
// A program image is one zero-filled block of script memory: code from offset 0 upward, data
// from offset `size` downward, and at offset `size` a 32-bit count of the contexts that run it.
// The context record, the image and every stack live in script memory, so that scripts and
// built-ins can name them by 32-bit address (setjmp copies the record word for word).
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/script_memory.h"

namespace talven::vm {

enum ContextState : std::uint8_t {
  kRunning = 0,
  kEnded = 1,    // the program or thread function finished
  kStopped = 2,  // a runtime error, an illegal built-in call or `exit`
};

struct ScriptContext {
  std::uint32_t slot;         // thread slot that runs this context
  std::uint8_t state;         // ContextState
  std::uint8_t z;             // equal / zero
  std::uint8_t l;             // signed less
  std::uint8_t b;             // unsigned below
  Address pc;                 // next instruction
  Address reference_count;    // the image's shared count (u32 at image_base + image_size)
  Address image_base;
  Address stack_base;
  std::uint32_t image_size;
  std::uint32_t stack_size;
  std::uint32_t r[8];         // r6 frame pointer, r7 stack pointer
};

// The record is read and written as 16 words by built-ins; its shape is fixed.
static_assert(sizeof(ScriptContext) == 64);
static_assert(offsetof(ScriptContext, state) == 4);
static_assert(offsetof(ScriptContext, b) == 7);
static_assert(offsetof(ScriptContext, pc) == 8);
static_assert(offsetof(ScriptContext, reference_count) == 12);
static_assert(offsetof(ScriptContext, image_base) == 16);
static_assert(offsetof(ScriptContext, stack_base) == 20);
static_assert(offsetof(ScriptContext, image_size) == 24);
static_assert(offsetof(ScriptContext, stack_size) == 28);
static_assert(offsetof(ScriptContext, r) == 32);

inline constexpr int kFramePointer = 6;
inline constexpr int kStackPointer = 7;

// A context for a new image of `image_size` zero bytes (count 1) with its own stack of
// `stack_size` bytes: pc at the image base, r7 at the top of the stack, everything else 0.
// nullptr when script memory runs out (nothing is left allocated).
ScriptContext* create_context(std::uint32_t image_size, std::uint32_t stack_size);

// A context that runs `source`'s image (its count goes up by one) on a new stack of its own.
// pc starts at the image base; the caller points it at the entry it wants. nullptr on failure.
ScriptContext* create_shared_context(const ScriptContext& source, std::uint32_t stack_size);

// Frees the stack and the record, and the image once no context runs it any more. Null is ignored.
void free_context(ScriptContext* context);

// Called with an image's base and size just before the image is freed (the compiler forgets the
// functions that image exported, so later programs never link to freed code).
void set_image_release_hook(void (*hook)(Address base, std::uint32_t size));

// The image's shared count, for inspection.
std::uint32_t image_reference_count(const ScriptContext& context);

// The script address of a context record.
inline Address context_address(const ScriptContext& context) { return script_address(&context); }
inline ScriptContext* context_at(Address a) { return reinterpret_cast<ScriptContext*>(host_pointer(a)); }

}  // namespace talven::vm
