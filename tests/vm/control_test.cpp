// Stack, calls, program end, slices, the call gate, the stop flag and runtime errors.
#include <chrono>
#include <thread>

#include "interpreter_fixture.h"

namespace talven::vm {
namespace {

using test::Assembler;

// ---- Stack ------------------------------------------------------------------------------------

TEST_F(InterpreterTest, PushAndPopRoundTrip) {
  Assembler a;
  a.push_imm(0).push(1).push_imm(0xCAFEF00Du).push(7).pop(4).pop(3).pop(2);
  halt(a);
  ctx->r[1] = 0x1234;
  run(a);
  EXPECT_EQ(ctx->r[4], top() - 12) << "push r7 stores r7 as it was before the push";
  EXPECT_EQ(ctx->r[3], 0xCAFEF00Du);
  EXPECT_EQ(ctx->r[2], 0x1234u);
  EXPECT_EQ(ctx->r[7], top() - 4);
  EXPECT_EQ(word(top() - 8), 0x1234u);
  expect_ended_quietly();
}

TEST_F(InterpreterTest, HighestWordOfTheStackCannotBePopped) {
  Assembler a;
  a.push(1).pop(2);
  halt(a);
  ctx->r[1] = 77;
  ctx->r[2] = 5;
  run(a);
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(ctx->r[2], 5u) << "a failed pop loads nothing";
  EXPECT_EQ(ctx->r[7], top() - 4);
}

TEST_F(InterpreterTest, PopOfEmptyStackIsStackError) {
  Assembler a;
  a.pop(2);
  halt(a);
  run(a);
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(ctx->r[7], top());
}

TEST_F(InterpreterTest, PushBeyondStackBaseIsStackError) {
  // A stack of 256 bytes holds 64 words; the 65th push fails and stores nothing.
  Assembler a;
  a.label("loop").push(1).add_imm(2, 1).jmp("loop");
  ctx->r[1] = 0xEEEEEEEE;
  run(a);
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(ctx->r[2], kStackSize / 4);
  EXPECT_EQ(ctx->r[7], ctx->stack_base);
  EXPECT_EQ(word(ctx->stack_base), 0xEEEEEEEEu);
}

TEST_F(InterpreterTest, EnterLargerThanStackIsStackError) {
  Assembler a;
  a.enter(kStackSize);
  halt(a);
  run(a);
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(ctx->r[7], top());
  EXPECT_EQ(ctx->r[6], 0u);
}

TEST_F(InterpreterTest, StackPointerOffItsAlignmentCannotReachNeighbours) {
  // The word a push would write starts 2 bytes below the top: half of it lies above the stack.
  Assembler a;
  a.push(1);
  halt(a);
  a.load(*ctx);
  ctx->r[7] = top() + 2;
  const std::uint32_t above = word(top());
  run_loaded();
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(word(top()), above);
}

// ---- Calls and frames -------------------------------------------------------------------------

// main calls f(5, 7); f returns 5 * 10 - 7 and records its frame in the data area.
Assembler call_program(Address data, bool through_register) {
  Assembler a;
  a.jmp("main");
  a.label("f")
      .enter(8)
      .load_frame(op_load_l_f, 1, 8)   // first argument
      .load_frame(op_load_l_f, 2, 12)  // second argument
      .store_frame(op_store_l_f, -24, 1)
      .movl_imm(3, 10)
      .alu(op_mul, 1, 3)
      .alu(op_sub_rr, 1, 2)
      .movl(0, 1)
      .load_frame(op_load_l_f, 3, 4)  // return address
      .store_sym(op_store_l_s, data + 0, 3)
      .load_frame(op_load_l_f, 3, 0)  // saved r6
      .store_sym(op_store_l_s, data + 4, 3)
      .load_frame(op_load_l_f, 3, -20)  // saved r1
      .store_sym(op_store_l_s, data + 8, 3)
      .load_frame(op_load_l_f, 3, -24)  // the local
      .store_sym(op_store_l_s, data + 12, 3)
      .movl(3, 7)
      .store_sym(op_store_l_s, data + 16, 3)  // r7 inside f
      .movl_imm(1, 0)
      .movl_imm(6, 0)
      .leave(8)
      .ret();
  a.label("main").push_imm(7).push_imm(5);
  if (through_register)
    a.movl_addr(4, "f").call_reg(4);
  else
    a.call("f");
  a.label("marker").argument_marker(2).movl(5, 7);
  InterpreterTest::halt(a);
  return a;
}

TEST_F(InterpreterTest, CallBuildsFrameAndReturnRestoresRegisters) {
  for (bool through_register : {false, true}) {
    reset();
    Assembler a = call_program(data(), through_register);
    ctx->r[1] = 101;
    ctx->r[2] = 102;
    ctx->r[3] = 103;
    ctx->r[6] = 0x666;
    run(a);
    expect_ended_quietly();
    EXPECT_EQ(ctx->r[0], 43u);
    EXPECT_EQ(ctx->r[1], 101u) << "r1 to r6 come back from the frame";
    EXPECT_EQ(ctx->r[2], 102u);
    EXPECT_EQ(ctx->r[6], 0x666u);
    EXPECT_EQ(ctx->r[5], top()) << "the marker drops the arguments";
    const Address marker = a.address_of("marker", ctx->image_base);
    EXPECT_EQ(word(data(0)), marker);
    EXPECT_EQ(word(marker) & 0xFFFF, kArgumentMarker);
    EXPECT_EQ(word(data(4)), 0x666u);
    EXPECT_EQ(word(data(8)), 101u);
    EXPECT_EQ(word(data(12)), 5u);
    EXPECT_EQ(word(data(16)), top() - 12 - 24 - 8) << "two arguments, return address, saved registers, locals";
  }
}

TEST_F(InterpreterTest, LeaveAtTopOfStackEndsProgramKeepingResult) {
  // The shape of every program: jmp main; main runs in a frame with no return address above it.
  Assembler a;
  a.jmp("main").label("main").enter(16).movl_imm(0, 42).movl_imm(1, 9).leave(16).ret().movl_imm(0, 13);
  run(a);
  expect_ended_quietly();
  EXPECT_EQ(ctx->r[0], 42u);
  EXPECT_EQ(ctx->r[1], 9u) << "registers are not restored from the outermost frame";
  EXPECT_EQ(ctx->r[7], top() - 40);
  const Address pc = ctx->pc;
  run_slice(*ctx);
  EXPECT_EQ(ctx->pc, pc) << "an ended context does not run";
}

TEST_F(InterpreterTest, ReturnToEndMarkerEndsContext) {
  Assembler a;
  a.push_imm(0).push_imm(0xFFFFFFFFu).movl_imm(0, 5).ret().movl_imm(0, 6);
  run(a);
  expect_ended_quietly();
  EXPECT_EQ(ctx->r[0], 5u);
  EXPECT_EQ(ctx->r[7], top() - 4);
  run_slice(*ctx);
  EXPECT_EQ(ctx->r[0], 5u) << "the next slice does not run";
}

TEST_F(InterpreterTest, CallThroughZeroRegisterIsRuntimeError) {
  Assembler a;
  a.call_reg(3).label("after").movl_imm(1, 1);
  halt(a);
  run(a);
  expect_runtime_error(kOutOfMemory);
  EXPECT_EQ(ctx->r[7], top()) << "nothing pushed";
  EXPECT_EQ(ctx->r[1], 0u);
  EXPECT_EQ(ctx->pc, a.address_of("after", ctx->image_base));
}

// ---- Slices -----------------------------------------------------------------------------------

TEST_F(InterpreterTest, SliceRunsAtMost255Instructions) {
  Assembler a;
  for (int i = 0; i < 300; ++i) a.nop();
  halt(a);
  a.load(*ctx);
  run_slice(*ctx);
  EXPECT_EQ(ctx->state, kRunning);
  EXPECT_EQ(ctx->pc, ctx->image_base + 255);
  run_slice(*ctx);
  expect_ended_quietly();
}

TEST_F(InterpreterTest, EndlessLoopYieldsEverySlice) {
  Assembler a;
  a.label("loop").add_imm(1, 1).jmp("loop");
  a.load(*ctx);
  run_slice(*ctx);
  EXPECT_EQ(ctx->r[1], 128u);  // 128 adds and 127 jumps
  run_slice(*ctx);
  EXPECT_EQ(ctx->r[1], 255u);
  EXPECT_EQ(ctx->state, kRunning);
}

// ---- The call gate ----------------------------------------------------------------------------

struct GateLog {
  int calls = 0;
  std::uint32_t index = 0;
  std::uint32_t r2 = 0;
  Address pc = 0;
  std::uint32_t first_argument = 0;
  int result = 0;
};
GateLog g_gate_log;

int recording_gate(std::uint32_t index, ScriptContext& context) {
  ++g_gate_log.calls;
  g_gate_log.index = index;
  g_gate_log.r2 = context.r[2];
  g_gate_log.pc = context.pc;
  load(context.r[7] + 4, g_gate_log.first_argument);
  context.r[0] = 1000 + index;  // the built-in's result
  return g_gate_log.result;
}

TEST_F(InterpreterTest, TrapCallsGateAndContinuesWhenItReturnsZero) {
  for (int result : {0, 1}) {
    reset();
    g_gate_log = GateLog{};
    g_gate_log.result = result;
    set_gate(recording_gate);
    Assembler a;
    a.movl_imm(2, 22).push_imm(0).push_imm(0x51).push_imm(0).trap(300).label("after").movl(3, 0).add_imm(4, 1);
    halt(a);
    a.load(*ctx);
    run_slice(*ctx);
    EXPECT_EQ(g_gate_log.calls, 1);
    EXPECT_EQ(g_gate_log.index, 300u);
    EXPECT_EQ(g_gate_log.r2, 22u) << "the gate sees registers written earlier in the slice";
    EXPECT_EQ(g_gate_log.pc, a.address_of("after", ctx->image_base));
    EXPECT_EQ(g_gate_log.first_argument, 0x51u);
    EXPECT_EQ(ctx->r[0], 1300u);
    if (result == 0) {
      EXPECT_EQ(ctx->r[3], 1300u) << "the slice goes on after the trap";
      expect_ended_quietly();
    } else {
      EXPECT_EQ(ctx->r[3], 0u) << "a yielding built-in ends the slice";
      EXPECT_EQ(ctx->pc, a.address_of("after", ctx->image_base));
      EXPECT_EQ(ctx->state, kRunning);
      run_slice(*ctx);
      EXPECT_EQ(ctx->r[3], 1300u) << "the next slice resumes after the trap";
    }
  }
}

TEST_F(InterpreterTest, YieldingTrapAsFirstInstructionRunsOnlyThatInstruction) {
  g_gate_log = GateLog{};
  g_gate_log.result = 1;
  set_gate(recording_gate);
  Assembler a;
  a.trap(1).add_imm(4, 1);
  halt(a);
  a.load(*ctx);
  run_slice(*ctx);
  EXPECT_EQ(g_gate_log.calls, 1);
  EXPECT_EQ(ctx->pc, ctx->image_base + 3);
  EXPECT_EQ(ctx->r[4], 0u);
}

TEST_F(InterpreterTest, GateThatStopsContextEndsSlice) {
  set_gate([](std::uint32_t, ScriptContext& context) {
    context.state = kStopped;  // what exit does
    return 0;
  });
  Assembler a;
  a.trap(2).add_imm(4, 1);
  halt(a);
  run(a);
  EXPECT_EQ(ctx->state, kStopped);
  EXPECT_EQ(ctx->r[4], 0u);
}

TEST_F(InterpreterTest, TrapWithoutConnectedBuiltinsStopsWithMessage) {
  Assembler a;
  a.trap(5);
  halt(a);
  run(a);
  EXPECT_EQ(ctx->state, kStopped);
  EXPECT_EQ(g_stop_flag.load(), 1u);
  ASSERT_EQ(reported_messages().size(), 1u);
  EXPECT_NE(reported_messages()[0].find("no built-in functions"), std::string::npos);
}

// ---- The stop flag ----------------------------------------------------------------------------

TEST_F(InterpreterTest, StopFlagPreventsSlice) {
  Assembler a;
  a.add_imm(1, 1);
  halt(a);
  a.load(*ctx);
  g_stop_flag.store(1);
  run_slice(*ctx);
  EXPECT_EQ(ctx->pc, ctx->image_base);
  EXPECT_EQ(ctx->r[1], 0u);
  EXPECT_EQ(ctx->state, kRunning);
}

TEST_F(InterpreterTest, StopFlagSetByAnotherThreadDuringSliceEndsIt) {
  // The built-in has another thread raise the flag and waits for it, as a shutdown would.
  set_gate([](std::uint32_t, ScriptContext&) {
    std::thread([] { g_stop_flag.store(1); }).join();
    return 0;
  });
  Assembler a;
  a.movl_imm(1, 1).trap(0).movl_imm(2, 2);
  halt(a);
  a.load(*ctx);
  run_slice(*ctx);
  EXPECT_EQ(ctx->r[1], 1u);
  EXPECT_EQ(ctx->r[2], 0u) << "the slice returned right after the trap";
  EXPECT_EQ(ctx->state, kRunning) << "the flag stops the thread, not the context";
}

TEST_F(InterpreterTest, StopFlagFromAnotherThreadStopsEndlessProgram) {
  Assembler a;
  a.label("loop").add_imm(1, 1).jmp("loop");
  a.load(*ctx);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    g_stop_flag.store(1);
  });
  long slices = 0;
  while (g_stop_flag.load() == 0) {
    run_slice(*ctx);
    ++slices;
  }
  stopper.join();
  const std::uint32_t count = ctx->r[1];
  run_slice(*ctx);
  EXPECT_EQ(ctx->r[1], count) << "no instruction runs once the flag is set";
  EXPECT_EQ(ctx->state, kRunning);
  EXPECT_GT(slices, 0);
}

