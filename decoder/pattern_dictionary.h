// The pattern dictionary decoder, and what the halftone region decoder
// shares with it: the nominal adaptive pixels of their generic bitmaps.
#pragma once

#include <cstdint>

#include "decoder/generic_region.h"
#include "decoder/untransclib.h"

// The pattern dictionary segment (T.88 6.7, 7.4.4), type 16.
void DecodeHalftoneDictionarySegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);

namespace jb2dec {

// Both halftone bitmaps use the generic procedure with A2 to A4 at their
// nominal places (T.88 6.6.5.1, 6.7.5); only A1 differs.
inline void SetHalftoneAtPixels(GENERIC_PARAMS* params, long atx1, long aty1) {
  params->lATX[0] = atx1;
  params->lATY[0] = aty1;
  params->lATX[1] = -3;
  params->lATY[1] = -1;
  params->lATX[2] = 2;
  params->lATY[2] = -2;
  params->lATX[3] = -2;
  params->lATY[3] = -2;
}

}  // namespace jb2dec
