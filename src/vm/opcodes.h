// The instruction set of the script machine: opcode numbers and their encodings.
//
// Byte 0 of every instruction is the opcode. Register byte RR: low nibble D (destination), high
// nibble S (source). Names below read: what it does, then the operand kinds
// (r register, i immediate, s symbol address, f d(r6) frame offset, m (register) memory).
#pragma once
#include <cstdint>

namespace talven::vm {

// Every opcode once, in number order: X(name, operand format, mnemonic as listings write it,
// operand kinds as listings order them). The enum, the table of formats and mnemonics, and the
// interpreter's handler table are all generated from this list, so they cannot disagree.
#define TALVEN_OPCODES(X) \
  X(nop, none, "(none)", "")                    \
  X(trap, imm16, "trap", "N")                   \
  X(xchg, rr, "xchg", "rD, rS")                 \
  X(mov_rr, rr, "movl", "rD, rS")               \
  X(mov_ri, rr_imm32, "movl", "rD, $imm")       \
  X(mov_rs_addr, rr_imm32, "movl", "rD, $sym")  \
  X(load_b_s, rr_imm32, "movbl", "rD, sym")     \
  X(load_sb_s, rr_imm32, "movsbl", "rD, sym")   \
  X(load_w_s, rr_imm32, "movwl", "rD, sym")     \
  X(load_sw_s, rr_imm32, "movswl", "rD, sym")   \
  X(load_l_s, rr_imm32, "movl", "rD, sym")      \
  X(lea_f, rr_imm32, "lea", "rD, d(r6)")        \
  X(load_b_f, rr_imm32, "movbl", "rD, d(r6)")   \
  X(load_sb_f, rr_imm32, "movsbl", "rD, d(r6)") \
  X(load_w_f, rr_imm32, "movwl", "rD, d(r6)")   \
  X(load_sw_f, rr_imm32, "movswl", "rD, d(r6)") \
  X(load_l_f, rr_imm32, "movl", "rD, d(r6)")    \
  X(load_b_m, rr, "movbl", "rD, (rS)")          \
  X(load_sb_m, rr, "movsbl", "rD, (rS)")        \
  X(load_w_m, rr, "movwl", "rD, (rS)")          \
  X(load_sw_m, rr, "movswl", "rD, (rS)")        \
  X(load_l_m, rr, "movl", "rD, (rS)")           \
  X(store_b_s, rr_imm32, "movb", "sym, rS")     \
  X(store_w_s, rr_imm32, "movw", "sym, rS")     \
  X(store_l_s, rr_imm32, "movl", "sym, rS")     \
  X(store_b_f, rr_imm32, "movb", "d(r6), rS")   \
  X(store_w_f, rr_imm32, "movw", "d(r6), rS")   \
  X(store_l_f, rr_imm32, "movl", "d(r6), rS")   \
  X(store_b_m, rr, "movb", "(rD), rS")          \
  X(store_w_m, rr, "movw", "(rD), rS")          \
  X(store_l_m, rr, "movl", "(rD), rS")          \
  X(push_r, rr, "push", "rS")                   \
  X(push_i, imm32, "push", "$imm")              \
  X(pop_r, rr, "pop", "rD")                     \
  X(enter, imm32, "enter", "N")                 \
  X(leave, imm32, "leave", "N")                 \
  X(call_s, imm32, "call", "sym")               \
  X(call_r, rr, "call", "rS")                   \
  X(ret, none, "ret", "")                       \
  X(preop, rr_imm32, "preop", "rD, imm")        \
  X(postop, rr_imm32, "postop", "rD, imm")      \
  X(preinc_b, rr, "preinc", "(rD) byte")        \
  X(postinc_b, rr, "postinc", "(rD) byte")      \
  X(predec_b, rr, "predec", "(rD) byte")        \
  X(postdec_b, rr, "postdec", "(rD) byte")      \
  X(preinc_w, rr, "preinc", "(rD) word")        \
  X(postinc_w, rr, "postinc", "(rD) word")      \
  X(predec_w, rr, "predec", "(rD) word")        \
  X(postdec_w, rr, "postdec", "(rD) word")      \
  X(zero_b_s, imm32, "zerob", "sym")            \
  X(zero_w_s, imm32, "zerow", "sym")            \
  X(zero_l_s, imm32, "zerol", "sym")            \
  X(zero_b_f, imm32, "zerob", "d(r6)")          \
  X(zero_w_f, imm32, "zerow", "d(r6)")          \
  X(zero_l_f, imm32, "zerol", "d(r6)")          \
  X(cmp_rr, rr, "cmp", "rD, rS")                \
  X(cmp_ri, rr_imm32, "cmp", "rD, $imm")        \
  X(set, rr, "set", "rD")                       \
  X(add_rr, rr, "add", "rD, rS")                \
  X(add_ri, rr_imm32, "add", "rD, $imm")        \
  X(sub_rr, rr, "sub", "rD, rS")                \
  X(sub_ri, rr_imm32, "sub", "rD, $imm")        \
  X(mul, rr, "mul", "rD, rS")                   \
  X(div, rr, "div", "rD, rS")                   \
  X(mod, rr, "mod", "rD, rS")                   \
  X(shl, rr, "shl", "rD, rS")                   \
  X(shr, rr, "shr", "rD, rS")                   \
  X(sar, rr, "sar", "rD, rS")                   \
  X(neg, rr, "neg", "rD")                       \
  X(not, rr, "not", "rD")                       \
  X(and, rr, "and", "rD, rS")                   \
  X(or, rr, "or", "rD, rS")                     \
  X(xor, rr, "xor", "rD, rS")                   \
  X(jmp, imm32, "jmp", "target")                \
  X(je, imm32, "je", "target")                  \
  X(jne, imm32, "jne", "target")                \
  X(jg, imm32, "jg", "target")                  \
  X(jge, imm32, "jge", "target")                \
  X(jl, imm32, "jl", "target")                  \
  X(jle, imm32, "jle", "target")                \
  X(ja, imm32, "ja", "target")                  \
  X(jae, imm32, "jae", "target")                \
  X(jb, imm32, "jb", "target")                  \
  X(jbe, imm32, "jbe", "target")                \
  X(ftoi, rr, "ftoi", "rD")                     \
  X(itof, rr, "itof", "rD")                     \
  X(fadd, rr, "fadd", "rD, rS")                 \
  X(fsub, rr, "fsub", "rD, rS")                 \
  X(fmul, rr, "fmul", "rD, rS")                 \
  X(fdiv, rr, "fdiv", "rD, rS")                 \
  X(fmod, rr, "fmod", "rD, rS")                 \
  X(fneg, rr, "fneg", "rD")                    

enum Op : std::uint8_t {
#define TALVEN_OPCODE_ENUM(name, format, mnemonic, operands) op_##name,
  TALVEN_OPCODES(TALVEN_OPCODE_ENUM)
#undef TALVEN_OPCODE_ENUM
};

#define TALVEN_OPCODE_COUNT(name, format, mnemonic, operands) +1
inline constexpr int kOpcodeCount = 0 TALVEN_OPCODES(TALVEN_OPCODE_COUNT);
#undef TALVEN_OPCODE_COUNT
// Compiled programs carry these numbers: the list may only grow at its end.
static_assert(op_trap == 1 && op_mov_rs_addr == 5 && op_call_s == 36 && op_cmp_rr == 55 && op_jmp == 73 &&
              op_fneg == 91 && kOpcodeCount == 92);

// The argument-count marker that follows a call with arguments: `add r7, $4n` = 0x3B 0x77 imm32.
inline constexpr std::uint16_t kArgumentMarker = 0x773B;

// Encoding shapes.
enum class OperandFormat : std::uint8_t {
  none,      // op                 1 byte
  imm16,     // op imm16           3 bytes
  rr,        // op RR              2 bytes
  rr_imm32,  // op RR imm32        6 bytes
  imm32,     // op imm32           5 bytes
};

struct OpcodeInfo {
  const char* mnemonic;   // as listings write it; several opcodes share one
  OperandFormat format;
  const char* operands;   // operand kinds as listings order them, "" for none
};

// Indexed by opcode, kOpcodeCount entries.
extern const OpcodeInfo kOpcodes[kOpcodeCount];

inline constexpr int instruction_length(OperandFormat f) {
  switch (f) {
    case OperandFormat::none: return 1;
    case OperandFormat::imm16: return 3;
    case OperandFormat::rr: return 2;
    case OperandFormat::rr_imm32: return 6;
    case OperandFormat::imm32: return 5;
  }
  return 1;
}

// Bytes of each opcode's instructions, from the opcode list.
inline constexpr std::uint8_t kInstructionLengths[kOpcodeCount] = {
#define TALVEN_OPCODE_LENGTH(name, format, mnemonic, operands) std::uint8_t(instruction_length(OperandFormat::format)),
    TALVEN_OPCODES(TALVEN_OPCODE_LENGTH)
#undef TALVEN_OPCODE_LENGTH
};

// The bytes of a run of instructions, by their opcodes: where the parts of a fused record end.
template <Op... ops>
inline constexpr std::uint32_t kBytesOf = (0u + ... + kInstructionLengths[ops]);

}  // namespace talven::vm
