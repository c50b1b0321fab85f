// The adaptive binarization computes in one pass what leptonica's
// background normalization followed by a threshold at half the paper
// gives: the same bits on pages of any size (tiles cut at the edges), and
// on a page without paper (left as it is, then cut).
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tools/binarize.h"

namespace {

// Leptonica's two steps, with the method's settings.
Pix* TwoSteps(Pix* grey) {
  Pix* normalized = pixBackgroundNorm(grey, nullptr, nullptr, 10, 15, 100, 50, 200, 2, 2);
  Pix* binary = pixThresholdToBinary(normalized, 100);
  pixDestroy(&normalized);
  return binary;
}

// A grey page under light falling from `left` to a third of it, with dark
// strokes, specks, and edges of every grey between.
Pix* LitPage(l_int32 w, l_int32 h, int left, std::mt19937& rng) {
  Pix* page = pixCreate(w, h, 8);
  std::uniform_int_distribution<int> noise(-12, 12), speck(0, 40), grey(0, 255);
  for (l_int32 y = 0; y < h; ++y)
    for (l_int32 x = 0; x < w; ++x) {
      const int paper = left - left * 2 / 3 * x / w;
      const bool ink = (x / 3 + y / 5) % 7 == 0 || speck(rng) == 0, edge = (x / 3 + y / 5) % 7 == 1;
      const int value = edge ? grey(rng) : (ink ? paper / 4 : paper) + noise(rng);
      pixSetPixel(page, x, y, static_cast<l_uint32>(std::clamp(value, 0, 255)));
    }
  return page;
}

TEST(Binarize, SameBitsAsNormalizingThenThresholding) {
  setMsgSeverity(L_SEVERITY_NONE);  // leptonica's warnings on the dark page
  std::mt19937 rng(26);
  const l_int32 pages[][3] = {{400, 300, 235}, {403, 311, 235}, {9, 14, 235}, {33, 17, 235}, {1, 1, 235}, {120, 90, 80}};
  for (const auto& p : pages) {
    Pix* page = LitPage(p[0], p[1], p[2], rng);
    bool adaptive = false;
    Pix* fused = jb2tool::BinarizeGrey(page, jb2tool::kAutoThreshold, &adaptive);
    Pix* reference = TwoSteps(page);
    ASSERT_TRUE(fused && reference);
    l_int32 same = 0;
    pixEqual(fused, reference, &same);
    EXPECT_TRUE(same) << p[0] << " x " << p[1] << ", paper " << p[2];
    EXPECT_TRUE(adaptive);
    pixDestroy(&fused);
    pixDestroy(&reference);
    pixDestroy(&page);
  }
}

}  // namespace
