// Generic region decoding (T.88 6.2) and the generic region segment
// (T.88 7.4.6).
#pragma once

#include <cstdint>

#include "decoder/untransclib.h"

// Parameters of one run of the generic region decoding procedure (T.88 6.2).
// The MQ decoder, Contexts[0] and the MMR trees are those of the JB2FILE the
// run is given; pInput is the reader of the data (MMR data is read from it).
typedef struct GENERIC_PARAMS {
  DECODER* pInput;
  uint32_t bMMR;
  uint32_t lTemplate;  // GBTEMPLATE 0..3
  uint32_t bTPGDON;
  uint32_t bUseSkip;
  BMP* pSkip;       // same size as the region when bUseSkip
  long lATX[4];
  long lATY[4];
  uint32_t bEOFB;  // MMR: an end-of-block code follows the last row
} GENERIC_PARAMS;

void DecodeGenericRegion(JB2FILE* file, GENERIC_PARAMS* params, BMP* out);
void DecodeGenericRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);  // types 36, 38, 39
