#include "archive/pack_codec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/text_encoding.h"
#include "vm/report.h"

namespace talven::archive {
namespace {

constexpr std::uint32_t kEndCode = 256;
constexpr std::uint32_t kBumpCode = 257;
constexpr std::uint32_t kFlushCode = 258;
constexpr std::uint32_t kFirstCode = 259;
constexpr std::uint32_t kLastCode = 32767;  // the widest code has 15 bits
constexpr int kFirstWidth = 9;
constexpr int kLastWidth = 15;
constexpr std::uint32_t kFirstBump = 511;
constexpr std::int32_t kTableSize = 35023;  // a prime above the number of codes

void report_no_dictionary() { vm::report(2, "%s", platform::cp932("辞書オブジェクトの作成に失敗しました。")); }

// The compressor's dictionary: an open-addressed hash of (string code, next byte) pairs.
struct EncoderTable {
  std::int32_t code[kTableSize];
  std::uint32_t key[kTableSize];  // string code << 8 | byte
  void reset() { std::memset(code, 0xFF, sizeof code); }
};

// The decoder's dictionary, indexed by code: each string is its parent's string and one byte.
struct DecoderTable {
  std::uint16_t parent[kLastCode + 1];
  std::uint16_t length[kLastCode + 1];
  std::uint8_t byte[kLastCode + 1];
};

}  // namespace

BitWriter::BitWriter(ByteSink sink, void* context)
    : sink_(sink), context_(context), buffer_(new (std::nothrow) std::uint8_t[kBitBufferSize]) {
  if (!buffer_) vm::report(2, "%s", platform::cp932("ファイル出力バッファのメモリ確保に失敗しました"));
}

bool BitWriter::flush_buffer() {
  if (!sink_(context_, buffer_.get(), kBitBufferSize)) {
    vm::report(2, "%s", platform::cp932("ビットデータの書き込みに失敗しました"));
    failed_ = true;
  }
  used_ = 0;
  return !failed_;
}

bool BitWriter::put(std::uint32_t value, int bits) {
  if (failed_ || !buffer_) return false;
  bits_ = bits_ << bits | (value & ((std::uint64_t{1} << bits) - 1));
  pending_ += bits;
  while (pending_ >= 8) {
    pending_ -= 8;
    buffer_[used_++] = static_cast<std::uint8_t>(bits_ >> pending_);
    if (used_ == kBitBufferSize && !flush_buffer()) return false;
  }
  return true;
}

bool BitWriter::finish() {
  if (!buffer_) return false;
  if (pending_ > 0 && !failed_) {
    buffer_[used_++] = static_cast<std::uint8_t>(bits_ << (8 - pending_));
    pending_ = 0;
    if (used_ == kBitBufferSize && !flush_buffer()) return false;
  }
  if (failed_) return false;
  if (used_ > 0 && !sink_(context_, buffer_.get(), used_)) {
    vm::report(2, "%s", platform::cp932("ファイルの書き込みに失敗しました"));
    failed_ = true;
  }
  used_ = 0;
  return !failed_;
}

BitReader::BitReader(ByteSource source, void* context)
    : source_(source), context_(context), buffer_(new (std::nothrow) std::uint8_t[kBitBufferSize]) {
  if (!buffer_) vm::report(2, "%s", platform::cp932("ファイル入力バッファのメモリ確保に失敗しました"));
}

bool BitReader::refill() {
  if (ended_ || !buffer_) return false;
  std::size_t got = 0;
  if (!source_(context_, buffer_.get(), kBitBufferSize, &got) || got == 0) {
    ended_ = true;
    return false;
  }
  valid_ = got > kBitBufferSize ? kBitBufferSize : got;
  used_ = 0;
  return true;
}

bool BitReader::get(int bits, std::uint32_t& value) {
  while (pending_ < bits) {
    if (used_ == valid_ && !refill()) return false;
    bits_ = bits_ << 8 | buffer_[used_++];
    pending_ += 8;
  }
  pending_ -= bits;
  value = static_cast<std::uint32_t>((bits_ >> pending_) & ((std::uint64_t{1} << bits) - 1));
  return true;
}

CodecStatus compress_codes(const std::uint8_t* data, std::size_t length, BitWriter& out) {
  std::unique_ptr<EncoderTable> table(new (std::nothrow) EncoderTable);
  if (!table) {
    report_no_dictionary();
    return CodecStatus::no_dictionary;
  }
  table->reset();
  std::uint32_t next_code = kFirstCode;
  std::uint32_t next_bump = kFirstBump;
  int width = kFirstWidth;
  std::uint32_t string_code = data[0];
  bool ok = true;

  for (std::size_t i = 1; i < length && ok; ++i) {
    std::uint32_t c = data[i];
    std::uint32_t key = string_code << 8 | c;
    std::int32_t index = static_cast<std::int32_t>((c << 7) ^ string_code);
    if (table->code[index] >= 0) {
      if (table->key[index] == key) {
        string_code = static_cast<std::uint32_t>(table->code[index]);
        continue;
      }
      std::int32_t step = index == 0 ? 1 : kTableSize - index;
      bool hit = false;
      for (;;) {
        index -= step;
        if (index < 0) index += kTableSize;
        if (table->code[index] < 0) break;
        if (table->key[index] == key) {
          hit = true;
          break;
        }
      }
      if (hit) {
        string_code = static_cast<std::uint32_t>(table->code[index]);
        continue;
      }
    }
    table->code[index] = static_cast<std::int32_t>(next_code++);
    table->key[index] = key;
    ok = out.put(string_code, width);
    string_code = c;
    if (next_code > kLastCode) {
      ok = ok && out.put(kFlushCode, width);
      table->reset();
      next_code = kFirstCode;
      next_bump = kFirstBump;
      width = kFirstWidth;
    } else if (next_code > next_bump) {
      ok = ok && out.put(kBumpCode, width);
      ++width;
      next_bump = next_bump * 2 + 1;
    }
  }
  ok = ok && out.put(string_code, width) && out.put(kEndCode, width);
  return ok ? CodecStatus::ok : CodecStatus::failed;
}

std::uint64_t max_unpacked_size(std::uint64_t code_bytes) {
  // Every code takes at least 9 bits. In a cycle (from the start or a flush to the next flush) the
  // first code is one byte, and the k-th code after it at most k + 1 bytes: a string is named by
  // the table, whose every entry is one byte longer than a string named before it, or is the
  // previous string and one byte more. The table is full after 32509 codes past the first (the
  // decoder refuses more), so a cycle of n codes gives at most 1 + 2 + ... + n bytes, and the most
  // come from cycles as long as they can be.
  constexpr std::uint64_t kCycle = kLastCode - kFirstCode + 2;  // 32510 codes
  auto cycle_bytes = [](std::uint64_t n) { return n * (n + 1) / 2; };
  // Far beyond any size a header can declare already; keeps the products inside 64 bits.
  const std::uint64_t codes = std::min<std::uint64_t>(code_bytes, std::uint64_t{1} << 40) * 8 / kFirstWidth;
  return codes / kCycle * cycle_bytes(kCycle) + cycle_bytes(codes % kCycle);
}

namespace {

void* plain_realloc(void* block, std::size_t size) { return std::realloc(block, size); }

// The decoder proper, writing through `out`: its `at` (where the next byte goes) and `room_end`
// (the end of the room it holds), `grow(at, room_end, more)` for room for `more` bytes at `at`
// (false when there is none), and `finish(at, status)`, which ends the decoding.
//
// `at` and `room_end` stay in locals whose address is never taken, so that the compiler keeps them
// in registers although the bytes written could alias anything. The room never passes the declared
// size, so only growing checks against that.
template <typename Output>
CodecStatus decode(BitReader& in, Output& out) {
  std::unique_ptr<DecoderTable> table(new (std::nothrow) DecoderTable);
  if (!table) {
    report_no_dictionary();
    return out.finish(out.at, CodecStatus::no_dictionary);
  }
  std::uint8_t* at = out.at;
  std::uint8_t* room_end = out.room_end;
  for (;;) {
    // A new cycle: an empty dictionary and a first code that is a byte.
    int width = kFirstWidth;
    std::uint32_t next_code = kFirstCode;
    std::uint32_t code;
    if (!in.get(width, code) || code == kEndCode) return out.finish(at, CodecStatus::ok);
    if (code > 255 || (at == room_end && !out.grow(at, room_end, 1))) return out.finish(at, CodecStatus::failed);
    *at++ = static_cast<std::uint8_t>(code);
    std::uint32_t old_code = code;
    std::uint32_t old_length = 1;
    std::uint8_t first_byte = static_cast<std::uint8_t>(code);

    for (;;) {
      if (!in.get(width, code) || code == kEndCode) return out.finish(at, CodecStatus::ok);
      if (code == kBumpCode) {
        if (++width > kLastWidth) return out.finish(at, CodecStatus::failed);
        continue;
      }
      if (code == kFlushCode) break;
      if (code > next_code) return out.finish(at, CodecStatus::failed);

      // Write the string backwards from its last byte; a code not yet in the dictionary is the
      // previous string followed by its own first byte.
      bool unknown = code == next_code;
      std::uint32_t length = unknown ? old_length + 1 : code < 256 ? 1 : table->length[code];
      if (length > static_cast<std::size_t>(room_end - at) && !out.grow(at, room_end, length))
        return out.finish(at, CodecStatus::failed);
      at += length;
      std::uint8_t* p = at;
      std::uint32_t k = code;
      if (unknown) {
        *--p = first_byte;
        k = old_code;
      }
      while (k > 255) {
        *--p = table->byte[k];
        k = table->parent[k];
      }
      *--p = static_cast<std::uint8_t>(k);
      first_byte = static_cast<std::uint8_t>(k);

      if (next_code > kLastCode) return out.finish(at, CodecStatus::failed);
      table->parent[next_code] = static_cast<std::uint16_t>(old_code);
      table->byte[next_code] = first_byte;
      table->length[next_code] = static_cast<std::uint16_t>(old_length + 1);
      ++next_code;
      old_code = code;
      old_length = length;
    }
  }
}

// A block of the declared size given by the caller: it never grows.
struct FixedOutput {
  std::uint8_t* at;
  std::uint8_t* room_end;
  bool grow(std::uint8_t*&, std::uint8_t*&, std::uint32_t) { return false; }
  CodecStatus finish(const std::uint8_t*, CodecStatus status) { return status; }
};

}  // namespace

CodecStatus decompress_codes(BitReader& in, std::uint8_t* out, std::uint32_t size) {
  FixedOutput output{out, out + size};
  return decode(in, output);
}

DecodedContent::~DecodedContent() { std::free(data_); }

std::uint8_t* DecodedContent::release() {
  std::uint8_t* block = data_;
  data_ = nullptr;
  capacity_ = length_ = size_ = 0;
  return block;
}

void DecodedContent::reset() { std::free(release()); }

bool DecodedContent::reserve(std::uint64_t end) {
  if (end <= capacity_) return true;
  if (end > size_) return false;
  // Doubling keeps the copies few; the declared size caps it.
  const std::uint64_t grown = std::max<std::uint64_t>({end, std::uint64_t{capacity_} * 2, 65536});
  const std::uint32_t capacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, size_));
  void* block = grow_(data_, capacity);
  if (block == nullptr) return false;
  data_ = static_cast<std::uint8_t*>(block);
  capacity_ = capacity;
  return true;
}

