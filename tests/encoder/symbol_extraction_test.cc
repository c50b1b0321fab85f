#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "encoder/symbol.h"
#include "tests/test_util.h"

namespace {

using jb2test::GetPixel;
using jb2test::SetPixel;

// A bitmap drawn with '#' for black and '.' for white, one string per row.
void DrawBMP(BMP* bmp, const std::vector<std::string>& rows) {
  CreateBMP(bmp, rows.empty() ? 0 : rows[0].size(), rows.size(), 0);
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x)
      if (rows[y][x] == '#') SetPixel(bmp, static_cast<long>(x), static_cast<long>(y), 1);
}

struct Marks {
  SYMBOL* marks = nullptr;
  unsigned long count = 0;
  ~Marks() {
    for (unsigned long i = 0; i < count; ++i) DestroyBMP(&marks[i].Bitmap);
    std::free(marks);
  }
};

bool AllWhite(const BMP* bmp) {
  for (long y = 0; y < static_cast<long>(bmp->lHeight); ++y)
    for (long x = 0; x < static_cast<long>(bmp->lWidth); ++x)
      if (GetPixel(bmp, x, y)) return false;
  return true;
}

// An independent 8-connected labelling: each component in raster order of its
// first pixel, as a bounding box and the list of its pixels.
struct Component {
  long left, top, right, bottom;  // inclusive
  std::vector<std::pair<long, long>> pixels;
};

std::vector<Component> LabelComponents(const BMP* bmp) {
  const long w = bmp->lWidth, h = bmp->lHeight;
  std::vector<char> seen(static_cast<size_t>(w * h), 0);
  std::vector<Component> out;
  for (long y = 0; y < h; ++y) {
    for (long x = 0; x < w; ++x) {
      if (!GetPixel(bmp, x, y) || seen[y * w + x]) continue;
      Component c{x, y, x, y, {}};
      std::vector<std::pair<long, long>> todo{{x, y}};
      seen[y * w + x] = 1;
      while (!todo.empty()) {
        auto [px, py] = todo.back();
        todo.pop_back();
        c.pixels.push_back({px, py});
        c.left = std::min(c.left, px);
        c.right = std::max(c.right, px);
        c.top = std::min(c.top, py);
        c.bottom = std::max(c.bottom, py);
        for (long dy = -1; dy <= 1; ++dy)
          for (long dx = -1; dx <= 1; ++dx) {
            const long nx = px + dx, ny = py + dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || seen[ny * w + nx] || !GetPixel(bmp, nx, ny)) continue;
            seen[ny * w + nx] = 1;
            todo.push_back({nx, ny});
          }
      }
      out.push_back(std::move(c));
    }
  }
  return out;
}

// Extracts the marks of `section` and checks them against the labelling, that
// the section ends white, and that the marks recombined rebuild it.
void ExpectExtractionMatchesLabelling(BMP* section) {
  BMP original;
  CopyBMP(&original, section);
  const std::vector<Component> expected = LabelComponents(section);
  Marks got;
  ExtractAllSymbols(section, &got.marks, &got.count);
  ASSERT_EQ(got.count, expected.size());
  EXPECT_TRUE(AllWhite(section));
  for (unsigned long i = 0; i < got.count; ++i) {
    const SYMBOL& m = got.marks[i];
    const Component& c = expected[i];
    ASSERT_EQ(m.lX, c.left) << "mark " << i;
    ASSERT_EQ(m.lY, c.top) << "mark " << i;
    ASSERT_EQ(m.Bitmap.lWidth, static_cast<uint32_t>(c.right - c.left + 1)) << "mark " << i;
    ASSERT_EQ(m.Bitmap.lHeight, static_cast<uint32_t>(c.bottom - c.top + 1)) << "mark " << i;
    EXPECT_EQ(AreaBMP(const_cast<BMP*>(&m.Bitmap)), c.pixels.size()) << "mark " << i;
    for (auto [x, y] : c.pixels) ASSERT_TRUE(GetPixel(&m.Bitmap, x - c.left, y - c.top)) << "mark " << i;
    EXPECT_EQ(m.lIndex, 0);
    EXPECT_EQ(m.lMatch, 0);
    EXPECT_EQ(m.lDX, 0);
    EXPECT_EQ(m.lDY, 0);
    EXPECT_EQ(m.bDictionary | m.bExact | m.bResidue | m.bRefine, 0u);
  }
  for (unsigned long i = 0; i < got.count; ++i)
    CombineBMP(section, &got.marks[i].Bitmap, got.marks[i].lX, got.marks[i].lY, kOpOr);
  EXPECT_TRUE(jb2test::SamePixels(section, &original));
  DestroyBMP(&original);
}

