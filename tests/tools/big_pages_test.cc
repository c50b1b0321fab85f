// Round trips on full-size pages: A4 at 300 and 600 dpi, uniform areas,
// inverted pages, long uniform tails after a little content, and pages one
// pixel high or wide. Every file must come back exactly from `untransc`
// (exit 0, nothing on standard error) and from `jbig2dec`.
//
// The matrix: every generic mode of the interop tests (and stripes taller
// than the page) and halftone on every A4 300 dpi page kind; every text mode of the text-region tests on the pages that hold text
// over white and over black; the 600 dpi page and the one-pixel pages with a
// few modes of each region type. Pages whose lower part is one colour are the
// ones that catch a decoder that stops early: their coded data ends long
// before their pixels do. The sanitizer build runs only the A4 300 dpi
// cases of the default modes.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/generic_modes.h"
#include "tests/encoder/text_modes.h"
#include "tests/interop/reader_defects.h"
#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::PageKind;
using jb2test::Sections;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kUntransc = JB2_UNTRANSC_PATH;

using Build = std::function<void(Sections&, int32_t w, int32_t h)>;

struct BigCase {
  std::string name;
  PageKind kind;
  uint32_t width, height;
  Build build;
  bool halftone = false;
  bool jbig2dec = true;  // false where the compatibility table names a jbig2dec defect
  bool reduced = false;  // also run in the sanitizer build
};

// One section of `type` (0 generic, 1 text, 2 halftone) over the page.
Build Words(const Sections::Keys& keys, int32_t type = 0) {
  return [keys, type](Sections& s, int32_t, int32_t) { s.Add(type, 0, 0, 0, 0, keys); };
}

// Beside every generic mode of the interop tests: stripes taller than any
// page here.
const jb2test::GenericMode kStripeAbovePage = {
    "StripeAbovePageHeight", [](Sections& s, int32_t, int32_t) { s.Add({{"stripe", 8000}}); }};

// Whether the compatibility table names a jbig2dec defect for the mode.
bool Jbig2decMisreads(const std::string& mode) {
  return jb2test::FindMiss(mode, jb2test::Reader::kJbig2dec) != nullptr;
}

const PageKind kKinds[] = {PageKind::kWhite,          PageKind::kBlack,           PageKind::kTextTop,
                           PageKind::kTextTopInverted, PageKind::kBlackLowerHalf, PageKind::kNoiseOverBlack};

std::string Name(const std::string& mode, PageKind kind, uint32_t w, uint32_t h) {
  return mode + "_" + jb2test::PageKindName(kind) + "_" + std::to_string(w) + "x" + std::to_string(h);
}

std::vector<BigCase> MakeCases() {
  using jb2test::kA4Height300;
  using jb2test::kA4Height600;
  using jb2test::kA4Width300;
  using jb2test::kA4Width600;
  std::vector<BigCase> cases;
  auto add = [&](const std::string& mode, PageKind kind, uint32_t w, uint32_t h, Build build, bool jbig2dec = true,
                 bool halftone = false) {
    BigCase c{Name(mode, kind, w, h), kind, w, h, std::move(build), halftone, jbig2dec};
    c.reduced = w == kA4Width300 && (mode == "Template0" || mode == "Mmr" || mode == "TextDefault");
    cases.push_back(std::move(c));
  };
  std::vector<jb2test::GenericMode> generic(std::begin(jb2test::kGenericModes), std::end(jb2test::kGenericModes));
  generic.push_back(kStripeAbovePage);
  for (PageKind kind : kKinds) {
    for (const jb2test::GenericMode& g : generic)
      add(g.name, kind, kA4Width300, kA4Height300, g.build, !Jbig2decMisreads(std::string("gr/") + g.name));
    add("Halftone", kind, kA4Width300, kA4Height300, Words({}, 2), true, true);
  }
  for (PageKind kind : {PageKind::kTextTop, PageKind::kTextTopInverted, PageKind::kBlackLowerHalf}) {
    // Coded as text whatever its size: without "residue" a section whose
    // text coding is larger than a generic region becomes that region.
    for (const jb2test::TextMode& m : jb2test::kModes)
      add(std::string("Text") + m.name, kind, kA4Width300, kA4Height300,
          [&m](Sections& s, int32_t w, int32_t h) {
            m.build(s, w, h);
            s.AddKey("residue", 0);
          },
          !Jbig2decMisreads(std::string("sr/") + m.name));
  }
  // 600 dpi and pages of one row or one column: a few modes of each region type.
  const std::vector<std::tuple<PageKind, uint32_t, uint32_t>> sizes = {
      {PageKind::kTextTopInverted, kA4Width600, kA4Height600},
      {PageKind::kBlackLowerHalf, kA4Width600, kA4Height600},
      {PageKind::kNoiseOverBlack, kA4Width600, kA4Height600},
      {PageKind::kTextTop, 50000, 1},
      {PageKind::kNoiseOverBlack, 50000, 1},
      {PageKind::kNoiseOverBlack, 1, 50000},
      {PageKind::kBlack, 1, 50000},
  };
  for (auto [kind, w, h] : sizes) {
    add("Template0", kind, w, h, Words({}));
    add("Tpgdon", kind, w, h, Words({{"tpdon", 1}}));
    add("Mmr", kind, w, h, Words({{"mmr", 1}}));
    add("Stripes", kind, w, h, Words({{"stripe", 256}}));
    add("TextDefault", kind, w, h, Words({}, 1));
    add("TextHuffman", kind, w, h, Words({{"huff", 1}, {"soft", 0}}, 1));
    add("TextRefDict", kind, w, h, Words({{"refdict", 1}}, 1));
    add("Halftone", kind, w, h, Words({}, 2), true, true);
  }
  return cases;
}

