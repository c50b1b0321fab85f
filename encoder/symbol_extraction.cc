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
#include "kernels/pixel_words.h"

namespace {

inline constexpr unsigned long kInitialMarks = 1024;  // first room of the mark array
inline constexpr size_t kInitialRuns = 1024;          // first room of a mark's runs
// A mark of more runs than this (a dithered picture's dark areas join into
// one mark of millions of runs) is drawn into a section-sized bitmap as it
// is taken instead of being held as runs.
inline constexpr size_t kMaxHeldRuns = 1u << 16;
// Runs found beyond this many that still wait for their neighbours to be
// looked at are left in the section, and found again afterwards by a scan of
// the mark's box for pixels that touch it. Less than kMaxHeldRuns, so that
// drawing a large mark's runs always frees room.
inline constexpr size_t kMaxWaitingRuns = kMaxHeldRuns / 2;

// The section being taken apart: its pixels and size, as signed values.
struct Section {
  unsigned char* data;
  long stride;
  long width;
  long height;
  long bytesPerRow;

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

// Columns [8b, 8b + 64) of a row as one word, the first column in the top
// bit; columns at or past the section's width read white.
uint64_t Window(const Section& s, const unsigned char* row, long b) {
  uint64_t w = 0;
  if (b + 8 <= s.width >> 3) return LoadPixels64(row + b);  // all within the width
  for (long i = b; i < s.bytesPerRow && i < b + 8; ++i) w |= uint64_t{row[i]} << (56 - 8 * (i - b));
  const long past = (b << 3) + 64 - s.width;  // columns of the word at or past the width
  return past >= 64 ? 0 : w & ~uint64_t{0} << past;
}

// Sets (kSet) or clears the pixels of `bits`, a word laid out as Window's, in
// a row of `bytesPerRow` bytes.
template <bool kSet>
void ApplyWindow(unsigned char* row, long b, long bytesPerRow, uint64_t bits) {
  if (b + 8 <= bytesPerRow) {
    const uint64_t w = LoadPixels64(row + b);
    StorePixels64(row + b, kSet ? w | bits : w & ~bits);
    return;
  }
  for (long i = b; i < bytesPerRow; ++i) {
    const auto byte = static_cast<unsigned char>(bits >> (56 - 8 * (i - b)));
    row[i] = static_cast<unsigned char>(kSet ? row[i] | byte : row[i] & ~byte);
  }
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
  int32_t y;  // columns and rows of a section fit: at most 2^20 (kMaxBmpDimension)
  int32_t x0;
  int32_t x1;
};

// The runs of the mark being taken, in an array kept from mark to mark.
struct RunList {
  Run* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  RunList() = default;
  RunList(const RunList&) = delete;
  RunList& operator=(const RunList&) = delete;
  ~RunList() { std::free(data); }
  const Run* begin() const { return data; }
  const Run* end() const { return data + size; }
  // Doubles the room, keeping the runs; returns the new array.
  Run* Grow() {
    const size_t more = std::max(2 * capacity, kInitialRuns);
    data = Checked(static_cast<Run*>(std::realloc(data, more * sizeof(Run))));
    capacity = more;
    return data;
  }
};

// The columns and rows that runs reach, inclusive.
struct Bounds {
  long minX, maxX, minY, maxY;
  void Add(const Run* first, const Run* last) {
    int32_t x0 = static_cast<int32_t>(minX), x1 = static_cast<int32_t>(maxX + 1);
    int32_t y0 = static_cast<int32_t>(minY), y1 = static_cast<int32_t>(maxY);
    for (const Run* r = first; r != last; ++r) {
      x0 = std::min(x0, r->x0);
      x1 = std::max(x1, r->x1);
      y0 = std::min(y0, r->y);
      y1 = std::max(y1, r->y);
    }
    minX = x0, maxX = x1 - 1, minY = y0, maxY = y1;
  }
};

// Where the runs of a large mark go: a white bitmap of the section's size,
// made on first use and kept white between marks. Once a mark is drawn here,
// its further runs are drawn as they are taken.
struct Spill {
  BMP page{};
  bool used = false;  // the current mark's runs are (partly) here
  ~Spill() { DestroyBMP(&page); }
  unsigned char* Row(long y) const { return page.pData + y * static_cast<long>(page.lStride); }
  void Draw(const Section& s, const Run* first, const Run* last) {
    if (!page.pData) CreateBMPChecked(&page, static_cast<unsigned long>(s.width), static_cast<unsigned long>(s.height), 0);
    for (const Run* r = first; r != last; ++r) FillBits<true>(Row(r->y), r->x0, r->x1);
    used = true;
  }
};

// Takes every black pixel 8-connected to (x, y) out of the section, as runs
// in `list` (or drawn into `spill`), and returns the bounding box of the mark
// they form. A run leaves the section the moment it is found and waits at the
// end of the list until its neighbours are looked for, once.
Box TakeMark(const Section& section, long x, long y, RunList* list, Spill* spill) {
  // Copies of the section and the list that pixel writes cannot alias.
  const Section s = section;
  Run* runs = list->data;
  size_t size = 0, capacity = list->capacity;
  size_t next = 0;  // runs[next..size) wait for their neighbours to be looked for
  Bounds box{x, x, y, y};  // (x, y) and the runs gone from the list so far
  bool dropped = false;
  // Records columns [x0, x1), a black run of row `ry`, as taken; the caller
  // clears them in the section (and draws them on the spill bitmap once that
  // is in use) when this returns true. With too many runs waiting the run
  // stays in the section, to be found again.
  auto take = [&](long ry, long x0, long x1) __attribute__((always_inline)) {
    if (size - next >= kMaxWaitingRuns) {
      dropped = true;
      return false;
    }
    if (size == capacity) {
      runs = list->Grow();
      capacity = list->capacity;
    }
    runs[size++] = {static_cast<int32_t>(ry), static_cast<int32_t>(x0), static_cast<int32_t>(x1)};
    return true;
  };
  auto takeRun = [&](unsigned char* row, long ry, long x0, long x1) {
    if (!take(ry, x0, x1)) return;
    FillBits<false>(row, x0, x1);
    if (spill->used) FillBits<true>(spill->Row(ry), x0, x1);
  };
  // Takes the black runs of row `ry` that have a pixel in columns [from, to).
  // Only a run found at `from` can start further left.
  auto takeRuns = [&](long ry, long from, long to) {
    unsigned char* row = s.Row(ry);
    for (long c = FindPixel<true>(row, from, to); c < to; c = FindPixel<true>(row, c, to)) {
      const long x0 = c == from ? RunStart(row, c) : c;
      c = FindPixel<false>(row, c, s.width);
      takeRun(row, ry, x0, c);
    }
  };
  // The same for columns [from, to) within the word of columns from `base`
  // (a multiple of 8): `pixels` is that word of the row, `found` its pixels
  // in [from, to). The runs are found by bit arithmetic, and those that lie
  // within the word cleared at once.
  auto takeWordRuns = [&](unsigned char* row, long ry, long base, long from, uint64_t pixels, uint64_t found)
                          __attribute__((always_inline)) {
    uint64_t taken = 0;
    while (found != 0) {
      const int k = std::countl_zero(found);
      const int e = k + std::countl_zero(~(pixels << k));  // 64: black to the end of the word
      long x0 = base + k;
      if (x0 == from) {
        const int before = k == 0 ? 0 : std::countr_one(pixels >> (64 - k));
        x0 = before == k ? RunStart(row, base) : x0 - before;
      }
      const long x1 = e < 64 ? base + e : FindPixel<false>(row, base + 64, s.width);
      if (x0 < base || e == 64) takeRun(row, ry, x0, x1);  // it reaches out of the word
      else if (take(ry, x0, x1)) taken |= (~uint64_t{0} >> (x0 - base)) & ~(~uint64_t{0} >> e);
      if (e == 64) break;
      found &= ~uint64_t{0} >> e;
    }
    if (taken != 0) {
      ApplyWindow<false>(row, base >> 3, s.bytesPerRow, taken);
      if (spill->used) ApplyWindow<true>(spill->Row(ry), base >> 3, s.bytesPerRow, taken);
    }
  };
  {
    unsigned char* row = s.Row(y);
    takeRun(row, y, RunStart(row, x), FindPixel<false>(row, x, s.width));
  }
  for (;;) {
    while (next < size) {
      const Run r = runs[next++];
      // Runs of the rows above and below that touch this run, diagonals included.
      const long from = std::max(r.x0 - 1, 0);
      const long to = std::min<long>(r.x1 + 1, s.width);
      const long base = from & ~7L;
      if (to - base <= 64) {
        const uint64_t cols = (~uint64_t{0} >> (from - base)) & (~uint64_t{0} << (64 - (to - base)));
        unsigned char* above = r.y > 0 ? s.Row(r.y - 1) : nullptr;
        unsigned char* below = r.y + 1 < s.height ? s.Row(r.y + 1) : nullptr;
        const uint64_t up = above ? Window(s, above, base >> 3) : 0;
        const uint64_t down = below ? Window(s, below, base >> 3) : 0;
        if ((up & cols) != 0) takeWordRuns(above, r.y - 1, base, from, up, up & cols);
        if ((down & cols) != 0) takeWordRuns(below, r.y + 1, base, from, down, down & cols);
      } else {
        if (r.y > 0) takeRuns(r.y - 1, from, to);
        if (r.y + 1 < s.height) takeRuns(r.y + 1, from, to);
      }
      if (size >= kMaxHeldRuns) {
        // A large mark: its runs go to the spill bitmap, and only those
        // still waiting stay.
        if (!spill->used) spill->Draw(s, runs, runs + size);
        box.Add(runs, runs + next);
        std::memmove(runs, runs + next, (size - next) * sizeof(Run));
        size -= next;
        next = 0;
      }
    }
    if (!dropped) break;
    // Find what was left: black runs of the section next to a pixel taken so
    // far (all of them on the spill bitmap now) belong to this mark.
    dropped = false;
    if (!spill->used) spill->Draw(s, runs, runs + size);
    box.Add(runs, runs + size);
    size = next = 0;
    const long left = std::max(box.minX - 1, 0L), right = std::min(box.maxX + 2, s.width);
    const long top = std::max(box.minY - 1, 0L), bottom = std::min(box.maxY + 1, s.height - 1);
    for (long ny = top; ny <= bottom; ++ny) {
      unsigned char* row = s.Row(ny);
      for (long c = FindPixel<true>(row, left, right); c < right; c = FindPixel<true>(row, c, right)) {
        const long end = FindPixel<false>(row, c, right);
        const long from = std::max(c - 1, 0L), to = std::min(end + 1, s.width);
        bool touches = false;
        for (long sy = std::max(ny - 1, 0L); sy <= std::min(ny + 1, s.height - 1) && !touches; ++sy)
          touches = FindPixel<true>(spill->Row(sy), from, to) < to;
        if (touches) takeRun(row, ny, c == left ? RunStart(row, c) : c, FindPixel<false>(row, c, s.width));
        c = end;
      }
    }
  }
  box.Add(runs, runs + size);
  list->size = spill->used ? 0 : size;
  return Box{box.minX, box.minY, box.maxX - box.minX + 1, box.maxY - box.minY + 1};
}

}  // namespace

void ExtractSymbols(BMP* section, SYMBOL** marks, unsigned long* count, uint32_t leaveSize, unsigned long* left) {
  *count = 0;
  if (left) *left = 0;
  unsigned long capacity = kInitialMarks;
  *marks = Checked(static_cast<SYMBOL*>(std::malloc(capacity * sizeof(SYMBOL))));

  const Section s{section->pData, static_cast<long>(section->lStride), static_cast<long>(section->lWidth),
                  static_cast<long>(section->lHeight), static_cast<long>(section->lBytesPerRow)};
  const long bytesPerRow = s.bytesPerRow;
  if (s.width == 0 || s.height == 0 || bytesPerRow == 0) return;
  const unsigned lastMask = (s.width & 7) == 0 ? 0xFFu : (0xFF00u >> (s.width & 7)) & 0xFFu;

  RunList runs;
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
        const Box box = TakeMark(s, x, y, &runs, &spill);
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
