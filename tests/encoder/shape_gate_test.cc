#include "encoder/shape_gate.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

// A mark drawn with '#' for black.
struct Picture {
  BMP bmp{};
  explicit Picture(const std::vector<std::string>& rows) {
    CreateBMP(&bmp, rows[0].size(), rows.size(), 0);
    for (size_t y = 0; y < rows.size(); ++y)
      for (size_t x = 0; x < rows[y].size(); ++x)
        if (rows[y][x] == '#') jb2test::SetPixel(&bmp, static_cast<long>(x), static_cast<long>(y), 1);
  }
  ~Picture() { DestroyBMP(&bmp); }
};

// The gate; `smooth` false: boxes within r of each other, outlines as they are.
bool Gate(const std::vector<std::string>& a, const std::vector<std::string>& b, int32_t r = 1, bool smooth = true) {
  Picture pa(a), pb(b);
  GateSettings settings;
  settings.tolerance = r;
  settings.smooth = smooth;
  return PassesShapeGate(GateShape(pa.bmp, settings), GateShape(pb.bmp, settings));
}

// A block `rows` tall and `columns` wide.
std::vector<std::string> Bar(int rows, int columns) {
  return std::vector<std::string>(static_cast<size_t>(rows), std::string(static_cast<size_t>(columns), '#'));
}

// Rows of `width` pixels: `row` padded with white.
std::string Row(const std::string& row, size_t width = 12) { return row + std::string(width - row.size(), '.'); }

// Two rings stacked (an 8) and the same with the top ring opened by one
// row (a 6): within one pixel of each other everywhere.
std::vector<std::string> Eight() {
  std::vector<std::string> rows(20, "##........##");
  rows[0] = rows[9] = rows[19] = ".##########.";
  return rows;
}
std::vector<std::string> Six() {
  std::vector<std::string> rows = Eight();
  rows[4] = Row("##");
  return rows;
}

// A right triangle 16 pixels a side: the top two rows, the right two
// columns, and the diagonal from corner to corner `thickness` pixels thick.
std::vector<std::string> Triangle(int thickness) {
  std::vector<std::string> rows(16, std::string(16, '.'));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if (y < 2 || x >= 14 || (x >= y && x < y + thickness)) rows[y][x] = '#';
  return rows;
}

TEST(ShapeGateTest, OneConditionAloneSeparates) {
  // Holes: 2 against 1, every pixel within one of the other mark's.
  EXPECT_FALSE(Gate(Eight(), Six()));
  // Pieces: a block and the same block cut by one white row.
  std::vector<std::string> cut = Bar(16, 10);
  cut[8] = Row("", 10);
  EXPECT_FALSE(Gate(Bar(16, 10), cut));
  // Height: blocks of 40 and 42 rows, centred within one row of each other
  // (so at r = 2 they pass); smoothed or not, the boxes differ by 2.
  EXPECT_FALSE(Gate(Bar(40, 24), Bar(42, 24), 1, false));
  EXPECT_FALSE(Gate(Bar(40, 24), Bar(42, 24)));
  EXPECT_TRUE(Gate(Bar(40, 24), Bar(42, 24), 2, false));
  EXPECT_TRUE(Gate(Bar(40, 24), Bar(41, 24)));
  // Width: the same, lying down.
  EXPECT_FALSE(Gate(Bar(30, 40), Bar(30, 42), 1, false));
  EXPECT_TRUE(Gate(Bar(30, 40), Bar(30, 42), 2, false));
  // Narrow marks (bars, half as wide as tall or less) only when identical.
  std::vector<std::string> notched = Bar(16, 7);
  notched[6][6] = '.';
  EXPECT_TRUE(Gate(Bar(16, 8), Bar(16, 8)));
  EXPECT_FALSE(Gate(Bar(16, 7), notched));
  // Distance: an E and an F of the same box and topology.
  std::vector<std::string> e(16, Row("##"));
  e[0] = e[1] = e[14] = e[15] = std::string(12, '#');
  e[7] = e[8] = Row("########");
  std::vector<std::string> f = e;
  f[14] = f[15] = Row("##");
  EXPECT_FALSE(Gate(e, f));
  // Topology with thin strokes removed: a triangle closed by a diagonal one
  // pixel thick, and the same with the diagonal two pixels thick. Both have
  // one hole, and every pixel lies within one of the other mark's; with
  // bumps removed wholesale the thin diagonal goes and its triangle opens.
  EXPECT_FALSE(Gate(Triangle(1), Triangle(2)));
  EXPECT_TRUE(Gate(Triangle(1), Triangle(1)));
}

TEST(ShapeGateTest, LetterPairs) {
  // n and h: the ascender makes h three rows taller (and far from n's pixels).
  std::vector<std::string> n(16, Row("##......##", 10));
  n[0] = "##.######.";
  n[1] = "##########";
  std::vector<std::string> h(3, Row("##", 10));
  h.insert(h.end(), n.begin(), n.end());
  EXPECT_FALSE(Gate(n, h));
  EXPECT_TRUE(Gate(n, n));
}

TEST(ShapeGateTest, SmallEnoughChangesPass) {
  // A mark and its copy one pixel bolder (each row one pixel wider): within
  // the tolerance, smoothed or not.
  std::vector<std::string> bold = Eight();
  for (std::string& row : bold) {
    row += '.';
    for (size_t x = row.size() - 1; x > 0; --x)
      if (row[x - 1] == '#') row[x] = '#';
  }
  EXPECT_TRUE(Gate(Eight(), bold, 1, false));
  EXPECT_TRUE(Gate(Eight(), bold));
  // Bumps and pits on the outline, one of them past the box.
  std::vector<std::string> rough = Eight();
  rough[0][0] = '#';
  rough[5][1] = '.';
  rough[7][11] = '.';
  rough.insert(rough.begin(), Row("....#"));
  std::vector<std::string> padded = Eight();
  padded.insert(padded.begin(), Row(""));
  EXPECT_TRUE(Gate(Eight(), rough));
  EXPECT_TRUE(Gate(padded, rough));
}

