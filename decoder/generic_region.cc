// Generic region decoding (T.88 6.2) and the generic region segment
// (T.88 7.4.6): arithmetic coding with templates 0 to 3, adaptive pixels,
// typical prediction (TPGDON) and skipped pixels, or MMR coding.
#include <cstring>

#include "common/limits.h"
#include "common/messages.h"
#include "decoder/generic_region.h"
#include "decoder/region_frame.h"
#include "kernels/context_template.h"
#include "kernels/generic_row_decoder.h"
#include "kernels/mq_decisions.h"

namespace {

// T.88 6.2.5.7: the context of the SLTP bit of each template.
constexpr uint32_t kTypicalContext[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};

// Whether the region's flags (T.88 7.4.6.2, after the 17 bytes of region
// information) ask for MMR coding, read ahead of the region information.
bool PeekIsMMR(const SEGMENT_HEADER* seg, const DECODER* input) {
  if (seg->lDataLength <= 17) return false;
  DECODER ahead = *input;
  DecSkipBytes(&ahead, 17);
  return (DecodeBits(&ahead, 8) & 1) != 0;
}

}  // namespace

void DecodeGenericRegion(JB2FILE* file, GENERIC_PARAMS* params, BMP* out) {
  DECODER* input = params->pInput;
  if (params->bMMR) {
    MMRDecode(input, &file->MMR, out, static_cast<int>(params->bEOFB));
    DecodeFlush(input);
    return;
  }
  const uint32_t width = out->lWidth, height = out->lHeight;
  const uint32_t bytesPerRow = out->lBytesPerRow, stride = out->lStride;
  const uint32_t templ = params->lTemplate & 3;
  unsigned char* const index = file->Contexts[0].pIndex;
  unsigned char* const mps = file->Contexts[0].pMPS;
  const uint32_t tpContext = kTypicalContext[templ];
  if (width == 0) {
    // Rows without pixels: only their prediction bits are coded, and a
    // region of any height decodes without touching a row.
    if (!params->bTPGDON) return;
    MQRegs regs = MQLoadRegs(&file->MQ);
    for (uint32_t y = 0; y < height; ++y) (void)MQDecodeRegs(&file->MQ, regs, index + tpContext, mps + tpContext);
    MQStoreRegs(&file->MQ, regs);
    return;
  }
  // The skip bitmap should have the region's size; pixels beyond it are coded.
  const BMP* skip = params->bUseSkip ? params->pSkip : nullptr;
  GenericRowPlan rows{};
  if (!skip) rows = PlanGenericRows(templ, params->lATX, params->lATY);
  // The per-pixel context windows, for what the row decoders do not take.
  CONTEXT ctx;
  if (!rows.decode) InitContext(&ctx, out, static_cast<int>(templ), params->lATX, params->lATY);

  // The MQ registers stay in locals for the whole region; the record is
  // touched only when a byte is read.
  MQDECODER* const mq = &file->MQ;
  MQRegs regs = MQLoadRegs(mq);
  int codeRow = 1;  // NOT LTP of T.88 6.2.5.7
  for (uint32_t y = 0; y < height; ++y) {
    if (!rows.decode) NextContextRow(&ctx);
    unsigned char* row = out->pData + static_cast<size_t>(y) * stride;
    if (params->bTPGDON) {
      codeRow ^= MQDecodeRegs(mq, regs, index + tpContext, mps + tpContext);
    }
    if (!codeRow) {
      if (y > 0) std::memcpy(row, row - stride, bytesPerRow);
      else std::memset(row, 0, bytesPerRow);
      continue;
    }
    if (rows.decode) {
      rows.decode(rows, mq, regs, index, mps, out, y);
      continue;
    }
    const unsigned char* skipRow = nullptr;
    uint32_t skipWidth = 0;
    if (skip && skip->pData && y < skip->lHeight) {
      skipRow = skip->pData + static_cast<size_t>(y) * skip->lStride;
      skipWidth = skip->lWidth;
    }
    int previous = 0;
    unsigned char* cursor = row;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t cx = GetContext(&ctx, previous);
      const uint32_t bit = x & 7;
      int pixel;
      if (skipRow && x < skipWidth && (skipRow[x >> 3] & ConstMask1[bit])) pixel = 0;
      else pixel = MQDecodeRegs(mq, regs, index + cx, mps + cx);
      // The probes of the template read the current row from the bitmap, so
      // each pixel is stored before the next context is formed.
      if (pixel) *cursor |= ConstMask1[bit];
      else *cursor &= ConstMask0[bit];
      cursor += bit == 7;
      previous = pixel;
    }
  }
  MQStoreRegs(mq, regs);
}

void DecodeGenericRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input) {
  // Every pixel of the region is written (or left white), so a region that
  // the page would only receive unchanged is decoded in the page itself.
  BMP pageView{};
  if (!BeginRegionSegment(file, seg, input, PeekIsMMR(seg, input) ? kRegionRows : kRegionRaster, &pageView)) return;
  // T.88 7.4.6.2.
  uint32_t flags = DecodeBits(input, 8);
  GENERIC_PARAMS params{};
  params.pInput = input;
  params.bMMR = flags & 1;
  params.lTemplate = (flags >> 1) & 3;
  params.bTPGDON = (flags >> 3) & 1;
  if (params.lTemplate != 0 && params.bMMR) PrintWarning("Invalid GBTEMPLATE");
  if (flags & 0xF0) PrintWarning("Invalid Reserved Bits");
  if (!params.bMMR) {
    // T.88 7.4.6.3: signed adaptive pixel offsets.
    int count = params.lTemplate == 0 ? 4 : 1;
    for (int k = 0; k < count; ++k) {
      params.lATX[k] = static_cast<int8_t>(DecodeBits(input, 8));
      params.lATY[k] = static_cast<int8_t>(DecodeBits(input, 8));
    }
    MQInitDec(&file->MQ);
    ResetMQBuffer(&file->Contexts[0], GenericContextCount(params.lTemplate));
  }
  if (pageView.pData) {
    DecodeGenericRegion(file, &params, &pageView);
    return;
  }
  DecodeGenericRegion(file, &params, &seg->Bitmap);
  EndRegionSegment(file, seg);
}
