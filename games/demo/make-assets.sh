#!/usr/bin/env bash
# Draws the demo's pictures with the engine itself (games/demo/assets/draw.c) and puts them into
# games/demo/pictures.bin with talven-arc; makes its sounds the same way (games/demo/assets/sounds.c,
# the music then encoded by oggenc from vorbis-tools) into games/demo/sounds.bin; draws the intro
# movie's frames (games/demo/assets/intro.c) and encodes them with a chime by the ffmpeg command into
# games/demo/movies.bin:
#   games/demo/make-assets.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build}"
[ -x "$build/talven" ] && [ -x "$build/tools/talven-arc" ] || { echo "make-assets: build talven and talven-arc first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/assets" "$work/pictures"
cp games/demo/assets/draw.c "$work/assets/main.c"
cp sdk/include/talven.h "$work/assets/"
printf '[General]\nFileSystem=3\nError=1\nDebugMode=1\n[Screen]\nWidth=64\nHeight=64\nDepth=32\n' > "$work/assets.cfg"
(cd "$work" && "$OLDPWD/$build/talven" --headless --log - assets.cfg)
"$build/tools/talven-arc" create games/demo/pictures.bin "$work/pictures" --seed 20261210 >/dev/null
"$build/tools/talven-arc" list games/demo/pictures.bin

mkdir -p "$work/soundmaker" "$work/sounds"
cp games/demo/assets/sounds.c "$work/soundmaker/main.c"
cp sdk/include/talven.h "$work/soundmaker/"
printf '[General]\nFileSystem=3\nError=1\n[System]\nDirectSound=0\n' > "$work/soundmaker.cfg"
(cd "$work" && "$OLDPWD/$build/talven" --headless --log - soundmaker.cfg)
command -v oggenc >/dev/null || { echo "make-assets: oggenc (vorbis-tools) is needed for the music" >&2; exit 1; }
oggenc -Q -q 3 -c "COMMENT=Talven demo theme" -o "$work/sounds/music.ogg" "$work/music.wav"
"$build/tools/talven-arc" create games/demo/sounds.bin "$work/sounds" --seed 20261211 >/dev/null
"$build/tools/talven-arc" list games/demo/sounds.bin

mkdir -p "$work/intromaker" "$work/frames" "$work/movies"
cp games/demo/assets/intro.c "$work/intromaker/main.c"
cp sdk/include/talven.h "$work/intromaker/"
printf '[General]\nFileSystem=3\nError=1\nDebugMode=1\n[Screen]\nWidth=64\nHeight=64\nDepth=32\n[System]\nDirectSound=0\n' > "$work/intromaker.cfg"
(cd "$work" && "$OLDPWD/$build/talven" --headless --log - intromaker.cfg)
command -v ffmpeg >/dev/null || { echo "make-assets: the ffmpeg command is needed for the intro movie" >&2; exit 1; }
# A chime: a fifth that swells in and dies away with the frames.
ffmpeg -v error -y -framerate 25 -i "$work/frames/f%03d.png" \
  -f lavfi -i "aevalsrc=0.3*(sin(2*PI*392*t)+sin(2*PI*587.3*t))*min(1\,4*t)*max(0\,1-t/2):s=44100:d=2" \
  -c:v mpeg4 -q:v 6 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest "$work/movies/intro.mp4"
"$build/tools/talven-arc" create games/demo/movies.bin "$work/movies" --seed 20261213 >/dev/null
"$build/tools/talven-arc" list games/demo/movies.bin
