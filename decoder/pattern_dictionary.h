// What the halftone region decoder shares with the pattern dictionary
// decoder: the bound on the pixels an arithmetic-coded bitmap can take from
// the data left to it.
#pragma once

#include <cstdint>

#include "common/bit_reader.h"
#include "common/limits.h"

namespace jb2dec {

// Most MQ decisions the bytes left in `input` can drive before the region
// budget stops the loop (see kMqDecisionsPerByte). Each arithmetic-coded
// pixel that is not skipped is one decision, so a larger bitmap could never be
// filled by its data and is refused before it is allocated.
inline uint64_t ArithmeticDecisionsAvailable(const DECODER* input) {
  return 2 * kMqDecisionsPerByte * (static_cast<uint64_t>(input->pEnd - input->pCur) + kMqSlackBytes);
}

}  // namespace jb2dec
