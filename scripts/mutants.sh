#!/bin/sh
# Mutation check: puts a short list of representative faults, one at a time,
# into a scratch copy of the working tree, builds it and runs the tests, and
# prints which faults the tests caught and with how many failing tests.
# Every fault must be caught; a fault that is not means a missing test.
#
#   sh scripts/mutants.sh              # every fault
#   sh scripts/mutants.sh mq pdf       # the faults whose names contain a word
#   sh scripts/mutants.sh --list       # the faults, without running anything
#
# The scratch copy lives in $MUTANTS_DIR (default /tmp/jb2-mutants) and is
# kept between runs, so later runs rebuild only what a fault touches; ccache
# is used when installed. Each fault is found by a unique piece of source
# text, wherever its file lives; when a text is no longer found exactly as
# often as listed, the script stops and says which, so the list is kept up
# to date with the code. Exit status: 0 when every fault was caught, 1 when
# one was not, 2 when the script could not run.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${MUTANTS_DIR:-/tmp/jb2-mutants}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
# Tests left out of every run: the full-size page matrix and the largest
# page (minutes each; the A0 page stays, the one test above 2^28 pixels).
skip='BigPages*:*LargestAccepted*'

# The faults: name @ source text @ replacement @ occurrences @ the tests
# that bear on it (a gtest filter; the round trips of its kind included) @
# what it breaks. --all runs the whole test program for every fault instead.
faults() {
  cat <<'EOF'
mq-renorm@  if (s < r.CT) {@  if (s <= r.CT) {@1@MqCoder.*:MQRuns.*:RoundTrip.*:GenericRegionEncoder.*:Files/Corpus.*@MQ encoder: renormalisation that exactly uses up CT emits no byte
context-t0@{-2, 2, -3, 3, 4}@{-1, 3, -3, 3, 4}@1@GenericRowDecoders.*:ContextTemplate.*:Files/Corpus.*:Modes/Compatibility.*/gr_Template0@generic template 0: row y-2 read one column to the right
context-t1@{-1, 2, -2, 3, 3}@{-1, 2, -1, 4, 3}@1@GenericRowDecoders.*:ContextTemplate.*:Files/Corpus.*:Modes/Compatibility.*/gr_Template1@generic template 1: row y-1 read one column to the right
context-t2@{-1, 1, -2, 2, 2}@{-2, 0, -2, 2, 2}@1@GenericRowDecoders.*:ContextTemplate.*:Files/Corpus.*:Modes/Compatibility.*/gr_Template2@generic template 2: row y-2 read one column to the left
context-t3@{1, 0, -3, 2, 4}@{1, 0, -4, 1, 4}@1@GenericRowDecoders.*:ContextTemplate.*:Files/Corpus.*:Modes/Compatibility.*/gr_Template3@generic template 3: row y-1 read one column to the left
refine-offset@static_cast<long>((int64_t{rdh} >> 1) + rdy));@static_cast<long>((int64_t{rdh} >> 1) - rdy));@1@TextRegion.*:Cases/DamagedText.*:Text/TextRoundTrip.*:Files/Corpus.*@text region decoder: refinement reference offset RDY subtracted
mmr-mode@{0b1, 1},       {0b011, 3},    {0b000011, 6},  {0b0000011, 7},@{0b1, 1},       {0b011, 3},    {0b0000011, 7},  {0b000011, 6},@1@Mmr.*:Files/Corpus.*:Modes/Compatibility.*/gr_Mmr@MMR: the codes of vertical modes VR2 and VR3 swapped
huffman-b10@    7, 8, 7, 5, 2, 5, 6, 7, 8, 2, 5, 6, 6, 6, 6, 6, 6, 7,@    7, 8, 7, 5, 2, 5, 6, 8, 7, 2, 5, 6, 6, 6, 6, 6, 6, 7,@1@HuffmanTable.*:Cases/TableLines.*:Files/Corpus.*:Text/TextRoundTrip.*@standard Huffman table B.10: two prefix lengths swapped
refcorner@bottomCorner = p->lRefCorner == kBottomLeft || p->lRefCorner == kBottomRight;@bottomCorner = p->lRefCorner == kTopLeft || p->lRefCorner == kBottomRight;@1@TextRegion.*:Corners/Placement.*:Text/TextRoundTrip.*:Files/Corpus.*@text region decoder: REFCORNER bottom-left taken as top-left
gray-code@if ((gray >> j) & 1)@if ((gray >> (bitsPerValue - 1 - j)) & 1)@1@Halftone*:Options/HalftoneRoundTrip.*:HalftoneSegments.*@halftone encoder: Gray-coded bit planes in reverse order
lossy-match@} else if (ExactBMP(&mark->Bitmap, &candidate->Bitmap)) {@} else if (AreaBMP(&mark->Bitmap) == AreaBMP(&candidate->Bitmap)) {@1@SymbolMatching.*:TextCoding.*:Text/TextRoundTrip.*:Documents.*:Transcode*@exact symbol matching: marks of one size and black count taken as identical (lossy)
page-threshold@info->lPage > 255@info->lPage > 256@2@LongDocument.*:SegmentWriterTest.*:SegmentFlags.*@segment writer: page 256 written with a 1-byte page association
bitmap-limit@kMaxBitmapPixels = uint64_t{1} << 32;@kMaxBitmapPixels = uint64_t{1} << 28;@1@Pages/LargeFormat.*A0*:LargeFormat.*:UntranscLimits.*:GenericRegion.*@limits: largest bitmap 2^28 pixels instead of 2^32
pdf-offset@    offsets.push_back(pdf.size());@    offsets.push_back(pdf.size() + 1);@1@PdfWriter.*:Documents.*:LongDocument.*@PDF: cross-reference offsets one byte off
EOF
}

