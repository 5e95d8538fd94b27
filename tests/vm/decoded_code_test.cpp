// The interpreter runs decoded copies of the code: rewritten code must run as written, groups of
// instructions that run as one must still stop a slice and fault exactly where single steps do.
#include <functional>
#include <thread>

#include "interpreter_fixture.h"

namespace talven::vm {
namespace {

using test::Assembler;
using test::Operand;

TEST_F(InterpreterTest, StoreIntoTheRunningBlockChangesTheNextInstruction) {
  // The store rewrites the immediate of the movl two instructions on, in the same straight run.
  Assembler a;
  a.movl_imm(1, 77)
      .store_sym(op_store_l_s, Operand("patched", 2), 1)
      .label("patched")
      .movl_imm(2, 5)
      .movl(3, 2);
  halt(a);
  run(a);
  expect_ended_quietly();
  EXPECT_EQ(ctx->r[2], 77u);
  EXPECT_EQ(ctx->r[3], 77u);
}

TEST_F(InterpreterTest, LoopBodyRewrittenAfterItRanRunsTheNewCode) {
  // Turn 1 adds 1 to r1 and then patches the add's immediate to 100; turn 2 must add 100.
  // The patch goes through each store form that can reach code.
  struct Case {
    const char* name;
    void (*patch)(Assembler&);
  };
  const Case cases[] = {
      {"absolute store", [](Assembler& a) { a.movl_imm(4, 100).store_sym(op_store_l_s, Operand("body", 2), 4); }},
      {"store through register",
       [](Assembler& a) { a.movl_imm(4, 100).movl_addr(5, Operand("body", 2)).store_reg(op_store_l_m, 5, 4); }},
      {"byte store", [](Assembler& a) { a.movl_imm(4, 100).movl_addr(5, Operand("body", 2)).store_reg(op_store_b_m, 5, 4); }},
      {"increment in memory",
       [](Assembler& a) { a.movl_addr(5, Operand("body", 2)).postop(4, 5, 99); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    Assembler a;
    a.movl_imm(1, 0).movl_imm(2, 2).label("loop").label("body").add_imm(1, 1);
    c.patch(a);
    a.sub_imm(2, 1).jump(op_jne, "loop");
    halt(a);
    run(a);
    expect_ended_quietly();
    EXPECT_EQ(ctx->r[1], 101u);
  }
}

TEST_F(InterpreterTest, BuiltinThatRewritesCodeIsSeenAfterItReturns) {
  // The built-in patches the movl that follows the trap, and another one that already ran.
  static Address g_patch_a = 0, g_patch_b = 0;
  Assembler a;
  a.label("top")
      .label("early")
      .movl_imm(1, 1)
      .cmp_imm(3, 1)
      .jump(op_je, "done")
      .trap(9)
      .label("late")
      .movl_imm(2, 2)
      .movl_imm(3, 1)
      .jmp("top")
      .label("done");
  halt(a);
  g_patch_a = a.address_of("late", ctx->image_base) + 2;
  g_patch_b = a.address_of("early", ctx->image_base) + 2;
  set_gate([](std::uint32_t, ScriptContext&) {
    EXPECT_TRUE(store<std::uint32_t>(g_patch_a, 222));
    EXPECT_TRUE(store<std::uint32_t>(g_patch_b, 111));
    return 0;
  });
  run(a);
  expect_ended_quietly();
  EXPECT_EQ(ctx->r[2], 222u);
  EXPECT_EQ(ctx->r[1], 111u);
}

TEST_F(InterpreterTest, ReloadedImageRunsItsOwnCode) {
  // A freed image's address is usually handed out again; its new code is written without any
  // notice, as a loader outside the interpreter might.
  Assembler first;
  first.movl_imm(1, 1);
  halt(first);
  Assembler second;
  second.movl_imm(1, 2);
  halt(second);
  for (int turn = 0; turn < 3; ++turn) {
    reset();
    const Assembler& program = turn % 2 == 0 ? first : second;
    std::vector<std::uint8_t> bytes = program.assemble(ctx->image_base);
    std::memcpy(host_pointer(ctx->image_base), bytes.data(), bytes.size());
    run_loaded();
    expect_ended_quietly();
    EXPECT_EQ(ctx->r[1], turn % 2 == 0 ? 1u : 2u);
  }
}

TEST_F(InterpreterTest, StoreFromAnotherThreadIntoDecodedCodeIsSeen) {
  // This thread runs a loop that keeps adding r5's immediate; another thread's script rewrites it.
  Assembler a;
  a.movl_imm(1, 0).label("loop").label("add").add_imm(1, 1).cmp_imm(1, 1000).jump(op_jb, "loop");
  halt(a);
  a.load(*ctx);
  run_slice(*ctx);  // the loop is decoded and running
  ASSERT_EQ(ctx->state, kRunning);
  const Address patch = a.address_of("add", ctx->image_base) + 2;

  std::thread writer([&] {
    ScriptContext* other = create_context(64, kStackSize);
    ASSERT_NE(other, nullptr);
    Assembler w;
    w.movl_imm(1, 1000).store_sym(op_store_l_s, patch, 1);
    halt(w);
    w.load(*other);
    while (other->state == kRunning) run_slice(*other);
    EXPECT_EQ(other->state, kEnded);
    free_context(other);
  });
  writer.join();
  const std::uint32_t before = ctx->r[1];
  ASSERT_LT(before, 1000u);
  run_loaded();
  expect_ended_quietly();
  EXPECT_EQ(ctx->r[1], before + 1000u) << "the old immediate ran after the store";
}

// Machine state after a slice, with addresses taken relative to the image and the stack so that
// two runs in different contexts compare.
struct SliceState {
  std::vector<std::uint32_t> words;
  std::vector<std::uint8_t> memory;
  bool operator==(const SliceState&) const = default;
};

std::vector<SliceState> run_by_slices(ScriptContext& c, const Assembler& program, const SliceRun& run = {},
                                      int calls = 10000) {
  program.load(c);
  auto relative = [&](std::uint32_t v) {
    if (v - c.image_base < c.image_size) return v - c.image_base + 0x10000000u;
    if (v - c.stack_base <= c.stack_size) return v - c.stack_base + 0x20000000u;
    return v;
  };
  std::vector<SliceState> states;
  for (int call = 0; call < calls && c.state == kRunning && g_stop_flag.load() == 0; ++call) {
    run_slice(c, run);
    SliceState s;
    for (std::uint32_t v : c.r) s.words.push_back(relative(v));
    s.words.insert(s.words.end(), {relative(c.pc), c.state, c.z, c.l, c.b});
    const std::uint8_t* image = host_pointer(c.image_base);
    const std::uint8_t* stack = host_pointer(c.stack_base);
    s.memory.assign(image, image + c.image_size);
    s.memory.insert(s.memory.end(), stack, stack + c.stack_size);
    states.push_back(std::move(s));
  }
  return states;
}

// Runs `program` decoding one instruction at a time and then from decoded blocks, with a few
// lengths, and compares the state after every slice.
template <typename Program>
void expect_same_slices(InterpreterTest& test, Program program,
                        std::uint32_t image_size = InterpreterTest::kImageSize) {
  for (std::uint32_t turns : {3u, 40u, 300u}) {
    SCOPED_TRACE(turns);
    test.reset(image_size);
    set_decoding(false);
    const std::vector<SliceState> reference = run_by_slices(*test.ctx, program(turns, test.ctx->image_base));
    set_decoding(true);
    test.reset(image_size);
    const std::vector<SliceState> decoded = run_by_slices(*test.ctx, program(turns, test.ctx->image_base));
    test.expect_ended_quietly();
    ASSERT_EQ(decoded.size(), reference.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      ASSERT_EQ(decoded[i].words, reference[i].words) << "slice " << i;
      ASSERT_TRUE(decoded[i].memory == reference[i].memory) << "slice " << i;
    }
  }
}

// Loops made of the groups the decoder forms, calls, a store into the loop's own code and
// a few instructions that run through the byte handlers: the state after every slice must be
// that of a run that decodes one instruction at a time.
TEST_F(InterpreterTest, DecodedRunMatchesSingleStepsAfterEverySlice) {
  const Address data = 2048, table = 2560;  // image offsets
  auto program = [&](std::uint32_t turns, Address image) {
    Assembler a;
    a.equ("image", image);
    a.enter(24)
        .movl_imm(0, 0).store_frame(op_store_l_f, -24, 0)
        .movl_imm(0, 7).store_frame(op_store_l_f, -28, 0)
        .label("loop")
        .movl_imm(0, turns).load_frame(op_load_l_f, 2, -24).alu(op_sub_rr, 2, 0).jump(op_jge, "done")
        .movl_imm(0, 1).load_frame(op_load_l_f, 2, -24).movl_addr(3, Operand("image", data)).alu(op_add_rr, 3, 2)
        .store_reg(op_store_b_m, 3, 0)
        .load_frame(op_load_l_f, 0, -24).load_frame(op_load_l_f, 2, -28).alu(op_add_rr, 2, 0)
        .store_frame(op_store_l_f, -28, 2)
        .load_frame(op_load_l_f, 0, -24).load_frame(op_load_l_f, 2, -28).alu(op_xor, 2, 0)
        .store_frame(op_store_l_f, -32, 2)
        .movl_imm(0, 3).load_frame(op_load_l_f, 2, -28).alu(op_sub_rr, 2, 0).store_frame(op_store_l_f, -40, 2)
        .load_frame(op_load_l_f, 0, -40).load_frame(op_load_l_f, 2, -28).alu(op_fsub, 2, 0).store_frame(op_store_l_f, -44, 2)
        .load_frame(op_load_l_f, 0, -44).load_frame(op_load_l_f, 2, -32).alu(op_mul, 2, 0).cmp_imm(2, 5)
        .movl_imm(0, 5).load_frame(op_load_l_f, 2, -24).alu(op_sub_rr, 0, 2).jump(op_jl, "past").label("past")
        .movl_imm(0, 77).load_frame(op_load_l_f, 2, -24).movl_addr(3, Operand("image", data)).alu(op_add_rr, 3, 2)
        .store_reg(op_store_l_m, 3, 0)
        .movl_imm(0, 3).load_frame(op_load_l_f, 2, -24).movl_addr(3, Operand("image", data)).alu(op_add_rr, 3, 2)
        .store_reg(op_store_b_m, 3, 4)
        .movl_imm(0, 4).load_frame(op_load_l_f, 2, -24).alu(op_mul, 2, 0).movl_addr(1, Operand("image", table))
        .alu(op_add_rr, 1, 2).store_reg(op_store_l_m, 1, 2)
        .movl_imm(0, 4).load_frame(op_load_l_f, 2, -24).alu(op_mul, 2, 0).movl_addr(1, Operand("image", table))
        .alu(op_add_rr, 1, 2).load_reg(op_load_l_m, 4, 1)
        .movl_imm(0, 9).load_frame(op_load_l_f, 2, -24).movl_addr(3, Operand("image", data)).alu(op_add_rr, 3, 2)
        .store_reg(op_store_l_m, 3, 4)
        .load_frame(op_load_l_f, 1, -24).cmp_imm(1, 5).jump(op_jne, "skip")
        .call("function")
        .push(2).xchg(0, 2).call("leaf").argument_marker(1)
        .push(1).call("leaf").argument_marker(1)
        .label("skip")
        .call("hop")  // returns past the movl: the return address is not the one the call pushed
        .movl_imm(4, 12345)
        .label("hop_back")
        .op_rr_imm(op_lea_f, 0, 6, -24).postop(0, 0, 1)
        .label("patched").movl_imm(5, 0).alu(op_add_rr, 4, 5).store_frame(op_store_l_f, -36, 4)
        .load_frame(op_load_l_f, 1, -24).store_sym(op_store_l_s, Operand("patched", 2), 1)
        .alu(op_shl, 4, 1).incdec(op_postinc_b, 5, 3).zero(op_zero_l_f, -36)
        .jmp("loop")
        .label("done");
    halt(a);
    a.label("hop").pop(5).push_imm("hop_back").ret();
    a.label("leaf").load_frame(op_load_l_f, 5, -24).alu(op_add_rr, 5, 0).ret();
    a.label("function").enter(8).push(3).movl_imm(3, 3).alu(op_div, 4, 3).pop(3).leave(8).ret();
    return a;
  };
  expect_same_slices(*this, program);
}

// Loops with a `switch` compare chain, calls, a short loop and instructions that name r6 and r7:
// what decoded blocks are built to run fast.
Assembler loops_chains_and_calls(std::uint32_t turns, Address image) {
  Assembler a;
  a.equ("image", image);
  a.enter(24)
      .movl_imm(0, 0).store_frame(op_store_l_f, -24, 0)
      .movl_imm(0, 0).store_frame(op_store_l_f, -28, 0)
      .movl_imm(0, 0).store_frame(op_store_l_f, -32, 0)
      .label("top")
      .movl_imm(0, turns).load_frame(op_load_l_f, 2, -24).alu(op_sub_rr, 2, 0).jump(op_jge, "end")
      .load_frame(op_load_l_f, 1, -24).movl_imm(0, 3).alu(op_and, 1, 0)
      .cmp_imm(1, 0).jump(op_jne, "case1")
      .load_frame(op_load_l_f, 0, -28).load_frame(op_load_l_f, 2, -24).alu(op_add_rr, 2, 0)
      .store_frame(op_store_l_f, -28, 2).jmp("next")
      .label("case1").cmp_imm(1, 1).jump(op_jne, "case2")
      .call("leaf").store_frame(op_store_l_f, -28, 5).jmp("next")
      .label("case2").cmp_imm(1, 2).jump(op_jne, "case3")
      .push(1).xchg(0, 1).call("leaf").argument_marker(1).store_frame(op_store_l_f, -28, 5).jmp("next")
      .label("case3")
      .load_frame(op_load_l_f, 0, -24).load_frame(op_load_l_f, 2, -28).alu(op_xor, 2, 0)
      .store_frame(op_store_l_f, -28, 2)
      .label("next")
      // A short loop that fits several times into one block: i & 7 turns.
      .load_frame(op_load_l_f, 1, -24).movl_imm(0, 7).alu(op_and, 1, 0).store_frame(op_store_l_f, -36, 1)
      .movl_imm(0, 0).store_frame(op_store_l_f, -40, 0)
      .label("inner")
      .load_frame(op_load_l_f, 0, -36).load_frame(op_load_l_f, 2, -40).alu(op_sub_rr, 2, 0).jump(op_jge, "inner_end")
      .op_rr_imm(op_lea_f, 0, 6, -32).postop(0, 0, 3)
      .op_rr_imm(op_lea_f, 0, 6, -40).postop(0, 0, 1)
      .jmp("inner")
      .label("inner_end")
      // r6 written and r7 named by instructions that records leave to the byte handlers.
      .movl(1, 6).xchg(6, 4).load_frame(op_load_l_f, 3, -28).xchg(4, 6).movl(6, 1)
      .movl(1, 7).op_rr_imm(op_add_ri, 7, 7, 0xFFFFFFF8u).op_rr_imm(op_add_ri, 7, 7, 8).push(7).pop(1)
      .alu(op_add_rr, 3, 1).store_frame(op_store_l_f, -44, 3)
      .op_rr_imm(op_lea_f, 0, 6, -24).postop(0, 0, 1)
      .jmp("top")
      .label("end");
  InterpreterTest::halt(a);
  a.label("leaf").load_frame(op_load_l_f, 5, -28).alu(op_add_rr, 5, 0).ret();
  return a;
}

// Blocks that go on past conditional jumps, run small loops several turns at a time, follow a
// `switch` compare chain and run on into the code of the functions they call.
TEST_F(InterpreterTest, DecodedLoopsChainsAndCallsMatchSingleSteps) {
  expect_same_slices(*this, loops_chains_and_calls);
}

// Slices that run on inside one call end in the state that slices one call at a time reach; with
// `go_on` false, or after a built-in call, a call runs one slice exactly as without.
// The loads and stores through a register that groups take, and what a load may go on with.
constexpr std::uint8_t kLoadsThrough[] = {op_load_b_m, op_load_sb_m, op_load_w_m, op_load_sw_m, op_load_l_m};
constexpr std::uint8_t kStoresThrough[] = {op_store_b_m, op_store_w_m, op_store_l_m};

// The ways variables give an address: a pointer variable, the same plus a constant, a pointer
// variable stepped on after its old value is taken, an element of a byte array or of a short array
// by an index variable, and an element of bytes or shorts that a pointer variable and an index
// variable name, and an element of bytes or shorts by an index that earlier instructions left in a
// register (`other`; for shorts r0 holds the element size, see prepare_index). `variable` is the
// pointer variable, or the index variable of an array; `index` the index variable that goes with
// a pointer variable. The address ends up in `pointer`; `other` is the form's second register
// (the walk's lea, the index, or the pointer), r0 its constant.
enum class PointerForm { ptr, field, walk, elem1, elem, at1, at, idx1, idx };
constexpr PointerForm kPointerForms[] = {PointerForm::ptr, PointerForm::field, PointerForm::walk,
                                         PointerForm::elem1, PointerForm::elem, PointerForm::at1,
                                         PointerForm::at, PointerForm::idx1, PointerForm::idx};
void emit_address(Assembler& a, PointerForm form, std::int32_t variable, int pointer, int other,
                  std::int32_t step = 1, std::int32_t index = 0, const Operand& array = 0u) {
  switch (form) {
    case PointerForm::ptr: a.load_frame(op_load_l_f, pointer, variable); break;
    case PointerForm::field:
      a.movl_imm(0, 2).load_frame(op_load_l_f, pointer, variable).alu(op_add_rr, pointer, 0);
      break;
    case PointerForm::walk: a.op_rr_imm(op_lea_f, other, 6, variable).postop(pointer, other, step); break;
    case PointerForm::elem1:
      a.load_frame(op_load_l_f, other, variable).movl_addr(pointer, array).alu(op_add_rr, pointer, other);
      break;
    case PointerForm::elem:
      a.movl_imm(0, 2).load_frame(op_load_l_f, other, variable).alu(op_mul, other, 0).movl_addr(pointer, array)
          .alu(op_add_rr, pointer, other);
      break;
    case PointerForm::at1:
      a.load_frame(op_load_l_f, other, variable).load_frame(op_load_l_f, pointer, index).alu(op_add_rr, pointer, other);
      break;
    case PointerForm::at:
      a.load_frame(op_load_l_f, other, variable).movl_imm(0, 2).load_frame(op_load_l_f, pointer, index)
          .alu(op_mul, pointer, 0).alu(op_add_rr, pointer, other);
      break;
    case PointerForm::idx1: a.movl_addr(pointer, array).alu(op_add_rr, pointer, other); break;
    case PointerForm::idx: a.alu(op_mul, other, 0).movl_addr(pointer, array).alu(op_add_rr, pointer, other); break;
  }
}
// The forms of an index already in a register: no variable of their own.
bool register_index_form(PointerForm form) { return form == PointerForm::idx1 || form == PointerForm::idx; }
// Puts the index variable into `other` (and the element size of shorts into r0) for those forms,
// through a register move that keeps the load out of the form.
void prepare_index(Assembler& a, PointerForm form, std::int32_t variable, int other) {
  if (!register_index_form(form)) return;
  a.load_frame(op_load_l_f, other, variable).movl(other, other);
  if (form == PointerForm::idx) a.movl_imm(0, 2);
}
// Whether a form's own registers may be one: only the forms of a single pointer variable.
bool one_register_form(PointerForm form) {
  return form == PointerForm::ptr || form == PointerForm::field || form == PointerForm::walk;
}

// Pointer variables walked over bytes, shorts and words in every form and width, loads tested
// against constants, pointers chased, register compares and zero tests of every width, and the
// instructions that records run alone: the state after every slice must be that of single steps.
constexpr std::uint32_t kWalksImage = 32768, kWalksData = 28672;
Assembler pointer_walks(std::uint32_t turns, Address image) {
  constexpr std::uint32_t kData = kWalksData;
  Assembler a;
  a.equ("image", image);
  a.enter(48)
      .movl_imm(0, 0).store_frame(op_store_l_f, -24, 0)
      .label("top")
      .movl_imm(0, turns).load_frame(op_load_l_f, 2, -24).alu(op_sub_rr, 2, 0).jump(op_jge, "end")
      // p = data + (i & 63), q = data + 128 + (i & 31), r4 = a value that changes every turn
      .load_frame(op_load_l_f, 1, -24).movl_imm(0, 63).alu(op_and, 1, 0).movl_addr(3, Operand("image", kData))
      .alu(op_add_rr, 3, 1).store_frame(op_store_l_f, -28, 3)
      .load_frame(op_load_l_f, 1, -24).movl_imm(0, 31).alu(op_and, 1, 0).movl_addr(3, Operand("image", kData + 128))
      .alu(op_add_rr, 3, 1).store_frame(op_store_l_f, -32, 3)
      .load_frame(op_load_l_f, 4, -24).movl_imm(0, 0x9E3779B1u).alu(op_mul, 4, 0);
  int n = 0;
  // The index variable of arrays (i & 31) and the array of shorts.
  a.load_frame(op_load_l_f, 1, -24).movl_imm(0, 31).alu(op_and, 1, 0).store_frame(op_store_l_f, -44, 1);
  for (PointerForm form : kPointerForms) {
    const bool array = form == PointerForm::elem1 || form == PointerForm::elem || register_index_form(form);
    const std::int32_t variable = form == PointerForm::walk ? -32 : array ? -44 : -28;
    // `prepared`: the index is in place already, put there before a value moved in for a store.
    auto address = [&](int pointer, int other, std::int32_t step = 1, bool prepared = false) {
      if (!prepared) prepare_index(a, form, variable, other);
      emit_address(a, form, variable, pointer, other, step, -44, Operand("image", kData + 160));
    };
    for (std::uint8_t store : kStoresThrough) {
      address(2, 1);
      a.store_reg(store, 2, 4).alu(op_add_rr, 4, 4);
      if (one_register_form(form)) {
        address(2, 2, -1);       // the walk's result in the register it stepped through
        a.store_reg(store, 2, 2);  // the address stores part of itself
      }
      prepare_index(a, form, variable, 1);
      a.movl_imm(3, 0x5A5A0000u + static_cast<std::uint32_t>(n++));  // a constant stored
      address(2, 1, 1, true);
      a.store_reg(store, 2, 3);
      prepare_index(a, form, variable, 1);
      a.load_frame(op_load_l_f, 3, -24);  // a variable stored
      address(2, 1, 1, true);
      a.store_reg(store, 2, 3);
    }
    for (std::uint8_t load : kLoadsThrough) {
      address(2, 1);
      a.load_reg(load, 3, 2).alu(op_xor, 5, 3);
      address(2, 1);
      a.load_reg(load, 2, 2).alu(op_add_rr, 5, 2);  // loaded into the address's own register
      for (std::uint8_t jcc : {op_je, op_jne}) {
        for (std::uint32_t constant : {0u, 1u}) {
          const std::string past = "past" + std::to_string(n++);
          address(2, 1);
          a.load_reg(load, 3, 2).cmp_imm(3, constant).jump(jcc, past).add_imm(5, n).label(past);
        }
      }
    }
    // p = *p as a list is walked: the word loaded goes on to a variable.
    address(2, 1);
    a.load_reg(op_load_l_m, 3, 2).store_frame(op_store_l_f, -36, 3);
  }
  // Register compares: sub and a jump, a variable against a register, two variables.
  a.load_frame(op_load_l_f, 1, -24).movl_imm(0, 3).alu(op_mul, 1, 0).alu(op_sub_rr, 1, 0).store_frame(op_store_l_f, -40, 1);
  for (std::uint8_t jcc = op_je; jcc <= op_jbe; ++jcc) {
    const std::string past = "cmp" + std::to_string(n++);
    a.movl(1, 4).alu(op_sub_rr, 1, 5).jump(jcc, past).add_imm(5, n).label(past);
    const std::string past2 = "cmp" + std::to_string(n++);
    a.movl(1, 4).load_frame(op_load_l_f, 2, -40).alu(op_sub_rr, 2, 1).jump(jcc, past2).add_imm(5, n).label(past2);
    const std::string past3 = "cmp" + std::to_string(n++);
    a.load_frame(op_load_l_f, 1, -24).load_frame(op_load_l_f, 2, -40).alu(op_sub_rr, 2, 1).jump(jcc, past3)
        .add_imm(5, n).label(past3);
  }
  // Zero tests of every width, alone and before je / jne.
  a.load_frame(op_load_l_f, 1, -24).movl_imm(0, 5).alu(op_and, 1, 0).store_frame(op_store_b_f, -37, 1)
      .store_frame(op_store_w_f, -38, 1);
  for (std::uint8_t zero : {op_zero_b_f, op_zero_w_f, op_zero_l_f}) {
    for (std::uint8_t jcc : {op_je, op_jne}) {
      const std::string past = "zero" + std::to_string(n++);
      a.zero(zero, -40).jump(jcc, past).add_imm(5, n).label(past);
    }
    a.cmp_imm(5, 1000).zero(zero, -37).jump(op_jl, "after" + std::to_string(n)).label("after" + std::to_string(n));
    ++n;
  }
  for (std::uint8_t zero : {op_zero_b_s, op_zero_w_s, op_zero_l_s}) {
    const std::string target = "z" + std::to_string(n++);
    a.zero(zero, Operand("image", kData + 1)).jump(op_je, target).label(target);
  }
  // Loads and stores of 8 and 16 bits through d(r6) and absolute addresses, memory steps and the
  // arithmetic that runs through no group.
  a.store_frame(op_store_b_f, -33, 5).store_frame(op_store_w_f, -35, 4)
      .load_frame(op_load_b_f, 1, -33).load_frame(op_load_sb_f, 2, -33).load_frame(op_load_w_f, 3, -35)
      .load_frame(op_load_sw_f, 0, -35).alu(op_add_rr, 5, 1).alu(op_add_rr, 5, 2).alu(op_add_rr, 5, 3).alu(op_xor, 5, 0)
      .store_sym(op_store_b_s, Operand("image", kData + 200), 5).store_sym(op_store_w_s, Operand("image", kData + 202), 4)
      .load_sym(op_load_b_s, 1, Operand("image", kData + 200)).load_sym(op_load_sb_s, 2, Operand("image", kData + 200))
      .load_sym(op_load_w_s, 3, Operand("image", kData + 202)).load_sym(op_load_sw_s, 0, Operand("image", kData + 202))
      .alu(op_add_rr, 5, 1).alu(op_sub_rr, 5, 2).alu(op_xor, 5, 3).alu(op_add_rr, 5, 0)
      .movl_addr(2, Operand("image", kData + 204)).store_reg(op_store_w_m, 2, 5)
      .load_reg(op_load_w_m, 1, 2).load_reg(op_load_sw_m, 3, 2).alu(op_add_rr, 5, 1).alu(op_add_rr, 5, 3);
  for (std::uint8_t step = op_preinc_b; step <= op_postdec_w; ++step) a.incdec(step, 1, 2).alu(op_xor, 5, 1);
  a.preop(1, 2, 3).alu(op_add_rr, 5, 1)
      .movl(1, 5).alu(op_set, 1, 1).alu(op_add_rr, 5, 1)
      .movl_imm(0, 7).movl(1, 5).alu(op_div, 1, 0).movl(3, 5).alu(op_mod, 3, 0).alu(op_add_rr, 1, 3)
      .movl(3, 4).alu(op_shl, 3, 1).movl(2, 4).alu(op_shr, 2, 1).alu(op_sar, 1, 4).alu(op_xor, 3, 2).alu(op_xor, 3, 1)
      .alu(op_neg, 1, 3).alu(op_not, 2, 1).alu(op_xor, 5, 2)
      .alu(op_itof, 1, 5).alu(op_fneg, 2, 1).alu(op_fmod, 1, 2).alu(op_ftoi, 3, 1).alu(op_add_rr, 5, 3).nop()
      .store_sym(op_store_l_s, Operand("image", kData + 208), 5)
      .op_rr_imm(op_lea_f, 0, 6, -24).postop(0, 0, 1)
      .jmp("top")
      .label("end");
  InterpreterTest::halt(a);
  return a;
}

TEST_F(InterpreterTest, DecodedPointerWalksMatchSingleSteps) {
  ASSERT_LE(pointer_walks(1, 0).size(), kWalksData);
  expect_same_slices(*this, pointer_walks, kWalksImage);
}

TEST_F(InterpreterTest, WalkThatRewritesItsOwnAccessRunsTheNewInstruction) {
  // The pointer variable lies over the access: the step turns `movbl r3, (r1)` (17) into
  // `movl r3, r1` (3), which must run as written, taking the pointer's old value.
  Assembler a;
  a.movl_addr(6, Operand("access", 8)).movl_imm(3, 0).label("group");
  emit_address(a, PointerForm::walk, -8, 1, 2, -14);
  a.label("access").load_reg(op_load_b_m, 3, 1).movl_imm(5, 1);
  halt(a);
  for (bool decoding : {false, true}) {
    SCOPED_TRACE(decoding);
    set_decoding(decoding);
    reset();
    a.load(*ctx);
    const std::uint32_t old = word(a.address_of("access", ctx->image_base));
    run_loaded();
    set_decoding(true);
    expect_ended_quietly();
    EXPECT_EQ(ctx->r[1], old);
    EXPECT_EQ(ctx->r[3], old);
    EXPECT_EQ(ctx->r[5], 1u);
  }
}

TEST_F(InterpreterTest, SlicesRunOnOnlyWhileTheLoopHasNothingToDo) {
  const std::vector<SliceState> reference = run_by_slices(*ctx, loops_chains_and_calls(300, ctx->image_base));
  expect_ended_quietly();
  ASSERT_GT(reference.size(), 40u);

  SliceRun always;
  always.slices = 16;
  always.go_on = [](const void*) { return true; };
  for (bool decoding : {true, false}) {  // without decoding every slice ends in the byte handlers
    SCOPED_TRACE(decoding);
    set_decoding(decoding);
    reset();
    const std::vector<SliceState> batched = run_by_slices(*ctx, loops_chains_and_calls(300, ctx->image_base), always);
    set_decoding(true);
    expect_ended_quietly();
    EXPECT_LE(batched.size(), reference.size() / 8);
    EXPECT_TRUE(batched.back() == reference.back());
  }

  SliceRun never = always;
  never.go_on = [](const void*) { return false; };
  reset();
  const std::vector<SliceState> held = run_by_slices(*ctx, loops_chains_and_calls(300, ctx->image_base), never);
  ASSERT_EQ(held.size(), reference.size());
  for (std::size_t i = 0; i < held.size(); ++i) ASSERT_TRUE(held[i] == reference[i]) << "slice " << i;

  // A built-in called in the first slice ends the call with that slice.
  set_gate([](std::uint32_t, ScriptContext&) { return 0; });
  auto with_call = [] {
    Assembler a;
    a.trap(7).label("spin").movl_imm(0, 1).alu(op_add_rr, 1, 0).jmp("spin");
    return a;
  };
  reset();
  const std::vector<SliceState> one = run_by_slices(*ctx, with_call(), SliceRun{}, 1);
  reset();
  const std::vector<SliceState> first = run_by_slices(*ctx, with_call(), always, 1);
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_TRUE(first[0] == one[0]);
  reset();
}

TEST_F(InterpreterTest, FaultInsideAGroupStopsAtTheFaultingPart) {
  // r6 is moved into the null guard, so every frame access faults; the parts before the fault
  // have run, the parts after it have not.
  struct Case {
    const char* name;
    void (*emit)(Assembler&);
    std::uint32_t fault_offset;  // pc after the faulting instruction, from the group's start
    std::uint32_t r0, r1, r2;    // registers after the fault (r1 = 55 and r2 = 66 before)
  };
  const Case cases[] = {
      {"loop test: the load",
       [](Assembler& a) { a.movl_imm(0, 9).load_frame(op_load_l_f, 2, 8).alu(op_sub_rr, 2, 0).jump(op_jge, "end"); },
       12, 9, 55, 66},
      {"minus a constant: the load",
       [](Assembler& a) { a.movl_imm(0, 9).load_frame(op_load_l_f, 2, 8).alu(op_sub_rr, 2, 0).movl_imm(1, 1); },
       12, 9, 55, 66},
      // The register move keeps the loads out of a group with the movl into r6 before them.
      {"two loads and an operation: the first load",
       [](Assembler& a) {
         a.alu(op_mov_rr, 3, 3).load_frame(op_load_l_f, 0, 8).load_frame(op_load_l_f, 2, 12).alu(op_fmul, 2, 0).movl_imm(1, 1);
       },
       8, 44, 55, 66},
      {"update: the first load",
       [](Assembler& a) {
         a.load_frame(op_load_l_f, 0, 8).load_frame(op_load_l_f, 2, 12).alu(op_add_rr, 2, 0).store_frame(op_store_l_f, 8, 2);
       },
       6, 44, 55, 66},
      // "zero" is a word of the image: with r6 = 0 a frame access at its address does not fault.
      {"update: the second load",
       [](Assembler& a) {
         a.op_rr_imm(op_load_l_f, 0, 6, "zero").load_frame(op_load_l_f, 2, 12).alu(op_xor, 2, 0)
             .store_frame(op_store_l_f, 8, 2);
       },
       12, 0, 55, 66},
      {"update: the store",
       [](Assembler& a) {
         a.op_rr_imm(op_load_l_f, 0, 6, "zero").op_rr_imm(op_load_l_f, 2, 6, "zero").alu(op_sub_rr, 2, 0)
             .store_frame(op_store_l_f, 8, 2);
       },
       20, 0, 55, 0},
      {"two loads and an operation: the second load",
       [](Assembler& a) {
         a.alu(op_mov_rr, 3, 3).op_rr_imm(op_load_l_f, 0, 6, "zero").load_frame(op_load_l_f, 2, 12)
             .alu(op_fmul, 2, 0).movl_imm(1, 1);
       },
       14, 0, 55, 66},
      {"two loads: the second load",
       [](Assembler& a) {
         a.alu(op_mov_rr, 3, 3).op_rr_imm(op_load_l_f, 0, 6, "zero").load_frame(op_load_l_f, 2, 12)
             .alu(op_mov_rr, 1, 1);
       },
       14, 0, 55, 66},
      {"movl and load: the load",
       [](Assembler& a) { a.movl_imm(0, 3).load_frame(op_load_l_f, 2, 8).alu(op_mov_rr, 1, 1); }, 12, 3, 55, 66},
      {"index of bytes: the load",
       [](Assembler& a) { a.movl_imm(0, 4).load_frame(op_load_l_f, 2, 8).movl_addr(1, 0x20000).alu(op_add_rr, 1, 2); },
       12, 4, 55, 66},
      {"add and a store of another register: the store",
       [](Assembler& a) { a.alu(op_mov_rr, 3, 3).alu(op_add_rr, 2, 1).store_frame(op_store_l_f, 8, 1); }, 10, 44, 55, 121},
      {"index: the load",
       [](Assembler& a) { a.movl_imm(0, 4).load_frame(op_load_l_f, 2, 8).alu(op_mul, 2, 0).movl_addr(1, 0x20000).alu(op_add_rr, 1, 2); },
       12, 4, 55, 66},
      {"increment: the postop", [](Assembler& a) { a.op_rr_imm(op_lea_f, 0, 6, 8).postop(1, 0, 1); }, 12, 8, 55, 66},
      {"movl and store", [](Assembler& a) { a.movl_imm(0, 3).store_frame(op_store_l_f, 8, 0); }, 12, 3, 55, 66},
      {"operation and store: the store",
       [](Assembler& a) { a.alu(op_mov_rr, 3, 3).alu(op_add_rr, 2, 1).store_frame(op_store_l_f, 8, 2); }, 10, 44, 55, 121},
      // r6 + the address of a zero word: the index loads fine and the element is in the guard.
      {"indexed load: the element",
       [](Assembler& a) {
         a.movl_imm(0, 4).op_rr_imm(op_load_l_f, 2, 6, "zero").alu(op_mul, 2, 0).movl_addr(1, 0x100)
             .alu(op_add_rr, 1, 2).load_reg(op_load_l_m, 2, 1);
       },
       24, 4, 0x100, 0},
      {"indexed store: the element",
       [](Assembler& a) {
         a.movl_imm(0, 4).op_rr_imm(op_load_l_f, 2, 6, "zero").movl_addr(1, 0x100).alu(op_add_rr, 1, 2)
             .store_reg(op_store_b_m, 1, 0);
       },
       22, 4, 0x100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    Assembler a;
    a.movl_imm(0, 44).movl_imm(1, 55).movl_imm(2, 66).movl_imm(6, 0).label("group");
    c.emit(a);
    a.label("end");
    halt(a);
    a.label("zero").bytes({0, 0, 0, 0});
    run(a);
    expect_runtime_error(kOutOfMemory);
    EXPECT_EQ(ctx->pc, a.address_of("group", ctx->image_base) + c.fault_offset);
    EXPECT_EQ(ctx->r[0], c.r0);
    EXPECT_EQ(ctx->r[1], c.r1);
    EXPECT_EQ(ctx->r[2], c.r2);
  }
}

// A variable and a constant through every operation (movl rA, $c; movl rB, d(r6); OP rB, rA):
// slice by slice as single steps, with shift counts past 31 and a result that goes on to a
// compare; and a fault at the variable leaves the constant moved and nothing else.
TEST_F(InterpreterTest, VariableAndConstantOperationsMatchSingleSteps) {
  constexpr std::uint8_t kOperations[] = {op_add_rr, op_sub_rr, op_mul, op_and, op_or,
                                          op_xor,    op_shl,    op_shr, op_sar};
  auto program = [&](std::uint32_t turns, Address) {
    Assembler a;
    a.enter(24).movl_imm(0, 0).store_frame(op_store_l_f, -24, 0).movl_imm(5, 0).label("top")
        .movl_imm(0, turns).load_frame(op_load_l_f, 2, -24).alu(op_sub_rr, 2, 0).jump(op_jge, "end")
        // The variable: i * 0x9E3779B1, so that signs and high bits vary.
        .load_frame(op_load_l_f, 1, -24).movl_imm(0, 0x9E3779B1u).alu(op_mul, 1, 0).store_frame(op_store_l_f, -28, 1);
    int n = 0;
    for (std::uint8_t operation : kOperations) {
      for (std::uint32_t constant : {3u, 20u, 0xFFFF0001u, 33u}) {
        a.movl_imm(0, constant).load_frame(op_load_l_f, 2, -28).alu(operation, 2, 0).alu(op_xor, 5, 2)
            .alu(op_add_rr, 5, 0);
        const std::string past = "past" + std::to_string(n++);
        a.movl_imm(3, constant).load_frame(op_load_l_f, 4, -28).alu(operation, 4, 3).alu(op_sub_rr, 4, 5)
            .jump(op_jl, past).add_imm(5, 1).label(past);
      }
    }
    a.op_rr_imm(op_lea_f, 0, 6, -24).postop(0, 0, 1).jmp("top").label("end");
    halt(a);
    return a;
  };
  expect_same_slices(*this, program);

  for (std::uint8_t operation : kOperations) {
    SCOPED_TRACE(int(operation));
    reset();
    Assembler a;
    a.movl_imm(0, 44).movl_imm(1, 55).movl_imm(2, 66).movl_imm(6, 0).label("group")
        .movl_imm(0, 9).load_frame(op_load_l_f, 2, 8).alu(operation, 2, 0).movl_imm(1, 1);
    halt(a);
    run(a);
    expect_runtime_error(kOutOfMemory);
    EXPECT_EQ(ctx->pc, a.address_of("group", ctx->image_base) + 12);
    EXPECT_EQ(ctx->r[0], 9u);
    EXPECT_EQ(ctx->r[1], 55u);
    EXPECT_EQ(ctx->r[2], 66u);
  }
}

// Counted loops in the compiler's shape (the test at the head, the step and a jump back at the
// end) with every condition, against a constant and against a variable, stepping up and down:
// the step and the test that follows it run as one record, which must match single steps.
TEST_F(InterpreterTest, LoopStepsAndTestsMatchSingleSteps) {
  struct Loop {
    std::uint8_t jcc;       // leaves the loop when it holds
    std::uint32_t start, bound;
    std::int32_t step;
  };
  const Loop loops[] = {
      {op_je, 2, 5, 1},          {op_jne, 5, 5, 1},         {op_jg, 0xFFFFFFFEu, 2, 1},
      {op_jge, 0xFFFFFFFDu, 1, 1}, {op_jl, 3, 0xFFFFFFFFu, -1}, {op_jle, 2, 0xFFFFFFFFu, -1},
      {op_ja, 0x7FFFFFFEu, 0x80000001u, 1}, {op_jae, 0x7FFFFFFDu, 0x80000000u, 1},
      {op_jb, 0x80000002u, 0x7FFFFFFFu, -1}, {op_jbe, 0x80000001u, 0x7FFFFFFEu, -1},
  };
  auto program = [&](std::uint32_t turns, Address) {
    Assembler a;
    a.enter(24).movl_imm(0, 0).store_frame(op_store_l_f, -24, 0).movl_imm(5, 0).label("top")
        .movl_imm(0, turns).load_frame(op_load_l_f, 2, -24).alu(op_sub_rr, 2, 0).jump(op_jge, "end");
    int n = 0;
    for (const Loop& loop : loops) {
      for (bool variable : {false, true}) {
        const std::string head = "head" + std::to_string(n), out = "out" + std::to_string(n);
        ++n;
        a.movl_imm(0, loop.start).store_frame(op_store_l_f, -28, 0);
        a.movl_imm(0, loop.bound).store_frame(op_store_l_f, -32, 0).label(head);
        if (variable) a.load_frame(op_load_l_f, 0, -32); else a.movl_imm(0, loop.bound);
        a.load_frame(op_load_l_f, 2, -28).alu(op_sub_rr, 2, 0).jump(loop.jcc, out)
            .alu(op_xor, 5, 2).alu(op_add_rr, 5, 5)
            .op_rr_imm(op_lea_f, 1, 6, -28).postop(3, 1, loop.step).jmp(head).label(out)
            .alu(op_add_rr, 5, 3);
      }
    }
    a.op_rr_imm(op_lea_f, 0, 6, -24).postop(0, 0, 1).jmp("top").label("end");
    halt(a);
    return a;
  };
  expect_same_slices(*this, program);
}

// A loop step whose variable lies in the loop's own code: the step rewrites the immediate that
// the loop body moves, and the body must move the new value at once.
TEST_F(InterpreterTest, LoopStepThatRewritesTheLoopBodyRunsTheNewCode) {
  auto program = [&](std::uint32_t turns, Address image) {
    Assembler a;
    a.equ("image", image);
    a.movl_addr(6, "patched").label("head")
        .movl_imm(0, turns).load_frame(op_load_l_f, 2, 2).alu(op_sub_rr, 2, 0).jump(op_jge, "end")
        .label("patched").movl_imm(5, 0).alu(op_add_rr, 4, 5)
        .op_rr_imm(op_lea_f, 1, 6, 2).postop(3, 1, 1).jmp("head").label("end");
    halt(a);
    return a;
  };
  reset();
  set_decoding(false);
  const std::vector<SliceState> reference = run_by_slices(*ctx, program(100, ctx->image_base));
  EXPECT_EQ(ctx->r[4], 99u * 100u / 2u) << "the body moved each new value";
  for (std::uint32_t turns : {3u, 100u}) {
    SCOPED_TRACE(turns);
    reset();
    set_decoding(false);
    const std::vector<SliceState> want = run_by_slices(*ctx, program(turns, ctx->image_base));
    set_decoding(true);
    reset();
    const std::vector<SliceState> got = run_by_slices(*ctx, program(turns, ctx->image_base));
    expect_ended_quietly();
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].words, want[i].words) << "slice " << i;
      ASSERT_TRUE(got[i].memory == want[i].memory) << "slice " << i;
    }
  }
}

// r6 = 0: a loop variable in the guard faults at the step; a bound variable in the guard faults
// at the test, after the step has run. The loop variable that steps lies near the end of a large
// block of its own, far from any code that other tests ran (a store into a granule that once held
// decoded code would end the record early, and the test would not reach its fault).
TEST_F(InterpreterTest, FaultInALoopStepOrItsTestStopsThere) {
  set_decoding(true);
  ScriptContext* scratch = create_context(1u << 20, kStackSize);
  ASSERT_NE(scratch, nullptr);
  for (bool at_step : {true, false}) {
    SCOPED_TRACE(at_step ? "the step" : "the bound");
    reset();
    const Address variable = at_step ? 8 : scratch->image_base + (1u << 20) - 64;
    Assembler a;
    a.label("step").op_rr_imm(op_lea_f, 1, 6, static_cast<std::int32_t>(variable)).postop(3, 1, 1)
        .label("head").load_frame(op_load_l_f, 0, 8).load_frame(op_load_l_f, 2, static_cast<std::int32_t>(variable))
        .alu(op_sub_rr, 2, 0).jump(op_jge, "end").jmp("step").label("end");
    halt(a);
    a.load(*ctx);
    // Enter at the step, as a loop does after its first turn.
    const std::uint32_t registers[] = {44, 55, 66, 77};
    std::copy(std::begin(registers), std::end(registers), ctx->r);
    ctx->r[6] = 0;
    ctx->pc = a.address_of("step", ctx->image_base);
    run_loaded();
    expect_runtime_error(kOutOfMemory);
    if (at_step) {
      EXPECT_EQ(ctx->pc, a.address_of("step", ctx->image_base) + 12);
      EXPECT_EQ(ctx->r[1], 8u);
      EXPECT_EQ(ctx->r[3], 77u);
    } else {
      EXPECT_EQ(ctx->pc, a.address_of("head", ctx->image_base) + 6);
      EXPECT_EQ(ctx->r[1], variable);
      EXPECT_EQ(ctx->r[3], 0u);
      EXPECT_EQ(word(variable), 1u) << "the step ran";
    }
    EXPECT_EQ(ctx->r[0], 44u);
    EXPECT_EQ(ctx->r[2], 66u);
  }
  free_context(scratch);
}

TEST_F(InterpreterTest, FaultInsideAPointerAccessStopsAtTheFaultingPart) {
  // r6 = 0: a variable at offset 8 lies in the guard, and variables at the data area's address
  // hold what the test puts there (zeros: null pointers, index 0; the array is at address 0).
  // Every form is tried with every access, alone, with what may follow a load and with the
  // value parts of a store, faulting at each of its loads and at the access.
  enum Tail { none, je, jne, store, constant_value, variable_value };
  enum Where { at_variable, at_index, at_value, at_access };
  struct Expected {
    std::uint32_t pc;  // from the group's start
    std::uint32_t r0, r1, r2;
  };
  // The pc and registers after a fault in the form; the value part in front adds 6 bytes.
  auto expected = [&](PointerForm form, Where where) -> Expected {
    const bool access = where == at_access;
    switch (form) {
      case PointerForm::ptr: return access ? Expected{8, 44, 55, 0} : Expected{6, 44, 55, 66};
      case PointerForm::field: return access ? Expected{16, 2, 55, 2} : Expected{12, 2, 55, 66};
      case PointerForm::walk: return access ? Expected{14, 44, data(0), 0} : Expected{12, 44, 8, 66};
      case PointerForm::elem1: return access ? Expected{16, 44, 0, 0} : Expected{6, 44, 55, 66};
      case PointerForm::elem: return access ? Expected{24, 2, 0, 0} : Expected{12, 2, 55, 66};
      case PointerForm::at1:
        return access ? Expected{16, 44, 0, 0} : where == at_index ? Expected{12, 44, 0, 66} : Expected{6, 44, 55, 66};
      case PointerForm::at:
        return access ? Expected{24, 2, 0, 0} : where == at_index ? Expected{18, 2, 0, 66} : Expected{6, 44, 55, 66};
      // The index is r1 (55) and the element size r0 (44): the element lies in the guard.
      case PointerForm::idx1: return Expected{10, 44, 55, 55};
      case PointerForm::idx: return Expected{12, 44, 55 * 44, 55 * 44};
    }
    return {};
  };
  for (PointerForm form : kPointerForms) {
    for (std::uint8_t access : {op_load_b_m, op_load_sb_m, op_load_w_m, op_load_sw_m, op_load_l_m, op_store_b_m,
                                op_store_w_m, op_store_l_m}) {
      const bool load = access <= op_load_l_m;
      for (Tail tail : {none, je, jne, store, constant_value, variable_value}) {
        if (load != (tail <= store) && tail != none) continue;
        if (tail == store && access != op_load_l_m) continue;
        const bool two_loads = form == PointerForm::at1 || form == PointerForm::at;
        for (Where where : {at_variable, at_index, at_value, at_access}) {
          if (where == at_index && !two_loads) continue;
          if (where == at_variable && register_index_form(form)) continue;
          if (where == at_value && tail != variable_value) continue;
          SCOPED_TRACE(testing::Message() << "form " << int(form) << " access " << int(access) << " tail " << tail
                                          << " fault " << where);
          reset();
          Assembler a;
          a.movl_imm(0, 44).movl_imm(1, 55).movl_imm(2, 66).movl_imm(3, 77).movl_imm(6, 0).label("group");
          if (tail == constant_value) a.movl_imm(3, 99);
          if (tail == variable_value) a.load_frame(op_load_l_f, 3, static_cast<std::int32_t>(where == at_value ? 8 : data(8)));
          const Address variable = where == at_variable ? 8 : data(0);
          const Address index = where == at_index ? 8 : data(4);
          emit_address(a, form, static_cast<std::int32_t>(variable), 2, 1, 1, static_cast<std::int32_t>(index), 0u);
          if (load) a.load_reg(access, 3, 2); else a.store_reg(access, 2, 3);
          if (tail == je || tail == jne) a.cmp_imm(3, 0).jump(tail == je ? op_je : op_jne, "end");
          if (tail == store) a.store_frame(op_store_l_f, static_cast<std::int32_t>(data(16)), 3);
          a.movl_imm(5, 1).label("end");
          halt(a);
          run(a);
          expect_runtime_error(kOutOfMemory);
          const Address group = a.address_of("group", ctx->image_base);
          std::uint32_t r3 = tail == constant_value ? 99 : 77;
          if (where == at_value) {
            EXPECT_EQ(ctx->pc, group + 6);
            EXPECT_EQ(ctx->r[0], 44u);
            EXPECT_EQ(ctx->r[2], 66u);
          } else {
            if (tail == variable_value) r3 = 0;
            const Expected want = expected(form, where);
            const std::uint32_t shift = tail == constant_value || tail == variable_value ? 6 : 0;
            EXPECT_EQ(ctx->pc, group + shift + want.pc);
            EXPECT_EQ(ctx->r[0], want.r0);
            EXPECT_EQ(ctx->r[1], want.r1);
            EXPECT_EQ(ctx->r[2], want.r2);
            if (form == PointerForm::walk && where == at_access) {
              EXPECT_EQ(word(data(0)), 1u) << "the step ran";
            }
          }
          EXPECT_EQ(ctx->r[3], r3);
          EXPECT_EQ(ctx->r[5], 0u);
        }
      }
    }
  }
  // The variable a loaded word goes on to lies in the guard: the load has run.
  for (PointerForm form : kPointerForms) {
    SCOPED_TRACE(int(form));
    reset();
    // Pointer variable at data(0), index variable at data(4) (0), arrays at data(8).
    set_word(data(0), data(8));
    set_word(form == PointerForm::field ? data(10) : data(8), 0x12345678);  // the field is at offset 2
    Assembler a;
    a.movl_imm(6, 0);
    if (register_index_form(form)) a.movl_imm(1, 0);  // the index
    a.label("group");
    const bool array = form == PointerForm::elem1 || form == PointerForm::elem;
    emit_address(a, form, static_cast<std::int32_t>(array ? data(4) : data(0)), 2, 1, 1, static_cast<std::int32_t>(data(4)),
                 data(8));
    const Address access = a.size();
    a.load_reg(op_load_l_m, 3, 2).store_frame(op_store_l_f, 8, 3).movl_imm(5, 1);
    halt(a);
    run(a);
    expect_runtime_error(kOutOfMemory);
    EXPECT_EQ(ctx->pc, ctx->image_base + access + 2 + 6);  // past the load and the store
    EXPECT_EQ(ctx->r[3], 0x12345678u);
    EXPECT_EQ(ctx->r[5], 0u);
  }
}

TEST_F(InterpreterTest, FaultInsideACompareGroupStopsAtTheFaultingPart) {
  // r6 = 0; the word at the data area's address is 5.
  struct Case {
    const char* name;
    std::function<void(Assembler&, Address)> emit;
    std::uint32_t fault_offset;
    std::uint32_t r1, r2;  // after the fault (55 and 66 before)
  };
  const Case cases[] = {
      {"variable minus register: the load",
       [](Assembler& a, Address) { a.load_frame(op_load_l_f, 2, 8).alu(op_sub_rr, 2, 1).jump(op_jl, "end"); }, 6, 55, 66},
      {"two variables: the first load",
       [](Assembler& a, Address) {
         a.load_frame(op_load_l_f, 1, 8).load_frame(op_load_l_f, 2, 12).alu(op_sub_rr, 2, 1).jump(op_jl, "end");
       },
       6, 55, 66},
      {"two variables: the second load",
       [](Assembler& a, Address d) {
         a.load_frame(op_load_l_f, 1, static_cast<std::int32_t>(d)).load_frame(op_load_l_f, 2, 12).alu(op_sub_rr, 2, 1)
             .jump(op_jl, "end");
       },
       12, 5, 66},
      {"zero test and je", [](Assembler& a, Address) { a.zero(op_zero_b_f, 8).jump(op_je, "end"); }, 5, 55, 66},
      {"zero test and jne", [](Assembler& a, Address) { a.zero(op_zero_w_f, 8).jump(op_jne, "end"); }, 5, 55, 66},
      {"zero test of a word and je", [](Assembler& a, Address) { a.zero(op_zero_l_f, 8).jump(op_je, "end"); }, 5, 55, 66},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    set_word(data(0), 5);
    Assembler a;
    a.movl_imm(1, 55).movl_imm(2, 66).movl_imm(6, 0).label("group");
    c.emit(a, data(0));
    a.movl_imm(5, 1).label("end");
    halt(a);
    run(a);
    expect_runtime_error(kOutOfMemory);
    EXPECT_EQ(ctx->pc, a.address_of("group", ctx->image_base) + c.fault_offset);
    EXPECT_EQ(ctx->r[1], c.r1);
    EXPECT_EQ(ctx->r[2], c.r2);
    EXPECT_EQ(ctx->r[5], 0u);
  }
}

TEST_F(InterpreterTest, ReturnAfterLeaveChecksTheStackOnItsOwn) {
  // leave brings r7 to the highest word of the stack, which ret may never pop.
  Assembler a;
  a.movl_imm(7, top() - 28).label("pair").leave(0).ret();
  halt(a);
  run(a);
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(ctx->r[7], top() - 4);
  EXPECT_EQ(ctx->pc, a.address_of("pair", ctx->image_base) + 6);
}

TEST_F(InterpreterTest, PushExchangeAndCallCheckTheStackOneByOne) {
  // Room for one word: the push fits, the exchange runs, the call's push of its return address
  // does not.
  Assembler a;
  a.movl_imm(1, 11).movl_imm(2, 22).movl_imm(7, ctx->stack_base + 4)
      .label("group").push(1).xchg(1, 2).label("call").call("group");
  halt(a);
  run(a);
  expect_runtime_error(kStackOverflow);
  EXPECT_EQ(ctx->pc, a.address_of("call", ctx->image_base) + 5);
  EXPECT_EQ(ctx->r[7], ctx->stack_base);
  EXPECT_EQ(word(ctx->stack_base), 11u);
  EXPECT_EQ(ctx->r[1], 22u);
  EXPECT_EQ(ctx->r[2], 11u);
}

// A call and the callee's enter check the stack one after the other: the return address may fit
// where the frame does not.
TEST_F(InterpreterTest, CallAndTheCalleesEnterCheckTheStackOneByOne) {
  for (bool argument : {false, true}) {
    for (bool room_for_return : {false, true}) {
      SCOPED_TRACE(testing::Message() << (argument ? "push, xchg and call" : "call")
                                      << (room_for_return ? ": no room for the frame" : ": no room for the return"));
      reset();
      // Room for the argument and, when asked, for the return address; never for the frame.
      const Address sp = ctx->stack_base + (argument ? 4 : 0) + (room_for_return ? 4 : 0);
      Assembler a;
      a.movl_imm(1, 11).movl_imm(2, 22).movl_imm(7, sp).label("group");
      if (argument) a.push(1).xchg(1, 2);
      a.label("call").call("callee");
      halt(a);
      a.label("callee").enter(8).movl_imm(5, 1);
      halt(a);
      run(a);
      expect_runtime_error(kStackOverflow);
      if (room_for_return) {
        EXPECT_EQ(ctx->pc, a.address_of("callee", ctx->image_base) + 5);
        EXPECT_EQ(ctx->r[7], ctx->stack_base);
        EXPECT_EQ(word(ctx->stack_base), a.address_of("call", ctx->image_base) + 5);
      } else {
        EXPECT_EQ(ctx->pc, a.address_of("call", ctx->image_base) + 5);
        EXPECT_EQ(ctx->r[7], sp - (argument ? 4 : 0));
      }
      EXPECT_EQ(ctx->r[1], argument ? 22u : 11u);
      EXPECT_EQ(ctx->r[5], 0u);
    }
  }
}

// Code that runs from the stack, where a call's pushes and its callee's enter write: either the
// return address lands on decoded code (a routine run before), or the registers that enter saves
// land on the callee's own body, which must then run as the bytes they wrote. The image writes
// the stack's code anew before every turn. Slice by slice, the decoded run must match single
// steps.
TEST_F(InterpreterTest, CallAndEnterThatWriteOverDecodedCodeMatchSingleSteps) {
  for (bool argument : {false, true}) {
    for (bool over_body : {true, false}) {
      SCOPED_TRACE(testing::Message() << (argument ? "push, xchg and call" : "call")
                                      << (over_body ? ": the saves write the body" : ": the return address writes code"));
      auto program = [&](std::uint32_t turns, Address image) {
        const Address stack = ctx->stack_base;
        // `saves` is where enter's six words go: the callee's body, or a place apart. Apart, the
        // routine ends a granule, so that an argument pushed above it lands in the next one.
        const Address g = ((stack + 96) & ~15u) + 16;
        const Address saves = over_body ? g - 24 : ((stack + 200) & ~15u) - 12;
        const Address pointer = saves + 24 + 4 + (argument ? 4 : 0);  // r7 before the call
        const Address code = over_body ? g - 34 - (argument ? 4 : 0) : stack + 8;
        const Address routine = saves + 24;  // a `ret` run before, where the return address goes
        const Address back = image + 0x400, counter = image + 0x600;
        Assembler s;  // the code in the stack
        if (argument) s.push(1).xchg(0, 1);
        s.call("callee").label("callee").enter(0).movl_imm(5, 1).jmp(back);
        if (over_body) {
          EXPECT_EQ(s.address_of("callee", code) + 5, saves);
        }
        std::vector<std::uint8_t> bytes = s.assemble(code);
        bytes.resize((bytes.size() + 3) & ~std::size_t(3));
        Assembler a;
        a.label("loop");
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
          std::uint32_t w;
          std::memcpy(&w, bytes.data() + i, 4);
          a.movl_imm(0, w).store_sym(op_store_l_s, static_cast<std::uint32_t>(code + i), 0);
        }
        // The highest word of the stack is never popped: the routine's call pushes below it.
        a.movl_imm(7, stack + 240).movl_imm(0, 0x26).store_sym(op_store_b_s, routine, 0).call(routine);
        // What enter saves, as code: movl r5, $42; two nops; jmp back.
        const std::uint32_t r1 = 0x002A5504u, r2 = 0, r3 = 0x49u | back << 8, r4 = back >> 24;
        a.movl_imm(0, argument ? r1 : 0).movl_imm(1, argument ? 0 : r1).movl_imm(2, r2).movl_imm(3, r3)
            .movl_imm(4, r4).movl_imm(5, 0).movl_imm(7, pointer).jmp(code);
        while (a.size() < 0x400) a.nop();
        a.load_sym(op_load_l_s, 0, counter).add_imm(0, 1).store_sym(op_store_l_s, counter, 0).cmp_imm(0, turns)
            .jump(op_jb, Operand("loop"));
        halt(a);
        return a;
      };
      for (std::uint32_t turns : {1u, 40u}) {
        SCOPED_TRACE(turns);
        reset();
        set_decoding(false);
        const std::vector<SliceState> reference = run_by_slices(*ctx, program(turns, ctx->image_base));
        const std::uint32_t r5 = ctx->r[5];
        EXPECT_EQ(ctx->state, kEnded);
        EXPECT_EQ(r5, over_body ? 42u : 1u);
        set_decoding(true);
        reset();
        const std::vector<SliceState> decoded = run_by_slices(*ctx, program(turns, ctx->image_base));
        expect_ended_quietly();
        EXPECT_EQ(ctx->r[5], r5);
        ASSERT_EQ(decoded.size(), reference.size());
        for (std::size_t i = 0; i < decoded.size(); ++i) {
          ASSERT_EQ(decoded[i].words, reference[i].words) << "slice " << i;
          ASSERT_TRUE(decoded[i].memory == reference[i].memory) << "slice " << i;
        }
      }
    }
  }
}

TEST_F(InterpreterTest, FreedImageDropsItsDecodedBlocks) {
  Assembler a;
  a.movl_imm(1, 0).label("loop").add_imm(1, 1).cmp_imm(1, 10).jump(op_jb, "loop");
  halt(a);
  run(a);
  EXPECT_GT(decoded_block_count(), 0u);
  reset();  // frees the image
  Assembler b;
  halt(b);
  run(b);
  EXPECT_LE(decoded_block_count(), 1u);
}

}  // namespace
}  // namespace talven::vm
