#include "sound/sound_source.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>

namespace talven::sound {
namespace {

std::uint32_t read_u32(const std::string& b, std::size_t at) {
  return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
         std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}
std::uint16_t read_u16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8);
}

// ---- RIFF wave -------------------------------------------------------------------------------

class WaveSource final : public SoundSource {
 public:
  // Enters the RIFF "WAVE" chunk, then its "fmt " and "data" chunks. A chunk whose size reaches
  // past the end of the file, a format other than PCM (tag 1), or a format with no channels, no
  // rate or no bits makes the file unreadable.
  static std::unique_ptr<SoundSource> parse(std::string bytes) {
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return nullptr;
    const std::uint64_t riff_end = std::min<std::uint64_t>(8ull + read_u32(bytes, 4), bytes.size());
    std::size_t at = 12;
    bool have_format = false;
    auto source = std::unique_ptr<WaveSource>(new WaveSource);
    while (at + 8 <= riff_end) {
      const std::string id = bytes.substr(at, 4);
      const std::uint64_t size = read_u32(bytes, at + 4);
      const std::uint64_t body = at + 8;
      if (body + size > bytes.size()) return nullptr;
      if (id == "fmt ") {
        if (size < 16) return nullptr;
        const std::uint16_t tag = read_u16(bytes, body);
        PcmFormat f;
        f.channels = read_u16(bytes, body + 2);
        f.rate = static_cast<int>(std::min<std::uint32_t>(read_u32(bytes, body + 4), 0x7FFFFFFF));
        const std::uint16_t block_align = read_u16(bytes, body + 12);
        f.bits = read_u16(bytes, body + 14);
        if (tag != 1 || f.channels == 0 || f.rate == 0 || f.bits == 0 || block_align == 0) return nullptr;
        source->format_ = f;
        source->block_align_ = block_align;
        have_format = true;
      } else if (id == "data") {
        if (!have_format) return nullptr;
        source->data_start_ = static_cast<std::size_t>(body);
        source->data_size_ = static_cast<std::uint32_t>(size);
        source->total_bytes_ = source->data_size_;
        source->bytes_ = std::move(bytes);
        return source;
      }
      at = static_cast<std::size_t>(body + size + (size & 1));  // chunks are padded to even sizes
    }
    return nullptr;
  }

  std::uint32_t deliver(std::uint8_t* out, std::uint32_t n) override {
    const std::uint32_t copied = std::min(n, data_size_ - std::min(read_, data_size_));
    std::memcpy(out, bytes_.data() + data_start_ + read_, copied);
    read_ += copied;
    std::memset(out + copied, format_.bits == 8 ? 128 : 0, n - copied);
    return copied;
  }
  bool seek(std::uint32_t position) override {
    if (position >= data_size_) return false;
    read_ = position;
    return true;
  }
  void rewind_wave() override { read_ = 0; }

 private:
  std::string bytes_;
  std::size_t data_start_ = 0;
  std::uint32_t data_size_ = 0, read_ = 0;
  std::uint16_t block_align_ = 0;
};

// ---- Ogg Vorbis ---------------------------------------------------------------------------------

// The decoder reads the file's bytes from memory through these.
struct MemoryReader {
  std::string bytes;
  std::size_t position = 0;
};

size_t read_memory(void* ptr, size_t size, size_t count, void* source) {
  auto* m = static_cast<MemoryReader*>(source);
  if (size == 0) return 0;
  const std::size_t left = m->bytes.size() - m->position;
  const std::size_t elements = std::min(left / size, count);
  std::memcpy(ptr, m->bytes.data() + m->position, elements * size);
  m->position += elements * size;
  return elements;
}

int seek_memory(void* source, ogg_int64_t offset, int origin) {
  auto* m = static_cast<MemoryReader*>(source);
  long long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<long long>(m->position)
                                          : origin == SEEK_END ? static_cast<long long>(m->bytes.size()) : -1;
  if (base < 0) return -1;
  const long long target = base + offset;
  if (target < 0 || target > static_cast<long long>(m->bytes.size())) return -1;
  m->position = static_cast<std::size_t>(target);
  return 0;
}

long tell_memory(void* source) { return static_cast<long>(static_cast<MemoryReader*>(source)->position); }

class OggSource final : public SoundSource {
 public:
  static std::unique_ptr<SoundSource> parse(std::string bytes) {
    auto source = std::unique_ptr<OggSource>(new OggSource);
    source->reader_.bytes = std::move(bytes);
    const ov_callbacks callbacks{read_memory, seek_memory, nullptr, tell_memory};
    if (ov_open_callbacks(&source->reader_, &source->file_, nullptr, 0, callbacks) != 0) return nullptr;
    source->open_ = true;
    const vorbis_info* info = ov_info(&source->file_, -1);
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate < 1) return nullptr;
    source->is_ogg_ = true;
    source->format_.channels = info->channels;
    source->format_.rate = static_cast<int>(info->rate);
    source->format_.bits = 16;
    const ogg_int64_t total = ov_pcm_total(&source->file_, -1);
    source->total_samples_ = total < 0 ? 0 : static_cast<std::uint64_t>(total);
    const std::uint64_t bytes_total = source->total_samples_ * static_cast<std::uint64_t>(source->format_.block_align());
    source->total_bytes_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes_total, 0xFFFFFFFFu));
    return source;
  }
  ~OggSource() override {
    if (open_) ov_clear(&file_);
  }

  std::uint32_t deliver(std::uint8_t* out, std::uint32_t n) override {
    std::uint32_t filled = 0;
    int failures = 0;
    while (filled < n) {
      int section = 0;
      const long got = ov_read(&file_, reinterpret_cast<char*>(out + filled), static_cast<int>(std::min<std::uint32_t>(n - filled, 1 << 20)),
                               0, 2, 1, &section);
      if (got == 0) break;  // the end of the stream
      if (got < 0) {
        // A damaged page is skipped; a stream that fails on every call ends instead of spinning.
        if (++failures >= kMaxDecoderFailures) break;
        continue;
      }
      failures = 0;
      filled += static_cast<std::uint32_t>(got);
    }
    std::memset(out + filled, 0, n - filled);
    return filled;
  }
  bool seek(std::uint32_t position) override {
    const std::uint64_t sample = position / static_cast<std::uint32_t>(format_.block_align());
    return ov_pcm_seek(&file_, static_cast<ogg_int64_t>(sample)) == 0;
  }
  std::optional<std::string> comment() const override {
    vorbis_comment* comments = ov_comment(const_cast<OggVorbis_File*>(&file_), -1);
    if (comments == nullptr) return std::nullopt;
    for (int i = 0; i < comments->comments; ++i) {
      const std::string_view c(comments->user_comments[i], static_cast<std::size_t>(comments->comment_lengths[i]));
      if (c.substr(0, 8) == "COMMENT=") return std::string(c.substr(8));
    }
    return std::nullopt;
  }

 private:
  MemoryReader reader_;
  OggVorbis_File file_{};
  bool open_ = false;
};

}  // namespace

std::unique_ptr<SoundSource> SoundSource::open(std::string bytes) {
  if (bytes.size() >= 4 && bytes.compare(0, 4, "OggS") == 0) return OggSource::parse(std::move(bytes));
  return WaveSource::parse(std::move(bytes));
}

}  // namespace talven::sound
