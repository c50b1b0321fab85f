// The shape gate of lossy text coding (see shape_gate.h).
#include "encoder/shape_gate.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "kernels/bit_count.h"
#include "kernels/pixel_words.h"

namespace {

inline constexpr double kMetresPerInch = 0.0254;
inline constexpr uint32_t kSmallRows = 14;   // per unit of r
inline constexpr int64_t kSmallBlack = 40;   // per unit of r squared
inline constexpr int32_t kMaxTolerance = 16; // 4800 dpi; larger r is no gate at all

}  // namespace

bool MatchedOnlyExactly(uint32_t width, uint32_t height, int64_t black, const GateSettings& settings) {
  const int64_t r = std::clamp(settings.tolerance, 1, kMaxTolerance);
  // Bars (I, l, 1, and strokes split off by noise) differ from one
  // another by a row or a serif: narrow marks are compared as small ones.
  return settings.exactSmallMarks &&
         (height < kSmallRows * r || black < kSmallBlack * r * r || 2 * int64_t{width} < height);
}

int32_t GateTolerance(uint32_t pixelsPerMetre) {
  const double dpi = pixelsPerMetre ? pixelsPerMetre * kMetresPerInch : 300.0;
  return std::clamp(static_cast<int32_t>(std::lround(dpi / 300.0)), 1, kMaxTolerance);
}

namespace {

// The black runs of a row of `words` words (spare bits clear), as first and
// last columns.
void RowRuns(const uint64_t* row, uint32_t words, std::vector<std::pair<int64_t, int64_t>>* runs) {
  const int64_t end = int64_t{64} * words;
  int64_t x = 0;
  while (x < end) {
    const uint64_t black = PixelsAt(row, words, x);
    if (!black) {
      x += 64;
      continue;
    }
    x += std::countl_zero(black);
    int64_t e = x;
    while (PixelsAt(row, words, e) == ~uint64_t{0}) e += 64;
    e += std::countl_zero(~PixelsAt(row, words, e));
    runs->emplace_back(x, e - 1);
    x = e;
  }
}

int64_t FindRoot(std::vector<int64_t>& parent, int64_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

// The topology of word rows (`words` per row) of a w x h box. The pieces
// are counted by joining runs that touch (8-connected); the holes follow
// from the Euler number, which for 8-connected black and 4-connected white
// is pieces minus holes, counted from the 2 x 2 windows over the box and a
// white margin (one black pixel: +1, three: -1, two diagonal: -2, all / 4).
GateTopology RowsTopology(const std::vector<uint64_t>& rows, uint32_t words, uint32_t width, uint32_t height) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  std::vector<int64_t> parent;
  size_t previous = 0;  // first run of the row above
  int64_t pieces = 0, quads = 0;
  const std::vector<uint64_t> blank(words, 0);
  for (uint32_t y = 0; y <= height; ++y) {
    const uint64_t* above = y > 0 ? rows.data() + size_t{y - 1} * words : blank.data();
    const uint64_t* row = y < height ? rows.data() + size_t{y} * words : blank.data();
    // Windows whose left column is c - 1, for c from 0 to width.
    for (int64_t c = 0; c <= int64_t{width}; c += 64) {
      const uint64_t a0 = PixelsAt(above, words, c - 1), a1 = PixelsAt(above, words, c);
      const uint64_t b0 = PixelsAt(row, words, c - 1), b1 = PixelsAt(row, words, c);
      const uint64_t odd = a0 ^ a1 ^ b0 ^ b1;
      const uint64_t two = (a0 & a1) | (a0 & b0) | (a0 & b1) | (a1 & b0) | (a1 & b1) | (b0 & b1);
      const uint64_t diagonal = (a0 & b1 & ~a1 & ~b0) | (a1 & b0 & ~a0 & ~b1);
      const int64_t left = int64_t{width} + 1 - c;  // windows left in the row
      const uint64_t valid = left >= 64 ? ~uint64_t{0} : ~(~uint64_t{0} >> left);
      quads += int64_t{CountBits(odd & ~two & valid)} - int64_t{CountBits(odd & two & valid)} -
               2 * int64_t{CountBits(diagonal & valid)};
    }
    if (y == height) break;
    const size_t first = runs.size();
    RowRuns(row, words, &runs);
    for (size_t k = first; k < runs.size(); ++k) parent.push_back(static_cast<int64_t>(k));
    pieces += static_cast<int64_t>(runs.size() - first);
    // Runs of this row and the row above touch when they overlap or meet
    // at a corner.
    for (size_t i = previous, k = first; i < first && k < runs.size();) {
      if (runs[i].first <= runs[k].second + 1 && runs[k].first <= runs[i].second + 1) {
        const int64_t ri = FindRoot(parent, static_cast<int64_t>(i)), rk = FindRoot(parent, static_cast<int64_t>(k));
        if (ri != rk) {
          parent[std::max(ri, rk)] = std::min(ri, rk);
          --pieces;
        }
      }
      if (runs[i].second < runs[k].second) ++i;
      else ++k;
    }
    previous = first;
  }
  GateTopology t;
  t.pieces = static_cast<int32_t>(pieces);
  t.holes = static_cast<int32_t>(pieces - quads / 4);
  return t;
}

// One-pixel bumps taken away and one-pixel pits (white pixels with three or
// four black 4-neighbours) filled, from the rows as they were; pixels
// outside the box are white. With `keepStrokes` a bump is a black pixel
// with at most one black 4-neighbour whose removal leaves the pieces and
// holes around it as they were (its black 8-neighbours make one run around
// it: an 8-connectivity number of 1), so a stroke one pixel thick running
// diagonally stays; without, every such pixel goes.
std::vector<uint64_t> SmoothRows(const std::vector<uint64_t>& rows, uint32_t words, uint32_t width,
                                 uint32_t height, bool keepStrokes) {
  std::vector<uint64_t> out(rows.size());
  const uint64_t lastValid = width % 64 ? ~uint64_t{0} << (64 - width % 64) : ~uint64_t{0};
  const std::vector<uint64_t> blank(words, 0);
  for (uint32_t y = 0; y < height; ++y) {
    const uint64_t* row = rows.data() + size_t{y} * words;
    const uint64_t* above = y > 0 ? row - words : blank.data();
    const uint64_t* below = y + 1 < height ? row + words : blank.data();
    for (uint32_t w = 0; w < words; ++w) {
      const int64_t c = int64_t{64} * w;
      const uint64_t u = above[w], d = below[w];
      const uint64_t l = PixelsAt(row, words, c - 1), r = PixelsAt(row, words, c + 1);
      const uint64_t two = (u & d) | ((u | d) & (l | r)) | (l & r);
      const uint64_t three = (u & d & (l | r)) | (l & r & (u | d));
      const uint64_t valid = w + 1 == words ? lastValid : ~uint64_t{0};
      uint64_t keep = two;
      if (keepStrokes) {
        // Around the ring E, NE, N, NW, W, SW, S, SE: a run of black
        // starts after each white 4-neighbour followed by black.
        const uint64_t ul = PixelsAt(above, words, c - 1), ur = PixelsAt(above, words, c + 1);
        const uint64_t dl = PixelsAt(below, words, c - 1), dr = PixelsAt(below, words, c + 1);
        const uint64_t t1 = ~r & (ur | u), t3 = ~u & (ul | l), t5 = ~l & (dl | d), t7 = ~d & (dr | r);
        const uint64_t atLeastTwo = (t1 & t3) | (t1 & t5) | (t1 & t7) | (t3 & t5) | (t3 & t7) | (t5 & t7);
        const uint64_t oneRun = (t1 ^ t3 ^ t5 ^ t7) & ~atLeastTwo;
        keep |= ~oneRun;
      }
      out[size_t{y} * words + w] = ((row[w] & keep) | (~row[w] & three)) & valid;
    }
  }
  return out;
}

}  // namespace

