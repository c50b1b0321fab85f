#!/bin/sh
# Installs with apt-get (Debian) what is missing for a group of tasks, and
# says what before it does:
#   sh scripts/install-deps.sh build   compiler, build tools and leptonica (the sample)
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
# the programs read and write PNG, JPEG, TIFF ... through leptonica
want libleptonica-dev test -f /usr/include/leptonica/allheaders.h
want pkgconf command -v pkg-config
if [ "$group" = test ]; then
  want libgtest-dev test -f /usr/include/gtest/gtest.h
  # the scanned test pages: rendered by Ghostscript, aged by ImageMagick
  want ghostscript command -v gs
  want imagemagick test -x /usr/bin/convert
  # the three independent JBIG2 readers the tests judge our files by:
  # jbig2dec, poppler (pdfimages) and pdf.js (under node)
  want jbig2dec command -v jbig2dec
  want poppler-utils command -v pdfimages
  want nodejs command -v node
  want npm command -v npm
  # PDF checks: qpdf, and MuPDF as a third PDF reader
  want qpdf command -v qpdf
  want mupdf-tools command -v mutool
  # Ghostscript renders the character grids of the lossy coding tests
  want ghostscript command -v gs
fi

install_pdfjs() {
  # pdf.js, at the version package-lock.json pins, into the folder the tests own.
  [ "$group" = test ] || return 0
  pdfjs="$(dirname "$0")/../tests/interop/pdfjs"
  if [ ! -f "$pdfjs/node_modules/pdfjs-dist/package.json" ] ||
     [ "$pdfjs/package-lock.json" -nt "$pdfjs/node_modules/.package-lock.json" ]; then
    echo "install-deps: installing pdfjs-dist with npm into tests/interop/pdfjs"
    (cd "$pdfjs" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
}

if [ -z "$need" ]; then
  install_pdfjs
  exit 0
fi
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
install_pdfjs
