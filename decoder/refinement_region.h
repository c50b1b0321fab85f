// Generic refinement region decoding (T.88 6.3) and the refinement region
// segment (T.88 7.4.7).
#pragma once

#include <cstdint>

#include "decoder/untransclib.h"

// Parameters of one run of the generic refinement region decoding procedure
// (T.88 6.3). The MQ decoder and Contexts[1] are those of the JB2FILE the
// run is given, the MQ decoder reading from pInput.
typedef struct REFINEMENT_PARAMS {
  DECODER* pInput;
  uint32_t lTemplate;  // GRTEMPLATE 0..1
  BMP* pReference;
  long lDX;
  long lDY;
  uint32_t bTPGRON;
  long lATX[2];
  long lATY[2];
} REFINEMENT_PARAMS;

void DecodeRefinementRegion(JB2FILE* file, REFINEMENT_PARAMS* params, BMP* out);
void DecodeRefinementRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);  // types 40, 42, 43