GateTopology MarkTopology(const BMP& mark) {
  const uint32_t words = (mark.lWidth + 63) / 64;
  std::vector<uint64_t> rows(size_t{words} * mark.lHeight, 0);
  for (uint32_t y = 0; y < mark.lHeight; ++y) AddRowWords(mark, y, rows.data() + size_t{y} * words);
  return RowsTopology(rows, words, mark.lWidth, mark.lHeight);
}

GateShape::GateShape(const BMP& mark, const GateSettings& settings)
    : width_(mark.lWidth),
      height_(mark.lHeight),
      words_((mark.lWidth + 63) / 64),
      r_(std::clamp(settings.tolerance, 0, kMaxTolerance)),
      dilatedWords_((mark.lWidth + 2 * static_cast<uint32_t>(r_) + 63) / 64),
      black_(0),
      topology_{},
      small_(false),
      rows_(size_t{words_} * height_, 0) {
  for (uint32_t y = 0; y < height_; ++y) {
    uint64_t* row = rows_.data() + size_t{y} * words_;
    AddRowWords(mark, y, row);
    for (uint32_t w = 0; w < words_; ++w) black_ += CountBits(row[w]);
  }
  small_ = MatchedOnlyExactly(width_, height_, black_, settings);
  boxWidth_ = width_;
  boxHeight_ = height_;
  if (small_) return;  // compared pixel for pixel only
  if (settings.smooth) {
    // Noise that breaks or closes a thin stroke does so for the marks of
    // one character alike, not across two: their topology with every bump
    // gone, thin strokes with it, must agree too.
    if (settings.checkTopology)
      strokelessTopology_ = RowsTopology(SmoothRows(rows_, words_, width_, height_, false), words_, width_, height_);
    rows_ = SmoothRows(rows_, words_, width_, height_, true);
    smoothed_ = true;
    // The smoothed pixels' box.
    uint32_t top = height_, bottom = 0;
    int64_t left = width_, right = -1;
    for (uint32_t y = 0; y < height_; ++y) {
      const uint64_t* row = rows_.data() + size_t{y} * words_;
      for (uint32_t w = 0; w < words_; ++w) {
        if (!row[w]) continue;
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
        left = std::min<int64_t>(left, int64_t{64} * w + std::countl_zero(row[w]));
        right = std::max<int64_t>(right, int64_t{64} * w + 63 - std::countr_zero(row[w]));
      }
    }
    boxWidth_ = right >= left ? static_cast<uint32_t>(right - left + 1) : 0;
    boxHeight_ = bottom > top ? bottom - top : 0;
  }
  dilated_.assign(size_t{dilatedWords_} * (height_ + 2 * static_cast<uint32_t>(r_)), 0);
  // Dilation by the disc of radius r: row y reaches dilated rows y + k
  // (k from 0 to 2r) spread by the disc's half-width at height k - r.
  for (uint32_t y = 0; y < height_; ++y) {
    const uint64_t* row = rows_.data() + size_t{y} * words_;
    for (int32_t k = 0; k <= 2 * r_; ++k) {
      const int32_t dy = k - r_;
      const int32_t half = static_cast<int32_t>(std::sqrt(static_cast<double>(r_ * r_ - dy * dy)) + 1e-9);
      uint64_t* out = dilated_.data() + size_t{y + static_cast<uint32_t>(k)} * dilatedWords_;
      for (uint32_t w = 0; w < dilatedWords_; ++w)
        for (int32_t s = r_ - half; s <= r_ + half; ++s) out[w] |= PixelsAt(row, words_, int64_t{64} * w - s);
    }
  }
  if (settings.checkTopology) topology_ = RowsTopology(rows_, words_, width_, height_);
}

