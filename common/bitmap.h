// The bitmap record shared by every coder, its operations, and 1-bit BMP
// files. Row 0 is the top row, the leftmost pixel is the most significant
// bit of its byte, and 1 is black.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/export.h"

JB2_EXTERN_C_BEGIN

typedef struct BMP {
  unsigned char* pData;   // lHeight rows of lStride bytes
  uint32_t lWidth;        // pixels
  uint32_t lHeight;       // rows
  uint32_t lBytesPerRow;  // ceil(lWidth / 8)
  uint32_t lStride;       // lBytesPerRow rounded up to even
} BMP;

JB2_EXPORT void CreateBMP(BMP* bmp, unsigned long width, unsigned long height, int fill) JB2_NOEXCEPT;
JB2_EXPORT void DestroyBMP(BMP* bmp) JB2_NOEXCEPT;
JB2_EXPORT int LoadBMP(const char* path, BMP* bmp) JB2_NOEXCEPT;
JB2_EXPORT void SaveBMP(const char* path, BMP* bmp) JB2_NOEXCEPT;

JB2_EXTERN_C_END

// Combination operators of T.88 (region, page and symbol placement).
enum : int { kOpOr = 0, kOpAnd = 1, kOpXor = 2, kOpXnor = 3, kOpReplace = 4 };

extern const unsigned char ConstMask1[8];  // 0x80 >> k
extern const unsigned char ConstMask0[8];  // ~(0x80 >> k)

void CombineBMP(BMP* dst, BMP* src, long x, long y, int op);
void ExtractRegion(BMP* dst, BMP* src, long x, long y);
void ClearRegion(BMP* bmp, long x, long y, unsigned long w, unsigned long h);
void CopyBMP(BMP* dst, BMP* src);
int ExactBMP(BMP* a, BMP* b);
uint32_t AreaBMP(BMP* bmp);
void InvertBMP(BMP* bmp);
void WriteBytesToFile(FILE* file, unsigned long value, unsigned long count);
void ReSizeArray(void** array, unsigned long elementSize, unsigned long* capacity);
void printfBMP(BMP* bmp);