// ---- Runtime errors ---------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  void (*program)(Assembler&);
  int code;
};

const ErrorCase kErrorCases[] = {
    {"div by zero", [](Assembler& a) { a.movl_imm(1, 10).alu(op_div, 1, 2); }, kDivideByZero},
    {"mod by zero", [](Assembler& a) { a.movl_imm(1, 10).alu(op_mod, 1, 2); }, kDivideByZero},
    {"call through 0", [](Assembler& a) { a.movl_imm(1, 10).call_reg(2); }, kOutOfMemory},
    {"load through null", [](Assembler& a) { a.movl_imm(1, 10).load_reg(op_load_l_m, 1, 2); }, kOutOfMemory},
    {"pop of empty stack", [](Assembler& a) { a.movl_imm(1, 10).pop(1); }, kStackOverflow},
    {"opcode 92", [](Assembler& a) { a.movl_imm(1, 10).bytes({92}); }, kInvalidCode},
    {"register 8", [](Assembler& a) { a.movl_imm(1, 10).op_rr(op_mov_rr, 1, 8); }, kInvalidCode},
};

TEST_F(InterpreterTest, RuntimeErrorsReportByLevelAndAlwaysStop) {
  for (std::int32_t level : {0, 1, 2}) {
    for (const ErrorCase& c : kErrorCases) {
      reset();
      shell::config().error = level;
      Assembler a;
      c.program(a);
      a.movl_imm(1, 99);
      halt(a);
      run(a);
      EXPECT_EQ(ctx->state, kStopped) << c.name;
      EXPECT_EQ(g_stop_flag.load(), 1u) << c.name;
      EXPECT_EQ(ctx->r[1], 10u) << c.name << ": the failing instruction changes nothing";
      if (level == 0) {
        EXPECT_TRUE(reported_messages().empty()) << c.name;
      } else {
        ASSERT_EQ(reported_messages().size(), 1u) << c.name;
        EXPECT_EQ(reported_messages()[0], runtime_error_message(c.code)) << c.name;
      }
    }
  }
}

