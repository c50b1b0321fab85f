#!/bin/sh
# Each shared library must export exactly the functions named in its version script.
set -e
check() {
  lib=$1; map=$2
  want=$(sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\);$/\1/p' "$map" | sort)
  have=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TtWw]/ {print $3}' | sort)
  if [ "$want" != "$have" ]; then
    echo "exports of $lib differ from $map"; echo "want:"; echo "$want"; echo "have:"; echo "$have"; exit 1
  fi
}
check "$1" "$3"
check "$2" "$4"
echo "exports ok"
