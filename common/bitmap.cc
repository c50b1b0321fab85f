// Placeholder: the bitmap operations land with the foundation work.
#include "common/bitmap.h"

void CreateBMP(BMP* bmp, unsigned long width, unsigned long height, int fill) noexcept {
  (void)bmp; (void)width; (void)height; (void)fill;
}
void DestroyBMP(BMP* bmp) noexcept { (void)bmp; }
int LoadBMP(const char* path, BMP* bmp) noexcept { (void)path; (void)bmp; return 1; }
void SaveBMP(const char* path, BMP* bmp) noexcept { (void)path; (void)bmp; }
