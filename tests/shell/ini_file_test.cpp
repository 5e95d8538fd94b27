#include "shell/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "platform/text_encoding.h"
#include "shell/test_support.h"

namespace talven::shell {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::ScratchFolder;
using test::write_bytes;

struct FindCase {
  const char* what;
  std::string text;
  std::string section;
  std::string key;
  std::optional<std::string> expected;
};

TEST(IniFind, FollowsTheProfileReadingRules) {
  const FindCase cases[] = {
      {"plain", "[A]\nk=v\n", "A", "k", "v"},
      {"names ignore ASCII case", "[general]\nTITLE=x\n", "General", "Title", "x"},
      {"blanks around names and values", "  [ A ]  \n \t k  = \t v w \t\n", "A", "k", "v w"},
      {"blanks around the caller's names", "[A]\nk=v\n", " A ", "\tk ", "v"},
      {"double quotes removed", "[A]\nk= \"q v \" \n", "A", "k", "q v "},
      {"single quotes removed", "[A]\nk='x'\n", "A", "k", "x"},
      {"quotes that do not match stay", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
      {"a lone quote stays", "[A]\nk=\"\n", "A", "k", "\""},
      {"empty quotes give empty text", "[A]\nk=\"\"\n", "A", "k", ""},
      {"empty value", "[A]\nk=\n", "A", "k", ""},
      {"first key of a name wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
      {"only the first section of a name counts", "[A]\nj=1\n[B]\n[a]\nk=2\n", "A", "k", std::nullopt},
      {"a line without '=' is not a key", "[A]\nk\nk=3", "A", "k", "3"},
      {"a comment is not a key", "[A]\n;k=1\n  ; k=2\nk=3\n", "A", "k", "3"},
      {"only comments", "[A]\n;k=1\n", "A", "k", std::nullopt},
      {"CRLF line endings", "[A]\r\nk=v\r\n", "A", "k", "v"},
      {"keys before any section belong to none", "k=1\n[A]\n", "A", "k", std::nullopt},
      {"value keeps further '='", "[A]\nk=a=b\n", "A", "k", "a=b"},
      {"text after the section's ']'", "[A] ; note\nk=1\n", "A", "k", "1"},
      {"missing section", "[A]\nk=1\n", "B", "k", std::nullopt},
      {"missing key", "[A]\nk=1\n", "A", "j", std::nullopt},
      {"a '[' line without ']' is nothing", "[A]\n[B\nk=1\n", "A", "k", "1"},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "1"},
      {"cp932 value kept byte for byte", "[A]\nk=\x83\x5C\x95\x5C\n", "A", "k", "\x83\x5C\x95\x5C"},
      // 0x83 0x41 and 0x83 0x61 are two different katakana; their trail bytes differ only in case.
      {"double-byte names compare exactly", "[\x83\x41]\nk=1\n", "\x83\x61", "k", std::nullopt},
      {"double-byte name found", "[\x83\x41]\nk=1\n", "\x83\x41", "k", "1"},
      // 0x83 0x5D has ']' as its trail byte: it does not end the section name.
      {"']' as a trail byte", "[\x83\x5D]\nk=1\n", "\x83\x5D", "k", "1"},
      {"empty section name never matches", "[]\nk=1\n", "", "k", std::nullopt},
      {"empty text", "", "A", "k", std::nullopt},
  };
  for (const FindCase& c : cases) EXPECT_EQ(ini_find(c.text, c.section, c.key), c.expected) << c.what;
}

TEST(IniToInt, ReadsIntegersAsThePlatformDoes) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"12abc", 12},       {"abc", 0},          {"-5", -5},          {"+7", 7},
      {" \t42", 42},       {"", 0},             {"-", 0},            {"1 2", 1},
      {"0x10", 0},         {"007", 7},          {"2147483647", INT_MAX},
      {"2147483648", INT_MIN},                  {"-2147483648", INT_MIN},
      {"4294967295", -1},  {"4294967296", 0},   {"4294967297", 1},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ini_to_int(text), expected) << '"' << text << '"';
}

struct WriteCase {
  const char* what;
  std::string before;
  std::string section;
  std::string key;
  std::string value;
  std::string after;
  std::optional<std::string> reads = std::nullopt;  // what reading finds, when not `value`
};