CodecStatus DecodedContent::finish(std::uint32_t length, CodecStatus status) {
  if (status != CodecStatus::ok) {
    reset();
    return status;
  }
  length_ = length;
  if (capacity_ > length && length > 0) {
    // Give back what doubling took beyond the end (a failed shrink keeps the larger block).
    if (void* block = grow_(data_, length)) {
      data_ = static_cast<std::uint8_t*>(block);
      capacity_ = length;
    }
  }
  return status;
}

CodecStatus decompress_codes(BitReader& in, std::uint32_t size, DecodedContent& content, Reallocator grow) {
  content.reset();
  content.size_ = size;
  content.grow_ = grow ? grow : plain_realloc;
  // The content's block, taken as decoded bytes arrive; growing moves both pointers to the new block.
  struct GrowingOutput {
    DecodedContent& content;
    std::uint8_t* at = nullptr;
    std::uint8_t* room_end = nullptr;
    std::uint32_t position(const std::uint8_t* next) const { return static_cast<std::uint32_t>(next - content.data_); }
    bool grow(std::uint8_t*& next, std::uint8_t*& end, std::uint32_t more) {
      const std::uint32_t decoded = position(next);
      if (!content.reserve(std::uint64_t{decoded} + more)) return false;
      next = content.data_ + decoded;
      end = content.data_ + content.capacity_;
      return true;
    }
    CodecStatus finish(const std::uint8_t* next, CodecStatus status) { return content.finish(position(next), status); }
  } output{content};
  return decode(in, output);
}

