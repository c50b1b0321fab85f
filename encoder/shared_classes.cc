// Lossy classes across a document's pages (see shared_classes.h).
#include "encoder/shared_classes.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <numeric>

#include "encoder/lossy_classes.h"

namespace {

// Representatives tried per mark, the nearest in black pixel count first.
inline constexpr size_t kMaxSharedTrials = 48;

inline uint64_t SizeKey(int64_t width, int64_t height) {
  return static_cast<uint64_t>(height) << 32 | static_cast<uint32_t>(width);
}

// Shared classes span pages, and with them fonts: a mark is drawn as a
// shared representative only when, besides the gate, their smoothed pixels
// differ in at most 1 / kSharedDifference of the smaller black count (rough
// copies of one character differ in a tenth to a fifth; the same letter in
// another font, a sans-serif P against a serif one, in half).
inline constexpr int64_t kSharedDifference = 4;

int64_t DifferingPixels(const GateShape& a, const GateShape& b, GateAlignment at) {
  const int64_t ox = (int64_t{a.width()} - int64_t{b.width()}) / 2 + at.dx;
  const int64_t oy = (int64_t{a.height()} - int64_t{b.height()}) / 2 + at.dy;
  const int64_t x0 = std::min<int64_t>(0, ox), x1 = std::max<int64_t>(a.width(), ox + b.width());
  const int64_t y0 = std::min<int64_t>(0, oy), y1 = std::max<int64_t>(a.height(), oy + b.height());
  int64_t n = 0;
  for (int64_t y = y0; y < y1; ++y)
    for (int64_t x = x0; x < x1; x += 64) {
      const uint64_t valid = x1 - x >= 64 ? ~uint64_t{0} : ~(~uint64_t{0} >> (x1 - x));
      n += std::popcount((a.PixelsFrom(y, x) ^ b.PixelsFrom(y - oy, x - ox)) & valid);
    }
  return n;
}

// What a kept representative costs: its bitmap, its readied shape (rows
// plain and dilated by r, as 64-bit words) and their bookkeeping.
uint64_t ClassBytes(const BMP& mark, int32_t r) {
  const uint64_t w = mark.lWidth, h = mark.lHeight;
  const uint64_t rows = h * ((w + 63) / 64) + (h + 2 * r) * ((w + 2 * r + 63) / 64);
  return uint64_t{mark.lStride} * h + 8 * rows + 256;
}

}  // namespace

void ClassIndex::Add(int32_t id, const BMP& mark, const GateShape* shape) {
  std::vector<Entry>& group = bySize_[SizeKey(mark.lWidth, mark.lHeight)];
  const Entry entry{shape->black(), id, shape};
  group.insert(std::upper_bound(group.begin(), group.end(), entry, EntryBefore), entry);
}

int32_t ClassIndex::Match(const BMP& mark, const GateShape& shape, GateAlignment* at,
                          const std::function<bool(int32_t id, GateAlignment at)>& accept) const {
  const int64_t r = std::max(shape.tolerance(), 1);
  const int64_t width = mark.lWidth, height = mark.lHeight, black = shape.black();
  // The representatives of nearby sizes are tried in the order of their
  // black count's distance from the mark's: each size's list is walked both
  // ways from the mark's count (among equals, the lower ID of the next ones
  // of the walks first).
  struct Walk {
    const Entry *begin, *end;
    const Entry *down, *up;  // the next below is down[-1], the next above *up
  };
  std::vector<Walk> walks;
  for (int64_t h = std::max<int64_t>(height - r, 1); h <= height + r; ++h)
    for (int64_t w = std::max<int64_t>(width - r, 1); w <= width + r; ++w) {
      const auto found = bySize_.find(SizeKey(w, h));
      if (found == bySize_.end() || found->second.empty()) continue;
      const Entry* begin = found->second.data();
      const Entry* end = begin + found->second.size();
      const Entry* middle = std::lower_bound(begin, end, Entry{black, INT32_MIN, nullptr}, EntryBefore);
      walks.push_back({begin, end, middle, middle});
    }
  for (size_t tried = 0; tried < kMaxSharedTrials; ++tried) {
    const Entry* best = nullptr;
    const Entry** advance = nullptr;
    int64_t nearest = 0;
    auto consider = [&](const Entry* e, const Entry** cursor) {
      const int64_t distance = std::llabs(e->black - black);
      if (best && (distance > nearest || (distance == nearest && e->id > best->id))) return;
      best = e;
      nearest = distance;
      advance = cursor;
    };
    for (Walk& walk : walks) {
      if (walk.down != walk.begin) consider(walk.down - 1, &walk.down);
      if (walk.up != walk.end) consider(walk.up, &walk.up);
    }
    if (!best) break;
    *advance = *advance == best ? best + 1 : best;  // up moves on, down moves back
    if (PassesShapeGate(shape, *best->shape, at) &&
        kSharedDifference * DifferingPixels(shape, *best->shape, *at) <= std::min(black, best->shape->black()) &&
        (!accept || accept(best->id, *at)))
      return best->id;
  }
  return -1;
}

