// Lossy text coding: class representatives, their substitutes, and the
// check of what is about to be written (see lossy_classes.h).
#include "encoder/lossy_classes.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/checked_alloc.h"
#include "encoder/text_region_encoder.h"

namespace {

// Representatives tried per mark: a noisy page holds many representatives
// of each size, and those of the nearest black pixel count are tried first.
inline constexpr size_t kMaxGateTrials = 48;
// Substitutes are kept when at least one in this many of the marks the
// gate may match is one.
inline constexpr size_t kFewSubstitutes = 32;
// Classes of this many marks or more get a symbol built from their marks
// (of two, the majority is the representative itself).
inline constexpr size_t kBuiltClassMarks = 3;

inline uint64_t SizeKey(int64_t width, int64_t height) {
  return static_cast<uint64_t>(height) << 32 | static_cast<uint32_t>(width);
}

}  // namespace

std::vector<bool> MarksWithCopies(const SYMBOL* marks, size_t count) {
  std::vector<uint64_t> hashes(count);
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) {
    hashes[i] = marks[i].bResidue ? 0 : PixelHash(marks[i].Bitmap);
    order[i] = i;
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return hashes[a] < hashes[b]; });
  std::vector<bool> copied(count, false);
  for (size_t g = 0; g < count;) {
    size_t end = g + 1;
    while (end < count && hashes[order[end]] == hashes[order[g]]) ++end;
    for (size_t a = g; a < end; ++a) {
      if (marks[order[a]].bResidue || copied[order[a]]) continue;
      for (size_t b = a + 1; b < end; ++b) {
        if (marks[order[b]].bResidue) continue;
        BMP* x = const_cast<BMP*>(&marks[order[a]].Bitmap);
        BMP* y = const_cast<BMP*>(&marks[order[b]].Bitmap);
        if (ExactBMP(x, y)) copied[order[a]] = copied[order[b]] = true;
      }
    }
    g = end;
  }
  return copied;
}

