#include "shell/configuration.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text_encoding.h"
#include "shell/test_support.h"

namespace talven::shell {
namespace {

namespace fs = std::filesystem;
using test::EnvironmentOverride;
using test::read_bytes;
using test::ScratchFolder;
using test::write_bytes;

// A game folder "game/" with the game "Quest", and a home folder whose documents folder is "Docs"
// (named by user-dirs.dirs in an XDG config folder), all inside one scratch folder.
class ConfigurationTest : public ::testing::Test {
 protected:
  ScratchFolder root;
  fs::path game = root.path() / "game";
  fs::path home = root.path() / "home";
  fs::path documents = home / "Docs";
  EnvironmentOverride home_variable{"HOME", home.string()};
  EnvironmentOverride config_home{"XDG_CONFIG_HOME", (root.path() / "xdg").string()};

  void SetUp() override {
    fs::create_directories(game);
    fs::create_directories(documents);
    fs::create_directories(root.path() / "xdg");
    write_bytes(root.path() / "xdg" / "user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
  }

  std::string game_dir() const { return game.string() + "/"; }
  void own_cfg(const std::string& text) { write_bytes(game / "Quest.cfg", text); }
  void shared_cfg(const std::string& text) { write_bytes(game / "configure.cfg", text); }
  void load() { load_configuration(game_dir(), "Quest"); }
};

TEST_F(ConfigurationTest, WithoutFilesEveryKeyHasItsDefault) {
  load();
  const std::pair<const char*, std::int32_t> ints[] = {
      {"General.Inheritance", 1},  {"General.DebugMode", 0},       {"General.Error", 1},
      {"General.MultiInstance", 0}, {"General.FileSystem", 1},     {"Window.Resize", 0},
      {"Window.RestoreBounds", 1}, {"Window.WindowLeft", 0},       {"Window.WindowTop", 0},
      {"Window.WindowWidth", 0},   {"Window.WindowHeight", 0},     {"Screen.Width", 1280},
      {"Screen.Height", 720},      {"Screen.Depth", 24},           {"Screen.FullScreen", 0},
      {"Screen.FixedAspectRatio", 1}, {"Screen.Smoothing", 1},     {"System.MultiThreading", 1},
      {"System.Direct3D", 1},      {"System.DirectSound", 1},      {"System.DirectMusic", 0},
      {"System.DirectInput", 0},   {"System.Net", 0},              {"Drive.CD", 0},
      {"Option.GlobalFocus", 1},   {"Option.GlobalSound", 1},      {"Option.Confirmation", 1},
      {"Script.ProgramSize", 0},   {"Script.StackSize", 262144},   {"Script.HeapSize", 8388608},
  };
  for (const auto& [name, expected] : ints) {
    std::string_view n = name;
    std::size_t dot = n.find('.');
    EXPECT_EQ(config_int(n.substr(0, dot), n.substr(dot + 1)), expected) << name;
  }
  for (const char* key : {"Company", "Product", "Title"}) EXPECT_EQ(config_string("General", key), "") << key;
  for (const char* key : {"CD-ROM", "CD-DIR"}) EXPECT_EQ(config_string("Drive", key), "") << key;
  EXPECT_EQ(config_string("Script", "Load"), "");

  // The struct's own initial values agree with the table.
  const Configuration fresh;
  EXPECT_EQ(fresh.width, config().width);
  EXPECT_EQ(fresh.heap_size, config().heap_size);
  EXPECT_EQ(fresh.stack_size, config().stack_size);
  EXPECT_EQ(fresh.error, config().error);

  EXPECT_EQ(config().exe_dir, game_dir());
  EXPECT_EQ(config().exe_base, "Quest");
  EXPECT_EQ(config().config_path, game_dir() + "configure.cfg");
  EXPECT_EQ(config().script_dir, "Quest\\");
  EXPECT_EQ(config().script_name, "main.c");
}

TEST_F(ConfigurationTest, ThreeFilesOverrideKeyByKey) {
  const std::string company = platform::cp932("メーカー");
  own_cfg("[General]\r\nCompany=" + company + "\r\nProduct=Quest\r\nTitle=own\r\n[Screen]\r\nWidth=640\r\nHeight=480\r\n");
  shared_cfg("[Screen]\nHeight=600\nDepth=16\n[General]\nTitle=shared\n");
  fs::create_directories(documents / "メーカー" / "Quest");
  write_bytes(documents / "メーカー" / "Quest" / "configure.cfg", "[General]\nTitle=user\n[Screen]\nDepth=32\n");

  load();
  EXPECT_EQ(config().width, 640);   // only the game's own file names it
  EXPECT_EQ(config().height, 600);  // configure.cfg beside it
  EXPECT_EQ(config().depth, 32);    // the per-user file
  EXPECT_EQ(config().title, "user");
  EXPECT_EQ(config().company, company);
  EXPECT_EQ(config().config_path, documents.string() + "\\" + company + "\\Quest\\configure.cfg");
}

TEST_F(ConfigurationTest, PerUserFoldersAreCreatedAndBecomeTheConfigurationPath) {
  own_cfg("[General]\nCompany=Maker\nProduct=Quest\n");
  load();
  EXPECT_TRUE(fs::is_directory(documents / "Maker" / "Quest"));
  EXPECT_EQ(config().config_path, documents.string() + "\\Maker\\Quest\\configure.cfg");

  // The exit write creates the per-user file, and the next start reads it.
  config().full_screen = 1;
  ASSERT_TRUE(save_window_state());
  EXPECT_TRUE(fs::exists(documents / "Maker" / "Quest" / "configure.cfg"));
  load();
  EXPECT_EQ(config().full_screen, 1);
}

TEST_F(ConfigurationTest, PerUserFileNeedsCompanyProductAndADocumentsFolder) {
  // No documents folder on disk: the folders cannot be made, the path stays at configure.cfg.
  fs::remove_all(documents);
  own_cfg("[General]\nCompany=Maker\nProduct=Quest\n");
  load();
  EXPECT_EQ(config().config_path, game_dir() + "configure.cfg");
  EXPECT_FALSE(fs::exists(documents));

  // No HOME: no documents folder at all.
  {
    EnvironmentOverride no_home("HOME", std::nullopt);
    fs::create_directories(documents);
    load();
    EXPECT_EQ(config().config_path, game_dir() + "configure.cfg");
    EXPECT_FALSE(fs::exists(documents / "Maker"));
  }

  // Product missing.
  own_cfg("[General]\nCompany=Maker\n");
  load();
  EXPECT_EQ(config().config_path, game_dir() + "configure.cfg");
  EXPECT_FALSE(fs::exists(documents / "Maker"));
}

TEST_F(ConfigurationTest, DocumentsFolderWithoutACp932NameIsNotUsed) {
  // "é" has no cp932 form: the folder could not be named by the engine's paths.
  fs::create_directories(home / "Doc\xC3\xA9");
  write_bytes(root.path() / "xdg" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Doc\xC3\xA9\"\n");
  own_cfg("[General]\nCompany=Maker\nProduct=Quest\n");
  load();
  EXPECT_EQ(config().config_path, game_dir() + "configure.cfg");
  EXPECT_FALSE(fs::exists(home / "Doc\xC3\xA9" / "Maker"));
}

TEST_F(ConfigurationTest, InheritanceZeroInTheOwnFileNeitherReadsNorWritesConfigureCfg) {
  own_cfg("[General]\nInheritance=0\nCompany=Maker\nProduct=Quest\n");
  const std::string shared = "[Screen]\nWidth=800\n";
  shared_cfg(shared);
  load();
  EXPECT_EQ(config().width, 1280);
  EXPECT_EQ(config().config_path, game_dir() + "Quest.cfg");
  EXPECT_FALSE(fs::exists(documents / "Maker"));

  config().full_screen = 1;
  ASSERT_TRUE(save_window_state());
  EXPECT_EQ(read_bytes(game / "configure.cfg"), shared);
  EXPECT_EQ(read_bytes(game / "Quest.cfg"),
            "[General]\nInheritance=0\nCompany=Maker\nProduct=Quest\n\n[Screen]\nFullScreen=1\n\n[Window]\n"
            "WindowLeft=0\nWindowTop=0\nWindowWidth=0\nWindowHeight=0\n");
}

TEST_F(ConfigurationTest, InheritanceZeroInConfigureCfgStopsBeforeThePerUserFile) {
  own_cfg("[General]\nCompany=Maker\nProduct=Quest\n");
  shared_cfg("[General]\nInheritance=0\n");
  load();
  EXPECT_EQ(config().config_path, game_dir() + "configure.cfg");
  EXPECT_FALSE(fs::exists(documents / "Maker"));
}

TEST_F(ConfigurationTest, FileSystemWithNeitherBitBecomesThree) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"0", 3}, {"4", 3}, {"8", 3}, {"1", 1}, {"2", 2}, {"3", 3}, {"5", 5}, {"-1", -1}, {"x", 3},
  };
  for (const auto& [value, expected] : cases) {
    own_cfg(std::string("[General]\nFileSystem=") + value + "\n");
    shared_cfg(std::string("[General]\nFileSystem=") + value + "\n");
    load();
    EXPECT_EQ(config().file_system, expected) << value;
  }
}

