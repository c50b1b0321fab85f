// Every limit the codec enforces on sizes and counts, in one place. Each one
// says why it is where it is. The README lists them all.
#pragma once

#include <cstddef>
#include <cstdint>

// Largest bitmap (page, region, symbol, pattern) in pixels: 2^32 pixels is
// 512 MiB of pixel data, already far beyond any scanned page (a letter page
// at 1200 dpi is 1.35e8 pixels). Sizes are multiplied in 64 bits first.
inline constexpr uint64_t kMaxBitmapPixels = uint64_t{1} << 32;

// Largest width or height of a BMP file the encoder accepts. 2^20 keeps any
// width x height product checked against kMaxBitmapPixels in 64 bits.
inline constexpr uint32_t kMaxBmpDimension = uint32_t{1} << 20;

// Longest token of an encoder parameter word (keyword, type word or
// co-ordinates); longer ones are reported and skipped. Tokens that long are
// never meaningful, and the bound keeps the token buffer fixed.
inline constexpr size_t kMaxParameterToken = 1024;
