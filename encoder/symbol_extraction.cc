// Mark extraction for text regions: every 8-connected group of black pixels
// of a section becomes one symbol instance (the SYMBOL records of symbol.h).
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/checked_alloc.h"
#include "common/messages.h"
#include "encoder/symbol.h"

namespace {

inline constexpr unsigned long kInitialMarks = 1024;  // first room of the mark array
inline constexpr size_t kInitialStack = 1024;         // first room of the fill stack
// A mark of more runs than this (a dithered picture's dark areas join into
// one mark of millions of runs) is drawn into a section-sized bitmap as it
// is taken instead of being held as runs.
inline constexpr size_t kMaxHeldRuns = 1u << 16;
// Fill stack entries beyond this are dropped, and found again afterwards by
// a scan of the mark's box for pixels that touch it.
inline constexpr size_t kMaxStack = 1u << 19;

struct FillPoint {
  int32_t x;  // columns and rows of a section fit: at most 2^20 (kMaxBmpDimension)
  int32_t y;
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

// Where the runs of a large mark go: a white bitmap of the section's size,
// made on first use and kept white between marks.
struct Spill {
  BMP page{};
  bool used = false;  // the current mark's runs are (partly) here
  ~Spill() { DestroyBMP(&page); }
  void Draw(const Section& s, std::vector<Run>* runs) {
    if (!page.pData) CreateBMPChecked(&page, static_cast<unsigned long>(s.width), static_cast<unsigned long>(s.height), 0);
    for (const Run& r : *runs) FillBits<true>(page.pData + r.y * static_cast<long>(page.lStride), r.x0, r.x1);
    runs->clear();
    used = true;
  }
};

// Takes every black pixel 8-connected to (x, y) out of the section, as runs
// in `runs` (or drawn into `spill`), and returns the bounding box of the mark
// they form.
Box TakeMark(const Section& s, long x, long y, std::vector<FillPoint>* stack, std::vector<Run>* runs, Spill* spill) {
  stack->clear();
  runs->clear();
  stack->push_back({static_cast<int32_t>(x), static_cast<int32_t>(y)});
  long minX = x, maxX = x, minY = y, maxY = y;
  bool dropped = false;
  auto push = [&](long c, long ny) {
    if (stack->size() < kMaxStack) stack->push_back({static_cast<int32_t>(c), static_cast<int32_t>(ny)});
    else dropped = true;
  };
  for (;;) {
    while (!stack->empty()) {
      const FillPoint p = stack->back();
      stack->pop_back();
      unsigned char* row = s.Row(p.y);
      if ((row[p.x >> 3] & ConstMask1[p.x & 7]) == 0) continue;  // taken by an earlier run
      const long runStart = RunStart(row, p.x);
      const long runEnd = FindPixel<false>(row, p.x, s.width);
      FillBits<false>(row, runStart, runEnd);
      runs->push_back({p.y, runStart, runEnd});
      if (runs->size() >= kMaxHeldRuns) spill->Draw(s, runs);
      minX = std::min(minX, runStart);
      maxX = std::max(maxX, runEnd - 1);
      minY = std::min<long>(minY, p.y);
      maxY = std::max<long>(maxY, p.y);
      // Runs of the rows above and below that touch this run, diagonals included.
      const long from = std::max(runStart - 1, 0L);
      const long to = std::min(runEnd + 1, s.width);
      for (long ny = p.y - 1; ny <= p.y + 1; ny += 2) {
        if (ny < 0 || ny >= s.height) continue;
        const unsigned char* other = s.Row(ny);
        for (long c = FindPixel<true>(other, from, to); c < to; c = FindPixel<true>(other, c, to)) {
          push(c, ny);
          c = FindPixel<false>(other, c, to);
        }
      }
    }
    if (!dropped) break;
    // Find what the full stack dropped: black runs of the section next to a
    // pixel taken so far (all of them on the spill bitmap now) belong to
    // this mark.
    dropped = false;
    spill->Draw(s, runs);
    const long left = std::max(minX - 1, 0L), right = std::min(maxX + 2, s.width);
    for (long ny = std::max(minY - 1, 0L); ny <= std::min(maxY + 1, s.height - 1); ++ny) {
      const unsigned char* row = s.Row(ny);
      for (long c = FindPixel<true>(row, left, right); c < right; c = FindPixel<true>(row, c, right)) {
        const long end = FindPixel<false>(row, c, right);
        const long from = std::max(c - 1, 0L), to = std::min(end + 1, s.width);
        for (long sy = std::max(ny - 1, 0L); sy <= std::min(ny + 1, s.height - 1); ++sy) {
          const unsigned char* taken = spill->page.pData + sy * static_cast<long>(spill->page.lStride);
          if (FindPixel<true>(taken, from, to) < to) {
            push(c, ny);
            break;
          }
        }
        c = end;
      }
    }
  }
  if (spill->used) spill->Draw(s, runs);
  return Box{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

}  // namespace

void ExtractSymbols(BMP* section, SYMBOL** marks, unsigned long* count, uint32_t leaveSize, unsigned long* left) {
  *count = 0;
  if (left) *left = 0;
  unsigned long capacity = kInitialMarks;
  *marks = Checked(static_cast<SYMBOL*>(std::malloc(capacity * sizeof(SYMBOL))));

  const Section s{section->pData, static_cast<long>(section->lStride), static_cast<long>(section->lWidth),
                  static_cast<long>(section->lHeight)};
  const long bytesPerRow = static_cast<long>(section->lBytesPerRow);
  if (s.width == 0 || s.height == 0 || bytesPerRow == 0) return;
  const unsigned lastMask = (s.width & 7) == 0 ? 0xFFu : (0xFF00u >> (s.width & 7)) & 0xFFu;

  std::vector<FillPoint> stack;
  stack.reserve(kInitialStack);
  std::vector<Run> runs;
  runs.reserve(kInitialStack);
  Spill spill;
  // Runs of small marks that stay in the section, filed by the first row
  // below their mark (modulo kHeldRows): they are put back once the scan has
  // gone past that row, so the scan never meets them again and no other
  // mark can reach them.
  static constexpr long kHeldRows = 4;
  std::vector<Run> held[kHeldRows];
  const bool holding = leaveSize > 0 && leaveSize < kHeldRows;
  auto putBack = [&](long below) {
    std::vector<Run>& due = held[below % kHeldRows];
    for (const Run& r : due) FillBits<true>(s.Row(r.y), r.x0, r.x1);
    due.clear();
  };
  for (long y = 0; y < s.height; ++y) {
    if (holding) putBack(y);
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
        const Box box = TakeMark(s, x, y, &stack, &runs, &spill);
        if (holding && box.width <= static_cast<long>(leaveSize) && box.height <= static_cast<long>(leaveSize)) {
          held[(box.top + box.height) % kHeldRows].insert(held[(box.top + box.height) % kHeldRows].end(), runs.begin(), runs.end());
          if (left) ++*left;
        } else {
          if (*count == capacity) ReSizeArray(reinterpret_cast<void**>(marks), sizeof(SYMBOL), &capacity);
          SYMBOL* mark = *marks + *count;
          std::memset(mark, 0, sizeof *mark);
          CreateBMPChecked(&mark->Bitmap, static_cast<unsigned long>(box.width), static_cast<unsigned long>(box.height), 0);
          for (const Run& r : runs)
            FillBits<true>(mark->Bitmap.pData + (r.y - box.top) * static_cast<long>(mark->Bitmap.lStride),
                           r.x0 - box.left, r.x1 - box.left);
          if (spill.used) {
            // Only this mark's pixels lie in its box on the spill bitmap.
            ExtractRegion(&mark->Bitmap, &spill.page, box.left, box.top);
            ClearRegion(&spill.page, box.left, box.top, static_cast<unsigned long>(box.width),
                        static_cast<unsigned long>(box.height));
            spill.used = false;
          }
          mark->lX = static_cast<int32_t>(box.left);
          mark->lY = static_cast<int32_t>(box.top);
          ++*count;
        }
        // Re-read the byte: the mark may have taken later pixels of it.
        v = row[b] & mask & (0xFFu >> (bit + 1));
      }
    }
  }
  for (long below = s.height; below < s.height + kHeldRows; ++below) putBack(below);
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
