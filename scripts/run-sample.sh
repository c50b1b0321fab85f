#!/bin/sh
# Encodes the bundled sample page, decodes it again and compares the result.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh build
cmake -S . -B build-sample -DCMAKE_BUILD_TYPE=Release -DJB2_TESTS=OFF >/dev/null
cmake --build build-sample -j"$(nproc 2>/dev/null || echo 2)" --target transc untransc
mkdir -p out
cp examples/sample.bmp out/sample.bmp
cd out
../build-sample/transc sample "$@"
ls -l sample.bmp sample.jb2
# -f: replaces sample_1.bmp of an earlier run.
../build-sample/untransc -f sample
ls -l sample_1.bmp
# Compare the pixel rows (both files keep their pixels after a 62-byte header).
tail -c +63 sample.bmp > sample.pixels
tail -c +63 sample_1.bmp > sample_1.pixels
if cmp -s sample.pixels sample_1.pixels; then
  echo "sample_1.bmp has exactly the pixels of sample.bmp"
else
  echo "sample_1.bmp differs from sample.bmp (expected only for lossy halftone sections)"
fi
rm -f sample.pixels sample_1.pixels
