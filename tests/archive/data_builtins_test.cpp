// sysfile/sysio, mload and the pack_* built-ins, called as a script calls them.
#include <gtest/gtest.h>

#include "archive/fast_file.h"
#include "archive/archive_test_support.h"
#include "archive/file_builtins.h"
#include "archive/pack_codec.h"
#include "archive/pack_file.h"
#include "support/script_arguments.h"

namespace talven::archive::test {
namespace {

using talven::test::Arg;
using talven::test::as_int;
using talven::test::script_bytes;
using talven::test::ScriptScratch;

std::string packed(std::string_view data) {
  std::vector<std::uint8_t> bytes = pack_bytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  return std::string(bytes.begin(), bytes.end());
}

std::string counting(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

class DataBuiltinsTest : public ScratchFolder {
 protected:
  ScriptScratch scratch;
  void SetUp() override {
    ScratchFolder::SetUp();
    archive::set_file_system(3);
  }
  std::uint32_t sysfile(const Arg& name, vm::Address block, std::uint32_t size) {
    return bi_sysfile(scratch.args({name, block, size}));
  }
  std::uint32_t sysio(std::int32_t direction) { return bi_sysio(scratch.args({direction})); }
  std::uint32_t mload(const Arg& name, std::int32_t offset, std::int32_t size) {
    return bi_mload(scratch.args({name, offset, size}));
  }
};

TEST_F(DataBuiltinsTest, SystemFileIsCreatedSavedAndReloaded) {
  EXPECT_EQ(sysio(1), 0u) << "sysio before any sysfile";
  vm::Address block = scratch.bytes("settings!");
  EXPECT_EQ(sysfile("save.dat", block, 9), 0u) << "the file does not exist yet";
  EXPECT_EQ(sysio(1), 1u);
  EXPECT_EQ(bytes_of("save.dat"), "settings!");

  std::memcpy(vm::host_pointer(block), "SCRIBBLED", 9);
  EXPECT_EQ(sysio(0), 1u);
  EXPECT_EQ(script_bytes(block, 9), "settings!");

  // Binding an existing file loads it; a shorter file fills what it has.
  write_bytes("short.dat", "abc");
  vm::Address other = scratch.bytes("123456");
  EXPECT_EQ(sysfile("SHORT.DAT", other, 6), 1u);
  EXPECT_EQ(script_bytes(other, 6), "abc456");
  std::memcpy(vm::host_pointer(other), "zz", 2);
  EXPECT_EQ(write_system_file_at_shutdown(), true);
  EXPECT_EQ(bytes_of("short.dat"), "zzc456") << "written under its own spelling";
  EXPECT_EQ(sysio(1), 0u) << "the binding ends with the shutdown";
}

TEST_F(DataBuiltinsTest, RefusedBindingsKeepTheEarlierOne) {
  vm::Address block = scratch.bytes("keep");
  ASSERT_EQ(sysfile("keep.dat", block, 4), 0u);
  std::string long_name(260, 'n');
  const struct {
    Arg name;
    vm::Address block;
    std::uint32_t size;
  } refused[] = {
      {0, block, 4},           {"other.dat", 0, 4},        {"other.dat", block, 0},
      {long_name, block, 4},   {0x30, block, 4},           {"other.dat", 0xFFFFFFF0u, 0x100},
      {"other.dat", block, 0xFFFFFFFFu},
  };
  for (const auto& r : refused) EXPECT_EQ(sysfile(r.name, r.block, r.size), 0u);
  EXPECT_EQ(sysio(1), 1u);
  EXPECT_EQ(bytes_of("keep.dat"), "keep");
  EXPECT_FALSE(std::filesystem::exists("other.dat"));
  // 259 bytes is still a name (in a folder, since one name of a host path has at most 255).
  std::string folder(200, 'd');
  std::filesystem::create_directory(folder);
  std::string longest = folder + "/" + std::string(58, 'n');
  ASSERT_EQ(longest.size(), 259u);
  EXPECT_EQ(sysfile(longest, block, 4), 0u);
  EXPECT_EQ(sysio(1), 1u);
  EXPECT_EQ(bytes_of(longest), "keep");
}

TEST_F(DataBuiltinsTest, SaveIntoAMissingFolderFailsAndKeepsTheBinding) {
  vm::Address block = scratch.bytes("data");
  EXPECT_EQ(sysfile("nowhere/save.dat", block, 4), 0u);
  EXPECT_EQ(sysio(1), 0u);
  EXPECT_EQ(sysio(0), 0u);
  std::filesystem::create_directory("nowhere");
  EXPECT_EQ(sysio(1), 1u);
  EXPECT_EQ(bytes_of("nowhere/save.dat"), "data");
}

TEST_F(DataBuiltinsTest, MloadReadsLooseArchivedAndPackedFilesIntoScriptHeapBlocks) {
  std::string text = counting(100);
  write_bytes("loose.txt", text);
  write_bytes("packed.txt", packed(text));
  write_bytes("arc.bin", archive_bytes({{"inner.txt", text}, {"inner.pak", packed(text)}}));
  for (const char* name : {"loose.txt", "packed.txt", "arc/inner.txt", "arc/inner.pak"}) {
    SCOPED_TRACE(name);
    vm::Address whole = mload(name, 0, 0);
    ASSERT_NE(whole, 0u);
    EXPECT_EQ(vm::script_block_size(whole), 100u);
    EXPECT_EQ(script_bytes(whole, 100), text);
    EXPECT_TRUE(vm::script_free(whole)) << "the script's free releases it";

    // Offset 10 and size 0: the whole size is allocated, the bytes from offset 10 are read.
    vm::Address tail = mload(name, 10, 0);
    ASSERT_NE(tail, 0u);
    EXPECT_EQ(vm::script_block_size(tail), 100u);
    EXPECT_EQ(script_bytes(tail, 90), text.substr(10));
    vm::script_free(tail);

    vm::Address part = mload(name, 95, 3);
    EXPECT_EQ(vm::script_block_size(part), 3u);
    EXPECT_EQ(script_bytes(part, 3), text.substr(95, 3));
    vm::script_free(part);

    // An offset beyond the content is refused and reading starts at the beginning.
    vm::Address from_start = mload(name, 500, 4);
    EXPECT_EQ(script_bytes(from_start, 4), text.substr(0, 4));
    vm::script_free(from_start);
  }
  write_bytes("empty.txt", "");
  vm::Address empty = mload("empty.txt", 0, 0);
  EXPECT_NE(empty, 0u);
  vm::script_free(empty);
}

TEST_F(DataBuiltinsTest, MloadOfAMissingFileReportsAndReturnsZero) {
  EXPECT_EQ(mload("missing.txt", 0, 0), 0u);
  EXPECT_EQ(reported().size(), 1u);
  EXPECT_EQ(mload(0x40, 0, 0), 0u);
}

// A pack file whose header claims far more than its codes can give (1 GiB from a few bytes) fails
// mload as it fails to open: no message, no block; a packed file that its codes fill still loads,
// with the declared tail as zeros.
TEST_F(DataBuiltinsTest, MloadOfAPackFileDeclaringMoreThanItsCodesFails) {
  std::string lie = packed("abc");
  lie[4] = '\x40';  // 0x40000003 bytes
  write_bytes("lie.pak", lie);
  write_bytes("arc.bin", archive_bytes({{"lie.pak", lie}}));
  for (const char* name : {"lie.pak", "arc/lie.pak"}) {
    EXPECT_EQ(mload(name, 0, 0), 0u) << name;
    EXPECT_EQ(bi_pack_open(scratch.args({name})), 0u) << name;
  }
  EXPECT_TRUE(reported().empty());

  std::string short_tail = packed("abc");
  short_tail[7] = 40;  // 40 bytes declared: the codes could give that many
  short_tail.append(8, '\0');
  write_bytes("tail.pak", short_tail);
  vm::Address block = mload("tail.pak", 0, 0);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(vm::script_block_size(block), 40u);
  EXPECT_EQ(script_bytes(block, 40), "abc" + std::string(37, '\0'));
  vm::script_free(block);
}

TEST_F(DataBuiltinsTest, PackSlotsRoundTrip) {
  std::string text = counting(100);
  vm::Address block = scratch.bytes(text);
  EXPECT_EQ(bi_pack_save(scratch.args({"saved.pak", block, 100})), 1u);
  EXPECT_EQ(bytes_of("saved.pak").substr(0, 8), std::string("acp\0\0\0\0\x64", 8));

  std::uint32_t h = bi_pack_open(scratch.args({"saved.pak"}));
  ASSERT_NE(h, 0u);
  EXPECT_EQ(as_int(bi_pack_size(scratch.args({h}))), 100);
  vm::Address buffer = scratch.zeroed(200);
  EXPECT_EQ(as_int(bi_pack_read(scratch.args({h, buffer, 60}))), 60);
  EXPECT_EQ(as_int(bi_pack_read(scratch.args({h, buffer + 60, 60}))), 40);
  EXPECT_EQ(script_bytes(buffer, 100), text);
  EXPECT_EQ(as_int(bi_pack_read(scratch.args({h, buffer, 60}))), 0);
  EXPECT_EQ(as_int(bi_pack_seek(scratch.args({h, -1, 2}))), 99);
  EXPECT_EQ(as_int(bi_pack_seek(scratch.args({h, 1, 2}))), -1);
  EXPECT_EQ(as_int(bi_pack_seek(scratch.args({h, 10, 0}))), 10);
  // Only the bytes really read must lie in script memory: 90 remain, so the last 16 bytes of the
  // space are too few and the read fails without moving.
  EXPECT_EQ(as_int(bi_pack_read(scratch.args({h, 0xFFFFFFF0u, 1000}))), -1);
  EXPECT_EQ(as_int(bi_pack_read(scratch.args({h, 0, 1}))), -1);
  EXPECT_EQ(as_int(bi_pack_read(scratch.args({h, 0, 0}))), 0);
  EXPECT_EQ(as_int(bi_pack_seek(scratch.args({h, 0, 1}))), 10);
  EXPECT_EQ(bi_pack_close(scratch.args({h})), 1u);

  for (std::int32_t bad : {0, -1, 17, static_cast<std::int32_t>(h)}) {
    EXPECT_EQ(as_int(bi_pack_size(scratch.args({bad}))), -1);
    EXPECT_EQ(as_int(bi_pack_read(scratch.args({bad, buffer, 4}))), -1);
    EXPECT_EQ(as_int(bi_pack_seek(scratch.args({bad, 0, 0}))), -1);
  }
  EXPECT_EQ(bi_pack_close(scratch.args({0})), 0u);
  EXPECT_EQ(bi_pack_close(scratch.args({17})), 0u);
  EXPECT_EQ(bi_pack_close(scratch.args({5})), 1u) << "an empty slot";
}

TEST_F(DataBuiltinsTest, PackOpenFillsSixteenSlots) {
  write_bytes("plain.txt", "plain");
  for (std::uint32_t i = 1; i <= 16; ++i) EXPECT_EQ(bi_pack_open(scratch.args({"plain.txt"})), i);
  EXPECT_EQ(bi_pack_open(scratch.args({"plain.txt"})), 0u);
  EXPECT_EQ(bi_pack_close(scratch.args({7})), 1u);
  EXPECT_EQ(bi_pack_open(scratch.args({"plain.txt"})), 7u);
  EXPECT_EQ(as_int(bi_pack_size(scratch.args({7}))), 5);
  EXPECT_EQ(bi_pack_open(scratch.args({0x30})), 0u);
}

TEST_F(DataBuiltinsTest, PackSaveOfNothingWritesTheHeaderAloneAndReturnsZero) {
  vm::Address block = scratch.bytes("abc");
  EXPECT_EQ(bi_pack_save(scratch.args({"zero.pak", block, 0})), 0u);
  EXPECT_EQ(bytes_of("zero.pak"), std::string("acp\0\0\0\0\0", 8));
  EXPECT_EQ(bi_pack_save(scratch.args({"null.pak", 0, 3})), 0u);
  EXPECT_EQ(bytes_of("null.pak"), std::string("acp\0\0\0\0\0", 8));
  EXPECT_EQ(bi_pack_save(scratch.args({"far.pak", 0xFFFFFF00u, 0x1000})), 0u) << "block outside script memory";
  EXPECT_FALSE(std::filesystem::exists("far.pak"));
  EXPECT_EQ(bi_pack_save(scratch.args({"no/such/dir.pak", block, 3})), 0u);
  EXPECT_EQ(reported().size(), 1u) << "the creation message";
}

}  // namespace
}  // namespace talven::archive::test
