#!/bin/sh
# Writes a seed corpus for one fuzz target:  fuzz/seeds.sh TARGET DIR
#   parameters: section words of every type and keyword;
#   encode:     those words paired with small BMP files (see encode_fuzzer.cc);
#   decode:     the JBIG2 files under tests/data, and files transc writes in
#               every mode (when a built transc is found in build/).
# "fuzz/seeds.sh modes -" prints the transc command lines used for them.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: seeds.sh TARGET DIR}
dir=${2:?usage: seeds.sh TARGET DIR}
mkdir -p "$dir"

# One line per transc command line (the section words, one per line when
# there are several, joined here by " | ").
modes() {
  cat <<'MODES'

gr
gr:mmr
gr:template=1:tpdon
gr:template=2:atx1=-2:aty1=-1
gr:template=3:tpdon:atx1=1
gr:template=0:atx1=5:aty1=-2:atx2=-5:aty2=-1:atx3=1:aty3=-2:atx4=-1:aty4=-1
gr:stripe=16
gr:stripe:sequential
gr:sequential:resolution=300:pagepixel=1:pageop=2:opoverride=0
sr
sr:huff
sr:huff:direct
sr:huff:refdict
sr:refdict
sr:allrefdict
sr:soft=0
sr:match=100
sr:match=60:dictbonus=5:sizeoffset=2:matchoffset=1
sr:residue=3
sr:invert
sr:transposed:refcorner=2
sr:strip=2:dsoffset=-3
sr:refcorner=1:combop=2:defpixel=1
sr:huff:hufffs=1:huffds=2:huffdt=2:huffrdw=0:huffrdh=0:huffrdx=0:huffrdy=0:huffrsize=1
sr:huff:huffdh=1:huffdw=1:huffbmsize=1:huffagginst=1
sr:template=1:rtemplate=1:ratx1=0:raty1=0:tpron
sr:sbrefine=0
ht
ht:mmr
ht:htpattern=1
ht:template=2:skip
ht:combop=1:defpixel=1
gr:(0,0,64,32) | sr
gr/(0,0,100,20) | ht
sr:(10,10,80,50) | gr:mmr
ht:(0,0,64,64) | sr:huff:(64,0,127,64) | gr
gr:(-5,-5,20,20) | gr:(100,40,4000,4000) | sr
gr:(0,0,2147483647,2147483647)
sr:(0,0,1,1)
MODES
}

case "$target" in
modes)  # the transc command lines themselves, for other scripts
  modes
  ;;
parameters)
  i=0
  modes | while IFS= read -r line; do
    i=$((i + 1))
    printf '%s' "$line" | sed 's/ | /\n/g' > "$dir/words_$i"
  done
  ;;
encode)
  modes > "$dir/.modes"
  python3 - "$root" "$dir" <<'PY'
import struct, sys, os
root, out = sys.argv[1], sys.argv[2]
modes = [l.rstrip('\n') for l in open(os.path.join(out, '.modes'))]

def bmp(width, height, rows):
    stride = (width + 31) // 32 * 4
    data = b''.join(r.ljust(stride, b'\0') for r in reversed(rows))
    header = struct.pack('<2sIHHIIiiHHIIiiII', b'BM', 62 + len(data), 0, 0, 62, 40, width, height, 1, 1, 0,
                         len(data), 0, 0, 2, 2)
    return header + struct.pack('<II', 0x00FFFFFF, 0) + data

def crop(path, x0, y0, w, h):
    d = open(path, 'rb').read()
    W, H = struct.unpack('<ii', d[18:26])
    off = struct.unpack('<I', d[10:14])[0]
    stride = (W + 31) // 32 * 4
    rows = []
    for y in range(y0, y0 + h):
        src = d[off + (H - 1 - y) * stride:off + (H - y) * stride]
        bits = ''.join(format(b, '08b') for b in src)[x0:x0 + w]
        bits = bits.ljust((w + 7) // 8 * 8, '0')
        rows.append(bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8)))
    return bmp(w, h, rows)

images = [open(os.path.join(root, 'tests/data/bmp', f), 'rb').read()
          for f in ('pal1.bmp', 'pal1wb.bmp', 'pal1p1.bmp')]
images.append(crop(os.path.join(root, 'examples/sample.bmp'), 100, 100, 256, 160))
images.append(bmp(9, 3, [b'\xaa\x80', b'\x55\x00', b'\xff\x80']))
for i, mode in enumerate(modes):
    text = mode.replace(' | ', '\n').encode()
    image = images[i % len(images)]
    with open(os.path.join(out, 'seed_%02d' % i), 'wb') as f:
        f.write(struct.pack('<H', len(text)) + text + image)
PY
  rm -f "$dir/.modes"
  ;;
decode)
  find "$root/tests/data" -type f \( -name '*.jbig2' -o -name '*.jb2' \) -exec cp {} "$dir/" \;
  transc="$root/build/transc"
  if [ -x "$transc" ]; then
    work=$(mktemp -d)
    i=0
    for image in "$root/tests/data/bmp/pal1.bmp" "$root/examples/sample.bmp"; do
      modes | while IFS= read -r line; do
        i=$((i + 1))
        cp "$image" "$work/page.bmp"
        # Each " | "-separated part is one section word.
        if [ -z "$line" ]; then set --; else
          old=$IFS; IFS='|'; set -- $(printf '%s' "$line" | sed 's/ | /|/g'); IFS=$old
        fi
        if "$transc" "$work/page" "$@" 2>/dev/null; then
          cp "$work/page.jb2" "$dir/transc_$(basename "$image" .bmp)_$i.jb2"
        fi
      done
    done
    rm -rf "$work"
  fi
  ;;
*)
  echo "unknown target $target" >&2
  exit 2
  ;;
esac
