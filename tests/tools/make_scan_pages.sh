#!/bin/sh
# Makes the scanned test pages in DIR from tests/data/scans/text_page.ps,
# with Ghostscript and ImageMagick:
#   truth.pbm      the page at 300 dpi, 1 bit (what a reader should see)
#   grey.png       the page anti-aliased in grey, under light falling from
#                  100% to 45% across the page, blurred (sigma 0.7), with
#                  Gaussian noise: a grey scan under uneven light
#   colour.jpg     the same scan on yellowish paper, colour JPEG quality 85
#   truth3.tif     three 1-bit pages, CCITT G4: truth.pbm, truth_2.pbm (the
#                  page mirrored) and truth_3.pbm (turned upside down)
#   grey3.tif      three grey pages, LZW: grey.png, mirrored, upside down
# Usage: make_scan_pages.sh DIR
set -e
dir=$1
page="$(cd "$(dirname "$0")/../data/scans" && pwd)/text_page.ps"
cd "$dir"
render() {  # DEVICE OUTPUT [gs options]
  device=$1 output=$2
  shift 2
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE="$device" -r300 -g1650x2550 "$@" -sOutputFile="$output" "$page"
}
render pbmraw truth.pbm
render pgmraw antialiased.pgm -dTextAlphaBits=4 -dGraphicsAlphaBits=4
# Light across the page: a gradient from white to 45% grey, left to right.
convert antialiased.pgm \( -size 2550x1650 gradient:white-gray45 -rotate -90 \) \
  -compose multiply -composite lit.pgm
dpi="-units PixelsPerInch -density 300"
convert lit.pgm -blur 0x0.7 -seed 26 -attenuate 0.5 +noise Gaussian -depth 8 $dpi grey.png
convert lit.pgm -colorspace sRGB \( +clone -fill '#f7eab8' -colorize 100 \) -compose multiply -composite \
  -blur 0x0.7 -seed 27 -attenuate 0.5 +noise Gaussian -depth 8 -type TrueColor -quality 85 $dpi colour.jpg
convert truth.pbm -flop truth_2.pbm
convert truth.pbm -rotate 180 truth_3.pbm
convert truth.pbm truth_2.pbm truth_3.pbm -compress Group4 $dpi truth3.tif
convert grey.png \( grey.png -flop \) \( grey.png -rotate 180 \) -compress LZW $dpi grey3.tif
rm -f antialiased.pgm lit.pgm
