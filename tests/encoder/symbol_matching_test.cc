#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "encoder/symbol.h"
#include "encoder/transclib.h"
#include "tests/test_util.h"

namespace {

using jb2test::GetPixel;
using jb2test::SetPixel;

// A section record holding the given keywords.
class Section {
 public:
  Section(std::initializer_list<std::pair<const char*, int32_t>> keys) {
    for (const auto& [name, value] : keys) {
      names_.push_back(const_cast<char*>(name));
      values_.push_back(value);
    }
    record_ = PARAMETER{};
    record_.lPage = 1;
    record_.lType = 1;
    record_.nKeys = static_cast<uint32_t>(names_.size());
    record_.ppszKeys = names_.data();
    record_.plValues = values_.data();
  }
  // The settings the coders take from the record.
  SectionSettings get() const { return SectionOf(record_, false); }

 private:
  std::vector<char*> names_;
  std::vector<int32_t> values_;
  PARAMETER record_;
};

// Marks drawn with '#' for black; the caller lists them in height order.
class MarkSet {
 public:
  explicit MarkSet(const std::vector<std::vector<std::string>>& pictures) {
    for (const auto& rows : pictures) {
      SYMBOL s{};
      CreateBMP(&s.Bitmap, rows[0].size(), rows.size(), 0);
      for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
          if (rows[y][x] == '#') SetPixel(&s.Bitmap, static_cast<long>(x), static_cast<long>(y), 1);
      marks_.push_back(s);
    }
  }
  ~MarkSet() {
    for (SYMBOL& s : marks_) DestroyBMP(&s.Bitmap);
  }
  SYMBOL& operator[](size_t i) { return marks_[i]; }
  SYMBOL* data() { return marks_.data(); }
  long size() const { return static_cast<long>(marks_.size()); }
  void Match(const SectionSettings& section) { EvaluateMatches(marks_.data(), size(), section); }

 private:
  std::vector<SYMBOL> marks_;
};

// Two 5 x 2 marks (10 pixels) that differ in `diff` pixels.
std::vector<std::vector<std::string>> PairDiffering(int diff) {
  std::string a0 = "#.#.#", a1 = ".#.#.";
  std::string b0 = a0, b1 = a1;
  for (int i = 0; i < diff; ++i) {
    std::string& row = i < 5 ? b0 : b1;
    char& c = row[i % 5];
    c = c == '#' ? '.' : '#';
  }
  return {{a0, a1}, {b0, b1}};
}

TEST(SymbolMatching, SoftThresholdIsStrictlyAboveTheMatchShare) {
  const struct {
    int diff;
    int32_t match;
    bool matches;
  } cases[] = {
      {2, 80, false},  // exactly 80 % agree: not enough
      {1, 80, true},   // 90 %
      {0, 80, true},   // identical marks soft-match too
      {3, 70, false},  // exactly 70 %
      {3, 69, true},
      {1, 101, false},  // above 100: 100, exact matching only
      {5, 0, true},     // any agreement passes a zero threshold
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "diff " << c.diff << " match " << c.match);
    MarkSet marks(PairDiffering(c.diff));
    Section section{{"match", c.match}};
    marks.Match(section.get());
    EXPECT_EQ(marks[1].bRefine, c.matches ? 1u : 0u);
    EXPECT_EQ(marks[1].bExact, 0u);
    EXPECT_EQ(marks[0].bDictionary, c.matches ? 1u : 0u);
    EXPECT_EQ(marks[1].lMatch, 0);
    EXPECT_EQ(marks[0].bRefine | marks[0].bExact, 0u);  // the first mark never matches
  }
}

TEST(SymbolMatching, ExactModeMatchesOnlyIdenticalMarks) {
  const struct {
    const char* name;
    std::initializer_list<std::pair<const char*, int32_t>> keys;
  } modes[] = {{"match=100", {{"match", 100}, {"matchoffset", 2}}},
               {"soft=0", {{"soft", 0}, {"matchoffset", 2}, {"dictbonus", 50}}}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    Section section(mode.keys);
    MarkSet identical(PairDiffering(0));
    identical.Match(section.get());
    EXPECT_EQ(identical[1].bExact, 1u);
    EXPECT_EQ(identical[1].bRefine, 0u);
    EXPECT_EQ(identical[1].lMatch, 0);
    EXPECT_EQ(identical[0].bDictionary, 1u);
    EXPECT_EQ(identical[1].lDX, 0);
    EXPECT_EQ(identical[1].lDY, 0);

    MarkSet nearly(PairDiffering(1));
    nearly.Match(section.get());
    EXPECT_EQ(nearly[1].bExact | nearly[1].bRefine | nearly[0].bDictionary, 0u);

    // Marks of one size and one black count, a pixel moved: only the pixels
    // tell them apart.
    const std::vector<std::string> box = {"########", "#......#", "#.####.#", "#.#..#.#",
                                          "#.#..#.#", "#.####.#", "#......#", "########"};
    std::vector<std::string> dotted = box;
    dotted[3][3] = '#';
    dotted[2][2] = '.';
    MarkSet large({box, dotted});
    large.Match(section.get());
    EXPECT_EQ(large[1].bExact, 0u);
  }
}

