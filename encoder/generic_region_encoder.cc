// Generic region encoding (T.88 6.2 in the encoding direction) and the
// generic region segment data (T.88 7.4.6).
#include "encoder/generic_region_encoder.h"

#include <algorithm>
#include <cstring>

#include "common/context_template.h"
#include "common/messages.h"
#include "common/mmr.h"
#include "common/mq_runs.h"
#include "common/row_window.h"
#include "common/segment_header.h"
#include "encoder/encode_state.h"
#include "encoder/segment_writer.h"

namespace {

// AT pixels in the generic region segment (T.88 7.4.6.3): four for template
// 0, one for the others.
unsigned NumATPixels(uint32_t templ) { return templ == 0 ? 4 : 1; }

// Codes row y with template 0 and the adaptive pixels at their nominal
// places (T.88 6.2.5.3, Figure 3): the context is row y - 2 at x - 2..x + 2
// (bits 15-11), row y - 1 at x - 3..x + 3 (bits 10-4) and the last four
// pixels of row y (bits 3-0), taken from 24-bit windows over three bytes.
// White stretches whose context is 0 throughout are coded as one run of MPS
// decisions where the coder allows (common/mq_runs.h).
void EncodeRowTemplate0(MQENCODER* mq, MQRegs& regs, unsigned char* index, unsigned char* mps,
                        const BMP* bitmap, uint32_t y) {
  // A local copy, so that stores through the byte pointers below cannot be
  // taken to change the registers.
  MQRegs r = regs;
  const uint32_t width = bitmap->lWidth, bytesPerRow = bitmap->lBytesPerRow;
  const uint32_t lastMask = width % 8 ? 0xFFu << (8 - width % 8) & 0xFF : 0xFF;
  const size_t stride = bitmap->lStride;
  const unsigned char* row = bitmap->pData + y * stride;
  const unsigned char* up1 = y >= 1 ? row - stride : nullptr;
  const unsigned char* up2 = y >= 2 ? row - 2 * stride : nullptr;
  // Bytes k - 1, k, k + 1 of rows y - 1 and y - 2 in bits 23-16, 15-8, 7-0.
  uint32_t w1 = RowByte(up1, 0, bytesPerRow, lastMask);
  uint32_t w2 = RowByte(up2, 0, bytesPerRow, lastMask);
  // Byte k of the row below the byte before it: pixel j of byte k is bit
  // 7 - j, and the four pixels left of it are bits 11 - j..8 - j.
  auto encodeByte = [&](uint32_t k) __attribute__((always_inline)) {
    const uint32_t pixels = (k > 0 ? uint32_t{row[k - 1]} << 8 : 0) | row[k];
    if (k + 1 < bytesPerRow) {
      // Unrolled, so every shift is by a constant.
#pragma GCC unroll 8
      for (uint32_t j = 0; j < 8; ++j) {
        const uint32_t context =
            ((w2 >> (13 - j)) & 0x1F) << 11 | ((w1 >> (12 - j)) & 0x7F) << 4 | ((pixels >> (8 - j)) & 0xF);
        MQEncodeRegs(mq, r, (pixels >> (7 - j)) & 1, index + context, mps + context);
      }
      return;
    }
    const uint32_t n = width - 8 * k;
    for (uint32_t j = 0; j < n; ++j) {
      const uint32_t context =
          ((w2 >> (13 - j)) & 0x1F) << 11 | ((w1 >> (12 - j)) & 0x7F) << 4 | ((pixels >> (8 - j)) & 0xF);
      MQEncodeRegs(mq, r, (pixels >> (7 - j)) & 1, index + context, mps + context);
    }
  };

  uint32_t k = 0;
  if (up2 != nullptr && bytesPerRow >= 3) {
    w1 = w1 << 8 | up1[1];  // byte 1 is not the last: no spare bits
    w2 = w2 << 8 | up2[1];
    encodeByte(0);
    // Bytes 1 to bytesPerRow - 3: their windows lie inside both rows above
    // and short of the last byte, whose spare bits would need masking.
    const uint32_t interiorEnd = bytesPerRow - 2;
    for (k = 1; k < interiorEnd;) {
      w1 = RowWindow(up1 + k);
      w2 = RowWindow(up2 + k);
      if (((row[k - 1] & 0xF) | row[k] | (w1 & kUp1ByteMask) | (w2 & kUp2ByteMask)) == 0 && mps[0] == 0) {
        // Byte k is white in context 0, and so is every later byte m that is
        // white with bytes m - 1..m + 1 above it: code as many as the coder
        // takes without renormalising as one run.
        const uint32_t qe = MQQe[index[0]];
        const uint32_t room = (r.A - 0x8000) / qe;
        uint32_t end = NextNonZeroByte(up1, up2, up2, k + 1, interiorEnd + 1) - 1;
        end = std::min(end, NextNonZeroByte(row, row, row, k, end));
        end = std::min(end, k + room / 8);
        if (end > k) {
          const bool done = MQEncodeMPSRun(r, qe, 8 * (end - k));
          JB2_DCHECK(done);
          (void)done;
          k = end;
          continue;
        }
      }
      encodeByte(k);
      ++k;
    }
    // Byte bytesPerRow - 2; its window ends in the last byte.
    w1 = uint32_t{up1[k - 1]} << 16 | uint32_t{up1[k]} << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask);
    w2 = uint32_t{up2[k - 1]} << 16 | uint32_t{up2[k]} << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask);
    encodeByte(k);
    ++k;
  }
  for (; k < bytesPerRow; ++k) {
    w1 = (w1 << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    w2 = (w2 << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    encodeByte(k);
  }
  regs = r;
}

bool NominalTemplate0(const GRPARAM* param) {
  static constexpr int32_t kX[4] = {3, -3, 2, -2}, kY[4] = {-1, -1, -2, -2};
  if (param->lTemplate != 0 || param->bUseSkip) return false;
  for (int k = 0; k < 4; ++k)
    if (param->alATX[k] != kX[k] || param->alATY[k] != kY[k]) return false;
  return true;
}

// Arithmetic coding of the pixels; `fast` allows the template 0 row coder.
void EncodeArithmetic(GRPARAM* param, BMP* bitmap, bool fast) {
  ENCODE_STATE* state = param->pState;
  long atx[4], aty[4];
  for (int k = 0; k < 4; ++k) {
    atx[k] = param->alATX[k];
    aty[k] = param->alATY[k];
  }
  const int templ = static_cast<int>(param->lTemplate & 3);
  fast = fast && NominalTemplate0(param);
  CONTEXT ctx;
  if (!fast) InitContext(&ctx, bitmap, templ, atx, aty);

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
    if (!fast) NextContextRow(&ctx);
    unsigned char* row = bitmap->pData + static_cast<size_t>(y) * stride;
    if (param->bTPGDON) {
      // T.88 6.2.5.7: LTP becomes 1 exactly for rows equal to the one above.
      int repeated = y > 0 && std::memcmp(row, row - stride, bytesPerRow) == 0;
      int sltp = repeated ^ ltp;
      MQEncodeRegs(mq, regs, sltp, index + tpContext, mps + tpContext);
      ltp ^= sltp;
      if (ltp) continue;
    }
    if (fast) {
      EncodeRowTemplate0(mq, regs, index, mps, bitmap, y);
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
