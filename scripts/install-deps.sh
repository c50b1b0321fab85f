#!/bin/sh
# Installs with apt-get (Debian) what is missing for a group of tasks, and
# says what before it does:
#   sh scripts/install-deps.sh build   compiler and build tools (the sample)
#   sh scripts/install-deps.sh         the same, plus what the tests need
set -e
group=${1:-test}
need=""
# want PACKAGE CHECK...: PACKAGE is needed unless CHECK succeeds.
want() {
  package=$1
  shift
  "$@" >/dev/null 2>&1 || need="$need $package"
}

want cmake command -v cmake
want g++ command -v g++
want make command -v make
if [ "$group" = test ]; then
  want libgtest-dev test -f /usr/include/gtest/gtest.h
  want jbig2dec command -v jbig2dec
fi

[ -n "$need" ] || exit 0
if [ "$(id -u)" = 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "install-deps: these Debian packages are missing:$need; install them as root" >&2
  exit 1
fi
echo "install-deps: installing with apt-get:$need"
$as_root apt-get update -qq
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