if [ "${1:-}" = "--list" ]; then
  faults | awk -F'@' '{ printf "%-15s %s\n", $1, $6 }'
  exit 0
fi
all=no
if [ "${1:-}" = "--all" ]; then
  all=yes
  shift
fi
wanted="$*"

# Replaces TEXT by NEW in the one source file that holds it, exactly COUNT
# times; prints the file's path.
apply_fault() {
  python3 - "$scratch" "$1" "$2" "$3" <<'PY'
import os, sys
root, old, new, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
hits = []
for folder in ('common', 'encoder', 'decoder', 'tools', 'include', 'kernels'):
    for dirpath, _, files in os.walk(os.path.join(root, folder)):
        for name in files:
            if name.endswith(('.h', '.cc')):
                path = os.path.join(dirpath, name)
                n = open(path, encoding='utf-8').read().count(old)
                if n:
                    hits.append((path, n))
if len(hits) != 1 or hits[0][1] != count:
    where = ', '.join(f'{os.path.relpath(p, root)} ({n}x)' for p, n in hits) or 'nowhere'
    sys.exit(f'the text {old!r} should be in one file {count} time(s), found: {where}')
path = hits[0][0]
text = open(path, encoding='utf-8').read()
open(path + '.mutant-orig', 'w', encoding='utf-8').write(text)
open(path, 'w', encoding='utf-8').write(text.replace(old, new))
print(path)
PY
}

# Puts the file back, newer than the objects built from the fault, so that
# make rebuilds them (ccache has the unchanged ones).
undo_fault() {
  mv "$1.mutant-orig" "$1"
  touch "$1"
}

# Brings the scratch copy up to the working tree (tracked and new files as
# they are now); files that did not change keep their times, so the build
# stays incremental.
echo "scratch copy: $scratch"
python3 - "$root" "$scratch" <<'PY'
import os, shutil, subprocess, sys
root, scratch = sys.argv[1], sys.argv[2]
listed = subprocess.run(['git', 'ls-files', '-z', '--cached', '--others', '--exclude-standard'], cwd=root,
                        check=True, capture_output=True).stdout.decode().split('\0')
keep = set()
for rel in filter(None, listed):
    src, dst = os.path.join(root, rel), os.path.join(scratch, rel)
    if not os.path.isfile(src):
        continue
    keep.add(rel)
    if os.path.exists(dst + '.mutant-orig'):  # a run stopped within a fault
        os.remove(dst + '.mutant-orig')
        os.utime(dst)
    if os.path.isfile(dst) and open(src, 'rb').read() == open(dst, 'rb').read():
        continue
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    shutil.copyfile(src, dst)  # a new time: make rebuilds what depends on it
    shutil.copymode(src, dst)