TEST_F(InterpreterTest, RuntimeErrorMessages) {
  EXPECT_STREQ(runtime_error_message(0), "Divide by zero error.");
  EXPECT_STREQ(runtime_error_message(1), "Out of memory error");
  EXPECT_STREQ(runtime_error_message(2), "Stack overflow error.");
  EXPECT_STREQ(runtime_error_message(3), "Invalid code error");
}

TEST_F(InterpreterTest, EveryOpcodeAbove91IsInvalid) {
  for (int op = kOpcodeCount; op <= 255; ++op) {
    reset();
    Assembler a;
    a.bytes({static_cast<std::uint8_t>(op), 0x11, 0, 0, 0, 0});
    halt(a);
    run(a);
    expect_runtime_error(kInvalidCode);
    EXPECT_EQ(ctx->pc, ctx->image_base + 1) << op;
  }
}

TEST_F(InterpreterTest, RegisterFieldsAbove7AreInvalid) {
  struct Case {
    Op op;
    int d, s;
  };
  const Case cases[] = {{op_mov_rr, 8, 1},     {op_mov_rr, 1, 15},   {op_add_rr, 12, 12},
                        {op_push_r, 9, 9},     {op_pop_r, 8, 7},     {op_load_l_m, 1, 10},
                        {op_store_l_m, 11, 1}, {op_call_r, 13, 13},  {op_fadd, 0, 14},
                        {op_preinc_b, 1, 8},   {op_xchg, 15, 0}};
  for (const Case& c : cases) {
    reset();
    Assembler a;
    a.op_rr(c.op, c.d, c.s);
    halt(a);
    run(a);
    expect_runtime_error(kInvalidCode);
  }
  // The register byte of a six-byte form is checked as well.
  reset();
  Assembler a;
  a.op_rr_imm(op_mov_ri, 8, 8, 5);
  halt(a);
  run(a);
  expect_runtime_error(kInvalidCode);
}

