// Template 0 with the adaptive pixels at their nominal places, decoded a row
// at a time from whole-byte windows over the two rows above (T.88 6.2.5.3).
// The common case of generic regions: every encoder's default.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/mq_coder.h"

// Whether template `templ` with these AT pixels is the nominal template 0:
// A1 (3, -1), A2 (-3, -1), A3 (2, -2), A4 (-2, -2).
bool IsNominalTemplate0(uint32_t templ, const long* atx, const long* aty);

// Decodes row y of `out` (rows above it already decoded) with the nominal
// template 0 and the contexts `index`/`mps`, on registers `regs`. The spare
// bits after the last pixel keep their value. Same decisions, same bits as
// the per-pixel loop over GetContext.
void DecodeRowTemplate0(MQDECODER* mq, MQRegs& regs, unsigned char* index, unsigned char* mps, BMP* out,
                        uint32_t y);
