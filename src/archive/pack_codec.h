// The pack codec: a variable-width LZW code stream (9 to 15 bits) behind an eight-byte header,
// read and written through 16384-byte buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace talven::archive {

inline constexpr std::uint32_t kPackMagic = 0x61637000;  // "acp" and a zero byte
inline constexpr std::size_t kPackHeaderSize = 8;
inline constexpr std::size_t kBitBufferSize = 16384;

// Where a bit stream's bytes go: false when the bytes could not all be written.
using ByteSink = bool (*)(void* context, const std::uint8_t* bytes, std::size_t count);
// Where they come from: fills up to `capacity` bytes and sets `got` (0 = end); false on failure.
using ByteSource = bool (*)(void* context, std::uint8_t* buffer, std::size_t capacity, std::size_t* got);

// Writes values most significant bit first.
class BitWriter {
 public:
  BitWriter(ByteSink sink, void* context);
  // False when the buffer could not be allocated.
  bool is_ready() const { return buffer_ != nullptr; }
  // Appends the low `bits` bits of `value`. False (after reporting) when a full buffer could not
  // be written; the stream is then broken.
  bool put(std::uint32_t value, int bits);
  // Pads the last byte with zero bits and writes what is buffered. False (after reporting) on a
  // failed write.
  bool finish();

 private:
  bool flush_buffer();
  ByteSink sink_;
  void* context_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;
  std::uint64_t bits_ = 0;  // pending bits, the oldest highest
  int pending_ = 0;
  bool failed_ = false;
};

// Reads values most significant bit first.
class BitReader {
 public:
  BitReader(ByteSource source, void* context);
  bool is_ready() const { return buffer_ != nullptr; }
  // False when the stream ends (or fails) before `bits` bits could be read.
  bool get(int bits, std::uint32_t& value);

 private:
  bool refill();
  ByteSource source_;
  void* context_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;
  std::size_t valid_ = 0;
  std::uint64_t bits_ = 0;
  int pending_ = 0;
  bool ended_ = false;
};

enum class CodecStatus { ok, failed, no_dictionary };

// Writes the LZW codes of `length` (at least 1) bytes. `failed` when the writer failed on the way.
CodecStatus compress_codes(const std::uint8_t* data, std::size_t length, BitWriter& out);

// The most bytes that `code_bytes` bytes of codes can decode to. A header that declares more
// cannot be filled by its codes: such a file is damaged, and its size is never allocated.
std::uint64_t max_unpacked_size(std::uint64_t code_bytes);

// Memory with realloc's contract: `block` (null: a new one) grown or shrunk to `size` bytes, null
// on failure with `block` left as it was. Blocks are released with free.
using Reallocator = void* (*)(void* block, std::size_t size);

// A decoded content of size() bytes: its first length() bytes are held in data(), the rest are
// zero bytes that were never stored (the codes ended before them).
class DecodedContent {
 public:
  DecodedContent() = default;
  DecodedContent(const DecodedContent&) = delete;
  DecodedContent& operator=(const DecodedContent&) = delete;
  ~DecodedContent();
  const std::uint8_t* data() const { return data_; }
  std::uint32_t length() const { return length_; }
  std::uint32_t size() const { return size_; }
  // The held bytes become the caller's (release them with free); the content is left empty.
  std::uint8_t* release();

 private:
  friend CodecStatus decompress_codes(BitReader& in, std::uint32_t size, DecodedContent& out, Reallocator grow);
  // Makes the first `end` bytes writable; false when `end` passes size() or memory is refused.
  bool reserve(std::uint64_t end);
  // Ends a decoding with `length` bytes decoded: keeps them (trimmed to their length) when
  // `status` is ok, nothing otherwise; returns `status`.
  CodecStatus finish(std::uint32_t length, CodecStatus status);
  void reset();
  std::uint8_t* data_ = nullptr;
  std::uint32_t capacity_ = 0;
  std::uint32_t length_ = 0;
  std::uint32_t size_ = 0;
  Reallocator grow_ = nullptr;
};

// Decodes codes for a content of `size` bytes. The end of the input before the end code is no
// error (the rest reads as zero). `failed` for codes wider than 15 bits, codes that name no string
// yet, a table that would overflow, or output beyond `size`.
//
// Into `out`, which holds `size` zero bytes: for callers that need the whole content anyway.
CodecStatus decompress_codes(BitReader& in, std::uint8_t* out, std::uint32_t size);
// Into memory of `out`'s own, taken with `grow` (null: realloc) only as decoded bytes arrive, so
// what a header declares costs nothing until the codes fill it; memory refused also fails, and a
// failure leaves `out` empty.
CodecStatus decompress_codes(BitReader& in, std::uint32_t size, DecodedContent& out, Reallocator grow = nullptr);

// A whole pack file in memory (header and codes); empty input gives the header alone.
std::vector<std::uint8_t> pack_bytes(const std::uint8_t* data, std::size_t length);

enum class UnpackStatus { ok, not_packed, damaged, too_large };
// Decodes a whole pack file held in memory. `too_large` when the declared size passes
// `size_limit`, which callers that take outside input use to bound their memory; `damaged` when it
// passes what the file's codes can decode to, or when the codes do not decode.
UnpackStatus unpack_bytes(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& out,
                          std::uint64_t size_limit = 0xFFFFFFFFull);

}  // namespace talven::archive
