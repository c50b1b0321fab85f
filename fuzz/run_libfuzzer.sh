#!/bin/sh
# Builds the libFuzzer versions of the fuzz targets with clang into
# build-fuzz/ and runs one of them.
#
#   fuzz/run_libfuzzer.sh TARGET [SECONDS [CORPUS_DIR [LIBFUZZER_OPTION...]]]
#   fuzz/run_libfuzzer.sh -build-only
#
# TARGET is decode, encode or parameters. SECONDS defaults to 60, CORPUS_DIR
# to build-fuzz/corpus/TARGET; it is seeded from fuzz/seeds.sh on first use.
# New findings land in build-fuzz/findings/TARGET/; minimise them with
# build-fuzz/TARGET_fuzzer -minimize_crash=1 and keep them in
# tests/data/crashers/TARGET/.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-fuzz"
cxx=${CXX_FUZZ:-clang++-14}
command -v "$cxx" >/dev/null 2>&1 || cxx=clang++
flags="-std=c++20 -g -O1 -I$root -fno-omit-frame-pointer -DJB2_DEBUG_CHECKS=1 -Wall -Wextra"
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
mkdir -p "$out/obj"

# Library objects are built once with fuzzer instrumentation and rebuilt
# when their source or any header is newer.
newest_header=$(ls -t "$root"/common/*.h "$root"/encoder/*.h "$root"/decoder/*.h | head -n 1)
objects=""
for src in "$root"/common/*.cc "$root"/encoder/*.cc "$root"/decoder/*.cc; do
  obj="$out/obj/$(basename "$(dirname "$src")")_$(basename "$src" .cc).o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ "$newest_header" -nt "$obj" ]; then
    echo "compiling $src" >&2
    $cxx $flags $san -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
  objects="$objects $obj"
done
for src in "$root"/fuzz/*_fuzzer.cc; do
  name=$(basename "$src" .cc)
  if [ ! -f "$out/$name" ] || [ "$src" -nt "$out/$name" ] || [ "$newest_header" -nt "$out/$name" ] ||
     [ -n "$(find "$out/obj" -newer "$out/$name" -name '*.o')" ]; then
    echo "linking $name" >&2
    $cxx $flags $san -fsanitize=fuzzer "$src" $objects -o "$out/$name"
  fi
done

[ "$1" = "-build-only" ] && exit 0
target=${1:?usage: run_libfuzzer.sh TARGET [SECONDS [CORPUS_DIR [OPTION...]]]}
seconds=${2:-60}
corpus=${3:-$out/corpus/$target}
[ $# -ge 3 ] && shift 3 || shift $#
binary="$out/${target}_fuzzer"
[ -x "$binary" ] || { echo "no fuzz target $target" >&2; exit 2; }
if [ ! -d "$corpus" ] || [ -z "$(ls -A "$corpus")" ]; then
  mkdir -p "$corpus"
  sh "$root/fuzz/seeds.sh" "$target" "$corpus"
fi
findings="$out/findings/$target"
mkdir -p "$findings"
case "$target" in
  decode) dict="-dict=$root/fuzz/jbig2.dict" ;;
  *) dict="-dict=$root/fuzz/parameters.dict" ;;
esac
# Crash reports still reach the terminal with stderr closed; the codec's own
# messages do not, which keeps the runs fast.
exec "$binary" $dict -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2560 -malloc_limit_mb=2048 \
  -close_fd_mask=2 -artifact_prefix="$findings/" -print_final_stats=1 "$@" "$corpus"
