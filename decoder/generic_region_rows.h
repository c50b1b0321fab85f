// Generic regions decoded a row at a time from whole-byte windows over the
// rows above (T.88 6.2.5.3), for templates 0 to 3 with their adaptive pixels
// anywhere in the two rows above within 8 columns of the current pixel: every
// encoder's default for pages, and what symbol dictionaries use for their
// bitmaps, whatever AT offsets their encoder chose.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/mq_coder.h"

struct GenericRowPlan;

// Decodes row y of `out` (rows above it already decoded) with the contexts
// `index`/`mps`, on registers `regs`. The spare bits after the last pixel
// keep their value. Same decisions, same bits as the per-pixel loop over
// GetContext.
using GenericRowDecoder = void (*)(const GenericRowPlan& plan, MQDECODER* mq, MQRegs& regs, unsigned char* index,
                                   unsigned char* mps, BMP* out, uint32_t y);

// How one region's rows are decoded: made once per region.
struct GenericRowPlan {
  GenericRowDecoder decode;  // nullptr: the template needs the per-pixel decoder
  // Adaptive pixels away from their nominal places: pixel i is read from the
  // window of row y - atRow[i] at bit atShift[i] - j (j the pixel's place in
  // its byte) into context bit atBit[i]; `keep` clears their nominal bits.
  uint32_t atCount;
  uint32_t atRow[4], atShift[4], atBit[4];
  uint32_t keep;
  // The window bits of rows y - 1 and y - 2 that must be one colour for a
  // byte to be decoded as a run of that colour.
  uint32_t up1Mask, up2Mask;
};

// The plan for template `templ` with adaptive pixels `atx`/`aty` (T.88
// 6.2.5.4). Nominal places (template 0: A1 (3, -1), A2 (-3, -1), A3 (2, -2),
// A4 (-2, -2); template 1: (3, -1); templates 2 and 3: (2, -1)) take the
// fastest decoder; adaptive pixels in the current row, or more than 8 columns
// away, take none.
GenericRowPlan PlanGenericRows(uint32_t templ, const long* atx, const long* aty);
