#include "vm/opcodes.h"

#include <gtest/gtest.h>

#include <string>

namespace talven::vm {
namespace {

TEST(OpcodesTest, EveryOpcodeHasMnemonicAndLength) {
  struct Case {
    Op op;
    const char* mnemonic;
    int length;
  };
  const Case cases[] = {
      {op_nop, "(none)", 1},       {op_trap, "trap", 3},        {op_xchg, "xchg", 2},
      {op_mov_ri, "movl", 6},      {op_load_sb_s, "movsbl", 6}, {op_lea_f, "lea", 6},
      {op_load_w_m, "movwl", 2},   {op_store_b_f, "movb", 6},   {op_store_w_m, "movw", 2},
      {op_push_r, "push", 2},      {op_push_i, "push", 5},      {op_pop_r, "pop", 2},
      {op_enter, "enter", 5},      {op_leave, "leave", 5},      {op_call_s, "call", 5},
      {op_call_r, "call", 2},      {op_ret, "ret", 1},          {op_preop, "preop", 6},
      {op_postdec_w, "postdec", 2}, {op_zero_l_f, "zerol", 5},  {op_cmp_ri, "cmp", 6},
      {op_set, "set", 2},          {op_sub_ri, "sub", 6},       {op_sar, "sar", 2},
      {op_jbe, "jbe", 5},          {op_ftoi, "ftoi", 2},        {op_fneg, "fneg", 2},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(kOpcodes[c.op].mnemonic, c.mnemonic) << int(c.op);
    EXPECT_EQ(instruction_length(kOpcodes[c.op].format), c.length) << int(c.op);
  }
}

TEST(OpcodesTest, FormatsFollowOperandKinds) {
  for (int op = 0; op < kOpcodeCount; ++op) {
    const OpcodeInfo& info = kOpcodes[op];
    ASSERT_NE(info.mnemonic, nullptr) << op;
    ASSERT_NE(info.operands, nullptr) << op;
    const std::string operands = info.operands;
    // Every form that carries an immediate, a symbol or a frame offset has a 32-bit field.
    const bool has_imm32 = operands.find("sym") != std::string::npos ||
                           operands.find("d(r6)") != std::string::npos ||
                           operands.find("imm") != std::string::npos ||
                           operands.find("target") != std::string::npos ||
                           (op == op_enter || op == op_leave);
    const bool has_register = operands.find('r') == 0 || operands.find(", r") != std::string::npos ||
                              operands.find("(r") == 0 || operands.find("rD") != std::string::npos;
    switch (info.format) {
      case OperandFormat::none: EXPECT_TRUE(operands.empty()) << op; break;
      case OperandFormat::imm16: EXPECT_EQ(op, op_trap); break;
      case OperandFormat::rr: EXPECT_FALSE(has_imm32) << op; break;
      case OperandFormat::rr_imm32: EXPECT_TRUE(has_imm32 && has_register) << op; break;
      case OperandFormat::imm32: EXPECT_TRUE(has_imm32) << op; break;
    }
  }
}

}  // namespace
}  // namespace talven::vm