namespace {

bool append_to_vector(void* context, const std::uint8_t* bytes, std::size_t count) {
  auto* v = static_cast<std::vector<std::uint8_t>*>(context);
  v->insert(v->end(), bytes, bytes + count);
  return true;
}

struct MemorySource {
  const std::uint8_t* data;
  std::size_t left;
};

bool read_from_memory(void* context, std::uint8_t* buffer, std::size_t capacity, std::size_t* got) {
  auto* source = static_cast<MemorySource*>(context);
  std::size_t n = source->left < capacity ? source->left : capacity;
  std::memcpy(buffer, source->data, n);
  source->data += n;
  source->left -= n;
  *got = n;
  return true;
}

}  // namespace

std::vector<std::uint8_t> pack_bytes(const std::uint8_t* data, std::size_t length) {
  std::vector<std::uint8_t> packed;
  BitWriter out(append_to_vector, &packed);
  out.put(kPackMagic, 32);
  out.put(static_cast<std::uint32_t>(length), 32);
  if (length > 0) compress_codes(data, length, out);
  out.finish();
  return packed;
}

UnpackStatus unpack_bytes(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& out,
                          std::uint64_t size_limit) {
  MemorySource source{bytes, length};
  BitReader in(read_from_memory, &source);
  std::uint32_t magic = 0, size = 0;
  if (!in.get(32, magic) || magic != kPackMagic) return UnpackStatus::not_packed;
  if (!in.get(32, size)) return UnpackStatus::damaged;
  if (size > size_limit) return UnpackStatus::too_large;
  if (size > max_unpacked_size(length - kPackHeaderSize)) return UnpackStatus::damaged;
  // The whole declared content is handed out, so it is decoded into one block of that size.
  out.assign(size, 0);
  if (decompress_codes(in, out.data(), size) != CodecStatus::ok) {
    out.clear();
    return UnpackStatus::damaged;
  }
  return UnpackStatus::ok;
}

}  // namespace talven::archive
