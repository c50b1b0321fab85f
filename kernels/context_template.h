// Incremental context formation for generic templates 0..3 and refinement
// templates 0..1 (T.88 6.2.5.3, 6.3.5.3), with adaptive pixels, and the
// 3x3 uniformity test of refinement typical prediction.
//
// Context bits follow the pixel numbering of T.88 (bit 0 is the pixel left
// of the current one), which every conforming coder shares. Each run of
// horizontally adjacent template pixels in a row above (or in any row of a
// reference bitmap) is a 32-bit shift window that moves one pixel per call;
// adaptive pixels in the current row are probes read from the bitmap itself.
//
// Positions and rows are kept in 64 bits: offsets come from files (reference
// displacements are 32-bit signed), and bitmaps may be up to 2^32 - 1 pixels
// in either direction, so 32-bit sums of the two could overflow.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bitmap.h"

typedef struct CONTEXTROW {
  BMP* pBMP;
  const unsigned char* pNext;  // next byte to load; never outside the row
  uint32_t bEnd;               // no more bytes to load in this row
  int64_t lByte;               // index of the next byte to load (negative: left of column 0)
  int64_t lRow;                // row read for the next row started
  int64_t lX;                  // column of the run's first pixel relative to the current pixel
  uint32_t ulWindow;           // top bit: the run's first pixel for the current pixel
  uint32_t ulMask;             // top n bits, n the run's length
  uint32_t lShift;             // 16 + the run's position in the context
  uint32_t lBits;              // shifts left before the next byte is loaded
} CONTEXTROW;

typedef struct CONTEXTPIXEL {
  BMP* pBMP;
  int64_t lX0;     // column offset relative to the current pixel (< 0)
  int64_t lX;      // column read by the next call
  int64_t lRow;    // 1 + the row read
  uint32_t lShift; // 16 + the pixel's position in the context
} CONTEXTPIXEL;

typedef struct CONTEXT {
  CONTEXTROW aRows[10];
  CONTEXTPIXEL aPixels[10];
  uint32_t nRows;
  uint32_t nPixels;
  uint32_t ulHistory;      // last pixels of the current row, most recent in bit 0
  uint32_t ulHistoryMask;  // how many of them belong to the context
} CONTEXT;

// How many contexts a template forms (T.88 6.2.5.3, 6.3.5.3): 16, 13, 10
// and 10 pixels for generic templates 0..3, 13 and 10 for refinement
// templates 0..1. Resetting only these keeps untouched context memory
// untouched; no context number of the template reaches past them.
inline unsigned long GenericContextCount(uint32_t templ) {
  return templ == 0 ? 65536 : templ == 1 ? 8192 : 1024;
}
inline unsigned long RefinementContextCount(uint32_t templ) { return (templ & 1) == 0 ? 8192 : 1024; }

void InitContext(CONTEXT* ctx, BMP* bmp, int templ, long* atx, long* aty);
void InitRefContext(CONTEXT* ctx, BMP* ref, BMP* bmp, long dx, long dy, int templ, long* atx, long* aty);
void NextContextRow(CONTEXT* ctx);
int Check3x3(BMP* bmp, long x, long y);

// Refills a run's window with its next byte (zero left of column 0 and past
// the row's end, spare bits cleared). Called every 8 pixels per run.
void LoadContextByte(CONTEXTROW* row);

// The context of the current pixel; `previous` is the pixel just coded to
// its left (0 at column 0). Advances every run and probe by one column.
// Inline: it runs once per pixel in every arithmetic coder.
inline uint32_t GetContext(CONTEXT* ctx, int previous) {
  uint32_t context = 0;
  for (uint32_t i = 0; i < ctx->nRows; ++i) {
    CONTEXTROW* row = &ctx->aRows[i];
    context += (row->ulWindow & row->ulMask) >> row->lShift;
    row->ulWindow <<= 1;
    if (--row->lBits == 0) LoadContextByte(row);
  }
  for (uint32_t i = 0; i < ctx->nPixels; ++i) {
    CONTEXTPIXEL* probe = &ctx->aPixels[i];
    const BMP* bmp = probe->pBMP;
    const int64_t x = probe->lX++;
    const int64_t y = probe->lRow - 1;
    if (x >= 0 && x < int64_t{bmp->lWidth} && y >= 0 && y < int64_t{bmp->lHeight}) {
      const unsigned char byte = bmp->pData[static_cast<size_t>(y) * bmp->lStride + static_cast<size_t>(x >> 3)];
      if ((byte >> (7 - (x & 7))) & 1) context += 0x80000000u >> probe->lShift;
    }
  }
  ctx->ulHistory = ((ctx->ulHistory << 1) | (previous != 0 ? 1u : 0u)) & ctx->ulHistoryMask;
  return context + ctx->ulHistory;
}
