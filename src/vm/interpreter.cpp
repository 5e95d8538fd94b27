#include "vm/interpreter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "vm/report.h"
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
  vm::report(1, "trap %u: no built-in functions are connected", index);
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

// The hottest machine state gets a host register of its own, which GCC would otherwise leave on
// the stack in a function as large as run_slice. Only a hint: the variable behaves the same.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define PINNED(type, name, reg) register type name asm(reg)
#else
#define PINNED(type, name, reg) type name
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

// enter and leave move r1 to r6 as three 8-byte pairs, each way the same, so that leave's loads
// take their values straight from enter's stores. The registers are read one word at a time: the
// single-word stores into them just before would make a wider load wait.
SCRIPT_MEMORY_ACCESS inline void save_registers(std::uint8_t* saved, const std::uint32_t* r) {
  for (int i = 0; i < 3; ++i) {
    std::uint32_t lo = r[1 + 2 * i], hi = r[2 + 2 * i];
    asm("" : "+r"(lo), "+r"(hi));
    const std::uint64_t pair = lo | std::uint64_t(hi) << 32;
    std::memcpy(saved + 8 * i, &pair, sizeof pair);
  }
}
// Returns the restored r6, so that the caller need not read it back from the array.
SCRIPT_MEMORY_ACCESS inline std::uint32_t restore_registers(const std::uint8_t* saved, std::uint32_t* r) {
  std::uint64_t pair = 0;
  for (int i = 0; i < 3; ++i) {
    std::memcpy(&pair, saved + 8 * i, sizeof pair);
    asm("" : "+r"(pair));
    std::memcpy(r + 1 + 2 * i, &pair, sizeof pair);
  }
  return static_cast<std::uint32_t>(pair >> 32);
}

