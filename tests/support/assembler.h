// A small assembler for hand-written program images in tests.
//
// Instructions are appended in order; operands that name a label are fixed up when the image is
// assembled for its load address. Helpers follow the compiler's encoding conventions (d(r6)
// loads write RR = 0x60 + D, stores S * 16 + 6; push S * 16 + S; pop 0x70 + D); the generic
// emitters take raw register nibbles so that tests can also build invalid encodings.
#pragma once
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "vm/interpreter.h"
#include "vm/opcodes.h"
#include "vm/program.h"
#include "vm/script_memory.h"

namespace talven::test {

// An imm32 operand: a number, or a label plus an addend.
struct Operand {
  std::string label;
  std::uint32_t value = 0;
  Operand(std::uint32_t v) : value(v) {}                       // NOLINT: implicit on purpose
  Operand(std::int32_t v) : value(static_cast<std::uint32_t>(v)) {}  // NOLINT
  Operand(const char* name, std::uint32_t addend = 0) : label(name), value(addend) {}  // NOLINT
  Operand(const std::string& name, std::uint32_t addend = 0) : label(name), value(addend) {}  // NOLINT
};

inline std::uint32_t float_bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}
inline float bits_float(std::uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

class Assembler {
 public:
  // ---- Generic forms ------------------------------------------------------------------------
  Assembler& op(std::uint8_t opcode) {
    expect(opcode, vm::OperandFormat::none);
    code_.push_back(opcode);
    return *this;
  }
  Assembler& op_imm16(std::uint8_t opcode, std::uint16_t n) {
    expect(opcode, vm::OperandFormat::imm16);
    code_.push_back(opcode);
    code_.push_back(static_cast<std::uint8_t>(n));
    code_.push_back(static_cast<std::uint8_t>(n >> 8));
    return *this;
  }
  // Register nibbles are taken as given (0..15).
  Assembler& op_rr(std::uint8_t opcode, int d, int s) {
    expect(opcode, vm::OperandFormat::rr);
    code_.push_back(opcode);
    code_.push_back(register_byte(d, s));
    return *this;
  }
  Assembler& op_rr_imm(std::uint8_t opcode, int d, int s, const Operand& imm) {
    expect(opcode, vm::OperandFormat::rr_imm32);
    code_.push_back(opcode);
    code_.push_back(register_byte(d, s));
    word(imm);
    return *this;
  }
  Assembler& op_imm(std::uint8_t opcode, const Operand& imm) {
    expect(opcode, vm::OperandFormat::imm32);
    code_.push_back(opcode);
    word(imm);
    return *this;
  }
  // Raw bytes (invalid opcodes, data inside the code).
  Assembler& bytes(std::initializer_list<std::uint8_t> list) {
    code_.insert(code_.end(), list.begin(), list.end());
    return *this;
  }
  Assembler& word(const Operand& value) {
    if (!value.label.empty()) fixups_.push_back({code_.size(), value.label, value.value});
    for (int i = 0; i < 4; ++i) code_.push_back(static_cast<std::uint8_t>(value.value >> (8 * i)));
    return *this;
  }

  // ---- Labels -------------------------------------------------------------------------------
  Assembler& label(const std::string& name) {
    define(name, {false, static_cast<std::uint32_t>(code_.size())});
    return *this;
  }
  // A name for an absolute address (data outside the code, a heap block).
  Assembler& equ(const std::string& name, vm::Address absolute) {
    define(name, {true, absolute});
    return *this;
  }

  // ---- Instructions, named as listings write them -------------------------------------------
  Assembler& nop() { return op(vm::op_nop); }
  Assembler& trap(std::uint16_t n) { return op_imm16(vm::op_trap, n); }
  Assembler& xchg(int d, int s) { return op_rr(vm::op_xchg, d, s); }
  Assembler& movl(int d, int s) { return op_rr(vm::op_mov_rr, d, s); }
  Assembler& movl_imm(int d, const Operand& imm) { return op_rr_imm(vm::op_mov_ri, d, d, imm); }
  Assembler& movl_addr(int d, const Operand& sym) { return op_rr_imm(vm::op_mov_rs_addr, d, d, sym); }
  // opcode 6..10: load from sym
  Assembler& load_sym(std::uint8_t opcode, int d, const Operand& sym) { return op_rr_imm(opcode, d, d, sym); }
  // opcode 11..16: lea / load from d(r6)
  Assembler& load_frame(std::uint8_t opcode, int d, std::int32_t disp) { return op_rr_imm(opcode, d, 6, disp); }
  // opcode 17..21: load from (rS)
  Assembler& load_reg(std::uint8_t opcode, int d, int s) { return op_rr(opcode, d, s); }
  // opcode 22..24: store to sym
  Assembler& store_sym(std::uint8_t opcode, const Operand& sym, int s) { return op_rr_imm(opcode, s, s, sym); }
  // opcode 25..27: store to d(r6)
  Assembler& store_frame(std::uint8_t opcode, std::int32_t disp, int s) { return op_rr_imm(opcode, 6, s, disp); }
  // opcode 28..30: store to (rD)
  Assembler& store_reg(std::uint8_t opcode, int d, int s) { return op_rr(opcode, d, s); }
  Assembler& push(int s) { return op_rr(vm::op_push_r, s, s); }
  Assembler& push_imm(const Operand& imm) { return op_imm(vm::op_push_i, imm); }
  Assembler& pop(int d) { return op_rr(vm::op_pop_r, d, 7); }
  Assembler& enter(std::uint32_t n) { return op_imm(vm::op_enter, n); }
  Assembler& leave(std::uint32_t n) { return op_imm(vm::op_leave, n); }
  Assembler& call(const Operand& target) { return op_imm(vm::op_call_s, target); }
  Assembler& call_reg(int s) { return op_rr(vm::op_call_r, s, s); }
  Assembler& ret() { return op(vm::op_ret); }
  // opcode 39..48: the address is read from rS, the result goes to rD.
  Assembler& incdec(std::uint8_t opcode, int d, int s) { return op_rr(opcode, d, s); }
  Assembler& preop(int d, int s, std::int32_t imm) { return op_rr_imm(vm::op_preop, d, s, imm); }
  Assembler& postop(int d, int s, std::int32_t imm) { return op_rr_imm(vm::op_postop, d, s, imm); }
  // opcode 49..54
  Assembler& zero(std::uint8_t opcode, const Operand& sym_or_disp) { return op_imm(opcode, sym_or_disp); }
  Assembler& cmp(int d, int s) { return op_rr(vm::op_cmp_rr, d, s); }
  Assembler& cmp_imm(int d, const Operand& imm) { return op_rr_imm(vm::op_cmp_ri, d, d, imm); }
  // Register-register arithmetic (set, add, sub, mul ... fneg).
  Assembler& alu(std::uint8_t opcode, int d, int s) { return op_rr(opcode, d, s); }
  Assembler& add_imm(int d, const Operand& imm) { return op_rr_imm(vm::op_add_ri, d, d, imm); }
  Assembler& sub_imm(int d, const Operand& imm) { return op_rr_imm(vm::op_sub_ri, d, d, imm); }
  // The argument-count marker after a call with n arguments.
  Assembler& argument_marker(std::uint32_t n) { return op_rr_imm(vm::op_add_ri, 7, 7, 4 * n); }
  Assembler& jump(std::uint8_t opcode, const Operand& target) { return op_imm(opcode, target); }
  Assembler& jmp(const Operand& target) { return op_imm(vm::op_jmp, target); }

  // ---- Output -------------------------------------------------------------------------------
  std::uint32_t size() const { return static_cast<std::uint32_t>(code_.size()); }

  vm::Address address_of(const std::string& name, vm::Address origin) const {
    auto it = labels_.find(name);
    if (it == labels_.end()) throw std::logic_error("undefined label " + name);
    return it->second.absolute ? it->second.value : origin + it->second.value;
  }

  std::vector<std::uint8_t> assemble(vm::Address origin) const {
    std::vector<std::uint8_t> out = code_;
    for (const Fixup& f : fixups_) {
      std::uint32_t v = address_of(f.label, origin) + f.addend;
      std::memcpy(out.data() + f.at, &v, sizeof v);
    }
    return out;
  }

  // Writes the code at the start of the context's image; pc is left at the image base.
  void load(vm::ScriptContext& context) const {
    if (size() > context.image_size) throw std::length_error("program larger than its image");
    std::vector<std::uint8_t> out = assemble(context.image_base);
    std::memcpy(vm::host_pointer(context.image_base), out.data(), out.size());
    vm::note_code_write(context.image_base, out.size());
  }

 private:
  struct Value {
    bool absolute;
    std::uint32_t value;
  };
  struct Fixup {
    std::size_t at;
    std::string label;
    std::uint32_t addend;
  };

  static std::uint8_t register_byte(int d, int s) {
    if (d < 0 || d > 15 || s < 0 || s > 15) throw std::logic_error("register nibble out of range");
    return static_cast<std::uint8_t>(s << 4 | d);
  }

  static void expect(std::uint8_t opcode, vm::OperandFormat format) {
    if (opcode < vm::kOpcodeCount && vm::kOpcodes[opcode].format != format)
      throw std::logic_error(std::string("wrong operand form for ") + vm::kOpcodes[opcode].mnemonic);
  }

  void define(const std::string& name, Value v) {
    if (!labels_.emplace(name, v).second) throw std::logic_error("label defined twice: " + name);
  }

  std::vector<std::uint8_t> code_;
  std::map<std::string, Value> labels_;
  std::vector<Fixup> fixups_;
};

}  // namespace talven::test
