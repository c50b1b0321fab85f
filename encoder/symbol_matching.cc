// Symbol matching: decides which marks of a text section share one dictionary
// symbol, exactly or approximately (coded through refinement, T.88 6.4.11).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/bit_count.h"
#include "encoder/symbol.h"
#include "encoder/transclib.h"

namespace {

struct MatchSettings {
  double threshold;  // share of agreeing pixels a soft match must exceed
  bool soft;         // approximate matching; otherwise exact matching only
  long sizeOffset;   // largest height (soft: also width) difference to a candidate
  long matchOffset;  // soft: extra shifts tried in each direction
  int64_t dictBonus; // soft: subtracted from candidates that are not yet symbols
  bool refDict;      // soft-matched marks may serve as candidates
};

MatchSettings ReadMatchSettings(PARAMETER* section) {
  MatchSettings m;
  m.threshold = GetParameterValue("match", section, 80) / 100.0;
  m.soft = GetParameterValue("soft", section, 1) != 0 && m.threshold != 1.0;
  m.sizeOffset = GetParameterValue("sizeoffset", section, 0);
  m.matchOffset = std::max<long>(GetParameterValue("matchoffset", section, 0), 0);
  m.dictBonus = GetParameterValue("dictbonus", section, 0);
  m.refDict = GetParameterValue("refdict", section, 0) != 0;
  return m;
}

// A bitmap's rows as 64-bit words, the first pixel of each in the top bit,
// pixels past the width 0.
struct WordRows {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t words = 0;  // per row
  std::vector<uint64_t> bits;

  void Load(const BMP& bmp) {
    width = bmp.lWidth;
    height = bmp.lHeight;
    words = (width + 63) / 64;
    bits.assign(size_t{words} * height, 0);
    const uint32_t bytes = bmp.lBytesPerRow;
    const unsigned lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
    for (uint32_t y = 0; y < height; ++y) {
      const unsigned char* src = bmp.pData + static_cast<size_t>(y) * bmp.lStride;
      uint64_t* dst = bits.data() + size_t{y} * words;
      for (uint32_t b = 0; b < bytes; ++b) {
        const unsigned v = b + 1 == bytes ? src[b] & lastMask : src[b];
        dst[b / 8] |= uint64_t{v} << (56 - 8 * (b % 8));
      }
    }
  }
  const uint64_t* Row(uint32_t y) const { return bits.data() + size_t{y} * words; }
};

// 64 pixels of a word row from column `column` on (any column; outside the
// row they are 0).
inline uint64_t PixelsAt(const uint64_t* row, uint32_t words, int64_t column) {
  const int64_t q = column >= 0 ? column / 64 : -((-column + 63) / 64);  // floor(column / 64)
  const int r = static_cast<int>(column - 64 * q);
  const uint64_t a = q >= 0 && q < int64_t{words} ? row[q] : 0;
  if (r == 0) return a;
  const uint64_t b = q + 1 >= 0 && q + 1 < int64_t{words} ? row[q + 1] : 0;
  return a << r | b >> (64 - r);
}

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

}  // namespace

void EvaluateMatches(SYMBOL* marks, long count, PARAMETER* section) {
  const MatchSettings m = ReadMatchSettings(section);
  // Word rows of every mark, made when first compared.
  std::vector<WordRows> rows(m.soft ? static_cast<size_t>(std::max(count, 0L)) : 0);
  auto rowsOf = [&](long n) -> const WordRows& {
    WordRows& r = rows[static_cast<size_t>(n)];
    if (r.words == 0) r.Load(marks[n].Bitmap);  // every mark is at least 1 pixel wide
    return r;
  };
  // Candidates that can never be chosen (residue marks, and without refdict
  // marks that were themselves refined) are passed over through
  // nearest[n], the last candidate at or before n that can (or -1). A mark's
  // flags are final once its own turn is over, so the links are filled one
  // turn behind. Skipping them changes nothing: the height test they might
  // have stopped the scan on also stops it at the next candidate, whose
  // height is no greater. Pages of many equal dots (dithering) would
  // otherwise rescan every earlier refined dot for each new one.
  std::vector<long> nearest(static_cast<size_t>(std::max(count, 0L)), -1);
  auto eligible = [&](long n) { return !marks[n].bResidue && !(marks[n].bRefine && !m.refDict); };
  for (long i = 1; i < count; ++i) {
    nearest[i - 1] = eligible(i - 1) ? i - 1 : (i >= 2 ? nearest[i - 2] : -1);
    SYMBOL* mark = marks + i;
    if (mark->bResidue) continue;
    const long width = mark->Bitmap.lWidth;
    const long height = mark->Bitmap.lHeight;
    const int64_t area = static_cast<int64_t>(width) * height;

    // No candidate can score above this; once it is reached the nearer
    // candidate already holds the tie, so the scan may stop.
    const int64_t ceiling = m.soft ? area + std::max<int64_t>(0, -m.dictBonus) : area;
    int64_t best = 0;
    long chosen = -1;
    Trial chosenTrial{0, 0, 0};
    for (long n = nearest[i - 1]; n >= 0; n = n > 0 ? nearest[n - 1] : -1) {
      SYMBOL* candidate = marks + n;
      const long dh = height - static_cast<long>(candidate->Bitmap.lHeight);
      if (dh > m.sizeOffset) break;  // the array is sorted by height: nothing earlier is closer
      if (candidate->bResidue || (candidate->bRefine && !m.refDict)) continue;
      Trial trial{0, 0, 0};
      if (m.soft) {
        const long dw = width - static_cast<long>(candidate->Bitmap.lWidth);
        if (std::labs(dw) <= m.sizeOffset) trial = SoftScore(rowsOf(i), rowsOf(n), dw, dh, m.matchOffset);
        if (!candidate->bDictionary) trial.score -= m.dictBonus;
      } else if (ExactBMP(&mark->Bitmap, &candidate->Bitmap)) {
        trial.score = area;
      }
      if (trial.score > best) {  // ties stay with the nearer candidate
        best = trial.score;
        chosen = n;
        chosenTrial = trial;
        if (best >= ceiling) break;
      }
    }
    if (chosen < 0) continue;

    if (m.soft) {
      if (static_cast<double>(best) / static_cast<double>(area) > m.threshold) {
        mark->bRefine = 1;
        mark->lMatch = static_cast<int32_t>(chosen);
        marks[chosen].bDictionary = 1;
        mark->lDX = static_cast<int32_t>(chosenTrial.dx);
        mark->lDY = static_cast<int32_t>(chosenTrial.dy);
      }
    } else if (best == area) {
      mark->bExact = 1;
      mark->lMatch = static_cast<int32_t>(chosen);
      marks[chosen].bDictionary = 1;
    }
  }
}

void SelectClasses(SYMBOL* marks, long count, PARAMETER* section) {
  const bool allRefDict = GetParameterValue("allrefdict", section, 0) != 0;
  const bool residue = GetParameterValue("residue", section, 0) != 0;
  for (long i = 0; i < count; ++i) {
    SYMBOL* mark = marks + i;
    if (allRefDict && mark->bRefine) mark->bDictionary = 1;
    if (residue) {
      if (!mark->bRefine && !mark->bDictionary && !mark->bExact) mark->bResidue = 1;
    } else if (!mark->bRefine && !mark->bExact) {
      mark->bDictionary = 1;
    }
  }
}
