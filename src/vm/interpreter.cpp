#include "vm/interpreter.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "shell/error_reporter.h"
#include "vm/opcodes.h"

namespace talven::vm {

std::atomic<std::uint32_t> g_stop_flag{0};
std::atomic<std::uint32_t> g_script_faults{0};

namespace {

constexpr const char* kRuntimeErrorMessages[] = {
    "Divide by zero error.",
    "Out of memory error",
    "Stack overflow error.",
    "Invalid code error",
};

// Until the runtime connects the built-in table there is nothing a trap could call; stopping the
// script with a message is the honest answer.
int placeholder_gate(std::uint32_t index, ScriptContext& context) {
  shell::report(1, "trap %u: no built-in functions are connected", index);
  context.state = kStopped;
  g_stop_flag.store(1);
  return 1;
}

std::atomic<Gate> g_gate{placeholder_gate};

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

// Script threads share script memory without locks, as they always have: a race between two
// scripts on their own variables is the scripts' business, so the thread sanitizer is not asked to
// watch the interpreter's own loads and stores (which reach nothing but script memory and the
// running thread's context). Built-ins called from the interpreter are still watched.
#if defined(__SANITIZE_THREAD__)
#define SCRIPT_MEMORY_ACCESS __attribute__((no_sanitize("thread")))
#else
#define SCRIPT_MEMORY_ACCESS
#endif

// Unaligned loads and stores of script memory, as plain accesses rather than library copies.
using unaligned_u32 = std::uint32_t __attribute__((aligned(1), may_alias));
using unaligned_u16 = std::uint16_t __attribute__((aligned(1), may_alias));
SCRIPT_MEMORY_ACCESS inline std::uint32_t read32(const std::uint8_t* p) { return *reinterpret_cast<const unaligned_u32*>(p); }
SCRIPT_MEMORY_ACCESS inline std::uint16_t read16(const std::uint8_t* p) { return *reinterpret_cast<const unaligned_u16*>(p); }
SCRIPT_MEMORY_ACCESS inline void write32(std::uint8_t* p, std::uint32_t v) { *reinterpret_cast<unaligned_u32*>(p) = v; }
SCRIPT_MEMORY_ACCESS inline void write16(std::uint8_t* p, std::uint16_t v) { *reinterpret_cast<unaligned_u16*>(p) = v; }

inline float as_float(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
inline std::uint32_t as_bits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// Truncates toward zero; NaN and values outside the 32-bit range give the minimum.
inline std::uint32_t float_to_int(float f) {
  if (!(f >= -2147483648.0f && f < 2147483648.0f)) return static_cast<std::uint32_t>(kIntMin);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(f));
}

inline std::uint32_t sign_extend8(std::uint8_t v) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(v)));
}
inline std::uint32_t sign_extend16(std::uint16_t v) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(v)));
}

}  // namespace

void set_gate(Gate gate) { g_gate.store(gate != nullptr ? gate : placeholder_gate); }

Gate current_gate() { return g_gate.load(); }

const char* runtime_error_message(int code) {
  return code >= 0 && code < 4 ? kRuntimeErrorMessages[code] : kRuntimeErrorMessages[kInvalidCode];
}

void runtime_error(ScriptContext& context, int code) {
  shell::report(1, "%s", runtime_error_message(code));
  context.state = kStopped;
  g_script_faults.fetch_add(1);
  g_stop_flag.store(1);
}

// The machine state lives in locals for the whole slice and goes back into the context when the
// slice ends or a built-in needs to see it. Every memory access is one add to the region's base;
// the region is mapped for all 32-bit addresses plus a tail, so only the null guard needs a test.
//
// Dispatch is threaded: every handler ends with its own indirect jump through the opcode table,
// which lets the branch predictor learn which instruction tends to follow which.
//
// The null guard test on pc happens only where pc is loaded from outside the instruction stream
// (slice start, jumps, calls, returns, after a built-in). Falling through from one instruction to
// the next can only reach the guard by wrapping around the top of the space, and a slice runs at
// most 255 instructions of at most 6 bytes: a pc that starts below kSequentialLimit cannot wrap
// before the next such test. A pc at or above it switches the rest of the slice to a table that
// tests every instruction, which keeps the wrap-around fault exact.
namespace {
constexpr Address kSequentialLimit = 0xFFFFFFFFu - 2048u;
static_assert(kSliceInstructions * 6 < 2048);
}  // namespace

