// Symbol matching: decides which marks of a text section share one dictionary
// symbol, exactly or approximately (coded through refinement, T.88 6.4.11).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

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

// The mark's complement in a reused buffer: 1 wherever the mark is white. The
// spare bits of each row's last byte become 1 and the stride byte stays 0, as
// CopyBMP followed by InvertBMP would leave them.
BMP MakeComplement(const BMP& mark, std::vector<unsigned char>* buffer) {
  const size_t size = static_cast<size_t>(mark.lStride) * mark.lHeight;
  if (buffer->size() < size) buffer->resize(size);
  BMP work = mark;
  work.pData = buffer->data();
  for (uint32_t y = 0; y < mark.lHeight; ++y) {
    const unsigned char* src = mark.pData + static_cast<size_t>(y) * mark.lStride;
    unsigned char* dst = work.pData + static_cast<size_t>(y) * mark.lStride;
    for (uint32_t b = 0; b < mark.lBytesPerRow; ++b) dst[b] = static_cast<unsigned char>(~src[b]);
    for (uint32_t b = mark.lBytesPerRow; b < mark.lStride; ++b) dst[b] = 0;
  }
  return work;
}

struct Trial {
  int64_t score;
  long dx;
  long dy;
};

// Soft score of a candidate: the most pixels of the mark's box on which mark
// and candidate agree, over the centred position and every shift up to the
// match offset. The first best shift in loop order wins.
Trial SoftScore(BMP* work, BMP* candidate, long dw, long dh, long matchOffset) {
  Trial best{-1, 0, 0};
  for (long j = -matchOffset; j <= matchOffset; ++j) {
    for (long k = -matchOffset; k <= matchOffset; ++k) {
      const long x = dw / 2 + j;
      const long y = dh / 2 + k;
      CombineBMP(work, candidate, x, y, kOpXor);
      const int64_t agree = AreaBMP(work);
      CombineBMP(work, candidate, x, y, kOpXor);  // exclusive or again restores the complement
      if (agree > best.score) best = Trial{agree, j, k};
    }
  }
  return best;
}

}  // namespace

void EvaluateMatches(SYMBOL* marks, long count, PARAMETER* section) {
  const MatchSettings m = ReadMatchSettings(section);
  std::vector<unsigned char> buffer;
  // Candidates that can never be chosen (residue marks, and without refdict
  // marks that were themselves refined) are passed over through
  // nearest[n], the last candidate at or before n that can (or -1). A mark's
  // flags are final once its own turn is over, so the links are filled one
  // turn behind. Skipping them changes nothing: the height test they might
  // have stopped the scan on also stops it at the next candidate, whose
  // height is no greater. Pages of many equal specks (dithering) would
  // otherwise rescan every earlier refined speck for each new one.
  std::vector<long> nearest(static_cast<size_t>(std::max(count, 0L)), -1);
  auto eligible = [&](long n) { return !marks[n].bResidue && !(marks[n].bRefine && !m.refDict); };
  for (long i = 1; i < count; ++i) {
    nearest[i - 1] = eligible(i - 1) ? i - 1 : (i >= 2 ? nearest[i - 2] : -1);
    SYMBOL* mark = marks + i;
    if (mark->bResidue) continue;
    const long width = mark->Bitmap.lWidth;
    const long height = mark->Bitmap.lHeight;
    const int64_t area = static_cast<int64_t>(width) * height;
    BMP work{};
    if (m.soft) work = MakeComplement(mark->Bitmap, &buffer);

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
        if (std::labs(dw) <= m.sizeOffset) trial = SoftScore(&work, &candidate->Bitmap, dw, dh, m.matchOffset);
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
