// Generic region encoding: the generic region decoding procedure of T.88
// 6.2 run in the encoding direction (templates 0-3 with adaptive pixels,
// typical prediction, skipping, or MMR), and the generic region segment
// data of T.88 7.4.6.
#pragma once

#include <cstdint>

#include "common/bitmap.h"

struct ENCODE_STATE;

typedef struct GRPARAM {
  ENCODE_STATE* pState;  // the run's bit writer, MQ coder and generic contexts
  uint32_t bMMR;         // MMR coding instead of arithmetic coding
  uint32_t lTemplate;    // GBTEMPLATE, 0-3
  uint32_t bTPGDON;      // typical prediction
  uint32_t bUseSkip;     // USESKIP: pixels set in pSkip are not coded
  BMP* pSkip;            // SKIP bitmap, the size of the region
  int32_t alATX[4];      // x offsets of A1..A4
  int32_t alATY[4];      // y offsets of A1..A4
  uint32_t bEndMarker;   // MMR: end with EOFB; arithmetic: follow with the row count
} GRPARAM;

// TPGDON pseudo-pixel contexts of templates 0..3 (T.88 6.2.5.7).
inline constexpr uint32_t kTPGDONContext[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};

// Writes the generic region segment data after the region segment
// information field and finishes the segment (immediate generic region).
void EncodeGenericRegionSegment(GRPARAM* param, BMP* bitmap);

// Codes the pixels only, into the run's MQ coder (contexts reset and coder
// started by the caller) or, with MMR, into the bit writer.
void EncodeGenericRegion(GRPARAM* param, BMP* bitmap);

// EncodeGenericRegion with the per-pixel context formation for every
// template; EncodeGenericRegion codes template 0 with its adaptive pixels at
// the nominal places by whole-byte windows instead, with identical output.
void EncodeGenericRegionPlain(GRPARAM* param, BMP* bitmap);
