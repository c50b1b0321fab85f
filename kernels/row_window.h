// Whole-byte views of bitmap rows for the template-0 row coders: the 24-bit
// window of bytes k - 1..k + 1 that holds a byte's context pixels, and the
// searches for the next byte that is not white, or not black.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// Byte k of a row (nullptr: a row above the region), 0 outside the row and in
// the spare bits after the last pixel (`lastMask` keeps the pixels).
inline uint32_t RowByte(const unsigned char* row, uint32_t k, uint32_t bytesPerRow, uint32_t lastMask) {
  if (row == nullptr || k >= bytesPerRow) return 0;
  return k == bytesPerRow - 1 ? row[k] & lastMask : row[k];
}

// Bytes p[-1], p[0], p[1] as a 24-bit big-endian window; p[-1] to p[2] must
// be readable.
inline uint32_t RowWindow(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p - 1, 4);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v >> 8;
}

// The first index i in [from, end) where a[i] | b[i] | c[i] is not 0, or end.
inline uint32_t NextNonZeroByte(const unsigned char* a, const unsigned char* b, const unsigned char* c,
                                uint32_t from, uint32_t end) {
  uint32_t i = from;
  for (; i + 8 <= end; i += 8) {
    uint64_t x, y, z;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    std::memcpy(&z, c + i, 8);
    if ((x | y | z) != 0) break;
  }
  while (i < end && (a[i] | b[i] | c[i]) == 0) ++i;
  return i;
}

// The first index i in [from, end) where a[i] & b[i] is not 0xFF, or end.
inline uint32_t NextNotBlackByte(const unsigned char* a, const unsigned char* b, uint32_t from, uint32_t end) {
  uint32_t i = from;
  for (; i + 8 <= end; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if ((x & y) != ~uint64_t{0}) break;
  }
  while (i < end && (a[i] & b[i]) == 0xFF) ++i;
  return i;
}

// The window bits that template pixels at columns x + a..x + b of a row
// cover for the eight pixels of a byte k (pixel j is window bit 15 - j):
// columns 8k + a..8k + 7 + b. None if a > b.
constexpr uint32_t WindowByteMask(int a, int b) {
  return a > b ? 0 : ((uint32_t{1} << (8 + b - a)) - 1) << (8 - b);
}

// The nominal template 0 reads row y - 1 at x - 3..x + 3 (window bits 18-5)
// and row y - 2 at x - 2..x + 2 (bits 17-6).
inline constexpr uint32_t kUp1ByteMask = WindowByteMask(-3, 3);
inline constexpr uint32_t kUp2ByteMask = WindowByteMask(-2, 2);
static_assert(kUp1ByteMask == 0x7FFE0 && kUp2ByteMask == 0x3FFC0);
