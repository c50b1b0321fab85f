// The encoder keeps each text section within the decoder's limits: marks a
// dictionary or region could not hold stay in the residue, and so does every
// mark coded by one of them.
#include "encoder/text_limits.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/limits.h"

namespace {

struct MarkSpec {
  bool dictionary, refine;
  int32_t match;  // -1: none
};

std::vector<SYMBOL> Marks(const std::vector<MarkSpec>& specs) {
  std::vector<SYMBOL> marks(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    CreateBMP(&marks[i].Bitmap, 10, 10, 0);
    marks[i].bDictionary = specs[i].dictionary;
    marks[i].bRefine = specs[i].refine;
    marks[i].lMatch = specs[i].match;
  }
  return marks;
}

std::vector<int> Residue(std::vector<SYMBOL>& marks) {
  std::vector<int> r;
  for (SYMBOL& m : marks) {
    r.push_back(static_cast<int>(m.bResidue));
    DestroyBMP(&m.Bitmap);
  }
  return r;
}

// Two symbols with a copy each, then a refined symbol of the second.
const std::vector<MarkSpec> kPage = {{true, false, -1}, {false, false, 0}, {true, false, -1}, {false, false, 2},
                                     {true, true, 2}};
// What one 10 x 10 symbol counts: 16 stored pixels a row, and its rows.
const uint64_t kOneSymbol = StoredBitmapPixels(10, 10) + 10;

TEST(TextLimits, WithinTheLimitsNothingChanges) {
  auto marks = Marks(kPage);
  KeepWithinDecoderLimits(marks.data(), static_cast<long>(marks.size()), kMaxSymbolDictionaryPixels, kMaxTextInstances);
  EXPECT_EQ(Residue(marks), std::vector<int>({0, 0, 0, 0, 0}));
}

TEST(TextLimits, SymbolsPastTheDictionaryLimitTakeTheirCopiesAlong) {
  auto marks = Marks(kPage);
  KeepWithinDecoderLimits(marks.data(), static_cast<long>(marks.size()), kOneSymbol, kMaxTextInstances);
  EXPECT_EQ(Residue(marks), std::vector<int>({0, 0, 1, 1, 1}));
}

TEST(TextLimits, InstancesPastTheRegionLimitStayInTheResidue) {
  auto marks = Marks(kPage);
  KeepWithinDecoderLimits(marks.data(), static_cast<long>(marks.size()), kMaxSymbolDictionaryPixels, 3);
  EXPECT_EQ(Residue(marks), std::vector<int>({0, 0, 0, 1, 1}));
}

}  // namespace
