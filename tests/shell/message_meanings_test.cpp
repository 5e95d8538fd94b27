// English beside the engine's Japanese messages, on terminals only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "shell/message_meanings.h"

namespace talven::shell {
namespace {

TEST(MessageMeanings, EachLineGetsTheMeaningOfItsLongestMessageOnce) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"main.c(3) : 定義されていない文字列です。\n  return y;??\n",
       "main.c(3) : 定義されていない文字列です。 (undefined name)\n  return y;??\n"},
      // "定数がありません" holds "がありません": the longer message wins.
      {"a.c(1) : 定数がありません。", "a.c(1) : 定数がありません。 (constant missing)"},
      {"a.c(4) : ')' がありません\na.c(6) : 識別子 がありません\n",
       "a.c(4) : ')' がありません (missing)\na.c(6) : 識別子 がありません (identifier missing)\n"},
      {"LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : x.png",
       "LoadPlane : 画像ファイルの読み込みに失敗しました。 (failed to read the image file)\nFile : x.png"},
      {"ファイルのオープンに失敗しました。FILE - a\\b.png\r\n",
       "ファイルのオープンに失敗しました。FILE - a\\b.png (opening the file failed)\r\n"},
      {"Divide by zero error.", "Divide by zero error."},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(with_english_meanings(c.text), c.expected) << c.text;
}

TEST(MessageMeanings, AJapaneseLocaleIsRecognisedByTheFirstVariableSet) {
  struct Case {
    const char* all;
    const char* messages;
    const char* lang;
    bool japanese;
  } cases[] = {
      {nullptr, nullptr, "ja_JP.UTF-8", true},   {nullptr, nullptr, "en_US.UTF-8", false},
      {"C.UTF-8", nullptr, "ja_JP.UTF-8", false}, {"", "ja_JP.eucJP", "en_GB", true},
      {nullptr, nullptr, nullptr, false},
  };
  auto set = [](const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); };
  for (const Case& c : cases) {
    set("LC_ALL", c.all);
    set("LC_MESSAGES", c.messages);
    set("LANG", c.lang);
    EXPECT_EQ(user_reads_japanese(), c.japanese) << (c.all ? c.all : "-") << " " << (c.lang ? c.lang : "-");
  }
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
}

// The table is the one place that knows every Japanese message: each Japanese string in the
// engine's sources must hold one of its texts, so a new message cannot reach a terminal without
// its meaning.
TEST(MessageMeanings, EveryJapaneseStringOfTheEngineHasAMeaning) {
  namespace fs = std::filesystem;
  const std::regex literal("\"([^\"\\n]*)\"");
  int checked = 0;
  for (const char* area : {"src", "tools"}) {
    for (const auto& e : fs::recursive_directory_iterator(fs::path(TALVEN_SOURCE_DIR) / area)) {
      const std::string ext = e.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      std::ifstream in(e.path());
      std::string line;
      int number = 0;
      while (std::getline(in, line)) {
        ++number;
        const std::size_t comment = line.find("//");
        for (std::sregex_iterator m(line.begin(), line.end(), literal), end; m != end; ++m) {
          if (comment != std::string::npos && static_cast<std::size_t>(m->position()) > comment) break;
          const std::string text = (*m)[1];
          // Japanese text: three-byte UTF-8 sequences (kana, kanji, full-width forms).
          bool japanese = false;
          for (unsigned char ch : text) japanese = japanese || ch >= 0xE3;
          if (!japanese || text == "。") continue;
          bool known = false;
          for (const MessageMeaning& meaning : message_meanings()) known = known || text.find(meaning.japanese) != std::string::npos;
          EXPECT_TRUE(known) << e.path() << ":" << number << ": " << text << " has no English meaning in the table";
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 40);
}

}  // namespace
}  // namespace talven::shell
