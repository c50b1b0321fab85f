// Halftone coding of a section: the gray level of every 4 x 4 cell, a
// pattern dictionary of 16 dither patterns (T.88 6.7, 7.4.4) and a halftone
// region whose gray-scale image selects the pattern of each cell (T.88 6.6,
// 7.4.5, Annex C), run in the encoding direction.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "encoder/settings.h"

struct ENCODE_STATE;

// The patterns of one halftone section.
typedef struct PATTERN_SET {
  uint32_t nPatterns;       // GRAYMAX + 1
  BMP* pPatterns;           // nPatterns bitmaps of lPatternWidth x lPatternHeight
  uint32_t lPatternWidth;   // HDPW
  uint32_t lPatternHeight;  // HDPH
} PATTERN_SET;

// Pattern dictionary coding record.
typedef struct PDPARAM {
  ENCODE_STATE* pState;
  uint32_t bMMR;       // HDMMR
  uint32_t lTemplate;  // HDTEMPLATE
} PDPARAM;

// Halftone region coding record.
typedef struct HTPARAM {
  ENCODE_STATE* pState;
  uint32_t bMMR;          // HMMR
  uint32_t lTemplate;     // HTEMPLATE
  PATTERN_SET* pPatterns;
  uint32_t bDefPixel;     // HDEFPIXEL, always 0 after AnalyzeHalfTone
  uint32_t lCombOp;       // HCOMBOP
  uint32_t bEnableSkip;   // HENABLESKIP
  uint32_t lGridWidth;    // HGW
  uint32_t lGridHeight;   // HGH
  int32_t lGridX;         // HGX, 1/256 pixel
  int32_t lGridY;         // HGY
  uint32_t lGridVectorX;  // HRX, 1/256 pixel, 16 bits
  uint32_t lGridVectorY;  // HRY
} HTPARAM;

// The two 4 x 4 threshold matrices, row by row: pattern k has pixel (x, y)
// black exactly when k is greater than entry y * 4 + x. Stored files depend
// on both exactly as they are.
extern const uint8_t kClusteredDotMatrix[16];
extern const uint8_t kDispersedDotMatrix[16];

// Builds the pattern set into *htParam->pPatterns, fills the grid fields of
// htParam, sets its HDEFPIXEL to 0 and allocates and computes *grayValues
// (HGW x HGH values, row by row; the caller frees them with free()).
void AnalyzeHalfTone(BMP* section, HTPARAM* htParam, uint32_t** grayValues, const HalftoneSettings& settings);
// Writes one complete pattern dictionary segment (type 16, retained).
void EncodeHalftoneDictionarySegment(PDPARAM* pdParam, PATTERN_SET* patterns);
// Writes the halftone region data after the region segment information
// field; the caller starts and finishes the segment.
void EncodeHalftoneRegionSegment(HTPARAM* htParam, uint32_t* grayValues, BMP* section);
// Releases the pattern bitmaps and the array.
void FreePatternSet(PATTERN_SET* patterns);
