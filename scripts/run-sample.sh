#!/bin/sh
# Encodes the bundled sample page, decodes it again and compares the result.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DJB2_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target transc untransc
mkdir -p out
cp examples/sample.bmp out/sample.bmp
cd out
../build/transc sample "$@"
ls -l sample.bmp sample.jb2
../build/untransc sample
ls -l sample_1.bmp
if cmp -s sample.bmp sample_1.bmp; then echo "sample_1.bmp is identical to sample.bmp"; else echo "sample_1.bmp differs from sample.bmp"; fi
