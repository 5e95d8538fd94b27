#include "platform/game_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/files.h"
#include "platform/text_encoding.h"

namespace talven::platform {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path, std::string_view bytes = "x") {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string bytes_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class GamePathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("talven-paths-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(folder_);
    previous_ = fs::current_path();
    fs::current_path(folder_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(folder_);
  }
  fs::path folder_, previous_;
};

TEST(GamePathToUtf8, SeparatorsAndTrailBytes) {
  EXPECT_EQ(game_path_to_utf8("data\\bg/x.png"), "data/bg/x.png");
  EXPECT_EQ(game_path_to_utf8("\x83\x5C\\\x95\x5C.txt"), "ソ/表.txt");
  EXPECT_EQ(game_path_to_utf8(""), "");
}

TEST_F(GamePathsTest, ComponentsMatchWithoutRegardToCase) {
  touch("Data/BG/Title.png");
  EXPECT_EQ(resolve_game_path("data\\bg\\title.PNG"), "Data/BG/Title.png");
  EXPECT_EQ(resolve_game_path("Data/BG/Title.png"), "Data/BG/Title.png");
  touch("Ｗｉｄｅ/ＦＩＬＥ.txt");
  EXPECT_EQ(resolve_game_path(utf8_to_cp932("ｗｉｄｅ\\ｆｉｌｅ.txt")), "Ｗｉｄｅ/ＦＩＬＥ.txt");
  touch("ソ/表.txt");
  EXPECT_EQ(resolve_game_path("\x83\x5C\\\x95\x5C.TXT"), "ソ/表.txt");
}

TEST_F(GamePathsTest, ExactSpellingWinsAndChoiceIsStable) {
  touch("dir/Name.txt", "upper");
  touch("dir/name.txt", "lower");
  EXPECT_EQ(resolve_game_path("DIR/name.txt"), "dir/name.txt");
  EXPECT_EQ(resolve_game_path("DIR/NAME.TXT"), "dir/Name.txt");  // first in name order
}

TEST_F(GamePathsTest, NewFilesKeepTheNameAsWrittenInsideExistingFolders) {
  fs::create_directories("Save");
  EXPECT_EQ(resolve_game_path("save\\Slot1.DAT"), "Save/Slot1.DAT");
  EXPECT_EQ(resolve_game_path("nothere\\Deeper\\x"), "nothere/Deeper/x");
  // Writing through the resolved name and resolving again finds the file created in between.
  { HostFile out = create_for_writing(resolve_game_path("save\\Slot1.DAT")); ASSERT_TRUE(out.is_open()); }
  EXPECT_EQ(resolve_game_path("SAVE\\slot1.dat"), "Save/Slot1.DAT");
  touch("Save/Later.txt");
  EXPECT_EQ(resolve_game_path("save/later.TXT"), "Save/Later.txt");
}

TEST_F(GamePathsTest, BelowAHostRoot) {
  touch("Disc/Game/File.TXT");
  std::string root = (folder_ / "Disc").string();
  EXPECT_EQ(resolve_game_path_in(root, "game\\file.txt"), root + "/Game/File.TXT");
  EXPECT_EQ(resolve_game_path_in(root, "\\GAME\\FILE.txt"), root + "/Game/File.TXT");
  EXPECT_EQ(resolve_game_path_in(root + "/", "new.txt"), root + "/new.txt");
  EXPECT_EQ(resolve_game_path_in("", "disc/game/file.txt"), "Disc/Game/File.TXT");
}

TEST_F(GamePathsTest, ReplacementLeavesTheOldFileUntilCommitted) {
  touch("keep.bin", "old");
  {
    FileReplacement out("keep.bin");
    ASSERT_TRUE(out.is_open());
    ASSERT_TRUE(out.file().write("new but abandoned", 17));
  }
  EXPECT_EQ(bytes_of("keep.bin"), "old");
  {
    FileReplacement out("keep.bin");
    ASSERT_TRUE(out.file().write("new", 3));
    ASSERT_TRUE(out.commit());
  }
  EXPECT_EQ(bytes_of("keep.bin"), "new");
  FileReplacement nowhere("missing/folder/x");
  EXPECT_FALSE(nowhere.is_open());
  EXPECT_FALSE(nowhere.commit());
  std::size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(".")) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST_F(GamePathsTest, HostFileBasics) {
  touch("f.bin", "0123456789");
  EXPECT_FALSE(open_for_reading("missing").is_open());
  fs::create_directories("folder");
  EXPECT_FALSE(open_for_reading("folder").is_open());
  HostFile f = open_for_reading("f.bin");
  ASSERT_TRUE(f.is_open());
  EXPECT_EQ(f.size(), 10);
  EXPECT_EQ(f.seek(-3, 2), 7);
  char b[8];
  std::size_t got = 0;
  EXPECT_TRUE(f.read(b, sizeof b, &got));
  EXPECT_EQ(std::string(b, got), "789");
  EXPECT_EQ(f.seek(0, 7), -1);
}

}  // namespace
}  // namespace talven::platform