TEST_F(ConfigurationTest, EntryScriptComesFromLoad) {
  struct Case {
    std::string load;
    std::string dir;
    std::string name;
  };
  const std::string so = "\x83\x5C";  // a katakana whose second byte is '\'
  const Case cases[] = {
      {"scripts\\start.c", "scripts\\", "start.c"},
      {"start.c", "", "start.c"},
      {"", "Quest\\", "main.c"},
      {"a\\b\\c.c", "a\\b\\", "c.c"},
      {"scripts/start.c", "", "scripts/start.c"},
      {so + ".c", "", so + ".c"},
      {"dir\\" + so + "\\x.c", "dir\\" + so + "\\", "x.c"},
  };
  for (const Case& c : cases) {
    own_cfg("[Script]\nLoad=" + c.load + "\n");
    load();
    EXPECT_EQ(config().script_dir, c.dir) << c.load;
    EXPECT_EQ(config().script_name, c.name) << c.load;
  }
}

TEST_F(ConfigurationTest, CdDirEndsInASeparator) {
  const std::string so = "\x83\x5C";
  const std::pair<std::string, std::string> cases[] = {
      {"data", "data\\"}, {"data/", "data/"}, {"data\\", "data\\"}, {"", ""}, {so, so + "\\"},
  };
  for (const auto& [value, expected] : cases) {
    own_cfg("[Drive]\nCD-DIR=" + value + "\n");
    load();
    EXPECT_EQ(config().cd_dir, expected) << value;
  }
}

