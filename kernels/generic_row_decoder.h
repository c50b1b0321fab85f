// Generic regions decoded a row at a time from whole-byte windows over the
// rows above (T.88 6.2.5.3), for templates 0 to 3 with their adaptive pixels
// anywhere in the two rows above within 8 columns of the current pixel: every
// encoder's default for pages, and what symbol dictionaries use for their
// bitmaps, whatever AT offsets their encoder chose.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/mq_coder.h"
#include "kernels/generic_row_layout.h"

struct GenericRowPlan;

// Decodes row y of `out` (rows above it already decoded) with the contexts
// `index`/`mps`, on registers `regs`. The spare bits after the last pixel
// keep their value. Same decisions, same bits as the per-pixel loop over
// GetContext.
using GenericRowDecoder = void (*)(const GenericRowPlan& plan, MQDECODER* mq, MQRegs& regs, unsigned char* index,
                                   unsigned char* mps, BMP* out, uint32_t y);

// How one region's rows are decoded: made once per region.
struct GenericRowPlan : GenericRowLayout {
  GenericRowDecoder decode;  // nullptr: the template needs the per-pixel decoder
};

// The plan for template `templ` with adaptive pixels `atx`/`aty` (T.88
// 6.2.5.4). Nominal places (template 0: A1 (3, -1), A2 (-3, -1), A3 (2, -2),
// A4 (-2, -2); template 1: (3, -1); templates 2 and 3: (2, -1)) take the
// fastest decoder; adaptive pixels in the current row, or more than 8 columns
// away, take none.
GenericRowPlan PlanGenericRows(uint32_t templ, const long* atx, const long* aty);
