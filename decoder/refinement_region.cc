// Generic refinement region decoding (T.88 6.3) and the refinement region
// segment (T.88 7.4.7): templates 0 and 1, typical prediction (TPGRON), a
// referred intermediate region or the page area under the region as the
// reference.
#include "common/context_template.h"
#include "common/messages.h"
#include "decoder/decoder_internal.h"
#include "decoder/region_budget.h"
#include "decoder/segment_types.h"

using jb2dec::RegionBudget;

namespace {

// T.88 6.3.5.6: the context of the SLTP bit, in our context numbering.
constexpr uint32_t kTypicalContext[2] = {0x0100, 0x0080};

int ReferencePixel(const BMP* ref, long x, long y) {
  if (x < 0 || y < 0 || x >= static_cast<long>(ref->lWidth) || y >= static_cast<long>(ref->lHeight)) return 0;
  return (ref->pData[static_cast<size_t>(y) * ref->lStride + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1;
}

}  // namespace

void DecodeRefinementRegion(REFINEMENT_PARAMS* params, BMP* out) {
  DECODER* input = params->pInput;
  JB2FILE* file = FileOfInput(input);
  BMP* ref = params->pReference;
  const uint32_t templ = params->lTemplate & 1;
  const long dx = params->lDX, dy = params->lDY;
  CONTEXT ctx;
  InitRefContext(&ctx, ref, out, dx, dy, static_cast<int>(templ), params->lATX, params->lATY);

  unsigned char* const index = file->Contexts[1].pIndex;
  unsigned char* const mps = file->Contexts[1].pMPS;
  const uint32_t tpContext = kTypicalContext[templ];
  RegionBudget budget(input);

  MQDECODER* const mq = &file->MQ;
  MQRegs regs = MQLoadRegs(mq);
  int ltp = 0;
  for (uint32_t y = 0; y < out->lHeight; ++y) {
    if (!budget.Allows()) break;
    NextContextRow(&ctx);
    if (params->bTPGRON) ltp ^= MQDecodeRegs(mq, regs, index + tpContext, mps + tpContext);
    unsigned char* cursor = out->pData + static_cast<size_t>(y) * out->lStride;
    const long refY = static_cast<long>(y) - dy;
    int previous = 0;
    for (uint32_t x = 0; x < out->lWidth; ++x) {
      // The context advances for every pixel, predicted or not.
      const uint32_t cx = GetContext(&ctx, previous);
      const uint32_t bit = x & 7;
      const long refX = static_cast<long>(x) - dx;
      int pixel;
      if (ltp && Check3x3(ref, refX, refY)) pixel = ReferencePixel(ref, refX, refY);
      else pixel = MQDecodeRegs(mq, regs, index + cx, mps + cx);
      if (pixel) *cursor |= ConstMask1[bit];
      else *cursor &= ConstMask0[bit];
      cursor += bit == 7;
      previous = pixel;
    }
    budget.Spend(uint64_t{out->lWidth} + 2);
  }
  MQStoreRegs(mq, regs);
}

void DecodeRefinementRegionSegment(SEGMENT_HEADER* seg) {
  if (!BeginRegionSegment(seg)) return;
  DECODER* input = seg->pInput;
  JB2FILE* file = FileOfInput(input);

  // T.88 7.4.7.5: the reference is the referred intermediate region, or else
  // the page area under this region.
  BMP own{};
  BMP* reference = &own;
  SEGMENT_HEADER* referred = seg->bHasRegionRef ? seg->pRegionRef : nullptr;
  if (referred && referred->Bitmap.pData) {
    reference = &referred->Bitmap;
  } else {
    // The reference has this region's size. A referred region that an earlier
    // refinement consumed (or that was never decoded) has no pixels left: the
    // reference is then white.
    if (referred) PrintErrorRef("Referred Intermediate Region has no Pixels", seg->lNumber);
    CreateBMP(&own, seg->Bitmap.lWidth, seg->Bitmap.lHeight, 0);
    if (!referred && seg->pPageBitmap && seg->pPageBitmap->pData)
      ExtractRegion(&own, seg->pPageBitmap, static_cast<long>(seg->Region.lX), static_cast<long>(seg->Region.lY));
  }

  uint32_t flags = DecodeBits(input, 8);
  REFINEMENT_PARAMS params{};
  params.pInput = input;
  params.lTemplate = flags & 1;
  params.bTPGRON = (flags >> 1) & 1;
  params.pReference = reference;
  if (flags & 0xFC) PrintWarning("Invalid Reserved Bits");
  if (params.lTemplate == 0) {
    // T.88 7.4.7.3: GRATX1, GRATY1, GRATX2, GRATY2 as signed bytes.
    for (int k = 0; k < 2; ++k) {
      params.lATX[k] = static_cast<int8_t>(DecodeBits(input, 8));
      params.lATY[k] = static_cast<int8_t>(DecodeBits(input, 8));
    }
  }
  MQInitDec(&file->MQ);
  ResetMQBuffer(&file->Contexts[1], 65536);
  DecodeRefinementRegion(&params, &seg->Bitmap);
  EndRegionSegment(seg);
  // A referred intermediate region is consumed by its refinement.
  DestroyBMP(reference);
}
