// Standard MIDI Files made from a few calls, for tests, tools and benchmarks. A track takes events
// at absolute ticks, in any order; its chunk lists them by tick (events at one tick in the order
// they were added) with the deltas, lengths and chunk size encoded. Nothing is checked: a track
// without end(), a delta too large for 4 bytes or raw() bytes that break the rules are written as
// asked, so tests can make broken files too.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace talven::sound::test {

using MidiBytes = std::vector<std::uint8_t>;

// A variable-length number: 7 bits a byte, most significant first, the top bit set on all bytes but
// the last. Values of 2^28 and more take 5 bytes, which no reader accepts.
inline void put_midi_number(MidiBytes& out, std::uint32_t value) {
  std::uint8_t groups[5];
  int count = 0;
  do {
    groups[count++] = value & 0x7F;
    value >>= 7;
  } while (value != 0);
  while (count > 1) out.push_back(groups[--count] | 0x80);
  out.push_back(groups[0]);
}

inline void put_be32(MidiBytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

class MidiTrack {
 public:
  // With running status, a channel message whose status byte repeats the one before it is written
  // without it (a sysex or meta event in between makes the next one write it again).
  explicit MidiTrack(bool running_status = false) : running_status_(running_status) {}

  MidiTrack& note_on(std::uint64_t tick, int channel, int key, int velocity) {
    return channel_message(tick, 0x90, channel, {key, velocity});
  }
  MidiTrack& note_off(std::uint64_t tick, int channel, int key) {
    return channel_message(tick, 0x80, channel, {key, 64});
  }
  MidiTrack& note(std::uint64_t tick, std::uint64_t length, int channel, int key, int velocity) {
    return note_on(tick, channel, key, velocity).note_off(tick + length, channel, key);
  }
  MidiTrack& control(std::uint64_t tick, int channel, int controller, int value) {
    return channel_message(tick, 0xB0, channel, {controller, value});
  }
  MidiTrack& program(std::uint64_t tick, int channel, int program) {
    return channel_message(tick, 0xC0, channel, {program});
  }
  MidiTrack& tempo(std::uint64_t tick, std::uint32_t us_per_quarter) {
    return meta(tick, 0x51, {std::uint8_t(us_per_quarter >> 16), std::uint8_t(us_per_quarter >> 8),
                             std::uint8_t(us_per_quarter)});
  }
  MidiTrack& meta(std::uint64_t tick, std::uint8_t type, const MidiBytes& data) {
    MidiBytes bytes = {0xFF, type};
    put_midi_number(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return raw(tick, bytes);
  }
  MidiTrack& text(std::uint64_t tick, const std::string& text) {
    return meta(tick, 0x01, MidiBytes(text.begin(), text.end()));
  }
  // `status` F0 (data ending in F7) or F7 (an escape: any bytes).
  MidiTrack& sysex(std::uint64_t tick, const MidiBytes& data, std::uint8_t status = 0xF0) {
    MidiBytes bytes = {status};
    put_midi_number(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return raw(tick, bytes);
  }
  MidiTrack& end(std::uint64_t tick) { return meta(tick, 0x2F, {}); }
  // Exactly these bytes after the event's delta: a status byte first, or data bytes that lean on
  // the running status.
  MidiTrack& raw(std::uint64_t tick, const MidiBytes& bytes) {
    events_.push_back({tick, bytes});
    return *this;
  }

  // "MTrk", the size, the events.
  MidiBytes chunk() const {
    std::vector<Event> events = events_;
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.tick < b.tick; });
    MidiBytes body;
    std::uint64_t at = 0;
    std::uint8_t status = 0;
    for (const Event& event : events) {
      put_midi_number(body, static_cast<std::uint32_t>(event.tick - at));
      at = event.tick;
      const std::uint8_t first = event.bytes.empty() ? 0 : event.bytes[0];
      const bool repeats = running_status_ && first == status && first >= 0x80 && first < 0xF0;
      body.insert(body.end(), event.bytes.begin() + (repeats ? 1 : 0), event.bytes.end());
      if (first >= 0x80) status = first < 0xF0 ? first : 0;
    }
    MidiBytes out = {'M', 'T', 'r', 'k'};
    put_be32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

 private:
  struct Event {
    std::uint64_t tick;
    MidiBytes bytes;
  };

  MidiTrack& channel_message(std::uint64_t tick, int status, int channel, std::initializer_list<int> data) {
    MidiBytes bytes = {static_cast<std::uint8_t>(status | (channel & 0x0F))};
    for (int value : data) bytes.push_back(static_cast<std::uint8_t>(value & 0x7F));
    return raw(tick, bytes);
  }

  bool running_status_;
  std::vector<Event> events_;
};

// The division word of SMPTE time: -frames in the high byte (29 for 29.97), ticks a frame in the low.
inline int smpte_division(int frames, int ticks_per_frame) {
  return (static_cast<std::uint8_t>(-frames) << 8) | (ticks_per_frame & 0xFF);
}

// A whole file: the 6-byte header (format, the number of tracks, division), then the tracks.
inline MidiBytes midi_file(int format, int division, const std::vector<MidiTrack>& tracks) {
  MidiBytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  for (int word : {format, static_cast<int>(tracks.size()), division}) {
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word));
  }
  for (const MidiTrack& track : tracks) {
    const MidiBytes chunk = track.chunk();
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

// A RIFF "RMID" file: the Standard MIDI File as its "data" chunk, padded to an even size.
inline MidiBytes rmid_file(const MidiBytes& smf) {
  const auto le32 = [](MidiBytes& out, std::size_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
  };
  MidiBytes out = {'R', 'I', 'F', 'F'};
  le32(out, 4 + 8 + smf.size() + (smf.size() & 1));
  out.insert(out.end(), {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
  le32(out, smf.size());
  out.insert(out.end(), smf.begin(), smf.end());
  if (smf.size() & 1) out.push_back(0);
  return out;
}

// Work for a synthesiser: `seconds` of format 1 at 120 bpm (480 ticks a quarter note), a tempo
// track and one track per channel, each with running status. Fifteen channels hold a four-note
// chord through every bar and play sixteenth-note arpeggios of notes two sixteenths long above it;
// channel 9 plays drums (hi-hat sixteenths, kick, snare, a crash each bar). That is about 93 notes
// at once before their releases. Every bar moves each channel's volume (CC7); programs change
// every four bars. End of Track is at `seconds`, where every note has ended.
inline MidiBytes dense_midi_file(double seconds) {
  constexpr std::uint64_t kQuarter = 480, kSixteenth = kQuarter / 4, kBar = 4 * kQuarter;
  const std::uint64_t end = static_cast<std::uint64_t>(std::llround(seconds * 2 * kQuarter));
  // I - vi - IV - V in C, as semitones from each channel's root.
  static constexpr int kChords[4][4] = {{0, 4, 7, 12}, {-3, 0, 4, 9}, {-7, -3, 0, 5}, {-5, -1, 2, 7}};
  // Two General MIDI sets, channel by channel (channel 9: the standard and the room drum kits).
  static constexpr int kPrograms[2][16] = {{0, 48, 61, 19, 24, 33, 52, 73, 65, 0, 11, 89, 40, 56, 46, 81},
                                           {4, 49, 57, 16, 26, 38, 53, 71, 66, 8, 12, 91, 42, 60, 45, 80}};
  std::vector<MidiTrack> tracks;
  tracks.emplace_back().tempo(0, 500000).meta(0, 0x58, {4, 2, 24, 8}).end(end);
  for (int channel = 0; channel < 16; ++channel) {
    MidiTrack& track = tracks.emplace_back(true);
    const auto note = [&](std::uint64_t tick, std::uint64_t length, int key, int velocity) {
      if (tick < end) track.note(tick, std::min(length, end - tick), channel, key, velocity);
    };
    track.control(0, channel, 10, channel * 127 / 15);  // pan: spread from left to right
    const int root = 36 + 12 * (channel % 4) + channel / 4;
    for (std::uint64_t bar = 0; bar * kBar < end; ++bar) {
      const std::uint64_t start = bar * kBar;
      track.control(start, channel, 7, static_cast<int>(70 + (bar * 7 + channel * 5) % 50));
      if (bar % 4 == 0) track.program(start, channel, kPrograms[bar / 4 % 2][channel]);
      if (channel == 9) {
        note(start, kQuarter, 49, 100);  // crash
        for (std::uint64_t step = 0; step < 16; ++step) {
          const std::uint64_t at = start + step * kSixteenth;
          note(at, kSixteenth / 2, step % 4 == 2 ? 46 : 42, 60 + static_cast<int>(step % 4) * 10);  // hi-hats
          if (step % 8 == 0) note(at, kSixteenth, 36, 110);                                          // kick
          if (step % 8 == 4) note(at, kSixteenth, 38, 100);                                          // snare
        }
        continue;
      }
      const int* chord = kChords[bar % 4];
      for (int tone = 0; tone < 4; ++tone) note(start, kBar - 10, root + chord[tone], 70);
      // The arpeggio plays two octaves up, above every held note, and stops with its bar, so no key
      // is struck while it sounds.
      for (std::uint64_t step = 0; step < 16; ++step)
        note(start + step * kSixteenth, std::min(2 * kSixteenth, kBar - step * kSixteenth),
             root + 24 + chord[(step + channel) % 4], 90);
    }
    track.end(end);
  }
  return midi_file(1, static_cast<int>(kQuarter), tracks);
}

}  // namespace talven::sound::test