# The readers the interop tests run (pdf.js, installed by install-deps.sh).
modules = os.path.join('tests', 'interop', 'pdfjs', 'node_modules')
if os.path.isdir(os.path.join(root, modules)) and not os.path.exists(os.path.join(scratch, modules)):
    os.symlink(os.path.join(root, modules), os.path.join(scratch, modules))
for dirpath, dirs, files in os.walk(scratch):
    if dirpath == scratch and 'build' in dirs:
        dirs.remove('build')
    if 'node_modules' in dirs:
        dirs.remove('node_modules')
    for name in files:
        rel = os.path.relpath(os.path.join(dirpath, name), scratch)
        if rel not in keep and not rel.startswith('table'):
            os.remove(os.path.join(dirpath, name))
PY

launcher=""
if command -v ccache >/dev/null 2>&1; then
  launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
  export CCACHE_BASEDIR="$scratch" CCACHE_NOHASHDIR=1
fi
# shellcheck disable=SC2086
cmake -S "$scratch" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release -DJB2_TESTS=ON $launcher >/dev/null ||
  { echo "mutants: cmake failed" >&2; exit 2; }
build() { cmake --build "$scratch/build" -j"$jobs" --target jb2_tests transc untransc >"$scratch/build.log" 2>&1; }

# Runs the tests matching filter $1 (all but $skip with --all); prints
# "FAILED RUN" (failed tests, tests run).
run_tests() {
  log="$scratch/tests.log"
  tests="$1-$skip"
  [ "$all" = yes ] && tests="-$skip"
  set +e
  (cd "$scratch/build" && timeout "${MUTANT_TIMEOUT:-1800}" ./jb2_tests --gtest_filter="$tests" >"$log" 2>&1)
  status=$?
  set -e
  ran=$(grep -c '^\[       OK \]\|^\[  FAILED  \].*(.* ms)$' "$log" || true)
  failed=$(grep -c '^\[  FAILED  \].*(.* ms)$' "$log" || true)
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed="crash/timeout"; fi
  echo "$failed $ran"
}

echo "baseline: building"
build || { echo "mutants: the unchanged tree does not build, see $scratch/build.log" >&2; exit 2; }
# The baseline runs every test any listed fault will run.
every=$(faults | while IFS='@' read -r name old new count filter what; do
  if [ -n "$wanted" ]; then
    for w in $wanted; do case "$name" in *"$w"*) printf '%s:' "$filter" ;; esac; done
  else
    printf '%s:' "$filter"
  fi
done)
set -- $(run_tests "$every")
if [ "$1" != 0 ]; then
  echo "mutants: the unchanged tree fails $1 test(s); see $scratch/tests.log" >&2
  exit 2
fi
baseline_ran=$2
echo "baseline: $baseline_ran tests pass"

table="$scratch/table.txt"
printf '%-15s %-8s %-14s %s\n' fault caught "failing tests" "what the fault breaks" >"$table"
faults | while IFS='@' read -r name old new count filter what; do
  if [ -n "$wanted" ]; then
    match=no
    for w in $wanted; do case "$name" in *"$w"*) match=yes ;; esac; done
    [ "$match" = yes ] || continue
  fi
  file=$(apply_fault "$old" "$new" "$count") || { echo "mutants: fault $name no longer applies" >&2; exit 2; }
  echo "fault $name: ${file#"$scratch"/}"
  if ! build; then
    undo_fault "$file"
    echo "mutants: fault $name does not compile, see $scratch/build.log" >&2
    exit 2
  fi
  set -- $(run_tests "$filter:")
  undo_fault "$file"
  cp "$scratch/tests.log" "$scratch/tests-$name.log"
  if [ "$1" = 0 ]; then caught=NO; else caught=yes; fi
  printf '%-15s %-8s %-14s %s\n' "$name" "$caught" "$1 of $2" "$what" | tee -a "$table"
done || exit $?
build || true  # leave the scratch build unmutated

echo
cat "$table"
if grep -q '^[^ ]* *NO ' "$table"; then
  echo "mutants: some faults were not caught" >&2
  exit 1
fi
echo "every fault was caught"