TEST(IniWithValues, ChangesOnlyWhatItMust) {
  const std::string title = platform::cp932("テスト");  // contains the byte 0x5C
  const WriteCase cases[] = {
      {"replaces one value, every other byte kept",
       "; head\r\n[A]\r\nx = 1\r\n\r\n[B]\r\nk=old\r\n; tail\r\n", "B", "k", "new",
       "; head\r\n[A]\r\nx = 1\r\n\r\n[B]\r\nk=new\r\n; tail\r\n"},
      {"keeps the key's spelling and the blanks before the value", "[a]\n  KEY =  old  \n", "A", "key", "v",
       "[a]\n  KEY =  v\n"},
      {"adds a key after the section's last key line", "[A]\nx=1\n; note\n\n[B]\ny=2\n", "A", "k", "v",
       "[A]\nx=1\nk=v\n; note\n\n[B]\ny=2\n"},
      {"adds a key right after the header of a section without keys", "[A]\n; c\n[B]\n", "A", "k", "v",
       "[A]\nk=v\n; c\n[B]\n"},
      {"ends an unterminated last line first", "[A]\r\nx=1", "A", "k", "v", "[A]\r\nx=1\r\nk=v\r\n"},
      {"appends a missing section", "[A]\nx=1\n", "B", "k", "v", "[A]\nx=1\n\n[B]\nk=v\n"},
      {"a lone CR at the end only needs its LF", "[A]\r\nx=1\r", "A", "k", "v", "[A]\r\nx=1\r\nk=v\r\n"},
      {"a lone CR at the end before a new section", "[A]\nx=1\r", "B", "k", "v", "[A]\nx=1\r\n\n[B]\nk=v\n"},
      {"appends after an unterminated line", "[A]\r\nx=1", "B", "k", "v", "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
      {"no second blank line", "[A]\nx=1\n\n", "B", "k", "v", "[A]\nx=1\n\n[B]\nk=v\n"},
      {"a new file uses CRLF", "", "B", "k", "v", "[B]\r\nk=v\r\n"},
      {"cp932 bytes elsewhere kept", "[General]\r\nTitle=" + title + "\r\n;" + title + "\r\nError=1\r\n",
       "General", "Error", "2", "[General]\r\nTitle=" + title + "\r\n;" + title + "\r\nError=2\r\n"},
      {"writes a cp932 value", "[A]\nk=1\n", "A", "k", title, "[A]\nk=" + title + "\n"},
      {"only the first section of a name", "[A]\nk=1\n[a]\nk=2\n", "A", "k", "9", "[A]\nk=9\n[a]\nk=2\n"},
      {"a key only in a later duplicate section goes into the first", "[A]\nj=1\n[a]\nk=2\n", "A", "k", "9",
       "[A]\nj=1\nk=9\n[a]\nk=2\n"},
      {"only the first key of a name", "[A]\nk=1\nk=2\n", "a", "K", "9", "[A]\nk=9\nk=2\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "2", "\xEF\xBB\xBF[A]\nk=2\n"},
      {"empty value", "[A]\nk=1\n", "A", "k", "", "[A]\nk=\n"},
      {"a value with its own blanks replaces the old ones", "[A]\nk =  1\n", "A", "k", " \"x\"",
       "[A]\nk = \"x\"\n", "x"},
  };
  for (const WriteCase& c : cases) {
    std::optional<std::string> after = ini_with_values(c.before, {{c.section, c.key, c.value}});
    ASSERT_TRUE(after) << c.what;
    EXPECT_EQ(*after, c.after) << c.what;
    EXPECT_EQ(ini_find(*after, c.section, c.key), c.reads.value_or(c.value)) << c.what;
  }
}

TEST(IniWithout, DeletesAKeyOrASectionAndNothingElse) {
  struct Case {
    const char* what;
    std::string before;
    const char* section;
    std::optional<std::string_view> key;
    std::string after;
  } cases[] = {
      {"a key", "[A]\r\nx=1\r\nk=2\r\ny=3\r\n[B]\r\nk=4\r\n", "a", "K", "[A]\r\nx=1\r\ny=3\r\n[B]\r\nk=4\r\n"},
      {"only the first key of a name", "[A]\nk=1\nk=2\n", "A", "k", "[A]\nk=2\n"},
      {"a key missing in its section", "[A]\nx=1\n[B]\nk=2\n", "A", "k", "[A]\nx=1\n[B]\nk=2\n"},
      {"a key of a missing section", "[A]\nk=1\n", "B", "k", "[A]\nk=1\n"},
      {"an unterminated last key line", "[A]\nx=1\nk=2", "A", "k", "[A]\nx=1\n"},
      {"a section with its lines", "; head\n[A]\nx=1\n; c\n\n[B]\ny=2\n", "a", std::nullopt, "; head\n[B]\ny=2\n"},
      {"the last section", "[A]\nx=1\n\n[B]\ny=2\n", "B", std::nullopt, "[A]\nx=1\n\n"},
      {"only the first section of a name", "[A]\nx=1\n[a]\ny=2\n", "A", std::nullopt, "[a]\ny=2\n"},
      {"a missing section", "[A]\nx=1\n", "B", std::nullopt, "[A]\nx=1\n"},
      {"the first section after a byte order mark", "\xEF\xBB\xBF[A]\nx=1\n[B]\n", "A", std::nullopt,
       "\xEF\xBB\xBF[B]\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(ini_without(c.before, c.section, c.key), c.after) << c.what;
}

TEST(IniWithValues, RefusesWhatCouldNotBeReadBack) {
  const IniValue refused[] = {
      {"A", "k", "two\nlines"}, {"A", "k", "cr\r"},  {"A", "a=b", "v"}, {"A", ";k", "v"}, {"A", "[k", "v"},
      {"A]", "k", "v"},         {"", "k", "v"},      {"A", " ", "v"},   {"A\n", "k", "v"},
      {"A\x83", "k", "v"},  // a first byte would swallow the closing ']'
      {"A\x83 ", "k", "v"},
  };
  for (const IniValue& entry : refused) {
    EXPECT_FALSE(ini_can_store(entry)) << entry.section << "/" << entry.key << "/" << entry.value;
    EXPECT_FALSE(ini_with_values("[A]\nk=1\n", {{"A", "k", "2"}, entry}));
  }
  EXPECT_TRUE(ini_can_store({"\x83\x5D", "k", "v"}));  // ']' only as a trail byte
}

TEST(IniWithValues, SetsSeveralValuesInTurn) {
  std::optional<std::string> text =
      ini_with_values("[Screen]\nFullScreen=1\n", {{"Screen", "FullScreen", "0"},
                                                   {"Window", "WindowLeft", "5"},
                                                   {"Window", "WindowTop", "-6"}});
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "[Screen]\nFullScreen=0\n\n[Window]\nWindowLeft=5\nWindowTop=-6\n");
}

class IniFileTest : public ::testing::Test {
 protected:
  ScratchFolder folder;
  fs::path file(const char* name) const { return folder.path() / name; }
  std::string game_path(const char* name) const { return folder.prefix() + name; }
};

TEST_F(IniFileTest, MissingFileReadsAsDefaultsAndIsCreatedByAWrite) {
  EXPECT_FALSE(ini_read_string(game_path("new.ini"), "A", "k"));
  EXPECT_EQ(ini_read_int(game_path("new.ini"), "A", "k", 77), 77);

  ASSERT_TRUE(ini_write_int(game_path("new.ini"), "A", "k", -12));
  EXPECT_EQ(read_bytes(file("new.ini")), "[A]\r\nk=-12\r\n");
  EXPECT_EQ(ini_read_int(game_path("new.ini"), "a", "K", 77), -12);
  ASSERT_TRUE(ini_write_string(game_path("new.ini"), "A", "s", "text"));
  EXPECT_EQ(ini_read_string(game_path("new.ini"), "A", "s"), "text");
}

TEST_F(IniFileTest, EmptyValueReadsAsTheIntegerDefault) {
  write_bytes(file("a.ini"), "[A]\nempty=\nword=abc\n");
  EXPECT_EQ(ini_read_int(game_path("a.ini"), "A", "empty", 5), 5);
  EXPECT_EQ(ini_read_int(game_path("a.ini"), "A", "word", 5), 0);
  EXPECT_EQ(ini_read_int(game_path("a.ini"), "A", "missing", 5), 5);
}

TEST_F(IniFileTest, FileNamesAreGamePaths) {
  // A name spelled with other letter case and `\` finds the file that is there.
  fs::create_directory(file("Save"));
  write_bytes(folder.path() / "Save" / "Game.INI", "[A]\nk=1\n");
  std::string path = folder.prefix() + "save\\game.ini";
  EXPECT_EQ(ini_read_int(path, "A", "k", 0), 1);
  ASSERT_TRUE(ini_write_int(path, "A", "k", 2));
  EXPECT_EQ(read_bytes(folder.path() / "Save" / "Game.INI"), "[A]\nk=2\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path() / "Save"), fs::directory_iterator()), 1);

  // A cp932 file name is created under its UTF-8 name.
  ASSERT_TRUE(ini_write_int(folder.prefix() + platform::cp932("設定.ini"), "A", "k", 3));
  EXPECT_EQ(read_bytes(folder.path() / "設定.ini"), "[A]\r\nk=3\r\n");
}

TEST_F(IniFileTest, WriteLeavesNoTemporaryFileAndKeepsPermissions) {
  write_bytes(file("a.ini"), "[A]\nk=1\n");
  fs::permissions(file("a.ini"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(ini_write_int(game_path("a.ini"), "A", "k", 2));
  EXPECT_EQ(read_bytes(file("a.ini")), "[A]\nk=2\n");
  EXPECT_EQ(fs::status(file("a.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, WriteThroughASymbolicLinkReplacesTheFileItNames) {
  write_bytes(file("real.ini"), "[A]\nk=1\n");
  fs::create_symlink(file("real.ini"), file("link.ini"));
  ASSERT_TRUE(ini_write_int(game_path("link.ini"), "A", "k", 2));
  EXPECT_TRUE(fs::is_symlink(file("link.ini")));
  EXPECT_EQ(read_bytes(file("real.ini")), "[A]\nk=2\n");
}

TEST_F(IniFileTest, FailedWritesLeaveEverythingAsItWas) {
  // The folder of a new file must exist.
  EXPECT_FALSE(ini_write_int(game_path("missing/a.ini"), "A", "k", 1));
  EXPECT_FALSE(fs::exists(file("missing")));
  // A directory in the file's place is neither read nor replaced.
  fs::create_directory(file("dir.ini"));
  EXPECT_FALSE(ini_write_int(game_path("dir.ini"), "A", "k", 1));
  EXPECT_TRUE(fs::is_directory(file("dir.ini")));
  // Values that could not be read back are refused before anything is written.
  write_bytes(file("a.ini"), "[A]\nk=1\n");
  EXPECT_FALSE(ini_write_string(game_path("a.ini"), "A", "k", "1\n[B]\nx=2"));
  EXPECT_EQ(read_bytes(file("a.ini")), "[A]\nk=1\n");
}

TEST_F(IniFileTest, OldFileStaysWholeWhenTheNewOneCannotBeCreated) {
  fs::create_directory(file("locked"));
  const std::string old_text = "; keep\r\n[A]\r\nk=1\r\n";
  write_bytes(folder.path() / "locked" / "a.ini", old_text);
  fs::permissions(file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  // Someone allowed to write anyway (the superuser) cannot show the failure this way.
  bool still_writable = static_cast<bool>(std::ofstream(folder.path() / "locked" / "probe"));
  if (still_writable) {
    fs::permissions(file("locked"), fs::perms::owner_all);
    GTEST_SKIP() << "a read-only folder is writable for this user";
  }
  EXPECT_FALSE(ini_write_int(folder.prefix() + "locked/a.ini", "A", "k", 2));
  EXPECT_EQ(read_bytes(folder.path() / "locked" / "a.ini"), old_text);
  fs::permissions(file("locked"), fs::perms::owner_all);
  EXPECT_EQ(std::distance(fs::directory_iterator(file("locked")), fs::directory_iterator()), 1);
}

TEST(IniFileSystemFolder, OldFileStaysWholeInAFolderWhereNoFileCanBeCreated) {
  // Nobody, not even the superuser, can create a file in /proc: the write must fail cleanly.
  std::optional<std::string> before = read_bytes("/proc/version");
  if (!before) GTEST_SKIP() << "no /proc";
  EXPECT_FALSE(ini_write_int("/proc/version", "A", "k", 1));
  EXPECT_EQ(read_bytes("/proc/version"), before);
}

}  // namespace
}  // namespace talven::shell
