// Generic refinement region decoding (T.88 6.3) and the refinement region
// segment (T.88 7.4.7): templates 0 and 1, typical prediction (TPGRON), a
// referred intermediate region or the page area under the region as the
// reference.
#include "common/checked_alloc.h"
#include "common/messages.h"
#include "decoder/refinement_region.h"
#include "decoder/region_frame.h"
#include "decoder/segment_types.h"
#include "kernels/context_template.h"
#include "kernels/mq_decisions.h"
#include "kernels/refinement_rows.h"

namespace {

// T.88 6.3.5.6: the context of the SLTP bit, in our context numbering.
constexpr uint32_t kTypicalContext[2] = {0x0100, 0x0080};

int ReferencePixel(const BMP* ref, long x, long y) {
  if (x < 0 || y < 0 || x >= static_cast<long>(ref->lWidth) || y >= static_cast<long>(ref->lHeight)) return 0;
  return (ref->pData[static_cast<size_t>(y) * ref->lStride + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1;
}

// Refinement template 0 with its nominal adaptive pixels, and template 1,
// with contexts from shifted row copies: same contexts and decisions as the
// general path below.
template <uint32_t Templ>
void DecodeRefinementRows(JB2FILE* file, REFINEMENT_PARAMS* params, BMP* out) {
  unsigned char* const index = file->Contexts[1].pIndex;
  unsigned char* const mps = file->Contexts[1].pMPS;
  const uint32_t tpContext = kTypicalContext[Templ];
  MQDECODER* const mq = &file->MQ;
  MQRegs regs = MQLoadRegs(mq);

  const uint32_t width = out->lWidth;
  RefinementRows rows(params->pReference, width, params->lDX, params->lDY);
  const uint32_t n = rows.bytes();
  const unsigned lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  int ltp = 0;
  for (uint32_t y = 0; y < out->lHeight; ++y) {
    if (params->bTPGRON) ltp ^= MQDecodeRegs(mq, regs, index + tpContext, mps + tpContext);
    if (width == 0) {
      // Rows without pixels code their prediction bit only.
      if (!params->bTPGRON) break;
      continue;
    }
    rows.Load(out, y);
    unsigned char* row = out->pData + static_cast<size_t>(y) * out->lStride;
    uint32_t previous = 0;
    for (uint32_t m = 0; m < n; ++m) {
      const RefinementRows::Windows w = rows.At(m);
      const uint32_t count = m + 1 < n ? 8 : width - 8 * m;
      uint32_t bits = 0;
      auto decode = [&](uint32_t j) __attribute__((always_inline)) {
        uint32_t pixel = 0;
        if (!(ltp && RefinementRows::Uniform(w, j, &pixel))) {
          const uint32_t cx = RefinementRows::Context<Templ>(w, j, previous);
          pixel = static_cast<uint32_t>(MQDecodeRegs(mq, regs, index + cx, mps + cx));
        }
        bits = bits << 1 | pixel;
        previous = pixel;
      };
      if (count == 8) {
        // Unrolled, so every shift is by a constant.
#pragma GCC unroll 8
        for (uint32_t j = 0; j < 8; ++j) decode(j);
      } else {
        for (uint32_t j = 0; j < count; ++j) decode(j);
      }
      bits <<= 8 - count;
      if (count == 8) row[m] = static_cast<unsigned char>(bits);
      else row[m] = static_cast<unsigned char>((row[m] & ~lastMask) | (bits & lastMask));
    }
  }
  MQStoreRegs(mq, regs);
}

}  // namespace

void DecodeRefinementRegion(JB2FILE* file, REFINEMENT_PARAMS* params, BMP* out) {
  BMP* ref = params->pReference;
  const uint32_t templ = params->lTemplate & 1;
  const long dx = params->lDX, dy = params->lDY;
  // Rows of no pixels code no contexts: any template reads them alike.
  if (out->lWidth == 0 || RefinementRowsApply(templ, params->lATX, params->lATY))
    return templ == 1 ? DecodeRefinementRows<1>(file, params, out) : DecodeRefinementRows<0>(file, params, out);
  CONTEXT ctx;
  InitRefContext(&ctx, ref, out, dx, dy, static_cast<int>(templ), params->lATX, params->lATY);

  unsigned char* const index = file->Contexts[1].pIndex;
  unsigned char* const mps = file->Contexts[1].pMPS;
  const uint32_t tpContext = kTypicalContext[templ];

  MQDECODER* const mq = &file->MQ;
  MQRegs regs = MQLoadRegs(mq);
  int ltp = 0;
  for (uint32_t y = 0; y < out->lHeight; ++y) {
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
  }
  MQStoreRegs(mq, regs);
}

void DecodeRefinementRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input) {
  if (!BeginRegionSegment(file, seg, input, kRegionRaster)) return;

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
    CreateBMPChecked(&own, seg->Bitmap.lWidth, seg->Bitmap.lHeight, 0);
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
  ResetMQBuffer(&file->Contexts[1], RefinementContextCount(params.lTemplate));
  DecodeRefinementRegion(file, &params, &seg->Bitmap);
  EndRegionSegment(file, seg);
  // A referred intermediate region is consumed by its refinement.
  DestroyBMP(reference);
}
