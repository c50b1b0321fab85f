// Generic refinement region encoding (T.88 6.3 in the encoding direction) and
// the refinement region segment data (T.88 7.4.7).
#include "encoder/refinement_region_encoder.h"

#include "common/context_template.h"
#include "common/messages.h"
#include "encoder/encode_state.h"

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

}  // namespace

void EncodeRefinementRegion(MQENCODER* mq, MQBUFFER* contexts, BMP* target, BMP* reference, long dx, long dy,
                            int templ, long* atx, long* aty, bool tpgron) {
  templ &= 1;
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
  ResetMQBuffer(&state->RefinementContexts, kContextStoreSize);
  MQInitEnc(&state->MQEncoder);
  EncodeRefinementRegion(&state->MQEncoder, &state->RefinementContexts, target, param->pReference, 0, 0,
                         static_cast<int>(templ), atx, aty, param->bTPGRON != 0);
  MQFlush(&state->MQEncoder);
  EncodeFlush(enc);
}
