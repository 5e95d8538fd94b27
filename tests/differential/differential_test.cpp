// Differential tests: programs in the C subset the script language shares with C, compiled by gcc
// and by Talven's compiler, must print the same. Each program's main returns a number; a small
// wrapper prints it, with printf under gcc and with log_out under `talven --headless`.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kPrograms = fs::path(TALVEN_SOURCE_DIR) / "tests/compiler/programs";
// Programs of the kinds decoded code is built to run fast (char pointers, structures reached
// through pointers, byte and short arrays); the decoded-program test runs them too.
const fs::path kDecodedPrograms = fs::path(TALVEN_SOURCE_DIR) / "tests/differential/programs";

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::string renamed_main(std::string source) {
  const std::string from = "int main()";
  std::size_t at = source.find(from);
  if (at != std::string::npos) source.replace(at, from.size(), "int program_main()");
  return source;
}

int run(const std::string& command) {
  int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The programs of a folder, as paths relative to the source tree.
std::vector<std::string> program_names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".c") names.push_back(fs::relative(e.path(), TALVEN_SOURCE_DIR).string());
  std::sort(names.begin(), names.end());
  return names;
}
std::vector<std::string> program_names() {
  std::vector<std::string> names = program_names(kPrograms);
  for (const std::string& name : program_names(kDecodedPrograms)) names.push_back(name);
  return names;
}

class DifferentialTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DifferentialTest, TalvenPrintsWhatGccPrints) {
  const fs::path source(GetParam());
  const std::string name = source.parent_path().parent_path().filename().string() + "-" + source.stem().string();
  const std::string program = renamed_main(read_file(fs::path(TALVEN_SOURCE_DIR) / source));
  const fs::path work = fs::temp_directory_path() / ("talven-diff-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "game");

  write_file(work / "native.c", "#include <stdio.h>\n" + program +
                                    "\nint main(void) { printf(\"%d\\n\", program_main()); return 0; }\n");
  ASSERT_EQ(run("cd '" + work.string() + "' && gcc -O2 -w -o native native.c && ./native > native.txt"), 0);

  write_file(work / "game.cfg", "[General]\nFileSystem=3\nError=1\n");
  fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work / "game/talven.h");
  write_file(work / "game/main.c", "#include \"talven.h\"\n" + program +
                                       "\nint main() { log_out(\"%d\", program_main()); return 0; }\n");
  ASSERT_EQ(run("cd '" + work.string() + "' && '" + TALVEN_BINARY_DIR +
                "/talven' --headless --log talven.txt game.cfg 2>stderr.txt"),
            0)
      << read_file(work / "stderr.txt");

  EXPECT_EQ(read_file(work / "talven.txt"), read_file(work / "native.txt"));
  if (!HasFailure()) fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Programs, DifferentialTest, ::testing::ValuesIn(program_names()), [](const auto& info) {
  const fs::path path(info.param);
  return path.parent_path().parent_path().filename().string() + "_" + path.stem().string();  // compiler_arrays
});

}  // namespace

// ---- Random programs ---------------------------------------------------------------------------
// Generated programs stay inside what this language and C agree on: integer arithmetic that wraps
// (gcc runs with -fwrapv), no side effects inside expressions (so evaluation order cannot matter),
// shift counts below 32, divisors that are never zero or -1, no mixing of int and float.

namespace {

class ProgramGenerator {
 public:
  explicit ProgramGenerator(unsigned seed) : state_(seed * 2654435761u + 12345u) {}

