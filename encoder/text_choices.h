// The text pipeline's automatic choices, made where the section's words
// leave a setting open: each is a trial on a sample, coded with the real
// coders into a counting coder (coding_cost.h).
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/encode_state.h"
#include "encoder/symbol.h"
#include "encoder/text_region_encoder.h"

// Marks no wider and no higher than this are dots: on a dithered or speckled
// page they are many, and left to the residue region without being matched.
inline constexpr uint32_t kDotSize = 3;

// True when `dots` left-out dots among `dots + marks` marks make the section
// a dithered or speckled one, so that the dots stay in the residue region.
bool ManyDots(unsigned long dots, unsigned long marks);

// Bytes that `bitmap` would take as an arithmetic generic region with `gr`'s
// settings, estimated from coding one band of rows in every few.
uint64_t EstimateGenericBytes(const GRPARAM& gr, BMP* bitmap);

// Rows [begin, end) of a section.
struct RowRange {
  uint32_t begin;
  uint32_t end;
};

// The rows of `section` that hold a dithered or halftoned picture, in order
// and apart: bands of kTextureTile rows in which at least three in four of
// the tiles (kTextureTile pixels square) that hold black are texture, with
// at least kTextureRunDensity black runs per pixel. Text, even small or
// noisy, stays far below that density; a picture's marks are one huge mark
// and thousands of dots, which cost as much to take apart as to code and
// code no smaller as symbols than in a generic region.
std::vector<RowRange> PictureBands(const BMP* section);
inline constexpr uint32_t kTextureTile = 64;
inline constexpr double kTextureRunDensity = 0.16;

// SDTEMPLATE that codes a sample of the dictionary's symbols in the fewest
// bytes (the lowest template among equals); the AT pixels are `gr`'s.
uint32_t ChooseDictionaryTemplate(const GRPARAM& gr, SYMBOL* symbols, unsigned long n);

// SBDSOFFSET (within kDSOffsetTrials of 0) that codes the gaps between the
// instances of `prepared` (coding order, T.88 6.4.5) in the fewest bytes; 0
// among equals.
int32_t ChooseDSOffset(const TRPARAM& tr, const std::vector<SYMBOL>& prepared);
inline constexpr int32_t kDSOffsetTrials = 4;
