// Row decoders for the generic templates (T.88 6.2.5.3, Figures 3 to 6).
//
// A template's context is a run of pixels of row y - 2 (templates 0 to 2), a
// run of row y - 1, and the last pixels of row y, in that order from the top
// bit down (the numbering of common/context_template.h). The rows above are
// read a byte at a time into 24-bit windows holding bytes k - 1, k and k + 1,
// so a pixel's context is two shifts and masks away; an adaptive pixel moved
// from its nominal place is one more shift into its context bit. A byte of
// pixels whose neighbourhood is all one colour (white above and to the left:
// context 0; black: every context bit set) is decoded as one run of MPS
// decisions when the coder allows it (common/mq_runs.h), and so are the bytes
// after it while the rows above stay that colour: white paper, and the black
// of inverted pages, cost a few operations per byte instead of per pixel.
#include "decoder/generic_region_rows.h"

#include <algorithm>
#include <cstring>

#include "common/mq_runs.h"
#include "common/row_window.h"

namespace {

// A template's nominal layout: row y - 2 at columns x + a2..x + b2 (none if
// a2 > b2), row y - 1 at x + a1..x + b1, and `history` pixels of row y.
struct Layout {
  int a2, b2, a1, b1;
  uint32_t history;
};
constexpr Layout kLayouts[4] = {{-2, 2, -3, 3, 4}, {-1, 2, -2, 3, 3}, {-1, 1, -2, 2, 2}, {1, 0, -3, 2, 4}};

// The context bits of the adaptive pixels A1..A4 in each template.
constexpr uint32_t kAtBits[4][4] = {{4, 10, 11, 15}, {3}, {2}, {4}};

// Template T; kAnyAt: its adaptive pixels as the plan places them.
template <int T, bool kAnyAt>
struct Rows {
  static constexpr Layout L = kLayouts[T];
  static constexpr bool kHasUp2 = L.a2 <= L.b2;
  static constexpr bool kReadsUp2 = kHasUp2 || kAnyAt;
  static constexpr uint32_t kAtCount = T == 0 ? 4 : 1;
  static constexpr uint32_t kLen1 = L.b1 - L.a1 + 1, kLen2 = kHasUp2 ? L.b2 - L.a2 + 1 : 0;
  static constexpr uint32_t kHistoryMask = (1u << L.history) - 1;
  static constexpr uint32_t kBlack = (1u << (L.history + kLen1 + kLen2)) - 1;  // every context bit set
  static constexpr uint32_t kUp1 = WindowByteMask(L.a1, L.b1), kUp2 = WindowByteMask(L.a2, L.b2);

  // The context of pixel j of the byte the windows are centred on.
  static inline uint32_t Context(const GenericRowPlan& plan, uint32_t j, uint32_t w1, uint32_t w2, uint32_t bits) {
    uint32_t context = ((w1 >> (15 - j - L.b1)) & ((1u << kLen1) - 1)) << L.history | (bits & kHistoryMask);
    if constexpr (kHasUp2) context |= ((w2 >> (15 - j - L.b2)) & ((1u << kLen2) - 1)) << (L.history + kLen1);
    if constexpr (kAnyAt) {
      context &= plan.keep;
#pragma GCC unroll 4
      for (uint32_t i = 0; i < kAtCount; ++i) {
        const uint32_t w = plan.atRow[i] == 1 ? w1 : w2;
        context |= ((w >> (plan.atShift[i] - j)) & 1) << plan.atBit[i];
      }
    }
    return context;
  }

  // The context all of whose pixels a byte's windows show as one colour: 0
  // (white) or kBlack; kMixed otherwise.
  static constexpr uint32_t kMixed = 1;
  static inline uint32_t UniformContext(const GenericRowPlan& plan, uint32_t bits, uint32_t w1, uint32_t w2) {
    uint32_t m1 = kUp1, m2 = kUp2;
    if constexpr (kAnyAt) m1 = plan.up1Mask, m2 = plan.up2Mask;
    const uint32_t b = bits & kHistoryMask, u1 = w1 & m1, u2 = w2 & m2;
    if ((b | u1 | u2) == 0) return 0;
    if (b == kHistoryMask && u1 == m1 && u2 == m2) return kBlack;
    return kMixed;
  }

