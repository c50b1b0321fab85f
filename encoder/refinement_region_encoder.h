// Generic refinement region encoding: the generic refinement region decoding
// procedure of T.88 6.3 run in the encoding direction (templates 0 and 1,
// adaptive pixels, typical prediction TPGRON), and the refinement region
// segment data of T.88 7.4.7.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/mq_coder.h"

struct ENCODE_STATE;

typedef struct RRPARAM {
  ENCODE_STATE* pState;  // the run's bit writer, MQ coder and refinement contexts
  uint32_t lTemplate;    // GRTEMPLATE, 0 or 1
  BMP* pReference;       // GRREFERENCE, placed at (0, 0) over the target
  uint32_t bTPGRON;      // typical prediction for generic refinement
  int32_t lATX1;         // GRATX1 (RA1, in the bitmap being coded)
  int32_t lATX2;         // GRATX2 (RA2, in the reference)
  int32_t lATY1;         // GRATY1
  int32_t lATY2;         // GRATY2
} RRPARAM;

// SLTP pseudo-pixel contexts of refinement templates 0 and 1 (T.88 Figures 14
// and 15: only the reference pixel under the current pixel is 1).
inline constexpr uint32_t kTPGRONContext[2] = {0x0100, 0x0080};

// Writes the refinement region segment data after the region segment
// information field: flags, AT bytes and the MQ code of the whole target.
// The caller finishes the segment.
void EncodeRefinementRegionSegment(RRPARAM* param, BMP* target);

// Codes `target` against `reference` placed at (dx, dy) over it
// (GRREFERENCEDX, GRREFERENCEDY) into `mq` with the contexts of `contexts`.
// The caller starts and flushes the coder. AT offsets are the template's
// RA1 and RA2 (atx[0], aty[0]) and (atx[1], aty[1]).
void EncodeRefinementRegion(MQENCODER* mq, MQBUFFER* contexts, BMP* target, BMP* reference, long dx, long dy,
                            int templ, long* atx, long* aty, bool tpgron);

// True when RA1 lies on an already-coded pixel of the bitmap being coded
// (T.88 6.3.5.3: above the current row, or left of the pixel in its row), so
// that a decoder sees the same context as the encoder.
inline bool RefinementATValid(long atx1, long aty1) { return aty1 < 0 || (aty1 == 0 && atx1 < 0); }
