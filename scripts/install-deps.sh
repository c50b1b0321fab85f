#!/bin/sh
# Installs what building, testing and the interop checks need (Debian, npm):
# the build tools, GoogleTest, and the three independent JBIG2 readers the
# tests judge our files by: jbig2dec, poppler (pdfimages) and pdf.js.
set -e
cd "$(dirname "$0")/.."
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v g++ >/dev/null 2>&1 || need="$need g++"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
command -v jbig2dec >/dev/null 2>&1 || need="$need jbig2dec"
command -v pdfimages >/dev/null 2>&1 || need="$need poppler-utils"
command -v node >/dev/null 2>&1 || need="$need nodejs"
command -v npm >/dev/null 2>&1 || need="$need npm"
if [ -n "$need" ]; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
fi
# pdf.js, at the version package-lock.json pins, into the folder the tests own.
pdfjs=tests/interop/pdfjs
if [ ! -f "$pdfjs/node_modules/pdfjs-dist/package.json" ] ||
   [ "$pdfjs/package-lock.json" -nt "$pdfjs/node_modules/.package-lock.json" ]; then
  (cd "$pdfjs" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
