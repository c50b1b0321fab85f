// Mark extraction for text regions: every 8-connected group of black pixels
// of a section becomes one symbol instance (the SYMBOL records of symbol.h).
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/messages.h"
#include "encoder/symbol.h"

namespace {

inline constexpr unsigned long kInitialMarks = 1024;  // first room of the mark array
inline constexpr size_t kInitialStack = 1024;         // first room of the fill stack

struct FillPoint {
  long x;
  long y;
};

// The section being taken apart: its pixels and size, as signed values.
struct Section {
  unsigned char* data;
  long stride;
  long width;
  long height;

  unsigned char* Row(long y) const { return data + y * stride; }
};

inline int FirstBit(unsigned v) { return std::countl_zero(static_cast<uint8_t>(v)); }
inline int LastBit(unsigned v) { return 7 - std::countr_zero(static_cast<uint8_t>(v)); }

// First column in [x, limit) whose pixel is black (kBlack) or white (!kBlack);
// `limit` when there is none. Reads whole bytes.
template <bool kBlack>
long FindPixel(const unsigned char* row, long x, long limit) {
  if (x >= limit) return limit;
  long b = x >> 3;
  unsigned v = (kBlack ? row[b] : ~row[b]) & (0xFFu >> (x & 7)) & 0xFFu;
  while (v == 0) {
    if (++b << 3 >= limit) return limit;
    v = (kBlack ? row[b] : ~row[b]) & 0xFFu;
  }
  return std::min((b << 3) + FirstBit(v), limit);
}

// First column of the black run that holds column x.
long RunStart(const unsigned char* row, long x) {
  long b = x >> 3;
  unsigned v = ~row[b] & (0xFF00u >> (x & 7)) & 0xFFu;  // white pixels left of x
  while (v == 0) {
    if (--b < 0) return 0;
    v = ~row[b] & 0xFFu;
  }
  return (b << 3) + LastBit(v) + 1;
}

// Sets (kSet) or clears the pixels of columns [x0, x1) of a row.
template <bool kSet>
void FillBits(unsigned char* row, long x0, long x1) {
  long b0 = x0 >> 3;
  long b1 = (x1 - 1) >> 3;
  unsigned head = 0xFFu >> (x0 & 7);
  unsigned tail = (0xFF00u >> (((x1 - 1) & 7) + 1)) & 0xFFu;
  auto apply = [row](long b, unsigned mask) {
    if (kSet) row[b] = static_cast<unsigned char>(row[b] | mask);
    else row[b] = static_cast<unsigned char>(row[b] & ~mask);
  };
  if (b0 == b1) {
    apply(b0, head & tail);
    return;
  }
  apply(b0, head);
  if (b1 > b0 + 1) std::memset(row + b0 + 1, kSet ? 0xFF : 0x00, static_cast<size_t>(b1 - b0 - 1));
  apply(b1, tail);
}

struct Box {
  long left;
  long top;
  long width;
  long height;
};

// One horizontal run of a mark: columns [x0, x1) of row y.
struct Run {
  long y;
  long x0;
  long x1;
};

// Takes every black pixel 8-connected to (x, y) out of the section, as runs
// in `runs`, and returns the bounding box of the mark they form.
Box TakeMark(const Section& s, long x, long y, std::vector<FillPoint>* stack, std::vector<Run>* runs) {
  stack->clear();
  runs->clear();
  stack->push_back({x, y});
  long minX = x, maxX = x, minY = y, maxY = y;
  while (!stack->empty()) {
    const FillPoint p = stack->back();
    stack->pop_back();
    unsigned char* row = s.Row(p.y);
    if ((row[p.x >> 3] & ConstMask1[p.x & 7]) == 0) continue;  // taken by an earlier run
    const long runStart = RunStart(row, p.x);
    const long runEnd = FindPixel<false>(row, p.x, s.width);
    FillBits<false>(row, runStart, runEnd);
    runs->push_back({p.y, runStart, runEnd});
    minX = std::min(minX, runStart);
    maxX = std::max(maxX, runEnd - 1);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
    // Runs of the rows above and below that touch this run, diagonals included.
    const long from = std::max(runStart - 1, 0L);
    const long to = std::min(runEnd + 1, s.width);
    for (long ny = p.y - 1; ny <= p.y + 1; ny += 2) {
      if (ny < 0 || ny >= s.height) continue;
      const unsigned char* other = s.Row(ny);
      for (long c = FindPixel<true>(other, from, to); c < to; c = FindPixel<true>(other, c, to)) {
        stack->push_back({c, ny});
        c = FindPixel<false>(other, c, to);
      }
    }
  }
  return Box{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

}  // namespace

void ExtractSymbols(BMP* section, SYMBOL** marks, unsigned long* count, uint32_t leaveSize, unsigned long* left) {
  *count = 0;
  if (left) *left = 0;
  unsigned long capacity = kInitialMarks;
  *marks = static_cast<SYMBOL*>(std::malloc(capacity * sizeof(SYMBOL)));

  const Section s{section->pData, static_cast<long>(section->lStride), static_cast<long>(section->lWidth),
                  static_cast<long>(section->lHeight)};
  const long bytesPerRow = static_cast<long>(section->lBytesPerRow);
  if (s.width == 0 || s.height == 0 || bytesPerRow == 0) return;
  const unsigned lastMask = (s.width & 7) == 0 ? 0xFFu : (0xFF00u >> (s.width & 7)) & 0xFFu;

  std::vector<FillPoint> stack;
  stack.reserve(kInitialStack);
  std::vector<Run> runs;
  runs.reserve(kInitialStack);
  // Runs of small marks that stay in the section, each with the first row
  // below its mark: they are put back once the scan has gone past that row,
  // so the scan never meets them again and no other mark can reach them.
  std::vector<std::pair<long, Run>> held;
  auto putBack = [&](long row) {
    size_t kept = 0;
    for (const auto& [below, r] : held) {
      if (below <= row) FillBits<true>(s.Row(r.y), r.x0, r.x1);
      else held[kept++] = {below, r};
    }
    held.resize(kept);
  };

  for (long y = 0; y < s.height; ++y) {
    if (!held.empty()) putBack(y);
    const unsigned char* row = s.Row(y);
    for (long b = 0; b < bytesPerRow; ++b) {
      // Skip white stretches eight bytes at a time (never the masked last byte).
      while (b + 8 < bytesPerRow) {
        uint64_t word;
        std::memcpy(&word, row + b, sizeof word);
        if (word != 0) break;
        b += 8;
      }
      const unsigned mask = b == bytesPerRow - 1 ? lastMask : 0xFFu;
      unsigned v = row[b] & mask;
      while (v != 0) {
        const int bit = FirstBit(v);
        const long x = (b << 3) + bit;
        // The mark's runs are taken out first: their extent is its box.
        const Box box = TakeMark(s, x, y, &stack, &runs);
        if (box.width <= static_cast<long>(leaveSize) && box.height <= static_cast<long>(leaveSize)) {
          for (const Run& r : runs) held.push_back({box.top + box.height, r});
          if (left) ++*left;
        } else {
          if (*count == capacity) ReSizeArray(reinterpret_cast<void**>(marks), sizeof(SYMBOL), &capacity);
          SYMBOL* mark = *marks + *count;
          std::memset(mark, 0, sizeof *mark);
          CreateBMP(&mark->Bitmap, static_cast<unsigned long>(box.width), static_cast<unsigned long>(box.height), 0);
          for (const Run& r : runs)
            FillBits<true>(mark->Bitmap.pData + (r.y - box.top) * static_cast<long>(mark->Bitmap.lStride),
                           r.x0 - box.left, r.x1 - box.left);
          mark->lX = static_cast<int32_t>(box.left);
          mark->lY = static_cast<int32_t>(box.top);
          ++*count;
        }
        // Re-read the byte: the mark may have taken later pixels of it.
        v = row[b] & mask & (0xFFu >> (bit + 1));
      }
    }
  }
  putBack(s.height);
}

void ExtractAllSymbols(BMP* section, SYMBOL** marks, unsigned long* count) {
  ExtractSymbols(section, marks, count, 0, nullptr);
}

long FirstPixelColumn(const SYMBOL& mark) {
  const BMP& b = mark.Bitmap;
  const long found = FindPixel<true>(b.pData, 0, static_cast<long>(b.lWidth));
  return mark.lX + found;
}

int CompareSymbHeight(const void* a, const void* b) {
  const SYMBOL* sa = static_cast<const SYMBOL*>(a);
  const SYMBOL* sb = static_cast<const SYMBOL*>(b);
  // Only the sign matters; compare rather than subtract so large sizes cannot wrap.
  if (sa->Bitmap.lHeight != sb->Bitmap.lHeight) return sa->Bitmap.lHeight < sb->Bitmap.lHeight ? -1 : 1;
  if (sa->Bitmap.lWidth != sb->Bitmap.lWidth) return sa->Bitmap.lWidth < sb->Bitmap.lWidth ? -1 : 1;
  return 0;
}

void SortSymbolsByHeight(SYMBOL* marks, unsigned long count) {
  std::stable_sort(marks, marks + count,
                   [](const SYMBOL& a, const SYMBOL& b) { return CompareSymbHeight(&a, &b) < 0; });
}
