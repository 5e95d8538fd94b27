#!/usr/bin/env bash
# Writes the seed corpora of the archive fuzz targets with the real talven-arc:
#   fuzz/make-corpus.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
tool="${1:-build}/tools/talven-arc"
[ -x "$tool" ] || { echo "make-corpus: build talven-arc first ($tool)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dir=fuzz/corpus/archive_directory
mkdir -p "$dir"
mkdir -p "$work/one" "$work/nested/bg/night" "$work/nested/キャラ" "$work/nothing"
printf 'hello' > "$work/one/a"
printf 'png' > "$work/nested/bg.png"
printf '' > "$work/nested/bg/night/empty.png"
printf 'x' > "$work/nested/bg/night/X.PNG"
printf 'sjis' > "$work/nested/キャラ/ソ.txt"
"$tool" create "$dir/one.bin" "$work/one" --seed 1 >/dev/null
"$tool" create "$dir/nested.bin" "$work/nested" --seed 0xDEADBEEF >/dev/null
"$tool" create "$dir/backslash.bin" "$work/nested" --seed 7 --separator '\' >/dev/null
"$tool" create "$dir/empty.bin" "$work/nothing" --seed 3 >/dev/null

dir=fuzz/corpus/pack_decoder
mkdir -p "$dir"
printf 'A' > "$work/a"
printf 'abababababababababab' > "$work/abab"
head -c 3000 /dev/zero | tr '\0' 'z' > "$work/run"
printf '' > "$work/empty"
seq 1 400 > "$work/numbers"
for f in a abab run empty numbers; do "$tool" pack "$work/$f" "$dir/$f.pack"; done
echo "make-corpus: wrote $(ls fuzz/corpus/archive_directory | wc -l) archives and $(ls fuzz/corpus/pack_decoder | wc -l) pack files"
