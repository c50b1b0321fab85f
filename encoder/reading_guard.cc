// The reading guard of lossy text coding (see reading_guard.h).
#include "encoder/reading_guard.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <functional>
#include <limits>

#include "kernels/bit_count.h"
#include "kernels/pixel_words.h"

namespace {

// A reader lines up two marks' boxes centred and tries shifts of up to this
// many pixels each way.
inline constexpr int32_t kReadingShift = 2;

}  // namespace

struct ReadingGuard::Rows {
  uint32_t width = 0, height = 0, words = 0;
  int64_t black = 0;
  std::vector<uint64_t> rows;
  std::vector<int32_t> rowBlack, columnBlack;
  std::vector<int64_t> rowsBefore, columnsBefore;  // black pixels before each row and column
  std::vector<int32_t> rowsSorted, columnsSorted;  // the counts, largest first

  explicit Rows(const BMP& b) : width(b.lWidth), height(b.lHeight), words((b.lWidth + 63) / 64) {
    rows.assign(size_t{words} * height, 0);
    rowBlack.assign(height, 0);
    columnBlack.assign(width, 0);
    for (uint32_t y = 0; y < height; ++y) {
      uint64_t* row = rows.data() + size_t{y} * words;
      AddRowWords(b, y, row);
      for (uint32_t w = 0; w < words; ++w) {
        rowBlack[y] += static_cast<int32_t>(CountBits(row[w]));
        for (uint64_t bits = row[w]; bits; bits &= bits - 1) ++columnBlack[64 * w + 63 - std::countr_zero(bits)];
      }
      black += rowBlack[y];
    }
    rowsBefore = Before(rowBlack);
    columnsBefore = Before(columnBlack);
    rowsSorted = rowBlack;
    columnsSorted = columnBlack;
    std::sort(rowsSorted.begin(), rowsSorted.end(), std::greater<int32_t>());
    std::sort(columnsSorted.begin(), columnsSorted.end(), std::greater<int32_t>());
  }

  static std::vector<int64_t> Before(const std::vector<int32_t>& counts) {
    std::vector<int64_t> before(counts.size() + 1, 0);
    for (size_t i = 0; i < counts.size(); ++i) before[i + 1] = before[i] + counts[i];
    return before;
  }
};

namespace {

using Rows = ReadingGuard::Rows;

// Pixels that differ between a and b, b's top-left corner at (x, y) of a's
// box; `bound` (or more) when they are at least that many.
int64_t Differing(const Rows& a, const Rows& b, int64_t x, int64_t y, int64_t bound) {
  const int64_t first = std::max<int64_t>(0, y), last = std::min<int64_t>(a.height, y + b.height);
  // Rows overlap at most by their smaller black count.
  int64_t most = 0;
  for (int64_t py = first; py < last; ++py) most += std::min(a.rowBlack[py], b.rowBlack[py - y]);
  if (a.black + b.black - 2 * most >= bound) return bound;
  int64_t both = 0;
  for (int64_t py = first; py < last; ++py) {
    const uint64_t* row = a.rows.data() + static_cast<size_t>(py) * a.words;
    const uint64_t* other = b.rows.data() + static_cast<size_t>(py - y) * b.words;
    for (uint32_t w = 0; w < a.words; ++w)
      if (row[w]) both += CountBits(row[w] & PixelsAt(other, b.words, int64_t{64} * w - x));
  }
  return std::min(bound, a.black + b.black - 2 * both);
}

// At least the pixels that differ with b's box moved by `offset` along one
// axis (a's and b's black counts of each line across it, `a` and `b`, with
// the counts before each line): two lines differ in no fewer pixels than
// their counts do. Stops at `bound`.
int64_t ProfileBound(const std::vector<int32_t>& a, const std::vector<int64_t>& aBefore,
                     const std::vector<int32_t>& b, const std::vector<int64_t>& bBefore, int64_t offset,
                     int64_t bound) {
  const int64_t na = static_cast<int64_t>(a.size()), nb = static_cast<int64_t>(b.size());
  // Line i of a meets line i - offset of b where both exist; the lines of
  // either outside the other count whole.
  const int64_t lo = std::clamp<int64_t>(offset, 0, na), hi = std::clamp<int64_t>(nb + offset, lo, na);
  int64_t sum = aBefore[lo] + (aBefore[na] - aBefore[hi]);
  sum += bBefore[std::clamp<int64_t>(-offset, 0, nb)] + (bBefore[nb] - bBefore[std::clamp<int64_t>(na - offset, 0, nb)]);
  if (lo == hi) return sum;
  const int32_t* pa = a.data() + lo;
  const int32_t* pb = b.data() + (lo - offset);
  for (int64_t i = 0, n = hi - lo; i < n && sum < bound;) {
    const int64_t end = std::min(n, i + 16);
    int32_t part = 0;
    for (; i < end; ++i) part += std::abs(pa[i] - pb[i]);
    sum += part;
  }
  return sum;
}

// At least the pixels that differ at any shift: lines paired in any order
// differ in their counts at least as much as lines paired largest with
// largest (the lines past the shorter list paired with none).
int64_t SortedBound(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
  const size_t common = std::min(a.size(), b.size());
  int64_t sum = 0;
  for (size_t i = 0; i < common; ++i) sum += std::abs(a[i] - b[i]);
  for (size_t i = common; i < a.size(); ++i) sum += a[i];
  for (size_t i = common; i < b.size(); ++i) sum += b[i];
  return sum;
}

// The fewest differing pixels over the shifts a reader tries; `bound` when
// none is below it.
int64_t ReadingDistance(const Rows& a, const Rows& b, int64_t bound) {
  if (SortedBound(a.rowsSorted, b.rowsSorted) >= bound || SortedBound(a.columnsSorted, b.columnsSorted) >= bound)
    return bound;
  const int64_t cx = (int64_t{a.width} - b.width) / 2, cy = (int64_t{a.height} - b.height) / 2;
  constexpr int32_t kShifts = 2 * kReadingShift + 1;
  int64_t rowBound[kShifts], columnBound[kShifts];
  bool any = false;
  for (int32_t k = 0; k < kShifts; ++k) {
    rowBound[k] = ProfileBound(a.rowBlack, a.rowsBefore, b.rowBlack, b.rowsBefore, cy + k - kReadingShift, bound);
    any = any || rowBound[k] < bound;
  }
  if (!any) return bound;
  any = false;
  for (int32_t k = 0; k < kShifts; ++k) {
    columnBound[k] =
        ProfileBound(a.columnBlack, a.columnsBefore, b.columnBlack, b.columnsBefore, cx + k - kReadingShift, bound);
    any = any || columnBound[k] < bound;
  }
  if (!any) return bound;
  int64_t best = bound;
  for (int32_t dy = 0; dy < kShifts && best > 0; ++dy)
    for (int32_t dx = 0; dx < kShifts && best > 0; ++dx)
      if (std::max(rowBound[dy], columnBound[dx]) < best)
        best = Differing(a, b, cx + dx - kReadingShift, cy + dy - kReadingShift, best);
  return best;
}

}  // namespace

