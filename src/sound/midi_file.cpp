#include "sound/midi_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

namespace talven::sound {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 bpm

std::uint64_t add_saturated(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }
std::uint64_t multiply_saturated(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kMax / b ? kMax : a * b; }

std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }
std::uint32_t be32(const std::uint8_t* p) { return be16(p) << 16 | be16(p + 2); }
std::uint32_t le32(const std::uint8_t* p) { return std::uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]; }
bool is_id(Bytes bytes, std::size_t at, const char* id) {
  return at <= bytes.size() && bytes.size() - at >= 4 && std::equal(id, id + 4, bytes.begin() + at);
}

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

// Sums ticks * rate / divisor over the pieces of a tempo map, rounded down once at the end and
// saturating instead of overflowing: each piece's whole multiples of the divisor become
// microseconds at once, and its other ticks times the rate (under 2^16 * 2^24) gather in a
// remainder kept below the divisor.
class Clock {
 public:
  explicit Clock(std::uint32_t divisor) : divisor_(divisor) {}
  void add(std::uint64_t ticks, std::uint32_t rate) {
    us_ = add_saturated(us_, multiply_saturated(ticks / divisor_, rate));
    remainder_ += ticks % divisor_ * rate;
    us_ = add_saturated(us_, remainder_ / divisor_);
    remainder_ %= divisor_;
  }
  std::uint64_t us() const { return us_; }

 private:
  std::uint64_t divisor_, us_ = 0, remainder_ = 0;
};

// How long a tick lasts: ticks * rate / divisor microseconds, the rate being the tempo for
// divisions in quarter notes and fixed for SMPTE ones (29 frames stands for 30000 / 1001).
struct Timebase {
  bool smpte = false;
  std::uint32_t divisor = 0, smpte_rate = 0;
};

struct TempoChange {
  std::uint64_t tick;
  std::uint32_t us_per_quarter;
};

// The length of `ticks` through tempo changes sorted by tick (none past `ticks`).
std::uint64_t length_us(const Timebase& timebase, const std::vector<TempoChange>& changes, std::uint64_t ticks) {
  Clock clock(timebase.divisor);
  if (timebase.smpte) {
    clock.add(ticks, timebase.smpte_rate);
    return clock.us();
  }
  std::uint64_t at = 0;
  std::uint32_t tempo = kDefaultTempo;
  for (const TempoChange& change : changes) {
    clock.add(change.tick - at, tempo);
    at = change.tick;
    tempo = change.us_per_quarter;
  }
  clock.add(ticks - at, tempo);
  return clock.us();
}

class TrackScanner {
 public:
  // `track` holds the chunk's bytes; `offset` is where they start in the file, for the reasons.
  TrackScanner(Bytes track, std::size_t offset, bool cut_off) : bytes_(track), offset_(offset), cut_off_(cut_off) {}