// The registers go back to the context one word at a time: they were just stored one by one,
// and a wider load would wait for all of those stores.
inline void copy_registers_out(std::uint32_t* to, const std::uint32_t* from) {
  for (int i = 0; i < 8; ++i) {
    std::uint32_t v = from[i];
    asm("" : "+r"(v));
    to[i] = v;
  }
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

namespace {
std::atomic<FaultListener> g_fault_listener{nullptr};
}  // namespace

void set_fault_listener(FaultListener listener) { g_fault_listener.store(listener); }

void notify_fault(const ScriptFault& fault) {
  if (FaultListener listener = g_fault_listener.load()) listener(fault);
}

void runtime_error(ScriptContext& context, int code) {
  // pc has moved past the instruction at fault; its last byte is the one before.
  notify_fault({runtime_error_message(code), context.slot, context.pc - 1});
  vm::report(1, "%s", runtime_error_message(code));
  context.state = kStopped;
  g_script_faults.fetch_add(1);
  g_stop_flag.store(1);
}

// The machine state lives in locals for the whole slice and goes back into the context when the
// slice ends or a built-in needs to see it. Every memory access is one add to the region's base;
// the region is mapped for all 32-bit addresses plus a tail, so only the null guard needs a test.
//
// Dispatch is threaded: every handler ends with its own indirect jump through the opcode table,
// which lets the branch predictor learn which instruction tends to follow which. Most of the time
// the code runs from decoded blocks instead (below); these byte handlers run what a block cannot:
// the end of a slice that stops inside a block, code near the top of the space, and rare opcodes,
// which a block hands to them one at a time.
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

// ---- Decoded code ------------------------------------------------------------------------------
//
// Each script thread keeps its own cache of decoded blocks: runs of instructions that end at the
// first call, return, trap or jump that cannot be followed; a conditional jump leaves the block
// when taken and lets it go on when not. A block holds one record per instruction (or per
// group of instructions that run as one), with the handler address, the register numbers and the
// immediates already taken apart, so the hot loop does no decoding at all and pays the budget and
// stop-flag test once per block instead of once per instruction.
//
// Code lives in script memory, and scripts and built-ins may overwrite it at any time. A block
// therefore keeps a copy of the bytes it was decoded from and is compared against memory before
// it runs again whenever anyone may have written code:
//   - every store the interpreter makes (any thread) tests a map of 16-byte granules that hold
//     decoded code, and a hit advances the global code epoch (and ends the writer's block);
//   - every built-in call advances the epoch when it returns, since built-ins write through
//     host pointers of their own;
//   - freeing a program image advances it too, and empties the caches at their next slice;
//   - host code that writes code outside a built-in call (the compiler at start-up, tests)
//     reports it through note_code_write.
// A block whose bytes no longer match is decoded again. The caches are private to their thread,
// so they need no locks; only the granule map and the epochs are shared, and they are atomics.
namespace {

// The allocator's granule: two blocks of script memory never share one, so a stack or a heap
// block next to an image does not look like code.
constexpr unsigned kGranuleShift = 4;
constexpr std::uint64_t kGranuleCount = kAddressSpaceSize >> kGranuleShift;
constexpr int kMaxBlockInstructions = 128;
// A loop run several turns in one block stops there: as many turns as fit in a whole block, so
// that a short loop pays the block entry (epoch, budget and stop tests) once per several turns.
constexpr int kMaxUnrolled = 128;
constexpr std::size_t kMaxSegments = 8;  // runs of bytes a block may be made of
// Blocks start below this; a pc above it runs through the per-instruction test instead.
constexpr Address kFastLimit = kSequentialLimit - 32;
constexpr std::size_t kMaxCachedBlocks = 16000;      // a cache holding more is emptied at slice start
constexpr std::size_t kMaxCachedBytes = 8u << 20;    // the same for its records and copies
constexpr unsigned kTableBits = 15;                  // twice the blocks a cache may hold

std::atomic<std::uint64_t> g_code_epoch{0};  // 64 bits: it never comes round again
std::atomic<bool> g_decoding{true};
std::atomic<std::uint32_t> g_release_epoch{0};

// One byte per granule; the system hands the 256 MiB out lazily and zeroed, and only the parts
// that cover code are ever written.
std::uint8_t* code_map() {
  static std::uint8_t* const map = [] {
    auto* p = static_cast<std::uint8_t*>(std::calloc(kGranuleCount, 1));
    if (p == nullptr) {
      std::fputs("talven: cannot reserve the map of decoded code\n", stderr);
      std::abort();
    }
    return p;
  }();
  return map;
}
std::uint8_t* const g_code_map = code_map();

inline bool granule_has_code(Address a) {
  return std::atomic_ref<std::uint8_t>(g_code_map[a >> kGranuleShift]).load(std::memory_order_relaxed) != 0;
}
inline void code_written() { g_code_epoch.fetch_add(1, std::memory_order_acq_rel); }

struct Block;

// One decoded instruction or fused group.
struct Record {
  const void* handler;
  Block* link;          // the block a taken jump or a call goes to, once known
  std::uint32_t imm, imm2, imm3;
  Address pc;           // the group's first byte
  std::uint8_t d, s, d2, s2, d3, s3;
  std::uint8_t rest;    // instructions of the block after this record
  std::uint8_t n;       // instructions of this record, with followed jumps in front of it
  std::uint8_t lead;    // of those, followed jumps
  std::uint8_t pad[3];
  std::uint32_t imm4, imm5;
};
static_assert(sizeof(Record) == 56);

// A block follows unconditional jumps, so that a loop body and its test usually make one block;
// it is then made of several runs of bytes.
struct Segment {
  Address start, end;
};
struct Block {
  Address start = 0;
  Address fall_pc = 0;       // where the last instruction falls through to
  std::uint32_t count = 0;   // instructions, fused ones counted one by one
  std::uint64_t epoch = 0;   // the code epoch at which the bytes were last found unchanged
  Block* fall = nullptr;     // the block at fall_pc, once known
  std::vector<Record> records;
  std::vector<Segment> segments;
  std::vector<std::uint8_t> bytes;  // the segments' bytes one after another
};

struct DecodeCache {
  std::vector<std::unique_ptr<Block>> blocks;
  std::vector<Block*> table = std::vector<Block*>(std::size_t(1) << kTableBits, nullptr);
  std::uint32_t seen_release = 0;
  std::size_t bytes = 0;
  // A record whose handler stands in for a slice end in the middle of its block (see run_slice).
  Record* cut = nullptr;
  const void* cut_handler = nullptr;
  // The blocks that calls return to, newest last: a return finds its block here without waiting
  // for the address it pops (the pop only confirms it). It outlives the slice, since a slice
  // is a few dozen calls and most returns go to a call made in an earlier one; an entry is only
  // a guess to be confirmed, so it may also come from another context that ran on this thread.
  // 0xFFFFFFFF never reaches the lookup (that return ends the thread), so it marks empty entries.
  static constexpr unsigned kReturnStack = 16;
  Address return_pcs[kReturnStack];
  Block* return_blocks[kReturnStack];
  unsigned returns = 0;

  DecodeCache() { forget_returns(); }
  void forget_returns() {
    std::fill(std::begin(return_pcs), std::end(return_pcs), 0xFFFFFFFFu);
    returns = 0;
  }

  void uncut() {
    if (cut != nullptr) cut->handler = cut_handler;
    cut = nullptr;
  }
  void clear() {
    cut = nullptr;
    forget_returns();
    blocks.clear();
    std::fill(table.begin(), table.end(), nullptr);
    bytes = 0;
  }
};

thread_local std::unique_ptr<DecodeCache> t_cache;

inline std::size_t slot_of(Address a) { return (a * 0x9E3779B1u) >> (32 - kTableBits); }

// Handler kinds; run_slice supplies the label of each.
enum Kind : int {
  k_generic, k_fail, k_trap, k_continue, k_jmp, k_call_s, k_call_r, k_ret,
  k_mov_rr, k_mov_ri, k_load_l_s, k_load_l_f, k_load_l_m, k_load_b_m, k_load_sb_m,
  k_store_l_s, k_store_l_f, k_store_l_m, k_store_b_m, k_lea_f,
  k_cmp_rr, k_cmp_ri, k_add_rr, k_add_ri, k_sub_rr, k_sub_ri, k_mul, k_and, k_or, k_xor,
  k_fadd, k_fsub, k_fmul, k_fdiv, k_itof, k_push_r, k_push_i, k_pop_r, k_enter, k_leave,
  k_postop, k_xchg,
  // Groups the compiler emits again and again.
  k_inc_f,          // lea rA, d(r6); postop rB, (rC), imm
  k_movi_loadf,     // movl rA, $imm; movl rB, d(r6)
  k_movi_add,       // movl rA, $imm; add rB, rC
  k_movi_storef,    // movl rA, $imm; movl d(r6), rB
  k_loadf_loadf,    // movl rA, d(r6); movl rB, e(r6)
  k_add_storef,     // add rA, rB; movl d(r6), rC
  // movl rA, d(r6); movl rB, e(r6); OP rB, rA; movl f(r6), rB, with A and B apart
  k_update_add, k_update_sub, k_update_mul, k_update_and, k_update_or, k_update_xor,
  // movl rA, $imm; movl rB, d(r6); movl rC, $sym; add rC, rB, with A, B and C apart
  k_index4,
  // movl rA, $imm; movl rB, d(r6); mul rB, rA; movl rC, $sym; add rC, rB, with A, B and C apart
  k_index5,
  k_leave_ret,      // leave N; ret
  k_movi_loadf_sub,  // movl rA, $imm; movl rB, d(r6); sub rB, rA, with A and B apart
  // The same with the operations that leave the flags alone: a variable and a constant
  k_movi_loadf_add, k_movi_loadf_mul, k_movi_loadf_and, k_movi_loadf_or, k_movi_loadf_xor,
  k_movi_loadf_shl, k_movi_loadf_shr, k_movi_loadf_sar,
  k_push_xchg_call,  // push rS; xchg rD, rE; call sym: an argument pushed, then the call
  // The same two with the callee's code following in the block.
  k_call_in, k_push_xchg_call_in,
  k_add_sp,         // add r7, $imm
  // OP rD, rS; movl d(r6), rD: a result stored straight to its variable
  k_opst_fadd, k_opst_fsub, k_opst_fmul, k_opst_fdiv, k_opst_add, k_opst_sub, k_opst_mul,
  // movl rA, d(r6); movl rB, e(r6); OP rB, rA, with A and B apart (an update without its store)
  k_load2_fadd, k_load2_fsub, k_load2_fmul, k_load2_fdiv, k_load2_add, k_load2_sub, k_load2_mul,
  k_jcc,            // ten conditional jumps, je to jbe
  k_cmpi_jcc = k_jcc + 10,    // cmp rA, $imm; jcc
  k_loop_jcc = k_cmpi_jcc + 10,  // movl rA, $imm; movl rB, d(r6); sub rC, rD; jcc
  k_loopc_jcc = k_loop_jcc + 10,  // the same as `x - constant`: sub rB, rA with A and B apart
  k_sub_jcc = k_loopc_jcc + 10,   // sub rD, rS; jcc
  k_loadf_sub_jcc = k_sub_jcc + 10,  // movl rB, d(r6); sub rB, rA; jcc, with A and B apart
  k_load2_jcc = k_loadf_sub_jcc + 10,  // movl rA, d(r6); movl rB, e(r6); sub rB, rA; jcc, A and B apart
  // Instructions that run alone.
  // A loop's step and its test: lea rA, d(r6); postop rB, (rA), n, then (after the jump back to
  // the test, if any) the loop test of the same variable, against a constant (loopc) or
  // another variable (load2). The test takes the stepped value without reading it back.
  k_inc_loopc_jcc = k_load2_jcc + 10,
  k_inc_load2_jcc = k_inc_loopc_jcc + 10,
  k_load_b_s = k_inc_load2_jcc + 10, k_load_sb_s, k_load_w_s, k_load_sw_s,
  k_load_b_f, k_load_sb_f, k_load_w_f, k_load_sw_f, k_load_w_m, k_load_sw_m,
  k_store_b_s, k_store_w_s, k_store_b_f, k_store_w_f, k_store_w_m,
  k_zero_b_s, k_zero_w_s, k_zero_l_s, k_zero_b_f, k_zero_w_f, k_zero_l_f,
  k_preop, k_preinc_b, k_postinc_b, k_predec_b, k_postdec_b, k_preinc_w, k_postinc_w, k_predec_w, k_postdec_w,
  k_set, k_div, k_mod, k_shl, k_shr, k_sar, k_neg, k_not, k_ftoi, k_fmod, k_fneg, k_nop,
  // zerob / zerow / zerol d(r6); je or jne, by width: je, jne of bytes, then of 16 and 32 bits
  k_zero_f_jcc,
  // An access through an address that variables give, in one of these forms:
  //   ptr:    movl rA, d(r6)                                        *p, p->first
  //   field:  movl rK, $k; movl rA, d(r6); add rA, rK                p->member, p[k]
  //   walk:   lea rL, d(r6); postop rA, (rL), n                      *p++, *p--
  //   elem1:  movl rB, d(r6); movl rA, $sym; add rA, rB              a[i] of bytes
  //   elem:   movl rK, $n; movl rB, d(r6); mul rB, rK; movl rA, $sym; add rA, rB    a[i]
  //   at1:    movl rP, d(r6); movl rA, e(r6); add rA, rP             p[i] of bytes
  //   at:     movl rP, d(r6); movl rK, $n; movl rA, e(r6); mul rA, rK; add rA, rP   p[i]
  //   idx1:   movl rA, $sym; add rA, rX                              a[any index] of bytes
  //   idx:    mul rX, rK; movl rA, $sym; add rA, rX                  a[any index]
  // (the last two take an index that earlier instructions left in rX, and rK's element size)
  // with the registers of a form apart, and then the ACCESS through rA: a load of 8, 16 or 32
  // bits (zero- or sign-extended), which may go on with `cmp rD, $imm; je / jne` on the loaded
  // register or, for 32 bits, with `movl e(r6), rD`; or a store of 8, 16 or 32 bits, whose value
  // may come from `movl rV, $imm` or `movl rV, d(r6)` just before the form (V apart from the
  // form's registers). The kinds of each form follow AccessWay.
  k_ptr = k_zero_f_jcc + 6,
  k_field = k_ptr + 25,
  k_walk = k_field + 25,
  k_elem1 = k_walk + 25,
  k_elem = k_elem1 + 25,
  k_at1 = k_elem + 25,
  k_at = k_at1 + 25,
  k_idx1 = k_at + 25,
  k_idx = k_idx1 + 25,
  k_kind_count = k_idx + 25,
};
// The ways of an access, in the order of their kinds after each form's first kind.
enum AccessWay : int {
  a_load_b, a_load_sb, a_load_w, a_load_sw, a_load_l,
  a_load_b_je, a_load_b_jne, a_load_sb_je, a_load_sb_jne, a_load_w_je, a_load_w_jne, a_load_sw_je,
  a_load_sw_jne, a_load_l_je, a_load_l_jne,
  a_load_store,
  a_store_b, a_store_w, a_store_l,
  a_store_b_const, a_store_w_const, a_store_l_const,  // the value from movl rV, $imm
  a_store_b_var, a_store_w_var, a_store_l_var,        // the value from movl rV, d(r6)
  a_way_count,
};
static_assert(k_field - k_ptr == a_way_count);

bool has_rr(std::uint8_t op) {
  const OperandFormat f = kOpcodes[op].format;
  return f == OperandFormat::rr || f == OperandFormat::rr_imm32;
}

// Records keep r7 outside the register array and a copy of r6 beside it (see run_slice), so an
// instruction that names r7 or writes r6 runs through its byte handler. The exceptions are the
// `add r7, $n` that follows every call, and `call r7`.
bool names_r7(std::uint8_t rr) { return (rr & 7) == 7 || (rr >> 4) == 7; }
bool writes_r6(std::uint8_t op, std::uint8_t rr) {
  if (op == op_xchg) return (rr & 7) == 6 || (rr >> 4) == 6;
  if ((rr & 7) != 6) return false;
  const bool reads_d_only = (op >= op_store_b_s && op <= op_store_l_m) || op == op_cmp_rr || op == op_cmp_ri ||
                            op == op_push_r || op == op_call_r;
  return !reads_d_only;
}
bool kept_apart(std::uint8_t op, std::uint8_t rr) {
  return op != op_call_r && (names_r7(rr) || writes_r6(op, rr));
}

// The place of `op` among the seven operations that the two-load and operate-and-store groups
// take, in the order of their kinds; -1 for any other opcode.
int binary_operation(int op) {
  switch (op) {
    case op_fadd: return 0;
    case op_fsub: return 1;
    case op_fmul: return 2;
    case op_fdiv: return 3;
    case op_add_rr: return 4;
    case op_sub_rr: return 5;
    case op_mul: return 6;
    default: return -1;
  }
}

// A load or store through a register, taken apart.
struct Access {
  bool valid = false;
  int way = 0;           // a_load_b to a_load_l, or a_store_b to a_store_l
  std::uint8_t reg = 0;  // the register loaded, or the register stored
  std::uint8_t via = 0;  // the register that holds the address
};
Access access_of(int op, std::uint8_t rr) {
  const std::uint8_t d = rr & 7, s = rr >> 4;
  switch (op) {
    case op_load_b_m: return {true, a_load_b, d, s};
    case op_load_sb_m: return {true, a_load_sb, d, s};
    case op_load_w_m: return {true, a_load_w, d, s};
    case op_load_sw_m: return {true, a_load_sw, d, s};
    case op_load_l_m: return {true, a_load_l, d, s};
    case op_store_b_m: return {true, a_store_b, s, d};
    case op_store_w_m: return {true, a_store_w, s, d};
    case op_store_l_m: return {true, a_store_l, s, d};
    default: return {};
  }
}

// Decodes `b` from the bytes now at b.start, copies those bytes and marks their granules.
void decode_block(DecodeCache& cache, Block& b, const void* const* labels) {
  std::uint8_t* const base = g_script_base;
  if (cache.cut != nullptr && !b.records.empty() && cache.cut >= b.records.data() &&
      cache.cut < b.records.data() + b.records.size())
    cache.cut = nullptr;
  b.records.clear();
  b.segments.clear();
  b.fall = nullptr;
  b.count = 0;
  std::vector<std::uint8_t> counts;  // instructions per record, a followed jump with the next one
  Address pc = b.start;
  Address segment_start = b.start;
  int pending = 0;  // followed jumps not yet counted in a record
  auto add = [&](Kind kind, int instructions) -> Record& {
    Record& r = b.records.emplace_back();
    std::memset(&r, 0, sizeof r);
    r.handler = labels[kind];
    r.pc = pc;
    r.n = static_cast<std::uint8_t>(instructions + pending);
    r.lead = static_cast<std::uint8_t>(pending);
    counts.push_back(static_cast<std::uint8_t>(instructions + pending));
    b.count += static_cast<std::uint32_t>(instructions + pending);
    pending = 0;
    return r;
  };
  auto inside = [&](Address a) {
    if (a >= segment_start && a < pc) return true;
    for (const Segment& seg : b.segments)
      if (a >= seg.start && a < seg.end) return true;
    return false;
  };
  // The opcode at `a`, or -1 when it cannot join a group (too near the top, or bad registers).
  auto op_at = [&](Address a) -> int {
    if (a >= kFastLimit) return -1;
    const std::uint8_t op = base[a];
    if (op >= kOpcodeCount) return -1;
    if (has_rr(op) && ((base[a + 1] & 0x88) || kept_apart(op, base[a + 1]))) return -1;
    return op;
  };
  auto rd = [&](Address a) { return static_cast<std::uint8_t>(base[a + 1] & 7); };
  auto rs = [&](Address a) { return static_cast<std::uint8_t>(base[a + 1] >> 4); };
  auto im = [&](Address a, int at) { return read32(base + a + at); };
  auto is_mov_ri = [](int op) { return op == op_mov_ri || op == op_mov_rs_addr; };
  auto is_jcc = [](int op) { return op >= op_je && op <= op_jbe; };
  // An address form at `a` (see k_ptr): its kind, where its access would be, the register that
  // holds the address, what it writes and what its record keeps.
  struct Form {
    Kind kind = k_generic;
    Address end = 0;
    int parts = 0;
    std::uint8_t via = 0;
    unsigned writes = 0;
    std::uint8_t d = 0, d2 = 0, s2 = 0;
    std::uint32_t imm = 0, imm2 = 0, imm5 = 0;
  };
  auto form_at = [&](Address a) {
    Form f;
    const int o0 = op_at(a);
    const int o1 = o0 >= 0 ? op_at(a + static_cast<Address>(kInstructionLengths[o0])) : -1;
    auto set = [&](Kind kind, int length, int parts, std::uint8_t via, unsigned writes) {
      f.kind = kind, f.end = a + static_cast<Address>(length), f.parts = parts, f.via = via, f.writes = writes;
    };
    auto bit = [](std::uint8_t reg) { return 1u << reg; };
    if (o0 == op_load_l_f) {
      const std::uint8_t x = rd(a);
      if (is_mov_ri(o1) && op_at(a + 12) == op_add_rr && rd(a + 12) == rd(a + 6) && rs(a + 12) == x && rd(a + 6) != x) {
        set(k_elem1, 14, 3, rd(a + 6), bit(x) | bit(rd(a + 6)));
        f.d = x, f.imm = im(a, 2), f.d2 = rd(a + 6), f.imm2 = im(a + 6, 2);
      } else if (o1 == op_load_l_f && op_at(a + 12) == op_add_rr && rd(a + 12) == rd(a + 6) && rs(a + 12) == x &&
                 rd(a + 6) != x) {
        set(k_at1, 14, 3, rd(a + 6), bit(x) | bit(rd(a + 6)));
        f.d = x, f.imm = im(a, 2), f.d2 = rd(a + 6), f.imm2 = im(a + 6, 2);
      } else if (is_mov_ri(o1) && op_at(a + 12) == op_load_l_f && op_at(a + 18) == op_mul && op_at(a + 20) == op_add_rr) {
        const std::uint8_t k = rd(a + 6), y = rd(a + 12);
        if (x != k && x != y && k != y && rd(a + 18) == y && rs(a + 18) == k && rd(a + 20) == y && rs(a + 20) == x) {
          set(k_at, 22, 5, y, bit(x) | bit(k) | bit(y));
          f.d = x, f.imm = im(a, 2), f.d2 = k, f.imm2 = im(a + 6, 2), f.s2 = y, f.imm5 = im(a + 12, 2);
        }
      }
      if (f.kind == k_generic) {
        set(k_ptr, 6, 1, x, bit(x));
        f.d = x, f.imm = im(a, 2);
      }
    } else if (is_mov_ri(o0) && o1 == op_load_l_f) {
      const std::uint8_t k = rd(a), x = rd(a + 6);
      const int o2 = op_at(a + 12);
      if (o2 == op_add_rr && k != x && rd(a + 12) == x && rs(a + 12) == k) {
        set(k_field, 14, 3, x, bit(k) | bit(x));
        f.d = k, f.imm = im(a, 2), f.d2 = x, f.imm2 = im(a + 6, 2);
      } else if (o2 == op_mul && is_mov_ri(op_at(a + 14)) && op_at(a + 20) == op_add_rr) {
        const std::uint8_t y = rd(a + 14);
        if (k != x && k != y && x != y && rd(a + 12) == x && rs(a + 12) == k && rd(a + 20) == y && rs(a + 20) == x) {
          set(k_elem, 22, 5, y, bit(k) | bit(x) | bit(y));
          f.d = k, f.imm = im(a, 2), f.d2 = x, f.imm2 = im(a + 6, 2), f.s2 = y, f.imm5 = im(a + 14, 2);
        }
      }
    } else if (o0 == op_lea_f && o1 == op_postop && rs(a + 6) == rd(a)) {
      set(k_walk, 12, 2, rd(a + 6), bit(rd(a)) | bit(rd(a + 6)));
      f.d = rd(a), f.imm = im(a, 2), f.d2 = rd(a + 6), f.imm2 = im(a + 6, 2);
    }
    if (f.kind == k_generic) {
      // An index already in a register; `writes` takes in the registers read as well, since a
      // value moved in just before the form must not change them.
      if (is_mov_ri(o0) && o1 == op_add_rr && rd(a + 6) == rd(a) && rs(a + 6) != rd(a)) {
        set(k_idx1, 8, 2, rd(a), bit(rd(a)) | bit(rs(a + 6)));
        f.d = rd(a), f.imm = im(a, 2), f.d2 = rs(a + 6);
      } else if (o0 == op_mul && is_mov_ri(o1) && op_at(a + 8) == op_add_rr) {
        const std::uint8_t x = rd(a), k = rs(a), y = rd(a + 2);
        if (x != k && x != y && k != y && rd(a + 8) == y && rs(a + 8) == x) {
          set(k_idx, 10, 3, y, bit(x) | bit(k) | bit(y));
          f.d = y, f.imm = im(a + 2, 2), f.d2 = x, f.s2 = k;
        }
      }
    }
    return f;
  };
  auto access_at = [&](Address a) {
    const int o = op_at(a);
    return o >= 0 ? access_of(o, base[a + 1]) : Access{};
  };
  // Decoding goes on at `to`: the bytes up to `segment_end` close the current run of bytes.
  auto continue_at = [&](Address segment_end, Address to) {
    b.segments.push_back({segment_start, segment_end});
    pc = to;
    segment_start = to;
  };
  // A conditional jump leaves the block when taken and lets it go on when not. The compare
  // chain of a `switch` is read the other way round: its jumps to the next compare of the same
  // register are the usual path, so the block goes on there and leaves when a case matches.
  // Either way the jump stays one instruction of its own record.
  auto conditional = [&](Kind first_kind, int jcc, int instructions, Address taken, Address fall,
                         int compared) -> Record& {
    static constexpr int kNegated[10] = {1, 0, 5, 4, 3, 2, 9, 8, 7, 6};
    const bool chain = compared >= 0 && jcc == op_jne && taken > pc && taken < kFastLimit &&
                       op_at(taken) == op_cmp_ri && rd(taken) == compared && !inside(taken) &&
                       b.segments.size() < kMaxSegments;
    const int condition = jcc - op_je;
    Record& r = add(static_cast<Kind>(first_kind + (chain ? kNegated[condition] : condition)), instructions);
    if (chain) {
      r.imm3 = fall;
      continue_at(fall, taken);
    } else {
      r.imm3 = taken;
      pc = fall;
    }
    return r;
  };
  int loop_length = 0;  // instructions from the start to a jump back to it
  // A call to code not yet in the block is followed: the callee's first instructions run on in
  // the block after the return address is pushed.
  auto can_follow_call = [&](Address to) {
    return to >= kNullGuardSize && to < kFastLimit && !inside(to) && b.segments.size() < kMaxSegments;
  };

  bool ended = false;
  while (!ended) {
    if (pc >= kFastLimit || static_cast<int>(b.count) + pending >= kMaxBlockInstructions) {
      add(k_continue, 0).imm = pc;
      break;
    }
    const std::uint8_t op = base[pc];
    if (op >= kOpcodeCount) {
      add(k_fail, 1).imm = pc + 1;
      pc += 1;
      break;
    }
    const int len = kInstructionLengths[op];
    if (has_rr(op) && (base[pc + 1] & 0x88)) {
      add(k_fail, 1).imm = pc + static_cast<Address>(len);
      pc += static_cast<Address>(len);
      break;
    }
    const Address p1 = pc + static_cast<Address>(len);
    if (has_rr(op) && kept_apart(op, base[pc + 1])) {
      const bool add_sp = op == op_add_ri && (base[pc + 1] & 7) == 7;  // its S nibble is unused
      Record& r = add(add_sp ? k_add_sp : k_generic, 1);
      r.imm = im(pc, 2);
      pc = p1;
      continue;
    }
    const int op1 = op_at(p1);

    // Groups first, the longest that fits.
    // An access through an address that variables give (see k_ptr), and what goes with it.
    {
      Form form = form_at(pc);
      Access access = form.kind != k_generic ? access_at(form.end) : Access{};
      std::uint32_t value = 0;
      int value_way = 0;  // 0: the stored register as it is; 1: a constant; 2: a variable
      if (!(access.valid && access.via == form.via)) {
        // movl rV, $imm or movl rV, d(r6), then a form and a store of rV.
        if (is_mov_ri(op) || op == op_load_l_f) {
          form = form_at(p1);
          access = form.kind != k_generic ? access_at(form.end) : Access{};
          const std::uint8_t v = rd(pc);
          if (access.valid && access.via == form.via && access.way >= a_store_b && access.reg == v &&
              (form.writes & (1u << v)) == 0) {
            value = im(pc, 2);
            value_way = is_mov_ri(op) ? 1 : 2;
          } else {
            access.valid = false;
          }
        }
      }
      if (access.valid && access.via == form.via) {
        const int parts = form.parts + 1 + (value_way != 0);
        const Address after = form.end + 2;
        const bool load = access.way <= a_load_l;
        const int next = load ? op_at(after) : -1;
        const int jcc = next == op_cmp_ri && rd(after) == access.reg ? op_at(after + 6) : -1;
        Record* r = nullptr;
        if (jcc == op_je || jcc == op_jne) {
          const Kind je = static_cast<Kind>(int(form.kind) + a_load_b_je + 2 * access.way);
          const std::uint32_t constant = im(after, 2);
          r = &conditional(je, jcc, parts + 2, im(after + 6, 1), after + 11, access.reg);
          r->imm4 = constant;
        } else if (access.way == a_load_l && next == op_store_l_f && rs(after) == access.reg) {
          r = &add(static_cast<Kind>(int(form.kind) + a_load_store), parts + 1);
          r->imm4 = im(after, 2);
          pc = after + 6;
        } else {
          const int way = access.way + (value_way == 1 ? a_store_b_const - a_store_b : 0) +
                          (value_way == 2 ? a_store_b_var - a_store_b : 0);
          r = &add(static_cast<Kind>(form.kind + way), parts);
          if (value_way != 0) r->imm4 = value;
          pc = after;
        }
        r->d = form.d, r->d2 = form.d2, r->s2 = form.s2;
        r->imm = form.imm, r->imm2 = form.imm2, r->imm5 = form.imm5;
        r->d3 = access.reg;
        continue;
      }
    }
    if (op == op_sub_rr && is_jcc(op1)) {
      Record& r = conditional(k_sub_jcc, op1, 2, im(p1, 1), p1 + 5, -1);
      r.d = rd(r.pc), r.s = rs(r.pc);
      continue;
    }
    if (op == op_load_l_f && op1 == op_sub_rr && rd(p1) == rd(pc) && rs(p1) != rd(pc) && is_jcc(op_at(p1 + 2))) {
      const Address at = pc;
      Record& r = conditional(k_loadf_sub_jcc, op_at(p1 + 2), 3, im(p1 + 2, 1), p1 + 7, -1);
      r.d = rd(at), r.imm = im(at, 2), r.s = rs(p1);
      continue;
    }
    if (op == op_load_l_f && op1 == op_load_l_f && op_at(p1 + 6) == op_sub_rr && is_jcc(op_at(p1 + 8)) &&
        rd(pc) != rd(p1) && rd(p1 + 6) == rd(p1) && rs(p1 + 6) == rd(pc)) {
      const Address at = pc;
      Record& r = conditional(k_load2_jcc, op_at(p1 + 8), 4, im(p1 + 8, 1), p1 + 13, -1);
      r.d = rd(at), r.imm = im(at, 2);
      r.d2 = rd(p1), r.imm2 = im(p1, 2);
      continue;
    }
    if ((op == op_zero_b_f || op == op_zero_w_f || op == op_zero_l_f) && (op1 == op_je || op1 == op_jne)) {
      const Address at = pc;
      Record& r = conditional(static_cast<Kind>(k_zero_f_jcc + 2 * (op - op_zero_b_f)), op1, 2, im(p1, 1), p1 + 5, -1);
      r.imm = im(at, 1);
      continue;
    }
    if (op == op_leave && op1 == op_ret) {
      add(k_leave_ret, 2).imm = im(pc, 1);
      pc = p1 + 1;
      break;
    }
    if (op == op_load_l_f && op1 == op_load_l_f) {
      const int op2 = op_at(p1 + 6);
      const int op3 = op2 >= 0 ? op_at(p1 + 6 + static_cast<Address>(kInstructionLengths[op2])) : -1;
      Kind update = k_generic;
      switch (op2) {
        case op_add_rr: update = k_update_add; break;
        case op_sub_rr: update = k_update_sub; break;
        case op_mul: update = k_update_mul; break;
        case op_and: update = k_update_and; break;
        case op_or: update = k_update_or; break;
        case op_xor: update = k_update_xor; break;
        default: break;
      }
      const std::uint8_t a = rd(pc), bb = rd(p1);
      if (update != k_generic && op3 == op_store_l_f && a != bb && rd(p1 + 6) == bb && rs(p1 + 6) == a &&
          rs(p1 + 8) == bb) {
        Record& r = add(update, 4);
        r.d = a; r.imm = im(pc, 2);
        r.d2 = bb; r.imm2 = im(p1, 2);
        r.imm3 = im(p1 + 8, 2);
        pc = p1 + 14;
        continue;
      }
      const int operation = binary_operation(op2);
      if (operation >= 0 && a != bb && rd(p1 + 6) == bb && rs(p1 + 6) == a) {
        Record& r = add(static_cast<Kind>(k_load2_fadd + operation), 3);
        r.d = a; r.imm = im(pc, 2);
        r.d2 = bb; r.imm2 = im(p1, 2);
        pc = p1 + 8;
        continue;
      }
    }
    if (is_mov_ri(op) && op1 == op_load_l_f) {
      const Address p2 = p1 + 6;
      const int op2 = op_at(p2);
      const std::uint8_t a = rd(pc), bb = rd(p1);
      if (is_mov_ri(op2) && op_at(p2 + 6) == op_add_rr) {
        const std::uint8_t c = rd(p2);
        if (a != bb && a != c && bb != c && rd(p2 + 6) == c && rs(p2 + 6) == bb) {
          Record& r = add(k_index4, 4);
          r.d = a; r.imm = im(pc, 2);
          r.d2 = bb; r.imm2 = im(p1, 2);
          r.d3 = c; r.imm3 = im(p2, 2);
          pc = p2 + 8;
          continue;
        }
      }
      if (op2 == op_mul && rd(p2) == bb && rs(p2) == a && is_mov_ri(op_at(p2 + 2)) && op_at(p2 + 8) == op_add_rr) {
        const std::uint8_t c = rd(p2 + 2);
        if (a != bb && a != c && bb != c && rd(p2 + 8) == c && rs(p2 + 8) == bb) {
          Record& r = add(k_index5, 5);
          r.d = a; r.imm = im(pc, 2);
          r.d2 = bb; r.imm2 = im(p1, 2);
          r.d3 = c; r.imm3 = im(p2 + 2, 2);
          pc = p2 + 10;
          continue;
        }
      }
    }
    if (is_mov_ri(op) && op1 == op_load_l_f) {
      const int op2 = op_at(p1 + 6);
      const int op3 = op2 == op_sub_rr ? op_at(p1 + 8) : -1;
      if (is_jcc(op3)) {
        // The usual loop test compares a variable with a constant; that form needs no reads of
        // the registers just written (which would wait for the stores).
        const bool constant = rd(pc) != rd(p1) && rd(p1 + 6) == rd(p1) && rs(p1 + 6) == rd(pc);
        const Address at = pc;
        Record& r = conditional(constant ? k_loopc_jcc : k_loop_jcc, op3, 4, im(p1 + 8, 1), p1 + 13, -1);
        r.d = rd(at); r.imm = im(at, 2);
        r.d2 = rd(p1); r.imm2 = im(p1, 2);
        r.d3 = rd(p1 + 6); r.s3 = rs(p1 + 6);
        continue;
      }
      // `x - constant`, `x + constant`, `x * constant` and the like: the result never makes the
      // round trip through the register file.
      int operation = -1;
      switch (op2) {
        case op_sub_rr: operation = k_movi_loadf_sub; break;
        case op_add_rr: operation = k_movi_loadf_add; break;
        case op_mul: operation = k_movi_loadf_mul; break;
        case op_and: operation = k_movi_loadf_and; break;
        case op_or: operation = k_movi_loadf_or; break;
        case op_xor: operation = k_movi_loadf_xor; break;
        case op_shl: operation = k_movi_loadf_shl; break;
        case op_shr: operation = k_movi_loadf_shr; break;
        case op_sar: operation = k_movi_loadf_sar; break;
        default: break;
      }
      if (operation >= 0 && rd(pc) != rd(p1) && rd(p1 + 6) == rd(p1) && rs(p1 + 6) == rd(pc)) {
        Record& r = add(static_cast<Kind>(operation), 3);
        r.d = rd(pc); r.imm = im(pc, 2);
        r.d2 = rd(p1); r.imm2 = im(p1, 2);
        pc = p1 + 8;
        continue;
      }
      Record& r = add(k_movi_loadf, 2);
      r.d = rd(pc); r.imm = im(pc, 2);
      r.d2 = rd(p1); r.imm2 = im(p1, 2);
      pc = p1 + 6;
      continue;
    }
    if (op == op_push_r && op1 == op_xchg && op_at(p1 + 2) == op_call_s) {
      const Address callee = im(p1 + 2, 1), back = p1 + 7;
      const bool follow = can_follow_call(callee);
      Record& r = add(follow ? k_push_xchg_call_in : k_push_xchg_call, 3);
      r.s = rs(pc);
      r.d2 = rd(p1); r.s2 = rs(p1);
      r.imm = callee;
      r.imm3 = follow ? back : callee;
      if (follow) {
        continue_at(back, callee);
        continue;
      }
      pc = back;
      break;
    }
    if (op == op_call_s && can_follow_call(im(pc, 1))) {
      Record& r = add(k_call_in, 1);
      r.imm = im(pc, 1);
      r.imm3 = p1;
      continue_at(p1, r.imm);
      continue;
    }
    if (op == op_cmp_ri && is_jcc(op1)) {
      const std::uint8_t compared = rd(pc);
      const std::uint32_t value = im(pc, 2);
      Record& r = conditional(k_cmpi_jcc, op1, 2, im(p1, 1), p1 + 5, compared);
      r.d = compared; r.imm = value;
      continue;
    }
    if (op == op_lea_f && op1 == op_postop) {
      Record& r = add(k_inc_f, 2);
      r.d = rd(pc); r.imm = im(pc, 2);
      r.d2 = rd(p1); r.s2 = rs(p1); r.imm2 = im(p1, 2);
      pc = p1 + 6;
      continue;
    }
    if (is_mov_ri(op) && (op1 == op_add_rr || op1 == op_store_l_f)) {
      Record& r = add(op1 == op_add_rr ? k_movi_add : k_movi_storef, 2);
      r.d = rd(pc); r.imm = im(pc, 2);
      r.d2 = rd(p1); r.s2 = rs(p1);
      if (op1 == op_store_l_f) r.imm2 = im(p1, 2);
      pc = p1 + static_cast<Address>(op1 == op_add_rr ? 2 : 6);
      continue;
    }
    if (op == op_load_l_f && op1 == op_load_l_f) {
      Record& r = add(k_loadf_loadf, 2);
      r.d = rd(pc); r.imm = im(pc, 2);
      r.d2 = rd(p1); r.imm2 = im(p1, 2);
      pc = p1 + 6;
      continue;
    }
    if (op1 == op_store_l_f && rs(p1) == rd(pc) && binary_operation(op) >= 0) {
      Record& r = add(static_cast<Kind>(k_opst_fadd + binary_operation(op)), 2);
      r.d = rd(pc); r.s = rs(pc); r.imm2 = im(p1, 2);
      pc = p1 + 6;
      continue;
    }
    if (op == op_add_rr && op1 == op_store_l_f) {
      Record& r = add(k_add_storef, 2);
      r.d = rd(pc); r.s = rs(pc);
      r.d2 = rd(p1); r.s2 = rs(p1); r.imm2 = im(p1, 2);
      pc = p1 + 6;
      continue;
    }

    if (op == op_jmp) {
      // Followed when it leads to code not yet in the block: the jump costs nothing at run time.
      const Address to = im(pc, 1);
      // A jump back to the start of the block runs the loop again inside the block, as many
      // whole turns as fit. Other jumps back are followed only from the first few instructions
      // of a block (the tail of a loop body entered from a side exit), so that a loop too long
      // for one block always splits at the same places instead of at a new place every turn.
      const int so_far = static_cast<int>(b.count) + pending + 1;
      if (to == b.start && loop_length == 0) loop_length = so_far;
      const bool again = to == b.start && so_far + loop_length <= kMaxUnrolled;
      const bool onward = !inside(to) && (to > pc || so_far <= 8);
      if (to >= kNullGuardSize && to < kFastLimit && (again || onward) && b.segments.size() < kMaxSegments) {
        ++pending;
        continue_at(p1, to);
        continue;
      }
    }
    Kind kind = k_generic;
    switch (op) {
      case op_trap: kind = k_trap; ended = true; break;
      case op_jmp: kind = k_jmp; ended = true; break;
      case op_call_s: kind = k_call_s; ended = true; break;
      case op_call_r: kind = k_call_r; ended = true; break;
      case op_ret: kind = k_ret; ended = true; break;
      case op_mov_rr: kind = k_mov_rr; break;
      case op_mov_ri: case op_mov_rs_addr: kind = k_mov_ri; break;
      case op_load_l_s: kind = k_load_l_s; break;
      case op_load_l_f: kind = k_load_l_f; break;
      case op_load_l_m: kind = k_load_l_m; break;
      case op_load_b_m: kind = k_load_b_m; break;
      case op_load_sb_m: kind = k_load_sb_m; break;
      case op_store_l_s: kind = k_store_l_s; break;
      case op_store_l_f: kind = k_store_l_f; break;
      case op_store_l_m: kind = k_store_l_m; break;
      case op_store_b_m: kind = k_store_b_m; break;
      case op_lea_f: kind = k_lea_f; break;
      case op_cmp_rr: kind = k_cmp_rr; break;
      case op_cmp_ri: kind = k_cmp_ri; break;
      case op_add_rr: kind = k_add_rr; break;
      case op_add_ri: kind = k_add_ri; break;
      case op_sub_rr: kind = k_sub_rr; break;
      case op_sub_ri: kind = k_sub_ri; break;
      case op_mul: kind = k_mul; break;
      case op_and: kind = k_and; break;
      case op_or: kind = k_or; break;
      case op_xor: kind = k_xor; break;
      case op_fadd: kind = k_fadd; break;
      case op_fsub: kind = k_fsub; break;
      case op_fmul: kind = k_fmul; break;
      case op_fdiv: kind = k_fdiv; break;
      case op_itof: kind = k_itof; break;
      case op_push_r: kind = k_push_r; break;
      case op_push_i: kind = k_push_i; break;
      case op_pop_r: kind = k_pop_r; break;
      case op_enter: kind = k_enter; break;
      case op_leave: kind = k_leave; break;
      case op_postop: kind = k_postop; break;
      case op_xchg: kind = k_xchg; break;
      case op_load_b_s: case op_load_sb_s: case op_load_w_s: case op_load_sw_s:
        kind = static_cast<Kind>(k_load_b_s + (op - op_load_b_s));
        break;
      case op_load_b_f: case op_load_sb_f: case op_load_w_f: case op_load_sw_f:
        kind = static_cast<Kind>(k_load_b_f + (op - op_load_b_f));
        break;
      case op_load_w_m: kind = k_load_w_m; break;
      case op_load_sw_m: kind = k_load_sw_m; break;
      case op_store_b_s: kind = k_store_b_s; break;
      case op_store_w_s: kind = k_store_w_s; break;
      case op_store_b_f: kind = k_store_b_f; break;
      case op_store_w_f: kind = k_store_w_f; break;
      case op_store_w_m: kind = k_store_w_m; break;
      case op_zero_b_s: case op_zero_w_s: case op_zero_l_s:
      case op_zero_b_f: case op_zero_w_f: case op_zero_l_f:
        kind = static_cast<Kind>(k_zero_b_s + (op - op_zero_b_s));
        break;
      case op_preop: kind = k_preop; break;
      case op_preinc_b: case op_postinc_b: case op_predec_b: case op_postdec_b:
      case op_preinc_w: case op_postinc_w: case op_predec_w: case op_postdec_w:
        kind = static_cast<Kind>(k_preinc_b + (op - op_preinc_b));
        break;
      case op_set: kind = k_set; break;
      case op_div: kind = k_div; break;
      case op_mod: kind = k_mod; break;
      case op_shl: kind = k_shl; break;
      case op_shr: kind = k_shr; break;
      case op_sar: kind = k_sar; break;
      case op_neg: kind = k_neg; break;
      case op_not: kind = k_not; break;
      case op_ftoi: kind = k_ftoi; break;
      case op_fmod: kind = k_fmod; break;
      case op_fneg: kind = k_fneg; break;
      case op_nop: kind = k_nop; break;
      default:
        if (is_jcc(op)) kind = static_cast<Kind>(k_jcc + (op - op_je));
        break;
    }
    Record& r = add(kind, 1);
    switch (kOpcodes[op].format) {
      case OperandFormat::none: break;
      case OperandFormat::imm16: r.imm = read16(base + pc + 1); break;
      case OperandFormat::rr: r.d = rd(pc); r.s = rs(pc); break;
      case OperandFormat::rr_imm32: r.d = rd(pc); r.s = rs(pc); r.imm = im(pc, 2); break;
      case OperandFormat::imm32: r.imm = im(pc, 1); break;
    }
    if (kind == k_jmp || kind == k_call_s || (kind >= k_jcc && kind < k_jcc + 10)) r.imm3 = r.imm;
    pc = p1;
  }
  b.fall_pc = pc;
  b.segments.push_back({segment_start, pc});
  // A followed jump just before the end (the block stops at a jump back into itself).
  if (pending != 0) {
    add(k_continue, 0).imm = pc;
  }
  // A loop's step and the loop test after it become one record (see k_inc_loopc_jcc).
  for (std::size_t i = 0; i + 1 < b.records.size(); ++i) {
    Record& step = b.records[i];
    const Record& test = b.records[i + 1];
    if (step.handler != labels[k_inc_f] || step.s2 != step.d) continue;
    int condition = -1;
    bool constant = false;
    for (int c = 0; c < 10; ++c) {
      if (test.handler == labels[k_loopc_jcc + c] && test.imm2 == step.imm) condition = c, constant = true;
      if (test.handler == labels[k_load2_jcc + c] && test.imm2 == step.imm) condition = c;
    }
    if (condition < 0) continue;
    Record merged = step;
    merged.handler = labels[(constant ? k_inc_loopc_jcc : k_inc_load2_jcc) + condition];
    merged.n = static_cast<std::uint8_t>(step.n + test.n);
    merged.s = test.d;        // the constant's register, or the other variable's
    merged.imm4 = test.imm;   // the constant, or the other variable's offset
    merged.d3 = test.d2;      // the register of the difference
    merged.imm3 = test.imm3;  // where the jump goes
    merged.imm5 = test.pc;    // the test's first instruction
    merged.link = nullptr;
    b.records[i] = merged;
    b.records.erase(b.records.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    counts[i] = static_cast<std::uint8_t>(counts[i] + counts[i + 1]);
    counts.erase(counts.begin() + static_cast<std::ptrdiff_t>(i) + 1);
  }
  // Suffix sums: what a block left early must give back to the budget.
  unsigned after = 0;
  for (std::size_t i = b.records.size(); i-- > 0;) {
    b.records[i].rest = static_cast<std::uint8_t>(after);
    after += counts[i];
  }
  b.bytes.clear();
  for (const Segment& seg : b.segments) b.bytes.insert(b.bytes.end(), base + seg.start, base + seg.end);
}

// Marks the granules of `b` (from 3 bytes below, so that any store of up to 4 bytes that overlaps
// the block starts in a marked granule).
void mark_granules(const Block& b) {
  for (const Segment& seg : b.segments) {
    if (seg.end == seg.start) continue;
    const std::uint64_t first = (std::uint64_t(seg.start) - 3) >> kGranuleShift;
    const std::uint64_t last = (std::uint64_t(seg.end) - 1) >> kGranuleShift;
    for (std::uint64_t g = first; g <= last; ++g) {
      std::atomic_ref<std::uint8_t> cell(g_code_map[g]);
      if (cell.load(std::memory_order_relaxed) == 0) cell.store(1, std::memory_order_relaxed);
    }
  }
}

bool bytes_unchanged(const Block& b) {
  const std::uint8_t* copy = b.bytes.data();
  for (const Segment& seg : b.segments) {
    const std::size_t n = seg.end - seg.start;
    if (std::memcmp(copy, g_script_base + seg.start, n) != 0) return false;
    copy += n;
  }
  return true;
}

// Brings `b` up to date with memory as of code epoch `epoch`.
void validate_block(DecodeCache& cache, Block& b, const void* const* labels, std::uint64_t epoch) {
  b.epoch = epoch;
  if (!bytes_unchanged(b)) {
    cache.bytes -= b.records.size() * sizeof(Record) + b.bytes.size();
    decode_block(cache, b, labels);
    cache.bytes += b.records.size() * sizeof(Record) + b.bytes.size();
    mark_granules(b);  // marks are never taken back, so unchanged bytes are marked already
  }
}

Block* find_block(DecodeCache& cache, Address pc, const void* const* labels) {
  std::size_t i = slot_of(pc);
  const std::size_t mask = cache.table.size() - 1;
  for (;; i = (i + 1) & mask) {
    Block* b = cache.table[i];
    if (b == nullptr) break;
    if (b->start == pc) return b;
  }
  auto owned = std::make_unique<Block>();
  Block* b = owned.get();
  b->start = pc;
  // The epoch is read before the bytes, so that a write after this point is noticed at entry.
  b->epoch = g_code_epoch.load(std::memory_order_acquire);
  decode_block(cache, *b, labels);
  mark_granules(*b);
  cache.bytes += sizeof(Block) + b->records.size() * sizeof(Record) + b->bytes.size();
  cache.blocks.push_back(std::move(owned));
  cache.table[i] = b;
  return b;
}

// Whether the cache must be emptied before the next slice: a program image was freed, or it
// has grown too large.
bool cache_needs_reset(const DecodeCache& cache) {
  return g_release_epoch.load(std::memory_order_acquire) != cache.seen_release ||
         cache.blocks.size() > kMaxCachedBlocks || cache.bytes > kMaxCachedBytes;
}

// The calling thread's cache, made ready for a new slice.
DecodeCache& cache_for_slice() {
  if (!t_cache) t_cache = std::make_unique<DecodeCache>();
  DecodeCache& cache = *t_cache;
  if (cache_needs_reset(cache)) {
    cache.seen_release = g_release_epoch.load(std::memory_order_acquire);
    cache.clear();
  }
  cache.uncut();
  return cache;
}

}  // namespace

void note_image_released() {
  g_release_epoch.fetch_add(1, std::memory_order_acq_rel);
  code_written();
}

void note_code_write(Address a, std::uint64_t n) {
  if (n == 0) return;
  const std::uint64_t first = a >> kGranuleShift;
  const std::uint64_t last = std::min<std::uint64_t>((std::uint64_t(a) + n - 1) >> kGranuleShift, kGranuleCount - 1);
  for (std::uint64_t g = first; g <= last; ++g) {
    if (std::atomic_ref<std::uint8_t>(g_code_map[g]).load(std::memory_order_relaxed) != 0) {
      code_written();
      return;
    }
  }
}

std::size_t decoded_block_count() { return t_cache ? t_cache->blocks.size() : 0; }

void set_decoding(bool on) { g_decoding.store(on); }

SCRIPT_MEMORY_ACCESS int run_slice(ScriptContext& context, const SliceRun& run) {
  if (g_stop_flag.load(std::memory_order_relaxed) != 0) return 1;
  if (context.state != kRunning) return 1;
  int slices = 1;
  bool called_builtin = false;

  std::uint8_t* const base = g_script_base;
  std::uint32_t r[8];
  std::memcpy(r, context.r, sizeof r);
  const std::uint8_t* ip = base + context.pc;  // the instruction being executed
  Address target = context.pc;                 // pc set by a jump, call, return or built-in
  std::uint8_t zf = context.z, lf = context.l, bf = context.b;
  // A comparison only records its operands; the three flags are worked out when something reads
  // them, which most of the time is the conditional jump right after it, straight from the pair.
  std::uint32_t fa = 0, fb = 0;
  bool lazy = false;
  Address stack_base = context.stack_base;
  std::uint64_t stack_size = context.stack_size;
  // While decoded records run, r7 lives here rather than in r[7], so that the pushes, calls and
  // returns that follow one another do not each wait for the store of the one before. The byte
  // handlers and everything outside the records use r[7]; the two are made equal at each crossing.
  // Records read r6 from frame_pointer, and whatever writes r6 writes both.
  PINNED(Address, stack_pointer, "r15") = r[kStackPointer];
  PINNED(Address, frame_pointer, "r14") = r[kFramePointer];  // equal to r[6] at all times
  PINNED(int, budget, "r13") = kSliceInstructions;
  int error = -1;
  DecodeCache* const cache = &cache_for_slice();
  const bool decoding = g_decoding.load(std::memory_order_relaxed);
  Block* blk = nullptr;
  Record* rec = nullptr;
  constexpr unsigned kReturnStack = DecodeCache::kReturnStack;
  Address* const return_pcs = cache->return_pcs;
  Block** const return_blocks = cache->return_blocks;
  unsigned returns = cache->returns;  // goes back with the registers

  // Whether a slice that has run out may go on as the next one (see SliceRun); the cache is left
  // alone, so one that is due to be emptied ends the call instead.
#define more_slices()                                                                           \
  (slices < run.slices && !called_builtin && g_stop_flag.load(std::memory_order_relaxed) == 0 && \
   !cache_needs_reset(*cache) && run.go_on(run.data))
  // After every instruction: the stop flag and the budget in one test. The flag only ever holds
  // 0 or 1, and 1 << 8 is above any budget left.
  // (A macro: the budget's register cannot be captured.)
#define slice_over() (--budget <= static_cast<int>(g_stop_flag.load(std::memory_order_relaxed) << 8))
  auto set_flags = [&](std::uint32_t a, std::uint32_t b) {
    fa = a;
    fb = b;
    lazy = true;
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
  // Indexed by opcode byte: one handler per entry of the opcode list, then `invalid` for every
  // byte no opcode has.
#define TALVEN_HANDLER(name, format, mnemonic, operands) &&h_##name,
  static_assert(kOpcodeCount == 92, "the invalid entries below fill the table from kOpcodeCount to 255");
  static const void* const kHandlers[256] = {
      TALVEN_OPCODES(TALVEN_HANDLER)
      INVALID16, INVALID16, INVALID16, INVALID16, INVALID16,
      INVALID16, INVALID16, INVALID16, INVALID16, INVALID16, INVALID4,
  };
#undef TALVEN_HANDLER
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
  // A byte handler run for a decoded record comes back to the block through this table.
#define RESUME4 &&resume, &&resume, &&resume, &&resume
#define RESUME16 RESUME4, RESUME4, RESUME4, RESUME4
#define RESUME64 RESUME16, RESUME16, RESUME16, RESUME16
  static const void* const kResume[256] = {RESUME64, RESUME64, RESUME64, RESUME64};
#undef RESUME64
#undef RESUME16
#undef RESUME4
#define ACCESS_LABELS(form)                                                                     \
  &&f_##form##_load_b, &&f_##form##_load_sb, &&f_##form##_load_w, &&f_##form##_load_sw,          \
      &&f_##form##_load_l, &&f_##form##_load_b_je, &&f_##form##_load_b_jne, &&f_##form##_load_sb_je, \
      &&f_##form##_load_sb_jne, &&f_##form##_load_w_je, &&f_##form##_load_w_jne,                  \
      &&f_##form##_load_sw_je, &&f_##form##_load_sw_jne, &&f_##form##_load_l_je,                  \
      &&f_##form##_load_l_jne, &&f_##form##_load_store, &&f_##form##_store_b,                     \
      &&f_##form##_store_w, &&f_##form##_store_l, &&f_##form##_store_b_const, &&f_##form##_store_w_const, \
      &&f_##form##_store_l_const, &&f_##form##_store_b_var, &&f_##form##_store_w_var, &&f_##form##_store_l_var
#define JCC10(prefix) &&prefix##e, &&prefix##ne, &&prefix##g, &&prefix##ge, &&prefix##l, &&prefix##le, \
    &&prefix##a, &&prefix##ae, &&prefix##b, &&prefix##be
  // Indexed by Kind.
  static const void* const kFast[] = {
      &&f_generic, &&f_fail, &&f_trap, &&f_continue, &&f_jmp, &&f_call_s, &&f_call_r, &&f_ret,
      &&f_mov_rr, &&f_mov_ri, &&f_load_l_s, &&f_load_l_f, &&f_load_l_m, &&f_load_b_m, &&f_load_sb_m,
      &&f_store_l_s, &&f_store_l_f, &&f_store_l_m, &&f_store_b_m, &&f_lea_f,
      &&f_cmp_rr, &&f_cmp_ri, &&f_add_rr, &&f_add_ri, &&f_sub_rr, &&f_sub_ri, &&f_mul, &&f_and, &&f_or, &&f_xor,
      &&f_fadd, &&f_fsub, &&f_fmul, &&f_fdiv, &&f_itof, &&f_push_r, &&f_push_i, &&f_pop_r, &&f_enter, &&f_leave,
      &&f_postop, &&f_xchg,
      &&f_inc_f, &&f_movi_loadf, &&f_movi_add, &&f_movi_storef, &&f_loadf_loadf, &&f_add_storef,
      &&f_update_add, &&f_update_sub, &&f_update_mul, &&f_update_and, &&f_update_or, &&f_update_xor,
      &&f_index4, &&f_index5,
      &&f_leave_ret, &&f_movi_loadf_sub,
      &&f_movi_loadf_add, &&f_movi_loadf_mul, &&f_movi_loadf_and, &&f_movi_loadf_or, &&f_movi_loadf_xor,
      &&f_movi_loadf_shl, &&f_movi_loadf_shr, &&f_movi_loadf_sar, &&f_push_xchg_call, &&f_call_in, &&f_push_xchg_call_in, &&f_add_sp,
      &&f_opst_fadd, &&f_opst_fsub, &&f_opst_fmul, &&f_opst_fdiv, &&f_opst_add, &&f_opst_sub, &&f_opst_mul,
      &&f_load2_fadd, &&f_load2_fsub, &&f_load2_fmul, &&f_load2_fdiv, &&f_load2_add, &&f_load2_sub, &&f_load2_mul,
      JCC10(f_jcc_), JCC10(f_cmpi_jcc_), JCC10(f_loop_jcc_), JCC10(f_loopc_jcc_),
      JCC10(f_sub_jcc_), JCC10(f_loadf_sub_jcc_), JCC10(f_load2_jcc_), JCC10(f_inc_loopc_jcc_),
      JCC10(f_inc_load2_jcc_),
      &&f_load_b_s, &&f_load_sb_s, &&f_load_w_s, &&f_load_sw_s,
      &&f_load_b_f, &&f_load_sb_f, &&f_load_w_f, &&f_load_sw_f, &&f_load_w_m, &&f_load_sw_m,
      &&f_store_b_s, &&f_store_w_s, &&f_store_b_f, &&f_store_w_f, &&f_store_w_m,
      &&f_zero_b_s, &&f_zero_w_s, &&f_zero_l_s, &&f_zero_b_f, &&f_zero_w_f, &&f_zero_l_f,
      &&f_preop, &&f_preinc_b, &&f_postinc_b, &&f_predec_b, &&f_postdec_b,
      &&f_preinc_w, &&f_postinc_w, &&f_predec_w, &&f_postdec_w,
      &&f_set, &&f_div, &&f_mod, &&f_shl, &&f_shr, &&f_sar, &&f_neg, &&f_not, &&f_ftoi, &&f_fmod, &&f_fneg, &&f_nop,
      &&f_zero_b_f_je, &&f_zero_b_f_jne, &&f_zero_w_f_je, &&f_zero_w_f_jne, &&f_zero_l_f_je, &&f_zero_l_f_jne,
      ACCESS_LABELS(ptr), ACCESS_LABELS(field), ACCESS_LABELS(walk), ACCESS_LABELS(elem1), ACCESS_LABELS(elem),
      ACCESS_LABELS(at1), ACCESS_LABELS(at), ACCESS_LABELS(idx1), ACCESS_LABELS(idx),
  };
#undef ACCESS_LABELS
  static_assert(sizeof kFast / sizeof kFast[0] == k_kind_count);
#undef JCC10
  const void* const* handlers = kHandlers;

#define MATERIALIZE()                                                         \
  do {                                                                        \
    if (lazy) {                                                               \
      zf = fa == fb;                                                          \
      lf = static_cast<std::int32_t>(fa) < static_cast<std::int32_t>(fb);    \
      bf = fa < fb;                                                           \
      lazy = false;                                                           \
    }                                                                         \
  } while (0)
// A macro rather than a lambda: a closure that is not inlined would keep ip and the flags in
// memory for the whole slice.
#define SAVE()                                      \
  do {                                              \
    MATERIALIZE();                                  \
    copy_registers_out(context.r, r);               \
    cache->returns = returns;                       \
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
// After a store: when it may have hit decoded code, every cache compares its blocks again.
#define NOTE_STORE(a) \
  if (granule_has_code(a)) code_written()
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
    if (slice_over()) goto done;                                                     \
    stack_pointer = r[kStackPointer];                                                \
    frame_pointer = r[kFramePointer];                                                \
    goto fast_target;                                                                \
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
    MATERIALIZE();           \
    if (condition) JUMP_TO(imm); \
    NEXT();                  \
  }

  // The first instruction: pc came from the context.
  if (target - kNullGuardSize >= kSequentialLimit - kNullGuardSize) goto far_pc;
  goto fast_target;

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
  called_builtin = true;
  SAVE();
  const int gate_result = g_gate.load(std::memory_order_relaxed)(index, context);
  // Built-ins write script memory through their own pointers; code may have changed.
  code_written();
  if (gate_result != 0) return slices;
  if (context.state != kRunning) return slices;
  std::memcpy(r, context.r, sizeof r);
  zf = context.z;
  lf = context.l;
  bf = context.b;
  lazy = false;
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
h_mov_rs_addr:  // the address of a symbol is an immediate like any other
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
  NOTE_STORE(imm);
  NEXT();
}
h_store_w_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  write16(base + imm, static_cast<std::uint16_t>(r[s]));
  NOTE_STORE(imm);
  NEXT();
}
h_store_l_s: {
  FORMAT_RR_IMM();
  CHECK_ADDRESS(imm);
  write32(base + imm, r[s]);
  NOTE_STORE(imm);
  NEXT();
}
h_store_b_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  base[a] = static_cast<std::uint8_t>(r[s]);
  NOTE_STORE(a);
  NEXT();
}
h_store_w_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  write16(base + a, static_cast<std::uint16_t>(r[s]));
  NOTE_STORE(a);
  NEXT();
}
h_store_l_f: {
  FORMAT_RR_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  write32(base + a, r[s]);
  NOTE_STORE(a);
  NEXT();
}
h_store_b_m: {
  FORMAT_RR();
  const Address a = r[d];
  CHECK_ADDRESS(a);
  base[a] = static_cast<std::uint8_t>(r[s]);
  NOTE_STORE(a);
  NEXT();
}
h_store_w_m: {
  FORMAT_RR();
  const Address a = r[d];
  CHECK_ADDRESS(a);
  write16(base + a, static_cast<std::uint16_t>(r[s]));
  NOTE_STORE(a);
  NEXT();
}
h_store_l_m: {
  FORMAT_RR();
  const Address a = r[d];
  CHECK_ADDRESS(a);
  write32(base + a, r[s]);
  NOTE_STORE(a);
  NEXT();
}

