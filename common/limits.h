// Every limit the codec enforces on sizes and counts, in one place. Each one
// says why it is where it is. The README lists them all.
#pragma once

#include <cstdint>

// Largest bitmap (page, region, symbol, pattern) in pixels: 2^32 pixels is
// 512 MiB of pixel data, already far beyond any scanned page (a letter page
// at 1200 dpi is 1.35e8 pixels). Sizes are multiplied in 64 bits first.
inline constexpr uint64_t kMaxBitmapPixels = uint64_t{1} << 32;

// Largest width or height of a BMP file the encoder accepts. 2^20 keeps any
// width x height product checked against kMaxBitmapPixels in 64 bits.
inline constexpr uint32_t kMaxBmpDimension = uint32_t{1} << 20;

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
// Referred-to segments one encoder segment header can carry. The encoder
// refers to at most one; 800 matches its historical segment table size.
inline constexpr uint32_t kMaxReferredSegments = 800;

