// Every limit the codec enforces on sizes and counts, in one place. Each one
// says why it is where it is. The README lists them all.
#pragma once

#include <cstddef>
#include <cstdint>

// Largest bitmap (page, region, symbol, pattern) in pixels: 2^32 pixels is
// 512 MiB of pixel data, already far beyond any scanned page (a letter page
// at 1200 dpi is 1.35e8 pixels). Sizes are multiplied in 64 bits first.
inline constexpr uint64_t kMaxBitmapPixels = uint64_t{1} << 32;

// kMaxBitmapPixels counts stored pixels: rows padded to whole 16-bit words.
// Counting only width x height would let a 1-pixel-wide bitmap of 2^32 rows
// take 8 GiB (2 bytes a row), and its BMP file 16 GiB.
inline constexpr uint64_t StoredBitmapPixels(uint64_t width, uint64_t height) {
  return (width + 15) / 16 * 16 * height;
}

// Largest width or height of a BMP file the encoder accepts. 2^20 keeps any
// width x height product checked against kMaxBitmapPixels in 64 bits.
inline constexpr uint32_t kMaxBmpDimension = uint32_t{1} << 20;

// Referred-to segments one encoder segment header can carry. The encoder
// refers to at most one; 800 matches its historical segment table size.
inline constexpr uint32_t kMaxWrittenReferredSegments = 800;

// MMR: the changing-element lists start with room for this many columns and
// grow with the changes a row actually has, so a very wide but sparse bitmap
// (or a hostile width) never costs 32 bytes per column up front.
inline constexpr unsigned long kMMRInitialChangeRoom = 65536;

// MMR: a decoded run saturates here; any run past the width is cut anyway,
// and the cap keeps a0 + two runs far from overflowing a 64-bit long.
inline constexpr long kMMRMaxRun = long{1} << 33;

// MMR: bytes the decoder may read past the end of its data (as 0xFF) before
// it stops; a sound stream ends inside its data, a truncated one is given up.
inline constexpr uint32_t kMMRMaxBytesPastEnd = 4;

// Largest encoder output buffer: ENCODER counts bytes in 32 bits, so growth
// stops here instead of wrapping; bytes beyond it are dropped after an error.
inline constexpr uint32_t kMaxEncoderBytes = UINT32_MAX;

// Reads past the end of a byte range report an error for the first few
// fetches only, so a runaway reader cannot flood standard error; callers
// watch DECODER::nPastEnd to stop their loops.
inline constexpr uint32_t kMaxPastEndMessages = 8;

// Longest Huffman prefix code: codes are held in 32 bits and decoding trees
// are at most this deep, so a tree has at most 32 nodes per table line.
inline constexpr uint32_t kMaxHuffPrefixLength = 32;


// Most segment records one file may produce. A header takes at least 11
// bytes, so this is only reached by files of several megabytes; 2^18 records
// (about 90 MiB of records) are far more than any real document has.
inline constexpr uint32_t kMaxSegments = uint32_t{1} << 18;

// Most referred-to segments one segment header may list. A segment can only
// refer to segments before it, so a longer list can only repeat them.
inline constexpr uint32_t kMaxReferredSegments = kMaxSegments;

// Most (page, segment) links over all pages. Only pages that share a page
// number share segments; this bounds the quadratic blow-up of a file whose
// many page information segments all carry the same number.
inline constexpr uint64_t kMaxPageSegmentLinks = uint64_t{1} << 22;

// A segment decoder stops (with one error) once its reader has fetched more
// than this many bytes past the end of the segment's data. Valid streams read
// at most a few bytes past their end (stripped MQ markers, missing EOFB).
inline constexpr uint32_t kMaxPastEndBytes = 64;

// Most symbol instances of one text region (SBNUMINSTANCES), and most
// instances that the aggregate symbols of one symbol dictionary place
// together (the REFAGGNINST of all its symbols). A 600 dpi page holds some
// 10^4 glyphs; even a page whose every 8-connected dot is coded as an
// instance (a dithered 600 dpi A4 page has fewer than 10^7) stays below.
// Nothing else bounds the count: arithmetic-coded data may code any number
// of instances in a few bytes, so the limit is on the declared count.
inline constexpr uint32_t kMaxTextInstances = uint32_t{1} << 24;

// Most pixels the new symbols of one symbol dictionary hold together, rows
// counted as stored (padded to 16-bit words, StoredBitmapPixels), and each
// row as at least one pixel. The unique glyphs of a 600 dpi page total a few
// Mpixels, some tens at the very most (a whole A4 page at 600 dpi is 35
// Mpixels); 2^26 (8 MiB) is nearly two such whole pages. It bounds both the
// memory and the decoding work (under a second, whatever the templates) of a
// dictionary whose counts or data are damaged.
inline constexpr uint64_t kMaxSymbolDictionaryPixels = uint64_t{1} << 26;

// Most bytes the encoder's first pass over a lossy text document keeps for
// the representatives of the classes of like marks it has found (each
// representative's bitmap and its shape readied for the gate, about a
// kilobyte for a 300 dpi character): some 30000 classes, far more than the
// characters of a document's fonts, and far less than its pages take.
// Classes seen on one page only make room when it is reached.
inline constexpr uint64_t kMaxClassRepresentativeBytes = uint64_t{32} << 20;

