#!/bin/sh
# Runs both programs under valgrind (memcheck, full leak check): transc in
# every mode of fuzz/seeds.sh on two images, untransc on each file it wrote
# and on every file of the corpus. Prints one line per failing run and a
# summary; exits 1 when any run had a memory error or a leak.
#
#   fuzz/valgrind_programs.sh [BUILD_DIR]     (default build/, a release build)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
vg="valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=0
failures=0
check() {  # check LOG STATUS
  runs=$((runs + 1))
  if [ "$2" -eq 99 ] || [ "$2" -gt 128 ] || grep -q '==[0-9]*==' "$1"; then
    failures=$((failures + 1))
    echo "FAIL: $(head -n 1 "$1.cmd")"
    grep '==[0-9]*==' "$1" | head -n 20
  fi
}
i=0
for image in "$root/tests/data/bmp/pal1.bmp" "$root/examples/sample.bmp"; do
  sh "$root/fuzz/seeds.sh" modes - > "$work/modes"
  while IFS= read -r line; do
    i=$((i + 1))
    cp "$image" "$work/p$i.bmp"
    if [ -z "$line" ]; then set --; else
      old=$IFS; IFS='|'; set -- $(printf '%s' "$line" | sed 's/ | /|/g'); IFS=$old
    fi
    echo "transc $(basename "$image") $line" > "$work/t$i.log.cmd"
    status=0; (cd "$work" && $vg "$build/transc" "p$i" "$@") 2> "$work/t$i.log" || status=$?
    check "$work/t$i.log" $status
    [ -f "$work/p$i.jb2" ] || continue
    echo "untransc of: transc $(basename "$image") $line" > "$work/u$i.log.cmd"
    status=0; (cd "$work" && $vg "$build/untransc" "p$i") 2> "$work/u$i.log" || status=$?
    check "$work/u$i.log" $status
    rm -f "$work"/p$i*
  done < "$work/modes"
done
for file in $(find "$root/tests/data/corpus" -name '*.jbig2' | sort); do
  i=$((i + 1))
  cp "$file" "$work/c$i.jb2"
  echo "untransc $(basename "$file")" > "$work/c$i.log.cmd"
  status=0; (cd "$work" && $vg "$build/untransc" "c$i") 2> "$work/c$i.log" || status=$?
  check "$work/c$i.log" $status
  rm -f "$work"/c$i*
done
echo "valgrind: $runs runs, $failures with memory errors or leaks"
[ "$failures" -eq 0 ]
