// Generic refinement region encoding (T.88 6.3 in the encoding direction) and
// the refinement region segment data (T.88 7.4.7).
#include "encoder/refinement_region_encoder.h"

#include "common/messages.h"
#include "encoder/encode_state.h"
#include "kernels/context_template.h"
#include "kernels/mq_decisions.h"
#include "kernels/refinement_rows.h"

namespace {

inline int PixelAt(const BMP* bmp, long x, long y) {
  if (x < 0 || y < 0 || x >= static_cast<long>(bmp->lWidth) || y >= static_cast<long>(bmp->lHeight)) return 0;
  return (bmp->pData[static_cast<size_t>(y) * bmp->lStride + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1;
}

// T.88 6.3.5.6 step 3d: a row is typical when every pixel whose reference
// neighbourhood is uniform equals its reference pixel.
bool RowIsTypical(BMP* target, BMP* reference, long dx, long dy, uint32_t y) {
  const long refY = static_cast<long>(y) - dy;
  for (uint32_t x = 0; x < target->lWidth; ++x) {
    const long refX = static_cast<long>(x) - dx;
    if (Check3x3(reference, refX, refY) && PixelAt(target, x, y) != PixelAt(reference, refX, refY)) return false;
  }
  return true;
}

// Template 0 with its nominal adaptive pixels, and template 1, with contexts
// from shifted row copies: the same decisions as the general path below.
template <uint32_t Templ>
void EncodeRefinementRows(MQENCODER* mq, MQBUFFER* contexts, BMP* target, BMP* reference, long dx, long dy,
                          bool tpgron) {
  unsigned char* index = contexts->pIndex;
  unsigned char* mps = contexts->pMPS;
  const uint32_t tpContext = kTPGRONContext[Templ];
  const uint32_t width = target->lWidth;
  RefinementRows rows(reference, width, dx, dy);
  const uint32_t n = rows.bytes();
  int ltp = 0;
  for (uint32_t y = 0; y < target->lHeight; ++y) {
    if (tpgron) {
      const int typical = RowIsTypical(target, reference, dx, dy, y) ? 1 : 0;
      const int sltp = ltp ^ typical;
      MQEncode(mq, sltp, index + tpContext, mps + tpContext);
      ltp ^= sltp;
    }
    if (width == 0) continue;
    rows.Load(target, y);
    const unsigned char* row = target->pData + static_cast<size_t>(y) * target->lStride;
    MQRegs r = MQLoadRegs(mq);
    uint32_t previous = 0;
    for (uint32_t m = 0; m < n; ++m) {
      const RefinementRows::Windows w = rows.At(m);
      const uint32_t count = m + 1 < n ? 8 : width - 8 * m;
      const uint32_t byte = row[m];
      auto code = [&](uint32_t j) __attribute__((always_inline)) {
        const uint32_t pixel = (byte >> (7 - j)) & 1;
        uint32_t predicted;
        // Under typical prediction the decoder takes uniform neighbourhoods'
        // pixels from the reference.
        if (!(ltp && RefinementRows::Uniform(w, j, &predicted))) {
          const uint32_t cx = RefinementRows::Context<Templ>(w, j, previous);
          MQEncodeRegs(mq, r, static_cast<int>(pixel), index + cx, mps + cx);
        }
        previous = pixel;
      };
      if (count == 8) {
        // Unrolled, so every shift is by a constant.
#pragma GCC unroll 8
        for (uint32_t j = 0; j < 8; ++j) code(j);
      } else {
        for (uint32_t j = 0; j < count; ++j) code(j);
      }
    }
    MQStoreRegs(mq, r);
  }
}

}  // namespace

void EncodeRefinementRegion(MQENCODER* mq, MQBUFFER* contexts, BMP* target, BMP* reference, long dx, long dy,
                            int templ, long* atx, long* aty, bool tpgron) {
  templ &= 1;
  if (RefinementRowsApply(static_cast<uint32_t>(templ), atx, aty)) {
    if (templ == 1) EncodeRefinementRows<1>(mq, contexts, target, reference, dx, dy, tpgron);
    else EncodeRefinementRows<0>(mq, contexts, target, reference, dx, dy, tpgron);
    return;
  }
  CONTEXT ctx;
  InitRefContext(&ctx, reference, target, dx, dy, templ, atx, aty);
  unsigned char* index = contexts->pIndex;
  unsigned char* mps = contexts->pMPS;
  const uint32_t tpContext = kTPGRONContext[templ];
  int ltp = 0;
  for (uint32_t y = 0; y < target->lHeight; ++y) {
    NextContextRow(&ctx);
    if (tpgron) {
      const int typical = RowIsTypical(target, reference, dx, dy, y) ? 1 : 0;
      const int sltp = ltp ^ typical;
      MQEncode(mq, sltp, index + tpContext, mps + tpContext);
      ltp ^= sltp;
    }
    const unsigned char* row = target->pData + static_cast<size_t>(y) * target->lStride;
    const long refY = static_cast<long>(y) - dy;
    MQRegs r = MQLoadRegs(mq);
    int previous = 0;
    for (uint32_t x = 0; x < target->lWidth; ++x) {
      const uint32_t context = GetContext(&ctx, previous);
      previous = (row[x >> 3] >> (7 - (x & 7))) & 1;
      // Under typical prediction the decoder takes uniform neighbourhoods'
      // pixels from the reference; the context still advances.
      if (ltp && Check3x3(reference, static_cast<long>(x) - dx, refY)) continue;
      MQEncodeRegs(mq, r, previous, index + context, mps + context);
    }
    MQStoreRegs(mq, r);
  }
}

void EncodeRefinementRegionSegment(RRPARAM* param, BMP* target) {
  ENCODE_STATE* state = param->pState;
  ENCODER* enc = &state->Encoder;
  const uint32_t templ = param->lTemplate & 1;
  // The AT offsets travel as signed bytes (T.88 7.4.7.3); the coder uses the
  // values a decoder reads back.
  long atx[2] = {static_cast<int8_t>(param->lATX1), static_cast<int8_t>(param->lATX2)};
  long aty[2] = {static_cast<int8_t>(param->lATY1), static_cast<int8_t>(param->lATY2)};
  if (templ == 0 && !RefinementATValid(atx[0], aty[0])) {
    PrintWarning("Refinement AT Pixel Not Yet Coded - Using (-1,-1)");
    atx[0] = -1;
    aty[0] = -1;
  }
  EncodeBits(enc, templ + (param->bTPGRON ? 2 : 0), 8);
  if (templ == 0) {
    EncodeBits(enc, static_cast<uint8_t>(atx[0]), 8);
    EncodeBits(enc, static_cast<uint8_t>(aty[0]), 8);
    EncodeBits(enc, static_cast<uint8_t>(atx[1]), 8);
    EncodeBits(enc, static_cast<uint8_t>(aty[1]), 8);
  }
  ResetMQBuffer(&state->RefinementContexts, kRefinementContextStoreSize);
  MQInitEnc(&state->MQEncoder);
  EncodeRefinementRegion(&state->MQEncoder, &state->RefinementContexts, target, param->pReference, 0, 0,
                         static_cast<int>(templ), atx, aty, param->bTPGRON != 0);
  MQFlush(&state->MQEncoder);
  EncodeFlush(enc);
}