// Stack and calls.
h_push_r: {
  FORMAT_RR();
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, r[s]);
  NOTE_STORE(sp);
  r[kStackPointer] = sp;
  NEXT();
}
h_push_i: {
  FORMAT_IMM();
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, imm);
  NOTE_STORE(sp);
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
  save_registers(saved, r);
  NOTE_STORE(sp + imm);  // 24 bytes touch at most three granules
  NOTE_STORE(sp + imm + 16);
  NOTE_STORE(sp + imm + 23);
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
    return slices;
  }
  const std::uint8_t* saved = base + (r[kStackPointer] + imm);
  restore_registers(saved, r);
  r[kStackPointer] += imm + 24;
  NEXT();
}
h_call_s: {
  FORMAT_IMM();
  const Address sp = r[kStackPointer] - 4;
  if (!push_ok(sp)) FAIL(kStackOverflow);
  write32(base + sp, static_cast<Address>(ip - base));
  NOTE_STORE(sp);
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
  NOTE_STORE(sp);
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
    return slices;
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
  NOTE_STORE(a);
  r[d] = v;
  NEXT();
}
h_postop: {
  FORMAT_RR_IMM();
  const Address a = r[s];
  CHECK_ADDRESS(a);
  const std::uint32_t v = read32(base + a);
  write32(base + a, v + imm);
  NOTE_STORE(a);
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
    NOTE_STORE(a);                                               \
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
    NOTE_STORE(a);                                               \
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
  MATERIALIZE();
  zf = base[imm] == 0;
  NEXT();
}
h_zero_w_s: {
  FORMAT_IMM();
  CHECK_ADDRESS(imm);
  MATERIALIZE();
  zf = read16(base + imm) == 0;
  NEXT();
}
h_zero_l_s: {
  FORMAT_IMM();
  CHECK_ADDRESS(imm);
  MATERIALIZE();
  zf = read32(base + imm) == 0;
  NEXT();
}
h_zero_b_f: {
  FORMAT_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  MATERIALIZE();
  zf = base[a] == 0;
  NEXT();
}
h_zero_w_f: {
  FORMAT_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  MATERIALIZE();
  zf = read16(base + a) == 0;
  NEXT();
}
h_zero_l_f: {
  FORMAT_IMM();
  const Address a = r[kFramePointer] + imm;
  CHECK_ADDRESS(a);
  MATERIALIZE();
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
  lazy = false;
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

// ---- Decoded blocks ----------------------------------------------------------------------------
// From fast_target down to the end of the records r7 is stack_pointer; leaving for the byte
// handlers, `done` or `stop` hands it back to r[7].
#define SP_OUT() (r[kStackPointer] = stack_pointer)
// The usual entry into a known block, copied into every place that transfers control, so that
// each has an indirect jump of its own for the branch predictor to learn.
#define ENTER_FAST()                                                                            \
  do {                                                                                          \
    if (blk->epoch != g_code_epoch.load(std::memory_order_acquire) ||                           \
        budget < static_cast<int>(blk->count + (g_stop_flag.load(std::memory_order_relaxed) << 9))) \
      goto enter_block;                                                                         \
    budget -= static_cast<int>(blk->count);                                                     \
    rec = blk->records.data();                                                                  \
    goto* rec->handler;                                                                         \
  } while (0)
#define FALL()                  \
  do {                          \
    if (blk->fall != nullptr) { \
      blk = blk->fall;          \
      ENTER_FAST();             \
    }                           \
    goto fast_fall;             \
  } while (0)
#define TAKEN()                  \
  do {                           \
    if (rec->link != nullptr) {  \
      blk = rec->link;           \
      ENTER_FAST();              \
    }                            \
    goto fast_taken;             \
  } while (0)
// Entering a block: its bytes are compared with memory when the code epoch says they may
// have changed, then the budget and the stop flag are tested once for all of its instructions.
// A block that does not fit in what is left of the budget runs instruction by instruction above.
fast_target:
  if (!decoding) {
    ip = base + target;
    SP_OUT();
    goto* handlers[*ip];
  }
  if (target - kNullGuardSize >= kFastLimit - kNullGuardSize) goto fast_far;
  blk = cache->table[slot_of(target)];
  if (blk == nullptr || blk->start != target) blk = find_block(*cache, target, kFast);
enter_block:
  {
    const std::uint64_t epoch = g_code_epoch.load(std::memory_order_acquire);
    if (blk->epoch != epoch) validate_block(*cache, *blk, kFast, epoch);
  }
  if (budget < static_cast<int>(blk->count + (g_stop_flag.load(std::memory_order_relaxed) << 9))) {
    if (more_slices()) {
      // The slice has run out with nothing for the loop to do between slices: the next one
      // begins here and the block runs whole.
      ++slices;
      budget += kSliceInstructions;
    } else {
      ip = base + blk->start;
      SP_OUT();
      if (budget <= 0 || g_stop_flag.load(std::memory_order_relaxed) != 0) goto done;
      // The slice ends inside this block: its records run up to the last whole one that fits,
      // whose successor's handler is swapped for a cut that hands the rest to the byte handlers.
      // The swap is undone there, or at the next slice when the slice ends before the cut.
      Record* first = blk->records.data();
      Record* k = first;
      int before = 0;
      while (before + k->n <= budget) before += k->n, ++k;
      while (k != first && k->lead != 0) --k, before -= k->n;  // restart after a followed jump's target only
      if (k == first) goto* handlers[*ip];
      cache->uncut();
      cache->cut = k;
      cache->cut_handler = k->handler;
      k->handler = &&f_cut;
    }
  }
  budget -= static_cast<int>(blk->count);
  rec = blk->records.data();
  goto* rec->handler;

// A jump whose target needs the per-instruction pc test; the jump itself is already counted.
fast_far:
  ip = base + target;
  SP_OUT();
  if (budget <= static_cast<int>(g_stop_flag.load(std::memory_order_relaxed) << 8)) goto done;
  goto far_pc;

// The last instruction of a block fell through.
fast_fall:
  target = blk->fall_pc;
  if (target - kNullGuardSize >= kFastLimit - kNullGuardSize) goto fast_far;
  if (blk->fall == nullptr) {
    Block* next = find_block(*cache, target, kFast);
    blk->fall = next;
  }
  blk = blk->fall;
  goto enter_block;

// A taken jump or a call to rec->imm3.
fast_taken:
  if (rec->link != nullptr) {
    blk = rec->link;
    goto enter_block;
  }
  target = rec->imm3;
  if (target - kNullGuardSize >= kFastLimit - kNullGuardSize) goto fast_far;
  blk = find_block(*cache, target, kFast);
  rec->link = blk;
  goto enter_block;

// An instruction without a handler of its own runs through the byte handler, which comes back
// here through kResume; a store of it into code ends the block.
f_generic:
  // The byte handler counts the instruction again and must not see the rest of the block as
  // spent: while it runs, the budget is what is left after this instruction.
  budget += 1 + rec->rest;
  ip = base + rec->pc;
  handlers = kResume;
  SP_OUT();
  goto* kHandlers[*ip];
resume:
  handlers = kHandlers;
  stack_pointer = r[kStackPointer];
  frame_pointer = r[kFramePointer];
  if (g_code_epoch.load(std::memory_order_relaxed) != blk->epoch) {
    target = static_cast<Address>(ip - base);
    goto fast_target;
  }
  budget -= rec->rest;
  ++rec;
  goto* rec->handler;

f_fail:
  ip = base + rec->imm;
  SP_OUT();
  FAIL(kInvalidCode);

f_trap:
  ++budget;  // the byte handler counts it again
  ip = base + rec->pc;
  SP_OUT();
  goto h_trap;

f_continue:
  FALL();

f_cut:
  rec->handler = cache->cut_handler;
  cache->cut = nullptr;
  budget += rec->rest + rec->n;
  ip = base + rec->pc;
  SP_OUT();
  if (budget <= 0 || g_stop_flag.load(std::memory_order_relaxed) != 0) goto done;
  goto* handlers[*ip];

#define FNEXT()          \
  do {                   \
    ++rec;               \
    goto* rec->handler;  \
  } while (0)
// A fault in a record reports the pc after the instruction that faulted: the record's pc and
// the lengths of its instructions up to that one. A sum of several lengths stands in
// parentheses where it is a macro argument, since the preprocessor would split it at its commas.
#define FFAIL(code_, pc_after)  \
  do {                          \
    ip = base + (pc_after);     \
    SP_OUT();                   \
    FAIL(code_);                \
  } while (0)
// The groups take either immediate move (a number or a symbol's address) where they say
// `movl rA, $imm` or `$sym`; the lengths name the one the group's comment shows.
static_assert(kBytesOf<op_mov_ri> == kBytesOf<op_mov_rs_addr>);
// Pops the return address at `sp` and enters the block there: the address the slice's own call
// pushed is tried first, then the cache. A macro, so that every return keeps its own indirect jump.
#define FAST_RETURN(sp, pc_after)                                               \
  do {                                                                          \
    if (!pop_ok(sp)) FFAIL(kStackOverflow, pc_after);                           \
    stack_pointer = (sp) + 4;                                                   \
    const Address return_address = read32(base + (sp));                         \
    if (return_address == 0xFFFFFFFFu) {                                        \
      ip = base + return_address;                                               \
      SP_OUT();                                                                 \
      SAVE();                                                                   \
      context.state = kEnded;                                                   \
      return slices;                                                            \
    }                                                                           \
    target = return_address;                                                    \
    --returns;                                                                  \
    if (return_pcs[returns % kReturnStack] == target) {                         \
      blk = return_blocks[returns % kReturnStack];                              \
      ENTER_FAST();                                                             \
    }                                                                           \
    if (target - kNullGuardSize < kFastLimit - kNullGuardSize) {                \
      blk = cache->table[slot_of(target)];                                      \
      if (blk != nullptr && blk->start == target) ENTER_FAST();                 \
    }                                                                           \
    goto fast_target;                                                           \
  } while (0)
// A store that may have hit decoded code ends the block; the rest of it is given back.
#define FSTORE_CHECK(a, pc_after)                  \
  if (granule_has_code(a)) {                       \
    code_written();                                \
    budget += rec->rest;                           \
    target = (pc_after);                           \
    goto fast_target;                              \
  }

f_jmp:
  TAKEN();
// Pushes the return address of a call.
#define PUSH_RETURN(back)                                         \
  const Address sp = stack_pointer - 4;                           \
  if (!push_ok(sp)) FFAIL(kStackOverflow, (back));                \
  write32(base + sp, (back));                                     \
  stack_pointer = sp
// Notes the block that a call returns to for the return, or finds it for the next call.
#define REMEMBER_RETURN(back, block)                              \
  if ((block) != nullptr) {                                       \
    return_pcs[returns % kReturnStack] = (back);                  \
    return_blocks[returns % kReturnStack] = (block);              \
    ++returns;                                                    \
  } else if ((back) < kFastLimit) {                               \
    (block) = find_block(*cache, (back), kFast);                  \
  }
// A call to rec->imm3 that returns to `back`, the end of its block.
#define CALL_S(back)                                              \
  do {                                                            \
    PUSH_RETURN(back);                                            \
    if (granule_has_code(sp)) code_written();                     \
    REMEMBER_RETURN(back, blk->fall)                              \
    TAKEN();                                                      \
  } while (0)
// A call to rec->imm whose code follows in the block; rec->link is the block at `back`.
#define CALL_IN(back)                                             \
  do {                                                            \
    PUSH_RETURN(back);                                            \
    if (granule_has_code(sp)) {                                   \
      code_written();                                             \
      budget += rec->rest;                                        \
      target = rec->imm;                                          \
      goto fast_target;                                           \
    }                                                             \
    REMEMBER_RETURN(back, rec->link)                              \
    FNEXT();                                                      \
  } while (0)
// push rS; xchg rD, rE, the first two parts of an argument pushed just before a call.
#define PUSH_XCHG()                                                       \
  do {                                                                    \
    const Address sp = stack_pointer - 4;                                 \
    if (!push_ok(sp)) FFAIL(kStackOverflow, rec->pc + kBytesOf<op_push_r>); \
    write32(base + sp, r[rec->s]);                                        \
    stack_pointer = sp;                                                   \
    if (granule_has_code(sp)) {                                           \
      /* The rest of the group may have been written over: it runs again from memory. */ \
      code_written();                                                     \
      budget += rec->rest + 2;                                            \
      target = rec->pc + kBytesOf<op_push_r>;                             \
      goto fast_target;                                                   \
    }                                                                     \
    const std::uint32_t t = r[rec->d2];                                   \
    r[rec->d2] = r[rec->s2];                                              \
    r[rec->s2] = t;                                                       \
  } while (0)
f_call_s:
  CALL_S(rec->pc + kBytesOf<op_call_s>);
f_call_in:
  CALL_IN(rec->pc + kBytesOf<op_call_s>);
f_push_xchg_call:
  PUSH_XCHG();
  CALL_S(rec->pc + (kBytesOf<op_push_r, op_xchg, op_call_s>));
f_push_xchg_call_in:
  PUSH_XCHG();
  CALL_IN(rec->pc + (kBytesOf<op_push_r, op_xchg, op_call_s>));
#undef CALL_S
#undef CALL_IN
#undef PUSH_RETURN
#undef REMEMBER_RETURN
#undef PUSH_XCHG
f_call_r: {
  SP_OUT();  // `call r7` is allowed
  const Address callee = r[rec->s];
  if (callee == 0) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_call_r>);
  const Address sp = stack_pointer - 4;
  if (!push_ok(sp)) FFAIL(kStackOverflow, rec->pc + kBytesOf<op_call_r>);
  write32(base + sp, rec->pc + kBytesOf<op_call_r>);
  stack_pointer = sp;
  if (granule_has_code(sp)) code_written();
  target = callee;
  goto fast_target;
}
f_ret: {
  const Address sp = stack_pointer;
  FAST_RETURN(sp, rec->pc + kBytesOf<op_ret>);
}