bool GateShape::Covers(const GateShape& inner, int64_t x, int64_t y) const {
  // Inner's row py meets dilated row py - y + r; inner's column 0 meets
  // dilated column -x + r.
  for (uint32_t py = 0; py < inner.height_; ++py) {
    const uint64_t* row = inner.rows_.data() + size_t{py} * inner.words_;
    const int64_t dy = int64_t{py} - y + r_;
    const bool inside = dy >= 0 && dy < int64_t{height_} + 2 * r_;
    const uint64_t* other = inside ? dilated_.data() + static_cast<size_t>(dy) * dilatedWords_ : nullptr;
    for (uint32_t w = 0; w < inner.words_; ++w) {
      if (!row[w]) continue;
      if (!other) return false;
      if (row[w] & ~PixelsAt(other, dilatedWords_, int64_t{64} * w - x + r_)) return false;
    }
  }
  return true;
}

uint64_t GateShape::PixelsFrom(int64_t y, int64_t column) const {
  if (y < 0 || y >= int64_t{height_}) return 0;
  return PixelsAt(rows_.data() + static_cast<size_t>(y) * words_, words_, column);
}

bool GateShape::SamePixels(const GateShape& other) const {
  return width_ == other.width_ && height_ == other.height_ && rows_ == other.rows_;
}

namespace {

// The conditions that do not depend on the alignment.
bool ShapesComparable(const GateShape& a, const GateShape& b) {
  const int64_t r = a.tolerance();
  return std::llabs(int64_t{a.boxWidth()} - b.boxWidth()) <= r &&
         std::llabs(int64_t{a.boxHeight()} - b.boxHeight()) <= r && a.topology() == b.topology() &&
         a.strokelessTopology() == b.strokelessTopology();
}

bool CoverEachOther(const GateShape& a, const GateShape& b, GateAlignment at) {
  const int64_t x = (int64_t{a.width()} - b.width()) / 2 + at.dx;
  const int64_t y = (int64_t{a.height()} - b.height()) / 2 + at.dy;
  return b.Covers(a, x, y) && a.Covers(b, -x, -y);
}

}  // namespace

bool PassesShapeGateAt(const GateShape& a, const GateShape& b, GateAlignment at) {
  if (a.small() || b.small()) return at.dx == 0 && at.dy == 0 && a.SamePixels(b);
  return ShapesComparable(a, b) && CoverEachOther(a, b, at);
}

bool PassesShapeGate(const GateShape& a, const GateShape& b, GateAlignment* at) {
  GateAlignment found;
  bool pass;
  if (a.small() || b.small()) {
    pass = a.SamePixels(b);
  } else if (!ShapesComparable(a, b)) {
    return false;
  } else {
    pass = CoverEachOther(a, b, found);
    for (int32_t dy = -1; dy <= 1 && !pass; ++dy)
      for (int32_t dx = -1; dx <= 1 && !pass; ++dx) {
        if (dx == 0 && dy == 0) continue;
        found = GateAlignment{dx, dy};
        pass = CoverEachOther(a, b, found);
      }
  }
  if (pass && at) *at = found;
  return pass;
}
