// The effect of every instruction, as tables of cases.
#include <cmath>
#include <cstring>
#include <limits>

#include "interpreter_fixture.h"

namespace talven::vm {
namespace {

using test::Assembler;
using test::bits_float;
using test::float_bits;

constexpr std::uint32_t kIntMin = 0x80000000u;
constexpr std::uint32_t u(std::int32_t v) { return static_cast<std::uint32_t>(v); }
std::uint32_t f(float v) { return float_bits(v); }

// ---- Register to register ---------------------------------------------------------------------

struct BinaryCase {
  Op op;
  std::uint32_t d, s, expected;
};

class RegisterOpTest : public InterpreterTest, public ::testing::WithParamInterface<BinaryCase> {};

TEST_P(RegisterOpTest, ComputesDestinationFromBothRegisters) {
  const BinaryCase& c = GetParam();
  Assembler a;
  a.alu(c.op, 1, 2);
  halt(a);
  ctx->r[1] = c.d;
  ctx->r[2] = c.s;
  run(a);
  EXPECT_EQ(ctx->r[1], c.expected) << kOpcodes[c.op].mnemonic << " " << std::hex << c.d << ", " << c.s;
  EXPECT_EQ(ctx->r[2], c.s);
  expect_ended_quietly();
}

INSTANTIATE_TEST_SUITE_P(
    Integer, RegisterOpTest,
    ::testing::Values(
        BinaryCase{op_mov_rr, 1, 0xDEADBEEF, 0xDEADBEEF},
        BinaryCase{op_add_rr, 0xFFFFFFFF, 2, 1},            // wraps
        BinaryCase{op_add_rr, 0x7FFFFFFF, 1, kIntMin},
        BinaryCase{op_sub_rr, 0, 1, 0xFFFFFFFF},
        BinaryCase{op_sub_rr, kIntMin, 1, 0x7FFFFFFF},
        BinaryCase{op_mul, 0x10000, 0x10000, 0},             // low 32 bits
        BinaryCase{op_mul, u(-3), 7, u(-21)},
        BinaryCase{op_mul, 0x7FFFFFFF, 2, 0xFFFFFFFE},
        BinaryCase{op_div, 100, 7, 14},
        BinaryCase{op_div, u(-7), 2, u(-3)},                 // truncates toward zero
        BinaryCase{op_div, 7, u(-2), u(-3)},
        BinaryCase{op_div, u(-7), u(-2), 3},
        BinaryCase{op_div, kIntMin, u(-1), kIntMin},         // the overflowing quotient
        BinaryCase{op_div, 5, u(-1), u(-5)},
        BinaryCase{op_mod, u(-7), 2, u(-1)},                 // sign of the dividend
        BinaryCase{op_mod, 7, u(-2), 1},
        BinaryCase{op_mod, u(-7), u(-2), u(-1)},
        BinaryCase{op_mod, kIntMin, u(-1), 0},
        BinaryCase{op_shl, 1, 31, kIntMin},
        BinaryCase{op_shl, 1, 33, 2},                        // count taken modulo 32
        BinaryCase{op_shl, 3, 32, 3},
        BinaryCase{op_shr, 0xFFFFFFF8, 1, 0x7FFFFFFC},       // logical
        BinaryCase{op_shr, 0xFFFFFFF8, 33, 0x7FFFFFFC},
        BinaryCase{op_shr, kIntMin, 31, 1},
        BinaryCase{op_sar, u(-8), 1, u(-4)},                 // arithmetic
        BinaryCase{op_sar, u(-1), 31, u(-1)},
        BinaryCase{op_sar, kIntMin, 33, 0xC0000000},
        BinaryCase{op_sar, 0x40000000, 30, 1},
        BinaryCase{op_and, 0xF0F0FF00, 0x0FF0F0F0, 0x00F0F000},
        BinaryCase{op_or, 0xF0000000, 0x0000000F, 0xF000000F},
        BinaryCase{op_xor, 0xFFFF0000, 0xFF00FF00, 0x00FFFF00},
        // Unary forms: rD = f(rS).
        BinaryCase{op_neg, 99, 5, u(-5)},
        BinaryCase{op_neg, 99, kIntMin, kIntMin},
        BinaryCase{op_not, 99, 0, 0xFFFFFFFF},
        BinaryCase{op_not, 99, 0x0F0F0F0F, 0xF0F0F0F0},
        BinaryCase{op_set, 99, 0, 1},
        BinaryCase{op_set, 99, 5, 0},
        BinaryCase{op_set, 99, kIntMin, 0}));

INSTANTIATE_TEST_SUITE_P(
    Float, RegisterOpTest,
    ::testing::Values(
        BinaryCase{op_fadd, f(1.5f), f(2.25f), f(3.75f)},
        BinaryCase{op_fadd, f(1e30f), f(1e30f), f(2e30f)},
        BinaryCase{op_fsub, f(1.0f), f(3.0f), f(-2.0f)},
        BinaryCase{op_fmul, f(-1.5f), f(4.0f), f(-6.0f)},
        BinaryCase{op_fmul, f(1e30f), f(1e30f), f(INFINITY)},  // rounded to single precision
        BinaryCase{op_fdiv, f(1.0f), f(4.0f), f(0.25f)},
        BinaryCase{op_fdiv, f(1.0f), f(0.0f), f(INFINITY)},    // no error, IEEE result
        BinaryCase{op_fdiv, f(-1.0f), f(0.0f), f(-INFINITY)},
        BinaryCase{op_fmod, f(7.5f), f(2.0f), f(1.5f)},
        BinaryCase{op_fmod, f(-7.5f), f(2.0f), f(-1.5f)},
        BinaryCase{op_fmod, f(0.3f), f(0.1f), f(static_cast<float>(std::fmod(double(0.3f), double(0.1f))))},
        BinaryCase{op_fneg, 99, f(2.0f), f(-2.0f)},
        BinaryCase{op_fneg, 99, f(0.0f), 0x80000000},
        BinaryCase{op_itof, 99, 7, f(7.0f)},
        BinaryCase{op_itof, 99, u(-3), f(-3.0f)},
        BinaryCase{op_itof, 99, 16777217, f(16777216.0f)},   // round to nearest even
        BinaryCase{op_itof, 99, kIntMin, f(-2147483648.0f)},
        BinaryCase{op_ftoi, 99, f(2.9f), 2},                  // truncates toward zero
        BinaryCase{op_ftoi, 99, f(-2.9f), u(-2)},
        BinaryCase{op_ftoi, 99, f(0.99f), 0},
        BinaryCase{op_ftoi, 99, f(2147483520.0f), 2147483520u},
        BinaryCase{op_ftoi, 99, f(-2147483648.0f), kIntMin},
        BinaryCase{op_ftoi, 99, f(2147483648.0f), kIntMin},   // out of range saturates low
        BinaryCase{op_ftoi, 99, f(3e9f), kIntMin},
        BinaryCase{op_ftoi, 99, f(-3e9f), kIntMin},
        BinaryCase{op_ftoi, 99, f(INFINITY), kIntMin},
        BinaryCase{op_ftoi, 99, f(NAN), kIntMin}));

TEST_F(InterpreterTest, FloatDivisionOfZeroByZeroIsNaN) {
  Assembler a;
  a.alu(op_fdiv, 1, 2);
  halt(a);
  ctx->r[1] = f(0.0f);
  ctx->r[2] = f(0.0f);
  run(a);
  EXPECT_TRUE(std::isnan(bits_float(ctx->r[1])));
  expect_ended_quietly();
}

TEST_F(InterpreterTest, ExchangeSwapsBothRegisters) {
  Assembler a;
  a.xchg(3, 5);
  halt(a);
  ctx->r[3] = 33;
  ctx->r[5] = 55;
  run(a);
  EXPECT_EQ(ctx->r[3], 55u);
  EXPECT_EQ(ctx->r[5], 33u);
}

TEST_F(InterpreterTest, ImmediateFormsKeepBitPatterns) {
  Assembler a;
  a.movl_imm(1, f(3.14f))
      .movl_imm(2, 0x7FC00001u)  // a NaN payload survives unchanged
      .movl_addr(3, "text")
      .movl_imm(4, 0xFFFFFFFFu)
      .add_imm(4, 2u)
      .movl_imm(5, 10)
      .sub_imm(5, 20);
  halt(a);
  a.label("text").bytes({'h', 'i', 0});
  run(a);
  EXPECT_EQ(ctx->r[1], f(3.14f));
  EXPECT_EQ(ctx->r[2], 0x7FC00001u);
  EXPECT_EQ(ctx->r[3], a.address_of("text", ctx->image_base));
  EXPECT_EQ(ctx->r[4], 1u);
  EXPECT_EQ(ctx->r[5], u(-10));
  EXPECT_EQ(ctx->l, 1);  // from sub 10, 20
}

// ---- Flags ------------------------------------------------------------------------------------

struct FlagCase {
  std::uint32_t a, b;
  bool z, l, bl;
};

class FlagTest : public InterpreterTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(FlagTest, CompareAndSubtractSetAllThreeFlags) {
  const FlagCase& c = GetParam();
  struct Form {
    const char* name;
    void (*emit)(Assembler&, std::uint32_t);
    bool subtracts;
  };
  const Form forms[] = {
      {"cmp rD, rS", [](Assembler& a, std::uint32_t) { a.cmp(1, 2); }, false},
      {"cmp rD, $imm", [](Assembler& a, std::uint32_t b) { a.cmp_imm(1, b); }, false},
      {"sub rD, rS", [](Assembler& a, std::uint32_t) { a.alu(op_sub_rr, 1, 2); }, true},
      {"sub rD, $imm", [](Assembler& a, std::uint32_t b) { a.sub_imm(1, b); }, true},
  };
  for (const Form& form : forms) {
    reset();
    Assembler a;
    form.emit(a, c.b);
    halt(a);
    ctx->r[1] = c.a;
    ctx->r[2] = c.b;
    // Start from the opposite of the expected flags so that every flag must be written.
    ctx->z = !c.z;
    ctx->l = !c.l;
    ctx->b = !c.bl;
    run(a);
    EXPECT_EQ(ctx->z, c.z) << form.name;
    EXPECT_EQ(ctx->l, c.l) << form.name;
    EXPECT_EQ(ctx->b, c.bl) << form.name;
    EXPECT_EQ(ctx->r[1], form.subtracts ? c.a - c.b : c.a) << form.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, FlagTest,
                         ::testing::Values(FlagCase{5, 5, true, false, false},
                                           FlagCase{1, 2, false, true, true},
                                           FlagCase{2, 1, false, false, false},
                                           FlagCase{u(-1), 1, false, true, false},
                                           FlagCase{1, u(-1), false, false, true},
                                           FlagCase{kIntMin, 1, false, true, false},
                                           FlagCase{0x7FFFFFFF, kIntMin, false, false, true},
                                           FlagCase{0, 0, true, false, false}));

TEST_F(InterpreterTest, FloatSubtractSetsFlagsAndClearsBelow) {
  struct Case {
    float a, b;
    bool z, l;
  };
  const Case cases[] = {
      {1.0f, 2.0f, false, true}, {2.0f, 1.0f, false, false}, {1.0f, 1.0f, true, false},
      {-0.0f, 0.0f, true, false}, {-3.0f, -2.0f, false, true},
      {NAN, 1.0f, false, false},  {1.0f, NAN, false, false}, {NAN, NAN, false, false},
  };
  for (const Case& c : cases) {
    reset();
    Assembler a;
    a.alu(op_fsub, 1, 2);
    halt(a);
    ctx->r[1] = f(c.a);
    ctx->r[2] = f(c.b);
    ctx->z = !c.z;
    ctx->l = !c.l;
    ctx->b = 1;
    run(a);
    EXPECT_EQ(ctx->z, c.z) << c.a << " - " << c.b;
    EXPECT_EQ(ctx->l, c.l) << c.a << " - " << c.b;
    EXPECT_EQ(ctx->b, 0) << c.a << " - " << c.b;
    const float difference = bits_float(ctx->r[1]);
    if (std::isnan(c.a) || std::isnan(c.b))
      EXPECT_TRUE(std::isnan(difference));
    else
      EXPECT_EQ(difference, c.a - c.b);
  }
}

TEST_F(InterpreterTest, ZeroTestsSetOnlyZ) {
  // Word 0x00010000: its low byte and low 16 bits are zero, the whole word is not.
  struct Case {
    Op op;
    bool frame;
    bool z;
  };
  const Case cases[] = {
      {op_zero_b_s, false, true}, {op_zero_w_s, false, true}, {op_zero_l_s, false, false},
      {op_zero_b_f, true, true},  {op_zero_w_f, true, true},  {op_zero_l_f, true, false},
  };
  for (const Case& c : cases) {
    for (bool previous : {false, true}) {
      reset();
      set_word(data(0), 0x00010000);
      Assembler a;
      a.zero(c.op, c.frame ? test::Operand(-16) : test::Operand(data(0)));
      halt(a);
      ctx->r[6] = data(16);
      ctx->z = !c.z;
      ctx->l = previous;
      ctx->b = previous;
      run(a);
      EXPECT_EQ(ctx->z, c.z) << kOpcodes[c.op].mnemonic;
      EXPECT_EQ(ctx->l, previous) << kOpcodes[c.op].mnemonic;
      EXPECT_EQ(ctx->b, previous) << kOpcodes[c.op].mnemonic;
    }
  }
}

TEST_F(InterpreterTest, OtherInstructionsLeaveFlagsAlone) {
  set_word(data(0), 5);
  Assembler a;
  a.alu(op_add_rr, 1, 2)
      .add_imm(1, 7)
      .alu(op_mul, 1, 2)
      .alu(op_div, 1, 2)
      .alu(op_xor, 1, 1)
      .alu(op_set, 3, 1)
      .alu(op_fadd, 4, 4)
      .alu(op_fmul, 4, 4)
      .alu(op_itof, 4, 2)
      .movl_imm(5, 0)
      .load_sym(op_load_l_s, 5, data(0))
      .store_sym(op_store_l_s, data(4), 5)
      .push(5)
      .push(5)
      .pop(5);
  halt(a);
  ctx->r[2] = 3;
  for (std::uint8_t flags : {0, 1}) {
    reset();
    set_word(data(0), 5);
    ctx->r[2] = 3;
    ctx->z = ctx->l = ctx->b = flags;
    run(a);
    EXPECT_EQ(ctx->z, flags);
    EXPECT_EQ(ctx->l, flags);
    EXPECT_EQ(ctx->b, flags);
    EXPECT_EQ(word(data(4)), 5u);
    expect_ended_quietly();
  }
}

// ---- Jumps ------------------------------------------------------------------------------------

struct JumpCase {
  Op op;
  bool (*relation)(std::uint32_t, std::uint32_t);
  bool after_nan;  // taken after fsub with a NaN operand
};

bool run_jump(ScriptContext* ctx, Op op, void (*compare)(Assembler&)) {
  Assembler a;
  compare(a);
  a.jump(op, "taken").movl_imm(0, 0);
  InterpreterTest::halt(a);
  a.label("taken").movl_imm(0, 1);
  InterpreterTest::halt(a);
  a.load(*ctx);
  while (ctx->state == kRunning) run_slice(*ctx);
  return ctx->r[0] == 1;
}

const JumpCase kJumps[] = {
    {op_je, [](std::uint32_t a, std::uint32_t b) { return a == b; }, false},
    {op_jne, [](std::uint32_t a, std::uint32_t b) { return a != b; }, true},
    {op_jg, [](std::uint32_t a, std::uint32_t b) { return std::int32_t(a) > std::int32_t(b); }, true},
    {op_jge, [](std::uint32_t a, std::uint32_t b) { return std::int32_t(a) >= std::int32_t(b); }, true},
    {op_jl, [](std::uint32_t a, std::uint32_t b) { return std::int32_t(a) < std::int32_t(b); }, false},
    {op_jle, [](std::uint32_t a, std::uint32_t b) { return std::int32_t(a) <= std::int32_t(b); }, false},
    {op_ja, [](std::uint32_t a, std::uint32_t b) { return a > b; }, true},
    {op_jae, [](std::uint32_t a, std::uint32_t b) { return a >= b; }, true},
    {op_jb, [](std::uint32_t a, std::uint32_t b) { return a < b; }, false},
    {op_jbe, [](std::uint32_t a, std::uint32_t b) { return a <= b; }, false},
};

TEST_F(InterpreterTest, ConditionalJumpsFollowComparisons) {
  const std::uint32_t pairs[][2] = {{5, 5}, {1, 2}, {2, 1}, {u(-1), 1}, {1, u(-1)}, {kIntMin, 0x7FFFFFFF}};
  for (const JumpCase& j : kJumps) {
    for (const auto& p : pairs) {
      reset();
      ctx->r[1] = p[0];
      ctx->r[2] = p[1];
      const bool taken = run_jump(ctx, j.op, [](Assembler& a) { a.cmp(1, 2); });
      EXPECT_EQ(taken, j.relation(p[0], p[1]))
          << kOpcodes[j.op].mnemonic << " after cmp " << std::int32_t(p[0]) << ", " << std::int32_t(p[1]);
    }
  }
}

TEST_F(InterpreterTest, ConditionalJumpsAfterFloatCompare) {
  const float pairs[][2] = {{1.5f, 1.5f}, {-2.0f, 1.0f}, {3.0f, -1.0f}, {NAN, 1.0f}, {1.0f, NAN}};
  for (const JumpCase& j : kJumps) {
    for (const auto& p : pairs) {
      reset();
      ctx->r[1] = f(p[0]);
      ctx->r[2] = f(p[1]);
      const bool taken = run_jump(ctx, j.op, [](Assembler& a) { a.alu(op_fsub, 1, 2); });
      bool expected;
      if (std::isnan(p[0]) || std::isnan(p[1])) {
        expected = j.after_nan;
      } else {
        // Signed jumps read floats like integers; unsigned ones see B = 0 (never below).
        switch (j.op) {
          case op_je: expected = p[0] == p[1]; break;
          case op_jne: expected = p[0] != p[1]; break;
          case op_jg: expected = p[0] > p[1]; break;
          case op_jge: expected = p[0] >= p[1]; break;
          case op_jl: expected = p[0] < p[1]; break;
          case op_jle: expected = p[0] <= p[1]; break;
          case op_ja: expected = p[0] != p[1]; break;
          case op_jae: expected = true; break;
          case op_jb: expected = false; break;
          default: expected = p[0] == p[1]; break;  // jbe
        }
      }
      EXPECT_EQ(taken, expected) << kOpcodes[j.op].mnemonic << " after fsub " << p[0] << ", " << p[1];
    }
  }
}

TEST_F(InterpreterTest, JumpIsUnconditional) {
  Assembler a;
  a.jmp("over").movl_imm(1, 1);
  halt(a);
  a.label("over").movl_imm(2, 2);
  halt(a);
  run(a);
  EXPECT_EQ(ctx->r[1], 0u);
  EXPECT_EQ(ctx->r[2], 2u);
}

// ---- Memory -----------------------------------------------------------------------------------

enum class Mode { sym, frame, reg };

struct LoadCase {
  Op op;
  Mode mode;
  std::uint32_t expected;
};

class LoadTest : public InterpreterTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, ExtendsAsTheOpcodeSays) {
  const LoadCase& c = GetParam();
  const std::uint8_t bytes[] = {0xF0, 0x80, 0x7F, 0x01};
  std::memcpy(host_pointer(data(1)), bytes, sizeof bytes);  // unaligned on purpose
  Assembler a;
  switch (c.mode) {
    case Mode::sym: a.load_sym(c.op, 3, data(1)); break;
    case Mode::frame: a.load_frame(c.op, 3, -31); break;
    case Mode::reg: a.load_reg(c.op, 3, 2); break;
  }
  halt(a);
  ctx->r[3] = 0x55555555;
  ctx->r[6] = data(32);
  ctx->r[2] = data(1);
  run(a);
  EXPECT_EQ(ctx->r[3], c.expected) << kOpcodes[c.op].mnemonic << " form " << int(c.mode);
  expect_ended_quietly();
}

INSTANTIATE_TEST_SUITE_P(
    AllForms, LoadTest,
    ::testing::Values(LoadCase{op_load_b_s, Mode::sym, 0xF0}, LoadCase{op_load_sb_s, Mode::sym, 0xFFFFFFF0},
                      LoadCase{op_load_w_s, Mode::sym, 0x80F0}, LoadCase{op_load_sw_s, Mode::sym, 0xFFFF80F0},
                      LoadCase{op_load_l_s, Mode::sym, 0x017F80F0},
                      LoadCase{op_load_b_f, Mode::frame, 0xF0}, LoadCase{op_load_sb_f, Mode::frame, 0xFFFFFFF0},
                      LoadCase{op_load_w_f, Mode::frame, 0x80F0},
                      LoadCase{op_load_sw_f, Mode::frame, 0xFFFF80F0},
                      LoadCase{op_load_l_f, Mode::frame, 0x017F80F0},
                      LoadCase{op_load_b_m, Mode::reg, 0xF0}, LoadCase{op_load_sb_m, Mode::reg, 0xFFFFFFF0},
                      LoadCase{op_load_w_m, Mode::reg, 0x80F0}, LoadCase{op_load_sw_m, Mode::reg, 0xFFFF80F0},
                      LoadCase{op_load_l_m, Mode::reg, 0x017F80F0}));

TEST_F(InterpreterTest, LeaAddsFrameOffset) {
  Assembler a;
  a.load_frame(op_lea_f, 2, -20).load_frame(op_lea_f, 3, 8);
  halt(a);
  ctx->r[6] = 0x20000;
  run(a);
  EXPECT_EQ(ctx->r[2], 0x20000u - 20);
  EXPECT_EQ(ctx->r[3], 0x20008u);
}

struct StoreCase {
  Op op;
  Mode mode;
  std::uint8_t expected[5];
};

class StoreTest : public InterpreterTest, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(StoreTest, WritesOnlyTheLowBits) {
  const StoreCase& c = GetParam();
  std::memset(host_pointer(data(0)), 0x11, 8);
  Assembler a;
  switch (c.mode) {
    case Mode::sym: a.store_sym(c.op, data(1), 2); break;
    case Mode::frame: a.store_frame(c.op, 17, 2); break;
    case Mode::reg: a.store_reg(c.op, 3, 2); break;
  }
  halt(a);
  ctx->r[2] = 0xA1B2C3D4;
  ctx->r[3] = data(1);
  ctx->r[6] = data(1) - 17;
  run(a);
  EXPECT_EQ(0, std::memcmp(host_pointer(data(1)), c.expected, 5)) << kOpcodes[c.op].mnemonic << " " << int(c.mode);
  EXPECT_EQ(*host_pointer(data(0)), 0x11);
  expect_ended_quietly();
}

#define STORE_CASES(MODE, B, W, L)                                        \
  StoreCase{B, MODE, {0xD4, 0x11, 0x11, 0x11, 0x11}},                     \
      StoreCase{W, MODE, {0xD4, 0xC3, 0x11, 0x11, 0x11}},                 \
      StoreCase { L, MODE, { 0xD4, 0xC3, 0xB2, 0xA1, 0x11 } }
INSTANTIATE_TEST_SUITE_P(AllForms, StoreTest,
                         ::testing::Values(STORE_CASES(Mode::sym, op_store_b_s, op_store_w_s, op_store_l_s),
                                           STORE_CASES(Mode::frame, op_store_b_f, op_store_w_f, op_store_l_f),
                                           STORE_CASES(Mode::reg, op_store_b_m, op_store_w_m, op_store_l_m)));
#undef STORE_CASES

struct IncrementCase {
  Op op;
  std::uint32_t before;
  std::int32_t amount;  // preop/postop only
  std::uint32_t result;
  std::uint32_t after;
};

class IncrementTest : public InterpreterTest, public ::testing::WithParamInterface<IncrementCase> {};

TEST_P(IncrementTest, UpdatesMemoryAndGivesOldOrNewValue) {
  const IncrementCase& c = GetParam();
  set_word(data(0), c.before);
  set_word(data(4), 0xCCCCCCCC);
  Assembler a;
  if (c.op == op_preop || c.op == op_postop)
    a.op_rr_imm(c.op, 1, 2, c.amount);
  else
    a.incdec(c.op, 1, 2);
  halt(a);
  ctx->r[2] = data(0);
  run(a);
  EXPECT_EQ(ctx->r[1], c.result) << kOpcodes[c.op].mnemonic << " " << c.before;
  EXPECT_EQ(word(data(0)), c.after) << kOpcodes[c.op].mnemonic << " " << c.before;
  EXPECT_EQ(word(data(4)), 0xCCCCCCCCu);
  expect_ended_quietly();
}

// Bytes and words wrap within their width and leave the rest of the word alone.
INSTANTIATE_TEST_SUITE_P(
    AllForms, IncrementTest,
    ::testing::Values(IncrementCase{op_preop, 100, 4, 104, 104}, IncrementCase{op_postop, 100, -1, 100, 99},
                      IncrementCase{op_preop, 0xFFFFFFFF, 1, 0, 0},
                      IncrementCase{op_preinc_b, 0xAAAA00FF, 0, 0x00, 0xAAAA0000},
                      IncrementCase{op_postinc_b, 0xAAAA00FF, 0, 0xFF, 0xAAAA0000},
                      IncrementCase{op_predec_b, 0xAAAAFF00, 0, 0xFF, 0xAAAAFFFF},
                      IncrementCase{op_postdec_b, 0xAAAAFF00, 0, 0x00, 0xAAAAFFFF},
                      IncrementCase{op_preinc_b, 0x7F, 0, 0x80, 0x80},
                      IncrementCase{op_preinc_w, 0xAAAAFFFF, 0, 0x0000, 0xAAAA0000},
                      IncrementCase{op_postinc_w, 0xAAAAFFFF, 0, 0xFFFF, 0xAAAA0000},
                      IncrementCase{op_predec_w, 0xAAAA0000, 0, 0xFFFF, 0xAAAAFFFF},
                      IncrementCase{op_postdec_w, 0xAAAA0000, 0, 0x0000, 0xAAAAFFFF},
                      IncrementCase{op_postinc_w, 0x7FFF, 0, 0x7FFF, 0x8000}));

TEST_F(InterpreterTest, PreopOnPointerHeldInSameRegister) {
  // p += 4 where p's address is in r1: the variable moves on and r1 holds the new pointer.
  set_word(data(0), 0x30000);
  Assembler a;
  a.preop(1, 1, 4);
  halt(a);
  ctx->r[1] = data(0);
  run(a);
  EXPECT_EQ(word(data(0)), 0x30004u);
  EXPECT_EQ(ctx->r[1], 0x30004u);
}

TEST_F(InterpreterTest, AccessesAtTopOfSpaceStayInsideRegion) {
  // A word that starts in the last bytes of the space ends in the mapped tail, not elsewhere.
  Assembler a;
  a.store_sym(op_store_l_s, 0xFFFFFFFEu, 2).load_sym(op_load_l_s, 3, 0xFFFFFFFEu).load_reg(op_load_w_m, 4, 5);
  halt(a);
  ctx->r[2] = 0x12345678;
  ctx->r[5] = 0xFFFFFFFF;
  run(a);
  EXPECT_EQ(ctx->r[3], 0x12345678u);
  EXPECT_EQ(ctx->r[4], 0x3456u);
  expect_ended_quietly();
}

}  // namespace
}  // namespace talven::vm
