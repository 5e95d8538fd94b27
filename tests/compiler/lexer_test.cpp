// Numbers, characters, strings, comments, macros, includes and directives.
#include "support.h"

namespace talven::compiler::testing {
namespace {

std::int32_t bits(float f) {
  std::int32_t v;
  std::memcpy(&v, &f, 4);
  return v;
}

class LexerTest : public CompilerTest {
 protected:
  // The value a global initializer stores: the first global lies at the end of the image.
  std::int32_t value_of(const std::string& declaration) {
    Compiled c = build(declaration + "\nint main() { return 0; }\n");
    EXPECT_TRUE(c.result.ok) << declaration << "\n" << c.errors();
    return c.word_at(c.base + c.capacity - 4);
  }
};

TEST_F(LexerTest, NumbersAndCharacterConstants) {
  struct Case {
    const char* declaration;
    std::int32_t value;
  } cases[] = {
      {"int v = 010;", 10},                 {"int v = 0x1F;", 31},
      {"int v = 0b101;", 5},                {"int v = 4294967297;", 1},
      {"float v = 1.5f;", bits(1.5f)},      {"float v = 1.5;", bits(1.5f)},
      {"float v = 3f;", bits(3.0f)},        {"int v = 2.9;", 2},
      {"int v = '\\65';", 65},              {"int v = '\\065';", 53},
      {"int v = 'A';", 65},                 {"int v = '\\x41';", 0x41},
      {"int v = '\\n';", 10},               {"int v = '\\\\';", '\\'},
      {"int v = '\\q';", 'q'},              {"int v = '\\x';", 0},
      {"int v = '\x82\xa0';", 0x82a0},      {"int v = -0x80000000;", INT32_MIN},
      {"float v = -2.25;", bits(-2.25f)},   {"int v = 7 % -3 + (-7 / 2) * 10;", 1 - 30},
      {"int v = 1 << 33;", 2},              {"int v = -8 >> 1;", -4},
      {"int v = sizeof(int) + sizeof(char) * 10;", 14},
  };
  for (const Case& c : cases) EXPECT_EQ(value_of(c.declaration), c.value) << c.declaration;
}

TEST_F(LexerTest, StringEscapesAndJoining) {
  Compiled c = build("char *p = \"a\\tb\\101\\0101\" \"\\x41z\";\nint main() { return 0; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  vm::Address s = static_cast<vm::Address>(c.word_at(c.base + c.capacity - 4));
  // \101 is decimal (101 = 'e'), \010 octal
  EXPECT_STREQ(reinterpret_cast<const char*>(vm::host_pointer(s)), "a\tbe\x08" "1Az");
  EXPECT_NE(c.listing.find("\t.ascii \"a\\x09be\\x081Az\\0\"\n"), std::string::npos) << c.listing;
}

TEST_F(LexerTest, CommentsNest) {
  EXPECT_EQ(value_of("/* a /* b */ c */ int v = 7; // trailing\n// int v = 8;"), 7);
  EXPECT_EQ(value_of("/* \x82\x2a/ */ int v = 9;"), 9);  // a double-byte character never closes a comment
}

TEST_F(LexerTest, Macros) {
  EXPECT_EQ(value_of("#define N 5\nint v = N * N;"), 25);
  EXPECT_EQ(value_of("#define F(a) a+1\nint v = F 2;"), 3);  // arguments without parentheses run to the ';'
  EXPECT_EQ(value_of("#define G(Abc) abc*2\nint v = G(3);"), 6);  // parameter names ignore letter case
  EXPECT_EQ(value_of("#define SUM(a, b) ((a) + (b))\nint v = SUM((1 + 2), 3) * SUM(1,1);"), 12);
  EXPECT_EQ(value_of("#define LONG(a) a + \\\n  a\nint v = LONG(4);"), 8);
  EXPECT_EQ(value_of("#define ONE 1\n#define TWO ONE+ONE\nint v = TWO * 3;"), 4);
}

TEST_F(LexerTest, TokenPastingJoinsAMacroBodyIntoAnIdentifier) {
  Compiled c = build("#define DECL(n) int var##n = n;\nDECL(7)\nint main() { return var7; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_NE(c.listing.find("\tmovl\tr0, var7\n"), std::string::npos) << c.listing;
}

TEST_F(LexerTest, IncludeReadsEachFileOncePerCompile) {
  Compiled c = build(std::map<std::string, std::string>{
      {"main.c", "#include \"a.h\"\n#include \"A.H\"\nint main() { return X; }\n"},
      {"a.h", "#define X 4\n"}});
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_EQ(c.function("main")[1], "\tmovl\tr0, $4");
}

TEST_F(LexerTest, IncludedFilesKeepTheirOwnLineNumbers) {
  Compiled c = build(std::map<std::string, std::string>{
      {"main.c", "int a;\n#include \"b.h\"\nint main() { return y; }\n"}, {"b.h", "\n\nint b;\n"}});
  EXPECT_FALSE(c.result.ok);
  EXPECT_EQ(c.result.error_file, "main.c");
  EXPECT_EQ(c.result.error_line, 3);
}

TEST_F(LexerTest, TrapLinesNumberTheBuiltIns) {
  Compiled c = build("#trap int zero();\n#trap\nint one(int x);\n#trap int two(char *s, int n);\n"
                     "int main() { return two(\"a\", one(3)); }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_EQ(c.function("zero"), (std::vector<std::string>{"\ttrap\t0", "\tret"}));
  EXPECT_EQ(c.function("one"), (std::vector<std::string>{"\ttrap\t1", "\tret"}));
  EXPECT_EQ(c.function("two"), (std::vector<std::string>{"\ttrap\t2", "\tret"}));
  std::vector<std::string> code = c.code();
  EXPECT_EQ(code[1], "trap 0");
  EXPECT_EQ(code[2], "ret");
}

TEST_F(LexerTest, AsmLinesGoToTheListingOnly) {
  Compiled plain = build("int main() { return 0; }\n");
  Compiled c = build("#asm\n  anything at all ;\n#endasm\nint main() { return 0; }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  EXPECT_NE(c.listing.find("  anything at all ;\n"), std::string::npos);
  EXPECT_EQ(c.result.code_size, plain.result.code_size);
}

TEST_F(LexerTest, LineLengthLimit) {
  std::string ok_line = "int v;" + std::string(4094 - 6, ' ');
  Compiled ok = build(ok_line + "\r\nint main() { return 0; }\n");
  EXPECT_TRUE(ok.result.ok) << ok.errors();
  Compiled bad = build(ok_line + " \nint main() { return 0; }\n");
  EXPECT_EQ(bad.result.error_code, 21);
}

TEST_F(LexerTest, SourceEchoAndListingSummary) {
  Compiled c = build("int g;\nint main() { return 0; }\n");
  ASSERT_TRUE(c.result.ok);
  EXPECT_EQ(c.listing.rfind(".file \"main.c\"\n.text\n\n", 0), 0u);
  EXPECT_NE(c.listing.find(".comm g, 4\n"), std::string::npos);
  // the line feed added after the file's last byte makes one more (empty) line
  EXPECT_NE(c.listing.find("; Compiled 3 lines.\n"), std::string::npos);
  EXPECT_NE(c.listing.find("; Total program size : " + std::to_string(c.result.code_size) + " bytes.\n"),
            std::string::npos);
  EXPECT_NE(c.listing.find("; Total data size : 4 bytes.\n"), std::string::npos);
}

}  // namespace
}  // namespace talven::compiler::testing
