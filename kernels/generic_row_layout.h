// Generic-region contexts formed a byte at a time (T.88 6.2.5.3, Figures 3
// to 6), shared by the row coders and the row decoders.
//
// A template's context is a run of pixels of row y - 2 (templates 0 to 2), a
// run of row y - 1, and the last pixels of row y, in that order from the top
// bit down (the numbering of kernels/context_template.h). The rows above are
// read a byte at a time into 24-bit windows holding bytes k - 1, k and k + 1
// (kernels/row_window.h), so a pixel's context is two shifts and masks away;
// an adaptive pixel moved from its nominal place is one more shift into its
// context bit. A byte whose neighbourhood is all one colour (white: context
// 0; black: every context bit set) can be coded as one run of MPS decisions
// (kernels/mq_runs.h).
#pragma once

#include <cstdint>

#include "kernels/row_window.h"

// Where one region's adaptive pixels lie in the windows: made once per region.
struct GenericRowLayout {
  // False: an adaptive pixel lies in the current row or more than 8 columns
  // away, and the template needs the per-pixel context windows.
  bool byRows;
  bool nominal;  // every adaptive pixel at its nominal place
  // Adaptive pixel i is read from the window of row y - atRow[i] at bit
  // atShift[i] - j (j the pixel's place in its byte) into context bit
  // atBit[i]; `keep` clears their nominal bits.
  uint32_t atCount;
  uint32_t atRow[4], atShift[4], atBit[4];
  uint32_t keep;
  // The window bits of rows y - 1 and y - 2 that must be one colour for a
  // byte to be coded as a run of that colour.
  uint32_t up1Mask, up2Mask;
};

// The layout for template `templ` with adaptive pixels `atx`/`aty` (T.88
// 6.2.5.4). Nominal places: template 0 A1 (3, -1), A2 (-3, -1), A3 (2, -2),
// A4 (-2, -2); template 1 (3, -1); templates 2 and 3 (2, -1).
GenericRowLayout LayOutGenericRows(uint32_t templ, const long* atx, const long* aty);

namespace generic_rows {

// A template's nominal layout: row y - 2 at columns x + a2..x + b2 (none if
// a2 > b2), row y - 1 at x + a1..x + b1, and `history` pixels of row y.
struct Layout {
  int a2, b2, a1, b1;
  uint32_t history;
};
inline constexpr Layout kLayouts[4] = {{-2, 2, -3, 3, 4}, {-1, 2, -2, 3, 3}, {-1, 1, -2, 2, 2}, {1, 0, -3, 2, 4}};

// The context bits of the adaptive pixels A1..A4 in each template.
inline constexpr uint32_t kAtBits[4][4] = {{4, 10, 11, 15}, {3}, {2}, {4}};

// Template T; kAnyAt: its adaptive pixels where the layout places them.
template <int T, bool kAnyAt>
struct Template {
  static constexpr Layout L = kLayouts[T];
  static constexpr bool kHasUp2 = L.a2 <= L.b2;
  static constexpr bool kReadsUp2 = kHasUp2 || kAnyAt;
  static constexpr uint32_t kAtCount = T == 0 ? 4 : 1;
  static constexpr uint32_t kLen1 = L.b1 - L.a1 + 1, kLen2 = kHasUp2 ? L.b2 - L.a2 + 1 : 0;
  static constexpr uint32_t kHistoryMask = (1u << L.history) - 1;
  static constexpr uint32_t kBlack = (1u << (L.history + kLen1 + kLen2)) - 1;  // every context bit set
  static constexpr uint32_t kUp1 = WindowByteMask(L.a1, L.b1), kUp2 = WindowByteMask(L.a2, L.b2);
  static constexpr uint32_t kMixed = 1;  // no uniform context (1 is neither 0 nor kBlack)

