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

std::vector<std::string> program_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(kPrograms))
    if (e.path().extension() == ".c") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class DifferentialTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DifferentialTest, TalvenPrintsWhatGccPrints) {
  const std::string name = GetParam();
  const std::string program = renamed_main(read_file(kPrograms / (name + ".c")));
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

INSTANTIATE_TEST_SUITE_P(Programs, DifferentialTest, ::testing::ValuesIn(program_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