namespace {

inline bool Pixel(const BMP& b, int64_t x, int64_t y) {
  if (x < 0 || y < 0 || x >= int64_t{b.lWidth} || y >= int64_t{b.lHeight}) return false;
  return (b.pData[static_cast<size_t>(y) * b.lStride + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1;
}

// The per-pixel majority of a class's marks in its representative's box,
// each substitute laid as the gate aligned it (the representative's top-left
// corner at ((w - W) / 2 + dx, (h - H) / 2 + dy) of the substitute's box);
// a tie keeps the representative's pixel.
void MajorityOf(const SYMBOL* marks, long representative, const std::vector<long>& members, BMP* out) {
  const BMP& rep = marks[representative].Bitmap;
  const int64_t width = rep.lWidth, height = rep.lHeight;
  // Votes count twice, and the representative's pixel once more: a tie
  // goes its way.
  std::vector<uint32_t> votes(static_cast<size_t>(width * height), 0);
  for (int64_t y = 0; y < height; ++y)
    for (int64_t x = 0; x < width; ++x) votes[static_cast<size_t>(y * width + x)] = Pixel(rep, x, y) ? 3 : 0;
  for (long m : members) {
    const BMP& b = marks[m].Bitmap;
    const int64_t ox = (int64_t{b.lWidth} - width) / 2 + marks[m].lDX;
    const int64_t oy = (int64_t{b.lHeight} - height) / 2 + marks[m].lDY;
    for (int64_t y = 0; y < height; ++y)
      for (int64_t x = 0; x < width; ++x)
        if (Pixel(b, x + ox, y + oy)) votes[static_cast<size_t>(y * width + x)] += 2;
  }
  const uint32_t marksCount = static_cast<uint32_t>(members.size() + 1);
  CreateBMPChecked(out, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 0);
  for (int64_t y = 0; y < height; ++y)
    for (int64_t x = 0; x < width; ++x)
      if (votes[static_cast<size_t>(y * width + x)] > marksCount)
        out->pData[static_cast<size_t>(y) * out->lStride + static_cast<size_t>(x >> 3)] |=
            static_cast<unsigned char>(0x80 >> (x & 7));
}

}  // namespace

struct LossyClasses::Built {
  BMP pixels{};
  ~Built() { DestroyBMP(&pixels); }
};

LossyClasses::LossyClasses() = default;
LossyClasses::LossyClasses(LossyClasses&&) noexcept = default;
LossyClasses& LossyClasses::operator=(LossyClasses&&) noexcept = default;
LossyClasses::~LossyClasses() = default;

const BMP* LossyClasses::BuiltFor(long mark) const {
  const auto found = built_.find(mark);
  return found == built_.end() ? nullptr : &found->second->pixels;
}

void LossyClasses::BuildSymbols(SYMBOL* marks, long count, ReadingGuard& guard) {
  const size_t n = std::min(shapes_.size(), static_cast<size_t>(std::max(count, 0L)));
  // The classes by representative, and the marks lossless matching coded
  // from another's symbol (their coding follows the symbol as it was).
  std::unordered_map<long, std::vector<long>> classes;
  std::vector<bool> referenced(n, false);
  // (Marks drawn as the document's shared symbols are substitutes that
  // this page's gate did not ready: neither.)
  for (size_t i = 0; i < n; ++i) {
    const SYMBOL& m = marks[i];
    if (m.bResidue || m.lMatch < 0 || static_cast<size_t>(m.lMatch) >= n) continue;
    if (m.bSubstitute) {
      if (shapes_[i]) classes[m.lMatch].push_back(static_cast<long>(i));
    } else if (m.bRefine || m.bExact) {
      referenced[static_cast<size_t>(m.lMatch)] = true;
    }
  }
  for (const auto& [rep, members] : classes) {
    const SYMBOL& r = marks[rep];
    if (members.size() + 1 < kBuiltClassMarks || referenced[static_cast<size_t>(rep)] || r.bResidue ||
        !r.bDictionary || r.bRefine || !shapes_[static_cast<size_t>(rep)])
      continue;
    auto built = std::make_unique<Built>();
    MajorityOf(marks, rep, members, &built->pixels);
    const GateShape shape(built->pixels, gate_);
    // Each mark where it is drawn now (a substitute moved by a pixel can
    // close the gap to its neighbour: rn read as m).
    bool pass = PassesShapeGateAt(*shapes_[static_cast<size_t>(rep)], shape, GateAlignment{});
    for (size_t k = 0; k < members.size() && pass; ++k) {
      const GateShape* member = shapes_[static_cast<size_t>(members[k])];
      pass = member && PassesShapeGateAt(*member, shape, GateAlignment{marks[members[k]].lDX, marks[members[k]].lDY});
    }
    // Its nearest differing mark is found once, for the representative.
    const int64_t key = count + rep;
    pass = pass && guard.Keeps(static_cast<size_t>(rep), built->pixels, shape, GateAlignment{}, key);
    for (size_t k = 0; k < members.size() && pass; ++k)
      pass = guard.Keeps(static_cast<size_t>(members[k]), built->pixels, shape,
                         GateAlignment{marks[members[k]].lDX, marks[members[k]].lDY}, key);
    if (!pass) continue;
    // The representative is drawn from its symbol as its substitutes are,
    // not refined back to its own pixels.
    marks[rep].bSubstitute = 1;
    marks[rep].lMatch = static_cast<int32_t>(rep);
    marks[rep].lDX = marks[rep].lDY = 0;
    built_[rep] = std::move(built);
  }
  // The shapes are the guard's, which goes next: none is used after this.
  shapes_.clear();
}

namespace {

// Marks with another mark above or below them, their columns overlapping,
// at most r blank rows away: pieces of one character that a scan broke
// apart (an h's stem cut below its top). Drawn as a like piece's symbol, a
// piece can move its end away from the break, and the character read as
// another (the h as an n).
std::vector<bool> BrokenPieces(const SYMBOL* marks, size_t count, int64_t r) {
  std::vector<size_t> byTop(count);
  for (size_t i = 0; i < count; ++i) byTop[i] = i;
  std::sort(byTop.begin(), byTop.end(), [&](size_t a, size_t b) { return marks[a].lY < marks[b].lY; });
  std::vector<bool> broken(count, false);
  for (size_t a = 0; a < count; ++a) {
    const SYMBOL& upper = marks[a];
    const int64_t bottom = int64_t{upper.lY} + upper.Bitmap.lHeight;
    const int64_t left = upper.lX, right = int64_t{upper.lX} + upper.Bitmap.lWidth;
    auto k = std::lower_bound(byTop.begin(), byTop.end(), bottom,
                              [&](size_t m, int64_t top) { return marks[m].lY < top; });
    for (; k != byTop.end() && marks[*k].lY <= bottom + r; ++k) {
      const SYMBOL& lower = marks[*k];
      if (int64_t{lower.lX} < right && left < int64_t{lower.lX} + lower.Bitmap.lWidth)
        broken[a] = broken[*k] = true;
    }
  }
  return broken;
}

}  // namespace

std::vector<bool> LossyCandidates(const SYMBOL* marks, size_t count, const GateSettings& gate, size_t* eligible) {
  const std::vector<bool> copied = MarksWithCopies(marks, count);
  const std::vector<bool> broken = BrokenPieces(marks, count, std::max(gate.tolerance, 1));
  std::vector<bool> candidate(count, false);
  size_t marksEligible = 0, renderings = 0;
  for (size_t i = 0; i < count; ++i) {
    BMP* b = const_cast<BMP*>(&marks[i].Bitmap);
    if (marks[i].bResidue || broken[i] || MatchedOnlyExactly(b->lWidth, b->lHeight, AreaBMP(b), gate)) continue;
    ++marksEligible;
    if (copied[i]) ++renderings;
    else candidate[i] = true;
  }
  if (2 * renderings >= marksEligible) candidate.assign(count, false);
  if (eligible) *eligible = marksEligible;
  return candidate;
}

LossyClasses SubstituteMarks(SYMBOL* marks, long count, const GateSettings& gate, ReadingGuard& guard) {
  LossyClasses classes;
  classes.gate_ = gate;
  const size_t n = static_cast<size_t>(std::max(count, 0L));
  const int64_t r = std::max(gate.tolerance, 1);
  // A shape found twice, pixel for pixel, is a rendering, not a scan's
  // noise: it is drawn only as itself (exact copies code at no cost in
  // lossless matching), and never drawn for another mark.
  size_t eligible = 0;
  const std::vector<bool> candidate = LossyCandidates(marks, n, gate, &eligible);
  if (std::none_of(candidate.begin(), candidate.end(), [](bool c) { return c; })) return classes;
  std::vector<const GateShape*>& shapes = classes.shapes_;
  shapes.resize(n);
  for (size_t i = 0; i < n; ++i)
    if (candidate[i]) shapes[i] = &guard.ShapeOf(i);

  std::unordered_map<uint64_t, std::vector<long>> representatives;  // by width and height
  std::vector<long> substitutes;
  std::vector<std::pair<int64_t, long>> nearby;  // black count difference, representative
  for (long i = 0; i < count; ++i) {
    if (!shapes[static_cast<size_t>(i)]) continue;
    const GateShape& shape = *shapes[static_cast<size_t>(i)];
    const int64_t width = marks[i].Bitmap.lWidth, height = marks[i].Bitmap.lHeight;
    // The representatives of nearby sizes, those of the nearest black pixel
    // count first (shapes within the gate have about as many), newest first
    // among equals. Representatives come earlier in height order: no taller
    // than the mark.
    nearby.clear();
    for (int64_t h = height; h >= std::max<int64_t>(height - r, 1); --h)
      for (int64_t w = std::max<int64_t>(width - r, 1); w <= width + r; ++w) {
        const auto group = representatives.find(SizeKey(w, h));
        if (group == representatives.end()) continue;
        for (auto k = group->second.rbegin(); k != group->second.rend(); ++k)
          nearby.emplace_back(std::llabs(shapes[static_cast<size_t>(*k)]->black() - shape.black()), *k);
      }
    const size_t tried = std::min(nearby.size(), kMaxGateTrials);
    std::partial_sort(nearby.begin(), nearby.begin() + static_cast<std::ptrdiff_t>(tried), nearby.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
    long chosen = -1;
    GateAlignment at;
    for (size_t k = 0; k < tried && chosen < 0; ++k) {
      const long rep = nearby[k].second;
      const GateShape& repShape = *shapes[static_cast<size_t>(rep)];
      if (PassesShapeGate(shape, repShape, &at) &&
          guard.Keeps(static_cast<size_t>(i), marks[rep].Bitmap, repShape, at, rep))
        chosen = rep;
    }
    if (chosen < 0) {
      representatives[SizeKey(width, height)].push_back(i);
      continue;
    }
    SYMBOL& mark = marks[i];
    mark.bSubstitute = 1;
    mark.lMatch = static_cast<int32_t>(chosen);
    mark.lDX = at.dx;
    mark.lDY = at.dy;
    marks[chosen].bDictionary = 1;
    substitutes.push_back(i);
  }
  // A few substitutes save less than the page's comment costs: none then.
  if (substitutes.size() * kFewSubstitutes >= eligible) return classes;
  for (long i : substitutes) {
    marks[marks[i].lMatch].bDictionary = 0;
    marks[i].bSubstitute = 0;
    marks[i].lMatch = 0;
    marks[i].lDX = marks[i].lDY = 0;
  }
  return classes;
}

bool SubstitutesPassGate(const TRPARAM& tr, std::span<const SYMBOL> instances, SYMBOL* symbols,
                         const GateSettings& gate) {
  std::vector<SYMBOL> prepared;
  std::unordered_map<int32_t, std::unique_ptr<GateShape>> drawnShapes;  // by symbol ID
  for (const SYMBOL& mark : instances) {
    if (!mark.bSubstitute) continue;
    // The symbol and the place the text region gives it (S and T with the
    // region's reference corner and transposition, turned back into the
    // top-left corner a decoder draws it at).
    PrepareSymbolInstances(&tr, &mark, 1, symbols, &prepared);
    long x, y;
    InstanceTopLeft(&tr, prepared[0], &x, &y);
    const BMP& drawn = prepared[0].Bitmap;
    GateAlignment at;
    at.dx = static_cast<int32_t>(x - mark.lX - (static_cast<long>(mark.Bitmap.lWidth) - drawn.lWidth) / 2);
    at.dy = static_cast<int32_t>(y - mark.lY - (static_cast<long>(mark.Bitmap.lHeight) - drawn.lHeight) / 2);
    if (std::abs(at.dx) > 1 || std::abs(at.dy) > 1) return false;
    std::unique_ptr<GateShape>& shape = drawnShapes[mark.lIndex];
    if (!shape) shape = std::make_unique<GateShape>(drawn, gate);
    if (!PassesShapeGateAt(GateShape(mark.Bitmap, gate), *shape, at)) return false;
  }
  return true;
}
