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

inline std::uint32_t read32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline std::uint16_t read16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void write32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }
inline void write16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, sizeof v); }

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
int run_slice(ScriptContext& context) {
  if (g_stop_flag.load(std::memory_order_relaxed) != 0) return 1;
  if (context.state != kRunning) return 1;

  std::uint8_t* const base = g_script_base;
  std::uint32_t r[8];
  std::memcpy(r, context.r, sizeof r);
  Address pc = context.pc;
  std::uint8_t zf = context.z, lf = context.l, bf = context.b;
  Address stack_base = context.stack_base;
  std::uint64_t stack_size = context.stack_size;
  int error = -1;

  auto save = [&] {
    std::memcpy(context.r, r, sizeof r);
    context.pc = pc;
    context.z = zf;
    context.l = lf;
    context.b = bf;
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

#define FAIL(code_) \
  do {              \
    error = (code_);\
    goto stop;      \
  } while (0)
#define CHECK_ADDRESS(a) \
  if ((a) < kNullGuardSize) FAIL(kOutOfMemory)
// Register byte: low nibble D, high nibble S; a nibble above 7 is not a register.
#define DECODE_RR()                                    \
  const unsigned rr = code[1];                         \
  if (rr & 0x88) FAIL(kInvalidCode);                   \
  const unsigned d = rr & 7;                           \
  const unsigned s = rr >> 4;                          \
  (void)d;                                             \
  (void)s
#define FORMAT_RR() \
  pc += 2;          \
  DECODE_RR()
#define FORMAT_RR_IMM()                       \
  pc += 6;                                    \
  DECODE_RR();                                \
  const std::uint32_t imm = read32(code + 2)
#define FORMAT_IMM() \
  pc += 5;           \
  const std::uint32_t imm = read32(code + 1)
#define JUMP_IF(condition) \
  {                        \
    FORMAT_IMM();          \
    if (condition) pc = imm; \
    break;                 \
  }

  for (int budget = kSliceInstructions; budget > 0; --budget) {
    if (pc < kNullGuardSize) FAIL(kOutOfMemory);
    const std::uint8_t* const code = base + pc;
    switch (code[0]) {
      case op_nop:
        pc += 1;
        break;

      case op_trap: {
        const std::uint32_t index = read16(code + 1);
        pc += 3;
        save();
        if (g_gate.load(std::memory_order_relaxed)(index, context) != 0) return 1;
        if (context.state != kRunning) return 1;
        std::memcpy(r, context.r, sizeof r);
        pc = context.pc;
        zf = context.z;
        lf = context.l;
        bf = context.b;
        stack_base = context.stack_base;
        stack_size = context.stack_size;
        break;
      }

      case op_xchg: {
        FORMAT_RR();
        std::uint32_t t = r[d];
        r[d] = r[s];
        r[s] = t;
        break;
      }
      case op_mov_rr: {
        FORMAT_RR();
        r[d] = r[s];
        break;
      }
      case op_mov_ri:
      case op_mov_rs_addr: {
        FORMAT_RR_IMM();
        r[d] = imm;
        break;
      }

      // Loads from an absolute address.
      case op_load_b_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        r[d] = base[imm];
        break;
      }
      case op_load_sb_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        r[d] = sign_extend8(base[imm]);
        break;
      }
      case op_load_w_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        r[d] = read16(base + imm);
        break;
      }
      case op_load_sw_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        r[d] = sign_extend16(read16(base + imm));
        break;
      }
      case op_load_l_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        r[d] = read32(base + imm);
        break;
      }

      // Frame addressing: d(r6).
      case op_lea_f: {
        FORMAT_RR_IMM();
        r[d] = r[kFramePointer] + imm;
        break;
      }
      case op_load_b_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        r[d] = base[a];
        break;
      }
      case op_load_sb_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        r[d] = sign_extend8(base[a]);
        break;
      }
      case op_load_w_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        r[d] = read16(base + a);
        break;
      }
      case op_load_sw_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        r[d] = sign_extend16(read16(base + a));
        break;
      }
      case op_load_l_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        r[d] = read32(base + a);
        break;
      }

      // Loads through a register: (rS).
      case op_load_b_m: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        r[d] = base[a];
        break;
      }
      case op_load_sb_m: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        r[d] = sign_extend8(base[a]);
        break;
      }
      case op_load_w_m: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        r[d] = read16(base + a);
        break;
      }
      case op_load_sw_m: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        r[d] = sign_extend16(read16(base + a));
        break;
      }
      case op_load_l_m: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        r[d] = read32(base + a);
        break;
      }

      // Stores.
      case op_store_b_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        base[imm] = static_cast<std::uint8_t>(r[s]);
        break;
      }
      case op_store_w_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        write16(base + imm, static_cast<std::uint16_t>(r[s]));
        break;
      }
      case op_store_l_s: {
        FORMAT_RR_IMM();
        CHECK_ADDRESS(imm);
        write32(base + imm, r[s]);
        break;
      }
      case op_store_b_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        base[a] = static_cast<std::uint8_t>(r[s]);
        break;
      }
      case op_store_w_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        write16(base + a, static_cast<std::uint16_t>(r[s]));
        break;
      }
      case op_store_l_f: {
        FORMAT_RR_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        write32(base + a, r[s]);
        break;
      }
      case op_store_b_m: {
        FORMAT_RR();
        const Address a = r[d];
        CHECK_ADDRESS(a);
        base[a] = static_cast<std::uint8_t>(r[s]);
        break;
      }
      case op_store_w_m: {
        FORMAT_RR();
        const Address a = r[d];
        CHECK_ADDRESS(a);
        write16(base + a, static_cast<std::uint16_t>(r[s]));
        break;
      }
      case op_store_l_m: {
        FORMAT_RR();
        const Address a = r[d];
        CHECK_ADDRESS(a);
        write32(base + a, r[s]);
        break;
      }

      // Stack and calls.
      case op_push_r: {
        FORMAT_RR();
        const Address sp = r[kStackPointer] - 4;
        if (!push_ok(sp)) FAIL(kStackOverflow);
        write32(base + sp, r[s]);
        r[kStackPointer] = sp;
        break;
      }
      case op_push_i: {
        FORMAT_IMM();
        const Address sp = r[kStackPointer] - 4;
        if (!push_ok(sp)) FAIL(kStackOverflow);
        write32(base + sp, imm);
        r[kStackPointer] = sp;
        break;
      }
      case op_pop_r: {
        FORMAT_RR();
        const Address sp = r[kStackPointer];
        if (!pop_ok(sp)) FAIL(kStackOverflow);
        r[kStackPointer] = sp + 4;
        r[d] = read32(base + sp);
        break;
      }
      case op_enter: {
        FORMAT_IMM();
        const std::uint64_t frame = std::uint64_t(imm) + 24;
        const std::uint32_t offset = r[kStackPointer] - stack_base;
        if (offset > stack_size || frame > offset) FAIL(kStackOverflow);
        const Address sp = r[kStackPointer] - static_cast<std::uint32_t>(frame);
        std::uint8_t* saved = base + sp + imm;
        for (int i = 1; i <= 6; ++i) write32(saved + 4 * (i - 1), r[i]);
        r[kFramePointer] = sp + imm + 20;
        r[kStackPointer] = sp;
        break;
      }
      case op_leave: {
        FORMAT_IMM();
        const std::uint32_t offset = r[kStackPointer] - stack_base;
        if (std::uint64_t(offset) + imm + 24 >= stack_size) {
          // The outermost frame: the program has returned from main.
          save();
          context.state = kEnded;
          return 1;
        }
        const std::uint8_t* saved = base + (r[kStackPointer] + imm);
        for (int i = 1; i <= 6; ++i) r[i] = read32(saved + 4 * (i - 1));
        r[kStackPointer] += imm + 24;
        break;
      }
      case op_call_s: {
        FORMAT_IMM();
        const Address sp = r[kStackPointer] - 4;
        if (!push_ok(sp)) FAIL(kStackOverflow);
        write32(base + sp, pc);
        r[kStackPointer] = sp;
        pc = imm;
        break;
      }
      case op_call_r: {
        FORMAT_RR();
        const Address target = r[s];
        if (target == 0) FAIL(kOutOfMemory);
        const Address sp = r[kStackPointer] - 4;
        if (!push_ok(sp)) FAIL(kStackOverflow);
        write32(base + sp, pc);
        r[kStackPointer] = sp;
        pc = target;
        break;
      }
      case op_ret: {
        pc += 1;
        const Address sp = r[kStackPointer];
        if (!pop_ok(sp)) FAIL(kStackOverflow);
        r[kStackPointer] = sp + 4;
        pc = read32(base + sp);
        if (pc == 0xFFFFFFFFu) {
          // A thread's entry function returned to the marker its thread pushed.
          save();
          context.state = kEnded;
          return 1;
        }
        break;
      }

      // Increments through (rS); the result goes to rD.
      case op_preop: {
        FORMAT_RR_IMM();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        const std::uint32_t v = read32(base + a) + imm;
        write32(base + a, v);
        r[d] = v;
        break;
      }
      case op_postop: {
        FORMAT_RR_IMM();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        const std::uint32_t v = read32(base + a);
        write32(base + a, v + imm);
        r[d] = v;
        break;
      }
      case op_preinc_b:
      case op_postinc_b:
      case op_predec_b:
      case op_postdec_b: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        const std::uint8_t old = base[a];
        const bool up = code[0] == op_preinc_b || code[0] == op_postinc_b;
        const std::uint8_t now = static_cast<std::uint8_t>(up ? old + 1 : old - 1);
        base[a] = now;
        r[d] = (code[0] == op_preinc_b || code[0] == op_predec_b) ? now : old;
        break;
      }
      case op_preinc_w:
      case op_postinc_w:
      case op_predec_w:
      case op_postdec_w: {
        FORMAT_RR();
        const Address a = r[s];
        CHECK_ADDRESS(a);
        const std::uint16_t old = read16(base + a);
        const bool up = code[0] == op_preinc_w || code[0] == op_postinc_w;
        const std::uint16_t now = static_cast<std::uint16_t>(up ? old + 1 : old - 1);
        write16(base + a, now);
        r[d] = (code[0] == op_preinc_w || code[0] == op_predec_w) ? now : old;
        break;
      }

      // Zero tests set Z only.
      case op_zero_b_s: {
        FORMAT_IMM();
        CHECK_ADDRESS(imm);
        zf = base[imm] == 0;
        break;
      }
      case op_zero_w_s: {
        FORMAT_IMM();
        CHECK_ADDRESS(imm);
        zf = read16(base + imm) == 0;
        break;
      }
      case op_zero_l_s: {
        FORMAT_IMM();
        CHECK_ADDRESS(imm);
        zf = read32(base + imm) == 0;
        break;
      }
      case op_zero_b_f: {
        FORMAT_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        zf = base[a] == 0;
        break;
      }
      case op_zero_w_f: {
        FORMAT_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        zf = read16(base + a) == 0;
        break;
      }
      case op_zero_l_f: {
        FORMAT_IMM();
        const Address a = r[kFramePointer] + imm;
        CHECK_ADDRESS(a);
        zf = read32(base + a) == 0;
        break;
      }

      // Integer arithmetic, modulo 2^32.
      case op_cmp_rr: {
        FORMAT_RR();
        set_flags(r[d], r[s]);
        break;
      }
      case op_cmp_ri: {
        FORMAT_RR_IMM();
        set_flags(r[d], imm);
        break;
      }
      case op_set: {
        FORMAT_RR();
        r[d] = r[s] == 0;
        break;
      }
      case op_add_rr: {
        FORMAT_RR();
        r[d] += r[s];
        break;
      }
      case op_add_ri: {
        FORMAT_RR_IMM();
        r[d] += imm;
        break;
      }
      case op_sub_rr: {
        FORMAT_RR();
        set_flags(r[d], r[s]);
        r[d] -= r[s];
        break;
      }
      case op_sub_ri: {
        FORMAT_RR_IMM();
        set_flags(r[d], imm);
        r[d] -= imm;
        break;
      }
      case op_mul: {
        FORMAT_RR();
        r[d] *= r[s];
        break;
      }
      case op_div: {
        FORMAT_RR();
        const std::int32_t divisor = static_cast<std::int32_t>(r[s]);
        if (divisor == 0) FAIL(kDivideByZero);
        const std::int32_t dividend = static_cast<std::int32_t>(r[d]);
        // The one quotient that does not fit wraps to itself, as two's complement would.
        r[d] = divisor == -1 ? 0u - r[d] : static_cast<std::uint32_t>(dividend / divisor);
        break;
      }
      case op_mod: {
        FORMAT_RR();
        const std::int32_t divisor = static_cast<std::int32_t>(r[s]);
        if (divisor == 0) FAIL(kDivideByZero);
        const std::int32_t dividend = static_cast<std::int32_t>(r[d]);
        r[d] = divisor == -1 ? 0u : static_cast<std::uint32_t>(dividend % divisor);
        break;
      }
      case op_shl: {
        FORMAT_RR();
        r[d] <<= (r[s] & 31);
        break;
      }
      case op_shr: {
        FORMAT_RR();
        r[d] >>= (r[s] & 31);
        break;
      }
      case op_sar: {
        FORMAT_RR();
        r[d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r[d]) >> (r[s] & 31));
        break;
      }
      case op_neg: {
        FORMAT_RR();
        r[d] = 0u - r[s];
        break;
      }
      case op_not: {
        FORMAT_RR();
        r[d] = ~r[s];
        break;
      }
      case op_and: {
        FORMAT_RR();
        r[d] &= r[s];
        break;
      }
      case op_or: {
        FORMAT_RR();
        r[d] |= r[s];
        break;
      }
      case op_xor: {
        FORMAT_RR();
        r[d] ^= r[s];
        break;
      }

      // Jumps. L and B are meaningful only after a comparison.
      case op_jmp: JUMP_IF(true)
      case op_je: JUMP_IF(zf)
      case op_jne: JUMP_IF(!zf)
      case op_jg: JUMP_IF(!lf && !zf)
      case op_jge: JUMP_IF(!lf || zf)
      case op_jl: JUMP_IF(lf && !zf)
      case op_jle: JUMP_IF(lf || zf)
      case op_ja: JUMP_IF(!bf && !zf)
      case op_jae: JUMP_IF(!bf || zf)
      case op_jb: JUMP_IF(bf && !zf)
      case op_jbe: JUMP_IF(bf || zf)

      // Single-precision floats held as bit patterns.
      case op_ftoi: {
        FORMAT_RR();
        r[d] = float_to_int(as_float(r[s]));
        break;
      }
      case op_itof: {
        FORMAT_RR();
        r[d] = as_bits(static_cast<float>(static_cast<std::int32_t>(r[s])));
        break;
      }
      case op_fadd: {
        FORMAT_RR();
        r[d] = as_bits(as_float(r[d]) + as_float(r[s]));
        break;
      }
      case op_fsub: {
        FORMAT_RR();
        const float a = as_float(r[d]), b = as_float(r[s]);
        zf = a == b;  // both false when either is NaN
        lf = a < b;
        bf = 0;
        r[d] = as_bits(a - b);
        break;
      }
      case op_fmul: {
        FORMAT_RR();
        r[d] = as_bits(as_float(r[d]) * as_float(r[s]));
        break;
      }
      case op_fdiv: {
        FORMAT_RR();
        r[d] = as_bits(as_float(r[d]) / as_float(r[s]));
        break;
      }
      case op_fmod: {
        FORMAT_RR();
        const double q = std::fmod(static_cast<double>(as_float(r[d])), static_cast<double>(as_float(r[s])));
        r[d] = as_bits(static_cast<float>(q));
        break;
      }
      case op_fneg: {
        FORMAT_RR();
        r[d] = r[s] ^ 0x80000000u;
        break;
      }

      default:
        pc += 1;
        FAIL(kInvalidCode);
    }
    if (g_stop_flag.load(std::memory_order_relaxed) != 0) break;
  }
  save();
  return 1;

stop:
  save();
  runtime_error(context, error);
  return 1;

#undef FAIL
#undef CHECK_ADDRESS
#undef DECODE_RR
#undef FORMAT_RR
#undef FORMAT_RR_IMM
#undef FORMAT_IMM
#undef JUMP_IF
}

}  // namespace talven::vm
