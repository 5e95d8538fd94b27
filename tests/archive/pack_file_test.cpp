#include "archive/fast_file.h"
#include "archive/pack_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "archive/archive_test_support.h"
#include "archive/pack_codec.h"

namespace talven::archive::test {
namespace {

std::string packed(std::string_view data) {
  std::vector<std::uint8_t> bytes = pack_bytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  return std::string(bytes.begin(), bytes.end());
}

std::string read_content(ExpFile* file) {
  std::string out;
  char buffer[5];
  std::uint32_t n = 0;
  while (ReadExpFile(file, buffer, sizeof buffer, &n) && n > 0) out.append(buffer, n);
  return out;
}

// The largest single request for packed content since the test began.
std::size_t g_largest_request = 0;
void* tracking_realloc(void* block, std::size_t size) {
  g_largest_request = std::max(g_largest_request, size);
  return std::realloc(block, size);
}

// A pack header declaring `size` bytes, then `code_bytes` bytes of codes: "x", the end code, and
// zero bytes after it (which the bound on the declared size counts as codes).
std::string declaring(std::uint32_t size, std::size_t code_bytes) {
  std::string bytes("acp\0", 4);
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((size >> shift) & 255);
  std::string codes("\x3C\x40\x00", 3);  // 001111000 100000000: 'x' and 256 in 9 bits
  codes.resize(std::max<std::size_t>(code_bytes, 3), '\0');
  return bytes + codes;
}

class PackFileTest : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    archive::set_file_system(3);
  }
  // Counts what opens ask for from here on.
  static void track_requests() {
    g_largest_request = 0;
    set_content_allocator_for_testing(tracking_realloc);
  }
};

