#!/usr/bin/env bash
# Writes the seed corpora of the image fuzz targets (bmp_reader, png_reader, jpeg_reader,
# diff_reader), drawn and encoded by the engine itself:
#   fuzz/make-image-corpus.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
tests="${1:-build}/tests/test_graphics"
[ -x "$tests" ] || { echo "make-image-corpus: build test_graphics first ($tests)" >&2; exit 1; }
TALVEN_WRITE_CORPUS="$PWD/fuzz/corpus" "$tests" --gtest_filter='ImageCorpus.*' >/dev/null
for t in bmp_reader png_reader jpeg_reader diff_reader; do echo "make-image-corpus: $t: $(ls fuzz/corpus/$t | wc -l) seeds"; done