f_add_sp:
  stack_pointer += rec->imm;
  FNEXT();
f_mov_rr:
  r[rec->d] = r[rec->s];
  FNEXT();
f_mov_ri:
  r[rec->d] = rec->imm;
  FNEXT();
f_load_l_s:
  if (rec->imm < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_s>);
  r[rec->d] = read32(base + rec->imm);
  FNEXT();
f_load_l_f: {
  const Address a = frame_pointer + rec->imm;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>);
  r[rec->d] = read32(base + a);
  FNEXT();
}
f_load_l_m: {
  const Address a = r[rec->s];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_m>);
  r[rec->d] = read32(base + a);
  FNEXT();
}
f_load_b_m: {
  const Address a = r[rec->s];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_b_m>);
  r[rec->d] = base[a];
  FNEXT();
}
f_load_sb_m: {
  const Address a = r[rec->s];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_sb_m>);
  r[rec->d] = sign_extend8(base[a]);
  FNEXT();
}
f_store_l_s: {
  const Address a = rec->imm;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_store_l_s>);
  write32(base + a, r[rec->s]);
  FSTORE_CHECK(a, rec->pc + kBytesOf<op_store_l_s>);
  FNEXT();
}
f_store_l_f: {
  const Address a = frame_pointer + rec->imm;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_store_l_f>);
  write32(base + a, r[rec->s]);
  FSTORE_CHECK(a, rec->pc + kBytesOf<op_store_l_f>);
  FNEXT();
}
f_store_l_m: {
  const Address a = r[rec->d];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_store_l_m>);
  write32(base + a, r[rec->s]);
  FSTORE_CHECK(a, rec->pc + kBytesOf<op_store_l_m>);
  FNEXT();
}
f_store_b_m: {
  const Address a = r[rec->d];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_store_b_m>);
  base[a] = static_cast<std::uint8_t>(r[rec->s]);
  FSTORE_CHECK(a, rec->pc + kBytesOf<op_store_b_m>);
  FNEXT();
}
f_lea_f:
  r[rec->d] = frame_pointer + rec->imm;
  FNEXT();