TEST_F(ConfigurationTest, StringsAreCutToTheirBuffersWithoutSplittingACharacter) {
  std::string kana;
  for (int i = 0; i < 200; ++i) kana += "\x82\xA0";  // 400 bytes of double-byte characters
  own_cfg("[General]\nTitle=" + kana + "\nCompany=" + std::string(300, 'c') + "\nProduct=x" + kana +
          "\n[Drive]\nCD-DIR=" + kana + "\n");
  load();
  EXPECT_EQ(config().title, kana.substr(0, 254));  // 255 bytes would end in a first byte
  EXPECT_EQ(config().company, std::string(300, 'c').substr(0, 259));
  EXPECT_EQ(config().product, "x" + kana.substr(0, 258));
  EXPECT_EQ(config().cd_dir, kana.substr(0, 254) + "\\");
}

TEST_F(ConfigurationTest, NamesIgnoreCaseAndTheFirstMatchWins) {
  own_cfg("[SCREEN]\nwidth=800\nWIDTH=900\n[screen]\nHeight=100\n[General]\nTitle=\"quoted\"\n");
  load();
  EXPECT_EQ(config().width, 800);
  EXPECT_EQ(config().height, 720);  // only in the second [screen], which is never read
  EXPECT_EQ(config().title, "quoted");
  EXPECT_EQ(config_int("screen", "WIDTH"), 800);
}

