// Lossy classes across a document's pages: rough copies of the same
// characters on several pages are drawn as the shared dictionary's
// representatives, no character reads as another, the check before writing
// covers the shared symbols, and the first pass keeps its representatives
// within its budget.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "encoder/lossy_classes.h"
#include "encoder/shared_classes.h"
#include "encoder/symbol.h"
#include "encoder/transcode.h"
#include "include/jbig2codec/jb2_decode.h"
#include "tests/glyph_grid.h"
#include "tests/test_util.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::GlyphGrid;

constexpr uint32_t kCopies = 6;

struct Pages {
  std::vector<BMP> pages;
  Pages() = default;
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;
  ~Pages() {
    for (BMP& b : pages) DestroyBMP(&b);
  }
  // A copy of the grid's page, rough with `seed` (0: clean).
  void Add(const GlyphGrid& grid, uint32_t seed) {
    BMP page{};
    CopyBMP(&page, const_cast<BMP*>(&grid.page));
    page.lXResolution = page.lYResolution = grid.page.lXResolution;
    if (seed) jb2test::AddEdgeNoise(&page, seed);
    pages.push_back(page);
  }
};

// Codes the pages as one document with `keys` and decodes every page into
// *decoded; the status of the coding, the file's size in *bytes.
int RoundTrip(Pages& in, const jb2test::Sections::Keys& keys, const LOSSY_HOOKS* hooks, Pages* decoded,
              size_t* bytes) {
  jb2test::Sections sections;
  sections.Add(1, 0, 0, 0, 0, keys);
  std::vector<unsigned char> file;
  const int status = TranscodeDocumentToMemory(in.pages.data(), static_cast<long>(in.pages.size()), sections.data(),
                                               sections.size(), &file, nullptr, 2, hooks);
  *bytes = file.size();
  if (status != kTranscodeDone || !decoded) return status;
  jb2_decoder* dec = nullptr;
  EXPECT_EQ(jb2_decoder_create(&dec), JB2_OK);
  EXPECT_EQ(jb2_decoder_open(dec, file.data(), file.size()), JB2_OK);
  for (uint32_t p = 0; p < in.pages.size(); ++p) {
    jb2_page out;
    EXPECT_EQ(jb2_decoder_decode_page(dec, p, &out), JB2_OK);
    BMP page{};
    CreateBMP(&page, out.width, out.height, 0);
    for (uint32_t y = 0; y < out.height && out.pixels; ++y)
      std::memcpy(page.pData + size_t{y} * page.lStride, out.pixels + y * out.stride, page.lBytesPerRow);
    decoded->pages.push_back(page);
  }
  jb2_decoder_destroy(dec);
  return status;
}

// The marks of `b` at least 14 rows tall whose pixels are those of a mark
// of `a`.
size_t MarksFoundOn(const BMP& a, const BMP& b) {
  auto hashes = [](const BMP& page) {
    BMP copy{};
    CopyBMP(&copy, const_cast<BMP*>(&page));
    SYMBOL* marks = nullptr;
    unsigned long count = 0;
    ExtractAllSymbols(&copy, &marks, &count);
    std::vector<uint64_t> out;
    for (unsigned long i = 0; i < count; ++i) {
      if (marks[i].Bitmap.lHeight >= 14) out.push_back(PixelHash(marks[i].Bitmap));
      DestroyBMP(&marks[i].Bitmap);
    }
    std::free(marks);
    DestroyBMP(&copy);
    return out;
  };
  const std::vector<uint64_t> on = hashes(a);
  const std::set<uint64_t> known(on.begin(), on.end());
  size_t found = 0;
  for (uint64_t h : hashes(b)) found += known.count(h);
  return found;
}

// Two rough copies of one grid: the second page's characters are drawn as
// the first page's (its marks come out as the first page's, which the
// rough sources' are not), the file is smaller than with each page's classes its own, and no
// cell reads as another character.
TEST(SharedClassesTest, RoughCopiesOnTwoPagesShareTheirClasses) {
  GlyphGrid grid;
  std::string error;
  ASSERT_TRUE(jb2test::RenderGlyphGrid("Times-Roman", 10, 300, kCopies, &grid, &error)) << error;
  Pages pages, decoded;
  pages.Add(grid, 31);
  pages.Add(grid, 32);
  size_t lossy = 0, lossless = 0;
  ASSERT_EQ(RoundTrip(pages, {{"lossy", 1}}, nullptr, &decoded, &lossy), kTranscodeDone);
  ASSERT_EQ(RoundTrip(pages, {}, nullptr, nullptr, &lossless), kTranscodeDone);
  // Each page on its own: its classes cannot reach the other page.
  size_t single = 0;
  for (BMP& page : pages.pages) {
    Pages one;
    one.pages.push_back(page);
    size_t bytes = 0;
    EXPECT_EQ(RoundTrip(one, {{"lossy", 1}}, nullptr, nullptr, &bytes), kTranscodeDone);
    single += bytes;
    one.pages.clear();  // the page stays `pages`'s
  }
  EXPECT_LT(lossy, single);
  EXPECT_LT(lossy, lossless);
  std::printf("two rough pages: %zu bytes lossy as one document, %zu as single pages, %zu lossless\n", lossy, single,
              lossless);
  // Marks of the second page drawn as the first page's.
  const size_t alike = MarksFoundOn(decoded.pages[0], decoded.pages[1]);
  const size_t alikeBefore = MarksFoundOn(pages.pages[0], pages.pages[1]);
  EXPECT_GE(alike, alikeBefore + 10) << alike << " against " << alikeBefore;
  for (int p = 0; p < 2; ++p) {
    const jb2test::SubstitutionCount count = jb2test::CountSubstitutions(grid, pages.pages[p], decoded.pages[p]);
    EXPECT_EQ(count.substituted, 0u) << count.first;
  }
}

