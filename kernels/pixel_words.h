// Bitmap rows as 64-bit words, pixels at any column of such rows, and a
// band of a bitmap's rows as a bitmap of its own (no copy).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "common/bitmap.h"

// Eight bytes of a row as one word, the first byte in the top bits (pixel
// order).
inline uint64_t LoadPixels64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

inline void StorePixels64(unsigned char* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// ORs row `y` of `bitmap` into ceil(width / 64) words at `dst`, the first
// pixel in the top bit of dst[0]; spare bits past the width are left out.
inline void AddRowWords(const BMP& bitmap, uint32_t y, uint64_t* dst) {
  const unsigned char* src = bitmap.pData + static_cast<size_t>(y) * bitmap.lStride;
  const uint32_t bytes = bitmap.lBytesPerRow;
  const unsigned lastMask = bitmap.lWidth % 8 ? (0xFF00u >> (bitmap.lWidth % 8)) & 0xFF : 0xFF;
  for (uint32_t b = 0; b < bytes; ++b) {
    const unsigned v = b + 1 == bytes ? src[b] & lastMask : src[b];
    dst[b / 8] |= uint64_t{v} << (56 - 8 * (b % 8));
  }
}

// 64 pixels of a row of `words` 64-bit words from column `column` on (any
// column; outside the row they are 0).
inline uint64_t PixelsAt(const uint64_t* row, uint32_t words, int64_t column) {
  const int64_t q = column >= 0 ? column / 64 : -((-column + 63) / 64);  // floor(column / 64)
  const int r = static_cast<int>(column - 64 * q);
  const uint64_t a = q >= 0 && q < int64_t{words} ? row[q] : 0;
  if (r == 0) return a;
  const uint64_t b = q + 1 >= 0 && q + 1 < int64_t{words} ? row[q + 1] : 0;
  return a << r | b >> (64 - r);
}

// Rows [top, top + rows) of `bitmap`, sharing its pixels.
inline BMP RowBand(const BMP& bitmap, uint32_t top, uint32_t rows) {
  BMP band = bitmap;
  band.pData += static_cast<size_t>(top) * bitmap.lStride;
  band.lHeight = rows;
  return band;
}