SCRIPT_MEMORY_ACCESS int run_slice(ScriptContext& context) {
  if (g_stop_flag.load(std::memory_order_relaxed) != 0) return 1;
  if (context.state != kRunning) return 1;

  std::uint8_t* const base = g_script_base;
  std::uint32_t r[8];
  std::memcpy(r, context.r, sizeof r);
  const std::uint8_t* ip = base + context.pc;  // the instruction being executed
  Address target = context.pc;                 // pc set by a jump, call, return or built-in
  std::uint8_t zf = context.z, lf = context.l, bf = context.b;
  Address stack_base = context.stack_base;
  std::uint64_t stack_size = context.stack_size;
  int budget = kSliceInstructions;
  int error = -1;

  // After every instruction: the stop flag and the budget in one test. The flag only ever holds
  // 0 or 1, and 1 << 8 is above any budget left.
  auto slice_over = [&] {
    --budget;
    return budget <= static_cast<int>(g_stop_flag.load(std::memory_order_relaxed) << 8);
  };
  auto set_flags = [&](std::uint32_t a, std::uint32_t b) {
    zf = a == b;
    lf = static_cast<std::int32_t>(a) < static_cast<std::int32_t>(b);
    bf = a < b;
  };
  // Stack checks take the word being accessed wholly inside the stack, so that a stack pointer
  // moved off its alignment can never reach the neighbouring block; for aligned stacks this is
  // exactly "offset below the stack size after moving r7", including that the highest word of
  // the stack can never be popped.
  auto push_ok = [&](Address new_sp) {
    return std::uint64_t(static_cast<std::uint32_t>(new_sp - stack_base)) + 4 <= stack_size;
  };
  auto pop_ok = [&](Address old_sp) {
    return std::uint64_t(static_cast<std::uint32_t>(old_sp - stack_base)) + 4 < stack_size;
  };

#define INVALID4 &&invalid, &&invalid, &&invalid, &&invalid
#define INVALID16 INVALID4, INVALID4, INVALID4, INVALID4
  // Indexed by opcode byte; the order is the Op numbering.
  static const void* const kHandlers[256] = {
      &&h_nop, &&h_trap, &&h_xchg, &&h_mov_rr, &&h_mov_ri, &&h_mov_ri,
      &&h_load_b_s, &&h_load_sb_s, &&h_load_w_s, &&h_load_sw_s, &&h_load_l_s,
      &&h_lea_f, &&h_load_b_f, &&h_load_sb_f, &&h_load_w_f, &&h_load_sw_f, &&h_load_l_f,
      &&h_load_b_m, &&h_load_sb_m, &&h_load_w_m, &&h_load_sw_m, &&h_load_l_m,
      &&h_store_b_s, &&h_store_w_s, &&h_store_l_s,
      &&h_store_b_f, &&h_store_w_f, &&h_store_l_f,
      &&h_store_b_m, &&h_store_w_m, &&h_store_l_m,
      &&h_push_r, &&h_push_i, &&h_pop_r, &&h_enter, &&h_leave, &&h_call_s, &&h_call_r, &&h_ret,
      &&h_preop, &&h_postop,
      &&h_preinc_b, &&h_postinc_b, &&h_predec_b, &&h_postdec_b,
      &&h_preinc_w, &&h_postinc_w, &&h_predec_w, &&h_postdec_w,
      &&h_zero_b_s, &&h_zero_w_s, &&h_zero_l_s, &&h_zero_b_f, &&h_zero_w_f, &&h_zero_l_f,
      &&h_cmp_rr, &&h_cmp_ri, &&h_set, &&h_add_rr, &&h_add_ri, &&h_sub_rr, &&h_sub_ri,
      &&h_mul, &&h_div, &&h_mod, &&h_shl, &&h_shr, &&h_sar, &&h_neg, &&h_not,
      &&h_and, &&h_or, &&h_xor,
      &&h_jmp, &&h_je, &&h_jne, &&h_jg, &&h_jge, &&h_jl, &&h_jle, &&h_ja, &&h_jae, &&h_jb, &&h_jbe,
      &&h_ftoi, &&h_itof, &&h_fadd, &&h_fsub, &&h_fmul, &&h_fdiv, &&h_fmod, &&h_fneg,
      // 92 to 255
      INVALID16, INVALID16, INVALID16, INVALID16, INVALID16,
      INVALID16, INVALID16, INVALID16, INVALID16, INVALID16, INVALID4,
  };
  // Every opcode goes through the per-instruction pc test first.
#define CHECKED4 &&checked, &&checked, &&checked, &&checked
#define CHECKED16 CHECKED4, CHECKED4, CHECKED4, CHECKED4
#define CHECKED64 CHECKED16, CHECKED16, CHECKED16, CHECKED16
  static const void* const kCheckedHandlers[256] = {CHECKED64, CHECKED64, CHECKED64, CHECKED64};
#undef CHECKED64
#undef CHECKED16
#undef CHECKED4
#undef INVALID16
#undef INVALID4
  static_assert(sizeof kHandlers / sizeof kHandlers[0] == 256);
  const void* const* handlers = kHandlers;

// A macro rather than a lambda: a closure that is not inlined would keep ip and the flags in
// memory for the whole slice.
#define SAVE()                                      \
  do {                                              \
    std::memcpy(context.r, r, sizeof r);            \
    context.pc = static_cast<Address>(ip - base);   \
    context.z = zf;                                 \
    context.l = lf;                                 \
    context.b = bf;                                 \
  } while (0)
#define FAIL(code_) \
  do {              \
    error = (code_);\
    goto stop;      \
  } while (0)
#define CHECK_ADDRESS(a) \
  if ((a) < kNullGuardSize) FAIL(kOutOfMemory)
// After every instruction: the stop flag and the budget, then on to the next handler.
#define NEXT()                                                       \
  do {                                                               \
    if (slice_over()) goto done;                                     \
    goto* handlers[*ip];                                             \
  } while (0)
// pc comes from outside the instruction stream: test it against the guard.
#define JUMP_TO(address)                                                             \
  do {                                                                               \
    target = (address);                                                              \
    ip = base + target;                                                              \
    if (target - kNullGuardSize >= kSequentialLimit - kNullGuardSize) goto far_jump; \
    NEXT();                                                                          \
  } while (0)
// Register byte: low nibble D, high nibble S; a nibble above 7 is not a register.
#define DECODE_RR()                                    \
  if (rr & 0x88) FAIL(kInvalidCode);                   \
  const unsigned d = rr & 7;                           \
  const unsigned s = rr >> 4;                          \
  (void)d;                                             \
  (void)s
#define FORMAT_RR()               \
  const unsigned rr = ip[1];      \
  ip += 2;                        \
  DECODE_RR()
#define FORMAT_RR_IMM()                       \
  const unsigned rr = ip[1];                  \
  const std::uint32_t imm = read32(ip + 2);   \
  ip += 6;                                    \
  DECODE_RR()
#define FORMAT_IMM()                          \
  const std::uint32_t imm = read32(ip + 1);   \
  ip += 5
#define JUMP_IF(condition)   \
  {                          \
    FORMAT_IMM();            \
    if (condition) JUMP_TO(imm); \
    NEXT();                  \
  }

  // The first instruction: pc came from the context.
  if (target - kNullGuardSize >= kSequentialLimit - kNullGuardSize) goto far_pc;
  goto* handlers[*ip];

far_jump:
  if (slice_over()) goto done;
far_pc:
  // Inside the null guard the program faults at this pc; near the top of the space every
  // instruction from here on tests pc before it runs.
  if (target < kNullGuardSize) FAIL(kOutOfMemory);
  handlers = kCheckedHandlers;
  goto* handlers[*ip];

checked: {
  if (static_cast<std::uint64_t>(ip - base) >= kAddressSpaceSize) ip -= kAddressSpaceSize;  // pc wrapped
  if (static_cast<Address>(ip - base) < kNullGuardSize) FAIL(kOutOfMemory);
  goto* kHandlers[*ip];
}

h_nop:
  ip += 1;
  NEXT();

h_trap: {
  const std::uint32_t index = read16(ip + 1);
  ip += 3;
  SAVE();
  if (g_gate.load(std::memory_order_relaxed)(index, context) != 0) return 1;
  if (context.state != kRunning) return 1;
  std::memcpy(r, context.r, sizeof r);
  zf = context.z;
  lf = context.l;
  bf = context.b;
  stack_base = context.stack_base;
  stack_size = context.stack_size;
  JUMP_TO(context.pc);
}

h_xchg: {
  FORMAT_RR();
  std::uint32_t t = r[d];
  r[d] = r[s];
  r[s] = t;
  NEXT();
}
h_mov_rr: {
  FORMAT_RR();
  r[d] = r[s];
  NEXT();
}
h_mov_ri: {
  FORMAT_RR_IMM();
  r[d] = imm;
  NEXT();
}

// Loads from an absolute address.
h_load_b_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  r[d] = base[imm];
  NEXT();
}
h_load_sb_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  r[d] = sign_extend8(base[imm]);
  NEXT();
}
h_load_w_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  r[d] = read16(base + imm);
  NEXT();
}
h_load_sw_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  r[d] = sign_extend16(read16(base + imm));
  NEXT();
}
h_load_l_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  r[d] = read32(base + imm);
  NEXT();
}

