// Generic region encoding (T.88 6.2 in the encoding direction) and the
// generic region segment data (T.88 7.4.6).
#include "encoder/generic_region_encoder.h"

#include <algorithm>
#include <cstring>

#include "common/messages.h"
#include "common/mmr.h"
#include "common/segment_header.h"
#include "encoder/encode_state.h"
#include "encoder/segment_writer.h"
#include "kernels/context_template.h"
#include "kernels/generic_row_encoder.h"
#include "kernels/mq_decisions.h"

namespace {

// AT pixels in the generic region segment (T.88 7.4.6.3): four for template
// 0, one for the others.
unsigned NumATPixels(uint32_t templ) { return templ == 0 ? 4 : 1; }

// Arithmetic coding of the pixels; `fast` allows the row coders.
void EncodeArithmetic(GRPARAM* param, BMP* bitmap, bool fast) {
  ENCODE_STATE* state = param->pState;
  long atx[4], aty[4];
  for (int k = 0; k < 4; ++k) {
    atx[k] = param->alATX[k];
    aty[k] = param->alATY[k];
  }
  const int templ = static_cast<int>(param->lTemplate & 3);
  GenericRowLayout layout{};
  GenericRowEncoder rows = nullptr;
  if (fast && !param->bUseSkip) {
    layout = LayOutGenericRows(static_cast<uint32_t>(templ), atx, aty);
    rows = ChooseGenericRowEncoder(static_cast<uint32_t>(templ), layout);
  }
  CONTEXT ctx;
  if (!rows) InitContext(&ctx, bitmap, templ, atx, aty);

  MQENCODER* mq = &state->MQEncoder;
  unsigned char* index = state->GenericContexts.pIndex;
  unsigned char* mps = state->GenericContexts.pMPS;
  const uint32_t tpContext = kTPGDONContext[templ];
  const uint32_t width = bitmap->lWidth;
  const uint32_t stride = bitmap->lStride;
  const uint32_t bytesPerRow = bitmap->lBytesPerRow;
  const BMP* skip = param->bUseSkip ? param->pSkip : nullptr;
  int ltp = 0;
  // The coder's registers stay in locals for the whole region.
  MQRegs regs = MQLoadRegs(mq);
  for (uint32_t y = 0; y < bitmap->lHeight; ++y) {
    if (!rows) NextContextRow(&ctx);
    unsigned char* row = bitmap->pData + static_cast<size_t>(y) * stride;
    if (param->bTPGDON) {
      // T.88 6.2.5.7: LTP becomes 1 exactly for rows equal to the one above.
      int repeated = y > 0 && std::memcmp(row, row - stride, bytesPerRow) == 0;
      int sltp = repeated ^ ltp;
      MQEncodeRegs(mq, regs, sltp, index + tpContext, mps + tpContext);
      ltp ^= sltp;
      if (ltp) continue;
    }
    if (rows) {
      rows(layout, mq, regs, index, mps, bitmap, y);
      continue;
    }
    const unsigned char* skipRow = skip ? skip->pData + static_cast<size_t>(y) * skip->lStride : nullptr;
    int previous = 0;
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t context = GetContext(&ctx, previous);
      const uint32_t byte = x >> 3;
      const unsigned char mask = static_cast<unsigned char>(0x80u >> (x & 7));
      if (skipRow && (skipRow[byte] & mask)) {
        // Skipped pixels are not coded and read as 0 from now on.
        row[byte] = static_cast<unsigned char>(row[byte] & ~mask);
        previous = 0;
        continue;
      }
      previous = (row[byte] & mask) != 0;
      MQEncodeRegs(mq, regs, previous, index + context, mps + context);
    }
  }
  MQStoreRegs(mq, regs);
}

}  // namespace

void EncodeGenericRegionSegment(GRPARAM* param, BMP* bitmap) {
  ENCODE_STATE* state = param->pState;
  ENCODER* enc = &state->Encoder;
  if (!param->bMMR) ResetMQBuffer(&state->GenericContexts, kContextStoreSize);
  EncodeBits(enc, (param->bMMR ? 1 : 0) + 2 * param->lTemplate + (param->bTPGDON ? 8 : 0), 8);
  if (!param->bMMR) {
    for (unsigned k = 0; k < NumATPixels(param->lTemplate); ++k) {
      EncodeBits(enc, static_cast<uint8_t>(param->alATX[k]), 8);
      EncodeBits(enc, static_cast<uint8_t>(param->alATY[k]), 8);
    }
    MQInitEnc(&state->MQEncoder);
  }
  EncodeGenericRegion(param, bitmap);
  if (!param->bMMR) MQFlush(&state->MQEncoder);
  EncodeFlush(enc);
  if (param->bEndMarker && !param->bMMR) EncodeBits(enc, bitmap->lHeight, 32);
  FinishSegmentBasic(enc, kSegImmediateGenericRegion, 0);
}

void EncodeGenericRegion(GRPARAM* param, BMP* bitmap) {
  if (param->bMMR) {
    MMREncode(&param->pState->Encoder, bitmap, param->bEndMarker ? 1 : 0);
    return;
  }
  EncodeArithmetic(param, bitmap, true);
}

void EncodeGenericRegionPlain(GRPARAM* param, BMP* bitmap) {
  if (param->bMMR) {
    MMREncode(&param->pState->Encoder, bitmap, param->bEndMarker ? 1 : 0);
    return;
  }
  EncodeArithmetic(param, bitmap, false);
}