f_cmp_rr:
  set_flags(r[rec->d], r[rec->s]);
  FNEXT();
f_cmp_ri:
  set_flags(r[rec->d], rec->imm);
  FNEXT();
f_add_rr:
  r[rec->d] += r[rec->s];
  FNEXT();
f_add_ri:
  r[rec->d] += rec->imm;
  FNEXT();
f_sub_rr: {
  const std::uint32_t x = r[rec->d], y = r[rec->s];
  set_flags(x, y);
  r[rec->d] = x - y;
  FNEXT();
}
f_sub_ri: {
  const std::uint32_t x = r[rec->d], y = rec->imm;
  set_flags(x, y);
  r[rec->d] = x - y;
  FNEXT();
}
f_mul:
  r[rec->d] *= r[rec->s];
  FNEXT();
f_and:
  r[rec->d] &= r[rec->s];
  FNEXT();
f_or:
  r[rec->d] |= r[rec->s];
  FNEXT();
f_xor:
  r[rec->d] ^= r[rec->s];
  FNEXT();
f_fadd:
  r[rec->d] = as_bits(as_float(r[rec->d]) + as_float(r[rec->s]));
  FNEXT();
f_fsub: {
  const float a = as_float(r[rec->d]), b = as_float(r[rec->s]);
  zf = a == b;
  lf = a < b;
  bf = 0;
  lazy = false;
  r[rec->d] = as_bits(a - b);
  FNEXT();
}
f_fmul:
  r[rec->d] = as_bits(as_float(r[rec->d]) * as_float(r[rec->s]));
  FNEXT();
