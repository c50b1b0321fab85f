// Halftone sections: gray levels per 4 x 4 cell, the pattern dictionary
// segment (T.88 7.4.4) and the halftone region segment (T.88 7.4.5) with its
// Gray-coded bit planes (T.88 Annex C), coded as generic regions.
#include "encoder/halftone_encoder.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "common/checked_alloc.h"
#include "common/mq_coder.h"
#include "common/segment_header.h"
#include "encoder/encode_state.h"
#include "encoder/generic_region_encoder.h"
#include "encoder/section_coding.h"
#include "encoder/segment_writer.h"

const uint8_t kClusteredDotMatrix[16] = {13, 11, 12, 15, 4, 3, 2, 9, 5, 0, 1, 10, 8, 6, 7, 14};
// Holds 5 twice and no 15: the last row begins with 5.
const uint8_t kDispersedDotMatrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 5, 7, 13, 5};

namespace {

constexpr uint32_t kCellSize = 4;      // pixels per side of a halftone cell and of a pattern
constexpr uint32_t kNumPatterns = 16;  // gray levels 0..15
constexpr uint32_t kUnitGridVector = 256;  // one pixel in 1/256 pixel

// HBPP: the smallest b with (nPatterns - 1) >> b equal to 0.
uint32_t BitsPerValue(uint32_t nPatterns) {
  uint32_t bits = 0;
  while (bits < 32 && ((uint64_t{nPatterns} - 1) >> bits) != 0) ++bits;
  return bits;
}

// Black pixels in each s x s cell (s at most 8), one value per whole cell,
// row by row. A full cell counts one less than 2^s, so that with s = 4 every
// value names one of the 16 patterns.
void ComputeGrayValues(BMP* section, uint32_t* values, uint32_t s) {
  const uint32_t columns = section->lWidth / s, rows = section->lHeight / s;
  const uint32_t full = 1u << s;
  for (uint32_t r = 0; r < rows; ++r) {
    uint32_t* out = values + static_cast<size_t>(r) * columns;
    for (uint32_t c = 0; c < columns; ++c) out[c] = 0;
    for (uint32_t k = 0; k < s; ++k) {
      const unsigned char* row = section->pData + static_cast<size_t>(r * s + k) * section->lStride;
      for (uint32_t c = 0; c < columns; ++c) {
        const uint32_t x = c * s, byte = x >> 3;
        // A cell may straddle two bytes; the second exists whenever the
        // cell's last pixel lies in it.
        uint32_t window = static_cast<uint32_t>(row[byte]) << 8;
        if (((x + s - 1) >> 3) != byte) window |= row[byte + 1];
        const uint32_t bits = ((window << (x & 7)) & 0xFFFFu) >> (16 - s);
        out[c] += static_cast<uint32_t>(std::popcount(bits));
      }
    }
    for (uint32_t c = 0; c < columns; ++c)
      if (out[c] >= full) out[c] = full - 1;
  }
}

// Generic coding settings shared by the collective bitmap and the planes.
void SetGenericCoding(GRPARAM* gr, ENCODE_STATE* state, uint32_t mmr, uint32_t templ) {
  *gr = GRPARAM{};
  gr->pState = state;
  gr->bMMR = mmr;
  gr->lTemplate = templ;
  gr->bTPGDON = 0;
  gr->alATX[1] = -3;
  gr->alATY[1] = -1;
  gr->alATX[2] = 2;
  gr->alATY[2] = -2;
  gr->alATX[3] = -2;
  gr->alATY[3] = -2;
}

// T.88 6.6.5.1 in the encoding direction: cells whose pattern lies wholly
// outside the region are marked and not coded.
void ComputeSkip(const HTPARAM* ht, const BMP* section, BMP* skip) {
  const int64_t pw = ht->pPatterns->lPatternWidth, ph = ht->pPatterns->lPatternHeight;
  const int64_t w = section->lWidth, h = section->lHeight;
  for (uint32_t m = 0; m < ht->lGridHeight; ++m) {
    unsigned char* row = skip->pData + static_cast<size_t>(m) * skip->lStride;
    for (uint32_t n = 0; n < ht->lGridWidth; ++n) {
      const int64_t x = (ht->lGridX + int64_t{m} * ht->lGridVectorY + int64_t{n} * ht->lGridVectorX) >> 8;
      const int64_t y = (ht->lGridY + int64_t{m} * ht->lGridVectorX - int64_t{n} * ht->lGridVectorY) >> 8;
      if (x + pw <= 0 || x >= w || y + ph <= 0 || y >= h) row[n >> 3] |= ConstMask1[n & 7];
    }
  }
}

}  // namespace

