// Page-like test bitmaps for the row coders' white-stretch paths: white
// paper with scattered marks (small filled boxes and dots), blank rows and
// dirty spare bits, so rows hold long white stretches next to busy bytes.
#pragma once

#include <cstdint>
#include <random>

#include "common/bitmap.h"
#include "tests/test_util.h"

namespace jb2test {

inline void MakePageLikeBMP(BMP* bmp, uint32_t width, uint32_t height, std::mt19937& rng) {
  CreateBMP(bmp, width, height, 0);
  const uint32_t marks = 1 + width * height / 400;
  for (uint32_t m = 0; m < marks; ++m) {
    const uint32_t x0 = rng() % width, y0 = rng() % height;
    const uint32_t w = 1 + rng() % 9, h = 1 + rng() % 7;
    for (uint32_t y = y0; y < y0 + h && y < height; ++y)
      for (uint32_t x = x0; x < x0 + w && x < width; ++x)
        if (rng() % 8 != 0) SetPixel(bmp, x, y, 1);
  }
  // Spare bits after the last pixel are set in some rows: no coder may read them.
  if (width % 8 != 0)
    for (uint32_t y = 0; y < height; y += 3) bmp->pData[y * bmp->lStride + bmp->lBytesPerRow - 1] |= 0xFF >> (width % 8);
}

}  // namespace jb2test