f_fdiv:
  r[rec->d] = as_bits(as_float(r[rec->d]) / as_float(r[rec->s]));
  FNEXT();
f_itof:
  r[rec->d] = as_bits(static_cast<float>(static_cast<std::int32_t>(r[rec->s])));
  FNEXT();
// Loads and stores of 8 and 16 bits, zero tests, increments in memory.
#define FAST_LOAD(name, address, value)                             \
  f_##name: {                                                       \
    const Address a = (address);                                    \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_##name>); \
    r[rec->d] = (value);                                            \
    FNEXT();                                                        \
  }
FAST_LOAD(load_b_s, rec->imm, base[a])
FAST_LOAD(load_sb_s, rec->imm, sign_extend8(base[a]))
FAST_LOAD(load_w_s, rec->imm, read16(base + a))
FAST_LOAD(load_sw_s, rec->imm, sign_extend16(read16(base + a)))
FAST_LOAD(load_b_f, frame_pointer + rec->imm, base[a])
FAST_LOAD(load_sb_f, frame_pointer + rec->imm, sign_extend8(base[a]))
FAST_LOAD(load_w_f, frame_pointer + rec->imm, read16(base + a))
FAST_LOAD(load_sw_f, frame_pointer + rec->imm, sign_extend16(read16(base + a)))
FAST_LOAD(load_w_m, r[rec->s], read16(base + a))
FAST_LOAD(load_sw_m, r[rec->s], sign_extend16(read16(base + a)))
#undef FAST_LOAD
#define FAST_STORE(name, address, store)                            \
  f_##name: {                                                       \
    const Address a = (address);                                    \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_##name>); \
    store;                                                          \
    FSTORE_CHECK(a, rec->pc + kBytesOf<op_##name>);                 \
    FNEXT();                                                        \
  }
FAST_STORE(store_b_s, rec->imm, base[a] = static_cast<std::uint8_t>(r[rec->s]))
FAST_STORE(store_w_s, rec->imm, write16(base + a, static_cast<std::uint16_t>(r[rec->s])))
FAST_STORE(store_b_f, frame_pointer + rec->imm, base[a] = static_cast<std::uint8_t>(r[rec->s]))
FAST_STORE(store_w_f, frame_pointer + rec->imm, write16(base + a, static_cast<std::uint16_t>(r[rec->s])))
FAST_STORE(store_w_m, r[rec->d], write16(base + a, static_cast<std::uint16_t>(r[rec->s])))
#undef FAST_STORE
#define FAST_ZERO(name, address, value)                             \
  f_##name: {                                                       \
    const Address a = (address);                                    \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_##name>); \
    MATERIALIZE();                                                  \
    zf = (value) == 0;                                              \
    FNEXT();                                                        \
  }
FAST_ZERO(zero_b_s, rec->imm, base[a])
FAST_ZERO(zero_w_s, rec->imm, read16(base + a))
FAST_ZERO(zero_l_s, rec->imm, read32(base + a))
FAST_ZERO(zero_b_f, frame_pointer + rec->imm, base[a])
FAST_ZERO(zero_w_f, frame_pointer + rec->imm, read16(base + a))
FAST_ZERO(zero_l_f, frame_pointer + rec->imm, read32(base + a))
#undef FAST_ZERO
f_preop: {
  const Address a = r[rec->s];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_preop>);
  const std::uint32_t v = read32(base + a) + rec->imm;
  write32(base + a, v);
  r[rec->d] = v;
  FSTORE_CHECK(a, rec->pc + kBytesOf<op_preop>);
  FNEXT();
}
#define FAST_STEP(name, type, read, write, delta, pre)              \
  f_##name: {                                                       \
    const Address a = r[rec->s];                                    \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_##name>); \
    const type old = read;                                          \
    const type now = static_cast<type>(old + (delta));              \
    write;                                                          \
    r[rec->d] = (pre) ? now : old;                                  \
    FSTORE_CHECK(a, rec->pc + kBytesOf<op_##name>);                 \
    FNEXT();                                                        \
  }
FAST_STEP(preinc_b, std::uint8_t, base[a], base[a] = now, 1, true)
FAST_STEP(postinc_b, std::uint8_t, base[a], base[a] = now, 1, false)
FAST_STEP(predec_b, std::uint8_t, base[a], base[a] = now, -1, true)
FAST_STEP(postdec_b, std::uint8_t, base[a], base[a] = now, -1, false)
FAST_STEP(preinc_w, std::uint16_t, read16(base + a), write16(base + a, now), 1, true)
FAST_STEP(postinc_w, std::uint16_t, read16(base + a), write16(base + a, now), 1, false)
FAST_STEP(predec_w, std::uint16_t, read16(base + a), write16(base + a, now), -1, true)
FAST_STEP(postdec_w, std::uint16_t, read16(base + a), write16(base + a, now), -1, false)
#undef FAST_STEP
// The rest of the arithmetic, as the byte handlers do it.
f_set:
  r[rec->d] = r[rec->s] == 0;
  FNEXT();
f_div: {
  const std::int32_t divisor = static_cast<std::int32_t>(r[rec->s]);
  if (divisor == 0) FFAIL(kDivideByZero, rec->pc + kBytesOf<op_div>);
  const std::uint32_t dividend = r[rec->d];
  r[rec->d] = divisor == -1 ? 0u - dividend
                            : static_cast<std::uint32_t>(static_cast<std::int32_t>(dividend) / divisor);
  FNEXT();
}
f_mod: {
  const std::int32_t divisor = static_cast<std::int32_t>(r[rec->s]);
  if (divisor == 0) FFAIL(kDivideByZero, rec->pc + kBytesOf<op_mod>);
  const std::int32_t dividend = static_cast<std::int32_t>(r[rec->d]);
  r[rec->d] = divisor == -1 ? 0u : static_cast<std::uint32_t>(dividend % divisor);
  FNEXT();
}
f_shl:
  r[rec->d] <<= (r[rec->s] & 31);
  FNEXT();