TEST(SymbolMatching, TiesGoToTheNearestEarlierMark) {
  const std::vector<std::string> glyph = {"##.", "#.#", "##."};
  MarkSet marks({glyph, glyph, glyph, glyph});
  Section section{{"refdict", 1}, {"match", 80}};
  marks.Match(section.get());
  for (long i = 1; i < 4; ++i) EXPECT_EQ(marks[i].lMatch, i - 1);
  for (long i = 0; i < 3; ++i) EXPECT_EQ(marks[i].bDictionary, 1u);
  EXPECT_EQ(marks[3].bDictionary, 0u);
}

TEST(SymbolMatching, IdenticalMarksShareTheFirstMarksSymbol) {
  // Exact matching follows a match to the class's first mark, so one
  // symbol serves every copy instead of each copy but the last.
  const std::vector<std::string> glyph = {"##.", "#.#", "##."};
  MarkSet marks({glyph, glyph, glyph, glyph});
  Section section{{"soft", 0}, {"refdict", 1}};
  marks.Match(section.get());
  for (long i = 1; i < 4; ++i) {
    EXPECT_EQ(marks[i].bExact, 1u);
    EXPECT_EQ(marks[i].lMatch, 0);
    EXPECT_EQ(marks[i].bDictionary, 0u);
  }
  EXPECT_EQ(marks[0].bDictionary, 1u);
}

TEST(SymbolMatching, SizeOffsetAdmitsShorterAndNarrowerCandidates) {
  // Candidate 4 x 4; mark 4 x 5 (one white row below) and mark 5 x 5.
  const std::vector<std::string> small = {"####", "#..#", "#..#", "####"};
  const std::vector<std::string> taller = {"####", "#..#", "#..#", "####", "...."};
  const std::vector<std::string> wider = {"####.", "#..#.", "#..#.", "####.", "....."};
  const struct {
    int32_t sizeOffset;
    int32_t soft;
    bool tallerMatches;
    bool widerMatches;
  } cases[] = {
      {0, 1, false, false},  // only marks of the same height are compared
      {1, 1, true, true},    // centred with offsets dw / 2 = 0, dh / 2 = 0
      {1, 0, false, false},  // exact matching needs equal sizes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "sizeoffset " << c.sizeOffset << " soft " << c.soft);
    Section section{{"sizeoffset", c.sizeOffset}, {"soft", c.soft}};
    MarkSet a({small, taller});
    a.Match(section.get());
    EXPECT_EQ(a[1].bRefine, c.tallerMatches ? 1u : 0u);
    MarkSet b({small, wider});
    b.Match(section.get());
    EXPECT_EQ(b[1].bRefine, c.widerMatches ? 1u : 0u);
  }
  // A width difference beyond the offset scores 0 even when the heights agree.
  Section section{{"sizeoffset", 1}, {"match", 0}};
  MarkSet c({{"##"}, {"####"}});
  c.Match(section.get());
  EXPECT_EQ(c[1].bRefine, 0u);
}

TEST(SymbolMatching, MatchOffsetFindsAndRecordsTheBestShift) {
  const std::vector<std::string> glyph = {"#...", "##..", ".#..", "...."};
  const std::vector<std::string> moved = {"....", ".#..", ".##.", "..#."};  // one right, one down
  const struct {
    int32_t matchOffset;
    bool matches;
    int32_t dx, dy;
  } cases[] = {{0, false, 0, 0}, {1, true, 1, 1}, {2, true, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "matchoffset " << c.matchOffset);
    Section section{{"matchoffset", c.matchOffset}, {"match", 90}};
    MarkSet marks({glyph, moved});
    marks.Match(section.get());
    EXPECT_EQ(marks[1].bRefine, c.matches ? 1u : 0u);
    EXPECT_EQ(marks[1].lDX, c.dx);
    EXPECT_EQ(marks[1].lDY, c.dy);
  }
}