  // Reads every event up to End of Track or the end of the chunk, appending the tempo changes;
  // false with a reason when a player could not read them.
  bool scan(std::vector<TempoChange>& tempo_changes, std::uint64_t& end_tick, std::string& why) {
    std::uint64_t tick = 0;
    std::uint8_t running_status = 0;
    while (at_ < bytes_.size()) {
      const std::size_t event_at = at_;
      std::uint32_t delta = 0;
      if (!read_number(delta, "delta time", why)) return false;
      tick = add_saturated(tick, delta);
      if (!need(1, why)) return false;
      std::uint8_t status = bytes_[at_];
      if (status < 0x80) {
        if (running_status == 0) return fail(why, "data byte " + hex(status) + " without running status", event_at);
        status = running_status;
      } else {
        ++at_;
      }
      if (status < 0xF0) {
        running_status = status;
        const std::size_t data_bytes = (status & 0xE0) == 0xC0 ? 1 : 2;  // program change and channel pressure: 1
        if (!need(data_bytes, why)) return false;
        for (std::size_t i = 0; i < data_bytes; ++i, ++at_)
          if (bytes_[at_] >= 0x80)
            return fail(why, "status byte " + hex(bytes_[at_]) + " inside a channel message", event_at);
      } else if (status == 0xF0 || status == 0xF7) {
        running_status = 0;
        std::uint32_t length = 0;
        if (!read_number(length, "sysex length", why) || !need(length, why)) return false;
        at_ += length;
      } else if (status == 0xFF) {
        running_status = 0;
        if (!need(1, why)) return false;
        const std::uint8_t type = bytes_[at_++];
        std::uint32_t length = 0;
        if (!read_number(length, "meta event length", why) || !need(length, why)) return false;
        const std::uint8_t* data = bytes_.data() + at_;
        at_ += length;
        if (type == 0x2F) {
          if (length != 0) return fail(why, "End of Track with data", event_at);
          end_tick = tick;
          return true;
        }
        if (type == 0x51) {
          if (length != 3) return fail(why, "tempo event of " + std::to_string(length) + " bytes", event_at);
          const std::uint32_t tempo = std::uint32_t(data[0]) << 16 | be16(data + 1);
          if (tempo == 0) return fail(why, "tempo of 0", event_at);
          tempo_changes.push_back({tick, tempo});
        }
      } else {
        return fail(why, "status byte " + hex(status) + " inside a track", event_at);
      }
    }
    // A track that claims more bytes than the file holds has lost its end, unless End of Track
    // came first.
    if (cut_off_) return fail(why, "the file ends before its End of Track", at_);
    end_tick = tick;
    return true;
  }

 private:
  bool fail(std::string& why, const std::string& reason, std::size_t at) const {
    why = reason + " at byte " + std::to_string(offset_ + at);
    return false;
  }
  bool need(std::size_t count, std::string& why) const {
    return count <= bytes_.size() - at_ || fail(why, "an event cut short", at_);
  }
  // A variable-length number: 7 bits a byte, the top bit set on all bytes but the last, at most 4.
  bool read_number(std::uint32_t& value, const char* what, std::string& why) {
    const std::size_t start = at_;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      if (!need(1, why)) return false;
      const std::uint8_t byte = bytes_[at_++];
      value = value << 7 | (byte & 0x7F);
      if (byte < 0x80) return true;
    }
    return fail(why, std::string(what) + " longer than 4 bytes", start);
  }

  Bytes bytes_;
  std::size_t offset_;
  bool cut_off_;
  std::size_t at_ = 0;
};

std::optional<MidiFileInfo> refuse(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return std::nullopt;
}

// The id of a chunk whose id is text.
std::string chunk_name(Bytes bytes, std::size_t at) {
  return "chunk \"" + std::string(bytes.begin() + at, bytes.begin() + at + 4) + "\"";
}

}  // namespace