f_shr:
  r[rec->d] >>= (r[rec->s] & 31);
  FNEXT();
f_sar:
  r[rec->d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r[rec->d]) >> (r[rec->s] & 31));
  FNEXT();
f_neg:
  r[rec->d] = 0u - r[rec->s];
  FNEXT();
f_not:
  r[rec->d] = ~r[rec->s];
  FNEXT();
f_ftoi:
  r[rec->d] = float_to_int(as_float(r[rec->s]));
  FNEXT();
f_fmod: {
  const double q = std::fmod(static_cast<double>(as_float(r[rec->d])), static_cast<double>(as_float(r[rec->s])));
  r[rec->d] = as_bits(static_cast<float>(q));
  FNEXT();
}
f_fneg:
  r[rec->d] = r[rec->s] ^ 0x80000000u;
  FNEXT();
f_nop:
  FNEXT();
f_push_r: {
  const Address sp = stack_pointer - 4;
  if (!push_ok(sp)) FFAIL(kStackOverflow, rec->pc + kBytesOf<op_push_r>);
  write32(base + sp, r[rec->s]);
  stack_pointer = sp;
  FSTORE_CHECK(sp, rec->pc + kBytesOf<op_push_r>);
  FNEXT();
}
f_push_i: {
  const Address sp = stack_pointer - 4;
  if (!push_ok(sp)) FFAIL(kStackOverflow, rec->pc + kBytesOf<op_push_i>);
  write32(base + sp, rec->imm);
  stack_pointer = sp;
  FSTORE_CHECK(sp, rec->pc + kBytesOf<op_push_i>);
  FNEXT();
}
f_pop_r: {
  const Address sp = stack_pointer;
  if (!pop_ok(sp)) FFAIL(kStackOverflow, rec->pc + kBytesOf<op_pop_r>);
  stack_pointer = sp + 4;
  r[rec->d] = read32(base + sp);
  FNEXT();
}
f_enter: {
  const std::uint32_t imm = rec->imm;
  const std::uint64_t frame = std::uint64_t(imm) + 24;
  const std::uint32_t offset = stack_pointer - stack_base;
  if (offset > stack_size || frame > offset) FFAIL(kStackOverflow, rec->pc + kBytesOf<op_enter>);
  const Address sp = stack_pointer - static_cast<std::uint32_t>(frame);
  std::uint8_t* saved = base + sp + imm;
  save_registers(saved, r);
  frame_pointer = r[kFramePointer] = sp + imm + 20;
  stack_pointer = sp;
  if (granule_has_code(sp + imm + 16) || granule_has_code(sp + imm + 23)) code_written();
  FSTORE_CHECK(sp + imm, rec->pc + kBytesOf<op_enter>);
  FNEXT();
}
// leave N: r1 to r6 come back from the frame and r7 moves past it; leaving the outermost frame
// ends the program.
#define LEAVE_FRAME()                                                     \
  do {                                                                    \
    const std::uint32_t imm = rec->imm;                                   \
    const std::uint32_t offset = stack_pointer - stack_base;              \
    if (std::uint64_t(offset) + imm + 24 >= stack_size) {                 \
      ip = base + rec->pc + kBytesOf<op_leave>;                           \
      SP_OUT();                                                           \
      SAVE();                                                             \
      context.state = kEnded;                                             \
      return slices;                                                      \
    }                                                                     \
    frame_pointer = restore_registers(base + (stack_pointer + imm), r);   \
    stack_pointer += imm + 24;                                            \
  } while (0)
f_leave:
  LEAVE_FRAME();
  FNEXT();
f_leave_ret: {
  LEAVE_FRAME();
  const Address sp = stack_pointer;
  FAST_RETURN(sp, rec->pc + (kBytesOf<op_leave, op_ret>));
}
#undef LEAVE_FRAME
f_movi_loadf_sub: {
  r[rec->d] = rec->imm;
  const Address a = frame_pointer + rec->imm2;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>));
  const std::uint32_t x = read32(base + a), y = rec->imm;
  set_flags(x, y);
  r[rec->d2] = x - y;
  FNEXT();
}
// A variable and a constant through an operation that leaves the flags alone.
#define MOVI_LOADF_OP(name, result)                                \
  f_movi_loadf_##name: {                                           \
    r[rec->d] = rec->imm;                                          \
    const Address a = frame_pointer + rec->imm2;                   \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>)); \
    const std::uint32_t x = read32(base + a), y = rec->imm;        \
    r[rec->d2] = (result);                                         \
    FNEXT();                                                       \
  }
MOVI_LOADF_OP(add, x + y)
MOVI_LOADF_OP(mul, x * y)
MOVI_LOADF_OP(and, x & y)
MOVI_LOADF_OP(or, x | y)
MOVI_LOADF_OP(xor, x ^ y)
MOVI_LOADF_OP(shl, x << (y & 31))
MOVI_LOADF_OP(shr, x >> (y & 31))
MOVI_LOADF_OP(sar, static_cast<std::uint32_t>(static_cast<std::int32_t>(x) >> (y & 31)))
#undef MOVI_LOADF_OP
f_postop: {
  const Address a = r[rec->s];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_postop>);
  const std::uint32_t v = read32(base + a);
  write32(base + a, v + rec->imm);
  r[rec->d] = v;
  FSTORE_CHECK(a, rec->pc + kBytesOf<op_postop>);
  FNEXT();
}
f_xchg: {
  const std::uint32_t t = r[rec->d];
  r[rec->d] = r[rec->s];
  r[rec->s] = t;
  FNEXT();
}

// Groups. Each part runs exactly as alone, in order; a fault in a part reports the pc after it.
f_inc_f: {
  r[rec->d] = frame_pointer + rec->imm;
  const Address a = r[rec->s2];
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_lea_f, op_postop>));
  const std::uint32_t v = read32(base + a);
  write32(base + a, v + rec->imm2);
  r[rec->d2] = v;
  FSTORE_CHECK(a, rec->pc + (kBytesOf<op_lea_f, op_postop>));
  FNEXT();
}
f_movi_loadf: {
  r[rec->d] = rec->imm;
  const Address a = frame_pointer + rec->imm2;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>));
  r[rec->d2] = read32(base + a);
  FNEXT();
}
f_movi_add:
  r[rec->d] = rec->imm;
  r[rec->d2] += r[rec->s2];
  FNEXT();
f_movi_storef: {
  r[rec->d] = rec->imm;
  const Address a = frame_pointer + rec->imm2;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_store_l_f>));
  write32(base + a, r[rec->s2]);
  FSTORE_CHECK(a, rec->pc + (kBytesOf<op_mov_ri, op_store_l_f>));
  FNEXT();
}
f_loadf_loadf: {
  const Address a = frame_pointer + rec->imm;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>);
  r[rec->d] = read32(base + a);
  const Address a2 = frame_pointer + rec->imm2;
  if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_load_l_f, op_load_l_f>));
  r[rec->d2] = read32(base + a2);
  FNEXT();
}
f_add_storef: {
  r[rec->d] += r[rec->s];
  const Address a = frame_pointer + rec->imm2;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_add_rr, op_store_l_f>));
  write32(base + a, r[rec->s2]);
  FSTORE_CHECK(a, rec->pc + (kBytesOf<op_add_rr, op_store_l_f>));
  FNEXT();
}

// rD = rD OP rS, stored to d(r6) without reading it back from the register file.
#define FAST_OP_STORE(name, op, apply)                            \
  f_opst_##name: {                                                \
    const std::uint32_t y = r[rec->d], x = r[rec->s];             \
    const std::uint32_t v = apply;                                \
    r[rec->d] = v;                                                \
    const Address a = frame_pointer + rec->imm2;                  \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op, op_store_l_f>)); \
    write32(base + a, v);                                         \
    FSTORE_CHECK(a, rec->pc + (kBytesOf<op, op_store_l_f>));      \
    FNEXT();                                                      \
  }
// The operations of the groups here and below, with their opcodes: y is the destination's
// value, x the source's.
#define BINARY_OPERATIONS(X)                                                                \
  X(fadd, op_fadd, as_bits(as_float(y) + as_float(x)))                                      \
  X(fsub, op_fsub,                                                                          \
    (zf = as_float(y) == as_float(x), lf = as_float(y) < as_float(x), bf = 0, lazy = false, \
     as_bits(as_float(y) - as_float(x))))                                                   \
  X(fmul, op_fmul, as_bits(as_float(y) * as_float(x)))                                      \
  X(fdiv, op_fdiv, as_bits(as_float(y) / as_float(x)))                                      \
  X(add, op_add_rr, y + x)                                                                  \
  X(sub, op_sub_rr, (set_flags(y, x), y - x))                                               \
  X(mul, op_mul, y * x)
BINARY_OPERATIONS(FAST_OP_STORE)
#undef FAST_OP_STORE
// rB = e(r6) OP d(r6), stored to f(r6): the value goes from memory to memory without a detour
// through the register file.
#define FAST_UPDATE(name, op, apply)                              \
  f_update_##name: {                                              \
    const Address a = frame_pointer + rec->imm;                   \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>); \
    const std::uint32_t x = read32(base + a);                     \
    r[rec->d] = x;                                                \
    const Address a2 = frame_pointer + rec->imm2;                 \
    if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_load_l_f, op_load_l_f>)); \
    const std::uint32_t y = read32(base + a2);                    \
    const std::uint32_t v = apply;                                \
    r[rec->d2] = v;                                               \
    const Address a3 = frame_pointer + rec->imm3;                 \
    if (a3 < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_load_l_f, op_load_l_f, op, op_store_l_f>)); \
    write32(base + a3, v);                                        \
    FSTORE_CHECK(a3, rec->pc + (kBytesOf<op_load_l_f, op_load_l_f, op, op_store_l_f>)); \
    FNEXT();                                                      \
  }
FAST_UPDATE(add, op_add_rr, y + x)
FAST_UPDATE(sub, op_sub_rr, (set_flags(y, x), y - x))
FAST_UPDATE(mul, op_mul, y * x)
FAST_UPDATE(and, op_and, y & x)
FAST_UPDATE(or, op_or, y | x)
FAST_UPDATE(xor, op_xor, y ^ x)
#undef FAST_UPDATE
// rB = e(r6) OP d(r6), left in rB.
#define FAST_LOAD2(name, op, apply)                               \
  f_load2_##name: {                                               \
    const Address a = frame_pointer + rec->imm;                   \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>); \
    const std::uint32_t x = read32(base + a);                     \
    r[rec->d] = x;                                                \
    const Address a2 = frame_pointer + rec->imm2;                 \
    if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_load_l_f, op_load_l_f>)); \
    const std::uint32_t y = read32(base + a2);                    \
    r[rec->d2] = apply;                                           \
    FNEXT();                                                      \
  }
BINARY_OPERATIONS(FAST_LOAD2)
#undef FAST_LOAD2
#undef BINARY_OPERATIONS
f_index4: {
  const Address a = frame_pointer + rec->imm2;
  r[rec->d] = rec->imm;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>));
  const std::uint32_t x = read32(base + a);
  r[rec->d2] = x;
  r[rec->d3] = rec->imm3 + x;
  FNEXT();
}
f_index5: {
  const Address a = frame_pointer + rec->imm2;
  r[rec->d] = rec->imm;
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>));
  const std::uint32_t x = read32(base + a) * rec->imm;
  r[rec->d2] = x;
  r[rec->d3] = rec->imm3 + x;
  FNEXT();
}


// Conditional jumps, alone and at the end of a compare.
// `condition` reads the flags; `direct` is the same test on the compared pair x, y.
// A taken jump leaves the block: the instructions after it are given back to the budget.
#define BRANCH()           \
  do {                     \
    budget += rec->rest;   \
    TAKEN();               \
  } while (0)
#define FAST_JCC(name, condition, direct)                           \
  f_jcc_##name: {                                                   \
    if (lazy) {                                                     \
      const std::uint32_t x = fa, y = fb;                           \
      if (direct) BRANCH();                                         \
      FNEXT();                                                      \
    }                                                               \
    if (condition) BRANCH();                                        \
    FNEXT();                                                        \
  }                                                                 \
  f_cmpi_jcc_##name: {                                              \
    const std::uint32_t x = r[rec->d], y = rec->imm;                \
    set_flags(x, y);                                                \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }                                                                 \
  f_loop_jcc_##name: {                                              \
    r[rec->d] = rec->imm;                                           \
    const Address a = frame_pointer + rec->imm2;                    \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>)); \
    r[rec->d2] = read32(base + a);                                  \
    const std::uint32_t x = r[rec->d3], y = r[rec->s3];             \
    set_flags(x, y);                                                \
    r[rec->d3] = x - y;                                             \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }                                                                 \
  f_loopc_jcc_##name: {                                             \
    r[rec->d] = rec->imm;                                           \
    const Address a = frame_pointer + rec->imm2;                    \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_mov_ri, op_load_l_f>)); \
    const std::uint32_t x = read32(base + a), y = rec->imm;         \
    set_flags(x, y);                                                \
    r[rec->d2] = x - y;                                             \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }                                                                 \
  f_sub_jcc_##name: {                                               \
    const std::uint32_t x = r[rec->d], y = r[rec->s];               \
    set_flags(x, y);                                                \
    r[rec->d] = x - y;                                              \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }                                                                 \
  f_loadf_sub_jcc_##name: {                                         \
    const Address a = frame_pointer + rec->imm;                     \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>); \
    const std::uint32_t x = read32(base + a), y = r[rec->s];        \
    set_flags(x, y);                                                \
    r[rec->d] = x - y;                                              \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }                                                                 \
  f_load2_jcc_##name: {                                             \
    const Address a = frame_pointer + rec->imm;                     \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>); \
    const std::uint32_t y = read32(base + a);                       \
    r[rec->d] = y;                                                  \
    const Address a2 = frame_pointer + rec->imm2;                   \
    if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_load_l_f, op_load_l_f>)); \
    const std::uint32_t x = read32(base + a2);                      \
    set_flags(x, y);                                                \
    r[rec->d2] = x - y;                                             \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }
#define SIGNED(v) static_cast<std::int32_t>(v)
// The step of a loop variable and the test that follows it (see k_inc_loopc_jcc): x is the
// stepped value. A step that hits decoded code ends the record after it.
#define LOOP_STEP()                                                 \
  const Address a = frame_pointer + rec->imm;                       \
  r[rec->d] = a;                                                    \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + (kBytesOf<op_lea_f, op_postop>)); \
  const std::uint32_t old = read32(base + a), x = old + rec->imm2;  \
  write32(base + a, x);                                             \
  r[rec->d2] = old;                                                 \
  if (granule_has_code(a)) {                                        \
    code_written();                                                 \
    budget += rec->rest + rec->n - rec->lead - 2;                   \
    target = rec->pc + kBytesOf<op_lea_f, op_postop>;               \
    goto fast_target;                                               \
  }
