// Generic regions coded a row at a time from whole-byte windows over the
// rows above (T.88 6.2.5.3), for templates 0 to 3 with their adaptive pixels
// anywhere in the two rows above within 8 columns of the current pixel.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/mq_coder.h"
#include "kernels/generic_row_layout.h"

// Codes row y of `bitmap` (the rows above it coded before) with the
// contexts `index`/`mps`, on registers `regs`: the same decisions, and so
// the same bits, as the per-pixel loop over GetContext.
using GenericRowEncoder = void (*)(const GenericRowLayout& layout, MQENCODER* mq, MQRegs& regs, unsigned char* index,
                                   unsigned char* mps, const BMP* bitmap, uint32_t y);

// The row coder for template `templ` laid out as `layout`; nullptr when its
// adaptive pixels need the per-pixel coder.
GenericRowEncoder ChooseGenericRowEncoder(uint32_t templ, const GenericRowLayout& layout);