TEST(SymbolMatching, DictionaryBonusPrefersExistingSymbols) {
  const std::vector<std::string> glyph = {"###", "#.#", "###"};
  for (int32_t bonus : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "dictbonus " << bonus);
    MarkSet marks({glyph, glyph, glyph});
    marks[0].bDictionary = 1;  // already a representative
    marks[1].bResidue = 1;     // neither evaluated nor a candidate
    MarkSet twoCandidates({glyph, glyph, glyph});
    twoCandidates[0].bDictionary = 1;
    Section section{{"dictbonus", bonus}, {"refdict", 1}};
    twoCandidates.Match(section.get());
    // Mark 1 matched mark 0 (a symbol); mark 2 sees mark 1 (not a symbol when
    // it was scored) and mark 0 with equal counts.
    EXPECT_EQ(twoCandidates[2].lMatch, bonus ? 0 : 1);
    marks.Match(section.get());
    EXPECT_EQ(marks[1].bRefine, 0u);
    EXPECT_EQ(marks[2].lMatch, 0);
  }
  // A candidate that scores 0 (width beyond the size offset) and loses the
  // bonus goes negative and is never chosen, however low the threshold.
  Section section{{"dictbonus", 3}, {"match", -1000}};
  MarkSet marks({{"#"}, {"###"}});
  marks.Match(section.get());
  EXPECT_EQ(marks[1].bRefine, 0u);
}

TEST(SymbolMatching, RefDictLetsSoftMatchedMarksServeAsCandidates) {
  const std::vector<std::string> first = {"####", "#..#", "####"};
  const std::vector<std::string> second = {"####", "#..#", "###."};  // 11 of 12 agree with first
  for (int32_t refDict : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "refdict " << refDict);
    Section section{{"refdict", refDict}, {"match", 80}};
    MarkSet marks({first, second, second});
    marks.Match(section.get());
    EXPECT_EQ(marks[1].bRefine, 1u);
    EXPECT_EQ(marks[1].lMatch, 0);
    EXPECT_EQ(marks[2].bRefine, 1u);
    EXPECT_EQ(marks[2].lMatch, refDict ? 1 : 0);
    EXPECT_EQ(marks[1].bDictionary, refDict ? 1u : 0u);
  }
}

// Agreeing pixels of mark and candidate placed at (ox, oy) in the mark's box,
// counted pixel by pixel.
long Agreement(const BMP* mark, const BMP* cand, long ox, long oy) {
  long agree = 0;
  for (long y = 0; y < static_cast<long>(mark->lHeight); ++y)
    for (long x = 0; x < static_cast<long>(mark->lWidth); ++x)
      agree += GetPixel(mark, x, y) == GetPixel(cand, x - ox, y - oy);
  return agree;
}