// Frame addressing: d(r6).
h_lea_f: {
  FORMAT_RR_IMM();
  r[d] = r[kFramePointer] + imm;
  NEXT();
}
h_load_b_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  r[d] = base[a];
  NEXT();
}
h_load_sb_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  r[d] = sign_extend8(base[a]);
  NEXT();
}
h_load_w_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  r[d] = read16(base + a);
  NEXT();
}
h_load_sw_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  r[d] = sign_extend16(read16(base + a));
  NEXT();
}
h_load_l_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  r[d] = read32(base + a);
  NEXT();
}

// Loads through a register: (rS).
h_load_b_m: {
  FORMAT_RR();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  r[d] = base[a];
  NEXT();
}
h_load_sb_m: {
  FORMAT_RR();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  r[d] = sign_extend8(base[a]);
  NEXT();
}
h_load_w_m: {
  FORMAT_RR();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  r[d] = read16(base + a);
  NEXT();
}
h_load_sw_m: {
  FORMAT_RR();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  r[d] = sign_extend16(read16(base + a));
  NEXT();
}
h_load_l_m: {
  FORMAT_RR();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  r[d] = read32(base + a);
  NEXT();
}

// Stores.
h_store_b_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  base[imm] = static_cast<std::uint8_t>(r[s]);
  NEXT();
}
h_store_w_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  write16(base + imm, static_cast<std::uint16_t>(r[s]));
  NEXT();
}
h_store_l_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  write32(base + imm, r[s]);
  NEXT();
}
h_store_b_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  base[a] = static_cast<std::uint8_t>(r[s]);
  NEXT();
}
h_store_w_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  write16(base + a, static_cast<std::uint16_t>(r[s]));
  NEXT();
}
h_store_l_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  write32(base + a, r[s]);
  NEXT();
}
h_store_b_m: {
  FORMAT_RR();
  const Address a = r[d];
  CHECK_ADDRESS(a);
  base[a] = static_cast<std::uint8_t>(r[s]);
  NEXT();
}
h_store_w_m: {
  FORMAT_RR();
  const Address a = r[d];
  CHECK_ADDRESS(a);
  write16(base + a, static_cast<std::uint16_t>(r[s]));
  NEXT();
}
h_store_l_m: {
  FORMAT_RR();
  const Address a = r[d];
  CHECK_ADDRESS(a);
  write32(base + a, r[s]);
  NEXT();
}

