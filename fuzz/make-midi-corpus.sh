#!/usr/bin/env bash
# Writes the seed corpora of the midi_file and midi_player fuzz targets (the same seeds): small MIDI files made with the tests' writer
# (tests/sound/midi_writer.h): formats 0, 1 and 2, SMPTE time, running status, sysex and meta
# events, an RMID wrapping, a last track longer than the file, a bit of the dense benchmark file,
# and some of them cut short:
#   fuzz/make-midi-corpus.sh   (needs a C++20 compiler: $CXX, else c++)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/seeds.cpp" <<'EOF'
#include <fstream>
#include <string>

#include "sound/midi_writer.h"

using namespace talven::sound::test;

void save(const std::string& dir, const char* name, const MidiBytes& bytes) {
  std::ofstream(dir + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
  const std::string dir = argv[1];
  save(dir, "format0.mid",
       midi_file(0, 480, {MidiTrack().program(0, 0, 19).control(0, 0, 7, 100).note(0, 1920, 0, 69, 100)
                              .tempo(960, 250000).control(960, 0, 7, 60).end(1920)}));
  const MidiBytes format1 = midi_file(
      1, 96, {MidiTrack().tempo(0, 600000).meta(0, 0x58, {4, 2, 24, 8}).end(192),
              MidiTrack().text(0, "lead").note(0, 96, 0, 60, 90).note(96, 96, 0, 64, 90).end(192),
              MidiTrack().note(0, 192, 1, 48, 70).control(96, 1, 10, 20).tempo(96, 400000).end(192)});
  save(dir, "format1.mid", format1);
  save(dir, "format2.mid", midi_file(2, 120, {MidiTrack().note(0, 120, 0, 60, 80).end(120),
                                              MidiTrack().tempo(0, 300000).note(0, 240, 2, 62, 80).end(240)}));
  save(dir, "smpte25.mid", midi_file(0, smpte_division(25, 40), {MidiTrack().note(0, 500, 0, 67, 90).end(500)}));
  save(dir, "smpte2997.mid", midi_file(0, smpte_division(29, 4), {MidiTrack().note(0, 120, 9, 38, 90).end(120)}));
  MidiTrack running(true);
  for (int i = 0; i < 8; ++i) running.note_on(i * 60, 0, 60 + i, 100).note_on(i * 60 + 50, 0, 60 + i, 0);
  save(dir, "running-status.mid", midi_file(0, 240, {running.end(480)}));
  save(dir, "sysex-meta.mid",
       midi_file(0, 480, {MidiTrack().sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).sysex(10, {0xF0, 0x41, 0xF7}, 0xF7)
                              .meta(20, 0x7F, MidiBytes(130, 0x22)).meta(30, 0x59, {0, 0}).note(40, 400, 0, 72, 64)
                              .end(480).raw(600, {0xF4})}));
  save(dir, "rmid.rmi", rmid_file(format1));
  // The last track's size claims 64 bytes the file does not hold; its End of Track is there.
  MidiBytes overrun = midi_file(0, 480, {MidiTrack().note(0, 480, 0, 60, 100).end(480)});
  overrun[21] += 64;
  save(dir, "last-track-overrun.mid", overrun);
  save(dir, "dense.mid", dense_midi_file(0.25));
}
EOF
"${CXX:-c++}" -std=c++20 -Itests "$work/seeds.cpp" -o "$work/seeds"
dir=fuzz/corpus/midi_file
mkdir -p "$dir"
"$work/seeds" "$dir"
cut() { head -c "$2" "$dir/$1" > "$dir/${1%.*}-cut${3:-}.${1##*.}"; }
cut format1.mid 60
cut rmid.rmi 70
cut sysex-meta.mid 40
cut running-status.mid 30
cut format0.mid 11 -in-header
echo "make-midi-corpus: midi_file: $(ls "$dir" | wc -l) seeds, $(cat "$dir"/* | wc -c) bytes"
mkdir -p fuzz/corpus/midi_player
cp "$dir"/* fuzz/corpus/midi_player/
