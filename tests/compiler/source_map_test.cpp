// The source map: every code address leads back to the line and function it was compiled from.
#include "support.h"

namespace talven::compiler::testing {
namespace {

class SourceMapTest : public CompilerTest {
 protected:
  // The position of the first instruction whose text starts with `mnemonic` at or after the
  // `skip`-th such instruction.
  std::optional<vm::SourceMap::Position> position_of(const Compiled& c, const std::string& mnemonic, int skip = 0) {
    for (const auto& i : disassemble(vm::host_pointer(c.base), c.result.code_size, c.base)) {
      if (i.text.rfind(mnemonic, 0) != 0 || skip-- > 0) continue;
      // Every byte of the instruction maps to the same place.
      auto first = c.result.source_map.find(c.base + i.offset);
      auto last = c.result.source_map.find(c.base + i.offset + i.length - 1);
      EXPECT_TRUE(first && last && first->line == last->line && first->file == last->file) << i.text;
      return first;
    }
    ADD_FAILURE() << "no instruction " << mnemonic;
    return std::nullopt;
  }
};

TEST_F(SourceMapTest, InstructionsLeadBackToTheirLineFileAndFunction) {
  const std::string lib =
      "int half(int v)\n"
      "{\n"
      "  return v / 2;\n"  // line 3: div
      "}\n";
  const std::string main =
      "#include \"lib.h\"\n"
      "int total;\n"
      "int main()\n"
      "{\n"
      "  int i;\n"
      "  for (i = 0;\n"
      "       i < 10;\n"
      "       i++)\n"
      "    total = total +\n"
      "            half(i);\n"       // the statement starts on line 9
      "  do total--;\n"              // line 11: postop of total--
      "  while (total %\n"
      "         7);\n"               // the condition notes the `while` line, 12
      "  return total << 1;\n"       // line 14: shl
      "}\n";
  Compiled c = build(std::map<std::string, std::string>{{"main.c", main}, {"lib.h", lib}});
  ASSERT_TRUE(c.result.ok) << c.errors();
  const vm::SourceMap& map = c.result.source_map;
  ASSERT_EQ(map.files, (std::vector<std::string>{"lib.h", "main.c"}));  // in the order code came from them

  struct Case {
    const char* mnemonic;
    int skip;
    const char* file;
    std::uint32_t line;
    const char* function;
  } cases[] = {
      {"div", 0, "lib.h", 3, "half"},
      {"call", 0, "main.c", 9, "main"},       // the call of half
      {"postop", 0, "main.c", 6, "main"},     // the step i++ runs after the body; it belongs to the for
      {"mod", 0, "main.c", 12, "main"},
      {"shl", 0, "main.c", 14, "main"},
  };
  for (const Case& k : cases) {
    auto p = position_of(c, k.mnemonic, k.skip);
    ASSERT_TRUE(p) << k.mnemonic;
    EXPECT_EQ(p->file, k.file) << k.mnemonic;
    EXPECT_EQ(p->line, k.line) << k.mnemonic;
    EXPECT_EQ(p->function, k.function) << k.mnemonic;
  }
  // Data after the code is no instruction of any line.
  EXPECT_FALSE(map.find(c.base + c.result.code_size));
  // The sizing pass has no addresses to map.
  Compiled sizing;
  CompileOptions options;
  options.report_errors = false;
  options.reader = [&](const std::string& p, std::string& text) {
    text = p == "main.c" ? main : lib;
    return SourceStatus::ok;
  };
  EXPECT_TRUE(compile("main.c", options).source_map.lines.empty());
}

TEST_F(SourceMapTest, BuiltInStubsAreFunctionsOfTheirOwn) {
  Compiled c = build("#trap\nint strlen(char *s);\nint main() { return strlen(\"abc\"); }\n");
  ASSERT_TRUE(c.result.ok) << c.errors();
  auto trap = position_of(c, "trap");
  ASSERT_TRUE(trap);
  EXPECT_EQ(trap->function, "strlen");
  EXPECT_EQ(trap->line, 2u);
}

}  // namespace
}  // namespace talven::compiler::testing
