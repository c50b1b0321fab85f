// Bitmap operations: creation, combination (T.88 6.4.7 combination
// operators), copying, clearing, comparison, counting and inversion.
#include "common/bitmap.h"

#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "kernels/bit_count.h"
#include "kernels/pixel_words.h"

const unsigned char ConstMask1[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
const unsigned char ConstMask0[8] = {0x7F, 0xBF, 0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE};

namespace {

// Mask of the pixel bits of a row's last byte (0xFF when the width fills it).
inline unsigned char LastByteMask(uint32_t width) {
  return width % 8 == 0 ? 0xFF : static_cast<unsigned char>(0xFF << (8 - width % 8));
}

template <int Op, typename T>
inline T Apply(T d, T s) {
  if constexpr (Op == kOpOr) return static_cast<T>(d | s);
  if constexpr (Op == kOpAnd) return static_cast<T>(d & s);
  if constexpr (Op == kOpXor) return static_cast<T>(d ^ s);
  if constexpr (Op == kOpXnor) return static_cast<T>(~(d ^ s));
  if constexpr (Op == kOpReplace) return s;
}

// Combines s into the bits of d selected by mask (never 0 here).
template <int Op>
inline void CombineByte(unsigned char* d, unsigned char s, unsigned char mask) {
  unsigned char r = Apply<Op>(*d, s);
  *d = static_cast<unsigned char>((*d & ~mask) | (r & mask));
}

// The column plan of one CombineBMP call, shared by all rows. All values are
// already clipped to the destination row: a negative byte index means "skip".
struct ColumnPlan {
  bool narrow = false;       // the whole source row falls into one destination byte
  int64_t narrowByte = -1;   // that byte, or -1 when it lies outside the destination
  unsigned char narrowMask = 0;
  int64_t leadByte = -1;     // destination byte of the leading partial byte, or -1
  int lead = 0;              // source pixels in the leading byte
  int64_t first = 0;         // first fully covered destination byte
  int64_t fullBegin = 0;     // k range of fully covered bytes
  int64_t fullEnd = 0;
  int64_t trailByte = -1;    // destination byte of the trailing partial byte, or -1
  int trail = 0;
  int trailShift = 0;        // s = w - trail: left shift when >= 0, right shift of 16 bits when < 0
  int64_t srcLast = 0;       // index of the source row's last byte
};

// Steps 2 to 6 of the byte-wise combination: for source width sw at column x
// of a destination row of dstBytes bytes. x is already known to overlap the
// destination (-sw < x < 8 * dstBytes), so nothing here can overflow.
ColumnPlan PlanColumns(int64_t sw, int64_t x, int64_t dstBytes) {
  ColumnPlan p;
  const int64_t xMod = x & 7;
  p.lead = xMod == 0 ? 0 : static_cast<int>(8 - xMod);
  p.trail = static_cast<int>((sw + x) & 7);
  p.srcLast = (sw - 1) / 8;
  if (p.lead + p.trail > sw) {
    // The whole source row lies inside the destination byte holding column x.
    p.narrow = true;
    if (x >= 0 && x / 8 < dstBytes) {
      p.narrowByte = x / 8;
      p.narrowMask = static_cast<unsigned char>((0xFF >> (8 - p.lead)) & (0xFF << (8 - p.trail)));
    }
    return p;
  }
  const int64_t full = (sw - p.lead - p.trail) / 8;
  p.first = (x + p.lead) / 8;
  if (p.lead > 0 && x >= 0 && x / 8 < dstBytes) p.leadByte = x / 8;
  p.fullBegin = p.first < 0 ? -p.first : 0;
  p.fullEnd = full < dstBytes - p.first ? full : dstBytes - p.first;
  if (p.trail > 0 && p.first + full >= 0 && p.first + full < dstBytes) {
    p.trailByte = p.first + full;
    const int w = sw % 8 == 0 ? 8 : static_cast<int>(sw % 8);
    p.trailShift = w - p.trail;
  }
  return p;
}

// A source row that fits one 64-bit word after its shift to column x, with
// the eight destination bytes from x / 8 inside the row: one load, combine
// and store per row (the common case of a glyph placed on a page). Same
// pixels as the byte-wise path; only bits [x, x + sw) of the row change.
template <int Op>
void CombineRowsWord(BMP* dst, const BMP* src, int64_t rowBegin, int64_t rowEnd, int64_t y, int64_t x) {
  const size_t srcStride = src->lStride, dstStride = dst->lStride;
  const uint32_t srcBytes = src->lBytesPerRow;
  const int xMod = static_cast<int>(x & 7);
  const uint64_t srcMask = ~uint64_t{0} << (64 - src->lWidth);
  const uint64_t mask = srcMask >> xMod;
  // Rows at least eight bytes before the end of the source are read whole.
  const size_t srcSize = static_cast<size_t>(src->lHeight) * srcStride;
  size_t offset = static_cast<size_t>(rowBegin) * srcStride;
  unsigned char* d = dst->pData + (rowBegin + y) * dstStride + x / 8;
  for (int64_t r = rowBegin; r < rowEnd; ++r, offset += srcStride, d += dstStride) {
    const unsigned char* s = src->pData + offset;
    uint64_t v;
    if (offset + 8 <= srcSize) {
      v = LoadPixels64(s);
    } else {
      v = 0;
      for (uint32_t k = 0; k < srcBytes; ++k) v |= uint64_t{s[k]} << (56 - 8 * k);
    }
    v = (v & srcMask) >> xMod;
    const uint64_t old = LoadPixels64(d);
    StorePixels64(d, (old & ~mask) | (Apply<Op>(old, v) & mask));
  }
}

// Byte stores may alias anything, so every value the row loop needs is
// copied into a local first.
template <int Op>
void CombineRows(BMP* dst, const BMP* src, int64_t rowBegin, int64_t rowEnd, int64_t y, const ColumnPlan& plan) {
  const ColumnPlan p = plan;
  const size_t srcStride = src->lStride, dstStride = dst->lStride;
  const unsigned char* s = src->pData + rowBegin * srcStride;
  unsigned char* d = dst->pData + (rowBegin + y) * dstStride;
  const int shift = 8 - p.lead;
  const unsigned char leadMask = static_cast<unsigned char>(0xFF >> shift);
  const unsigned char trailMask = static_cast<unsigned char>(0xFF << (8 - p.trail));
  if (p.narrow) {
    if (p.narrowByte < 0) return;
    for (int64_t r = rowBegin; r < rowEnd; ++r, s += srcStride, d += dstStride)
      CombineByte<Op>(d + p.narrowByte, static_cast<unsigned char>(s[0] >> shift), p.narrowMask);
    return;
  }
  for (int64_t r = rowBegin; r < rowEnd; ++r, s += srcStride, d += dstStride) {
    if (p.leadByte >= 0) CombineByte<Op>(d + p.leadByte, static_cast<unsigned char>(s[0] >> shift), leadMask);
    unsigned char* df = d + p.first;
    if (p.lead == 0) {
      if constexpr (Op == kOpReplace) {
        if (p.fullEnd > p.fullBegin)
          std::memcpy(df + p.fullBegin, s + p.fullBegin, static_cast<size_t>(p.fullEnd - p.fullBegin));
      } else {
        for (int64_t k = p.fullBegin; k < p.fullEnd; ++k) df[k] = Apply<Op>(df[k], s[k]);
      }
    } else {
      for (int64_t k = p.fullBegin; k < p.fullEnd; ++k) {
        const unsigned v = (static_cast<unsigned>(s[k]) << 8 | s[k + 1]) >> shift;
        df[k] = Apply<Op>(df[k], static_cast<unsigned char>(v));
      }
    }
    if (p.trailByte >= 0) {
      unsigned char v;
      if (p.trailShift >= 0)
        v = static_cast<unsigned char>(s[p.srcLast] << p.trailShift);
      else
        v = static_cast<unsigned char>((static_cast<unsigned>(s[p.srcLast - 1]) << 8 | s[p.srcLast]) >> -p.trailShift);
      CombineByte<Op>(d + p.trailByte, v, trailMask);
    }
  }
}

// Clears bits [bitBegin, bitEnd) of one row (bitEnd <= 8 * bytes of the row).
void ClearBits(unsigned char* row, int64_t bitBegin, int64_t bitEnd) {
  int64_t b0 = bitBegin / 8, b1 = (bitEnd - 1) / 8;
  unsigned char headMask = static_cast<unsigned char>(0xFF >> (bitBegin % 8));
  unsigned char tailMask = static_cast<unsigned char>(0xFF << (7 - (bitEnd - 1) % 8));
  if (b0 == b1) {
    row[b0] &= static_cast<unsigned char>(~(headMask & tailMask));
    return;
  }
  row[b0] &= static_cast<unsigned char>(~headMask);
  if (b1 > b0 + 1) std::memset(row + b0 + 1, 0, static_cast<size_t>(b1 - b0 - 1));
  row[b1] &= static_cast<unsigned char>(~tailMask);
}

}  // namespace

// A height of 0xFFFFFFFF (or -1 passed as unsigned long) is a page of still
// unknown height and gives one row. A size beyond kMaxBitmapPixels, or an
// allocation that fails, gives an empty 0 x 0 bitmap without pixel buffer,
// so that clipped operations on it do nothing rather than overrun memory.
void CreateBMP(BMP* bmp, unsigned long width, unsigned long height, int fill) noexcept {
  if (height == 0xFFFFFFFFul || height == ULONG_MAX) height = 1;
  const uint64_t w = width, h = height;
  bool fits = w <= UINT32_MAX && h <= UINT32_MAX && (h == 0 || StoredBitmapPixels(w, 1) <= kMaxBitmapPixels / h);
  unsigned char* data = nullptr;
  uint64_t bytesPerRow = w / 8 + (w % 8 != 0);
  uint64_t stride = bytesPerRow + (bytesPerRow & 1);
  if (fits) {
    uint64_t size = stride * h;
    data = static_cast<unsigned char*>(std::calloc(size == 0 ? 1 : static_cast<size_t>(size), 1));
    fits = data != nullptr;
  }
  if (!fits) {
    bmp->pData = nullptr;
    bmp->lWidth = bmp->lHeight = bmp->lBytesPerRow = bmp->lStride = 0;
    bmp->lXResolution = bmp->lYResolution = 0;
    return;
  }
  bmp->pData = data;
  bmp->lWidth = static_cast<uint32_t>(w);
  bmp->lHeight = static_cast<uint32_t>(h);
  bmp->lBytesPerRow = static_cast<uint32_t>(bytesPerRow);
  bmp->lXResolution = bmp->lYResolution = 0;
  bmp->lStride = static_cast<uint32_t>(stride);
  if (fill == 1) InvertBMP(bmp);
}

void DestroyBMP(BMP* bmp) noexcept {
  std::free(bmp->pData);
  bmp->pData = nullptr;
}

// Operator values outside 0..4 have no meaning in T.88 (6.4.7 allows 0..4);
// such a call changes nothing.
void CombineBMP(BMP* dst, BMP* src, long x, long y, int op) {
  if (!dst->pData || !src->pData || src->lWidth == 0 || src->lHeight == 0) return;
  const int64_t sw = src->lWidth, sh = src->lHeight;
  const int64_t dstBytes = dst->lBytesPerRow, dh = dst->lHeight;
  const int64_t x64 = x, y64 = y;
  // Clip before any sum: afterwards -sw < x < 8 * dstBytes and -sh < y < dh.
  if (x64 >= 8 * dstBytes || x64 <= -sw || y64 >= dh || y64 <= -sh) return;
  const int64_t rowBegin = y64 < 0 ? -y64 : 0;
  const int64_t rowEnd = sh < dh - y64 ? sh : dh - y64;
  if (x64 >= 0 && (x64 & 7) + sw <= 64 && x64 / 8 + 8 <= dstBytes) {
    switch (op) {
      case kOpOr: CombineRowsWord<kOpOr>(dst, src, rowBegin, rowEnd, y64, x64); break;
      case kOpAnd: CombineRowsWord<kOpAnd>(dst, src, rowBegin, rowEnd, y64, x64); break;
      case kOpXor: CombineRowsWord<kOpXor>(dst, src, rowBegin, rowEnd, y64, x64); break;
      case kOpXnor: CombineRowsWord<kOpXnor>(dst, src, rowBegin, rowEnd, y64, x64); break;
      case kOpReplace: CombineRowsWord<kOpReplace>(dst, src, rowBegin, rowEnd, y64, x64); break;
      default: break;
    }
    return;
  }
  const ColumnPlan plan = PlanColumns(sw, x64, dstBytes);
  switch (op) {
    case kOpOr: CombineRows<kOpOr>(dst, src, rowBegin, rowEnd, y64, plan); break;
    case kOpAnd: CombineRows<kOpAnd>(dst, src, rowBegin, rowEnd, y64, plan); break;
    case kOpXor: CombineRows<kOpXor>(dst, src, rowBegin, rowEnd, y64, plan); break;
    case kOpXnor: CombineRows<kOpXnor>(dst, src, rowBegin, rowEnd, y64, plan); break;
    case kOpReplace: CombineRows<kOpReplace>(dst, src, rowBegin, rowEnd, y64, plan); break;
    default: break;
  }
}

void ExtractRegion(BMP* dst, BMP* src, long x, long y) {
  // A window starting at LONG_MIN lies wholly left of (or above) src.
  if (x == LONG_MIN || y == LONG_MIN) return;
  CombineBMP(dst, src, -x, -y, kOpReplace);
}

// Same effect as replacing with a white w x h bitmap at (x, y): the rectangle
// is clipped to the rows and to the whole bytes of each row (spare bits
// included), without allocating the temporary bitmap.
void ClearRegion(BMP* bmp, long x, long y, unsigned long w, unsigned long h) {
  if (!bmp->pData || w == 0 || h == 0) return;
  const int64_t rowBits = int64_t{8} * bmp->lBytesPerRow, rows = bmp->lHeight;
  // Sizes beyond 2^40 reach past any bitmap; capping them keeps the sums in range.
  const int64_t cap = int64_t{1} << 40;
  const int64_t w64 = w > static_cast<uint64_t>(cap) ? cap : static_cast<int64_t>(w);
  const int64_t h64 = h > static_cast<uint64_t>(cap) ? cap : static_cast<int64_t>(h);
  const int64_t x64 = x, y64 = y;
  if (x64 >= rowBits || x64 <= -w64 || y64 >= rows || y64 <= -h64) return;
  const int64_t c0 = x64 < 0 ? 0 : x64, c1 = x64 + w64 < rowBits ? x64 + w64 : rowBits;
  const int64_t r0 = y64 < 0 ? 0 : y64, r1 = y64 + h64 < rows ? y64 + h64 : rows;
  for (int64_t r = r0; r < r1; ++r) ClearBits(bmp->pData + r * bmp->lStride, c0, c1);
}

void CopyBMP(BMP* dst, BMP* src) {
  CreateBMPChecked(dst, src->lWidth, src->lHeight, 0);
  if (!dst->pData || !src->pData || src->lBytesPerRow == 0) return;
  const unsigned char mask = LastByteMask(src->lWidth);
  for (uint32_t r = 0; r < src->lHeight; ++r) {
    unsigned char* d = dst->pData + static_cast<size_t>(r) * dst->lStride;
    std::memcpy(d, src->pData + static_cast<size_t>(r) * src->lStride, src->lBytesPerRow);
    d[src->lBytesPerRow - 1] &= mask;  // spare bits are never taken from the source
  }
}

int ExactBMP(BMP* a, BMP* b) {
  if (a->lWidth != b->lWidth || a->lHeight != b->lHeight) return 0;
  if (a->lWidth == 0 || a->lHeight == 0) return 1;
  const uint32_t n = a->lBytesPerRow;
  const unsigned char mask = LastByteMask(a->lWidth);
  for (uint32_t r = 0; r < a->lHeight; ++r) {
    const unsigned char* pa = a->pData + static_cast<size_t>(r) * a->lStride;
    const unsigned char* pb = b->pData + static_cast<size_t>(r) * b->lStride;
    if (n > 1 && std::memcmp(pa, pb, n - 1) != 0) return 0;
    if ((pa[n - 1] ^ pb[n - 1]) & mask) return 0;
  }
  return 1;
}

uint32_t AreaBMP(BMP* bmp) {
  if (!bmp->pData || bmp->lWidth == 0) return 0;
  const uint32_t n = bmp->lBytesPerRow;
  const unsigned char mask = LastByteMask(bmp->lWidth);
  uint64_t count = 0;
  for (uint32_t r = 0; r < bmp->lHeight; ++r) {
    const unsigned char* p = bmp->pData + static_cast<size_t>(r) * bmp->lStride;
    uint32_t i = 0;
    for (; i + 8 < n; i += 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      count += CountBits(word);
    }
    // The rest of the row in one word, the last byte without its spare bits.
    uint64_t rest = p[n - 1] & mask;
    for (; i + 1 < n; ++i) rest = rest << 8 | p[i];  // at most 7 bytes
    count += CountBits(rest);
  }
  // Only an all-black bitmap of exactly kMaxBitmapPixels pixels reaches 2^32.
  return count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
}

void InvertBMP(BMP* bmp) {
  if (!bmp->pData) return;
  for (uint32_t r = 0; r < bmp->lHeight; ++r) {
    unsigned char* p = bmp->pData + static_cast<size_t>(r) * bmp->lStride;
    for (uint32_t i = 0; i < bmp->lBytesPerRow; ++i) p[i] = static_cast<unsigned char>(~p[i]);
  }
}

void WriteBytesToFile(FILE* file, unsigned long value, unsigned long count) {
  for (unsigned long i = 0; i < count; ++i) {
    std::fputc(i < sizeof(value) ? static_cast<int>((value >> (8 * i)) & 0xFF) : 0, file);
  }
}

// A capacity of 0 grows to 1 (doubling 0 would never make room). A size that
// overflows or an allocation that fails throws std::bad_alloc (the array is
// left as it was), which the libraries' entry points turn into a status.
void ReSizeArray(void** array, unsigned long elementSize, unsigned long* capacity) {
  const unsigned long newCapacity = *capacity == 0 ? 1 : *capacity * 2;
  if (newCapacity < *capacity || (elementSize != 0 && newCapacity > ULONG_MAX / elementSize)) throw std::bad_alloc();
  void* p = std::realloc(*array, elementSize * newCapacity == 0 ? 1 : elementSize * newCapacity);
  if (!p) throw std::bad_alloc();
  *array = p;
  *capacity = newCapacity;
}