  // One self-contained program part: functions p<N>_f, p<N>_g and p<N>_run().
  std::string part(int n) {
    prefix_ = "p" + std::to_string(n) + "_";
    std::string s;
    s += "int " + prefix_ + "f(int a, int b)\n{\n  int x, y, i;\n";
    vars_ = {"a", "b"};
    s += "  x = " + expr(3) + ";\n";
    vars_.push_back("x");
    s += "  y = " + expr(3) + ";\n";
    vars_.push_back("y");
    s += "  if (" + condition() + ") x = " + expr(2) + "; else y = " + expr(2) + ";\n";
    s += "  for (i = 0; i < " + std::to_string(1 + pick(6)) + "; i++) x = x * 3 + " + expr(2) + ";\n";
    s += "  i = 0;\n  while (i < 20 && " + condition() + ") { y = y / 2 - 1; i++; }\n";
    s += "  return x ^ y;\n}\n";
    s += "int " + prefix_ + "g(int k)\n{\n  int s, t;\n";
    vars_ = {"k"};
    s += "  s = " + prefix_ + "f(k, " + expr(2) + ");\n";
    vars_.push_back("s");
    s += "  t = " + prefix_ + "f(" + expr(2) + ", s);\n";
    vars_.push_back("t");
    s += "  switch (t & 3) {\n  case 0: s = s + " + expr(2) + "; break;\n  case 1: s = s - t; break;\n"
         "  default: s = " + expr(2) + ";\n  }\n";
    s += "  return s + t;\n}\n";
    s += "int " + prefix_ + "run()\n{\n  int k, acc;\n  acc = 7;\n";
    s += "  for (k = 0; k < 12; k++) acc = acc * 31 + " + prefix_ + "g(k + acc % 17);\n";
    s += "  return acc;\n}\n";
    return s;
  }

 private:
  unsigned pick(unsigned n) {
    state_ = state_ * 1103515245u + 12345u;
    return (state_ >> 8) % n;
  }

  std::string leaf() {
    if (pick(3) == 0) return std::to_string(static_cast<int>(pick(200)) - 50);
    return vars_[pick(static_cast<unsigned>(vars_.size()))];
  }

  std::string expr(int depth) {
    if (depth == 0 || pick(4) == 0) return leaf();
    std::string a = expr(depth - 1), b = expr(depth - 1);
    switch (pick(11)) {
      case 0: return "(" + a + " + " + b + ")";
      case 1: return "(" + a + " - " + b + ")";
      case 2: return "(" + a + " * " + b + ")";
      case 3: return "(" + a + " & " + b + ")";
      case 4: return "(" + a + " | " + b + ")";
      case 5: return "(" + a + " ^ " + b + ")";
      case 6: return "(" + a + " << (" + b + " & 15))";
      case 7: return "(" + a + " >> (" + b + " & 15))";
      case 8: return "(" + a + " / ((" + b + " & 7) + 2))";
      case 9: return "(" + a + " % ((" + b + " & 15) + 3))";
      default: return "(" + a + " < " + b + " ? " + a + " : -(" + b + "))";
    }
  }

  std::string condition() {
    static const char* const ops[] = {"<", ">", "<=", ">=", "==", "!="};
    return expr(2) + " " + ops[pick(6)] + " " + expr(2);
  }

  unsigned state_;
  std::string prefix_;
  std::vector<std::string> vars_;
};

class RandomPrograms : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomPrograms, TalvenAgreesWithGcc) {
  constexpr int kParts = 24;
  const unsigned seed = GetParam();
  ProgramGenerator generator(seed);
  std::string body, native_main, script_main;
  for (int n = 0; n < kParts; ++n) {
    body += generator.part(n);
    native_main += "  printf(\"%d\\n\", p" + std::to_string(n) + "_run());\n";
    script_main += "  log_out(\"%d\", p" + std::to_string(n) + "_run());\n";
  }
  const fs::path work =
      fs::temp_directory_path() / ("talven-random-" + std::to_string(seed) + "-" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "game");
  write_file(work / "native.c", "#include <stdio.h>\n" + body + "int main(void)\n{\n" + native_main + "  return 0;\n}\n");
  ASSERT_EQ(run("cd '" + work.string() + "' && gcc -O2 -fwrapv -w -o native native.c && ./native > native.txt"), 0);
  write_file(work / "game.cfg", "[General]\nFileSystem=3\nError=1\n");
  fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work / "game/talven.h");
  write_file(work / "game/main.c", "#include \"talven.h\"\n" + body + "int main()\n{\n" + script_main + "  return 0;\n}\n");
  ASSERT_EQ(run("cd '" + work.string() + "' && '" + TALVEN_BINARY_DIR +
                "/talven' --headless --log talven.txt game.cfg 2>stderr.txt"),
            0)
      << read_file(work / "stderr.txt");
  EXPECT_EQ(read_file(work / "talven.txt"), read_file(work / "native.txt")) << "programs kept in " << work;
  if (!HasFailure()) fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomPrograms, ::testing::Values(20261210u, 7u, 99u, 4357u));

}  // namespace
