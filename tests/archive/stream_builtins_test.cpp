#include <gtest/gtest.h>

#include "archive/archive_test_support.h"
#include "archive/file_builtins.h"
#include "support/script_arguments.h"

namespace talven::archive::test {
namespace {

using talven::test::Arg;
using talven::test::as_int;
using talven::test::script_bytes;
using talven::test::script_text;
using talven::test::ScriptScratch;

class StreamBuiltinsTest : public ScratchFolder {
 protected:
  ScriptScratch scratch;

  std::uint32_t open(const Arg& name, const Arg& mode) { return bi_fopen(scratch.args({name, mode})); }
  std::int32_t close(std::uint32_t h) { return as_int(bi_fclose(scratch.args({h}))); }
  std::int32_t puts(const Arg& text, std::uint32_t h) { return as_int(bi_fputs(scratch.args({text, h}))); }
  // Reads up to `n` bytes one element at a time.
  std::string read(std::uint32_t h, std::uint32_t n) {
    vm::Address buffer = scratch.zeroed(n);
    std::uint32_t got = bi_fread(scratch.args({buffer, 1, n, h}));
    return script_bytes(buffer, got);
  }
  std::int32_t write(std::uint32_t h, std::string_view bytes, std::uint32_t size, std::uint32_t count) {
    return as_int(bi_fwrite(scratch.args({scratch.bytes(bytes), size, count, h})));
  }
  // fgets: the line, or "<0>" when it returned 0.
  std::string gets(std::uint32_t h, std::int32_t size) {
    vm::Address buffer = scratch.text(std::string(80, '#'));
    std::uint32_t result = bi_fgets(scratch.args({buffer, size, h}));
    if (result == 0) return "<0>";
    EXPECT_EQ(result, buffer);
    return script_text(buffer);
  }
  std::int32_t seek(std::uint32_t h, std::int32_t offset, std::int32_t origin) {
    return as_int(bi_fseek(scratch.args({h, offset, origin})));
  }
  std::int32_t tell(std::uint32_t h) { return as_int(bi_ftell(scratch.args({h}))); }
};

TEST_F(StreamBuiltinsTest, TextModeTranslatesLineEndsAndBinaryModeDoesNot) {
  const struct {
    const char* write_mode;
    const char* read_mode;
    std::string on_disk;
    std::string read_back;
  } cases[] = {
      {"w", "rb", "a\r\nb\r\r\n", "a\r\nb\r\r\n"},
      {"wt", "r", "a\r\nb\r\r\n", "a\nb\r\n"},
      {"wb", "r", "a\nb\r\n", "a\nb\n"},
      {"wb", "rb", "a\nb\r\n", "a\nb\r\n"},
      {"w+", "r+t", "a\r\nb\r\r\n", "a\nb\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.write_mode) + " " + c.read_mode);
    std::uint32_t h = open("t.txt", c.write_mode);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(puts("a\nb\r\n", h), 0);
    EXPECT_EQ(close(h), 0);
    EXPECT_EQ(bytes_of("t.txt"), c.on_disk);
    h = open("t.txt", c.read_mode);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(read(h, 64), c.read_back);
    EXPECT_EQ(close(h), 0);
  }
}

TEST_F(StreamBuiltinsTest, ModesFollowTheCLibrary) {
  write_bytes("data.bin", "0123456789");
  // "r" does not create, "w" truncates, "a" appends, "r+" overwrites in place, "a+" reads too.
  EXPECT_EQ(open("none.bin", "r"), 0u);
  EXPECT_FALSE(std::filesystem::exists("none.bin"));

  std::uint32_t h = open("data.bin", "r+b");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(read(h, 2), "01");
  EXPECT_EQ(write(h, "ab", 1, 2), 2) << "no seek needed between reading and writing";
  EXPECT_EQ(read(h, 2), "45");
  close(h);
  EXPECT_EQ(bytes_of("data.bin"), "01ab456789");

  h = open("data.bin", "ab");
  EXPECT_EQ(write(h, "XY", 2, 1), 1);
  close(h);
  EXPECT_EQ(bytes_of("data.bin"), "01ab456789XY");

  h = open("data.bin", "a+b");
  EXPECT_EQ(read(h, 3), "01a");
  EXPECT_EQ(write(h, "!", 1, 1), 1);
  close(h);
  EXPECT_EQ(bytes_of("data.bin"), "01ab456789XY!");

  h = open("data.bin", "w+b");
  EXPECT_EQ(read(h, 4), "");
  EXPECT_EQ(write(h, "new", 1, 3), 3);
  EXPECT_EQ(seek(h, 0, 0), 0);
  EXPECT_EQ(read(h, 9), "new");
  close(h);

  // Letters the C library refused are refused; so are names that are no plain file.
  for (const char* mode : {"", "x", "rw", "r++", "rbt", "rT", "rD", "w,ccs=UTF-8", "R"}) EXPECT_EQ(open("data.bin", mode), 0u) << mode;
  std::filesystem::create_directory("folder");
  EXPECT_EQ(open("folder", "r"), 0u);
  EXPECT_EQ(open("", "w"), 0u);
  EXPECT_EQ(open(0, "r"), 0u);
  EXPECT_EQ(open("data.bin", 0x10), 0u);
}

TEST_F(StreamBuiltinsTest, NamesResolveWithoutRegardToCaseButNeverIntoArchives) {
  write_bytes("Folder/Save.DAT", "saved");
  write_bytes("arc.bin", archive_bytes({{"member.txt", "in the archive"}}));
  std::uint32_t h = open("folder\\save.dat", "rb");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(read(h, 10), "saved");
  close(h);
  EXPECT_EQ(open("arc/member.txt", "rb"), 0u);
}

TEST_F(StreamBuiltinsTest, GetsReadsLinesAndPutsWritesText) {
  write_bytes("lines.txt", "line1\r\nline2\nlast");
  std::uint32_t h = open("lines.txt", "r");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(gets(h, 80), "line1\n");
  EXPECT_EQ(gets(h, 4), "lin");
  EXPECT_EQ(gets(h, 1), "");
  EXPECT_EQ(gets(h, 80), "e2\n");
  EXPECT_EQ(gets(h, 80), "last");
  EXPECT_EQ(gets(h, 80), "<0>") << "end of file";
  EXPECT_EQ(gets(h, 0), "<0>");
  EXPECT_EQ(gets(h, -5), "<0>");
  close(h);

  h = open("out.txt", "w");
  EXPECT_EQ(puts("one\n", h), 0);
  EXPECT_EQ(puts("", h), 0);
  EXPECT_EQ(puts("two", h), 0);
  EXPECT_EQ(puts(0x20, h), -1) << "text outside script memory";
  close(h);
  EXPECT_EQ(bytes_of("out.txt"), "one\r\ntwo");

  h = open("lines.txt", "r");
  EXPECT_EQ(bi_fgets(scratch.args({0, 10, h})), 0u) << "buffer outside script memory";
  EXPECT_EQ(puts("x", h), -1) << "a stream opened for reading";
  close(h);
}

TEST_F(StreamBuiltinsTest, SeekAndTell) {
  write_bytes("ten.bin", "0123456789");
  std::uint32_t h = open("ten.bin", "rb");
  const struct {
    std::int32_t offset, origin, result, position;
  } steps[] = {
      {4, 0, 0, 4}, {-2, 2, 0, 8}, {-3, 1, 0, 5}, {0, 1, 0, 5}, {20, 0, 0, 20},
      {-100, 0, -1, 20}, {0, 3, -1, 20}, {0, -1, -1, 20}, {0, 0, 0, 0},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(seek(h, s.offset, s.origin), s.result) << s.offset << " " << s.origin;
    EXPECT_EQ(tell(h), s.position) << s.offset << " " << s.origin;
  }
  EXPECT_EQ(read(h, 3), "012");
  EXPECT_EQ(tell(h), 3);

  // Whole elements only: 10 bytes are two elements of four.
  seek(h, 0, 0);
  vm::Address buffer = scratch.zeroed(16);
  EXPECT_EQ(bi_fread(scratch.args({buffer, 4, 3, h})), 2u);
  EXPECT_EQ(bi_fread(scratch.args({buffer, 0, 3, h})), 0u);
  seek(h, 0, 0);
  EXPECT_EQ(bi_fread(scratch.args({0x100, 1, 4, h})), 0u) << "buffer outside script memory";
  EXPECT_EQ(bi_fread(scratch.args({buffer, 0x10000, 0x10000, h})), 0u) << "4 GiB cannot lie in script memory";
  EXPECT_EQ(tell(h), 0);
  close(h);

  // Ctrl-Z ends a text file for reading; binary mode reads through it.
  write_bytes("dos.txt", "text\x1A\r\nmore");
  h = open("dos.txt", "r");
  EXPECT_EQ(read(h, 20), "text");
  EXPECT_EQ(gets(h, 20), "<0>");
  EXPECT_EQ(tell(h), 4);
  close(h);
  h = open("dos.txt", "rb");
  EXPECT_EQ(read(h, 20), "text\x1A\r\nmore");
  close(h);

  // A text stream tells the position in the file, counting both bytes of CR LF.
  write_bytes("crlf.txt", "ab\r\ncd");
  h = open("crlf.txt", "r");
  EXPECT_EQ(read(h, 3), "ab\n");
  EXPECT_EQ(tell(h), 4);
  close(h);
}

TEST_F(StreamBuiltinsTest, BadHandlesFailWithTheirResults) {
  std::uint32_t closed = open("c.txt", "w");
  ASSERT_NE(closed, 0u);
  EXPECT_EQ(close(closed), 0);
  vm::Address buffer = scratch.zeroed(16);
  for (std::uint32_t h : {0u, closed, 0xFFFFFFFFu, static_cast<std::uint32_t>(kStreamSlots) + 1, 77u}) {
    SCOPED_TRACE(h);
    EXPECT_EQ(close(h), -1);
    EXPECT_EQ(bi_fread(scratch.args({buffer, 1, 4, h})), 0u);
    EXPECT_EQ(bi_fwrite(scratch.args({buffer, 1, 4, h})), 0u);
    EXPECT_NE(seek(h, 0, 0), 0);
    EXPECT_EQ(tell(h), -1);
    EXPECT_EQ(gets(h, 10), "<0>");
    EXPECT_EQ(puts("x", h), -1);
  }
}

TEST_F(StreamBuiltinsTest, TheTableHoldsAFixedNumberOfStreams) {
  write_bytes("f.txt", "f");
  std::vector<std::uint32_t> handles;
  for (int i = 0; i < kStreamSlots; ++i) handles.push_back(open("f.txt", "r"));
  for (int i = 0; i < kStreamSlots; ++i) ASSERT_EQ(handles[i], static_cast<std::uint32_t>(i + 1));
  EXPECT_EQ(open("f.txt", "r"), 0u);
  EXPECT_EQ(close(handles[41]), 0);
  EXPECT_EQ(open("f.txt", "r"), handles[41]);
}

}  // namespace
}  // namespace talven::archive::test