#define FAST_LOOP_JCC(name, direct)                                 \
  f_inc_loopc_jcc_##name: {                                         \
    LOOP_STEP();                                                    \
    const std::uint32_t y = rec->imm4;                              \
    r[rec->s] = y;                                                  \
    set_flags(x, y);                                                \
    r[rec->d3] = x - y;                                             \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }                                                                 \
  f_inc_load2_jcc_##name: {                                         \
    LOOP_STEP();                                                    \
    const Address a2 = frame_pointer + rec->imm4;                   \
    if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, rec->imm5 + kBytesOf<op_load_l_f>); \
    const std::uint32_t y = read32(base + a2);                      \
    r[rec->s] = y;                                                  \
    set_flags(x, y);                                                \
    r[rec->d3] = x - y;                                             \
    if (direct) BRANCH();                                           \
    FNEXT();                                                        \
  }
FAST_LOOP_JCC(e, x == y)
FAST_LOOP_JCC(ne, x != y)
FAST_LOOP_JCC(g, SIGNED(x) > SIGNED(y))
FAST_LOOP_JCC(ge, SIGNED(x) >= SIGNED(y))
FAST_LOOP_JCC(l, SIGNED(x) < SIGNED(y))
FAST_LOOP_JCC(le, SIGNED(x) <= SIGNED(y))
FAST_LOOP_JCC(a, x > y)
FAST_LOOP_JCC(ae, x >= y)
FAST_LOOP_JCC(b, x < y)
FAST_LOOP_JCC(be, x <= y)
#undef FAST_LOOP_JCC
#undef LOOP_STEP
FAST_JCC(e, zf, x == y)
FAST_JCC(ne, !zf, x != y)
FAST_JCC(g, !lf && !zf, SIGNED(x) > SIGNED(y))
FAST_JCC(ge, !lf || zf, SIGNED(x) >= SIGNED(y))
FAST_JCC(l, lf && !zf, SIGNED(x) < SIGNED(y))
FAST_JCC(le, lf || zf, SIGNED(x) <= SIGNED(y))
FAST_JCC(a, !bf && !zf, x > y)
FAST_JCC(ae, !bf || zf, x >= y)
FAST_JCC(b, bf && !zf, x < y)
FAST_JCC(be, bf || zf, x <= y)
#undef SIGNED
#undef FAST_JCC

// zerob / zerow / zerol d(r6) and je or jne: Z alone changes, so the flags of the comparison
// before are worked out first.
#define FAST_ZERO_JCC(width, value)                                 \
  f_zero_##width##_f_je: {                                          \
    const Address a = frame_pointer + rec->imm;                     \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_zero_##width##_f>); \
    MATERIALIZE();                                                  \
    zf = (value) == 0;                                              \
    if (zf) BRANCH();                                               \
    FNEXT();                                                        \
  }                                                                 \
  f_zero_##width##_f_jne: {                                         \
    const Address a = frame_pointer + rec->imm;                     \
    if (a < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_zero_##width##_f>); \
    MATERIALIZE();                                                  \
    zf = (value) == 0;                                              \
    if (!zf) BRANCH();                                              \
    FNEXT();                                                        \
  }
FAST_ZERO_JCC(b, base[a])
FAST_ZERO_JCC(w, read16(base + a))
FAST_ZERO_JCC(l, read32(base + a))
#undef FAST_ZERO_JCC

// Accesses through an address that variables give. A form starting at `start` leaves the
// address in `e` and the pc after the access in `end`; `before` is the count of instructions of
// the record in front of the form, and `access` the opcode of the load or store through rA.
// Each part runs as it would alone, so a fault stops after the parts before it.
#define FORM_ptr(start, before, access)                              \
  const Address a = frame_pointer + rec->imm;                        \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + kBytesOf<op_load_l_f>); \
  const Address e = read32(base + a);                                \
  r[rec->d] = e;                                                     \
  const Address end = (start) + kBytesOf<op_load_l_f, access>
#define FORM_field(start, before, access)                            \
  r[rec->d] = rec->imm;                                              \
  const Address a = frame_pointer + rec->imm2;                       \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + (kBytesOf<op_mov_ri, op_load_l_f>)); \
  const Address e = read32(base + a) + rec->imm;                     \
  r[rec->d2] = e;                                                    \
  const Address end = (start) + kBytesOf<op_mov_ri, op_load_l_f, op_add_rr, access>
// The step is a store: one that hits decoded code ends the group after it, since the access
// and what follows may have been written over.
#define FORM_walk(start, before, access)                             \
  const Address a = frame_pointer + rec->imm;                        \
  r[rec->d] = a;                                                     \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + (kBytesOf<op_lea_f, op_postop>)); \
  const Address e = read32(base + a);                                \
  write32(base + a, e + rec->imm2);                                  \
  r[rec->d2] = e;                                                    \
  if (granule_has_code(a)) {                                         \
    code_written();                                                  \
    budget += rec->rest + rec->n - rec->lead - (before) - 2;         \
    target = (start) + kBytesOf<op_lea_f, op_postop>;                \
    goto fast_target;                                                \
  }                                                                  \
  const Address end = (start) + kBytesOf<op_lea_f, op_postop, access>
#define FORM_elem1(start, before, access)                            \
  const Address a = frame_pointer + rec->imm;                        \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + kBytesOf<op_load_l_f>); \
  const std::uint32_t x = read32(base + a);                          \
  r[rec->d] = x;                                                     \
  const Address e = rec->imm2 + x;                                   \
  r[rec->d2] = e;                                                    \
  const Address end = (start) + kBytesOf<op_load_l_f, op_mov_rs_addr, op_add_rr, access>
#define FORM_elem(start, before, access)                             \
  r[rec->d] = rec->imm;                                              \
  const Address a = frame_pointer + rec->imm2;                       \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + (kBytesOf<op_mov_ri, op_load_l_f>)); \
  const std::uint32_t x = read32(base + a) * rec->imm;               \
  r[rec->d2] = x;                                                    \
  const Address e = rec->imm5 + x;                                   \
  r[rec->s2] = e;                                                    \
  const Address end = (start) + kBytesOf<op_mov_ri, op_load_l_f, op_mul, op_mov_rs_addr, op_add_rr, access>
#define FORM_at1(start, before, access)                              \
  const Address a = frame_pointer + rec->imm;                        \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + kBytesOf<op_load_l_f>); \
  const std::uint32_t p = read32(base + a);                          \
  r[rec->d] = p;                                                     \
  const Address a2 = frame_pointer + rec->imm2;                      \
  if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, (start) + (kBytesOf<op_load_l_f, op_load_l_f>)); \
  const Address e = read32(base + a2) + p;                           \
  r[rec->d2] = e;                                                    \
  const Address end = (start) + kBytesOf<op_load_l_f, op_load_l_f, op_add_rr, access>
#define FORM_at(start, before, access)                               \
  const Address a = frame_pointer + rec->imm;                        \
  if (a < kNullGuardSize) FFAIL(kOutOfMemory, (start) + kBytesOf<op_load_l_f>); \
  const std::uint32_t p = read32(base + a);                          \
  r[rec->d] = p;                                                     \
  r[rec->d2] = rec->imm2;                                            \
  const Address a2 = frame_pointer + rec->imm5;                      \
  if (a2 < kNullGuardSize) FFAIL(kOutOfMemory, (start) + (kBytesOf<op_load_l_f, op_mov_ri, op_load_l_f>)); \
  const Address e = read32(base + a2) * rec->imm2 + p;               \
  r[rec->s2] = e;                                                    \
  const Address end = (start) + kBytesOf<op_load_l_f, op_mov_ri, op_load_l_f, op_mul, op_add_rr, access>
#define FORM_idx1(start, before, access)                             \
  const Address e = rec->imm + r[rec->d2];                           \
  r[rec->d] = e;                                                     \
  const Address end = (start) + kBytesOf<op_mov_rs_addr, op_add_rr, access>
#define FORM_idx(start, before, access)                              \
  const std::uint32_t x = r[rec->d2] * r[rec->s2];                   \
  r[rec->d2] = x;                                                    \
  const Address e = rec->imm + x;                                    \
  r[rec->d] = e;                                                     \
  const Address end = (start) + kBytesOf<op_mul, op_mov_rs_addr, op_add_rr, access>
#define ACCESS_CHECK() \
  if (e < kNullGuardSize) FFAIL(kOutOfMemory, end)
#define LOAD_b base[e]
#define LOAD_sb sign_extend8(base[e])
#define LOAD_w read16(base + e)
#define LOAD_sw sign_extend16(read16(base + e))
#define LOAD_l read32(base + e)
#define STORE_b(v) base[e] = static_cast<std::uint8_t>(v)
#define STORE_w(v) write16(base + e, static_cast<std::uint16_t>(v))
#define STORE_l(v) write32(base + e, (v))
// A load alone, or tested against a constant by cmp and je / jne.
#define ACCESS_LOAD(form, width)                                     \
  f_##form##_load_##width: {                                         \
    FORM_##form(rec->pc, 0, op_load_##width##_m);                    \
    ACCESS_CHECK();                                                  \
    r[rec->d3] = LOAD_##width;                                       \
    FNEXT();                                                         \
  }                                                                  \
  f_##form##_load_##width##_je: {                                    \
    FORM_##form(rec->pc, 0, op_load_##width##_m);                    \
    ACCESS_CHECK();                                                  \
    const std::uint32_t v = LOAD_##width;                            \
    r[rec->d3] = v;                                                  \
    set_flags(v, rec->imm4);                                         \
    if (v == rec->imm4) BRANCH();                                    \
    FNEXT();                                                         \
  }                                                                  \
  f_##form##_load_##width##_jne: {                                   \
    FORM_##form(rec->pc, 0, op_load_##width##_m);                    \
    ACCESS_CHECK();                                                  \
    const std::uint32_t v = LOAD_##width;                            \
    r[rec->d3] = v;                                                  \
    set_flags(v, rec->imm4);                                         \
    if (v != rec->imm4) BRANCH();                                    \
    FNEXT();                                                         \
  }
// A store of a register, of the constant just moved into it, or of the variable just loaded
// into it.
#define ACCESS_STORE(form, width)                                    \
  f_##form##_store_##width: {                                        \
    FORM_##form(rec->pc, 0, op_store_##width##_m);                   \
    ACCESS_CHECK();                                                  \
    STORE_##width(r[rec->d3]);                                       \
    FSTORE_CHECK(e, end);                                            \
    FNEXT();                                                         \
  }                                                                  \
  f_##form##_store_##width##_const: {                                \
    const std::uint32_t v = rec->imm4;                               \
    r[rec->d3] = v;                                                  \
    FORM_##form(rec->pc + kBytesOf<op_mov_ri>, 1, op_store_##width##_m); \
    ACCESS_CHECK();                                                  \
    STORE_##width(v);                                                \
    FSTORE_CHECK(e, end);                                            \
    FNEXT();                                                         \
  }                                                                  \
  f_##form##_store_##width##_var: {                                  \
    const Address from = frame_pointer + rec->imm4;                  \
    if (from < kNullGuardSize) FFAIL(kOutOfMemory, rec->pc + kBytesOf<op_load_l_f>); \
    const std::uint32_t v = read32(base + from);                     \
    r[rec->d3] = v;                                                  \
    FORM_##form(rec->pc + kBytesOf<op_load_l_f>, 1, op_store_##width##_m); \
    ACCESS_CHECK();                                                  \
    STORE_##width(v);                                                \
    FSTORE_CHECK(e, end);                                            \
    FNEXT();                                                         \
  }
#define ACCESS_HANDLERS(form)                                        \
  ACCESS_LOAD(form, b)                                               \
  ACCESS_LOAD(form, sb)                                              \
  ACCESS_LOAD(form, w)                                               \
  ACCESS_LOAD(form, sw)                                              \
  ACCESS_LOAD(form, l)                                               \
  /* p = p->next: the loaded word goes on to a variable */           \
  f_##form##_load_store: {                                           \
    FORM_##form(rec->pc, 0, op_load_l_m);                            \
    ACCESS_CHECK();                                                  \
    const std::uint32_t v = read32(base + e);                        \
    r[rec->d3] = v;                                                  \
    const Address f = frame_pointer + rec->imm4;                     \
    if (f < kNullGuardSize) FFAIL(kOutOfMemory, end + kBytesOf<op_store_l_f>); \
    write32(base + f, v);                                            \
    FSTORE_CHECK(f, end + kBytesOf<op_store_l_f>);                   \
    FNEXT();                                                         \
  }                                                                  \
  ACCESS_STORE(form, b)                                              \
  ACCESS_STORE(form, w)                                              \
  ACCESS_STORE(form, l)
ACCESS_HANDLERS(ptr)
ACCESS_HANDLERS(field)
ACCESS_HANDLERS(walk)
ACCESS_HANDLERS(elem1)
ACCESS_HANDLERS(elem)
ACCESS_HANDLERS(at1)
ACCESS_HANDLERS(at)
ACCESS_HANDLERS(idx1)
ACCESS_HANDLERS(idx)
#undef ACCESS_HANDLERS
#undef ACCESS_LOAD
#undef ACCESS_STORE
#undef LOAD_b
#undef LOAD_sb
#undef LOAD_w
#undef LOAD_sw
#undef LOAD_l
#undef STORE_b
#undef STORE_w
#undef STORE_l
#undef ACCESS_CHECK
#undef FORM_ptr
#undef FORM_field
#undef FORM_walk
#undef FORM_elem1
#undef FORM_elem
#undef FORM_at1
#undef FORM_at
#undef FORM_idx1
#undef FORM_idx
#undef BRANCH
#undef SP_OUT
#undef ENTER_FAST
#undef FALL
#undef TAKEN
#undef FNEXT
#undef FFAIL
#undef FSTORE_CHECK
#undef FAST_RETURN

invalid:
  ip += 1;
  FAIL(kInvalidCode);

done:
  if (more_slices()) {
    // The next slice starts here, as it would after a return to the loop and a new call.
    ++slices;
    budget = kSliceInstructions;
    handlers = kHandlers;
    cache->uncut();
    stack_pointer = r[kStackPointer];
    frame_pointer = r[kFramePointer];
    target = static_cast<Address>(ip - base);
    if (target - kNullGuardSize >= kSequentialLimit - kNullGuardSize) goto far_pc;
    goto fast_target;
  }
  SAVE();
  return slices;

stop:
  SAVE();
  runtime_error(context, error);
  return slices;

#undef SAVE
#undef slice_over
#undef more_slices
#undef MATERIALIZE
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
