// Bitmap rows as 64-bit words, and a band of a bitmap's rows as a bitmap of
// its own (no copy).
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

// Rows [top, top + rows) of `bitmap`, sharing its pixels.
inline BMP RowBand(const BMP& bitmap, uint32_t top, uint32_t rows) {
  BMP band = bitmap;
  band.pData += static_cast<size_t>(top) * bitmap.lStride;
  band.lHeight = rows;
  return band;
}
