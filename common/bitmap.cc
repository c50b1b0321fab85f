// Minimal bitmap allocation so that other modules can be tested while the
// full set of bitmap operations is written.
#include "common/bitmap.h"

#include <cstdlib>

void CreateBMP(BMP* bmp, unsigned long width, unsigned long height, int fill) noexcept {
  if (height == 0xFFFFFFFFul) height = 1;
  bmp->lWidth = static_cast<uint32_t>(width);
  bmp->lHeight = static_cast<uint32_t>(height);
  bmp->lBytesPerRow = static_cast<uint32_t>(width / 8 + (width % 8 != 0));
  bmp->lStride = bmp->lBytesPerRow + (bmp->lBytesPerRow & 1);
  bmp->pData = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(bmp->lStride) * height + 1, 1));
  if (fill == 1)
    for (unsigned long y = 0; y < height; ++y)
      for (uint32_t i = 0; i < bmp->lBytesPerRow; ++i) bmp->pData[y * bmp->lStride + i] = 0xFF;
}
void DestroyBMP(BMP* bmp) noexcept {
  std::free(bmp->pData);
  bmp->pData = nullptr;
}
int LoadBMP(const char* path, BMP* bmp) noexcept { (void)path; (void)bmp; return 1; }
void SaveBMP(const char* path, BMP* bmp) noexcept { (void)path; (void)bmp; }
