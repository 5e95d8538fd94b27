// Layout of structures, frames, data and the script heap; linking between compilations.
#include "support.h"

namespace talven::compiler::testing {
namespace {

using Lines = std::vector<std::string>;

TEST_F(CompilerTest, StructuresArePackedWithoutPadding) {
  Compiled c = build(
      "struct S { char c; int i; short h; } s;\n"
      "union U { char c; int i; short h[3]; } u;\n"
      "int sizes = sizeof(struct S) * 100 + sizeof(union U);\n"
      "int main() { s.i = 1; s.h = 2; u.h[2] = 3; return 0; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_EQ(c.word_at(c.base + c.capacity - 17), 706);  // sizes lies below s (7 bytes) and u (6)
  Lines main = c.function("main");
  EXPECT_EQ(main[2], "\tmovl\ts+1, r0");
  EXPECT_EQ(main[4], "\tmovw\ts+5, r0");
  EXPECT_EQ(main[6], "\tmovw\tu+4, r0");
}

TEST_F(CompilerTest, LocalsAndParametersHaveTheirFrameOffsets) {
  Compiled c = build("int f(a, b) char b; { int x; char c; int y; x = a; c = b; y = 3; return x; }\n"
                     "int main() { return f(1, 2); }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  Lines f = c.function("f");
  EXPECT_EQ(f, (Lines{"\tenter", "\tmovl\tr0, 8(r6)", "\tmovl\t-24(r6), r0", "\tmovsbl\tr0, 12(r6)",
                      "\tmovb\t-25(r6), r0", "\tmovl\tr0, $3", "\tmovl\t-29(r6), r0", "\tmovl\tr0, -24(r6)",
                      "_3:", "\tleave", "\tret"}));
  std::vector<std::string> code = c.code();
  EXPECT_EQ(code[1], "enter 9");
  EXPECT_EQ(code[2], "movl r0, 8(r6)");
  EXPECT_EQ(code[4], "movsbl r0, 12(r6)");
}

TEST_F(CompilerTest, StaticLocalsLiveInTheDataArea) {
  Compiled c = build("int f() { static int n = 3; return n++; }\nint g() { static int n; return n; }\n"
                     "int main() { return f() + g(); }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_NE(c.listing.find(".global\tn.\nn.:\n\t.long 3\n"), std::string::npos) << c.listing;
  EXPECT_NE(c.listing.find(".lcomm n., 4\n\n"), std::string::npos);
  // two statics of the same name in two functions are two variables
  EXPECT_EQ(c.result.data_size, 8u);
  EXPECT_EQ(c.word_at(c.base + c.capacity - 4), 3);
}

TEST_F(CompilerTest, GlobalInitializersAreWrittenIntoTheImage) {
  Compiled c = build("char *p = \"abc\";\nshort h[3] = {1, , 3};\nfloat f = 2;\nint *q = &h[2];\n"
                     "int (*fp)() = main;\nint main() { return 0; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  vm::Address end = c.base + c.capacity;
  // the string is placed when p's initializer is read, right below p
  vm::Address p = end - 4, h = end - 14, f = end - 18, q = end - 22, fp = end - 26;
  vm::Address s = static_cast<vm::Address>(c.word_at(p));
  EXPECT_STREQ(reinterpret_cast<const char*>(vm::host_pointer(s)), "abc");
  EXPECT_EQ(c.word_at(h) & 0xFFFF, 1);
  EXPECT_EQ((c.word_at(h + 2) & 0xFFFF), 0);
  EXPECT_EQ((c.word_at(h + 4) & 0xFFFF), 3);
  float value;
  std::memcpy(&value, vm::host_pointer(f), 4);
  EXPECT_EQ(value, 2.0f);
  EXPECT_EQ(static_cast<vm::Address>(c.word_at(q)), h + 4);
  // the function was not defined yet: its address is filled in when it is
  std::vector<DisassembledInstruction> code = disassemble(vm::host_pointer(c.base), c.result.code_size, c.base);
  EXPECT_EQ(static_cast<vm::Address>(c.word_at(fp)), c.base + code[1].offset);
}

TEST_F(CompilerTest, ExternVariablesShareHeapAddressesByPosition) {
  vm::Address heap = heap_block();
  Compiled a = build("extern int a, b;\nint main() { b = 1; return a; }\n", 65536, heap);
  Compiled b = build("extern int x;\nextern char y[8];\nint main() { y[1] = 2; return x; }\n", 65536, heap);
  ASSERT_TRUE(a.result.ok && b.result.ok) << a.errors() << b.errors();
  char expect_a[64], expect_b[64];
  std::snprintf(expect_a, sizeof expect_a, "movl 0x%x, r0", heap + 4);
  std::snprintf(expect_b, sizeof expect_b, "movb 0x%x, r0", heap + 5);
  EXPECT_EQ(a.code()[3], expect_a);
  EXPECT_EQ(b.code()[3], expect_b);
  EXPECT_EQ(a.result.extern_size, 8u);
  EXPECT_EQ(b.result.extern_size, 12u);
}

TEST_F(CompilerTest, ExportedFunctionsLinkIntoLaterCompilations) {
  Compiled lib = build("extern int twice(x) { return x * 2; }\nint main() { return 0; }\n");
  ASSERT_TRUE(lib.result.ok) << lib.errors();
  auto e = find_exported_function("twice");
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->address, lib.base + 5);
  Compiled user = build("int main() { return twice(21); }\n");
  ASSERT_TRUE(user.result.ok) << user.errors();
  char call[32];
  std::snprintf(call, sizeof call, "call 0x%x", e->address);
  EXPECT_EQ(user.code()[3], call);
  forget_exported_functions(lib.base, lib.capacity);
  EXPECT_FALSE(find_exported_function("twice").has_value());
}

TEST_F(CompilerTest, LinkFailuresNameEveryMissingFunctionAndLabel) {
  Compiled c = build("int f();\nint main() { goto nowhere; }\n");
  EXPECT_FALSE(c.result.ok);
  EXPECT_NE(c.errors().find("f 関数は定義されていません。\n"), std::string::npos) << c.errors();
  EXPECT_NE(c.errors().find("nowhere ラベルは定義されていません。\n"), std::string::npos);
  Compiled empty = build("/* nothing */\n");
  EXPECT_FALSE(empty.result.ok);
  EXPECT_EQ(empty.errors(), "main 関数は定義されていません。\n");
  EXPECT_EQ(empty.code(), (Lines{"jmp 0x0"}));
}

TEST_F(CompilerTest, TypedefsPointersAndArraysOfPointers) {
  Compiled c = build("typedef struct { int x; int y; } PT;\nPT *pp; int *a[4]; char m[2][3];\n"
                     "int sizes = sizeof(PT) * 10000 + sizeof(a) * 100 + sizeof(m);\n"
                     "int main() { PT q; pp = &q; pp->y = 5; return m[1][2]; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_EQ(c.word_at(c.base + c.capacity - 4 - 16 - 6 - 4), 81606);
  EXPECT_NE(c.listing.find("\tmovsbl\tr0, m+5\n"), std::string::npos) << c.listing;
}

TEST_F(CompilerTest, SizingPassCountsWhatTheEmittingPassWrites) {
  const char* source = "char *s = \"hello\";\nint t[3] = {1, 2, 3};\n"
                       "int f(int n) { if (n < 2) return n; return f(n - 1) + f(n - 2); }\n"
                       "int main() { return f(10) + strlen2(\"abc\"); }\nint strlen2(char *p) { return *p; }\n";
  CompileOptions sizing;
  sizing.report_errors = false;
  sizing.reader = [&](const std::string&, std::string& text) {
    text = source;
    return SourceStatus::ok;
  };
  CompileResult sized = compile("main.c", sizing);
  ASSERT_TRUE(sized.ok) << sized.error_text;
  ProgramImage image = compile_image("main.c", 0, sizing);
  ASSERT_NE(image.base, 0u);
  EXPECT_EQ(image.size, sized.code_size + sized.data_size);
  EXPECT_EQ(image.result.code_size, sized.code_size);
  EXPECT_EQ(image.result.data_size, sized.data_size);
  std::uint32_t count;
  std::memcpy(&count, vm::host_pointer(image.base + image.size), 4);
  EXPECT_EQ(count, 1u);
  vm::script_free(image.base);
}

}  // namespace
}  // namespace talven::compiler::testing