struct BoxCase {
  const char* name;
  std::vector<std::string> picture;
  std::vector<std::vector<long>> boxes;  // x, y, width, height of each mark in order
};

TEST(SymbolExtraction, FindsMarksWithTheirBoxesInRasterOrder) {
  const std::vector<BoxCase> cases = {
      {"white section", {"......", "......"}, {}},
      {"single pixel at the origin", {"#..", "...", "..."}, {{0, 0, 1, 1}}},
      {"single pixel at the far corner", {"...", "...", "..#"}, {{2, 2, 1, 1}}},
      {"pixels touching at a corner", {"....", ".#..", "..#.", "...."}, {{1, 1, 2, 2}}},
      {"anti-diagonal corner", {"..#", ".#.", "#.."}, {{0, 0, 3, 3}}},
      {"pixels one apart", {"#.#"}, {{0, 0, 1, 1}, {2, 0, 1, 1}}},
      {"ring with a mark in its hole",
       {"#######", "#.....#", "#..#..#", "#.....#", "#######"},
       {{0, 0, 7, 5}, {3, 2, 1, 1}}},
      {"mark touching all four edges", {"..#..", "#####", "..#..", "..#.."}, {{0, 0, 5, 4}}},
      {"later mark reaching above an earlier one", {"...#", "#..#", "#..#", "####"}, {{0, 0, 4, 4}}},
      {"mark whose first pixel is not its leftmost", {"..#.", ".#..", "#...", "#..."}, {{0, 0, 3, 4}}},
      {"spiral", {"######", "#.....", "#.###.", "#.#.#.", "#...#.", "######"}, {{0, 0, 6, 6}}},
      {"comb open at the bottom", {"#######", "#.#.#.#", "#.#.#.#"}, {{0, 0, 7, 3}}},
      {"u-shape whose arms are found first", {"#...#", "#...#", "#####"}, {{0, 0, 5, 3}}},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    BMP section;
    DrawBMP(&section, c.picture);
    Marks got;
    ExtractAllSymbols(&section, &got.marks, &got.count);
    ASSERT_NE(got.marks, nullptr);
    ASSERT_EQ(got.count, c.boxes.size());
    for (unsigned long i = 0; i < got.count; ++i) {
      EXPECT_EQ(got.marks[i].lX, c.boxes[i][0]);
      EXPECT_EQ(got.marks[i].lY, c.boxes[i][1]);
      EXPECT_EQ(got.marks[i].Bitmap.lWidth, static_cast<uint32_t>(c.boxes[i][2]));
      EXPECT_EQ(got.marks[i].Bitmap.lHeight, static_cast<uint32_t>(c.boxes[i][3]));
    }
    EXPECT_TRUE(AllWhite(&section));
    DestroyBMP(&section);
  }
}

TEST(SymbolExtraction, MarkFillingTheSectionIsOneMark) {
  for (uint32_t width : {1u, 8u, 13u, 300u}) {
    BMP section;
    CreateBMP(&section, width, 97, 1);  // spare bits set as well
    Marks got;
    ExtractAllSymbols(&section, &got.marks, &got.count);
    ASSERT_EQ(got.count, 1u);
    EXPECT_EQ(got.marks[0].lX, 0);
    EXPECT_EQ(got.marks[0].lY, 0);
    EXPECT_EQ(got.marks[0].Bitmap.lWidth, width);
    EXPECT_EQ(got.marks[0].Bitmap.lHeight, 97u);
    EXPECT_EQ(AreaBMP(&got.marks[0].Bitmap), width * 97u);
    EXPECT_TRUE(AllWhite(&section));
    DestroyBMP(&section);
  }
}

TEST(SymbolExtraction, AgreesWithIndependentLabellingOnRandomPages) {
  std::mt19937 rng(7);
  // Densities from sparse dots to nearly solid; odd widths with dirty spare
  // bits; enough marks at 0.15 to grow the array past its first 1024 records.
  const struct {
    uint32_t width, height;
    double density;
  } pages[] = {{1, 40, 0.5}, {40, 1, 0.5}, {67, 45, 0.05}, {129, 70, 0.3},
               {200, 160, 0.15}, {61, 33, 0.55}, {90, 90, 0.8}};
  for (const auto& p : pages) {
    SCOPED_TRACE(testing::Message() << p.width << "x" << p.height << " @" << p.density);
    BMP section;
    jb2test::MakeRandomBMP(&section, p.width, p.height, p.density, rng, /*dirtySpareBits=*/true);
    ExpectExtractionMatchesLabelling(&section);
    DestroyBMP(&section);
  }
}