ReadingGuard::ReadingGuard(const SYMBOL* marks, size_t count, const GateSettings& gate)
    : marks_(marks), gate_(gate), rows_(count), shapes_(count) {
  std::vector<int64_t> black(count);
  for (size_t i = 0; i < count; ++i) {
    black[i] = AreaBMP(const_cast<BMP*>(&marks[i].Bitmap));
    if (black[i] > 0) byBlack_.push_back(i);
  }
  std::stable_sort(byBlack_.begin(), byBlack_.end(), [&](size_t a, size_t b) { return black[a] < black[b]; });
  blackSorted_.reserve(byBlack_.size());
  for (size_t m : byBlack_) blackSorted_.push_back(black[m]);
}

ReadingGuard::~ReadingGuard() = default;

const ReadingGuard::Rows& ReadingGuard::RowsOf(size_t mark) {
  if (!rows_[mark]) rows_[mark] = std::make_unique<Rows>(marks_[mark].Bitmap);
  return *rows_[mark];
}

const GateShape& ReadingGuard::ShapeOf(size_t mark) {
  if (!shapes_[mark]) shapes_[mark] = std::make_unique<GateShape>(marks_[mark].Bitmap, gate_);
  return *shapes_[mark];
}

void ReadingGuard::Search(const Rows& symbol, const GateShape& symbolShape, int64_t within, Known& known) {
  // Outward from the symbol's black count: a mark differs in at least the
  // difference of the counts.
  const size_t start =
      static_cast<size_t>(std::lower_bound(blackSorted_.begin(), blackSorted_.end(), symbol.black) - blackSorted_.begin());
  const int64_t limit = within + 1;
  for (size_t up = start, down = start;;) {
    const int64_t upGap = up < blackSorted_.size() ? blackSorted_[up] - symbol.black : limit;
    const int64_t downGap = down > 0 ? symbol.black - blackSorted_[down - 1] : limit;
    if (std::min(upGap, downGap) >= limit) break;
    const size_t m = upGap <= downGap ? byBlack_[up++] : byBlack_[--down];
    const int64_t d = ReadingDistance(symbol, RowsOf(m), limit);
    if (d < limit && !PassesShapeGate(symbolShape, ShapeOf(m))) {
      known.nearest = std::min(known.nearest, d);
      return;
    }
  }
  known.searched = std::max(known.searched, limit);
}

bool ReadingGuard::Keeps(size_t mark, const BMP& symbol, const GateShape& symbolShape, GateAlignment at,
                         int64_t key) {
  const Rows& own = RowsOf(mark);
  std::unique_ptr<Rows>& kept = symbols_[key];
  if (!kept) kept = std::make_unique<Rows>(symbol);
  const Rows& drawn = *kept;
  const int64_t x = (int64_t{own.width} - drawn.width) / 2 + at.dx;
  const int64_t y = (int64_t{own.height} - drawn.height) / 2 + at.dy;
  const int64_t distance = Differing(own, drawn, x, y, std::numeric_limits<int64_t>::max());
  Known& known = known_[key];
  if (known.nearest <= distance) return false;
  if (distance >= known.searched) Search(drawn, symbolShape, distance, known);
  return distance < known.nearest;
}
