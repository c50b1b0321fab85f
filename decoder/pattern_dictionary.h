// What the halftone region decoder shares with the pattern dictionary
// decoder: the nominal adaptive pixels of their generic bitmaps.
#pragma once

#include <cstdint>

#include "decoder/decoder_internal.h"

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
