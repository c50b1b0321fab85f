// Shifted row copies for refinement contexts (see refinement_rows.h).
#include "kernels/refinement_rows.h"

#include <algorithm>
#include <cstring>

namespace {

// Offsets past 2^34 put every reference pixel outside any bitmap already;
// clamping keeps the column sums below far inside 64 bits.
constexpr int64_t kFar = int64_t{1} << 34;

// Row y of `src` from column x0 on as n bytes, pixel x0 + 8m + b in bit
// 7 - b of byte m; columns and rows outside the bitmap (and spare bits) read
// 0. Called four times per coded row, so the per-bitmap values are computed
// once (RowSource).
void ShiftedRow(const RowSource& src, int64_t y, unsigned char* line, uint32_t n) {
  const BMP* bmp = src.bmp;
  if (y < 0 || y >= int64_t{bmp->lHeight} || bmp->pData == nullptr) {
    std::memset(line, 0, n);
    return;
  }
  const unsigned char* row = bmp->pData + static_cast<size_t>(y) * bmp->lStride;
  const uint64_t bytes = bmp->lBytesPerRow;
  auto byteAt = [&](int64_t k) -> unsigned {
    if (static_cast<uint64_t>(k) >= bytes) return 0;  // negative k wraps to a huge value
    return row[k] & (static_cast<uint64_t>(k) + 1 == bytes ? src.lastMask : 0xFFu);
  };
  const int right = 8 - src.shift;
  unsigned current = byteAt(src.first);
  for (uint32_t m = 0; m < n; ++m) {
    const unsigned next = byteAt(src.first + m + 1);
    line[m] = static_cast<unsigned char>((current << 8 | next) >> right);
    current = next;
  }
}

RowSource MakeRowSource(const BMP* bmp, int64_t x0) {
  RowSource src;
  src.bmp = bmp;
  src.first = x0 >= 0 ? x0 / 8 : -((-x0 + 7) / 8);  // floor(x0 / 8)
  src.shift = static_cast<int>(x0 - 8 * src.first);
  src.lastMask = bmp->lWidth % 8 ? (0xFF00u >> (bmp->lWidth % 8)) & 0xFF : 0xFF;
  return src;
}

}  // namespace

RefinementRows::RefinementRows(const BMP* reference, uint32_t width, long dx, long dy)
    : n_(width / 8 + (width % 8 != 0)),
      dx_(std::clamp<int64_t>(dx, -kFar, kFar)),
      dy_(std::clamp<int64_t>(dy, -kFar, kFar)),
      lines_(4 * (size_t{n_} + 1)),
      reference_source_(MakeRowSource(reference, -dx_ - 1)) {
  up_ = lines_.data();
  r0_ = up_ + n_ + 1;
  r1_ = r0_ + n_ + 1;
  r2_ = r1_ + n_ + 1;
}

void RefinementRows::Load(const BMP* coded, uint32_t y) {
  // One byte past the last: the window of the last byte reads it.
  if (coded != coded_source_.bmp) coded_source_ = MakeRowSource(coded, -1);
  ShiftedRow(coded_source_, int64_t{y} - 1, up_, n_ + 1);
  const int64_t refY = int64_t{y} - dy_;
  if (refY == loaded_ref_y_ + 1) {
    // The next row down: two of the three reference rows are loaded already.
    unsigned char* free = r0_;
    r0_ = r1_;
    r1_ = r2_;
    r2_ = free;
  } else {
    ShiftedRow(reference_source_, refY - 1, r0_, n_ + 1);
    ShiftedRow(reference_source_, refY, r1_, n_ + 1);
  }
  ShiftedRow(reference_source_, refY + 1, r2_, n_ + 1);
  loaded_ref_y_ = refY;
}