std::optional<MidiFileInfo> scan_midi_file(Bytes bytes, std::string* why) {
  MidiFileInfo info;
  info.smf_size = bytes.size();
  if (is_id(bytes, 0, "RIFF")) {
    if (!is_id(bytes, 8, "RMID")) return refuse(why, "a RIFF file that is not RMID");
    // The RIFF size is not trusted (writers get it wrong): the chunks run to the end of the bytes.
    std::size_t at = 12;
    for (;;) {
      if (bytes.size() - at < 8) return refuse(why, "an RMID file without a data chunk");
      const std::size_t body = at + 8, size = le32(bytes.data() + at + 4), room = bytes.size() - body;
      if (is_id(bytes, at, "data")) {
        info.smf_offset = body;
        info.smf_size = std::min(size, room);
        break;
      }
      if (size > room) return refuse(why, "an RMID chunk runs past the end of the file");
      at = std::min(body + size + (size & 1), bytes.size());  // chunks start at even offsets
    }
  } else if (bytes.size() < 4 || !is_id(bytes, 0, "MThd")) {
    return refuse(why, bytes.empty() ? "an empty file" : "not a MIDI file");
  }

  const Bytes smf = bytes.subspan(info.smf_offset, info.smf_size);
  if (!is_id(smf, 0, "MThd")) return refuse(why, "not a MIDI file");
  if (smf.size() < 8) return refuse(why, "a truncated header");
  const std::uint32_t header_size = be32(smf.data() + 4);
  if (header_size < 6) return refuse(why, "a header of " + std::to_string(header_size) + " bytes");
  if (header_size > smf.size() - 8) return refuse(why, "a truncated header");
  info.format = static_cast<int>(be16(smf.data() + 8));
  info.tracks = static_cast<int>(be16(smf.data() + 10));
  info.division = static_cast<int>(be16(smf.data() + 12));
  if (info.format > 2) return refuse(why, "format " + std::to_string(info.format) + " is not 0, 1 or 2");
  if (info.tracks == 0) return refuse(why, "no tracks");
  if (info.format == 0 && info.tracks != 1)
    return refuse(why, "format 0 with " + std::to_string(info.tracks) + " tracks");

  Timebase timebase;
  if (info.division & 0x8000) {
    const int frames = -static_cast<std::int8_t>(info.division >> 8);
    const std::uint32_t ticks_per_frame = info.division & 0xFF;
    if (frames != 24 && frames != 25 && frames != 29 && frames != 30)
      return refuse(why, "SMPTE division of " + std::to_string(frames) + " frames a second");
    if (ticks_per_frame == 0) return refuse(why, "SMPTE division of 0 ticks a frame");
    timebase.smpte = true;
    timebase.divisor = (frames == 29 ? 30 : frames) * ticks_per_frame;
    timebase.smpte_rate = frames == 29 ? 1001000 : 1000000;  // 29.97 frames: each lasts 1001 / 30000 s
  } else {
    if (info.division == 0) return refuse(why, "a division of 0 ticks a quarter note");
    timebase.divisor = static_cast<std::uint32_t>(info.division);
  }

  std::vector<TempoChange> tempo_changes;
  std::size_t at = 8 + std::size_t{header_size};
  for (int track = 0; track < info.tracks;) {
    if (smf.size() - at < 8)
      return refuse(why, "declares " + std::to_string(info.tracks) + " tracks but holds " + std::to_string(track));
    const std::size_t body = at + 8, size = be32(smf.data() + at + 4), room = smf.size() - body;
    const bool last = track + 1 == info.tracks;
    if (!std::all_of(smf.begin() + at, smf.begin() + at + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; }))
      return refuse(why, "a chunk id that is not text at byte " + std::to_string(info.smf_offset + at));
    if (!is_id(smf, at, "MTrk")) {
      if (size > room) return refuse(why, chunk_name(smf, at) + " runs past the end of the file");
      at = body + size;
      continue;
    }
    ++track;
    if (size > room && !last)
      return refuse(why, "track " + std::to_string(track) + " runs past the end of the file");
    std::string reason;
    std::uint64_t end_tick = 0;
    TrackScanner scanner(smf.subspan(body, std::min(size, room)), info.smf_offset + body, size > room);
    if (!scanner.scan(tempo_changes, end_tick, reason))
      return refuse(why, "track " + std::to_string(track) + ": " + reason);
    if (info.format == 2) {
      // One sequence after another: each from the default tempo, through its own changes only.
      info.length_us = add_saturated(info.length_us, length_us(timebase, tempo_changes, end_tick));
      info.length_ticks = add_saturated(info.length_ticks, end_tick);
      tempo_changes.clear();
    } else {
      info.length_ticks = std::max(info.length_ticks, end_tick);
    }
    at = body + std::min(size, room);
  }
  if (info.format != 2) {
    // Each track's changes are in tick order already; a stable sort keeps track order within a tick.
    std::stable_sort(tempo_changes.begin(), tempo_changes.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    info.length_us = length_us(timebase, tempo_changes, info.length_ticks);
  }
  return info;
}

}  // namespace talven::sound
