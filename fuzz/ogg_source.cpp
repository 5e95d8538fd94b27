// Ogg Vorbis files of any bytes: refused, or a source of 16-bit mono or stereo that comes to its
// end, seeks, and answers its comment. Input that does not start with "OggS" gets it in front, so
// every input takes the Ogg path.
#include <sanitizer/lsan_interface.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "sound/sound_source.h"

using namespace talven::sound;

namespace {

// More PCM than any input of the fuzzer's sizes should decode to: a source still delivering after
// this much does not end.
constexpr std::uint64_t kMostBytes = 256ull << 20;

// Delivers everything, `chunk` bytes per call.
void deliver_all(SoundSource& source, std::uint32_t chunk) {
  std::vector<std::uint8_t> buffer(chunk);
  std::uint64_t total = 0;
  while (true) {
    const std::uint32_t got = source.deliver(buffer.data(), chunk);
    if (got > chunk) std::abort();
    total += got;
    if (got == 0) return;
    if (total > kMostBytes) std::abort();  // the source must end
  }
}

// Whether pages of more than one logical stream may be in the bytes: every "OggS" is taken for a
// page header and its serial number read.
bool may_be_chained(const std::string& bytes) {
  std::set<std::string> serials;
  for (std::size_t at = bytes.find("OggS"); at != std::string::npos && at + 18 <= bytes.size();
       at = bytes.find("OggS", at + 1))
    serials.insert(bytes.substr(at + 14, 4));
  return serials.size() > 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.compare(0, 4, "OggS") != 0) bytes.insert(0, "OggS");
  // libvorbisfile 1.3.7 leaks what it read of a chained file's later links when a deeper link is
  // damaged (ov_open_callbacks fails and frees the rest; libvorbis issue 125): the leak checker
  // looks away while such a file is opened, and watches every other one.
  const bool chained = may_be_chained(bytes);
  if (chained) __lsan_disable();
  std::unique_ptr<SoundSource> source = SoundSource::open(std::move(bytes));
  if (chained) __lsan_enable();
  if (!source) return 0;
  const PcmFormat f = source->format();
  if (!source->is_ogg() || f.bits != 16 || f.channels < 1 || f.channels > 2 || f.rate < 1) std::abort();
  if (source->total_bytes() % static_cast<std::uint32_t>(f.block_align()) != 0) std::abort();
  (void)source->comment();
  const std::uint32_t chunk = static_cast<std::uint32_t>(f.block_align()) * (1 + (size > 0 ? data[size - 1] : 0) * 5u);
  deliver_all(*source, chunk);
  const std::uint32_t total = source->total_bytes();
  for (std::uint32_t position : {0u, total / 2, total, 0xFFFFFFF0u, 0u}) {
    const std::uint32_t aligned = position - position % static_cast<std::uint32_t>(f.block_align());
    if (source->seek(aligned)) {
      std::uint8_t buffer[4096];
      (void)source->deliver(buffer, sizeof buffer);
    }
  }
  // From the start again, the source comes to its end once more.
  if (source->seek(0)) deliver_all(*source, 4096);
  (void)source->comment();
  return 0;
}
