// The SDK header: every built-in in table order, and the records it declares.
#include <cctype>
#include <fstream>
#include <sstream>

#include "support.h"
#include "shell/shell_builtins.h"
#include "vm/call_gate.h"

namespace talven::compiler::testing {
namespace {

std::string read_header() {
  std::ifstream in(std::string(TALVEN_SOURCE_DIR) + "/sdk/include/talven.h", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The declaration after each #trap line of the header: its name and how many parameters it lists
// (variable-count functions end their list with the comment ", ...").
struct Declared {
  std::string name;
  int parameters = 0;
  bool variable = false;
};

std::vector<Declared> declared_builtins(const std::string& header) {
  std::vector<Declared> out;
  std::istringstream in(header);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("#trap", 0) != 0) continue;
    std::string declaration;
    if (!std::getline(in, declaration)) break;
    Declared d;
    std::size_t open = declaration.find('(');
    std::size_t name_end = open;
    while (name_end > 0 && declaration[name_end - 1] == ' ') --name_end;
    std::size_t name_start = name_end;
    while (name_start > 0 && (std::isalnum(static_cast<unsigned char>(declaration[name_start - 1])) ||
                              declaration[name_start - 1] == '_'))
      --name_start;
    d.name = declaration.substr(name_start, name_end - name_start);
    int depth = 0;
    bool any = false;
    for (std::size_t i = open + 1; i < declaration.size(); ++i) {
      const char ch = declaration[i];
      if (ch == '(') ++depth;
      if (ch == ')' && depth-- == 0) break;
      if (ch == ',' && depth == 0 && declaration.compare(i, 5, ", ...") != 0) ++d.parameters;
      if (ch != ' ' && ch != ')') any = true;
    }
    if (any) ++d.parameters;
    d.variable = declaration.find(", ...") != std::string::npos;
    out.push_back(d);
  }
  return out;
}

// The header and the table the modules assemble are the only two lists: every built-in has the
// same index, name and argument count in both.
TEST_F(CompilerTest, TheAssembledTableIsTheSdkHeader) {
  ASSERT_EQ(shell::install_all_builtins(), "");
  const std::vector<Declared> declared = declared_builtins(read_header());
  ASSERT_EQ(declared.size(), vm::kBuiltinCount);
  for (std::uint32_t i = 0; i < vm::kBuiltinCount; ++i) {
    const vm::BuiltinEntry& entry = vm::builtin_entry(i);
    ASSERT_NE(entry.name, nullptr) << i;
    EXPECT_EQ(declared[i].name, entry.name) << "table index " << i;
    if (declared[i].variable) {
      EXPECT_EQ(entry.argument_count, -1) << entry.name;
    } else {
      EXPECT_EQ(declared[i].parameters, entry.argument_count) << entry.name;
    }
  }
}

TEST_F(CompilerTest, SdkHeaderDeclaresEveryBuiltInInTableOrder) {
  ASSERT_EQ(shell::install_all_builtins(), "");
  std::string header = read_header();
  ASSERT_FALSE(header.empty());
  Compiled c = build(std::map<std::string, std::string>{
      {"main.c",
       "#include \"talven.h\"\n"
       "int main()\n{\n  RECT r; BLITMODE m; SPRITE *s; HITREGION *h; FONT f; KEYFRAME k[4]; POINTER p;\n"
       "  rc_set(&r, 0, 0, 10, 10);\n  m.mode = BLIT_SRCKEY;\n"
       "  s = sp_set(0, SP_DRAWN, 1, 2, 3, &r, &m);\n  s->x = sqrt(2.0) * 3;\n"
       "  h = hit_set(0, 1, s, &r, 7);\n  kf_setkey(&k[1], 0.5, 2.0);\n  getpoint(&p);\n"
       "  sprintf(f.face, \"%d\", p.x);\n"
       "  return sizeof(SPRITE) * 1000000 + sizeof(HITREGION) * 10000 + sizeof(FONT) * 100 + sizeof(BLITMODE);\n}\n"},
      {"talven.h", header}});
  ASSERT_TRUE(c.result.ok) << c.errors();
  for (std::uint32_t i = 0; i < vm::kBuiltinCount; ++i) {
    const char* name = vm::builtin_entry(i).name;
    EXPECT_EQ(c.function(name), (std::vector<std::string>{"\ttrap\t" + std::to_string(i), "\tret"})) << name;
  }
  // record sizes: sprite 144, hit region 44, font 48, blit mode 12
  EXPECT_NE(c.listing.find("\tmovl\tr0, $144444812\n"), std::string::npos);
}

}  // namespace
}  // namespace talven::compiler::testing
