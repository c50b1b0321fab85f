// Row decoders for the generic templates (T.88 6.2.5.3, Figures 3 to 6), on
// the byte windows of kernels/generic_row_layout.h. A byte whose
// neighbourhood is one colour is decoded as one run of MPS decisions when
// the coder allows it, and so are the bytes after it while the rows above
// stay that colour: white paper, and the black of inverted pages, cost a few
// operations per byte instead of per pixel.
#include "kernels/generic_row_decoder.h"

#include <algorithm>
#include <cstring>

#include "kernels/mq_decisions.h"
#include "kernels/mq_runs.h"
#include "kernels/row_window.h"

namespace {

// Template T; kAnyAt: its adaptive pixels where the layout places them.
template <int T, bool kAnyAt>
void DecodeRow(const GenericRowPlan& plan, MQDECODER* mq, MQRegs& regs, unsigned char* index,
               unsigned char* mps, BMP* out, uint32_t y) {
  using G = generic_rows::Template<T, kAnyAt>;
  // A local copy: stores to the row (bytes) could alias the caller's record,
  // which would send the registers to memory after every pixel.
  MQRegs r = regs;
  const uint32_t width = out->lWidth, bytesPerRow = out->lBytesPerRow;
  const uint32_t lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  const size_t stride = out->lStride;
  unsigned char* row = out->pData + y * stride;
  const unsigned char* up1 = y >= 1 ? row - stride : nullptr;
  // Without a row y - 2 in the template, its window stays 0.
  const unsigned char* up2 = G::kReadsUp2 && y >= 2 ? row - 2 * stride : nullptr;
  uint32_t w1 = RowByte(up1, 0, bytesPerRow, lastMask);
  uint32_t w2 = RowByte(up2, 0, bytesPerRow, lastMask);
  // The pixels decoded so far in this row, most recent in bit 0.
  uint32_t bits = 0;

  // Decodes byte k of the row once the windows hold bytes k - 1..k + 1.
  auto decodeByte = [&](uint32_t k) __attribute__((always_inline)) {
    const uint32_t n = std::min<uint32_t>(8, width - 8 * k);
    const uint32_t uniform = G::UniformContext(plan, bits, w1, w2);
    if (uniform != G::kMixed && mps[uniform] == (uniform & 1) && MQDecodeMPSRun(r, MQQe[index[uniform]], n)) {
      // n pixels of the neighbourhood's colour, in its context.
      bits = uniform;
      if (n < 8) {
        row[k] = static_cast<unsigned char>((row[k] & ~lastMask) | (uniform & lastMask));
        return;
      }
    } else if (n == 8) {
      // Unrolled, so every shift below is by a constant.
#pragma GCC unroll 8
      for (uint32_t j = 0; j < 8; ++j) {
        const uint32_t context = G::Context(plan, j, w1, w2, bits);
        bits = bits << 1 | static_cast<uint32_t>(MQDecodeRegs(mq, r, index + context, mps + context));
      }
    } else {
      for (uint32_t j = 0; j < n; ++j) {
        const uint32_t context = G::Context(plan, j, w1, w2, bits);
        bits = bits << 1 | static_cast<uint32_t>(MQDecodeRegs(mq, r, index + context, mps + context));
      }
      // Spare bits after the last pixel keep their value.
      row[k] = static_cast<unsigned char>((row[k] & ~lastMask) | ((bits << (8 - n)) & lastMask));
      return;
    }
    row[k] = static_cast<unsigned char>(bits);
  };

  uint32_t k = 0;
  // The rows whose bytes the template reads; with one row above only, it
  // stands in for both in the searches below.
  const unsigned char* top = G::kReadsUp2 ? up2 : up1;
  if (top != nullptr && bytesPerRow >= 3) {
    w1 = w1 << 8 | up1[1];  // byte 1 is not the last: no spare bits
    if constexpr (G::kReadsUp2) w2 = w2 << 8 | up2[1];
    decodeByte(0);
    // Bytes 1 to bytesPerRow - 3: their windows lie inside the rows above
    // and short of the last byte, whose spare bits would need masking.
    const uint32_t interiorEnd = bytesPerRow - 2;
    for (k = 1; k < interiorEnd;) {
      w1 = RowWindow(up1 + k);
      if constexpr (G::kReadsUp2) w2 = RowWindow(up2 + k);
      const uint32_t uniform = G::UniformContext(plan, bits, w1, w2);
      if (uniform != G::kMixed && mps[uniform] == (uniform & 1)) {
        // Byte k is of the neighbourhood's colour if decoded so; so is every
        // later byte m whose bytes m - 1..m + 1 above are all that colour.
        // Take as many of them as the coder can decode as one run.
        const uint32_t qe = MQQe[index[uniform]];
        const uint32_t room = std::min(r.C >> 16, r.A - 0x8000) / qe;  // MPS decisions without renormalising
        // The first byte m + 1 that is not of the colour, then bytes k..end - 1 in the run.
        uint32_t end = uniform ? NextNotBlackByte(up1, top, k + 1, interiorEnd + 1)
                               : NextNonZeroByte(up1, top, top, k + 1, interiorEnd + 1);
        end = std::min<uint32_t>(end - 1, k + room / 8);
        if (end > k) {
          const uint32_t pixels = 8 * (end - k);
          r.C -= (pixels * qe) << 16;
          r.A -= pixels * qe;
          std::memset(row + k, uniform ? 0xFF : 0, end - k);
          bits = uniform;
          k = end;
          continue;
        }
      }
      decodeByte(k);
      ++k;
    }
    // Byte bytesPerRow - 2; its window ends in the last byte.
    w1 = uint32_t{up1[k - 1]} << 16 | uint32_t{up1[k]} << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask);
    if constexpr (G::kReadsUp2)
      w2 = uint32_t{up2[k - 1]} << 16 | uint32_t{up2[k]} << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask);
    decodeByte(k);
    ++k;
  }
  for (; k < bytesPerRow; ++k) {
    w1 = (w1 << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    w2 = (w2 << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    decodeByte(k);
  }
  regs = r;
}

}  // namespace

GenericRowPlan PlanGenericRows(uint32_t templ, const long* atx, const long* aty) {
  static constexpr GenericRowDecoder kNominal[4] = {DecodeRow<0, false>, DecodeRow<1, false>,
                                                     DecodeRow<2, false>, DecodeRow<3, false>};
  static constexpr GenericRowDecoder kMoved[4] = {DecodeRow<0, true>, DecodeRow<1, true>,
                                                   DecodeRow<2, true>, DecodeRow<3, true>};
  GenericRowPlan plan{};
  static_cast<GenericRowLayout&>(plan) = LayOutGenericRows(templ, atx, aty);
  if (plan.byRows) plan.decode = plan.nominal ? kNominal[templ] : kMoved[templ];
  return plan;
}