SharedClassFinder::SharedClassFinder(const GateSettings& gate, uint64_t budget) : gate_(gate), budget_(budget) {}

SharedClassFinder::~SharedClassFinder() {
  for (Class& c : classes_) DestroyBMP(&c.representative.Bitmap);
}

void SharedClassFinder::DropSingles(uint32_t page) {
  size_t kept = 0;
  for (Class& c : classes_) {
    if (c.pages == 1 && c.lastPage != page) {
      bytes_ -= c.bytes;
      DestroyBMP(&c.representative.Bitmap);
      continue;
    }
    if (&classes_[kept] != &c) classes_[kept] = std::move(c);
    ++kept;
  }
  classes_.resize(kept);
  index_.Clear();
  for (size_t i = 0; i < classes_.size(); ++i)
    index_.Add(static_cast<int32_t>(i), classes_[i].representative.Bitmap, classes_[i].shape.get());
}

void SharedClassFinder::AddMarks(const SYMBOL* marks, size_t count, uint32_t page) {
  const std::vector<bool> candidate = LossyCandidates(marks, count, gate_);
  // In height order, as a page's own classes are formed.
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [marks](size_t a, size_t b) {
    return CompareSymbHeight(&marks[a], &marks[b]) < 0;
  });
  bool full = false;
  for (const size_t i : order) {
    if (!candidate[i]) continue;
    const BMP& mark = marks[i].Bitmap;
    auto shape = std::make_unique<GateShape>(mark, gate_);
    GateAlignment at;
    const int32_t id = index_.Match(mark, *shape, &at);
    if (id >= 0) {
      Class& c = classes_[static_cast<size_t>(id)];
      if (c.lastPage != page) {
        c.lastPage = page;
        ++c.pages;
      }
      continue;
    }
    const uint64_t cost = ClassBytes(mark, gate_.tolerance);
    if (bytes_ + cost > budget_ && !full) {
      DropSingles(page);
      full = bytes_ + cost > budget_;
    }
    if (bytes_ + cost > budget_) continue;
    if (classes_.size() == classes_.capacity()) classes_.reserve(classes_.size() * 2 + 64);
    Class c{};
    CopyBMP(&c.representative.Bitmap, const_cast<BMP*>(&mark));
    c.shape = std::move(shape);
    c.lastPage = page;
    c.pages = 1;
    c.bytes = cost;
    classes_.push_back(std::move(c));  // within the room reserved: does not throw
    bytes_ += cost;
    index_.Add(static_cast<int32_t>(classes_.size() - 1), classes_.back().representative.Bitmap,
               classes_.back().shape.get());
  }
}

void SharedClassFinder::Finish(std::vector<SYMBOL>* representatives, std::vector<uint32_t>* pages) {
  size_t shared = 0;
  for (const Class& c : classes_) shared += c.pages >= 2;
  representatives->reserve(representatives->size() + shared);
  pages->reserve(pages->size() + shared);
  index_.Clear();
  for (Class& c : classes_) {
    if (c.pages >= 2) {
      representatives->push_back(c.representative);
      pages->push_back(c.pages);
      c.representative = SYMBOL{};
    }
    DestroyBMP(&c.representative.Bitmap);
  }
  classes_.clear();
  bytes_ = 0;
}

void SubstituteSharedSymbols(SYMBOL* marks, size_t count, const SharedRepresentatives& shared,
                             const SYMBOL* symbols, ReadingGuard& guard, std::vector<int32_t>* globalId) {
  const std::vector<bool> candidate = LossyCandidates(marks, count, shared.gate);
  for (size_t i = 0; i < count; ++i) {
    if (!candidate[i]) continue;
    SYMBOL& m = marks[i];
    GateAlignment at;
    // Keys past the page's marks name the shared symbols in the guard.
    const auto keeps = [&](int32_t id, GateAlignment found) {
      return guard.Keeps(i, symbols[id].Bitmap, *shared.shapes[static_cast<size_t>(id)], found,
                         static_cast<int64_t>(2 * count) + id);
    };
    const int32_t id = shared.index.Match(m.Bitmap, guard.ShapeOf(i), &at, keeps);
    if (id < 0) continue;
    (*globalId)[i] = id;
    m.bResidue = 1;  // out of the page's matching
    m.bSubstitute = 1;
    m.lDX = at.dx;
    m.lDY = at.dy;
  }
}
