#include "archive/fast_file.h"

#include <gtest/gtest.h>

#include <memory>

#include "archive/archive_format.h"
#include "archive/archive_test_support.h"
#include "platform/game_paths.h"

namespace talven::archive::test {
namespace {

constexpr const char* kOpenFailed = "ファイルのオープンに失敗しました。FILE - %s";
constexpr const char* kReadFailed = "ファイルの読み込みに失敗しました。FILE - %s";

struct Closer {
  void operator()(FastFile* f) const { CloseFastFile(f); }
};
using Handle = std::unique_ptr<FastFile, Closer>;

// The whole content of an open file, read in small steps.
std::string read_all(FastFile* file) {
  std::string out;
  char buffer[7];
  std::uint32_t n = 0;
  while (ReadFastFile(file, buffer, sizeof buffer, &n) && n > 0) out.append(buffer, n);
  return out;
}

// The content at `path`, or "<none>" when it does not open.
std::string content(const std::string& path) {
  Handle file(OpenFastFile(path.c_str()));
  return file ? read_all(file.get()) : "<none>";
}

class FastFileTest : public ScratchFolder {};

TEST_F(FastFileTest, ArchivesOnlyNeverFindAPathWithoutInnerSeparator) {
  write_bytes("main.c", "int main;");
  archive::set_file_system(1);
  EXPECT_EQ(content("main.c"), "<none>");
  EXPECT_EQ(reported(), std::vector<std::string>{message(kOpenFailed, "main.c")});
  archive::set_file_system(3);
  EXPECT_EQ(content("main.c"), "int main;");
  archive::set_file_system(0);  // neither bit: both
  EXPECT_EQ(content("main.c"), "int main;");
}

TEST_F(FastFileTest, LooseFilesOnlyReportAMissingFile) {
  write_bytes("data.bin", archive_bytes({{"x.png", "member"}}));
  archive::set_file_system(2);
  EXPECT_EQ(content("data/x.png"), "<none>");
  EXPECT_EQ(reported(), std::vector<std::string>{message(kOpenFailed, "data/x.png")});
}

TEST_F(FastFileTest, LooseFileWinsOverMember) {
  write_bytes("data.bin", archive_bytes({{"x.png", "member"}}));
  write_bytes("data/x.png", "loose");
  archive::set_file_system(3);
  EXPECT_EQ(content("data/x.png"), "loose");
  archive::set_file_system(1);
  EXPECT_EQ(content("data/x.png"), "member");
  EXPECT_TRUE(reported().empty());
}

TEST_F(FastFileTest, ShortestArchiveNameComesFirstAndTheSearchGoesOn) {
  write_bytes("a.bin", archive_bytes({{"b/other.png", "1"}}));
  write_bytes("a/b.bin", archive_bytes({{"c.png", "deeper"}}));
  EXPECT_EQ(content("a/b/c.png"), "deeper");
  write_bytes("a.bin", archive_bytes({{"b/c.png", "shallow"}}));
  EXPECT_EQ(content("a/b/c.png"), "shallow");
  EXPECT_TRUE(reported().empty());
}

TEST_F(FastFileTest, MemberNamesIgnoreLetterCaseButNotTheSeparator) {
  std::string fullwidth_lower = platform::utf8_to_cp932("ｇａｍｅ/ｂｇ.png");
  write_bytes("DATA.bin", archive_bytes({{"bg.png", "bg"}, {"sub/x.png", "x"}, {fullwidth_lower, "wide"}}));
  EXPECT_EQ(content("DATA/BG.PNG"), "bg");
  EXPECT_EQ(content("DATA/Sub/X.png"), "x");
  EXPECT_EQ(content("DATA/" + platform::utf8_to_cp932("ＧＡＭＥ/ＢＧ.PNG")), "wide");
  EXPECT_EQ(content("data/sub\\x.png"), "<none>");
  // Other double-byte characters keep their case: Greek α is not Α.
  EXPECT_EQ(content("DATA/" + platform::utf8_to_cp932("ｇａｍｅ/ｂｇ.pnG")), "wide");
}

TEST_F(FastFileTest, TrailByte5CIsNeverASeparator) {
  std::string so = platform::utf8_to_cp932("ソ");  // 0x83 0x5C
  ASSERT_EQ(so, "\x83\x5C");
  // A reader that split at the trail byte would open this archive first and fail on its magic.
  write_bytes(platform::resolve_game_path("\x83.bin"), "not an archive at all");
  write_bytes(platform::resolve_game_path(so + ".bin"), archive_bytes({{"x.png", "right"}}));
  EXPECT_EQ(content(so + "/x.png"), "right");
  EXPECT_TRUE(reported().empty());
}

TEST_F(FastFileTest, BadMagicEndsTheSearchWithTheReadError) {
  write_bytes("a.bin", "TLV-ARC1 and more bytes than a header");
  write_bytes("a/b.bin", archive_bytes({{"c.png", "unreached"}}));
  EXPECT_EQ(content("a/b/c.png"), "<none>");
  EXPECT_EQ(reported(), std::vector<std::string>{message(kReadFailed, "a/b/c.png")});
}

// Archives that are damaged in each way the reader must notice.
TEST_F(FastFileTest, DamagedArchivesAreReadFailures) {
  std::string good = archive_bytes({{"m.png", "0123456789"}}, 99);
  ArchiveKeystream keys(99);
  std::uint32_t k1 = keys.next(), k2 = keys.next(), k3 = keys.next();
  auto with_word = [&](std::size_t offset, std::uint32_t value) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  const std::uint32_t names_size = 6;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"shorter than a header", good.substr(0, 19)},
      {"count beyond the file", with_word(12, 1000 ^ k1)},
      {"names size beyond the file", with_word(16, 100000 ^ k2)},
      {"name table cut short", good.substr(0, 20 + 12 + 3)},
      {"name offset outside the table", with_word(20, names_size ^ k3)},
      {"data beyond the end", good.substr(0, good.size() - 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_bytes("d.bin", c.bytes);
    reported().clear();
    EXPECT_EQ(content("d/m.png"), "<none>");
    EXPECT_EQ(reported(), std::vector<std::string>{message(kReadFailed, "d/m.png")});
  }
  write_bytes("d.bin", good);
  EXPECT_EQ(content("d/m.png"), "0123456789");
}

TEST_F(FastFileTest, EmptyDirectoryAndEmptyMembers) {
  write_bytes("e.bin", archive_bytes({}));
  EXPECT_EQ(content("e/x"), "<none>");
  write_bytes("e.bin", archive_bytes({{"empty", ""}, {"full", "abc"}}));
  Handle file(OpenFastFile("e/empty"));
  ASSERT_TRUE(file);
  EXPECT_EQ(GetFastFileSize(file.get()), 0);
  EXPECT_EQ(read_all(file.get()), "");
  EXPECT_EQ(content("e/full"), "abc");
}

TEST_F(FastFileTest, MemberSeekRules) {
  write_bytes("s.bin", archive_bytes({{"a", "first"}, {"b", "0123456789"}, {"c", "after"}}));
  Handle file(OpenFastFile("s/b"));
  ASSERT_TRUE(file);
  FastFile* f = file.get();
  EXPECT_EQ(GetFastFileSize(f), 10);
  EXPECT_EQ(SeekFastFile(f, 0, 2), 10);
  EXPECT_EQ(SeekFastFile(f, 1, 2), -1);
  EXPECT_EQ(SeekFastFile(f, -10, 2), 0);
  EXPECT_EQ(SeekFastFile(f, -11, 2), -1);
  EXPECT_EQ(SeekFastFile(f, 4, 0), 4);
  EXPECT_EQ(SeekFastFile(f, 11, 0), -1);
  EXPECT_EQ(SeekFastFile(f, -1, 0), -1);
  EXPECT_EQ(SeekFastFile(f, 0, 1), 4);  // unchanged by the refused moves
  EXPECT_EQ(SeekFastFile(f, 6, 1), 10);
  EXPECT_EQ(SeekFastFile(f, 1, 1), -1);
  EXPECT_EQ(SeekFastFile(f, -11, 1), -1);
  EXPECT_EQ(SeekFastFile(f, 0, 3), -1);
  EXPECT_EQ(SeekFastFile(f, -3, 1), 7);

  // Reads stop at the member's end rather than run into the next member.
  char buffer[32] = {};
  std::uint32_t n = 99;
  EXPECT_NE(ReadFastFile(f, buffer, sizeof buffer, &n), 0);
  EXPECT_EQ(std::string(buffer, n), "789");
  EXPECT_NE(ReadFastFile(f, buffer, sizeof buffer, &n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SeekFastFile(f, 2, 0), 2);
  EXPECT_EQ(read_all(f), "23456789");
}

TEST_F(FastFileTest, LooseFileSizeSeekAndRead) {
  write_bytes("plain.dat", "abcdef");
  archive::set_file_system(3);
  Handle file(OpenFastFile("PLAIN.DAT"));
  ASSERT_TRUE(file);
  EXPECT_EQ(GetFastFileSize(file.get()), 6);
  EXPECT_EQ(SeekFastFile(file.get(), -2, 2), 4);
  EXPECT_EQ(read_all(file.get()), "ef");
  EXPECT_EQ(SeekFastFile(file.get(), -1, 0), -1);
}

TEST_F(FastFileTest, NullHandles) {
  std::uint32_t n = 5;
  char b;
  EXPECT_EQ(CloseFastFile(nullptr), 0);
  EXPECT_EQ(GetFastFileSize(nullptr), -1);
  EXPECT_EQ(SeekFastFile(nullptr, 0, 0), -1);
  EXPECT_EQ(ReadFastFile(nullptr, &b, 1, &n), 0);
  EXPECT_EQ(OpenFastFile(nullptr), nullptr);
}

TEST(ArchiveNames, ComparisonOrder) {
  struct Case {
    std::string a, b;
    int order;
  } cases[] = {
      {"bg.png", "BG.PNG", 0},
      {"a_b", "aab", -1},  // '_' sorts before the letters
      {"Z", "a", 1},
      {"abc", "ab", 1},
      {"", "", 0},
      {"sub/x", "sub\\x", -1},
      {platform::utf8_to_cp932("ａ"), platform::utf8_to_cp932("Ａ"), 0},
      {platform::utf8_to_cp932("ｚ"), platform::utf8_to_cp932("Ｚ"), 0},
      {platform::utf8_to_cp932("α"), platform::utf8_to_cp932("Α"), 1},
      {"x\x82", "x", 0},            // a lead byte before the end ends the name
      {std::string("ab\0c", 4), "ab", 0},
      {"\x82\x60", "z", 1},          // double-byte values lie above single bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " vs " + c.b);
    int r = compare_archive_names(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.order);
    int back = compare_archive_names(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.order);
  }
}

TEST(ArchiveNames, KeystreamFollowsItsStepFunction) {
  // s1 = F(seed ^ key) with F(x) = x ^ ((x ^ (x >> 1)) >> 3) ^ ((x ^ (x << 1)) << 3).
  ArchiveKeystream keys(0);
  std::uint32_t x = kArchiveKey;
  std::uint32_t expected = x ^ ((x ^ (x >> 1)) >> 3) ^ ((x ^ (x << 1)) << 3);
  EXPECT_EQ(keys.next(), expected);
  x = expected ^ kArchiveKey;
  EXPECT_EQ(keys.next(), x ^ ((x ^ (x >> 1)) >> 3) ^ ((x ^ (x << 1)) << 3));
}

}  // namespace
}  // namespace talven::archive::test