TEST_F(ConfigurationTest, EmptyIntegerValueKeepsTheEarlierValue) {
  own_cfg("[Screen]\nWidth=640\nHeight=480\n");
  shared_cfg("[Screen]\nWidth=\nHeight=abc\n");
  load();
  EXPECT_EQ(config().width, 640);
  EXPECT_EQ(config().height, 0);
}

TEST_F(ConfigurationTest, WindowStateIsWrittenBack) {
  shared_cfg("; settings\r\n[Screen]\r\nWidth=640\r\nFullScreen=1\r\n");
  load();
  Configuration& c = config();
  c.full_screen = 0;
  c.window_left = 10;
  c.window_top = -20;
  c.window_width = 640;
  c.window_height = 480;
  ASSERT_TRUE(save_window_state());
  EXPECT_EQ(read_bytes(game / "configure.cfg"),
            "; settings\r\n[Screen]\r\nWidth=640\r\nFullScreen=0\r\n\r\n[Window]\r\nWindowLeft=10\r\n"
            "WindowTop=-20\r\nWindowWidth=640\r\nWindowHeight=480\r\n");

  // RestoreBounds 0 stores zeros for all four bounds.
  c.restore_bounds = 0;
  c.full_screen = 1;
  ASSERT_TRUE(save_window_state());
  EXPECT_EQ(read_bytes(game / "configure.cfg"),
            "; settings\r\n[Screen]\r\nWidth=640\r\nFullScreen=1\r\n\r\n[Window]\r\nWindowLeft=0\r\n"
            "WindowTop=0\r\nWindowWidth=0\r\nWindowHeight=0\r\n");
}

TEST_F(ConfigurationTest, RestoreBoundsZeroFromTheFileWritesZeros) {
  shared_cfg("[Window]\nRestoreBounds=0\nWindowLeft=33\n");
  load();
  EXPECT_EQ(config().window_left, 33);
  config().window_left = 50;
  ASSERT_TRUE(save_window_state());
  load();
  EXPECT_EQ(config().window_left, 0);
}

TEST_F(ConfigurationTest, OverridesGoThroughTheSameRules) {
  load();
  EXPECT_TRUE(override_key("general", "FILESYSTEM", "0"));
  EXPECT_EQ(config().file_system, 3);
  EXPECT_TRUE(override_key("Script", "Load", "scripts\\start.c"));
  EXPECT_EQ(config().script_dir, "scripts\\");
  EXPECT_EQ(config().script_name, "start.c");
  EXPECT_TRUE(override_key("Drive", "CD-DIR", "data"));
  EXPECT_EQ(config().cd_dir, "data\\");
  EXPECT_TRUE(override_key("Screen", "Width", "800"));
  EXPECT_EQ(config().width, 800);
  EXPECT_TRUE(override_key("Screen", "Width", ""));
  EXPECT_EQ(config().width, 800);
  EXPECT_TRUE(override_key("General", "Title", std::string(300, 't')));
  EXPECT_EQ(config().title, std::string(255, 't'));
  EXPECT_FALSE(override_key("Screen", "Colour", "1"));
  EXPECT_FALSE(override_key("Nowhere", "Width", "1"));
}

TEST_F(ConfigurationTest, LookupByNameKnowsEachKeysType) {
  own_cfg("[General]\nTitle=T\n");
  load();
  EXPECT_EQ(config_string("general", "title"), "T");
  EXPECT_FALSE(config_int("General", "Title"));
  EXPECT_FALSE(config_string("Screen", "Width"));
  EXPECT_FALSE(config_int("Screen", "Nothing"));
}

}  // namespace
}  // namespace talven::shell
