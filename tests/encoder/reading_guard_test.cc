#include "encoder/reading_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/lossy_classes.h"
#include "tests/test_util.h"

namespace {

// An F, 16 x 24: a stem three pixels wide, a bar across the top, a shorter
// one across the middle.
std::vector<std::string> LetterF() {
  std::vector<std::string> rows(24, std::string(16, '.'));
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 16; ++x)
      if (x < 3 || y < 3 || (y >= 10 && y < 13 && x < 12)) rows[y][x] = '#';
  return rows;
}

// The marks as SYMBOL records at (x, y), the caller's to destroy.
std::vector<SYMBOL> Marks(const std::vector<std::vector<std::string>>& pictures,
                         const std::vector<std::pair<int32_t, int32_t>>& places) {
  std::vector<SYMBOL> marks(pictures.size(), SYMBOL{});
  for (size_t i = 0; i < pictures.size(); ++i) {
    const auto& rows = pictures[i];
    CreateBMP(&marks[i].Bitmap, rows[0].size(), rows.size(), 0);
    for (size_t y = 0; y < rows.size(); ++y)
      for (size_t x = 0; x < rows[y].size(); ++x)
        if (rows[y][x] == '#') jb2test::SetPixel(&marks[i].Bitmap, static_cast<long>(x), static_cast<long>(y), 1);
    marks[i].lX = places[i].first;
    marks[i].lY = places[i].second;
  }
  return marks;
}

void Destroy(std::vector<SYMBOL>& marks) {
  for (SYMBOL& m : marks) DestroyBMP(&m.Bitmap);
}

// A rough F within the gate of the clean one (27 pixels differ: bumps on
// the stem's right, under the bars, and pits in its left edge) may not be
// drawn as the clean F while an E (the F and a 7-pixel foot, 21 pixels
// apart) lies nearer the clean F than the rough F does; without the E it
// may.
TEST(ReadingGuardTest, ASymbolNearerAnotherShapeThanItsMarkIsRefused) {
  const std::vector<std::string> clean = LetterF();
  std::vector<std::string> rough = clean, e = clean;
  for (int y : {4, 6, 8, 14, 16, 18, 20}) rough[y][3] = '#';
  for (int x : {5, 7, 9, 11, 13}) rough[3][x] = '#';
  for (int x : {5, 7, 9}) rough[9][x] = rough[13][x] = '#';
  for (int y : {4, 6, 8, 14, 16, 18, 20, 22, 12}) rough[y][0] = '.';
  for (int y = 21; y < 24; ++y)
    for (int x = 3; x < 10; ++x) e[y][x] = '#';
  const GateSettings gate;
  for (bool withE : {false, true}) {
    std::vector<SYMBOL> marks = withE ? Marks({clean, rough, e}, {{0, 0}, {40, 0}, {80, 0}})
                                      : Marks({clean, rough}, {{0, 0}, {40, 0}});
    const GateShape cleanShape(marks[0].Bitmap, gate), roughShape(marks[1].Bitmap, gate);
    GateAlignment at;
    ASSERT_TRUE(PassesShapeGate(roughShape, cleanShape, &at));  // the gate alone lets it through
    if (withE) {
      ASSERT_FALSE(PassesShapeGate(GateShape(marks[2].Bitmap, gate), cleanShape));
    }
    ReadingGuard guard(marks.data(), marks.size(), gate);
    EXPECT_EQ(guard.Keeps(1, marks[0].Bitmap, cleanShape, at, 0), !withE);
    // What it found is kept for the symbol's next marks.
    EXPECT_EQ(guard.Keeps(1, marks[0].Bitmap, cleanShape, at, 0), !withE);
    Destroy(marks);
  }
}

// A mark with another a blank row above or below it, their columns
// overlapping (an h whose stem noise cut), is never a lossy candidate;
// two blank rows apart, or side by side, both stay candidates.
TEST(ReadingGuardTest, PiecesOfABrokenCharacterAreNotSubstituted) {
  const std::vector<std::string> f = LetterF();
  std::vector<std::string> g = f;
  g[23][15] = '#';  // not a copy of the first
  std::vector<std::string> h = f, k = f;
  h[0][15] = '.';
  k[3][14] = '#';
  const GateSettings gate;
  struct Case {
    int32_t secondX, secondY;
    bool candidates;
  };
  for (const Case& c : {Case{0, 25, false}, Case{0, 26, true}, Case{17, 0, true}, Case{10, -25, false}}) {
    SCOPED_TRACE(std::to_string(c.secondX) + ", " + std::to_string(c.secondY));
    std::vector<SYMBOL> marks = Marks({f, g, h, k}, {{100, 100}, {100 + c.secondX, 100 + c.secondY}, {300, 100}, {400, 100}});
    const std::vector<bool> candidate = LossyCandidates(marks.data(), marks.size(), gate);
    EXPECT_EQ(candidate[0], c.candidates);
    EXPECT_EQ(candidate[1], c.candidates);
    EXPECT_TRUE(candidate[2] && candidate[3]);
    Destroy(marks);
  }
}

}  // namespace
