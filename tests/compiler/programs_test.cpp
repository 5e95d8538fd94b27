// The sample programs in the C subset that both this compiler and a C compiler accept. They are
// the programs of the differential test: once the interpreter runs compiled images, each image's
// result is compared with the native build's exit value.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support.h"

namespace talven::compiler::testing {
namespace {

namespace fs = std::filesystem;

TEST_F(CompilerTest, SampleProgramsCompile) {
  fs::path dir = fs::path(TALVEN_SOURCE_DIR) / "tests" / "compiler" / "programs";
  int count = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".c") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Compiled c = build(text.str());
    EXPECT_TRUE(c.result.ok) << entry.path() << "\n" << c.errors();
    EXPECT_GT(c.result.code_size, 50u);
    ++count;
  }
  EXPECT_GE(count, 5);
}

}  // namespace
}  // namespace talven::compiler::testing
