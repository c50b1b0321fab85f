// What the halftone region decoder shares with the pattern dictionary
// decoder: the bound on the pixels an arithmetic-coded bitmap can take from
// the data left to it.
#pragma once

#include <cstdint>

#include "common/bit_reader.h"
#include "common/limits.h"
#include "decoder/decoder_internal.h"

namespace jb2dec {

// Most MQ decisions the bytes left in `input` can drive before the region
// budget stops the loop (see kMqDecisionsPerByte). Each arithmetic-coded
// pixel that is not skipped is one decision, so a larger bitmap could never be
// filled by its data and is refused before it is allocated.
inline uint64_t ArithmeticDecisionsAvailable(const DECODER* input) {
  return 2 * kMqDecisionsPerByte * (static_cast<uint64_t>(input->pEnd - input->pCur) + kMqSlackBytes);
}

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