// ---- The null guard ---------------------------------------------------------------------------

struct GuardCase {
  const char* name;
  void (*program)(Assembler&);
};

// r2 = 0 (null), r6 = 0x10000 (frame just above the guard), r3 = 0x1234.
const GuardCase kGuardCases[] = {
    {"movbl sym", [](Assembler& a) { a.load_sym(op_load_b_s, 1, 0u); }},
    {"movsbl sym", [](Assembler& a) { a.load_sym(op_load_sb_s, 1, 0xFFFFu); }},
    {"movwl sym", [](Assembler& a) { a.load_sym(op_load_w_s, 1, 0xFFFFu); }},
    {"movswl sym", [](Assembler& a) { a.load_sym(op_load_sw_s, 1, 16u); }},
    {"movl sym", [](Assembler& a) { a.load_sym(op_load_l_s, 1, 0xFFFCu); }},
    {"movbl frame", [](Assembler& a) { a.load_frame(op_load_b_f, 1, -1); }},
    {"movsbl frame", [](Assembler& a) { a.load_frame(op_load_sb_f, 1, -0x10000); }},
    {"movwl frame", [](Assembler& a) { a.load_frame(op_load_w_f, 1, -2); }},
    {"movswl frame", [](Assembler& a) { a.load_frame(op_load_sw_f, 1, -2); }},
    {"movl frame", [](Assembler& a) { a.load_frame(op_load_l_f, 1, -4); }},
    {"movbl (r)", [](Assembler& a) { a.load_reg(op_load_b_m, 1, 2); }},
    {"movsbl (r)", [](Assembler& a) { a.load_reg(op_load_sb_m, 1, 2); }},
    {"movwl (r)", [](Assembler& a) { a.load_reg(op_load_w_m, 1, 2); }},
    {"movswl (r)", [](Assembler& a) { a.load_reg(op_load_sw_m, 1, 2); }},
    {"movl (r)", [](Assembler& a) { a.load_reg(op_load_l_m, 1, 2); }},
    {"movb sym", [](Assembler& a) { a.store_sym(op_store_b_s, 0u, 3); }},
    {"movw sym", [](Assembler& a) { a.store_sym(op_store_w_s, 0x8000u, 3); }},
    {"movl sym", [](Assembler& a) { a.store_sym(op_store_l_s, 0xFFFFu, 3); }},
    {"movb frame", [](Assembler& a) { a.store_frame(op_store_b_f, -1, 3); }},
    {"movw frame", [](Assembler& a) { a.store_frame(op_store_w_f, -8, 3); }},
    {"movl frame", [](Assembler& a) { a.store_frame(op_store_l_f, -4, 3); }},
    {"movb (r)", [](Assembler& a) { a.store_reg(op_store_b_m, 2, 3); }},
    {"movw (r)", [](Assembler& a) { a.store_reg(op_store_w_m, 2, 3); }},
    {"movl (r)", [](Assembler& a) { a.store_reg(op_store_l_m, 2, 3); }},
    {"preop", [](Assembler& a) { a.preop(1, 2, 4); }},
    {"postop", [](Assembler& a) { a.postop(1, 2, 4); }},
    {"preinc byte", [](Assembler& a) { a.incdec(op_preinc_b, 1, 2); }},
    {"postinc byte", [](Assembler& a) { a.incdec(op_postinc_b, 1, 2); }},
    {"predec byte", [](Assembler& a) { a.incdec(op_predec_b, 1, 2); }},
    {"postdec byte", [](Assembler& a) { a.incdec(op_postdec_b, 1, 2); }},
    {"preinc word", [](Assembler& a) { a.incdec(op_preinc_w, 1, 2); }},
    {"postinc word", [](Assembler& a) { a.incdec(op_postinc_w, 1, 2); }},
    {"predec word", [](Assembler& a) { a.incdec(op_predec_w, 1, 2); }},
    {"postdec word", [](Assembler& a) { a.incdec(op_postdec_w, 1, 2); }},
    {"zerob sym", [](Assembler& a) { a.zero(op_zero_b_s, 0u); }},
    {"zerow sym", [](Assembler& a) { a.zero(op_zero_w_s, 0x100u); }},
    {"zerol sym", [](Assembler& a) { a.zero(op_zero_l_s, 0xFFFFu); }},
    {"zerob frame", [](Assembler& a) { a.zero(op_zero_b_f, -1); }},
    {"zerow frame", [](Assembler& a) { a.zero(op_zero_w_f, -2); }},
    {"zerol frame", [](Assembler& a) { a.zero(op_zero_l_f, 0xFFFF0000u); }},  // wraps to 0
    {"jump into the guard", [](Assembler& a) { a.jmp(0x100u); }},
    {"call into the guard", [](Assembler& a) { a.call(0u); }},
};

