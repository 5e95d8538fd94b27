#include "library/format.h"

#include <gtest/gtest.h>

#include "support/script_arguments.h"

namespace talven::library {
namespace {

using test::Arg;
using test::ScriptScratch;

// The format is the script's first argument word; the values follow it.
std::string format_call(const char* format, const std::vector<Arg>& values, std::size_t limit = kNoOutputLimit) {
  ScriptScratch scratch;
  std::vector<Arg> all{Arg(format)};
  all.insert(all.end(), values.begin(), values.end());
  return format_script_words(format, scratch.args(all), 1, limit);
}

struct Case {
  const char* format;
  std::vector<Arg> values;
  std::string expected;
};

TEST(FormatTest, ConsumesWordsAsTheFormatterOnA32BitStack) {
  const Case cases[] = {
      {"%d|%i|%u", {-5, 7, -1}, "-5|7|4294967295"},
      {"%x %X %o", {255, 255, 8}, "ff FF 10"},
      {"%c%c%-3c|", {'A', 0x142, 'x'}, "ABx  |"},
      {"%s!", {"hi"}, "hi!"},
      {"%5s|%-5s|%.2s", {"ab", "ab", "abcdef"}, "   ab|ab   |ab"},
      // A double takes two words, so the integer after it is the third word.
      {"%f %d", {1.5, 7}, "1.500000 7"},
      {"%.2e %g %G %.1f", {12345.678, 0.0001, 1e20, -0.25}, "1.23e+04 0.0001 1E+20 -0.2"},
      {"%*d|%-*d|%.*f|%*d", {5, 42, 4, 7, 2, 3.14159, -3, 1}, "   42|7   |3.14|1  "},
      {"%.*d", {-1, 5}, "5"},  // a negative precision counts as none
      {"100%% %d", {3}, "100% 3"},
      {"%p", {0x1234}, "00001234"},
      {"%hd %hhu %ld %lu", {0x12345, 0x1FF, -3, 3u}, "9029 255 -3 3"},
      {"%lld %I64x %d", {0, 1, 0xFF, 0, 9}, "4294967296 ff 9"},
      {"%+05d|% d|%#x|%#o", {42, 7, 255, 8}, "+0042| 7|0xff|010"},
      {"%n%d", {0x12345678, 5}, "5"},  // %n takes its word and writes nothing
      {"%y%d", {4}, "%y4"},            // an unknown conversion is shown and takes no word
      {"abc%", {}, "abc%"},
      {"%-8s|", {"\x82\xa0"}, "\x82\xa0      |"},
      {"%ls %lc %S", {"n", 'c', "w"}, "n c w"},
      {"%.*s|%-*.*s|", {0x7FFFFFFF, "abc", -5, -1, "ab"}, "abc|ab   |"},
      {"%I6d", {5}, "%I6d"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_call(c.format, c.values), c.expected) << c.format;
}

TEST(FormatTest, StringsOutsideScriptMemoryPrintNull) {
  const Case cases[] = {
      {"%s", {0}, "(null)"},
      {"[%8s]", {0x100}, "[  (null)]"},
      {"%.3s", {0}, "(nu"},
      {"%s %d", {0xFFFF, 9}, "(null) 9"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_call(c.format, c.values), c.expected) << c.format;
}

TEST(FormatTest, WordsOutsideScriptMemoryReadAsZero) {
  EXPECT_EQ(format_script_words("%d %x %f", 0x10, 0), "0 0 0.000000");
  EXPECT_EQ(format_script_words("%d", 0xFFFFFFFCu, 1), "0");  // the next word would wrap around
}

TEST(FormatTest, OutputStopsAtTheLimit) {
  std::string long_text(5000, 'x');
  std::string out = format_call("%s%s", {long_text.c_str(), "tail"}, 4095);
  EXPECT_EQ(out, std::string(4095, 'x'));
  EXPECT_EQ(format_call("ab%5000d", {1}, 100), "ab" + std::string(98, ' '));
  EXPECT_EQ(format_call("%-5000d", {123}, 10), "123       ");
  // Narrowing an enormous width or precision keeps what can be seen.
  EXPECT_EQ(format_call("%*d", {0x7FFFFFFF, 1}, 50), std::string(50, ' '));
  EXPECT_EQ(format_call("%.*d", {0x7FFFFFFF, 1}, 20), std::string(20, '0'));
  EXPECT_EQ(format_call("%.2000000000f", {1.0}, 8), "1.000000");
  EXPECT_EQ(format_call("%*s|", {-3, "a"}, 4), "a  |");
}

TEST(FormatTest, WithoutALimitFieldsAreCutAtOneMebibyte) {
  std::string out = format_call("%*d", {0x7FFFFFFF, 1});
  EXPECT_EQ(out.size(), std::size_t{1} << 20);
  EXPECT_EQ(out.back(), '1');
}

}  // namespace
}  // namespace talven::library
