#include "archive/pack_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "archive/archive_test_support.h"

namespace talven::archive::test {
namespace {

std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// The codes of a pack stream, read the way the decoder reads them: 9 bits after a start or a
// flush, one more bit after each bump.
struct Code {
  std::uint32_t value;
  int width;
};
std::vector<Code> codes_of(const std::vector<std::uint8_t>& packed) {
  std::vector<Code> codes;
  std::size_t bit = 64;
  int width = 9;
  auto get = [&](int n, std::uint32_t& v) {
    if (bit + n > packed.size() * 8) return false;
    v = 0;
    for (int i = 0; i < n; ++i, ++bit) v = v << 1 | ((packed[bit / 8] >> (7 - bit % 8)) & 1);
    return true;
  };
  std::uint32_t v;
  while (get(width, v)) {
    codes.push_back({v, width});
    if (v == 256) break;
    if (v == 257) ++width;
    if (v == 258) width = 9;
  }
  return codes;
}

std::vector<std::uint8_t> round_trip(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> packed = pack_bytes(data.data(), data.size()), out;
  EXPECT_EQ(unpack_bytes(packed.data(), packed.size(), out), UnpackStatus::ok);
  return out;
}

// Writes a hand-made code stream behind a header declaring `size` bytes.
std::vector<std::uint8_t> stream_of(std::uint32_t size, const std::vector<Code>& codes) {
  std::vector<std::uint8_t> bytes;
  BitWriter out(
      [](void* c, const std::uint8_t* b, std::size_t n) {
        static_cast<std::vector<std::uint8_t>*>(c)->insert(static_cast<std::vector<std::uint8_t>*>(c)->end(), b, b + n);
        return true;
      },
      &bytes);
  out.put(kPackMagic, 32);
  out.put(size, 32);
  for (const Code& c : codes) out.put(c.value, c.width);
  out.finish();
  return bytes;
}

struct MemorySourceForTest {
  const std::uint8_t* data;
  std::size_t left;
};
bool read_test_memory(void* context, std::uint8_t* buffer, std::size_t capacity, std::size_t* got) {
  auto* source = static_cast<MemorySourceForTest*>(context);
  *got = std::min(capacity, source->left);
  std::memcpy(buffer, source->data, *got);
  source->data += *got;
  source->left -= *got;
  return true;
}

TEST(PackCodec, SingleByteGivesTheElevenByteStream) {
  std::uint8_t a = 0x41;
  std::vector<std::uint8_t> expected = {0x61, 0x63, 0x70, 0x00, 0x00, 0x00, 0x00, 0x01, 0x20, 0xC0, 0x00};
  EXPECT_EQ(pack_bytes(&a, 1), expected);
  EXPECT_EQ(round_trip({0x41}), std::vector<std::uint8_t>{0x41});
}

TEST(PackCodec, EmptyBlockIsTheHeaderAlone) {
  std::vector<std::uint8_t> packed = pack_bytes(nullptr, 0), out{1, 2};
  EXPECT_EQ(packed, (std::vector<std::uint8_t>{0x61, 0x63, 0x70, 0, 0, 0, 0, 0}));
  EXPECT_EQ(unpack_bytes(packed.data(), packed.size(), out), UnpackStatus::ok);
  EXPECT_TRUE(out.empty());
}

TEST(PackCodec, BumpComesJustBeforeTheFirstTenBitCode) {
  std::vector<std::uint8_t> data = random_bytes(2000, 1);
  std::vector<Code> codes = codes_of(pack_bytes(data.data(), data.size()));
  // Each code before the bump added one string: 259 + 253 = 512 is the first 10-bit code value.
  ASSERT_GT(codes.size(), 260u);
  for (std::size_t i = 0; i < 253; ++i) ASSERT_TRUE(codes[i].value < 256 || codes[i].value >= 259) << i;
  EXPECT_EQ(codes[253].value, 257u);
  EXPECT_EQ(codes[253].width, 9);
  EXPECT_EQ(codes[254].width, 10);
  EXPECT_EQ(round_trip(data), data);
}

TEST(PackCodec, FlushAfter32509StringsStartsAgainAtNineBits) {
  std::vector<std::uint8_t> data = random_bytes(80000, 2);
  std::vector<Code> codes = codes_of(pack_bytes(data.data(), data.size()));
  std::size_t strings = 0, bumps = 0, i = 0;
  for (; i < codes.size() && codes[i].value != 258; ++i) (codes[i].value == 257 ? bumps : strings) += 1;
  ASSERT_LT(i, codes.size());
  EXPECT_EQ(strings, 32768u - 259u);
  EXPECT_EQ(bumps, 6u);  // 9 -> 15 bits
  EXPECT_EQ(codes[i].width, 15);
  EXPECT_EQ(codes[i + 1].width, 9);
  EXPECT_EQ(round_trip(data), data);
}

TEST(PackCodec, RoundTripsOfAssortedData) {
  std::vector<std::vector<std::uint8_t>> inputs = {
      std::vector<std::uint8_t>(100000, 'z'),      // one long run: strings grow one byte a time
      {'a', 'b', 'a', 'b', 'a', 'b', 'a'},         // a code used as soon as it is made
      random_bytes(300000, 3),
  };
  std::vector<std::uint8_t> text;
  for (int i = 0; i < 20000; ++i) {
    std::string line = "line " + std::to_string(i * 7919 % 1000) + " of the story\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  inputs.push_back(text);
  for (const auto& data : inputs) EXPECT_EQ(round_trip(data), data);
}

TEST(PackCodec, StreamThatStopsEarlyLeavesZeros) {
  std::vector<std::uint8_t> data(5000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(1 + i % 13);
  std::vector<std::uint8_t> packed = pack_bytes(data.data(), data.size()), out;
  packed.resize(packed.size() / 2);
  ASSERT_EQ(unpack_bytes(packed.data(), packed.size(), out), UnpackStatus::ok);
  ASSERT_EQ(out.size(), data.size());
  std::size_t decoded = 0;
  while (decoded < out.size() && out[decoded] == data[decoded]) ++decoded;
  EXPECT_GT(decoded, 0u);
  for (std::size_t i = decoded; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST(PackCodec, NotPackedAndShortHeaders) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> other = {'a', 'c', 'p', '1', 0, 0, 0, 1};
  EXPECT_EQ(unpack_bytes(other.data(), other.size(), out), UnpackStatus::not_packed);
  EXPECT_EQ(unpack_bytes(other.data(), 3, out), UnpackStatus::not_packed);
  std::vector<std::uint8_t> no_size = {'a', 'c', 'p', 0, 0, 0};
  EXPECT_EQ(unpack_bytes(no_size.data(), no_size.size(), out), UnpackStatus::damaged);
}

// Streams a sound decoder refuses, each with a hand-made code sequence.
TEST(PackCodec, DecoderRefusals) {
  std::vector<Code> seven_bumps = {{'a', 9}};
  for (int w = 9; w < 16; ++w) seven_bumps.push_back({257, w});
  seven_bumps.push_back({'b', 16});

  std::vector<Code> overflow = {{'a', 9}};
  for (int w = 9; w < 15; ++w) overflow.push_back({257, w});
  for (int i = 0; i < 32768 - 259 + 1; ++i) overflow.push_back({'a', 15});

  struct Case {
    const char* what;
    std::uint32_t size;
    std::vector<Code> codes;
  } cases[] = {
      {"a code wider than 15 bits", 10, seven_bumps},
      {"a code beyond the next code", 10, {{'a', 9}, {260, 9}}},
      {"a first code that is no byte", 10, {{300, 9}}},
      {"a bump as first code", 10, {{257, 9}, {'a', 10}}},
      {"output beyond the declared size", 2, {{'a', 9}, {'b', 9}, {'c', 9}, {256, 9}}},
      {"a string running past the declared size", 3, {{'a', 9}, {'b', 9}, {259, 9}, {256, 9}}},
      {"a table without flush", 40000, overflow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> stream = stream_of(c.size, c.codes), out;
    EXPECT_EQ(unpack_bytes(stream.data(), stream.size(), out), UnpackStatus::damaged);
  }
  // The same shapes within the limits decode.
  std::vector<std::uint8_t> fine = stream_of(4, {{'a', 9}, {'b', 9}, {259, 9}, {256, 9}}), out;
  ASSERT_EQ(unpack_bytes(fine.data(), fine.size(), out), UnpackStatus::ok);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abab");
  std::vector<std::uint8_t> kwk = stream_of(6, {{'a', 9}, {259, 9}, {260, 9}}), out2;
  ASSERT_EQ(unpack_bytes(kwk.data(), kwk.size(), out2), UnpackStatus::ok);
  EXPECT_EQ(std::string(out2.begin(), out2.end()), "aaaaaa");
  std::vector<std::uint8_t> bounded = stream_of(1000, {{'a', 9}}), out3;
  EXPECT_EQ(unpack_bytes(bounded.data(), bounded.size(), out3, 999), UnpackStatus::too_large);
}

// The bound on what codes decode to is exact where 9-bit codes reach it: a byte, then each code the
// string one byte longer than the last ("a", "aa", "aaa", ...). One byte more is refused.
TEST(PackCodec, LongestStringsReachTheExpansionBoundExactly) {
  for (std::uint32_t n : {1u, 2u, 3u, 8u, 100u, 253u}) {
    SCOPED_TRACE(n);
    std::vector<Code> codes = {{'a', 9}};
    for (std::uint32_t k = 1; k < n; ++k) codes.push_back({258 + k, 9});
    const std::uint32_t most = n * (n + 1) / 2;
    std::vector<std::uint8_t> stream = stream_of(most, codes), out;
    EXPECT_EQ(max_unpacked_size(stream.size() - kPackHeaderSize), most);
    ASSERT_EQ(unpack_bytes(stream.data(), stream.size(), out), UnpackStatus::ok);
    EXPECT_EQ(out, std::vector<std::uint8_t>(most, 'a'));
    std::vector<std::uint8_t> more = stream_of(most + 1, codes);
    EXPECT_EQ(unpack_bytes(more.data(), more.size(), out), UnpackStatus::damaged);
  }
}

// What the compressor writes always lies within the bound, runs of one byte (its best case) too;
// and the bound grows with the codes, at most about 14,450 bytes per code byte (full cycles of
// 9-bit codes).
TEST(PackCodec, CompressedDataIsWithinTheExpansionBound) {
  std::vector<std::vector<std::uint8_t>> inputs = {{7}, std::vector<std::uint8_t>(1000, 'r'),
                                                   std::vector<std::uint8_t>(20'000'000, 0), random_bytes(50000, 9)};
  for (const auto& data : inputs) {
    const std::vector<std::uint8_t> packed = pack_bytes(data.data(), data.size());
    EXPECT_GE(max_unpacked_size(packed.size() - kPackHeaderSize), data.size()) << data.size() << " bytes";
  }
  const std::uint64_t cycle_bytes = 32510ull * 32511 / 2, cycle_code_bytes = (32510ull * 9 + 7) / 8;
  EXPECT_EQ(max_unpacked_size(0), 0u);
  EXPECT_EQ(max_unpacked_size(1), 0u);  // 8 bits hold no code
  EXPECT_EQ(max_unpacked_size(2), 1u);
  EXPECT_EQ(max_unpacked_size(cycle_code_bytes), cycle_bytes);
  EXPECT_LE(max_unpacked_size(1'000'000), 1'000'000ull * 14'460);
  EXPECT_GE(max_unpacked_size(1'000'000), 1'000'000ull * 14'000);
  EXPECT_GT(max_unpacked_size(std::uint64_t{1} << 50), 0xFFFFFFFFull);  // no overflow for any file
}

// Decoding takes memory only as bytes arrive: a header declaring far more than its codes fill
// costs what the codes fill, and the declared rest reads as zeros.
TEST(PackCodec, DecodedContentHoldsOnlyWhatTheCodesFilled) {
  static std::size_t largest;
  largest = 0;
  auto tracking = [](void* block, std::size_t size) -> void* {
    largest = std::max(largest, size);
    return std::realloc(block, size);
  };
  std::vector<std::uint8_t> stream = stream_of(6'000'000, {{'x', 9}, {'y', 9}, {256, 9}});
  stream.resize(stream.size() + 4096);  // bytes after the end code make the declared size possible
  ASSERT_LE(6'000'000u, max_unpacked_size(stream.size() - kPackHeaderSize));
  MemorySourceForTest source{stream.data() + kPackHeaderSize, stream.size() - kPackHeaderSize};
  BitReader in(read_test_memory, &source);
  DecodedContent content;
  ASSERT_EQ(decompress_codes(in, 6'000'000, content, tracking), CodecStatus::ok);
  EXPECT_EQ(content.size(), 6'000'000u);
  ASSERT_EQ(content.length(), 2u);
  EXPECT_EQ(std::string(content.data(), content.data() + 2), "xy");
  EXPECT_LE(largest, 65536u);

  // Memory refused while decoding fails the decoding and leaves nothing held.
  std::vector<std::uint8_t> data = random_bytes(200000, 4);
  std::vector<std::uint8_t> packed = pack_bytes(data.data(), data.size());
  MemorySourceForTest again{packed.data() + kPackHeaderSize, packed.size() - kPackHeaderSize};
  BitReader in2(read_test_memory, &again);
  auto stingy = [](void* block, std::size_t size) -> void* { return size > 100000 ? nullptr : std::realloc(block, size); };
  EXPECT_EQ(decompress_codes(in2, 200000, content, stingy), CodecStatus::failed);
  EXPECT_EQ(content.data(), nullptr);
  EXPECT_EQ(content.length(), 0u);
}

TEST(PackCodec, BitWriterReportsAFailedSink) {
  shell::config().error = 2;
  reported().clear();
  shell::set_report_listener([](const char* text) { reported().push_back(text); });
  BitWriter out([](void*, const std::uint8_t*, std::size_t) { return false; }, nullptr);
  bool ok = true;
  for (int i = 0; i < 20000 && ok; ++i) ok = out.put(0xABCDEF, 24);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(out.finish());
  BitWriter tail([](void*, const std::uint8_t*, std::size_t) { return false; }, nullptr);
  tail.put(1, 9);
  EXPECT_FALSE(tail.finish());
  shell::set_report_listener(nullptr);
  shell::config() = shell::Configuration();
  EXPECT_EQ(reported(), (std::vector<std::string>{platform::cp932("ビットデータの書き込みに失敗しました"),
                                                  platform::cp932("ファイルの書き込みに失敗しました")}));
}

}  // namespace
}  // namespace talven::archive::test