// The instances of one text region, or of the aggregate symbols of one
// dictionary, together draw and refine at most this many times the pixels
// of the bitmaps they are drawn into, plus kTextPixelAllowance; each
// instance also counts as kMaxTextOverdraw pixels, so a region holds at most
// one instance per pixel (plus 2^18). Real text covers less than its region
// (glyphs seldom overlap, and even a dithered page has fewer marks than half
// its pixels); only a hostile file piles symbols on one spot over and over,
// or places millions of them outside its region.
inline constexpr uint64_t kMaxTextOverdraw = 16;
inline constexpr uint64_t kTextPixelAllowance = uint64_t{1} << 22;

// Most ordinary lines of a table segment's Huffman table (T.88 B.2). Each
// line costs a decoding-tree path of up to 32 nodes; the standard tables have
// at most 19 lines, and 2^16 lines are more than any prefix code of useful
// length can tell apart.
inline constexpr uint32_t kMaxTableLines = uint32_t{1} << 16;

// Most symbols in one symbol dictionary (SDNUMNEWSYMS, and SDNUMINSYMS of the
// dictionaries it refers to) and in the symbol list of one text region
// (SBNUMSYMS). Documents use a few thousand; 2^20 keeps the IAID contexts
// (2^21 at most), the symbol code arrays and the symbol lists within a few
// MiB however a file declares or repeats its dictionaries.
inline constexpr uint32_t kMaxSymbols = uint32_t{1} << 20;
// Most bits of a symbol identifier (IAID, SBSYMCODELEN): symbol counts are
// 32-bit numbers, so ceil(log2(count)) never exceeds 32; 2^32 IAID contexts
// would still be 8 GiB, so callers keep their symbol counts far lower.
inline constexpr unsigned long kMaxSymbolCodeLen = 32;

// Longest token of an encoder parameter word (keyword, type word or
// co-ordinates); longer ones are reported and skipped. Tokens that long are
// never meaningful, and the bound keeps the token buffer fixed.
inline constexpr size_t kMaxParameterToken = 1024;

// Most patterns one pattern dictionary may hold (GRAYMAX + 1). Every pattern
// is a record and an allocation of its own; 2^16 gray levels (HBPP 16) are
// far beyond any halftone (8-bit gray needs 256). Larger ones are refused.
inline constexpr uint32_t kMaxPatterns = uint32_t{1} << 16;

// Most pixels of one pattern dictionary's patterns together (the collective
// bitmap, GRAYMAX + 1 patterns of HDPW x HDPH, T.88 6.7). A 16-bit gray
// halftone of 16 x 16 cells needs 2^24; 2^28 (32 MiB) bounds the memory and
// decoding work of a dictionary whose declared sizes are damaged.
inline constexpr uint64_t kMaxPatternDictionaryPixels = uint64_t{1} << 28;

// Most grid cells (HGW x HGH) of one halftone region. The gray-scale image
// takes 4 bytes per cell and every cell is visited; 2^26 cells of 4 x 4
// patterns cover 2^30 pixels, eight times a letter page at 1200 dpi.
inline constexpr uint64_t kMaxHalftoneGridCells = uint64_t{1} << 26;
// A halftone grid also has at most kMaxHalftoneCellsPerPixel cells for each
// pixel of its region (HBW x HBH), plus kHalftoneCellAllowance. Cells are
// placed on whole pixels and a grid covers its region with patterns of at
// least one pixel, so real grids have fewer cells than pixels (a grid rotated
// past the region's corners a few times more at most); a grid far denser
// than its region only piles patterns on the same pixels.
inline constexpr uint64_t kMaxHalftoneCellsPerPixel = 4;
inline constexpr uint64_t kHalftoneCellAllowance = uint64_t{1} << 16;

// Drawing a halftone region stops once its patterns have covered this many
// times its pixels. Grids of T.88 6.6.5 tile the region with little overlap;
// only a hostile grid (say HRX = HRY = 0) piles every pattern on one spot.
inline constexpr uint64_t kMaxHalftoneOverdraw = 16;
// The pixels (width x height) a region of a page declares are at most
// kMaxRegionOverPage times the page's pixels, plus kRegionPixelAllowance (a
// page of unknown height counts as kMaxPageDimension rows tall). Encoders
// make regions inside their page, at most a little larger (rounded sizes);
// only a damaged or hostile size makes one far larger, and decoding it would
// cost its pixels (a region's rows are decoded whole, whatever the page
// shows of them).
inline constexpr uint64_t kMaxRegionOverPage = 16;
inline constexpr uint64_t kRegionPixelAllowance = uint64_t{1} << 24;

// Largest width or height of a decoded page, and the most rows a page of
// unknown height grows to: pages are written as BMP files, and the encoder
// loads no larger ones back. With at most kMaxBitmapPixels stored pixels, a
// page costs at most 512 MiB; a file declaring more is refused page by page.
inline constexpr uint32_t kMaxPageDimension = kMaxBmpDimension;
// True when a page of this size may be decoded (a height of 0xFFFFFFFF, not
// known in advance, starts as one row).
inline constexpr bool PageSizeAccepted(uint64_t width, uint64_t height) {
  if (height == 0xFFFFFFFFu) height = 1;
  return width <= kMaxPageDimension && height <= kMaxPageDimension &&
         StoredBitmapPixels(width, height) <= kMaxBitmapPixels;
}
