// Symbol matching: decides which marks of a text section share one dictionary
// symbol, exactly or approximately (coded through refinement, T.88 6.4.11).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <vector>

#include "kernels/bit_count.h"
#include "kernels/pixel_words.h"
#include "encoder/coding_cost.h"
#include "encoder/refinement_region_encoder.h"
#include "encoder/symbol.h"
#include "encoder/settings.h"
#include "encoder/text_choices.h"

uint64_t PixelHash(const BMP& b) {
  uint64_t h = 1469598103934665603ull ^ (uint64_t{b.lWidth} << 32 | b.lHeight);
  for (uint32_t y = 0; y < b.lHeight; ++y) {
    const unsigned char* row = b.pData + static_cast<size_t>(y) * b.lStride;
    for (uint32_t k = 0; k < b.lBytesPerRow; ++k) h = (h ^ row[k]) * 1099511628211ull;
  }
  return h;
}

namespace {

struct MatchSettings {
  double threshold;  // share of agreeing pixels a soft match must exceed
  bool soft;         // approximate matching; otherwise exact matching only
  long sizeOffset;   // largest height (soft: also width) difference to a candidate
  long matchOffset;  // soft: extra shifts tried in each direction
  int64_t dictBonus; // soft: subtracted from candidates that are not yet symbols
  bool refDict;      // soft-matched marks may serve as candidates
  bool weighCost;    // soft, "match" not given: refine only where it is cheaper than a new symbol
};

MatchSettings ReadMatchSettings(const TextSettings& t) {
  MatchSettings m;
  m.threshold = t.match / 100.0;
  m.soft = t.soft != 0 && m.threshold != 1.0;
  m.sizeOffset = t.sizeoffset;
  m.matchOffset = std::max<long>(t.matchoffset, 0);
  m.dictBonus = t.dictbonus;
  m.refDict = t.refdict != 0;
  m.weighCost = m.soft && !t.match.given;
  return m;
}

// A bitmap's rows as 64-bit words, the first pixel of each in the top bit,
// pixels past the width 0.
struct WordRows {
  uint32_t width;
  uint32_t height;
  uint32_t words;  // per row
  const uint64_t* bits;
  const uint64_t* Row(uint32_t y) const { return bits + size_t{y} * words; }
};

// The word rows of a section's marks, made when first needed and kept in
// large blocks (a page's marks are thousands of small bitmaps).
class WordRowStore {
 public:
  // Pixel-identical marks (most of a clean page's) share one copy;
  // `hashes` are the marks' PixelHash values.
  WordRowStore(SYMBOL* marks, const std::vector<uint64_t>& hashes)
      : marks_(marks), rows_(hashes.size(), nullptr), same_(hashes.size()) {
    const size_t count = hashes.size();
    for (size_t k = 0; k < count; ++k) same_[k] = static_cast<int32_t>(k);
    std::vector<int32_t> order(same_);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return hashes[a] < hashes[b]; });
    for (size_t g = 0; g < count;) {
      size_t end = g + 1;
      while (end < count && hashes[order[end]] == hashes[order[g]]) ++end;
      for (size_t k = g + 1; k < end; ++k)
        if (ExactBMP(&marks[order[k]].Bitmap, &marks[order[g]].Bitmap)) same_[order[k]] = order[g];
      g = end;
    }
  }

  WordRows Get(long k) {
    const BMP& bmp = marks_[k].Bitmap;
    const uint32_t words = (bmp.lWidth + 63) / 64;
    uint64_t*& rows = rows_[static_cast<size_t>(same_[static_cast<size_t>(k)])];
    if (!rows) rows = Load(bmp, words);
    return WordRows{bmp.lWidth, bmp.lHeight, words, rows};
  }

 private:
  static constexpr size_t kBlockWords = size_t{1} << 15;  // 256 KiB

  uint64_t* Load(const BMP& bmp, uint32_t words) {
    uint64_t* rows = Allocate(size_t{words} * bmp.lHeight);
    for (uint32_t y = 0; y < bmp.lHeight; ++y) AddRowWords(bmp, y, rows + size_t{y} * words);
    return rows;
  }
  // `n` zeroed words that stay in place.
  uint64_t* Allocate(size_t n) {
    if (n > left_) {
      const size_t size = std::max(n, kBlockWords);
      blocks_.push_back(std::make_unique<uint64_t[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
    }
    uint64_t* words = next_;
    next_ += n;
    left_ -= n;
    return words;
  }

  const SYMBOL* marks_;
  std::vector<uint64_t*> rows_;  // per mark; null until loaded
  std::vector<int32_t> same_;    // per mark: the first mark with its pixels
  std::vector<std::unique_ptr<uint64_t[]>> blocks_;
  uint64_t* next_ = nullptr;
  size_t left_ = 0;
};

struct Trial {
  int64_t score;
  long dx;
  long dy;
};

// Pixels of the mark's box on which mark and candidate agree, the
// candidate's top-left corner at (x, y) of the box and white outside itself.
int64_t Agreement(const WordRows& mark, const WordRows& candidate, long x, long y) {
  const uint64_t lastValid = mark.width % 64 ? ~uint64_t{0} << (64 - mark.width % 64) : ~uint64_t{0};
  uint64_t disagree = 0;
  for (uint32_t py = 0; py < mark.height; ++py) {
    const uint64_t* row = mark.Row(py);
    const int64_t cy = int64_t{py} - y;
    if (cy < 0 || cy >= int64_t{candidate.height}) {
      for (uint32_t w = 0; w < mark.words; ++w) disagree += CountBits(row[w]);
      continue;
    }
    const uint64_t* other = candidate.Row(static_cast<uint32_t>(cy));
    for (uint32_t w = 0; w < mark.words; ++w) {
      const uint64_t valid = w + 1 == mark.words ? lastValid : ~uint64_t{0};
      disagree += CountBits((row[w] ^ PixelsAt(other, candidate.words, int64_t{64} * w - x)) & valid);
    }
  }
  return int64_t{mark.width} * mark.height - static_cast<int64_t>(disagree);
}

// Soft score of a candidate: the most pixels of the mark's box on which mark
// and candidate agree, over the centred position and every shift up to the
// match offset. The first best shift in loop order wins.
Trial SoftScore(const WordRows& mark, const WordRows& candidate, long dw, long dh, long matchOffset) {
  Trial best{-1, 0, 0};
  for (long j = -matchOffset; j <= matchOffset; ++j) {
    for (long k = -matchOffset; k <= matchOffset; ++k) {
      const int64_t agree = Agreement(mark, candidate, dw / 2 + j, dh / 2 + k);
      if (agree > best.score) best = Trial{agree, j, k};
    }
  }
  return best;
}

// Candidates grouped by width and height, each group in ascending mark
// order, so that a mark visits only the sizes it may match.
class SizeIndex {
 public:
  void Add(uint32_t width, uint32_t height, long mark) { groups_[Key(width, height)].push_back(mark); }
  const std::vector<long>* Find(uint32_t width, uint32_t height) const {
    auto it = groups_.find(Key(width, height));
    return it == groups_.end() ? nullptr : &it->second;
  }

 private:
  static uint64_t Key(uint32_t width, uint32_t height) { return uint64_t{height} << 32 | width; }
  std::unordered_map<uint64_t, std::vector<long>> groups_;
};

// Whether coding `mark` by refinement from `candidate` (laid at the matched
// offset) is expected to cost no more than making it a symbol of its own.
// Identical marks cost nothing to refine and never come here.
class RefinementJudge {
 public:
  explicit RefinementJudge(const SectionSettings& section) {
    gr_ = GRPARAM{};
    const GenericSettings& g = section.generic;
    gr_.lTemplate = static_cast<uint32_t>(g.templ.value);
    for (int k = 0; k < 4; ++k) {
      gr_.alATX[k] = static_cast<int8_t>(g.atx[k].value);
      gr_.alATY[k] = static_cast<int8_t>(g.aty[k].value);
    }
    const TextSettings& t = section.text;
    rTemplate_ = t.rtemplate != 0 ? 1 : 0;
    for (int k = 0; k < 2; ++k) {
      ratx_[k] = static_cast<int8_t>(t.ratx[k].value);
      raty_[k] = static_cast<int8_t>(t.raty[k].value);
    }
    if (rTemplate_ == 0 && !RefinementATValid(ratx_[0], raty_[0])) ratx_[0] = raty_[0] = -1;
  }

  // `copies`: later marks identical to this one, which match it exactly
  // when it is a symbol and each need the same refinement otherwise.
  bool Refine(SYMBOL* mark, SYMBOL* candidate, long dx, long dy, int64_t copies) {
    const int64_t refine =
        cost_.RefinementBits(&mark->Bitmap, &candidate->Bitmap, dx, dy, rTemplate_, ratx_, raty_) + kRefineFieldBits;
    const int64_t fresh = cost_.GenericBits(gr_, &mark->Bitmap) + kSymbolFieldBits;
    return refine * (1 + copies) <= fresh;
  }

 private:
  // What the two codings cost beyond the pixels, roughly: RI and the four
  // refinement offsets; a dictionary entry's width and a wider symbol ID.
  static constexpr int64_t kRefineFieldBits = 8;
  static constexpr int64_t kSymbolFieldBits = 12;
  CostCoder cost_;
  GRPARAM gr_;
  int rTemplate_ = 0;
  long ratx_[2], raty_[2];
};

// For every mark, how many later marks have the same pixels (by hash: an
// estimate, for the cost judgement only).
void CountLaterCopies(const std::vector<uint64_t>& hashes, std::vector<int32_t>* copies) {
  copies->assign(hashes.size(), 0);
  std::unordered_map<uint64_t, int32_t> seen;
  for (size_t i = hashes.size(); i-- > 0;) (*copies)[i] = seen[hashes[i]]++;
}

}  // namespace

