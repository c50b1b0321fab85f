// Generic refinement region decoding (T.88 6.3) and the refinement region
// segment (T.88 7.4.7): templates 0 and 1, typical prediction (TPGRON), a
// referred intermediate region or the page area under the region as the
// reference.
#include <algorithm>
#include <cstring>
#include <vector>

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

// Row y of bmp from column x0 on as n bytes, pixel x0 + 8m + b in bit 7 - b
// of byte m; columns and rows outside the bitmap (and spare bits) read 0.
void ShiftedRow(const BMP* bmp, int64_t y, int64_t x0, unsigned char* line, uint32_t n) {
  if (y < 0 || y >= int64_t{bmp->lHeight} || bmp->pData == nullptr) {
    std::memset(line, 0, n);
    return;
  }
  const unsigned char* row = bmp->pData + static_cast<size_t>(y) * bmp->lStride;
  const int64_t bytes = bmp->lBytesPerRow;
  const unsigned lastMask = bmp->lWidth % 8 ? (0xFF00u >> (bmp->lWidth % 8)) & 0xFF : 0xFF;
  auto byteAt = [&](int64_t k) -> unsigned {
    if (k < 0 || k >= bytes) return 0;
    return k == bytes - 1 ? row[k] & lastMask : row[k];
  };
  const int64_t first = x0 >= 0 ? x0 / 8 : -((-x0 + 7) / 8);  // floor(x0 / 8)
  const int shift = static_cast<int>(x0 - 8 * first);
  for (uint32_t m = 0; m < n; ++m) {
    const unsigned v = byteAt(first + m) << 8 | byteAt(first + m + 1);
    line[m] = static_cast<unsigned char>(v >> (8 - shift));
  }
}

// Refinement template 0 with its nominal adaptive pixels, and template 1:
// the rows each context reads are shifted copies, so that the three pixels
// around column x of every row are bits 13 - j..15 - j of a 16-bit window
// over bytes m and m + 1 (x = 8m + j). Same contexts, in the numbering of
// InitRefContext, and same decisions as the general path.
template <uint32_t Templ>
void DecodeRefinementRows(REFINEMENT_PARAMS* params, BMP* out) {
  DECODER* input = params->pInput;
  JB2FILE* file = FileOfInput(input);
  const BMP* ref = params->pReference;
  // Offsets past 2^34 put every reference pixel outside any bitmap already.
  constexpr int64_t kFar = int64_t{1} << 34;
  const int64_t dx = std::clamp<int64_t>(params->lDX, -kFar, kFar);
  const int64_t dy = std::clamp<int64_t>(params->lDY, -kFar, kFar);
  unsigned char* const index = file->Contexts[1].pIndex;
  unsigned char* const mps = file->Contexts[1].pMPS;
  const uint32_t tpContext = kTypicalContext[Templ];
  RegionBudget budget(input);
  MQDECODER* const mq = &file->MQ;
  MQRegs regs = MQLoadRegs(mq);

  const uint32_t width = out->lWidth, n = out->lBytesPerRow;
  // Coded row above, reference rows above, at and below; one byte of slack.
  std::vector<unsigned char> lines(4 * (size_t{n} + 1));
  unsigned char* const up = lines.data();
  unsigned char* const r0 = up + n + 1;
  unsigned char* const r1 = r0 + n + 1;
  unsigned char* const r2 = r1 + n + 1;
  const unsigned lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  int ltp = 0;
  for (uint32_t y = 0; y < out->lHeight; ++y) {
    if (!budget.Allows()) break;
    if (params->bTPGRON) ltp ^= MQDecodeRegs(mq, regs, index + tpContext, mps + tpContext);
    if (width == 0) {
      // Rows without pixels code their prediction bit only.
      if (!params->bTPGRON) break;
      budget.Spend(1);
      continue;
    }
    ShiftedRow(out, int64_t{y} - 1, -1, up, n + 1);
    const int64_t refY = int64_t{y} - dy;
    ShiftedRow(ref, refY - 1, -dx - 1, r0, n + 1);
    ShiftedRow(ref, refY, -dx - 1, r1, n + 1);
    ShiftedRow(ref, refY + 1, -dx - 1, r2, n + 1);
    unsigned char* row = out->pData + static_cast<size_t>(y) * out->lStride;
    uint32_t previous = 0;
    for (uint32_t m = 0; m < n; ++m) {
      const uint32_t wu = uint32_t{up[m]} << 8 | up[m + 1];
      const uint32_t w0 = uint32_t{r0[m]} << 8 | r0[m + 1];
      const uint32_t w1 = uint32_t{r1[m]} << 8 | r1[m + 1];
      const uint32_t w2 = uint32_t{r2[m]} << 8 | r2[m + 1];
      const uint32_t count = m + 1 < n ? 8 : width - 8 * m;
      uint32_t bits = 0;
      for (uint32_t j = 0; j < count; ++j) {
        const uint32_t s = 13 - j;
        const uint32_t a = (w0 >> s) & 7, b = (w1 >> s) & 7, c = (w2 >> s) & 7;
        uint32_t pixel;
        if (ltp && ((a & b & c) == 7 || (a | b | c) == 0)) {
          pixel = (b >> 1) & 1;  // the reference pixel under x
        } else {
          uint32_t cx;
          if constexpr (Templ == 0)
            cx = a << 10 | b << 7 | c << 4 | ((wu >> s) & 7) << 1 | previous;
          else
            cx = ((a >> 1) & 1) << 9 | b << 6 | (c & 3) << 4 | ((wu >> s) & 7) << 1 | previous;
          pixel = static_cast<uint32_t>(MQDecodeRegs(mq, regs, index + cx, mps + cx));
        }
        bits = bits << 1 | pixel;
        previous = pixel;
      }
      bits <<= 8 - count;
      if (count == 8) row[m] = static_cast<unsigned char>(bits);
      else row[m] = static_cast<unsigned char>((row[m] & ~lastMask) | (bits & lastMask));
    }
    budget.Spend(uint64_t{width} + 2);
  }
  MQStoreRegs(mq, regs);
}

}  // namespace

void DecodeRefinementRegion(REFINEMENT_PARAMS* params, BMP* out) {
  DECODER* input = params->pInput;
  JB2FILE* file = FileOfInput(input);
  BMP* ref = params->pReference;
  const uint32_t templ = params->lTemplate & 1;
  const long dx = params->lDX, dy = params->lDY;
  if (templ == 1) return DecodeRefinementRows<1>(params, out);
  // Rows of no pixels code no contexts: any template reads them alike.
  if (out->lWidth == 0 ||
      (params->lATX[0] == -1 && params->lATY[0] == -1 && params->lATX[1] == -1 && params->lATY[1] == -1))
    return DecodeRefinementRows<0>(params, out);
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
  ResetMQBuffer(&file->Contexts[1], RefinementContextCount(params.lTemplate));
  DecodeRefinementRegion(&params, &seg->Bitmap);
  EndRegionSegment(seg);
  // A referred intermediate region is consumed by its refinement.
  DestroyBMP(reference);
}
