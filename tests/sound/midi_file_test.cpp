// MIDI files before they play: how long they last through their tempo maps, which layouts they
// come in (formats 0, 1 and 2, SMPTE time, RMID wrapping), and the broken files a player must not
// be given. The files come from midi_writer.h, which the first test checks against the byte
// encodings MIDI files use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "sound/midi_file.h"
#include "sound/midi_writer.h"

namespace talven::sound {
namespace {

using test::midi_file;
using test::MidiBytes;
using test::MidiTrack;

void put_be(MidiBytes& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
}

MidiBytes concat(std::initializer_list<MidiBytes> parts) {
  MidiBytes out;
  for (const MidiBytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A header with its track count and division as given, for files the writer would not make.
MidiBytes header(int format, int tracks, int division) {
  MidiBytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
  put_be(out, 8, format, 2);
  put_be(out, 10, tracks, 2);
  put_be(out, 12, division, 2);
  return out;
}

MidiBytes track_of(const MidiBytes& events) {
  MidiBytes out = {'M', 'T', 'r', 'k'};
  test::put_be32(out, static_cast<std::uint32_t>(events.size()));
  out.insert(out.end(), events.begin(), events.end());
  return out;
}

MidiTrack a4_held(std::uint64_t ticks) { return MidiTrack().note(0, ticks, 0, 69, 100).end(ticks); }

TEST(MidiWriter, EncodesNumbersAndRunningStatusAsMidiFilesDo) {
  struct Number {
    std::uint32_t value;
    MidiBytes bytes;
  };
  for (const Number& n : {Number{0, {0x00}}, Number{0x40, {0x40}}, Number{0x7F, {0x7F}}, Number{0x80, {0x81, 0x00}},
                          Number{0x2000, {0xC0, 0x00}}, Number{0x3FFF, {0xFF, 0x7F}},
                          Number{0x4000, {0x81, 0x80, 0x00}}, Number{0x100000, {0xC0, 0x80, 0x00}},
                          Number{0x1FFFFF, {0xFF, 0xFF, 0x7F}}, Number{0x200000, {0x81, 0x80, 0x80, 0x00}},
                          Number{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
                          Number{0x10000000, {0x81, 0x80, 0x80, 0x80, 0x00}}}) {
    MidiBytes out;
    test::put_midi_number(out, n.value);
    EXPECT_EQ(out, n.bytes) << n.value;
  }
  // Added out of order; written by tick, the repeated 0x90 left out until the meta event.
  const MidiBytes chunk = MidiTrack(true)
                              .note_on(200, 0, 62, 0)
                              .note_on(0, 0, 60, 100)
                              .note_on(100, 0, 62, 90)
                              .text(100, "x")
                              .note_on(100, 0, 60, 0)
                              .end(200)
                              .chunk();
  const MidiBytes events = {0x00, 0x90, 60,   100,  0x64, 62, 90,   0x00, 0xFF, 0x01, 0x01, 'x',
                            0x00, 0x90, 60,   0,    0x64, 62, 0,    0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(chunk, track_of(events));
}

TEST(MidiFile, LengthsFollowTheTempoMap) {
  // Tempo changes in two tracks, added out of tick order: 480 ticks at 0.5 s a quarter, 960 at 1 s,
  // 480 at 0.25 s.
  const MidiBytes merged =
      midi_file(1, 480,
                {MidiTrack().end(0), MidiTrack().tempo(1440, 250000).end(1440),
                 MidiTrack().tempo(480, 1000000).end(480), a4_held(1920)});
  // Data bytes after the first note-on lean on its status: two notes, then both off.
  const MidiBytes running =
      midi_file(0, 480, {MidiTrack().note_on(0, 3, 60, 100).raw(480, {62, 100}).raw(960, {60, 0}).raw(960, {62, 0})
                             .end(1440)});
  // Events a length does not depend on, between the notes: text, sysex (one with a 2-byte length),
  // an F7 escape, an unknown meta type, a time signature; then bytes after End of Track that would
  // be refused if read.
  const MidiBytes skipped = midi_file(
      0, 480,
      {a4_held(960)
           .text(10, "title")
           .sysex(20, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
           .sysex(30, MidiBytes(200, 0x11))
           .sysex(40, {0xF8}, 0xF7)
           .meta(50, 0x7F, MidiBytes(130, 0x22))
           .meta(60, 0x58, {3, 2, 24, 8})
           .raw(5000, {0xF4, 0xF4})});
  // 20 deltas of 2^28 - 1: more ticks than 32 bits hold.
  MidiTrack far;
  for (std::uint64_t i = 1; i <= 20; ++i) far.text(i * 0x0FFFFFFF, "");

  struct Case {
    const char* what;
    MidiBytes bytes;
    int format, tracks, division;
    std::uint64_t ticks, us;
  };
  const Case cases[] = {
      {"A4 held 2 s at 120 bpm", midi_file(0, 480, {a4_held(1920)}), 0, 1, 480, 1920, 2000000},
      {"a tempo change halfway: 1 s at 120 bpm, 2 s at 60", midi_file(0, 480, {a4_held(1920).tempo(960, 1000000)}), 0,
       1, 480, 1920, 3000000},
      {"two changes at one tick: the later one holds",
       midi_file(0, 96, {a4_held(192).tempo(96, 2000000).tempo(96, 250000)}), 0, 1, 96, 192, 750000},
      {"no End of Track: the last event ends it", midi_file(0, 480, {MidiTrack().note(0, 720, 0, 60, 90)}), 0, 1, 480,
       720, 750000},
      {"tempo in track 0, notes in track 1",
       midi_file(1, 480, {MidiTrack().tempo(0, 1000000).tempo(960, 500000).end(960), a4_held(1920)}), 1, 2, 480, 1920,
       3000000},
      {"tempo changes merged from every track in tick order", merged, 1, 4, 480, 1920, 2750000},
      {"format 2: 1 s, 0.5 s at its own tempo, 0.5 s from the default tempo again",
       midi_file(2, 480, {a4_held(960), a4_held(960).tempo(0, 250000), a4_held(480)}), 2, 3, 480, 2400, 2000000},
      {"SMPTE 25 fps x 40 ticks: tempo changes do not count",
       midi_file(0, test::smpte_division(25, 40), {a4_held(2500).tempo(0, 1000000)}), 0, 1, 0xE728, 2500, 2500000},
      {"SMPTE 29.97: 30 frames last 1.001 s", midi_file(0, test::smpte_division(29, 10), {a4_held(300)}), 0, 1, 0xE30A,
       300, 1001000},
      {"SMPTE 30 fps x 1 tick", midi_file(0, test::smpte_division(30, 1), {a4_held(45)}), 0, 1, 0xE201, 45, 1500000},
      {"running status", running, 0, 1, 480, 1440, 1500000},
      {"sysex and meta events skipped", skipped, 0, 1, 480, 960, 1000000},
      {"ticks past 2^32", midi_file(0, 480, {far}), 0, 1, 480, 20ull * 0x0FFFFFFF, 5592405312500},
      {"the dense benchmark file", test::dense_midi_file(10), 1, 17, 480, 9600, 10000000},
  };
  for (const Case& c : cases) {
    std::string why;
    const auto info = scan_midi_file(c.bytes, &why);
    ASSERT_TRUE(info) << c.what << ": " << why;
    EXPECT_EQ(info->format, c.format) << c.what;
    EXPECT_EQ(info->tracks, c.tracks) << c.what;
    EXPECT_EQ(info->division, c.division) << c.what;
    EXPECT_EQ(info->length_ticks, c.ticks) << c.what;
    EXPECT_EQ(info->length_us, c.us) << c.what;
    EXPECT_EQ(info->smf_offset, 0u) << c.what;
    EXPECT_EQ(info->smf_size, c.bytes.size()) << c.what;
  }
}

TEST(MidiFile, LayoutsAroundTheTracksAreRead) {
  const MidiBytes smf = midi_file(1, 480, {MidiTrack().tempo(0, 250000).end(0), a4_held(960)});
  const auto plain = scan_midi_file(smf);
  ASSERT_TRUE(plain);
  ASSERT_EQ(plain->length_us, 500000u);

  // A header of 10 bytes, and chunks of other ids before and between the tracks.
  MidiBytes long_header = smf;
  long_header[7] = 10;
  long_header.insert(long_header.begin() + 14, {1, 2, 3, 4});
  const MidiBytes other = {'X', 'F', 'I', 'H', 0, 0, 0, 3, 0xFF, 0xFF, 0xFF};
  const std::size_t second_track = 14 + test::MidiTrack().tempo(0, 250000).end(0).chunk().size();
  MidiBytes between = smf;
  between.insert(between.begin() + second_track, other.begin(), other.end());
  between.insert(between.begin() + 14, other.begin(), other.end());
  // The RIFF wrapping: an odd-sized chunk first (padded), then the data chunk; an SMF of odd size
  // is padded too, outside the data chunk.
  MidiBytes rmid = test::rmid_file(smf);
  rmid.insert(rmid.begin() + 12, {'I', 'N', 'F', 'O', 3, 0, 0, 0, 'a', 'b', 'c', 0});
  const MidiBytes odd = concat({smf, {0}});
  ASSERT_EQ(odd.size() % 2, 1u);

  struct Case {
    const char* what;
    MidiBytes bytes;
    std::size_t smf_offset, smf_size;
  };
  const Case cases[] = {
      {"a longer header", long_header, 0, long_header.size()},
      {"other chunks", between, 0, between.size()},
      {"bytes after the last track", concat({smf, MidiBytes(7, 0xEE)}), 0, smf.size() + 7},
      {"RMID", test::rmid_file(smf), 20, smf.size()},
      {"RMID with a chunk before its data", rmid, 32, smf.size()},
      {"RMID of an odd size", test::rmid_file(odd), 20, odd.size()},
  };
  for (const Case& c : cases) {
    std::string why;
    const auto info = scan_midi_file(c.bytes, &why);
    ASSERT_TRUE(info) << c.what << ": " << why;
    EXPECT_EQ(info->length_us, plain->length_us) << c.what;
    EXPECT_EQ(info->length_ticks, plain->length_ticks) << c.what;
    EXPECT_EQ(info->smf_offset, c.smf_offset) << c.what;
    EXPECT_EQ(info->smf_size, c.smf_size) << c.what;
    const MidiBytes inner(c.bytes.begin() + c.smf_offset, c.bytes.begin() + c.smf_offset + c.smf_size);
    EXPECT_TRUE(scan_midi_file(inner)) << c.what << ": the span alone is a MIDI file";
  }
}

TEST(MidiFile, BrokenFilesAreRefusedWithTheirReason) {
  const MidiBytes good = midi_file(1, 480, {MidiTrack().tempo(0, 500000).end(0), a4_held(960)});
  const std::size_t first_track = 14, second_track = first_track + MidiTrack().tempo(0, 500000).end(0).chunk().size();
  MidiBytes first_past_end = good, other_past_end = good;
  put_be(first_past_end, first_track + 4, 0x00FFFFFF, 4);
  other_past_end[second_track] = 'X';
  put_be(other_past_end, second_track + 4, 1000, 4);
  const MidiBytes rmid = test::rmid_file(good);
  MidiBytes rmid_without_data = rmid;
  rmid_without_data[12] = 'D';
  const auto one_track = [](const MidiBytes& events) { return concat({header(0, 1, 480), track_of(events)}); };

  struct Case {
    const char* what;
    MidiBytes bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"empty", {}, "empty"},
      {"the header cut short", MidiBytes(good.begin(), good.begin() + 12), "truncated header"},
      {"the header's size past the end", concat({{'M', 'T', 'h', 'd', 0, 0, 1, 0}, MidiBytes(20, 0)}),
       "truncated header"},
      {"wrong magic", concat({{'M', 'T', 'h', 'x'}, MidiBytes(good.begin() + 4, good.end())}), "not a MIDI file"},
      {"a header of 4 bytes", concat({{'M', 'T', 'h', 'd', 0, 0, 0, 4, 0, 0, 0, 1}, track_of({0, 0xFF, 0x2F, 0})}),
       "header of 4 bytes"},
      {"format 3", concat({header(3, 1, 480), track_of({0, 0xFF, 0x2F, 0})}), "format 3"},
      {"zero division", concat({header(0, 1, 0), track_of({0, 0xFF, 0x2F, 0})}), "division of 0"},
      {"SMPTE -23 frames", concat({header(0, 1, test::smpte_division(23, 10)), track_of({0, 0xFF, 0x2F, 0})}),
       "SMPTE division of 23 frames"},
      {"SMPTE 0 ticks a frame", concat({header(0, 1, test::smpte_division(25, 0)), track_of({0, 0xFF, 0x2F, 0})}),
       "0 ticks a frame"},
      {"format 0 with 2 tracks", concat({header(0, 2, 480), MidiTrack().end(0).chunk(), MidiTrack().end(0).chunk()}),
       "format 0 with 2 tracks"},
      {"no tracks", header(1, 0, 480), "no tracks"},
      {"3 tracks declared, 2 present", concat({header(1, 3, 480), MidiBytes(good.begin() + 14, good.end())}),
       "declares 3 tracks but holds 2"},
      {"65535 tracks declared", concat({header(1, 65535, 480), MidiBytes(good.begin() + 14, good.end())}),
       "declares 65535 tracks but holds 2"},
      {"a track before the last past the end", first_past_end, "track 1 runs past the end"},
      {"another chunk past the end", other_past_end, "chunk \"XTrk\" runs past the end"},
      {"garbage after MThd", concat({header(0, 1, 480), MidiBytes(40, 0xA5)}), "chunk id that is not text"},
      {"text after MThd", concat({header(0, 1, 480), {'G', 'A', 'R', 'B', 'A', 'G', 'E', '!', 'x'}}), "past the end"},
      {"a delta cut short", one_track({0x81}), "cut short"},
      {"a 5-byte delta", one_track({0x81, 0x80, 0x80, 0x80, 0x00, 0xFF, 0x2F, 0x00}), "delta time longer than 4 bytes"},
      {"a 5-byte meta length", one_track({0x00, 0xFF, 0x01, 0x81, 0x80, 0x80, 0x80, 0x00}),
       "meta event length longer than 4 bytes"},
      {"a data byte first", one_track({0x00, 0x40, 0x40, 0x00, 0xFF, 0x2F, 0x00}),
       "data byte 0x40 without running status"},
      {"a data byte after a meta event", one_track({0, 0x90, 60, 100, 0, 0xFF, 0x01, 0, 0, 60, 0}),
       "data byte 0x3C without running status"},
      {"a data byte after sysex", one_track({0, 0x90, 60, 100, 0, 0xF0, 1, 0xF7, 0, 60, 0}), "without running status"},
      {"F4 status", one_track({0x00, 0xF4, 0x00, 0xFF, 0x2F, 0x00}), "status byte 0xF4 inside a track"},
      {"F8 status (real time)", one_track({0x00, 0xF8, 0x00, 0xFF, 0x2F, 0x00}), "status byte 0xF8 inside a track"},
      {"FE status (active sensing)", one_track({0x00, 0xFE}), "status byte 0xFE inside a track"},
      {"a status byte in a note-on", one_track({0x00, 0x90, 60, 0x80, 0x00, 0xFF, 0x2F, 0x00}),
       "status byte 0x80 inside a channel message"},
      {"a note-on cut short", one_track({0x00, 0x90, 60}), "cut short"},
      {"tempo 0", one_track({0x00, 0xFF, 0x51, 0x03, 0, 0, 0, 0x00, 0xFF, 0x2F, 0x00}), "tempo of 0 at byte 22"},
      {"a tempo event of 2 bytes", one_track({0x00, 0xFF, 0x51, 0x02, 7, 0xA1, 0x00, 0xFF, 0x2F, 0x00}),
       "tempo event of 2 bytes"},
      {"End of Track with data", one_track({0x00, 0xFF, 0x2F, 0x01, 0x00}), "End of Track with data"},
      {"a sysex longer than its track", one_track({0x00, 0xF0, 0x05, 0x01, 0xF7}), "cut short"},
      {"a meta event longer than its track", concat({one_track({0x00, 0xFF, 0x01, 0x05, 'a'}), MidiBytes(10, 0)}),
       "cut short"},
      {"a RIFF wave", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, "not RMID"},
      {"RMID without a data chunk", rmid_without_data, "without a data chunk"},
      {"RMID whose data is not MIDI", test::rmid_file({'M', 'T', 'h', 'x', 0, 0, 0, 6}), "not a MIDI file"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(scan_midi_file(c.bytes, &why)) << c.what;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
  }
}

TEST(MidiFile, AFileCutShortPlaysOnlyWhenItsLastTrackHadEnded) {
  // Every piece of the file is needed until the last End of Track, the last byte.
  const MidiBytes good = midi_file(1, 480, {MidiTrack().tempo(0, 400000).end(0), a4_held(960).text(480, "mid")});
  ASSERT_TRUE(scan_midi_file(good));
  for (std::size_t size = 0; size < good.size(); ++size)
    EXPECT_FALSE(scan_midi_file(std::span(good.data(), size))) << "cut to " << size << " bytes";

  // The last track claims 1000 bytes more than the file holds: its events still end cleanly.
  MidiBytes overrun = good;
  const std::size_t last_size_at = good.size() - a4_held(960).text(480, "mid").chunk().size() + 4;
  put_be(overrun, last_size_at, static_cast<std::uint32_t>(good.size() - last_size_at - 4 + 1000), 4);
  const auto info = scan_midi_file(overrun);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->length_us, 800000u);
  EXPECT_EQ(info->smf_size, overrun.size());

  // The same with no End of Track, where the bytes run out: the rest of the music may be missing.
  MidiBytes without_end(overrun.begin(), overrun.end() - 4);
  std::string why;
  EXPECT_FALSE(scan_midi_file(without_end, &why));
  EXPECT_NE(why.find("ends before its End of Track"), std::string::npos) << why;

  // An RMID data chunk that claims more than the file holds is read as far as the file goes.
  MidiBytes rmid = test::rmid_file(good);
  put_be(rmid, 16, 0x00010000, 4);
  std::reverse(rmid.begin() + 16, rmid.begin() + 20);  // little-endian
  const auto wrapped = scan_midi_file(rmid);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->length_us, 800000u);
  EXPECT_EQ(wrapped->smf_size, rmid.size() - 20);
}

TEST(MidiFile, HugeCountsStayBoundedAndLengthsSaturate) {
  // 65535 tracks, track i changing the tempo at tick 65534 - i, so the changes come in the
  // reverse of track order: the last, to 0.25 s a quarter note, is track 0's, which ends 96
  // ticks later.
  std::vector<MidiTrack> tracks(65535);
  for (std::uint64_t i = 0; i < tracks.size(); ++i)
    tracks[i].tempo(65534 - i, i == 0 ? 250000 : 1).end(i == 0 ? 65534 + 96 : 65534 - i);
  const auto many = scan_midi_file(midi_file(1, 96, tracks));
  ASSERT_TRUE(many);
  EXPECT_EQ(many->tracks, 65535);
  EXPECT_EQ(many->length_ticks, 65534u + 96);
  // The ticks before 65534 run at 1 us a quarter note: 65534 / 96 us, with the 250000 us after.
  EXPECT_EQ(many->length_us, (65534 * 1 + 96 * 250000) / 96);

  // 5000 deltas of 2^28 - 1 at the slowest tempo with 1 tick a quarter: about 2^80 us.
  MidiTrack slow;
  slow.tempo(0, 0xFFFFFF);
  for (std::uint64_t i = 1; i <= 5000; ++i) slow.text(i * 0x0FFFFFFF, "");
  for (int format : {0, 2}) {
    const auto info = scan_midi_file(midi_file(format, 1, {slow}));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->length_ticks, 5000ull * 0x0FFFFFFF);
    EXPECT_EQ(info->length_us, std::numeric_limits<std::uint64_t>::max());
  }
}

}  // namespace
}  // namespace talven::sound
