// What a MIDI file holds before anything plays it: its layout (format, tracks, division), how long
// it lasts, and whether a player can read every event of it. Standard MIDI Files and RIFF "RMID"
// files (one wrapped in a "data" chunk) are both read; nothing here makes a sound.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace talven::sound {

struct MidiFileInfo {
  int format = 0;                  // 0, 1 or 2
  int tracks = 0;                  // as the header declares (all present)
  int division = 0;                // the header's raw 16-bit division word
  std::uint64_t length_ticks = 0;  // the end of the longest track (its End of Track event, or its last event)
  std::uint64_t length_us = 0;     // that tick through the tempo map, in microseconds
  std::size_t smf_offset = 0, smf_size = 0;  // where the Standard MIDI File lies in the bytes (RIFF RMID wraps one)
};

// Reads a Standard MIDI File (or a RIFF "RMID" file whose "data" chunk holds one) and checks that a
// player can play it; nullopt otherwise, with a short English reason in *why when why is non-null.
//
// What it accepts:
// - An "MThd" header of 6 bytes or more (the bytes past 6 are skipped), format 0, 1 or 2 (format 0
//   with exactly one track), at least one track, and a division of ticks per quarter note (nonzero)
//   or of SMPTE frames (-24, -25, -29 for 29.97 or -30) times nonzero ticks per frame.
// - Every declared track as an "MTrk" chunk, chunks of other ids before or between them skipped.
//   Bytes after the last declared track are not read.
// - Chunks that fit in the file, with one exception: the last declared track may claim more bytes
//   than the file holds when its events reach an End of Track event within the bytes present. A
//   file cut off after its music ended still plays whole; one cut off inside its music does not.
//   The same holds for the "data" chunk of an RMID file, clipped to the bytes present.
// - Events of delta times of at most 4 bytes; channel messages of 7-bit data bytes, with running
//   status after a channel message (sysex and meta events cancel it, as MIDI files define);
//   sysex events (F0 and F7) and meta events of any type with their variable-length lengths.
//   F1-F6 and F8-FE have no meaning in a file and are refused.
// - End of Track (FF 2F 00) ends its track; the bytes after it in the chunk are not read. Tempo
//   events must be FF 51 03 with a nonzero tempo.
//
// The length: format 0 and 1 play their tracks together, through one tempo map merged from all of
// them (500000 us per quarter note before the first tempo event; at one tick the last tempo
// event in track order holds). Format 2 plays its tracks one after another, each from the default
// tempo with its own tempo events: its length is the sum of theirs, each rounded down to a
// microsecond. SMPTE divisions ignore tempo events: a tick lasts 1 / (fps * ticks per frame)
// seconds. Lengths that do not fit 64 bits saturate.
//
// The work is linear in the size of the bytes (plus sorting the tempo events), whatever the header
// declares.
std::optional<MidiFileInfo> scan_midi_file(std::span<const std::uint8_t> bytes, std::string* why = nullptr);

}  // namespace talven::sound
