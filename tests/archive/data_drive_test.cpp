#include "archive/data_drive.h"

#include <gtest/gtest.h>

#include "archive/archive_test_support.h"
#include "archive/fast_file.h"

namespace talven::archive::test {
namespace {

TEST(DataDrivePath, Rule) {
  struct Case {
    std::string cd_dir, path, expected;
  } cases[] = {
      {"", "data.bin", "data.bin"},
      {"game\\", "data.bin", "game\\data.bin"},
      {"game/", "bg/title.png", "game/bg/title.png"},
      {"game", "bg/title.png", "game\\bg/title.png"},  // a separator goes in when CD-DIR lacks one
      {"game", "x.png", "game\\x.png"},
      {"game\\", "\\root\\x.png", "\\root\\x.png"},    // a path from the root ignores CD-DIR
      {"game\\", "C:bg\\x.png", "game\\bg\\x.png"},    // the path's drive is replaced
      {"game\\", "C:\\bg\\x.png", "\\bg\\x.png"},
      {"\x83\x5C", "x.png", "\x83\x5C\\x.png"},        // a trail byte 0x5C is no separator
      {"", "\x83\x5Cx.png", "\x83\x5Cx.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cd_dir + " + " + c.path);
    EXPECT_EQ(data_drive_game_path(c.cd_dir, c.path), c.expected);
  }
}

using DataDriveTest = ScratchFolder;

TEST_F(DataDriveTest, FindsTheMountFolderByLabel) {
  std::filesystem::path media = folder_ / "media", run = folder_ / "run", mnt = folder_ / "mnt";
  platform::MountRoots roots{{media.string(), run.string()}, {mnt.string()}};
  EXPECT_EQ(locate_data_drive("GAMEDISC", roots), "");
  std::filesystem::create_directories(run / "someone" / "GAMEDISC");
  EXPECT_EQ(locate_data_drive("GAMEDISC", roots), (run / "someone" / "GAMEDISC").string());
  std::filesystem::create_directories(media / "player" / "GAMEDISC");
  EXPECT_EQ(locate_data_drive("GAMEDISC", roots), (media / "player" / "GAMEDISC").string());
  std::filesystem::create_directories(mnt / "gamedisc2");
  EXPECT_EQ(locate_data_drive("GAMEDISC2", roots), (mnt / "gamedisc2").string());  // case differs
  std::string label = platform::utf8_to_cp932("ゲーム");
  std::filesystem::create_directories(mnt / "ゲーム");
  EXPECT_EQ(locate_data_drive(label, roots), (mnt / "ゲーム").string());
  write_bytes(mnt / "FILELABEL", "a file is no mount folder");
  EXPECT_EQ(locate_data_drive("FILELABEL", roots), "");
  EXPECT_EQ(locate_data_drive("", roots), "");
  EXPECT_EQ(locate_data_drive("..", roots), "");
}

TEST_F(DataDriveTest, FilesAndArchivesAreFoundOnTheDataDrive) {
  std::filesystem::path disc = folder_ / "disc";
  write_bytes(disc / "Game" / "Loose.txt", "loose on disc");
  write_bytes(disc / "Game" / "Data.bin", archive_bytes({{"bg.png", "member on disc"}}));
  write_bytes(disc / "root.txt", "at the root");
  std::filesystem::create_directories("here");
  std::filesystem::current_path("here");
  set_data_drive(disc.string());
  archive::set_data_drive_directory("game\\");
  auto content = [](const char* path) {
    FastFile* f = OpenFastFile(path);
    if (!f) return std::string("<none>");
    std::string out(static_cast<std::size_t>(GetFastFileSize(f)), '\0');
    std::uint32_t n = 0;
    ReadFastFile(f, out.data(), static_cast<std::uint32_t>(out.size()), &n);
    CloseFastFile(f);
    return out.substr(0, n);
  };
  archive::set_file_system(3);
  EXPECT_EQ(content("loose.txt"), "loose on disc");
  EXPECT_EQ(content("\\root.txt"), "at the root");
  archive::set_file_system(1);
  EXPECT_EQ(content("data/BG.png"), "member on disc");
  EXPECT_EQ(content("loose.txt"), "<none>");
  // A file in the game's folder comes before the data drive.
  write_bytes("data.bin", archive_bytes({{"bg.png", "member here"}}));
  EXPECT_EQ(content("data/bg.png"), "member here");
  set_data_drive("");
  EXPECT_EQ(data_drive_host_path("x"), "");
}

}  // namespace
}  // namespace talven::archive::test
