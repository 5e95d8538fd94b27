// The command-line compiler: listing, disassembly and error output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TalvencTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("talvenc_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "inc");
  }
  void TearDown() override { fs::remove_all(dir_); }
  int run(const std::string& args, const std::string& locale = "C.UTF-8") {
    std::string command = "cd '" + dir_.string() + "' && LC_ALL=" + locale + " '" + std::string(TALVEN_BINARY_DIR) +
                          "/tools/talvenc' " + args + " >out.txt 2>err.txt";
    int status = std::system(command.c_str());
    return (status >> 8) & 0xFF;  // the exit status, as std::system reports it here
  }
  fs::path dir_;
};

TEST_F(TalvencTest, CompilesWithIncludeDirectoryListingAndDisassembly) {
  std::ofstream(dir_ / "game.c") << "#include \"lib.h\"\nint main() { return twice(21); }\n";
  std::ofstream(dir_ / "inc" / "lib.h") << "int twice(x) { return x * 2; }\n";
  ASSERT_EQ(run("game.c --listing --disasm -I inc"), 0) << slurp(dir_ / "err.txt");
  std::string listing = slurp(dir_ / "game.txt");
  EXPECT_NE(listing.find("twice:\n\tenter\n"), std::string::npos) << listing;
  std::string disasm = slurp(dir_ / "out.txt");
  EXPECT_NE(disasm.find("push $21"), std::string::npos) << disasm;
  EXPECT_NE(disasm.find("add r7, $4"), std::string::npos);
  EXPECT_NE(disasm.find("mul r2, r0"), std::string::npos);
  // Each function under its name, the code under the source lines it came from.
  EXPECT_NE(disasm.find("\ntwice:\n; lib.h(1): int twice(x) { return x * 2; }\n"), std::string::npos) << disasm;
  EXPECT_NE(disasm.find("\nmain:\n; game.c(2): int main() { return twice(21); }\n"), std::string::npos) << disasm;
}

TEST_F(TalvencTest, PrintsCompileErrorsInUtf8WithStatusOne) {
  std::ofstream(dir_ / "bad.c") << "int main()\n{\n  return y;\n}\n";
  EXPECT_EQ(run("bad.c"), 1);
  // The engine's message, its English meaning beside it unless the user reads Japanese.
  EXPECT_EQ(slurp(dir_ / "err.txt"), "bad.c(3) : 定義されていない文字列です。 (undefined name)\n  return y;??\n");
  EXPECT_EQ(run("bad.c", "ja_JP.UTF-8"), 1);
  EXPECT_EQ(slurp(dir_ / "err.txt"), "bad.c(3) : 定義されていない文字列です。\n  return y;??\n");
  EXPECT_EQ(run("nothere.c"), 1);
  EXPECT_EQ(slurp(dir_ / "err.txt").rfind("nothere.c(0) : ファイルのオープンに失敗しました。", 0), 0u) << slurp(dir_ / "err.txt");
}

}  // namespace
