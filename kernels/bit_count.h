// Counting set bits of a word.
#pragma once

#include <cstdint>

// Bits set in v. The build targets plain x86-64, where std::popcount is a
// library call per word; this is a dozen inline operations.
inline unsigned CountBits(uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555u);
  v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<unsigned>((v * 0x0101010101010101u) >> 56);
}
