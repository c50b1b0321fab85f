// The reading guard of lossy text coding (see reading_guard.h).
#include "encoder/reading_guard.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
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
// axis (a's and b's black counts of each line across it, `a` and `b`): two
// lines differ in no fewer pixels than their counts do. Stops at `bound`.
int64_t ProfileBound(const std::vector<int32_t>& a, const std::vector<int32_t>& b, int64_t offset, int64_t bound) {
  const int64_t na = static_cast<int64_t>(a.size()), nb = static_cast<int64_t>(b.size());
  int64_t sum = 0;
  for (int64_t i = std::min<int64_t>(0, offset); i < std::max(na, nb + offset) && sum < bound; ++i) {
    const int64_t j = i - offset;
    sum += std::abs((i >= 0 && i < na ? a[i] : 0) - (j >= 0 && j < nb ? b[j] : 0));
  }
  return sum;
}

// The fewest differing pixels over the shifts a reader tries; `bound` when
// none is below it.
int64_t ReadingDistance(const Rows& a, const Rows& b, int64_t bound) {
  const int64_t cx = (int64_t{a.width} - b.width) / 2, cy = (int64_t{a.height} - b.height) / 2;
  constexpr int32_t kShifts = 2 * kReadingShift + 1;
  int64_t rowBound[kShifts], columnBound[kShifts];
  bool any = false;
  for (int32_t k = 0; k < kShifts; ++k) {
    rowBound[k] = ProfileBound(a.rowBlack, b.rowBlack, cy + k - kReadingShift, bound);
    any = any || rowBound[k] < bound;
  }
  if (!any) return bound;
  any = false;
  for (int32_t k = 0; k < kShifts; ++k) {
    columnBound[k] = ProfileBound(a.columnBlack, b.columnBlack, cx + k - kReadingShift, bound);
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
  for (size_t i = 0; i < count; ++i) {
    rows_[i] = std::make_unique<Rows>(marks[i].Bitmap);
    if (rows_[i]->black > 0) byBlack_.push_back(i);
  }
  std::stable_sort(byBlack_.begin(), byBlack_.end(),
                   [&](size_t a, size_t b) { return rows_[a]->black < rows_[b]->black; });
}

ReadingGuard::~ReadingGuard() = default;

const GateShape& ReadingGuard::ShapeOf(size_t mark) {
  if (!shapes_[mark]) shapes_[mark] = std::make_unique<GateShape>(marks_[mark].Bitmap, gate_);
  return *shapes_[mark];
}

void ReadingGuard::Search(const Rows& symbol, const GateShape& symbolShape, int64_t within, Known& known) {
  // Outward from the symbol's black count: a mark differs in at least the
  // difference of the counts.
  const auto start = std::lower_bound(byBlack_.begin(), byBlack_.end(), symbol.black,
                                      [&](size_t m, int64_t black) { return rows_[m]->black < black; });
  const int64_t limit = within + 1;
  for (auto up = start, down = start;;) {
    const int64_t upGap = up != byBlack_.end() ? rows_[*up]->black - symbol.black : limit;
    const int64_t downGap = down != byBlack_.begin() ? symbol.black - rows_[*(down - 1)]->black : limit;
    if (std::min(upGap, downGap) >= limit) break;
    const size_t m = upGap <= downGap ? *up++ : *--down;
    const int64_t d = ReadingDistance(symbol, *rows_[m], limit);
    if (d < limit && !PassesShapeGate(symbolShape, ShapeOf(m))) {
      known.nearest = std::min(known.nearest, d);
      return;
    }
  }
  known.searched = std::max(known.searched, limit);
}

bool ReadingGuard::Keeps(size_t mark, const BMP& symbol, const GateShape& symbolShape, GateAlignment at,
                         int64_t key) {
  const Rows& own = *rows_[mark];
  const Rows drawn(symbol);
  const int64_t x = (int64_t{own.width} - drawn.width) / 2 + at.dx;
  const int64_t y = (int64_t{own.height} - drawn.height) / 2 + at.dy;
  const int64_t distance = Differing(own, drawn, x, y, std::numeric_limits<int64_t>::max());
  Known fresh;
  Known& known = key >= 0 ? known_[key] : fresh;
  if (known.nearest <= distance) return false;
  if (distance >= known.searched) Search(drawn, symbolShape, distance, known);
  return distance < known.nearest;
}