void EvaluateMatches(SYMBOL* marks, long count, const SectionSettings& section) {
  const MatchSettings m = ReadMatchSettings(section.text);
  const size_t n = static_cast<size_t>(std::max(count, 0L));
  // Word rows and black-pixel counts of every mark, made when first needed.
  std::vector<uint64_t> hashes(m.soft ? n : 0);
  for (size_t k = 0; k < hashes.size(); ++k) hashes[k] = PixelHash(marks[k].Bitmap);
  WordRowStore rows(marks, hashes);
  std::vector<int64_t> black(m.soft ? n : 0, -1);
  auto blackOf = [&](long k) {
    int64_t& b = black[static_cast<size_t>(k)];
    if (b < 0) b = AreaBMP(&marks[k].Bitmap);
    return b;
  };
  std::unique_ptr<RefinementJudge> judge;
  std::vector<int32_t> copiesAfter;
  if (m.weighCost) {
    judge = std::make_unique<RefinementJudge>(section);
    CountLaterCopies(hashes, &copiesAfter);
  }
  // A mark becomes a candidate once its own turn is over and its flags are
  // final. Candidates that can never be chosen (residue marks, and without
  // refdict marks that were themselves refined) are not indexed.
  SizeIndex index;
  auto eligible = [&](long k) {
    return !marks[k].bResidue && !marks[k].bSubstitute && !(marks[k].bRefine && !m.refDict);
  };
  const long widthOffset = m.soft ? m.sizeOffset : 0;
  for (long i = 1; i < count; ++i) {
    if (eligible(i - 1)) index.Add(marks[i - 1].Bitmap.lWidth, marks[i - 1].Bitmap.lHeight, i - 1);
    SYMBOL* mark = marks + i;
    // Lossy coding's substitutes are decided, and its representatives
    // (symbols already) keep their own pixels.
    if (mark->bResidue || mark->bSubstitute || mark->bDictionary || m.sizeOffset < 0) continue;
    const long width = mark->Bitmap.lWidth;
    const long height = mark->Bitmap.lHeight;
    const int64_t area = static_cast<int64_t>(width) * height;
    const double acceptable = m.threshold * static_cast<double>(area);

    // No candidate can score above this; once it is reached the nearer
    // candidate already holds the tie.
    const int64_t ceiling = m.soft ? area + std::max<int64_t>(0, -m.dictBonus) : area;
    // The best score and the nearest candidate that has it (the scan order
    // of the nearest-first search), over every size in reach.
    int64_t best = 0;
    long chosen = -1;
    Trial chosenTrial{0, 0, 0};
    for (long h = std::max(height - m.sizeOffset, 1L); h <= height; ++h) {
      for (long w = std::max(width - widthOffset, 1L); w <= width + widthOffset; ++w) {
        const std::vector<long>* group = index.Find(static_cast<uint32_t>(w), static_cast<uint32_t>(h));
        if (!group) continue;
        const long dh = height - h, dw = width - w;
        for (auto it = group->rbegin(); it != group->rend(); ++it) {
          const long k = *it;
          // Nearer candidates hold ties: one farther away must beat the best.
          if (chosen >= 0 && best >= ceiling && k < chosen) break;
          SYMBOL* candidate = marks + k;
          const int64_t bonus = m.soft && !candidate->bDictionary ? m.dictBonus : 0;
          Trial trial{0, 0, 0};
          if (m.soft) {
            // Pixels black in the mark beyond the candidate's count disagree
            // wherever it is laid: a candidate that cannot beat the best, or
            // be accepted at all, needs no trial.
            const int64_t bound = area - std::max<int64_t>(0, blackOf(i) - blackOf(k)) - bonus;
            if (bound < best || (bound == best && k < chosen) || static_cast<double>(bound) <= acceptable) continue;
            trial = SoftScore(rows.Get(i), rows.Get(k), dw, dh, m.matchOffset);
            trial.score -= bonus;
          } else if (ExactBMP(&mark->Bitmap, &candidate->Bitmap)) {
            trial.score = area;
          }
          if (trial.score > best || (trial.score == best && trial.score > 0 && k > chosen)) {
            best = trial.score;
            chosen = k;
            chosenTrial = trial;
            if (best >= ceiling) break;  // the rest of this group is farther away
          }
        }
      }
    }
    if (chosen < 0) continue;

    if (m.soft) {
      if (static_cast<double>(best) / static_cast<double>(area) > m.threshold) {
        SYMBOL* candidate = marks + chosen;
        if (judge && !ExactBMP(&mark->Bitmap, &candidate->Bitmap) &&
            !judge->Refine(mark, candidate, (width - static_cast<long>(candidate->Bitmap.lWidth)) / 2 + chosenTrial.dx,
                           (height - static_cast<long>(candidate->Bitmap.lHeight)) / 2 + chosenTrial.dy, copiesAfter[i]))
          continue;  // a symbol of its own, and a candidate for the marks after it
        mark->bRefine = 1;
        mark->lMatch = static_cast<int32_t>(chosen);
        candidate->bDictionary = 1;
        mark->lDX = static_cast<int32_t>(chosenTrial.dx);
        mark->lDY = static_cast<int32_t>(chosenTrial.dy);
      }
    } else if (best == area) {
      // Identical marks all take the class's first mark, whose symbol
      // then serves them all.
      if (marks[chosen].bExact) chosen = marks[chosen].lMatch;
      mark->bExact = 1;
      mark->lMatch = static_cast<int32_t>(chosen);
      marks[chosen].bDictionary = 1;
    }
  }
}

void SelectClasses(SYMBOL* marks, long count, const TextSettings& section) {
  const bool allRefDict = section.allrefdict != 0;
  const bool residue = section.residue != 0;
  for (long i = 0; i < count; ++i) {
    SYMBOL* mark = marks + i;
    if (allRefDict && mark->bRefine) mark->bDictionary = 1;
    if (mark->bSubstitute) continue;
    if (residue) {
      if (!mark->bRefine && !mark->bDictionary && !mark->bExact) mark->bResidue = 1;
    } else if (!mark->bRefine && !mark->bExact) {
      mark->bDictionary = 1;
    }
  }
}
