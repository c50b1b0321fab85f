#!/bin/sh
# Installs the build tree under a scratch prefix and builds two host programs
# against the installed package: a C99 one through pkg-config and a C++17
# one through CMake's find_package. Each codes a page, decodes it and
# compares. Usage: check_install.sh BUILD_DIR SOURCE_DIR
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
# shellcheck disable=SC2046
$cc -std=c99 -Wall -Wextra -Werror -pedantic "$src/examples/embed_round_trip.c" -o "$work/c_app" \
  $(pkg-config --cflags --libs transclib untransclib) -Wl,-rpath,"$libdir"
"$work/c_app"

cmake -S "$src/tests/install/cxx_app" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DJB2_EXAMPLE_SOURCE="$src/examples/embed_round_trip.cpp" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cxx" >/dev/null
"$work/cxx/cxx_app"
echo "installed package ok"