TEST(ShapeGateTest, SmallMarksMatchOnlyExactly) {
  // 13 rows, one pixel apart: a shape that passes when 14 rows tall.
  std::vector<std::string> dot = Bar(13, 8), tall = Bar(14, 8);
  std::vector<std::string> dotBump = dot, tallBump = tall;
  dotBump[4][7] = '.';
  dotBump[5][7] = '.';
  tallBump[4][7] = '.';
  tallBump[5][7] = '.';
  EXPECT_TRUE(Gate(tall, tallBump));
  EXPECT_FALSE(Gate(dot, dotBump));
  EXPECT_TRUE(Gate(dot, dot));
  // Tall enough but under 40 black pixels.
  EXPECT_FALSE(Gate(Bar(14, 7), std::vector<std::string>(14, "###....")));
}

TEST(ShapeGateTest, ToleranceFollowsResolution) {
  EXPECT_EQ(GateTolerance(0), 1);       // unknown: 300 dpi
  EXPECT_EQ(GateTolerance(5906), 1);    // 150 dpi
  EXPECT_EQ(GateTolerance(11811), 1);   // 300 dpi
  EXPECT_EQ(GateTolerance(23622), 2);   // 600 dpi
  EXPECT_EQ(GateTolerance(47244), 4);   // 1200 dpi
}

TEST(ShapeGateTest, Topology) {
  // White pixels touching only diagonally are apart; black ones are one piece.
  const std::vector<std::string> ring = {".##.", "#..#", "#..#", ".##."};
  Picture p(ring);
  EXPECT_EQ(MarkTopology(p.bmp), (GateTopology{1, 1}));
  Picture eight(Eight()), six(Six());
  EXPECT_EQ(MarkTopology(eight.bmp), (GateTopology{1, 2}));
  EXPECT_EQ(MarkTopology(six.bmp), (GateTopology{1, 1}));
  const std::vector<std::string> apart = {"#.#", "...", "#.#"};
  Picture q(apart);
  EXPECT_EQ(MarkTopology(q.bmp), (GateTopology{4, 0}));
  // Smoothing keeps a stroke one pixel thick running diagonally, and the
  // hole it closes.
  Picture thin(Triangle(1));
  EXPECT_EQ(GateShape(thin.bmp, GateSettings{}).topology(), (GateTopology{1, 1}));
}

// Groups of `value` pixels of a grid with a white margin, found one pixel
// at a time: 8-connected black pieces, or 4-connected white holes (groups
// that reach the margin are not holes).
int32_t FloodGroups(std::vector<std::string> grid, char value, bool eight) {
  const int h = static_cast<int>(grid.size()), w = static_cast<int>(grid[0].size());
  int32_t groups = 0;
  for (int sy = 0; sy < h; ++sy)
    for (int sx = 0; sx < w; ++sx) {
      if (grid[sy][sx] != value) continue;
      bool edge = false;
      std::vector<std::pair<int, int>> stack{{sx, sy}};
      grid[sy][sx] = 'x';
      while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        edge = edge || x == 0 || y == 0 || x == w - 1 || y == h - 1;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if ((!eight && dx && dy) || nx < 0 || ny < 0 || nx >= w || ny >= h || grid[ny][nx] != value) continue;
            grid[ny][nx] = 'x';
            stack.emplace_back(nx, ny);
          }
      }
      groups += eight || !edge;
    }
  return groups;
}

TEST(ShapeGateTest, TopologyAsAFloodFillCountsIt) {
  // Random marks, some wider than a 64-bit word, some dense, some sparse.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 400; ++trial) {
    const size_t w = 1 + rng() % 90, h = 1 + rng() % 24;
    const unsigned density = 2 + rng() % 7;
    std::vector<std::string> rows(h, std::string(w, '.'));
    for (std::string& row : rows)
      for (char& c : row) c = rng() % 10 < density ? '#' : '.';
    std::vector<std::string> framed(h + 2, std::string(w + 2, '.'));
    for (size_t y = 0; y < h; ++y) framed[y + 1].replace(1, w, rows[y]);
    Picture p(rows);
    const GateTopology t = MarkTopology(p.bmp);
    ASSERT_EQ(t.pieces, FloodGroups(framed, '#', true)) << trial;
    ASSERT_EQ(t.holes, FloodGroups(framed, '.', false)) << trial;
  }
}

TEST(ShapeGateTest, WideMarksAndTheFoundAlignment) {
  // Marks over 64 pixels wide cross word boundaries; the second is the
  // first moved one pixel right inside a box one wider.
  std::vector<std::string> a(16, std::string(100, '.')), b(16, std::string(101, '.'));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 100; ++x)
      if ((x / 7 + y / 4) % 2 == 0 || y == 0) {
        a[y][x] = '#';
        b[y][x + 1] = '#';
      }
  Picture pa(a), pb(b);
  const GateSettings settings;
  GateShape ga(pa.bmp, settings), gb(pb.bmp, settings);
  GateAlignment at;
  ASSERT_TRUE(PassesShapeGate(ga, gb, &at));
  EXPECT_TRUE(PassesShapeGateAt(ga, gb, at));
  // Two pixels further to the side it does not.
  EXPECT_FALSE(PassesShapeGateAt(ga, gb, GateAlignment{at.dx + 2, at.dy}));
}

}  // namespace