// Stack and calls.
h_push_r: {
  FORMAT_RR();
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, r[s]);
  r[kStackPointer] = sp;
  NEXT();
}
h_push_i: {
  FORMAT_IMM();
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, imm);
  r[kStackPointer] = sp;
  NEXT();
}
h_pop_r: {
  FORMAT_RR();
  const Address sp = r[kStackPointer];
  if (!pop_ok(sp)) FAIL(kStackOverflow);
  r[kStackPointer] = sp + 4;
  r[d] = read32(base + sp);
  NEXT();
}
h_enter: {
  FORMAT_IMM();
  const std::uint64_t frame = std::uint64_t(imm) + 24;
  const std::uint32_t offset = r[kStackPointer] - stack_base;
  if (offset > stack_size || frame > offset) FAIL(kStackOverflow);
  const Address sp = r[kStackPointer] - static_cast<std::uint32_t>(frame);
  std::uint8_t* saved = base + sp + imm;
  for (int i = 1; i <= 6; ++i) write32(saved + 4 * (i - 1), r[i]);
  r[kFramePointer] = sp + imm + 20;
  r[kStackPointer] = sp;
  NEXT();
}
h_leave: {
  FORMAT_IMM();
  const std::uint32_t offset = r[kStackPointer] - stack_base;
  if (std::uint64_t(offset) + imm + 24 >= stack_size) {
    // The outermost frame: the program has returned from main.
    SAVE();
    context.state = kEnded;
    return 1;
  }
  const std::uint8_t* saved = base + (r[kStackPointer] + imm);
  for (int i = 1; i <= 6; ++i) r[i] = read32(saved + 4 * (i - 1));
  r[kStackPointer] += imm + 24;
  NEXT();
}
h_call_s: {
  FORMAT_IMM();
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, static_cast<Address>(ip - base));
  r[kStackPointer] = sp;
  JUMP_TO(imm);
}
h_call_r: {
  FORMAT_RR();
  const Address callee = r[s];
  if (callee == 0) FAIL(kOutOfMemory);
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, static_cast<Address>(ip - base));
  r[kStackPointer] = sp;
  JUMP_TO(callee);
}
h_ret: {
  ip += 1;
  const Address sp = r[kStackPointer];
  if (!pop_ok(sp)) FAIL(kStackOverflow);
  r[kStackPointer] = sp + 4;
  const Address return_address = read32(base + sp);
  if (return_address == 0xFFFFFFFFu) {
    // A thread's entry function returned to the marker its thread pushed.
    ip = base + return_address;
    SAVE();
    context.state = kEnded;
    return 1;
  }
  JUMP_TO(return_address);
}

