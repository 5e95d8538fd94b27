#!/usr/bin/env bash
# Writes the seed corpora of the sound fuzz targets: tiny RIFF waves (8- and 16-bit, mono and
# stereo, an extra chunk, a format the mixer refuses, bare chunks) and Ogg Vorbis files made by
# oggenc, each also cut short:
#   fuzz/make-sound-corpus.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v oggenc >/dev/null || { echo "make-sound-corpus: needs oggenc (vorbis-tools)" >&2; exit 1; }
export LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }

# samples CHANNELS BITS FRAMES: a triangle on the left, a faster one on the right, as raw PCM.
samples() {
  awk -v ch="$1" -v bits="$2" -v n="$3" 'BEGIN {
    for (i = 0; i < n; i++)
      for (c = 0; c < ch; c++) {
        p = (i * (c + 1) * 7) % 64; v = (p < 32 ? p : 64 - p) / 32 * 2 - 1;  # -1 ... 1
        if (bits == 8) printf "%c", int(128 + v * 100);
        else { s = int(v * 20000); if (s < 0) s += 65536; printf "%c%c", s % 256, int(s / 256) }
      }
  }'
}

# fmt_chunk CHANNELS BITS RATE
fmt_chunk() {
  local align=$(($1 * $2 / 8))
  printf 'fmt '; le32 16; le16 1; le16 "$1"; le32 "$3"; le32 $(($3 * align)); le16 "$align"; le16 "$2"
}

# wave FILE CHANNELS BITS RATE FRAMES [EXTRA_CHUNK_FILE]: a RIFF wave, the extra chunk before the data.
wave() {
  local body="$work/body" bytes=$(($2 * $3 / 8 * $5))
  { fmt_chunk "$2" "$3" "$4"; [ -n "${6:-}" ] && cat "$6"; printf 'data'; le32 "$bytes"; samples "$2" "$3" "$5"; } > "$body"
  { printf 'RIFF'; le32 $((4 + $(stat -c %s "$body"))); printf 'WAVE'; cat "$body"; } > "$1"
}

dir=fuzz/corpus/wave_source
mkdir -p "$dir"
{ printf 'LIST'; le32 13; printf 'INFOISFT'; le32 1; printf 'x\0'; } > "$work/list"  # odd size: padded
wave "$dir/mono8.wav" 1 8 11025 200
wave "$dir/stereo8.wav" 2 8 8000 150
wave "$dir/mono16-list.wav" 1 16 22050 180 "$work/list"
wave "$dir/stereo16.wav" 2 16 44100 300
wave "$dir/mono24.wav" 1 24 48000 40
head -c 700 "$dir/stereo16.wav" > "$dir/stereo16-cut.wav"
head -c 30 "$dir/mono8.wav" > "$dir/mono8-cut-in-format.wav"
{ fmt_chunk 2 16 31999; printf 'data'; le32 64; samples 2 16 16; } > "$dir/bare-chunks.bin"

dir=fuzz/corpus/ogg_source
mkdir -p "$dir"
samples 1 16 1600 > "$work/mono.raw"
samples 2 16 800 > "$work/stereo.raw"
oggenc -Q --serial 1 -q 0 --raw --raw-bits=16 --raw-chan=1 --raw-rate=8000 -c COMMENT=seed \
  -o "$dir/mono.ogg" "$work/mono.raw"
oggenc -Q --serial 2 -q 0 --raw --raw-bits=16 --raw-chan=2 --raw-rate=11025 -o "$dir/stereo.ogg" "$work/stereo.raw"
head -c $(($(stat -c %s "$dir/mono.ogg") - 40)) "$dir/mono.ogg" > "$dir/mono-cut.ogg"
head -c 200 "$dir/stereo.ogg" > "$dir/stereo-cut-in-headers.ogg"
for t in wave_source ogg_source; do echo "make-sound-corpus: $t: $(ls fuzz/corpus/$t | wc -l) seeds"; done