TEST_F(PackFileTest, PackedFilesReadAsTheirContentLooseOrInArchives) {
  std::string text = "a packed file, a packed file, a packed file";
  write_bytes("loose.txt", packed(text));
  write_bytes("arc.bin", archive_bytes({{"in/member.txt", packed(text)}, {"plain.txt", "plain bytes"}}));
  for (const char* path : {"loose.txt", "arc/in/member.txt"}) {
    SCOPED_TRACE(path);
    ExpFile* file = OpenExpFile(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(GetExpFileSize(file), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(read_content(file), text);
    EXPECT_EQ(SeekExpFile(file, -6, 2), static_cast<std::int64_t>(text.size() - 6));
    EXPECT_EQ(read_content(file), "d file");
    EXPECT_EQ(CloseExpFile(file), 1);
  }
  ExpFile* plain = OpenExpFile("arc/plain.txt");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(GetExpFileSize(plain), 11);
  EXPECT_EQ(read_content(plain), "plain bytes");
  CloseExpFile(plain);
}

TEST_F(PackFileTest, OtherAndShortFilesOpenUnpacked) {
  for (std::string bytes : {std::string("ac"), std::string(""), std::string("acp\1rest"), std::string("acp\0", 4)}) {
    SCOPED_TRACE(bytes.size());
    write_bytes("f.dat", bytes);
    ExpFile* file = OpenExpFile("f.dat");
    if (bytes == std::string("acp\0", 4)) {
      EXPECT_EQ(file, nullptr);  // the header without its size is a damaged pack file
      continue;
    }
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(read_content(file), bytes);
    CloseExpFile(file);
  }
}

TEST_F(PackFileTest, DamagedPackedFilesFailWithoutMessage) {
  std::string wrong_size = packed("0123456789");
  wrong_size[7] = 5;  // declared 5, decodes to 10
  write_bytes("wrong.dat", wrong_size);
  EXPECT_EQ(OpenExpFile("wrong.dat"), nullptr);
  EXPECT_TRUE(reported().empty());
}

TEST_F(PackFileTest, StreamStoppingEarlyOpensWithZeroTail) {
  std::string data(3000, 'q');
  for (std::size_t i = 0; i < data.size(); i += 7) data[i] = 'r';
  std::string bytes = packed(data);
  write_bytes("cut.dat", bytes.substr(0, bytes.size() - 20));
  ExpFile* file = OpenExpFile("cut.dat");
  ASSERT_NE(file, nullptr);
  std::string got = read_content(file);
  CloseExpFile(file);
  ASSERT_EQ(got.size(), data.size());
  std::size_t same = 0;
  while (same < got.size() && got[same] == data[same]) ++same;
  EXPECT_GT(same, 0u);
  EXPECT_EQ(got.substr(same), std::string(got.size() - same, '\0'));
}

TEST_F(PackFileTest, SizeThatCannotBeAllocatedFailsCleanly) {
  std::string bytes = packed("abc");
  bytes[4] = bytes[5] = bytes[6] = bytes[7] = '\xFF';
  write_bytes("huge.dat", bytes);
  set_content_allocator_for_testing([](void*, std::size_t) -> void* { return nullptr; });
  EXPECT_EQ(OpenExpFile("huge.dat"), nullptr);
  EXPECT_EQ(pack_open("huge.dat"), 0);
}

// Headers that declare 2 GiB or more, or more than their codes could ever decode to, fail to open
// as damaged files do (no message), before any content memory is asked for; the same in all 16
// pack slots, which then still take good files.
TEST_F(PackFileTest, HeadersDeclaringTooMuchFailBeforeAnyAllocation) {
  const struct {
    const char* what;
    std::uint32_t size;
    std::size_t code_bytes;
  } cases[] = {
      {"2 GiB, with codes that could fill it", 0x80000000u, 200'000},
      {"4 GiB - 1, with codes that could fill it", 0xFFFFFFFFu, 320'000},
      {"100 MB from 16 bytes of codes", 100'000'000, 16},
      {"one byte more than 1000 code bytes can give", static_cast<std::uint32_t>(max_unpacked_size(1000) + 1), 1000},
  };
  track_requests();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.size < 0x80000000u || max_unpacked_size(c.code_bytes) >= c.size) << "the 2 GiB rule alone must refuse it";
    write_bytes("hostile.dat", declaring(c.size, c.code_bytes));
    EXPECT_EQ(OpenExpFile("hostile.dat"), nullptr);
    for (int slot = 0; slot < 16; ++slot) EXPECT_EQ(pack_open("hostile.dat"), 0);
    EXPECT_EQ(g_largest_request, 0u);
    EXPECT_TRUE(reported().empty());
  }
  write_bytes("good.dat", packed("good"));
  for (int slot = 1; slot <= 16; ++slot) EXPECT_EQ(pack_open("good.dat"), slot);
  EXPECT_EQ(pack_size(16), 4);
}

// A header that its codes could fill is believed, but only the bytes the codes really give take
// memory: the rest of the declared content reads as zeros, and every size reported is the
// declared one, positive up to 2 GiB - 1.
TEST_F(PackFileTest, DeclaredContentTakesMemoryOnlyAsTheCodesFillIt) {
  const struct {
    std::uint32_t size;
    std::size_t code_bytes;
  } cases[] = {{static_cast<std::uint32_t>(max_unpacked_size(1000)), 1000}, {0x7FFFFFFFu, 200'000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    track_requests();
    write_bytes("sparse.dat", declaring(c.size, c.code_bytes));
    const std::int32_t h = pack_open("sparse.dat");
    ASSERT_EQ(h, 1);
    EXPECT_LE(g_largest_request, 65536u);
    EXPECT_EQ(pack_size(h), static_cast<std::int32_t>(c.size));
    char bytes[3] = {1, 1, 1};
    EXPECT_EQ(pack_read(h, bytes, 3), 3);
    EXPECT_EQ(std::string(bytes, 3), std::string("x\0\0", 3));
    EXPECT_EQ(pack_seek(h, -2, 2), static_cast<std::int32_t>(c.size) - 2);
    EXPECT_EQ(pack_read(h, bytes, 3), 2);
    EXPECT_EQ(std::string(bytes, 2), std::string(2, '\0'));
    EXPECT_EQ(pack_close(h), 1);
  }
  // Memory refused on the way fails the open like a damaged file.
  std::string data(300000, 'm');
  for (std::size_t i = 0; i < data.size(); i += 3) data[i] = static_cast<char>(i % 251);
  write_bytes("big.dat", packed(data));
  set_content_allocator_for_testing([](void* block, std::size_t size) -> void* {
    return size > 100000 ? nullptr : std::realloc(block, size);
  });
  EXPECT_EQ(OpenExpFile("big.dat"), nullptr);
  set_content_allocator_for_testing(nullptr);
  ExpFile* file = OpenExpFile("big.dat");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(read_content(file), data);
  CloseExpFile(file);
}

// Files that are not packed are refused from 2 GiB on too, so no size reaches a script negative.
TEST_F(PackFileTest, LooseFilesOfTwoGigabytesOrMoreFailToOpen) {
  std::error_code error;
  for (std::uintmax_t size : {std::uintmax_t{0x7FFFFFFF}, std::uintmax_t{0x80000000}, std::uintmax_t{0x100000010}}) {
    SCOPED_TRACE(size);
    write_bytes("large.dat", "not packed");
    std::filesystem::resize_file("large.dat", size, error);  // sparse: nothing is written
    if (error) GTEST_SKIP() << "no room for a sparse file of " << size << " bytes: " << error.message();
    ExpFile* file = OpenExpFile("large.dat");
    const std::int32_t h = pack_open("large.dat");
    if (size <= 0x7FFFFFFF) {
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(GetExpFileSize(file), 0x7FFFFFFF);
      EXPECT_EQ(pack_size(h), 0x7FFFFFFF);
    } else {
      EXPECT_EQ(file, nullptr);
      EXPECT_EQ(h, 0);
    }
    CloseExpFile(file);
    pack_close(h);
  }
}

TEST_F(PackFileTest, SlotsAndTheirRules) {
  std::string hundred(100, 'h');
  write_bytes("p.dat", packed(hundred));
  std::vector<std::int32_t> handles;
  for (int i = 0; i < 16; ++i) handles.push_back(pack_open("p.dat"));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(handles[i], i + 1);
  EXPECT_EQ(pack_open("p.dat"), 0);
  EXPECT_EQ(pack_close(5), 1);
  EXPECT_EQ(pack_open("p.dat"), 5);

  EXPECT_EQ(pack_size(3), 100);
  EXPECT_EQ(pack_seek(3, -1, 2), 99);
  EXPECT_EQ(pack_seek(3, 1, 2), -1);
  EXPECT_EQ(pack_seek(3, -100, 1), -1);
  EXPECT_EQ(pack_seek(3, 0, 9), 99);  // other origins leave the position
  char buffer[8];
  EXPECT_EQ(pack_read(3, buffer, sizeof buffer), 1);
  EXPECT_EQ(pack_read(3, buffer, sizeof buffer), 0);
  EXPECT_EQ(pack_seek(3, 10, 0), 10);
  EXPECT_EQ(pack_read(3, buffer, sizeof buffer), 8);

  for (std::int32_t bad : {0, 17, -1}) {
    EXPECT_EQ(pack_close(bad), 0);
    EXPECT_EQ(pack_size(bad), -1);
    EXPECT_EQ(pack_seek(bad, 0, 0), -1);
    EXPECT_EQ(pack_read(bad, buffer, 1), -1);
  }
  EXPECT_EQ(pack_close(7), 1);
  EXPECT_EQ(pack_close(7), 1);  // an empty slot closes too
  EXPECT_EQ(pack_size(7), -1);
  EXPECT_EQ(pack_read(7, buffer, 1), -1);
  EXPECT_EQ(pack_open("missing.dat"), 0);
  close_pack_slots();
  EXPECT_EQ(pack_size(1), -1);
}

TEST_F(PackFileTest, PackSaveWritesWhatPackOpenReads) {
  std::string data = "saved by the script, saved by the script";
  EXPECT_EQ(pack_save("save.dat", data.data(), static_cast<std::int32_t>(data.size())), 1);
  EXPECT_EQ(bytes_of("save.dat"), packed(data));
  std::int32_t h = pack_open("SAVE.DAT");
  ASSERT_EQ(h, 1);
  std::string back(data.size(), '\0');
  EXPECT_EQ(pack_read(h, back.data(), static_cast<std::uint32_t>(back.size())), static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(back, data);

  // An existing file is replaced under its own spelling.
  EXPECT_EQ(pack_save("Save.Dat", "x", 1), 1);
  EXPECT_EQ(bytes_of("save.dat"), packed("x"));
  EXPECT_FALSE(std::filesystem::exists("Save.Dat") && !std::filesystem::equivalent("Save.Dat", "save.dat"));
}

TEST_F(PackFileTest, PackSaveFailures) {
  EXPECT_EQ(pack_save("empty.dat", "abc", 0), 0);
  EXPECT_EQ(bytes_of("empty.dat"), packed(""));
  EXPECT_EQ(pack_save("null.dat", nullptr, 5), 0);
  EXPECT_EQ(bytes_of("null.dat"), packed(""));
  EXPECT_TRUE(reported().empty());

  EXPECT_EQ(pack_save("no/such/folder/x.dat", "abc", 3), 0);
  EXPECT_EQ(pack_save("", "abc", 3), 0);
  EXPECT_EQ(reported(), (std::vector<std::string>{message("ファイルの作成に失敗しました FILE - %s", "no/such/folder/x.dat"),
                                                  message("ファイルの作成に失敗しました FILE - %s", "")}));
  std::size_t entries = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(".")) entries += e.is_regular_file();
  EXPECT_EQ(entries, 2u);  // nothing half-written left behind
}

TEST_F(PackFileTest, NullHandles) {
  std::uint32_t n = 3;
  char b;
  EXPECT_EQ(CloseExpFile(nullptr), 0);
  EXPECT_EQ(GetExpFileSize(nullptr), -1);
  EXPECT_EQ(SeekExpFile(nullptr, 0, 0), -1);
  EXPECT_EQ(ReadExpFile(nullptr, &b, 1, &n), 0);
  EXPECT_EQ(n, 0u);
}

}  // namespace
}  // namespace talven::archive::test