// Increments through (rS); the result goes to rD.
h_preop: {
  FORMAT_RR_IMM();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  const std::uint32_t v = read32(base + a) + imm;
  write32(base + a, v);
  r[d] = v;
  NEXT();
}
h_postop: {
  FORMAT_RR_IMM();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  const std::uint32_t v = read32(base + a);
  write32(base + a, v + imm);
  r[d] = v;
  NEXT();
}
#define STEP_BYTE(delta, pre)                                    \
  {                                                              \
    FORMAT_RR();                                                 \
    const Address a = r[s];                                      \
    CHECK_ADDRESS(a);                                            \
    const std::uint8_t old = base[a];                            \
    const std::uint8_t now = static_cast<std::uint8_t>(old + (delta)); \
    base[a] = now;                                               \
    r[d] = (pre) ? now : old;                                    \
    NEXT();                                                      \
  }
#define STEP_WORD(delta, pre)                                    \
  {                                                              \
    FORMAT_RR();                                                 \
    const Address a = r[s];                                      \
    CHECK_ADDRESS(a);                                            \
    const std::uint16_t old = read16(base + a);                  \
    const std::uint16_t now = static_cast<std::uint16_t>(old + (delta)); \
    write16(base + a, now);                                      \
    r[d] = (pre) ? now : old;                                    \
    NEXT();                                                      \
  }
h_preinc_b: STEP_BYTE(1, true)
h_postinc_b: STEP_BYTE(1, false)
h_predec_b: STEP_BYTE(-1, true)
h_postdec_b: STEP_BYTE(-1, false)
h_preinc_w: STEP_WORD(1, true)
h_postinc_w: STEP_WORD(1, false)
h_predec_w: STEP_WORD(-1, true)
h_postdec_w: STEP_WORD(-1, false)
#undef STEP_BYTE
#undef STEP_WORD

// Zero tests set Z only.
h_zero_b_s: {
  FORMAT_IMM();
  CHECK_ADDRESS(imm);
  zf = base[imm] == 0;
  NEXT();
}
h_zero_w_s: {
  FORMAT_IMM();
  CHECK_ADDRESS(imm);
  zf = read16(base + imm) == 0;
  NEXT();
}
h_zero_l_s: {
  FORMAT_IMM();
  CHECK_ADDRESS(imm);
  zf = read32(base + imm) == 0;
  NEXT();
}
h_zero_b_f: {
  FORMAT_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  zf = base[a] == 0;
  NEXT();
}
h_zero_w_f: {
  FORMAT_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  zf = read16(base + a) == 0;
  NEXT();
}
h_zero_l_f: {
  FORMAT_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  zf = read32(base + a) == 0;
  NEXT();
}