const std::vector<BigCase>& Cases() {
  static const std::vector<BigCase> cases = MakeCases();
  return cases;
}

// Pages are drawn once per kind and size.
const BMP& SourcePage(PageKind kind, uint32_t w, uint32_t h) {
  static std::map<std::tuple<int, uint32_t, uint32_t>, std::unique_ptr<BMP, void (*)(BMP*)>> pages;
  auto key = std::make_tuple(static_cast<int>(kind), w, h);
  auto it = pages.find(key);
  if (it == pages.end()) {
    auto* page = new BMP{};
    jb2test::MakeTestPage(page, kind, w, h);
    it = pages.emplace(key, std::unique_ptr<BMP, void (*)(BMP*)>(page, [](BMP* b) {
                        DestroyBMP(b);
                        delete b;
                      })).first;
  }
  return *it->second;
}

// What a halftone section must give back: each whole 4 x 4 cell drawn with
// as many black pixels as the source cell has (at most 15), wherever they
// are; partial cells at the right and bottom edges are white.
void ExpectCellCounts(const BMP& source, const BMP& decoded) {
  uint64_t wrong = 0;
  for (uint32_t r = 0; r + 4 <= source.lHeight; r += 4)
    for (uint32_t c = 0; c + 4 <= source.lWidth; c += 4) {
      uint32_t want = 0, got = 0;
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
          want += jb2test::GetPixel(&source, c + x, r + y);
          got += jb2test::GetPixel(&decoded, c + x, r + y);
        }
      wrong += got != std::min(want, 15u);
    }
  EXPECT_EQ(wrong, 0u);
}

void ExpectSame(const BigCase& c, const BMP& source, const BMP& decoded) {
  ASSERT_EQ(decoded.lWidth, source.lWidth);
  ASSERT_EQ(decoded.lHeight, source.lHeight);
  if (c.halftone) ExpectCellCounts(source, decoded);
  else EXPECT_TRUE(jb2test::SamePixels(&decoded, &source));
}

class BigPages : public testing::TestWithParam<BigCase> {};

TEST_P(BigPages, DecodeExactlyInEveryReader) {
  const BigCase& c = GetParam();
  if (kSanitized && !c.reduced) GTEST_SKIP() << "runs in the release build only";
  const BMP& source = SourcePage(c.kind, c.width, c.height);
  BMP page{};
  jb2test::CopyPage(&source, &page);
  Sections sections;
  c.build(sections, static_cast<int32_t>(c.width), static_cast<int32_t>(c.height));
  const std::string dir = jb2test::MakeTempDir();
  const std::string base = dir + "/page";
  testing::internal::CaptureStderr();
  const int status = Transcode(&page, 1, sections.data(), sections.size(), (base + ".jb2").c_str());
  testing::internal::GetCapturedStderr();
  DestroyBMP(&page);
  ASSERT_EQ(status, 0);

  const jb2test::CommandResult ours = jb2test::RunCommand("'" + kUntransc + "' page", dir);
  EXPECT_EQ(ours.exitStatus, 0);
  EXPECT_EQ(ours.err, "");
  BMP decoded{};
  ASSERT_EQ(LoadBMP((base + "_1.bmp").c_str(), &decoded), 0);
  ExpectSame(c, source, decoded);
  DestroyBMP(&decoded);
  std::remove((base + "_1.bmp").c_str());

  if (!c.jbig2dec) return;
  if (jb2test::RunCommand("command -v jbig2dec").exitStatus != 0) GTEST_SKIP() << "jbig2dec is not installed";
  const jb2test::CommandResult peer = jb2test::RunCommand("jbig2dec -t pbm -o page.pbm page.jb2", dir);
  EXPECT_EQ(peer.exitStatus, 0) << peer.err;
  BMP theirs{};
  ASSERT_TRUE(jb2test::LoadPBM(base + ".pbm", &theirs)) << peer.err;
  ExpectSame(c, source, theirs);
  DestroyBMP(&theirs);
  std::remove((base + ".pbm").c_str());
  std::remove((base + ".jb2").c_str());
}

INSTANTIATE_TEST_SUITE_P(Matrix, BigPages, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<BigCase>& info) { return info.param.name; });

}  // namespace