// The grids of every font and size at one resolution, clean and rough,
// coded as one document: no cell reads as another character.
TEST(SharedClassesTest, NoCharacterIsReplacedAcrossPages) {
  for (uint32_t dpi : {150u, 200u, 300u}) {
    std::vector<std::unique_ptr<GlyphGrid>> grids;
    Pages pages, decoded;
    for (const char* font : {"Times-Roman", "Helvetica", "Courier"})
      for (double points : {6.0, 8.0, 10.0}) {
        grids.push_back(std::make_unique<GlyphGrid>());
        std::string error;
        ASSERT_TRUE(jb2test::RenderGlyphGrid(font, points, dpi, kCopies, grids.back().get(), &error)) << error;
        // As the single-page test roughens them.
        for (bool noisy : {false, true}) pages.Add(*grids.back(), noisy ? dpi + static_cast<uint32_t>(points) : 0);
      }
    size_t bytes = 0;
    ASSERT_EQ(RoundTrip(pages, {{"lossy", 1}}, nullptr, &decoded, &bytes), kTranscodeDone);
    for (size_t p = 0; p < pages.pages.size(); ++p) {
      SCOPED_TRACE(std::to_string(dpi) + " dpi, page " + std::to_string(p + 1));
      const jb2test::SubstitutionCount count = jb2test::CountSubstitutions(*grids[p / 2], pages.pages[p], decoded.pages[p]);
      EXPECT_EQ(count.substituted, 0u) << count.first;
      EXPECT_GT(count.cells, grids[p / 2]->cells.size() / 2);
    }
  }
}

// Checked before written: a shared symbol changed after the gate chose it
// stops the coding with the check's status and no output.
// Neighbouring shared symbols trade their pixels.
void SabotageShared(SYMBOL* symbols, unsigned long count) {
  for (unsigned long i = 0; i + 1 < count; i += 2) std::swap(symbols[i].Bitmap, symbols[i + 1].Bitmap);
}

TEST(SharedClassesTest, ASabotagedSharedSymbolWritesNothing) {
  GlyphGrid grid;
  std::string error;
  ASSERT_TRUE(jb2test::RenderGlyphGrid("Times-Roman", 10, 300, kCopies, &grid, &error)) << error;
  Pages pages;
  pages.Add(grid, 41);
  pages.Add(grid, 42);
  const LOSSY_HOOKS hooks{nullptr, nullptr, SabotageShared};
  size_t bytes = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RoundTrip(pages, {{"lossy", 1}}, &hooks, nullptr, &bytes), kTranscodeCheckFailed);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(bytes, 0u);
  EXPECT_NE(err.find("Lossy Check Failed"), std::string::npos) << err;
}

// A square ring of side `size` (one hole), rough with a pixel `bump` of
// its outer edge set off.
void DrawRing(BMP* b, uint32_t size, uint32_t bump) {
  CreateBMP(b, size, size, 0);
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x)
      if (x < 4 || y < 4 || x + 4 >= size || y + 4 >= size) jb2test::SetPixel(b, x, y, 1);
  jb2test::SetPixel(b, 0, 1 + bump % (size - 2), 0);
}

// The first pass keeps its representatives within its budget: classes seen
// on one earlier page make room, a class seen on every page stays and is
// found shared.
TEST(SharedClassesTest, TheFirstPassKeepsWithinItsBudget) {
  GateSettings gate;
  const uint32_t kPages = 40;
  std::vector<uint32_t> sizes;  // one size each page of its own, far from the others
  for (uint32_t p = 0; p < kPages; ++p) sizes.push_back(30 + 4 * p);
  const uint64_t budget = 40000;  // a few of the larger rings
  SharedClassFinder finder(gate, budget);
  for (uint32_t p = 0; p < kPages; ++p) {
    SYMBOL marks[2] = {};
    DrawRing(&marks[0].Bitmap, 24, p);      // the same character on every page
    DrawRing(&marks[1].Bitmap, sizes[p], p);  // a character of this page only
    finder.AddMarks(marks, 2, p);
    EXPECT_LE(finder.bytes(), budget);
    for (SYMBOL& m : marks) DestroyBMP(&m.Bitmap);
  }
  std::vector<SYMBOL> shared;
  std::vector<uint32_t> pages;
  finder.Finish(&shared, &pages);
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(shared[0].Bitmap.lWidth, 24u);
  EXPECT_EQ(pages[0], kPages);
  for (SYMBOL& s : shared) DestroyBMP(&s.Bitmap);
}

}  // namespace
