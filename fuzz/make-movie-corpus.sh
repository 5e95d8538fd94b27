#!/usr/bin/env bash
# Writes the seed corpus of the movie_decoder fuzz target with the ffmpeg command: 8x8 pictures,
# three frames, with and without a short tone, in the containers and codecs games ship (MPEG-1
# program and transport streams, AVI, MP4, WebM, Ogg, FLV, QuickTime, GIF, raw YUV), sound-only
# files (WAV, MP3 with cover art, Ogg Vorbis) and a fast-start MP4 cut short. A few KB each:
#   fuzz/make-movie-corpus.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v ffmpeg >/dev/null || { echo "make-movie-corpus: needs ffmpeg" >&2; exit 1; }
dir=fuzz/corpus/movie_decoder
rm -rf "$dir"
mkdir -p "$dir"

picture=(-f lavfi -i testsrc2=size=8x8:rate=25:duration=0.12)
tone=(-f lavfi -i sine=frequency=1000:sample_rate=8000:duration=0.12)
seed() {  # seed NAME FFMPEG-ARGUMENTS...
  local name=$1
  shift
  ffmpeg -nostdin -hide_banner -loglevel error -y -bitexact "$@" "$dir/$name"
}

seed mpeg1-mp2.mpg "${picture[@]}" "${tone[@]}" -c:v mpeg1video -c:a mp2 -ar 32000 -b:a 32k
# A transport stream needs more than three frames before the probe tells it from a program stream.
seed mpeg1.ts -f lavfi -i testsrc2=size=8x8:rate=25:duration=0.4 -c:v mpeg1video
seed mpeg4-mp3.avi "${picture[@]}" "${tone[@]}" -c:v mpeg4 -c:a libmp3lame -b:a 8k
seed h264-aac.mp4 "${picture[@]}" "${tone[@]}" -c:v libx264 -pix_fmt yuv420p -c:a aac -b:a 8k -movflags +faststart
seed vp9.webm "${picture[@]}" -c:v libvpx-vp9 -deadline realtime
# FFmpeg's Theora decoder refuses the 8x8 and 16x16 pictures its encoder writes; 32x32 it reads.
seed theora.ogv -f lavfi -i testsrc2=size=32x32:rate=25:duration=0.12 -c:v libtheora
seed flv1-mp3.flv "${picture[@]}" "${tone[@]}" -c:v flv1 -c:a libmp3lame -ar 11025 -b:a 8k
seed mjpeg-pcm.mov "${picture[@]}" "${tone[@]}" -c:v mjpeg -c:a pcm_u8
seed rgba.mkv "${picture[@]}" -vf format=rgba -c:v png
seed anim.gif "${picture[@]}"
seed raw.y4m "${picture[@]}" -pix_fmt yuv420p
seed tone.wav "${tone[@]}" -ac 2 -c:a pcm_s16le
seed tone.mp3 "${tone[@]}" -f lavfi -i color=c=blue:s=8x8:r=1:d=1 -map 0:a -map 1:v -c:a libmp3lame -b:a 8k \
  -c:v png -disposition:v:0 attached_pic
seed tone.ogg "${tone[@]}" -c:a libvorbis -q:a 0
head -c $(($(stat -c %s "$dir/h264-aac.mp4") * 2 / 3)) "$dir/h264-aac.mp4" > "$dir/h264-aac-cut.mp4"

echo "make-movie-corpus: $(ls "$dir" | wc -l) seeds, $(du -cb "$dir"/* | tail -1 | cut -f1) bytes"
