// The instruction set of the script machine: opcode numbers and their encodings.
//
// Byte 0 of every instruction is the opcode. Register byte RR: low nibble D (destination), high
// nibble S (source). Names below read: what it does, then the operand kinds
// (r register, i immediate, s symbol address, f d(r6) frame offset, m (register) memory).
#pragma once
#include <cstdint>

namespace talven::vm {

enum Op : std::uint8_t {
  op_nop = 0,
  op_trap = 1,           // trap N            op imm16
  op_xchg = 2,           // xchg rD, rS       op RR
  op_mov_rr = 3,         // movl rD, rS
  op_mov_ri = 4,         // movl rD, $imm     op RR imm32
  op_mov_rs_addr = 5,    // movl rD, $sym
  op_load_b_s = 6,       // movbl rD, sym
  op_load_sb_s = 7,      // movsbl rD, sym
  op_load_w_s = 8,       // movwl rD, sym
  op_load_sw_s = 9,      // movswl rD, sym
  op_load_l_s = 10,      // movl rD, sym
  op_lea_f = 11,         // lea rD, d(r6)
  op_load_b_f = 12,      // movbl rD, d(r6)
  op_load_sb_f = 13,     // movsbl rD, d(r6)
  op_load_w_f = 14,      // movwl rD, d(r6)
  op_load_sw_f = 15,     // movswl rD, d(r6)
  op_load_l_f = 16,      // movl rD, d(r6)
  op_load_b_m = 17,      // movbl rD, (rS)    op RR
  op_load_sb_m = 18,     // movsbl rD, (rS)
  op_load_w_m = 19,      // movwl rD, (rS)
  op_load_sw_m = 20,     // movswl rD, (rS)
  op_load_l_m = 21,      // movl rD, (rS)
  op_store_b_s = 22,     // movb sym, rS      op RR imm32
  op_store_w_s = 23,     // movw sym, rS
  op_store_l_s = 24,     // movl sym, rS
  op_store_b_f = 25,     // movb d(r6), rS
  op_store_w_f = 26,     // movw d(r6), rS
  op_store_l_f = 27,     // movl d(r6), rS
  op_store_b_m = 28,     // movb (rD), rS     op RR
  op_store_w_m = 29,     // movw (rD), rS
  op_store_l_m = 30,     // movl (rD), rS
  op_push_r = 31,        // push rS           op RR
  op_push_i = 32,        // push $imm         op imm32
  op_pop_r = 33,         // pop rD            op RR
  op_enter = 34,         // enter N           op imm32
  op_leave = 35,         // leave N           op imm32
  op_call_s = 36,        // call sym          op imm32
  op_call_r = 37,        // call rS           op RR
  op_ret = 38,           // ret               op
  op_preop = 39,         // preop rD, imm     op RR imm32
  op_postop = 40,        // postop rD, imm    op RR imm32
  op_preinc_b = 41,      // op RR
  op_postinc_b = 42,
  op_predec_b = 43,
  op_postdec_b = 44,
  op_preinc_w = 45,
  op_postinc_w = 46,
  op_predec_w = 47,
  op_postdec_w = 48,
  op_zero_b_s = 49,      // zerob sym         op imm32
  op_zero_w_s = 50,
  op_zero_l_s = 51,
  op_zero_b_f = 52,      // zerob d(r6)       op imm32
  op_zero_w_f = 53,
  op_zero_l_f = 54,
  op_cmp_rr = 55,        // cmp rD, rS        op RR
  op_cmp_ri = 56,        // cmp rD, $imm      op RR imm32
  op_set = 57,           // set rD            op RR
  op_add_rr = 58,
  op_add_ri = 59,        // op RR imm32
  op_sub_rr = 60,
  op_sub_ri = 61,        // op RR imm32
  op_mul = 62,
  op_div = 63,
  op_mod = 64,
  op_shl = 65,
  op_shr = 66,
  op_sar = 67,
  op_neg = 68,
  op_not = 69,
  op_and = 70,
  op_or = 71,
  op_xor = 72,
  op_jmp = 73,           // op imm32
  op_je = 74,
  op_jne = 75,
  op_jg = 76,
  op_jge = 77,
  op_jl = 78,
  op_jle = 79,
  op_ja = 80,
  op_jae = 81,
  op_jb = 82,
  op_jbe = 83,
  op_ftoi = 84,          // op RR
  op_itof = 85,
  op_fadd = 86,
  op_fsub = 87,
  op_fmul = 88,
  op_fdiv = 89,
  op_fmod = 90,
  op_fneg = 91,
};

inline constexpr int kOpcodeCount = 92;

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

}  // namespace talven::vm