void FreePatternSet(PATTERN_SET* patterns) {
  if (patterns->pPatterns)
    for (uint32_t k = 0; k < patterns->nPatterns; ++k) DestroyBMP(&patterns->pPatterns[k]);
  std::free(patterns->pPatterns);
  patterns->pPatterns = nullptr;
  patterns->nPatterns = 0;
}

void AnalyzeHalfTone(BMP* section, HTPARAM* ht, uint32_t** grayValues, const HalftoneSettings& settings) {
  const uint8_t* matrix = settings.htpattern == 0 ? kClusteredDotMatrix : kDispersedDotMatrix;
  PATTERN_SET* set = ht->pPatterns;
  set->nPatterns = kNumPatterns;
  set->lPatternWidth = kCellSize;
  set->lPatternHeight = kCellSize;
  set->pPatterns = Checked(static_cast<BMP*>(std::calloc(kNumPatterns, sizeof(BMP))));
  for (uint32_t k = 0; k < kNumPatterns; ++k) {
    BMP* pattern = &set->pPatterns[k];
    CreateBMPChecked(pattern, kCellSize, kCellSize, 0);
    for (uint32_t y = 0; y < kCellSize; ++y)
      for (uint32_t x = 0; x < kCellSize; ++x)
        if (k > matrix[y * kCellSize + x]) pattern->pData[y * pattern->lStride] |= ConstMask1[x];
  }
  ht->lGridWidth = section->lWidth / kCellSize;
  ht->lGridHeight = section->lHeight / kCellSize;
  ht->lGridX = 0;
  ht->lGridY = 0;
  ht->lGridVectorX = kCellSize * kUnitGridVector;
  ht->lGridVectorY = 0;
  ht->bDefPixel = 0;
  const size_t cells = static_cast<size_t>(ht->lGridWidth) * ht->lGridHeight;
  *grayValues = Checked(static_cast<uint32_t*>(std::calloc(cells ? cells : 1, sizeof(uint32_t))));
  ComputeGrayValues(section, *grayValues, kCellSize);
}

void EncodeHalftoneDictionarySegment(PDPARAM* pd, PATTERN_SET* patterns) {
  ENCODE_STATE* state = pd->pState;
  ENCODER* enc = &state->Encoder;
  const uint32_t pw = patterns->lPatternWidth, ph = patterns->lPatternHeight;
  BMP collective;
  CreateBMPChecked(&collective, static_cast<unsigned long>(patterns->nPatterns) * pw, ph, 0);
  for (uint32_t k = 0; k < patterns->nPatterns; ++k)
    CombineBMP(&collective, &patterns->pPatterns[k], static_cast<long>(k * pw), 0, kOpOr);

  StartSegment(enc);
  // T.88 7.4.4.1.1: HDTEMPLATE is 0 with MMR.
  const uint32_t templ = pd->bMMR ? 0 : pd->lTemplate;
  EncodeBits(enc, (pd->bMMR ? 1 : 0) + 2 * templ, 8);
  EncodeBits(enc, pw, 8);
  EncodeBits(enc, ph, 8);
  EncodeBits(enc, patterns->nPatterns - 1, 32);
  if (!pd->bMMR) {
    ResetMQBuffer(&state->GenericContexts, kContextStoreSize);
    MQInitEnc(&state->MQEncoder);
  }
  GRPARAM gr;
  SetGenericCoding(&gr, state, pd->bMMR, templ);
  // T.88 6.7.5: A1 lies one pattern to the left.
  gr.alATX[0] = -static_cast<int32_t>(pw);
  gr.alATY[0] = 0;
  gr.bEndMarker = 0;
  EncodeGenericRegion(&gr, &collective);
  if (!pd->bMMR) MQFlush(&state->MQEncoder);
  EncodeFlush(enc);
  FinishSegmentBasic(enc, kSegPatternDictionary, 1);
  DestroyBMP(&collective);
}

