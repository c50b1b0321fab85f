// Row coders for the generic templates, on the byte windows of
// kernels/generic_row_layout.h. A byte of one colour whose neighbourhood is
// that colour too (white paper; the black of inverted pages) is coded, with
// the bytes after it that stay so, as one run of MPS decisions where the
// coder takes it without renormalising (kernels/mq_runs.h).
#include "kernels/generic_row_encoder.h"

#include <algorithm>

#include "common/messages.h"
#include "kernels/mq_decisions.h"
#include "kernels/mq_runs.h"
#include "kernels/row_window.h"

namespace {

// Template T; kAnyAt: its adaptive pixels where the layout places them.
template <int T, bool kAnyAt>
void EncodeRow(const GenericRowLayout& layout, MQENCODER* mq, MQRegs& regs, unsigned char* index,
               unsigned char* mps, const BMP* bitmap, uint32_t y) {
  using G = generic_rows::Template<T, kAnyAt>;
  // A local copy, so that the registers stay in registers.
  MQRegs r = regs;
  const uint32_t width = bitmap->lWidth, bytesPerRow = bitmap->lBytesPerRow;
  const uint32_t lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  const size_t stride = bitmap->lStride;
  const unsigned char* row = bitmap->pData + y * stride;
  const unsigned char* up1 = y >= 1 ? row - stride : nullptr;
  // Without a row y - 2 in the template, its window stays 0.
  const unsigned char* up2 = G::kReadsUp2 && y >= 2 ? row - 2 * stride : nullptr;

  // Codes byte k of the row; the windows hold bytes k - 1..k + 1. Pixel j
  // of byte k is bit 7 - j of `pixels`, the row's earlier pixels the bits
  // above it.
  auto encodeByte = [&](uint32_t k, uint32_t w1, uint32_t w2) __attribute__((always_inline)) {
    const uint32_t pixels = (k > 0 ? uint32_t{row[k - 1]} << 8 : 0) | row[k];
    if (k + 1 < bytesPerRow) {
      // Unrolled, so every shift is by a constant.
#pragma GCC unroll 8
      for (uint32_t j = 0; j < 8; ++j) {
        const uint32_t context = G::Context(layout, j, w1, w2, pixels >> (8 - j));
        MQEncodeRegs(mq, r, (pixels >> (7 - j)) & 1, index + context, mps + context);
      }
      return;
    }
    const uint32_t n = width - 8 * k;
    for (uint32_t j = 0; j < n; ++j) {
      const uint32_t context = G::Context(layout, j, w1, w2, pixels >> (8 - j));
      MQEncodeRegs(mq, r, (pixels >> (7 - j)) & 1, index + context, mps + context);
    }
  };

  // The rows whose bytes the template reads; with one row above only, it
  // stands in for both in the searches below.
  const unsigned char* top = G::kReadsUp2 ? up2 : up1;
  auto encodeRun = [&](uint32_t k, uint32_t w1, uint32_t w2, uint32_t interiorEnd) __attribute__((always_inline)) {
    const uint32_t uniform = G::UniformContext(layout, row[k - 1], w1, w2);
    if (uniform == G::kMixed || row[k] != (uniform ? 0xFF : 0) || mps[uniform] != (uniform & 1)) return k;
    // Byte k is of its neighbourhood's colour, and so is every later byte m
    // of that colour with bytes m - 1..m + 1 above it so too: code as many
    // as the coder takes without renormalising as one run.
    const uint32_t qe = MQQe[index[uniform]];
    const uint32_t room = (r.A - 0x8000) / qe;
    uint32_t end;
    if (uniform) {
      end = NextNotBlackByte(up1, top, k + 1, interiorEnd + 1) - 1;
      end = std::min(end, NextNotBlackByte(row, row, k, end));
    } else {
      end = NextNonZeroByte(up1, top, top, k + 1, interiorEnd + 1) - 1;
      end = std::min(end, NextNonZeroByte(row, row, row, k, end));
    }
    end = std::min(end, k + room / 8);
    if (end <= k) return k;
    const bool done = MQEncodeMPSRun(r, qe, 8 * (end - k));
    JB2_DCHECK(done);
    (void)done;
    return end;
  };
  generic_rows::WalkRow<G::kReadsUp2>(up1, up2, bytesPerRow, lastMask, encodeRun, encodeByte);
  regs = r;
}

}  // namespace

GenericRowEncoder ChooseGenericRowEncoder(uint32_t templ, const GenericRowLayout& layout) {
  static constexpr GenericRowEncoder kNominal[4] = {EncodeRow<0, false>, EncodeRow<1, false>,
                                                     EncodeRow<2, false>, EncodeRow<3, false>};
  static constexpr GenericRowEncoder kMoved[4] = {EncodeRow<0, true>, EncodeRow<1, true>,
                                                   EncodeRow<2, true>, EncodeRow<3, true>};
  if (!layout.byRows || templ > 3) return nullptr;
  return layout.nominal ? kNominal[templ] : kMoved[templ];
}
