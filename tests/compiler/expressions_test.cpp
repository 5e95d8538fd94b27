// Type rules, evaluation order and the instruction sequences of expressions and statements.
#include "support.h"

namespace talven::compiler::testing {
namespace {

using Lines = std::vector<std::string>;

class CodeTest : public CompilerTest {
 protected:
  // The listing of main's body (between `enter` and the exit label) for a body and declarations.
  Lines body(const std::string& declarations, const std::string& statements) {
    Compiled c = build(declarations + "\nint main()\n{\n" + statements + "\n}\n");
    EXPECT_TRUE(c.result.ok) << statements << "\n" << c.errors();
    Lines f = c.function("main");
    Lines out;
    for (std::size_t i = 1; i + 3 < f.size(); ++i) out.push_back(f[i]);
    return out;
  }
};

TEST_F(CodeTest, ExactSequenceOfASmallFunctionInBytes) {
  Compiled c = build("int main() { return 5; }\n");
  ASSERT_TRUE(c.result.ok);
  const std::uint8_t expected[] = {73, 5, 0, 0, 0,        // jmp main
                                   34, 0, 0, 0, 0,        // enter 0
                                   4, 0x00, 5, 0, 0, 0,   // movl r0, $5
                                   35, 0, 0, 0, 0,        // leave 0
                                   38};                   // ret
  ASSERT_EQ(c.result.code_size, sizeof expected);
  std::uint8_t bytes[sizeof expected];
  std::memcpy(bytes, vm::host_pointer(c.base), sizeof bytes);
  vm::Address main = c.base + 5;
  std::memcpy(bytes + 1, expected + 1, 0);
  EXPECT_EQ(std::memcmp(bytes + 5, expected + 5, sizeof expected - 5), 0);
  std::uint32_t target;
  std::memcpy(&target, bytes + 1, 4);
  EXPECT_EQ(target, main);
  EXPECT_EQ(c.code(), (Lines{"jmp 0x" + [&] { char b[16]; std::snprintf(b, 16, "%x", main); return std::string(b); }(),
                             "enter 0", "movl r0, $5", "leave 0", "ret"}));
}

TEST_F(CodeTest, CallsPushArgumentsLastFirstAndMarkTheCount) {
  Compiled c = build("int a() { return 1; }\nint b() { return 2; }\nint f(x, y) { return x; }\n"
                     "int main() { return f(a(), b()); }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  Lines m = c.function("main");
  EXPECT_EQ(m, (Lines{"\tenter", "\tcall\tb", "\tpush\tr0", "\tcall\ta", "\tpush\tr0", "\tcall\tf",
                      "\tadd\t\tr7, $8", "_8:", "\tleave", "\tret"}));
  std::vector<std::string> code = c.code();
  int add = index_of(code, "add r7, $8");
  ASSERT_GT(add, 0);
  // the argument-count marker is the bytes 0x3B 0x77 then 4n
  std::vector<DisassembledInstruction> ins = disassemble(vm::host_pointer(c.base), c.result.code_size, c.base);
  const std::uint8_t* marker = vm::host_pointer(c.base + ins[static_cast<std::size_t>(add)].offset);
  EXPECT_EQ(marker[0], 0x3B);
  EXPECT_EQ(marker[1], 0x77);
}

TEST_F(CodeTest, RightOperandIsEvaluatedFirst) {
  EXPECT_EQ(body("int x; int g();\nint g() { return 1; }", "return x - g();"),
            (Lines{"\tcall\tg", "\tmovl\tr2, x", "\tsub\t\tr2, r0", "\txchg\tr0, r2"}));
}

TEST_F(CodeTest, CompoundAssignmentEvaluatesItsTargetTwice) {
  Lines l = body("int a[4]; int i;", "a[i++] += 1;");
  EXPECT_EQ(count_lines(l, "\tpostop\tr0, 1") + count_lines(l, "\tpostop\tr1, 1") + count_lines(l, "\tpostop\tr2, 1") +
                count_lines(l, "\tpostop\tr3, 1"),
            2);
}

TEST_F(CodeTest, TypeRulesChooseTheInstructions) {
  struct Case {
    const char* declarations;
    const char* statement;
    const char* expected;  // a line that must appear
    const char* absent;    // a line that must not
  } cases[] = {
      {"unsigned u;", "return u / 2;", "\tdiv\t", nullptr},
      {"unsigned u;", "return u >> 1;", "\tshr\t", "\tsar\t"},
      {"int i;", "return i >> 1;", "\tsar\t", nullptr},
      {"", "if (3 > 2.5) return 1;", "\tfsub\t", "\titof\t"},
      {"", "if (3 > 2.5) return 1;", "\tjle\t\t_3", nullptr},
      {"", "if (3 == 3.0) return 1;", "\tsub\t", "\tfsub\t"},
      {"unsigned u = 1;", "if (-1 < u) return 1;", "\tjae\t\t_3", nullptr},
      {"", "if (-1 < 1) return 1;", "\tjge\t\t_3", nullptr},
      {"char c;", "if (c < 200) return 1;", "\tjge\t\t_3", nullptr},
      {"float f; int i;", "f = i;", "\titof\t", nullptr},
      {"float f; int i;", "i = f;", "\tftoi\t", nullptr},
      {"float f;", "f = f * 2;", "\tfmul\t", nullptr},
      {"float f;", "f++;", "\tfadd\t", "\tpostop\t"},
      {"float f;", "--f;", "\tfsub\t", "\tpreop\t"},
      {"int *p;", "p++;", "\tpostop\tr0, 4", nullptr},
      {"int *p;", "p += 2;", "\tmovl\tr0, $8", nullptr},
      {"short *p;", "return p[3];", "\tmovswl\t", nullptr},
      {"int *p, *q;", "return p - q;", "\tdiv\t", nullptr},
      {"char *p, *q;", "return p - q;", "\tsub\t", "\tdiv\t"},
      {"int x;", "return x * 1;", "\tmovl\tr0, x", "\tmul\t"},
      {"int x;", "return ~x + -x;", "\tnot\t", nullptr},
      {"int x;", "return ~x + -x;", "\tneg\t", nullptr},
      {"float x;", "return -x;", "\tfneg\t", nullptr},
      {"int x;", "return !x;", "\tset\t", nullptr},
      {"unsigned char b;", "return b++;", "\tpostinc\t(r0)", nullptr},
      {"short s;", "return --s;", "\tpredec\t(r0)", nullptr},
      {"int x;", "if (x) return 1;", "\tzerol\tx", nullptr},
      {"", "char c; if (c) return 1;", "\tzerob\t-21(r6)", nullptr},
      {"short h;", "if (!h) return 1;", "\tzerow\th\n\tjne", nullptr},
      {"int x;", "return x ? 2 : 3;", "\tzerol\tx", nullptr},
      {"int x, y;", "return x && y;", "\tmovl\tr0, $1", nullptr},
      {"int x;", "return x % 3;", "\tmod\t", nullptr},
      {"int x;", "return x << 3 | x & 1 ^ 2;", "\tshl\t", nullptr},
      {"struct S { int a; char b; } *p;", "return p->b;", "\tmovsbl\t", nullptr},
      {"int g() { return 1; }", "return g;", "\tmovl\tr0, $g", nullptr},
      // a cast between integer types changes only the type, of a constant as of a variable
      {"", "return (char)300;", "\tmovl\tr0, $300", nullptr},
      {"", "return (unsigned char)-1;", "\tmovl\tr0, $-1", nullptr},
      {"", "return (short)70000;", "\tmovl\tr0, $70000", nullptr},
      {"int v;", "return (char)v;", "\tmovl\tr0, v", "\tmovsbl\t"},
      {"", "return (int)2.75;", "\tmovl\tr0, $2", "\tftoi\t"},
  };
  for (const Case& c : cases) {
    Lines l = body(c.declarations, c.statement);
    std::string all;
    for (const auto& s : l) all += s + "\n";
    EXPECT_NE(all.find(c.expected), std::string::npos) << c.declarations << " " << c.statement << "\n" << all;
    if (c.absent) {
      EXPECT_EQ(all.find(c.absent), std::string::npos) << c.declarations << " " << c.statement << "\n" << all;
    }
  }
}

TEST_F(CodeTest, SwitchTestsGroupedCasesInReverseOrder) {
  Lines l = body("int x, y;", "switch (x) { case 1: case 2: case 3: y = 1; break; case 4: y = 2; default: y = 3; }");
  Lines tests;
  for (const auto& s : l)
    if (s.rfind("\tcmp", 0) == 0 || s.rfind("\tj", 0) == 0) tests.push_back(s);
  EXPECT_EQ(tests, (Lines{"\tcmp\t\tr0, $3", "\tje\t\t_4", "\tcmp\t\tr0, $2", "\tje\t\t_4", "\tcmp\t\tr0, $1",
                          "\tjne\t\t_5", "\tjmp\t\t_3", "\tcmp\t\tr0, $4", "\tjne\t\t_7", "\tjmp\t\t_9",
                          "\tjmp\t\t_8"}));
}

TEST_F(CodeTest, LoopShapes) {
  EXPECT_EQ(body("int x;", "while (x--);"),
            (Lines{"_3:", "\tmovl\tr0, $x", "\tpostop\tr0, -1", "\tcmpl\tr0, $0", "\tjne\t\t_3"}));
  EXPECT_EQ(body("int x;", "for (x = 0; x < 3; x++) ;"),
            (Lines{"\tmovl\tr0, $0", "\tmovl\tx, r0", "_3:", "\tmovl\tr0, $3", "\tmovl\tr2, x", "\tsub\t\tr2, r0",
                   "\tjge\t\t_4", "_5:", "\tmovl\tr0, $x", "\tpostop\tr0, 1", "\tjmp\t\t_3", "_4:"}));
  EXPECT_EQ(body("int x;", "do x = 1; while (x);"),
            (Lines{"_3:", "\tmovl\tr0, $1", "\tmovl\tx, r0", "_4:", "\tzerol\tx", "\tjne\t\t_3", "_5:"}));
}

TEST_F(CodeTest, ReturnJumpsLazily) {
  EXPECT_EQ(body("int x;", "return 1; x = 2;"),
            (Lines{"\tmovl\tr0, $1", "\tjmp\t\t_2", "\tmovl\tr0, $2", "\tmovl\tx, r0"}));
  EXPECT_EQ(body("int x;", "x = 2; return x;"), (Lines{"\tmovl\tr0, $2", "\tmovl\tx, r0", "\tmovl\tr0, x"}));
  EXPECT_EQ(body("int x;", "if (x) return 1; else return 2;"),
            (Lines{"\tzerol\tx", "\tje\t\t_3", "\tmovl\tr0, $1", "\tjmp\t\t_2", "_3:", "\tmovl\tr0, $2"}));
}

TEST_F(CodeTest, StringLiteralsTakeDataSpacePerOccurrence) {
  Compiled c = build("int f(char *s) { return 0; }\nint main() { int i; for (i = 0; i < 9; i++) f(\"ab\"); f(\"ab\"); return 0; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_EQ(c.result.data_size, 6u);
  EXPECT_NE(c.listing.find("_s1:\n\t.ascii \"ab\\0\"\n"), std::string::npos);
}

TEST_F(CodeTest, LocalCharArrayCopiesItsString) {
  Lines l = body("", "char s[6] = \"hello\";");
  EXPECT_EQ(l, (Lines{"\tmovl\tr0, $1819043176", "\tmovl\t-26(r6), r0", "\tmovl\tr0, $111", "\tmovb\t-22(r6), r0",
                      "\tmovl\tr0, $0", "\tmovb\t-21(r6), r0"}));
}

TEST_F(CodeTest, RegisterPressureSpillsToTheStack) {
  Lines l = body("int a, b, c, d, e, f, g;", "return a + (b + (c + (d + (e + (f + (g * 2))))));");
  std::string all;
  for (const auto& s : l) all += s + "\n";
  EXPECT_NE(all.find("\tpush\tr"), std::string::npos) << all;
  EXPECT_NE(all.find("\tpop\t\tr"), std::string::npos) << all;
}

TEST_F(CodeTest, FunctionPointersCallThroughARegister) {
  Lines l = body("int g() { return 1; }\nint (*fp)();", "fp = g; return (*fp)() + fp();");
  EXPECT_EQ(count_lines(l, "\tcall\tr0"), 2);
  EXPECT_GE(index_of(l, "\tmovl\tr0, $g"), 0);
}

}  // namespace
}  // namespace talven::compiler::testing