void EncodeHalftoneRegionSegment(HTPARAM* ht, uint32_t* grayValues, BMP* section) {
  ENCODE_STATE* state = ht->pState;
  ENCODER* enc = &state->Encoder;
  const uint32_t bitsPerValue = BitsPerValue(ht->pPatterns->nPatterns);
  const uint32_t gw = ht->lGridWidth, gh = ht->lGridHeight;
  // T.88 7.4.5.1.1: HTEMPLATE and HENABLESKIP are 0 with MMR, and MMR codes
  // every cell anyway.
  const uint32_t templ = ht->bMMR ? 0 : ht->lTemplate;
  const uint32_t skipOn = ht->bMMR ? 0 : ht->bEnableSkip;
  if (!ht->bMMR) ResetMQBuffer(&state->GenericContexts, kContextStoreSize);
  EncodeBits(enc, (ht->bMMR ? 1 : 0) + 2 * templ + 8 * skipOn + 16 * ht->lCombOp + 128 * ht->bDefPixel, 8);
  EncodeBits(enc, gw, 32);
  EncodeBits(enc, gh, 32);
  EncodeBits(enc, static_cast<uint32_t>(ht->lGridX), 32);
  EncodeBits(enc, static_cast<uint32_t>(ht->lGridY), 32);
  EncodeBits(enc, ht->lGridVectorX, 16);
  EncodeBits(enc, ht->lGridVectorY, 16);

  // T.88 C.5 in the encoding direction: plane j holds bit j of each value
  // XOR bit j + 1 (the most significant plane holds its bit as it is).
  BMP planes[32]{};
  BMP skip{};
  ScopeExit freePlanes([&] {
    for (BMP& plane : planes) DestroyBMP(&plane);
    DestroyBMP(&skip);
  });
  for (uint32_t j = 0; j < bitsPerValue; ++j) {
    CreateBMPChecked(&planes[j], gw, gh, 0);
    for (uint32_t m = 0; m < gh; ++m) {
      unsigned char* row = planes[j].pData + static_cast<size_t>(m) * planes[j].lStride;
      const uint32_t* values = grayValues + static_cast<size_t>(m) * gw;
      for (uint32_t n = 0; n < gw; ++n) {
        const uint32_t gray = values[n] ^ (values[n] >> 1);
        if ((gray >> j) & 1) row[n >> 3] |= ConstMask1[n & 7];
      }
    }
  }
  if (skipOn) {
    CreateBMPChecked(&skip, gw, gh, 0);
    ComputeSkip(ht, section, &skip);
  }
  if (!ht->bMMR) MQInitEnc(&state->MQEncoder);  // one MQ stream for all planes
  GRPARAM gr;
  SetGenericCoding(&gr, state, ht->bMMR, templ);
  gr.alATX[0] = templ <= 1 ? 3 : 2;
  gr.alATY[0] = -1;
  gr.bUseSkip = skipOn;
  gr.pSkip = skipOn ? &skip : nullptr;
  gr.bEndMarker = 1;  // MMR: every plane ends with EOFB
  for (uint32_t j = bitsPerValue; j-- > 0;) EncodeGenericRegion(&gr, &planes[j]);
  if (!ht->bMMR) MQFlush(&state->MQEncoder);
  EncodeFlush(enc);
}

void EncodeHalftoneSection(ENCODE_STATE* state, BMP* section, const SectionSettings& p) {
  // mmr and template are read as for a generic region, with the same check
  // of the template.
  GRPARAM keywords;
  ReadGenericParameters(&keywords, state, p.generic);
  PATTERN_SET set{};
  HTPARAM ht{};
  ht.pState = state;
  ht.bMMR = keywords.bMMR;
  ht.lTemplate = keywords.lTemplate;
  ht.pPatterns = &set;
  ReportNotes(p.halftone.notes);
  ht.lCombOp = static_cast<uint32_t>(p.halftone.combop.value);
  ht.bEnableSkip = p.halftone.skip != 0;
  PDPARAM pd{state, keywords.bMMR, keywords.lTemplate};

  uint32_t* grayValues = nullptr;
  ScopeExit release([&] {
    FreePatternSet(&set);
    std::free(grayValues);
  });
  AnalyzeHalfTone(section, &ht, &grayValues, p.halftone);
  // A section without a whole cell shows nothing (white, combined with OR):
  // its region would have an empty grid, which PDFium refuses along with
  // the whole page and jbig2dec reports as an error. Nothing is written.
  if (ht.lGridWidth == 0 || ht.lGridHeight == 0) return;
  EncodeHalftoneDictionarySegment(&pd, &set);
  StartSegment(&state->Encoder);
  EncodeRegionSegment(&state->Encoder, section, static_cast<uint32_t>(p.x0), static_cast<uint32_t>(p.y0),
                      state->lPlaceOp);
  EncodeHalftoneRegionSegment(&ht, grayValues, section);
  FinishSegmentRefPrev(&state->Encoder, kSegImmediateHalftoneRegion, 0);
}
