// The plain twins of kernels/row_window.h, pixel_words.h and bit_count.h:
// one byte, one bit at a time. Not used by the libraries; the kernels test
// compares.
#pragma once

#include <cstdint>

// Bytes p[-1], p[0], p[1] as a 24-bit window, p[-1] on top.
inline uint32_t RowWindowPlain(const unsigned char* p) { return uint32_t{p[-1]} << 16 | uint32_t{p[0]} << 8 | p[1]; }

inline uint32_t NextNonZeroBytePlain(const unsigned char* a, const unsigned char* b, const unsigned char* c,
                                     uint32_t from, uint32_t end) {
  for (uint32_t i = from; i < end; ++i)
    if (a[i] != 0 || b[i] != 0 || c[i] != 0) return i;
  return end;
}

inline uint32_t NextNotBlackBytePlain(const unsigned char* a, const unsigned char* b, uint32_t from, uint32_t end) {
  for (uint32_t i = from; i < end; ++i)
    if (a[i] != 0xFF || b[i] != 0xFF) return i;
  return end;
}

// Eight bytes as a word, the first byte on top, and back.
inline uint64_t LoadPixels64Plain(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

inline void StorePixels64Plain(unsigned char* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}

inline unsigned CountBitsPlain(uint64_t v) {
  unsigned n = 0;
  for (; v != 0; v >>= 1) n += static_cast<unsigned>(v & 1);
  return n;
}
