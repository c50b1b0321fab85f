// Pattern dictionary segments (T.88 6.7, 7.4.4): GRAYMAX + 1 patterns of
// HDPW x HDPH pixels, coded side by side as one collective bitmap.
#include <cstdlib>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/pattern_dictionary.h"
#include "decoder/region_frame.h"
#include "kernels/context_template.h"

namespace {

void FreePatterns(SEGMENT_HEADER* seg) {
  if (seg->pPatterns) {
    for (uint32_t k = 0; k < seg->nPatterns; ++k) DestroyBMP(&seg->pPatterns[k]);
    std::free(seg->pPatterns);
  }
  seg->pPatterns = nullptr;
  seg->nPatterns = 0;
  seg->lPatternWidth = seg->lPatternHeight = 0;
}

// T.88 6.7.5: decodes the collective bitmap of nPatterns x HDPW by HDPH
// pixels and cuts it into the patterns. The dictionary's size fields are set;
// pPatterns is filled only when the collective bitmap could be created.
void DecodePatternDictionary(JB2FILE* file, DECODER* input, uint32_t mmr, uint32_t templ, SEGMENT_HEADER* dict) {
  const uint32_t width = dict->lPatternWidth, height = dict->lPatternHeight;
  BMP collective{};
  if (!CreateCheckedBMP(file, &collective, uint64_t{dict->nPatterns} * width, height, 0)) return;

  GENERIC_PARAMS params{};
  params.pInput = input;
  params.bMMR = mmr;
  params.lTemplate = templ;
  // T.88 6.7.5 step 1: A1 lies one pattern to the left.
  jb2dec::SetHalftoneAtPixels(&params, -static_cast<long>(width), 0);
  params.bEOFB = 0;
  DecodeGenericRegion(file, &params, &collective);

  dict->pPatterns = static_cast<BMP*>(std::calloc(dict->nPatterns, sizeof(BMP)));
  if (dict->pPatterns) {
    for (uint32_t k = 0; k < dict->nPatterns; ++k) {
      CreateBMPChecked(&dict->pPatterns[k], width, height, 0);
      ExtractRegion(&dict->pPatterns[k], &collective, static_cast<long>(uint64_t{k} * width), 0);
    }
  }
  DestroyBMP(&collective);
}

}  // namespace

void DecodeHalftoneDictionarySegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input) {
  // A dictionary decoded a second time (the global pass of a file with a page
  // numbered 0) drops its earlier patterns.
  FreePatterns(seg);

  // T.88 7.4.4.1.
  const uint32_t flags = DecodeBits(input, 8);
  const uint32_t mmr = flags & 1;
  const uint32_t templ = (flags >> 1) & 3;
  if (templ != 0 && mmr) PrintWarning("Invalid HDTEMPLATE");
  if (flags & 0xF8) PrintWarning("Invalid Reserved Bits");
  const uint32_t width = DecodeBits(input, 8);
  const uint32_t height = DecodeBits(input, 8);
  const uint32_t grayMax = DecodeBits(input, 32);
  // Too short for its header: the reader has reported it.
  if (input->nPastEnd != 0) return;
  if (width == 0 || height == 0) {
    // Patterns without pixels cannot draw anything; the dictionary stays
    // empty and halftone regions referring to it are not decoded.
    PrintError("Pattern Dictionary with Empty Patterns");
    return;
  }
  if (grayMax >= kMaxPatterns) {
    PrintError("Pattern Dictionary Too Large");
    return;
  }
  const uint32_t count = grayMax + 1;
  if (StoredBitmapPixels(uint64_t{count} * width, height) > kMaxPatternDictionaryPixels) {
    PrintError("Pattern Dictionary Too Large");
    return;
  }
  seg->nPatterns = count;
  seg->lPatternWidth = width;
  seg->lPatternHeight = height;
  if (!mmr) {
    MQInitDec(&file->MQ);
    ResetMQBuffer(&file->Contexts[0], GenericContextCount(templ));
  }
  DecodePatternDictionary(file, input, mmr, templ, seg);
  if (!seg->pPatterns) FreePatterns(seg);
}