TEST_F(InterpreterTest, NullGuardAccessIsScriptFault) {
  for (const GuardCase& c : kGuardCases) {
    reset();
    Assembler a;
    c.program(a);
    a.movl_imm(4, 1);
    halt(a);
    ctx->r[1] = 0xAAAA;
    ctx->r[3] = 0x1234;
    ctx->r[6] = 0x10000;
    ctx->z = 1;
    run(a);
    SCOPED_TRACE(c.name);
    expect_runtime_error(kOutOfMemory);
    EXPECT_EQ(ctx->r[1], 0xAAAAu) << "nothing loaded";
    EXPECT_EQ(ctx->r[4], 0u) << "execution stopped";
    EXPECT_EQ(ctx->z, 1);
  }
}

// Code at the very top of the space runs on into address 0 and faults there, however pc got
// there: by a jump, a return, the context's own pc, or by running straight through from lower
// addresses over several slices.
TEST_F(InterpreterTest, RunningOffTheTopOfTheSpaceFaultsAtZero) {
  constexpr Address kTopCode = 0xFFFFFFF8u;  // movl r1, $7 (6 bytes), then two nops
  struct TopCase {
    const char* name;
    Address start;  // where the context's pc starts; 0 means the image base
    void (*program)(Assembler&);
  };
  const TopCase cases[] = {
      {"jump", 0, [](Assembler& a) { a.jmp(kTopCode); }},
      {"return", 0, [](Assembler& a) { a.push_imm(0u).push_imm(kTopCode).ret(); }},  // the top word never pops
      {"slice start", kTopCode, [](Assembler&) {}},
      {"straight run", 0xFFFFF000u, [](Assembler&) {}},
  };
  for (const TopCase& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    std::uint8_t* top = checked_pointer(0xFFFFF000u, 0x1000);
    ASSERT_NE(top, nullptr);
    std::memset(top, 0, 0x1000);  // nops
    const std::uint8_t code[] = {op_mov_ri, 0x01, 7, 0, 0, 0, op_nop, op_nop};
    std::memcpy(top + (kTopCode - 0xFFFFF000u), code, sizeof code);
    Assembler a;
    c.program(a);
    halt(a);
    a.load(*ctx);
    if (c.start != 0) ctx->pc = c.start;
    run_loaded();
    expect_runtime_error(kOutOfMemory);
    EXPECT_EQ(ctx->r[1], 7u);
    EXPECT_EQ(ctx->pc, 0u);
  }
}

TEST_F(InterpreterTest, SliceStartingInTheGuardFaultsWithoutRunning) {
  ctx->pc = 0x100;
  run_slice(*ctx);
  expect_runtime_error(kOutOfMemory);
  EXPECT_EQ(ctx->pc, 0x100u);
}

}  // namespace
}  // namespace talven::vm
