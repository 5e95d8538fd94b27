#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/shell_builtins.h"
#include "shell/test_support.h"
#include "support/script_arguments.h"

namespace talven::shell {
namespace {

namespace fs = std::filesystem;
using test::Arg;
using test::as_int;
using test::ScriptScratch;
using test::script_text;

// A game "Quest" in a scratch folder, with the per-user folders inside it too.
class IniBuiltinsTest : public ::testing::Test {
 protected:
  test::ScratchFolder root;
  fs::path game = root.path() / "game";
  test::EnvironmentOverride home{"HOME", (root.path() / "home").string()};
  test::EnvironmentOverride config_home{"XDG_CONFIG_HOME", (root.path() / "xdg").string()};
  ScriptScratch scratch;

  void SetUp() override {
    fs::create_directories(game);
    fs::create_directories(root.path() / "home");
  }
  void TearDown() override { config() = Configuration(); }

  std::string file(const char* name) const { return (game / name).string(); }

  std::string gets(const Arg& section, const Arg& key, const Arg& fallback, std::int32_t size, const Arg& file,
                   std::int32_t* result = nullptr) {
    vm::Address buffer = scratch.text(std::string(64, '#'));
    std::uint32_t n = bi_ini_gets(scratch.args({section, key, fallback, buffer, size, file}));
    if (result) *result = as_int(n);
    return script_text(buffer).substr(0, 64);
  }
};

TEST_F(IniBuiltinsTest, FileZeroIsTheConfigurationFile) {
  test::write_bytes(game / "configure.cfg", "[Screen]\r\nWidth=640\r\n");
  load_configuration(game.string() + "/", "Quest");
  ASSERT_EQ(config().config_path, file("configure.cfg"));
  EXPECT_EQ(as_int(bi_ini_geti(scratch.args({"Screen", "Width", 5, 0}))), 640);

  // What the engine writes back at exit is what file 0 then reads.
  config().window_width = 812;
  ASSERT_TRUE(save_window_state());
  EXPECT_EQ(as_int(bi_ini_geti(scratch.args({"Window", "WindowWidth", 0, 0}))), 812);

  EXPECT_EQ(bi_ini_sets(scratch.args({"Save", "Name", "hero", 0})), 1u);
  EXPECT_EQ(bi_ini_seti(scratch.args({"Save", "Level", -12, 0})), 1u);
  EXPECT_EQ(gets("Save", "Name", "", 64, 0), "hero");
  EXPECT_EQ(as_int(bi_ini_geti(scratch.args({"Save", "Level", 0, 0}))), -12);
  EXPECT_EQ(as_int(bi_ini_geti(scratch.args({"Screen", "Width", 5, 0}))), 640) << "other keys stay";
}

TEST_F(IniBuiltinsTest, MissingKeysAndFilesReadAsTheDefaults) {
  std::string named = file("scores.ini");
  test::write_bytes(named, "[Best]\nScore=900\nEmpty=\nName=  Ann  \n");
  const struct {
    const char* section;
    const char* key;
    std::string file;
    std::int32_t expected;
  } ints[] = {
      {"Best", "Score", named, 900},     {"best", "SCORE", named, 900},
      {"Best", "Missing", named, -7},    {"Other", "Score", named, -7},
      {"Best", "Empty", named, -7},      {"Best", "Score", file("none.ini"), -7},
  };
  for (const auto& c : ints)
    EXPECT_EQ(as_int(bi_ini_geti(scratch.args({c.section, c.key, -7, c.file}))), c.expected) << c.key;

  std::int32_t n = 0;
  EXPECT_EQ(gets("Best", "Name", "x", 64, named, &n), "Ann");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(gets("Best", "Empty", "x", 64, named, &n), "");
  EXPECT_EQ(gets("Best", "Nope", "def  ", 64, named, &n), "def") << "the default loses trailing blanks";
  EXPECT_EQ(n, 3);
  EXPECT_EQ(gets("Best", "Nope", 0, 64, named, &n), "");
  EXPECT_EQ(gets("Best", "Nope", "d", 64, file("none.ini"), &n), "d");
}

TEST_F(IniBuiltinsTest, GetsCutsWithoutSplittingADoubleByteCharacter) {
  std::string named = file("text.ini");
  std::string value = std::string("ab") + platform::cp932("あい");  // 2 + 2 + 2 bytes
  ASSERT_TRUE(bi_ini_sets(scratch.args({"T", "V", value, named})));
  const struct {
    std::int32_t size;
    std::string stored;
  } cases[] = {
      {1, ""}, {2, "a"}, {3, "ab"}, {4, "ab"}, {5, value.substr(0, 4)}, {6, value.substr(0, 4)}, {7, value}, {64, value},
  };
  for (const auto& c : cases) {
    std::int32_t n = -1;
    EXPECT_EQ(gets("T", "V", "", c.size, named, &n), c.stored) << c.size;
    EXPECT_EQ(n, static_cast<std::int32_t>(c.stored.size())) << c.size;
  }
}

TEST_F(IniBuiltinsTest, BadArgumentsFailWithoutTouchingAnything) {
  std::string named = file("bad.ini");
  EXPECT_EQ(bi_ini_sets(scratch.args({0, "K", "v", named})), 0u);
  EXPECT_EQ(bi_ini_sets(scratch.args({"S", 0x100, "v", named})), 0u);
  EXPECT_EQ(bi_ini_sets(scratch.args({"S", "K", 0, named})), 1u) << "a null text deletes; nothing to delete is success";
  EXPECT_EQ(bi_ini_seti(scratch.args({"S", "K", 1, 0xFFFF})), 0u);
  EXPECT_EQ(bi_ini_sets(scratch.args({"S", "K=", "v", named})), 0u) << "a key that could not be read back";
  EXPECT_FALSE(fs::exists(named));
  EXPECT_EQ(bi_ini_seti(scratch.args({"S", "K", 1, file("no-folder/x.ini")})), 0u);

  EXPECT_EQ(as_int(bi_ini_geti(scratch.args({0, "K", 44, named}))), 44);
  std::int32_t n = -1;
  EXPECT_EQ(gets("S", "K", "d", 0, named, &n), std::string(64, '#'));
  EXPECT_EQ(n, 0);
  EXPECT_EQ(bi_ini_gets(scratch.args({"S", "K", "d", 0, 10, named})), 0u) << "buffer outside script memory";
}

}  // namespace
}  // namespace talven::shell
