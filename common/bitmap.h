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
  // Resolution in pixels per metre (T.88 7.4.8.3; 0: unknown). CreateBMP
  // sets 0; image files carry it in and out.
  uint32_t lXResolution;
  uint32_t lYResolution;
} BMP;

// Creates a white bitmap (black when fill is 1; spare bits then set too). A
// height of 0xFFFFFFFF gives one row. A size beyond kMaxBitmapPixels or an
// allocation failure gives an empty 0 x 0 bitmap with a null pData.
JB2_EXPORT void CreateBMP(BMP* bmp, unsigned long width, unsigned long height, int fill) JB2_NOEXCEPT;
JB2_EXPORT void DestroyBMP(BMP* bmp) JB2_NOEXCEPT;
// Reads an uncompressed 1-bit BMP file (an OS/2 12-byte core header or any
// information header of 40 bytes or more, bottom-up or top-down rows) into
// `bmp`, which it creates, with the file's resolution; each bit value is
// black or white by the luminance of its own palette entry. Returns 0 when
// loaded, 1 when the file cannot be opened (nothing printed), 2 when it was
// opened but cannot be loaded (cut short, not 1 bit per pixel, compressed, or
// a width or height of 0 or beyond kMaxBmpDimension; the reason has been
// printed). On 1 and 2 `bmp` is untouched.
JB2_EXPORT int LoadBMP(const char* path, BMP* bmp) JB2_NOEXCEPT;
// Reads a page image: a BMP file as LoadBMP does, or a PBM file (P4 raw or
// P1 plain; 1 is black; no resolution), told apart by their first bytes.
// Returns as LoadBMP does.
JB2_EXPORT int LoadPageImage(const char* path, BMP* bmp) JB2_NOEXCEPT;
// Writes a 1-bit BMP file with the bitmap's resolution.
JB2_EXPORT void SaveBMP(const char* path, BMP* bmp) JB2_NOEXCEPT;

JB2_EXTERN_C_END

// LoadBMP's reading of an open stream (from its start; any seekable stream,
// e.g. one over memory); returns 2 or 0 as LoadBMP does and leaves `f` open.
// `name`, when given, is the file's name for messages.
int LoadBMPStream(FILE* f, BMP* bmp, const char* name = nullptr) noexcept;
// The same for PBM files (P1 or P4).
int LoadPBMStream(FILE* f, BMP* bmp) noexcept;

// Combination operators of T.88 (region, page and symbol placement).
enum : int { kOpOr = 0, kOpAnd = 1, kOpXor = 2, kOpXnor = 3, kOpReplace = 4 };

extern const unsigned char ConstMask1[8];  // 0x80 >> k
extern const unsigned char ConstMask0[8];  // ~(0x80 >> k)

// Combines src into dst at column x, row y (either may be negative), clipped
// to dst's rows and to the whole bytes of its rows. An op outside 0..4 does
// nothing.
void CombineBMP(BMP* dst, BMP* src, long x, long y, int op);
void ExtractRegion(BMP* dst, BMP* src, long x, long y);
void ClearRegion(BMP* bmp, long x, long y, unsigned long w, unsigned long h);
void CopyBMP(BMP* dst, BMP* src);
int ExactBMP(BMP* a, BMP* b);
uint32_t AreaBMP(BMP* bmp);
void InvertBMP(BMP* bmp);
void WriteBytesToFile(FILE* file, unsigned long value, unsigned long count);
void ReSizeArray(void** array, unsigned long elementSize, unsigned long* capacity);
