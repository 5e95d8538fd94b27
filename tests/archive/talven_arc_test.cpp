// Round trips through the real talven-arc executable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "archive/archive_test_support.h"
#include "archive/fast_file.h"
#include "archive/pack_file.h"

namespace talven::archive::test {
namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(TALVEN_BINARY_DIR) + "/tools/talven-arc";

// Runs talven-arc with `arguments` (already quoted for the shell); its exit status.
int run_tool(const std::string& arguments, const std::string& output = "tool.out") {
  int status = std::system((kTool + " " + arguments + " >" + output + " 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string random_data(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Every regular file below `root`, by path relative to it, with its bytes.
std::map<std::string, std::string> tree_of(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = bytes_of(e.path());
  return files;
}

class TalvenArcTest : public ScratchFolder {};

TEST_F(TalvenArcTest, ArchiveRoundTripWithNestedDoubleByteAndEmptyMembers) {
  std::mt19937 rng(7);
  const char* folders[] = {"", "bg/", "bg/night/", "se/", "キャラ/", "キャラ/表情/", "Deep/er/and/deeper/"};
  for (int i = 0; i < 300; ++i) {
    std::string name = std::string(folders[i % 7]) + (i % 5 == 0 ? "画像" : "file") + std::to_string(i) +
                       (i % 3 ? ".png" : ".txt");
    std::size_t size = i % 11 == 0 ? 0 : rng() % 3000;
    write_bytes(fs::path("src") / name, random_data(size, static_cast<std::uint32_t>(i)));
  }
  write_bytes("src/ソ.txt", "trail byte 5C in the name");
  ASSERT_EQ(run_tool("create data.bin src --seed 0x1234"), 0) << bytes_of("tool.out");
  ASSERT_EQ(run_tool("extract data.bin out"), 0) << bytes_of("tool.out");
  EXPECT_EQ(tree_of("out"), tree_of("src"));

  ASSERT_EQ(run_tool("list data.bin", "list.out"), 0);
  std::string listing = bytes_of("list.out");
  EXPECT_NE(listing.find("キャラ/表情/画像"), std::string::npos);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 301);

  // The engine finds every member under its game path, in any letter case.
  archive::set_file_system(1);
  for (const auto& [name, bytes] : tree_of("src")) {
    std::string game_path = platform::utf8_to_cp932("DATA/" + name);
    FastFile* f = OpenFastFile(game_path.c_str());
    ASSERT_NE(f, nullptr) << name;
    std::string got(bytes.size(), '\0');
    std::uint32_t n = 0;
    EXPECT_TRUE(bytes.empty() || ReadFastFile(f, got.data(), static_cast<std::uint32_t>(got.size()), &n));
    EXPECT_EQ(got.substr(0, n), bytes) << name;
    EXPECT_EQ(GetFastFileSize(f), static_cast<std::int64_t>(bytes.size()));
    CloseFastFile(f);
  }
}

TEST_F(TalvenArcTest, SeparatorAndSeedChoices) {
  write_bytes("src/sub/x.png", "x");
  ASSERT_EQ(run_tool("create a.bin src --separator '\\' --seed 5"), 0) << bytes_of("tool.out");
  ASSERT_EQ(run_tool("create b.bin src --separator '\\' --seed 5"), 0);
  EXPECT_EQ(bytes_of("a.bin"), bytes_of("b.bin"));
  archive::set_file_system(1);
  FastFile* f = OpenFastFile("a/sub\\x.png");
  EXPECT_NE(f, nullptr);
  CloseFastFile(f);
  EXPECT_EQ(OpenFastFile("a/sub/x.png"), nullptr);
  ASSERT_EQ(run_tool("create c.bin src --seed 6"), 0);
  EXPECT_NE(bytes_of("a.bin"), bytes_of("c.bin"));
}

TEST_F(TalvenArcTest, ErrorsExitNonZeroAndKeepTheOldArchive) {
  write_bytes("src/a.txt", "a");
  ASSERT_EQ(run_tool("create good.bin src"), 0);
  std::string good = bytes_of("good.bin");
  write_bytes("src/A.TXT", "clash");
  EXPECT_EQ(run_tool("create good.bin src"), 1);
  EXPECT_NE(bytes_of("tool.out").find("differ only in letter case"), std::string::npos);
  EXPECT_EQ(bytes_of("good.bin"), good);
  EXPECT_EQ(tree_of(".").size(), 4u);  // src/a.txt, src/A.TXT, good.bin, tool.out: no leftovers

  struct Case {
    std::string arguments;
    int status;
  } cases[] = {
      {"create x.bin missing-folder", 1}, {"list src/a.txt", 1},      {"list missing.bin", 1},
      {"extract src/a.txt", 1},           {"unpack src/a.txt", 1},    {"pack missing", 1},
      {"create x.bin src --seed -1", 2},  {"create x.bin", 2},        {"frobnicate", 2},
      {"", 2},                            {"create x.bin src --separator :", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(run_tool(c.arguments), c.status);
    EXPECT_FALSE(bytes_of("tool.out").empty());
  }
  EXPECT_EQ(run_tool("--help"), 0);
  for (const char* word : {"create", "list", "extract", "pack", "unpack", "--seed", "--separator"})
    EXPECT_NE(bytes_of("tool.out").find(word), std::string::npos) << word;
}

TEST_F(TalvenArcTest, ExtractRefusesNamesThatLeaveTheFolder) {
  write_bytes("evil.bin", archive_bytes({{"../outside.txt", "no"}}));
  EXPECT_EQ(run_tool("extract evil.bin out"), 1);
  EXPECT_FALSE(fs::exists("outside.txt"));
  write_bytes("damaged.bin", archive_bytes({{"x", "0123"}}).substr(0, 36));
  EXPECT_EQ(run_tool("list damaged.bin"), 1);
}

TEST_F(TalvenArcTest, PackAndUnpackSmallFiles) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "word" + std::to_string(i % 97) + " ";
  struct Case {
    const char* name;
    std::string data;
  } cases[] = {{"empty", ""}, {"one", "A"}, {"text", text}, {"random", random_data(200000, 9)}};
  archive::set_file_system(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_bytes(c.name, c.data);
    ASSERT_EQ(run_tool(std::string("pack ") + c.name), 0) << bytes_of("tool.out");
    ASSERT_EQ(run_tool(std::string("unpack ") + c.name + ".pack back"), 0) << bytes_of("tool.out");
    EXPECT_EQ(bytes_of("back"), c.data);
    // The engine reads the pack file as its content.
    ExpFile* f = OpenExpFile((std::string(c.name) + ".pack").c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetExpFileSize(f), static_cast<std::int64_t>(c.data.size()));
    CloseExpFile(f);
  }
  EXPECT_EQ(bytes_of("one.pack"), std::string("acp\0\0\0\0\1\x20\xC0\0", 11));
}

TEST_F(TalvenArcTest, PackAndUnpackFiftyMegabytes) {
  // Half random, half long repetitive runs, so both the table-flushing and the long-string paths
  // carry real volume.
  std::string data = random_data(25 << 20, 11);
  std::string pattern = "the same line over and over again, ";
  while (data.size() < (50u << 20)) data += pattern;
  write_bytes("big", data);
  ASSERT_EQ(run_tool("pack big big.acp"), 0) << bytes_of("tool.out");
  ASSERT_EQ(run_tool("unpack big.acp big.back"), 0) << bytes_of("tool.out");
  EXPECT_TRUE(bytes_of("big.back") == data);
}

}  // namespace
}  // namespace talven::archive::test
