// Keeps a text section within what every decoder of ours accepts: a text
// region holds at most kMaxTextInstances instances and a symbol dictionary
// at most kMaxSymbolDictionaryPixels pixels of new symbols (common/limits.h).
// Marks beyond them stay in the residue generic region, so the section is
// still coded exactly; only pages far larger than any document reach them.
#pragma once

#include <cstdint>

#include "encoder/symbol.h"

// Sends marks to the residue (bResidue) once the dictionary symbols before
// them in `marks` hold `maxDictionaryPixels` pixels (counted as the decoder
// counts them) or `maxInstances` marks are instances, together with every
// mark coded by such a symbol. Marks refer only to earlier marks (lMatch).
void KeepWithinDecoderLimits(SYMBOL* marks, long count, uint64_t maxDictionaryPixels, uint64_t maxInstances);
