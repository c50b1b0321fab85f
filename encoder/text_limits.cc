#include "encoder/text_limits.h"

#include "common/limits.h"

void KeepWithinDecoderLimits(SYMBOL* marks, long count, uint64_t maxDictionaryPixels, uint64_t maxInstances) {
  uint64_t pixels = 0, instances = 0;
  for (long i = 0; i < count; ++i) {
    SYMBOL& m = marks[i];
    if (m.bResidue) continue;
    // A copy or refinement of a mark left in the residue has no symbol.
    const bool coded = !m.bDictionary || m.bRefine;
    if (coded && m.lMatch >= 0 && m.lMatch < i && marks[m.lMatch].bResidue) {
      m.bResidue = 1;
      continue;
    }
    if (m.bDictionary) {
      const uint64_t rows = m.Bitmap.lHeight;
      const uint64_t cost = StoredBitmapPixels(m.Bitmap.lWidth, rows) + rows;
      if (pixels + cost > maxDictionaryPixels || instances == maxInstances) {
        m.bResidue = 1;
        continue;
      }
      pixels += cost;
    } else if (instances == maxInstances) {
      m.bResidue = 1;
      continue;
    }
    ++instances;
  }
}