// Integer arithmetic, modulo 2^32.
h_cmp_rr: {
  FORMAT_RR();
  set_flags(r[d], r[s]);
  NEXT();
}
h_cmp_ri: {
  FORMAT_RR_IMM();
  set_flags(r[d], imm);
  NEXT();
}
h_set: {
  FORMAT_RR();
  r[d] = r[s] == 0;
  NEXT();
}
h_add_rr: {
  FORMAT_RR();
  r[d] += r[s];
  NEXT();
}
h_add_ri: {
  FORMAT_RR_IMM();
  r[d] += imm;
  NEXT();
}
h_sub_rr: {
  FORMAT_RR();
  set_flags(r[d], r[s]);
  r[d] -= r[s];
  NEXT();
}
h_sub_ri: {
  FORMAT_RR_IMM();
  set_flags(r[d], imm);
  r[d] -= imm;
  NEXT();
}
h_mul: {
  FORMAT_RR();
  r[d] *= r[s];
  NEXT();
}
h_div: {
  FORMAT_RR();
  const std::int32_t divisor = static_cast<std::int32_t>(r[s]);
  if (divisor == 0) FAIL(kDivideByZero);
  const std::int32_t dividend = static_cast<std::int32_t>(r[d]);
  // The one quotient that does not fit wraps to itself, as two's complement would.
  r[d] = divisor == -1 ? 0u - r[d] : static_cast<std::uint32_t>(dividend / divisor);
  NEXT();
}
h_mod: {
  FORMAT_RR();
  const std::int32_t divisor = static_cast<std::int32_t>(r[s]);
  if (divisor == 0) FAIL(kDivideByZero);
  const std::int32_t dividend = static_cast<std::int32_t>(r[d]);
  r[d] = divisor == -1 ? 0u : static_cast<std::uint32_t>(dividend % divisor);
  NEXT();
}
h_shl: {
  FORMAT_RR();
  r[d] <<= (r[s] & 31);
  NEXT();
}
h_shr: {
  FORMAT_RR();
  r[d] >>= (r[s] & 31);
  NEXT();
}
h_sar: {
  FORMAT_RR();
  r[d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r[d]) >> (r[s] & 31));
  NEXT();
}
h_neg: {
  FORMAT_RR();
  r[d] = 0u - r[s];
  NEXT();
}
h_not: {
  FORMAT_RR();
  r[d] = ~r[s];
  NEXT();
}
h_and: {
  FORMAT_RR();
  r[d] &= r[s];
  NEXT();
}
h_or: {
  FORMAT_RR();
  r[d] |= r[s];
  NEXT();
}
h_xor: {
  FORMAT_RR();
  r[d] ^= r[s];
  NEXT();
}

// Jumps. L and B are meaningful only after a comparison.
h_jmp: JUMP_IF(true)
h_je: JUMP_IF(zf)
h_jne: JUMP_IF(!zf)
h_jg: JUMP_IF(!lf && !zf)
h_jge: JUMP_IF(!lf || zf)
h_jl: JUMP_IF(lf && !zf)
h_jle: JUMP_IF(lf || zf)
h_ja: JUMP_IF(!bf && !zf)
h_jae: JUMP_IF(!bf || zf)
h_jb: JUMP_IF(bf && !zf)
h_jbe: JUMP_IF(bf || zf)

// Single-precision floats held as bit patterns.
h_ftoi: {
  FORMAT_RR();
  r[d] = float_to_int(as_float(r[s]));
  NEXT();
}
h_itof: {
  FORMAT_RR();
  r[d] = as_bits(static_cast<float>(static_cast<std::int32_t>(r[s])));
  NEXT();
}
h_fadd: {
  FORMAT_RR();
  r[d] = as_bits(as_float(r[d]) + as_float(r[s]));
  NEXT();
}
h_fsub: {
  FORMAT_RR();
  const float a = as_float(r[d]), b = as_float(r[s]);
  zf = a == b;  // both false when either is NaN
  lf = a < b;
  bf = 0;
  r[d] = as_bits(a - b);
  NEXT();
}
h_fmul: {
  FORMAT_RR();
  r[d] = as_bits(as_float(r[d]) * as_float(r[s]));
  NEXT();
}
h_fdiv: {
  FORMAT_RR();
  r[d] = as_bits(as_float(r[d]) / as_float(r[s]));
  NEXT();
}
h_fmod: {
  FORMAT_RR();
  const double q = std::fmod(static_cast<double>(as_float(r[d])), static_cast<double>(as_float(r[s])));
  r[d] = as_bits(static_cast<float>(q));
  NEXT();
}
h_fneg: {
  FORMAT_RR();
  r[d] = r[s] ^ 0x80000000u;
  NEXT();
}

invalid:
  ip += 1;
  FAIL(kInvalidCode);

done:
  SAVE();
  return 1;

stop:
  SAVE();
  runtime_error(context, error);
  return 1;

#undef SAVE
#undef FAIL
#undef CHECK_ADDRESS
#undef NEXT
#undef JUMP_TO
#undef DECODE_RR
#undef FORMAT_RR
#undef FORMAT_RR_IMM
#undef FORMAT_IMM
#undef JUMP_IF
}

}  // namespace talven::vm
