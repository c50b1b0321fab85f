#!/bin/sh
# Installs the build tree under a scratch prefix and builds two host programs
# against the installed package, a C99 one and a C++17 one, each through
# pkg-config and through CMake's find_package. Each codes a page, decodes it
# and compares. Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -e
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work="$build/install-check"
rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

libdir=$(dirname "$(find "$prefix" -name 'libuntransclib.so' | head -n 1)")
PKG_CONFIG_PATH="$libdir/pkgconfig"
export PKG_CONFIG_PATH
cc=${CC:-gcc}
cxx=${CXX:-g++}
flags=$(pkg-config --cflags --libs transclib untransclib)
# shellcheck disable=SC2086
$cc -std=c99 -Wall -Wextra -Werror -pedantic "$src/examples/embed_round_trip.c" -o "$work/c_pkgconfig" $flags \
  -Wl,-rpath,"$libdir"
# shellcheck disable=SC2086
$cxx -std=c++17 -Wall -Wextra -Werror "$src/examples/embed_round_trip.cpp" -o "$work/cxx_pkgconfig" $flags \
  -Wl,-rpath,"$libdir"
"$work/c_pkgconfig"
"$work/cxx_pkgconfig"

for example in embed_round_trip.c embed_round_trip.cpp; do
  dir="$work/cmake-$example"
  cmake -S "$src/tests/install/host_app" -B "$dir" -DCMAKE_PREFIX_PATH="$prefix" \
    -DJB2_EXAMPLE_SOURCE="$src/examples/$example" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
  cmake --build "$dir" >/dev/null
  "$dir/host_app"
done
echo "installed package ok"
