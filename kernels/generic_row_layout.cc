#include "kernels/generic_row_layout.h"

#include <algorithm>

GenericRowLayout LayOutGenericRows(uint32_t templ, const long* atx, const long* aty) {
  static constexpr long kX[4][4] = {{3, -3, 2, -2}, {3}, {2}, {2}};
  static constexpr long kY[4][4] = {{-1, -1, -2, -2}, {-1}, {-1}, {-1}};
  GenericRowLayout layout{};
  if (templ > 3) return layout;
  const generic_rows::Layout& L = generic_rows::kLayouts[templ];
  layout.atCount = templ == 0 ? 4 : 1;
  layout.keep = ~0u;
  // The leftmost and rightmost columns the template reads in rows y - 1 and
  // y - 2 (none: left > right).
  long left[3] = {0, L.a1, L.a2}, right[3] = {0, L.b1, L.b2};
  bool nominal = true;
  for (uint32_t i = 0; i < layout.atCount; ++i) {
    nominal = nominal && atx[i] == kX[templ][i] && aty[i] == kY[templ][i];
    // Pixels in the current row, or beyond the windows' bytes k - 1..k + 1.
    if (aty[i] < -2 || aty[i] > -1 || atx[i] < -8 || atx[i] > 8) return layout;
    const uint32_t r = static_cast<uint32_t>(-aty[i]);
    layout.atRow[i] = r;
    layout.atShift[i] = static_cast<uint32_t>(15 - atx[i]);
    layout.atBit[i] = generic_rows::kAtBits[templ][i];
    layout.keep &= ~(1u << generic_rows::kAtBits[templ][i]);
    if (left[r] > right[r]) left[r] = right[r] = atx[i];
    left[r] = std::min(left[r], atx[i]);
    right[r] = std::max(right[r], atx[i]);
  }
  // A byte's mask also covers the pixels of its own byte that the next byte's
  // context reads, which the run searches take for checked.
  for (int r = 1; r <= 2; ++r) {
    const uint32_t mask =
        left[r] > right[r] ? 0 : WindowByteMask(static_cast<int>(left[r]), static_cast<int>(std::max(right[r], 0L)));
    (r == 1 ? layout.up1Mask : layout.up2Mask) = mask;
  }
  layout.byRows = true;
  layout.nominal = nominal;
  return layout;
}
