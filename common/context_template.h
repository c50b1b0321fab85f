// Incremental context formation for generic templates 0..3 and refinement
// templates 0..1 (T.88 6.2.5.3, 6.3.5.3), with adaptive pixels, and the
// 3x3 uniformity test of refinement typical prediction.
#pragma once

#include <cstdint>

#include "common/bitmap.h"

typedef struct CONTEXTROW {
  BMP* pBMP;
  const unsigned char* pNext;
  uint32_t bEnd;
  int32_t lByte;
  int32_t lRow;
  int32_t lX;
  uint32_t ulWindow;
  uint32_t ulMask;
  uint32_t lShift;
  uint32_t lBits;
} CONTEXTROW;

typedef struct CONTEXTPIXEL {
  BMP* pBMP;
  int32_t lX0;
  int32_t lX;
  int32_t lRow;
  uint32_t lShift;
} CONTEXTPIXEL;

typedef struct CONTEXT {
  CONTEXTROW aRows[10];
  CONTEXTPIXEL aPixels[10];
  uint32_t nRows;
  uint32_t nPixels;
  uint32_t ulHistory;
  uint32_t ulHistoryMask;
} CONTEXT;

void InitContext(CONTEXT* ctx, BMP* bmp, int templ, long* atx, long* aty);
void InitRefContext(CONTEXT* ctx, BMP* ref, BMP* bmp, long dx, long dy, int templ, long* atx, long* aty);
void NextContextRow(CONTEXT* ctx);
uint32_t GetContext(CONTEXT* ctx, int previous);
int Check3x3(BMP* bmp, long x, long y);