TEST(SymbolExtraction, LongSnakeGrowsTheRunList) {
  // A one-pixel-wide serpentine across a large section: one mark, long walk.
  BMP section;
  CreateBMP(&section, 403, 401, 0);
  for (long y = 0; y < 401; y += 2) {
    for (long x = 0; x < 403; ++x) SetPixel(&section, x, y, 1);
    if (y + 1 < 401) SetPixel(&section, (y / 2) % 2 == 0 ? 402 : 0, y + 1, 1);
  }
  ExpectExtractionMatchesLabelling(&section);
  DestroyBMP(&section);
}

TEST(SymbolExtraction, RunsReachingOutOfTheWordSearchedAreWhole) {
  // Rows next to a run are searched a 64-column word at a time: a run found
  // there may start bytes before the word, go on past it, or end at the
  // section's last column, whose spare bits are set.
  BMP section;
  CreateBMP(&section, 141, 6, 0);
  auto run = [&](long y, long x0, long x1) {
    for (long x = x0; x < x1; ++x) SetPixel(&section, x, y, 1);
  };
  run(0, 70, 75);    // its row below is searched from column 69, in the word from 64
  run(1, 3, 140);    // starts 61 columns before that word and ends past it
  run(2, 138, 141);  // reaches the last column
  run(4, 60, 64);    // touches the next run across a word's first column
  run(5, 64, 70);
  for (uint32_t y = 0; y < section.lHeight; ++y) section.pData[y * section.lStride + section.lBytesPerRow - 1] |= 0x07;
  ExpectExtractionMatchesLabelling(&section);
  DestroyBMP(&section);
}

TEST(SymbolExtraction, WideCombOverflowsTheWaitingRunsAndIsFoundAgain) {
  // A spine across the top row with 50,000 teeth hanging from it, each tooth
  // stepping one column right after its first row: the spine alone touches
  // more runs than may wait at once, so teeth are left behind and must be
  // found again by the scan of the mark's box against the pixels taken (the
  // mark's 200,001 runs are drawn aside as it is taken). Dots between the
  // teeth, inside that box, are marks of their own.
  const long teeth = 50000, width = 4 * teeth, height = 6;
  BMP section;
  CreateBMP(&section, static_cast<uint32_t>(width), height, 0);
  for (long x = 0; x < width; ++x) SetPixel(&section, x, 0, 1);
  for (long t = 0; t < teeth; ++t) {
    SetPixel(&section, 4 * t, 1, 1);
    for (long y = 2; y <= 4; ++y) SetPixel(&section, 4 * t + 1, y, 1);
    if (t % 7 == 3) SetPixel(&section, 4 * t + 3, 4, 1);
  }
  ExpectExtractionMatchesLabelling(&section);
  DestroyBMP(&section);
}

TEST(SymbolExtraction, SortOrdersByHeightThenWidthKeepingRasterOrder) {
  const uint32_t sizes[][2] = {{3, 5}, {9, 4}, {2, 4}, {3, 5}, {1, 1}, {9, 4}, {3, 5}};
  std::vector<SYMBOL> marks(std::size(sizes));
  for (size_t i = 0; i < marks.size(); ++i) {
    marks[i] = SYMBOL{};
    marks[i].Bitmap.lWidth = sizes[i][0];
    marks[i].Bitmap.lHeight = sizes[i][1];
    marks[i].lX = static_cast<int32_t>(i);  // raster order
  }
  EXPECT_LT(CompareSymbHeight(&marks[1], &marks[0]), 0);  // 9 x 4 before 3 x 5
  EXPECT_GT(CompareSymbHeight(&marks[1], &marks[2]), 0);  // 2 x 4 before 9 x 4
  EXPECT_EQ(CompareSymbHeight(&marks[0], &marks[3]), 0);
  SortSymbolsByHeight(marks.data(), marks.size());
  const int32_t order[] = {4, 2, 1, 5, 0, 3, 6};
  for (size_t i = 0; i < marks.size(); ++i) EXPECT_EQ(marks[i].lX, order[i]) << i;
}

}  // namespace