  static void DecodeRow(const GenericRowPlan& plan, MQDECODER* mq, MQRegs& regs, unsigned char* index,
                        unsigned char* mps, BMP* out, uint32_t y);
};

template <int T, bool kAnyAt>
void Rows<T, kAnyAt>::DecodeRow(const GenericRowPlan& plan, MQDECODER* mq, MQRegs& regs, unsigned char* index,
                                unsigned char* mps, BMP* out, uint32_t y) {
  // A local copy: stores to the row (bytes) could alias the caller's record,
  // which would send the registers to memory after every pixel.
  MQRegs r = regs;
  const uint32_t width = out->lWidth, bytesPerRow = out->lBytesPerRow;
  const uint32_t lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  const size_t stride = out->lStride;
  unsigned char* row = out->pData + y * stride;
  const unsigned char* up1 = y >= 1 ? row - stride : nullptr;
  // Without a row y - 2 in the template, its window stays 0.
  const unsigned char* up2 = kReadsUp2 && y >= 2 ? row - 2 * stride : nullptr;
  uint32_t w1 = RowByte(up1, 0, bytesPerRow, lastMask);
  uint32_t w2 = RowByte(up2, 0, bytesPerRow, lastMask);
  // The pixels decoded so far in this row, most recent in bit 0.
  uint32_t bits = 0;

  // Decodes byte k of the row once the windows hold bytes k - 1..k + 1.
  auto decodeByte = [&](uint32_t k) __attribute__((always_inline)) {
    const uint32_t n = std::min<uint32_t>(8, width - 8 * k);
    const uint32_t uniform = UniformContext(plan, bits, w1, w2);
    if (uniform != kMixed && mps[uniform] == (uniform & 1) && MQDecodeMPSRun(r, MQQe[index[uniform]], n)) {
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
        const uint32_t context = Context(plan, j, w1, w2, bits);
        bits = bits << 1 | static_cast<uint32_t>(MQDecodeRegs(mq, r, index + context, mps + context));
      }
    } else {
      for (uint32_t j = 0; j < n; ++j) {
        const uint32_t context = Context(plan, j, w1, w2, bits);
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
  const unsigned char* top = kReadsUp2 ? up2 : up1;
  if (top != nullptr && bytesPerRow >= 3) {
    w1 = w1 << 8 | up1[1];  // byte 1 is not the last: no spare bits
    if constexpr (kReadsUp2) w2 = w2 << 8 | up2[1];
    decodeByte(0);
    // Bytes 1 to bytesPerRow - 3: their windows lie inside the rows above
    // and short of the last byte, whose spare bits would need masking.
    const uint32_t interiorEnd = bytesPerRow - 2;
    for (k = 1; k < interiorEnd;) {
      w1 = RowWindow(up1 + k);
      if constexpr (kReadsUp2) w2 = RowWindow(up2 + k);
      const uint32_t uniform = UniformContext(plan, bits, w1, w2);
      if (uniform != kMixed && mps[uniform] == (uniform & 1)) {
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
    if constexpr (kReadsUp2)
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
  static constexpr long kX[4][4] = {{3, -3, 2, -2}, {3}, {2}, {2}};
  static constexpr long kY[4][4] = {{-1, -1, -2, -2}, {-1}, {-1}, {-1}};
  static constexpr GenericRowDecoder kNominal[4] = {Rows<0, false>::DecodeRow, Rows<1, false>::DecodeRow,
                                                     Rows<2, false>::DecodeRow, Rows<3, false>::DecodeRow};
  static constexpr GenericRowDecoder kMoved[4] = {Rows<0, true>::DecodeRow, Rows<1, true>::DecodeRow,
                                                   Rows<2, true>::DecodeRow, Rows<3, true>::DecodeRow};
  GenericRowPlan plan{};
  if (templ > 3) return plan;
  const Layout& L = kLayouts[templ];
  plan.atCount = templ == 0 ? 4 : 1;
  plan.keep = ~0u;
  // The leftmost and rightmost columns the template reads in rows y - 1 and
  // y - 2 (none: left > right).
  long left[3] = {0, L.a1, L.a2}, right[3] = {0, L.b1, L.b2};
  bool nominal = true;
  for (uint32_t i = 0; i < plan.atCount; ++i) {
    nominal = nominal && atx[i] == kX[templ][i] && aty[i] == kY[templ][i];
    // Pixels in the current row, or beyond the windows' bytes k - 1..k + 1.
    if (aty[i] < -2 || aty[i] > -1 || atx[i] < -8 || atx[i] > 8) return plan;
    const uint32_t r = static_cast<uint32_t>(-aty[i]);
    plan.atRow[i] = r;
    plan.atShift[i] = static_cast<uint32_t>(15 - atx[i]);
    plan.atBit[i] = kAtBits[templ][i];
    plan.keep &= ~(1u << kAtBits[templ][i]);
    if (left[r] > right[r]) left[r] = right[r] = atx[i];
    left[r] = std::min(left[r], atx[i]);
    right[r] = std::max(right[r], atx[i]);
  }
  // A byte's mask also covers the pixels of its own byte that the next byte's
  // context reads, which the run searches take for checked.
  for (int r = 1; r <= 2; ++r) {
    const uint32_t mask =
        left[r] > right[r] ? 0 : WindowByteMask(static_cast<int>(left[r]), static_cast<int>(std::max(right[r], 0L)));
    (r == 1 ? plan.up1Mask : plan.up2Mask) = mask;
  }
  plan.decode = nominal ? kNominal[templ] : kMoved[templ];
  return plan;
}