TEST(SymbolMatching, ScoresEqualPixelCountsOnOddWidthsAndShifts) {
  // Random marks of odd byte widths (5, 13, 17: spare bits and stride bytes)
  // with size and match offsets: every decision must agree with a pixel-wise
  // count on a fresh complement of the mark.
  std::mt19937 rng(11);
  const uint32_t widths[] = {5, 6, 13, 16, 17};
  std::vector<SYMBOL> marks;
  for (int i = 0; i < 60; ++i) {
    SYMBOL s{};
    const uint32_t h = 6 + static_cast<uint32_t>(i / 20);
    jb2test::MakeRandomBMP(&s.Bitmap, widths[rng() % 5], h, 0.5, rng, /*dirtySpareBits=*/true);
    marks.push_back(s);
  }
  SortSymbolsByHeight(marks.data(), marks.size());
  // Make many candidates close: copy a neighbour and flip a few pixels.
  for (size_t i = 1; i < marks.size(); ++i) {
    if (marks[i].Bitmap.lWidth != marks[i - 1].Bitmap.lWidth || marks[i].Bitmap.lHeight != marks[i - 1].Bitmap.lHeight)
      continue;
    for (long y = 0; y < static_cast<long>(marks[i].Bitmap.lHeight); ++y)
      for (long x = 0; x < static_cast<long>(marks[i].Bitmap.lWidth); ++x)
        SetPixel(&marks[i].Bitmap, x, y, GetPixel(&marks[i - 1].Bitmap, x, y) ^ (rng() % 9 == 0));
  }
  const long sizeOffset = 1, matchOffset = 1;
  const double threshold = 0.75;
  Section section{{"sizeoffset", 1}, {"matchoffset", 1}, {"match", 75}, {"refdict", 1}};
  std::vector<SYMBOL> expected = marks;
  EvaluateMatches(marks.data(), static_cast<long>(marks.size()), section.get());

  for (size_t i = 1; i < expected.size(); ++i) {
    const BMP* m = &expected[i].Bitmap;
    const long w = m->lWidth, h = m->lHeight;
    long best = 0, chosen = -1, bj = 0, bk = 0;
    for (long n = static_cast<long>(i) - 1; n >= 0; --n) {
      const BMP* c = &expected[n].Bitmap;
      const long dh = h - static_cast<long>(c->lHeight), dw = w - static_cast<long>(c->lWidth);
      if (dh > sizeOffset) break;
      long score = 0, sj = 0, sk = 0;
      if (std::labs(dw) <= sizeOffset) {
        score = -1;
        for (long j = -matchOffset; j <= matchOffset; ++j)
          for (long k = -matchOffset; k <= matchOffset; ++k) {
            const long a = Agreement(m, c, dw / 2 + j, dh / 2 + k);
            if (a > score) score = a, sj = j, sk = k;
          }
      }
      if (score > best) best = score, chosen = n, bj = sj, bk = sk;
    }
    if (chosen >= 0 && static_cast<double>(best) / static_cast<double>(w * h) > threshold) {
      expected[i].bRefine = 1;
      expected[i].lMatch = static_cast<int32_t>(chosen);
      expected[i].lDX = static_cast<int32_t>(bj);
      expected[i].lDY = static_cast<int32_t>(bk);
      expected[chosen].bDictionary = 1;
    }
  }
  int matched = 0;
  for (size_t i = 0; i < marks.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "mark " << i);
    EXPECT_EQ(marks[i].bRefine, expected[i].bRefine);
    EXPECT_EQ(marks[i].bDictionary, expected[i].bDictionary);
    EXPECT_EQ(marks[i].lMatch, expected[i].lMatch);
    EXPECT_EQ(marks[i].lDX, expected[i].lDX);
    EXPECT_EQ(marks[i].lDY, expected[i].lDY);
    matched += marks[i].bRefine;
  }
  EXPECT_GT(matched, 10);  // the case exercises real matches
  for (SYMBOL& s : marks) DestroyBMP(&s.Bitmap);
}

TEST(SymbolMatching, ClassSelectionRules) {
  struct Flags {
    uint32_t dictionary, exact, refine, residue;
  };
  const struct {
    const char* name;
    int32_t residue, allRefDict;
    Flags before, after;
  } cases[] = {
      {"unmatched mark becomes a symbol", 0, 0, {0, 0, 0, 0}, {1, 0, 0, 0}},
      {"exact copy stays a copy", 0, 0, {0, 1, 0, 0}, {0, 1, 0, 0}},
      {"soft match stays a refinement", 0, 0, {0, 0, 1, 0}, {0, 0, 1, 0}},
      {"allrefdict makes refinements symbols", 0, 1, {0, 0, 1, 0}, {1, 0, 1, 0}},
      {"unmatched mark goes to the residue", 3, 0, {0, 0, 0, 0}, {0, 0, 0, 1}},
      {"representative stays with residue on", 3, 0, {1, 0, 0, 0}, {1, 0, 0, 0}},
      {"exact copy stays with residue on", 3, 0, {0, 1, 0, 0}, {0, 1, 0, 0}},
      {"allrefdict before the residue rule", 3, 1, {0, 0, 1, 0}, {1, 0, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SYMBOL mark{};
    mark.bDictionary = c.before.dictionary;
    mark.bExact = c.before.exact;
    mark.bRefine = c.before.refine;
    mark.bResidue = c.before.residue;
    Section section{{"residue", c.residue}, {"allrefdict", c.allRefDict}};
    SelectClasses(&mark, 1, section.get().text);
    EXPECT_EQ(mark.bDictionary, c.after.dictionary);
    EXPECT_EQ(mark.bExact, c.after.exact);
    EXPECT_EQ(mark.bRefine, c.after.refine);
    EXPECT_EQ(mark.bResidue, c.after.residue);
  }
}

}  // namespace