  // The context of pixel j of the byte the windows are centred on; `bits`
  // holds the row's earlier pixels, the most recent in bit 0.
  static inline uint32_t Context(const GenericRowLayout& layout, uint32_t j, uint32_t w1, uint32_t w2,
                                 uint32_t bits) {
    uint32_t context = ((w1 >> (15 - j - L.b1)) & ((1u << kLen1) - 1)) << L.history | (bits & kHistoryMask);
    if constexpr (kHasUp2) context |= ((w2 >> (15 - j - L.b2)) & ((1u << kLen2) - 1)) << (L.history + kLen1);
    if constexpr (kAnyAt) {
      context &= layout.keep;
#pragma GCC unroll 4
      for (uint32_t i = 0; i < kAtCount; ++i) {
        const uint32_t w = layout.atRow[i] == 1 ? w1 : w2;
        context |= ((w >> (layout.atShift[i] - j)) & 1) << layout.atBit[i];
      }
    }
    return context;
  }

  // The context all of whose pixels a byte's windows and the row's earlier
  // pixels show as one colour: 0 (white) or kBlack; kMixed otherwise.
  static inline uint32_t UniformContext(const GenericRowLayout& layout, uint32_t bits, uint32_t w1, uint32_t w2) {
    uint32_t m1 = kUp1, m2 = kUp2;
    if constexpr (kAnyAt) m1 = layout.up1Mask, m2 = layout.up2Mask;
    const uint32_t b = bits & kHistoryMask, u1 = w1 & m1, u2 = w2 & m2;
    if ((b | u1 | u2) == 0) return 0;
    if (b == kHistoryMask && u1 == m1 && u2 == m2) return kBlack;
    return kMixed;
  }
};

// Walks the bytes of a row in order, with the 24-bit windows w1 and w2 over
// bytes k - 1..k + 1 of the rows above, `up1` and `up2` (nullptr: above the
// region; `up2` only read when kReadsUp2). An interior byte k (1 to
// bytesPerRow - 3: windows inside the rows, short of the last byte's spare
// bits) first goes to `run(k, w1, w2, interiorEnd)`, which may take bytes k
// to end - 1 as one run and return end, or return k; every other byte goes
// to `byte(k, w1, w2)`. (The row decoders keep this walk written out: as a
// call it costs them 3 % more instructions.)
template <bool kReadsUp2, typename Run, typename Byte>
__attribute__((always_inline)) inline void WalkRow(const unsigned char* up1, const unsigned char* up2,
                                                   uint32_t bytesPerRow, uint32_t lastMask, Run&& run, Byte&& byte) {
  uint32_t w1 = RowByte(up1, 0, bytesPerRow, lastMask);
  uint32_t w2 = RowByte(up2, 0, bytesPerRow, lastMask);
  uint32_t k = 0;
  const unsigned char* top = kReadsUp2 ? up2 : up1;
  if (top != nullptr && bytesPerRow >= 3) {
    w1 = w1 << 8 | up1[1];  // byte 1 is not the last: no spare bits
    if constexpr (kReadsUp2) w2 = w2 << 8 | up2[1];
    byte(0, w1, w2);
    const uint32_t interiorEnd = bytesPerRow - 2;
    for (k = 1; k < interiorEnd;) {
      w1 = RowWindow(up1 + k);
      if constexpr (kReadsUp2) w2 = RowWindow(up2 + k);
      const uint32_t end = run(k, w1, w2, interiorEnd);
      if (end > k) {
        k = end;
        continue;
      }
      byte(k, w1, w2);
      ++k;
    }
    // Byte bytesPerRow - 2; its window ends in the last byte.
    w1 = uint32_t{up1[k - 1]} << 16 | uint32_t{up1[k]} << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask);
    if constexpr (kReadsUp2)
      w2 = uint32_t{up2[k - 1]} << 16 | uint32_t{up2[k]} << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask);
    byte(k, w1, w2);
    ++k;
  }
  for (; k < bytesPerRow; ++k) {
    w1 = (w1 << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    w2 = (w2 << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    byte(k, w1, w2);
  }
}

}  // namespace generic_rows
