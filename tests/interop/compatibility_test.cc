// Every transc mode of the generic, text and halftone tests, read by four
// independent readers: untransc, jbig2dec, poppler and pdf.js. Each reader
// must give back exactly the page it should on every test page, except
// where the table below names a defect of that reader; those cells must
// fail the way the table says, so a change in either direction is noticed.
// The README's compatibility table is this table (see ReadmeShowsTheTable).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/generic_modes.h"
#include "tests/encoder/halftone_modes.h"
#include "tests/encoder/text_modes.h"
#include "tests/encoder/text_pages.h"
#include "tests/interop/reader_defects.h"
#include "tests/interop/readers.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::Reader;
using jb2test::Outcome;
using jb2test::OutcomeName;
using jb2test::Defect;
using jb2test::Miss;
using jb2test::kDefects;
using jb2test::kMisses;
using jb2test::FindMiss;
using jb2test::Sections;

// A test page: the pixels coded and the section a halftone mode codes.
struct Page {
  std::string name;
  BMP bmp{};
  uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// One row of the table.
struct Mode {
  std::string family;  // gr, sr or ht
  std::string name;
  std::function<void(Sections&, const Page&)> build;
  const jb2test::HalftoneCase* halftone = nullptr;  // halftone rows: the page shown is not the page coded
  bool lossy = false;  // lossy text rows: the page shown is untransc's reading
  std::string Id() const { return family + "/" + name; }
};

std::vector<Mode> AllModes() {
  std::vector<Mode> modes;
  for (const jb2test::GenericMode& m : jb2test::kGenericModes)
    modes.push_back({"gr", m.name, [&m](Sections& s, const Page& p) {
                       m.build(s, static_cast<int32_t>(p.bmp.lWidth), static_cast<int32_t>(p.bmp.lHeight));
                     }});
  // Text modes are coded as text on every page: without "residue" a section
  // whose text coding comes out larger than a generic region is written as
  // that generic region, which every reader reads.
  for (const jb2test::TextMode& m : jb2test::kModes)
    modes.push_back({"sr", m.name, [&m](Sections& s, const Page& p) {
                       m.build(s, static_cast<int32_t>(p.bmp.lWidth), static_cast<int32_t>(p.bmp.lHeight));
                       if (!s.LastHasKey("residue")) s.AddKey("residue", 0);
                     }});
  // Lossy text: pixels change, and every reader must show what untransc shows.
  static const std::pair<const char*, Sections::Keys> kLossy[] = {
      {"Lossy", {{"lossy", 1}}},
      {"LossyHuffman", {{"lossy", 1}, {"huff", 1}}},
      {"LossyRefDictCorner3", {{"lossy", 1}, {"refdict", 1}, {"refcorner", 3}, {"transposed", 1}}},
  };
  for (const auto& entry : kLossy) {
    Mode mode{"sr", entry.first, [&entry](Sections& s, const Page&) {
                s.Add(1, 0, 0, 0, 0, entry.second);
                s.AddKey("residue", 0);
              }};
    mode.lossy = true;
    modes.push_back(mode);
  }
  for (const jb2test::HalftoneCase& c : jb2test::kHalftoneCases) {
    Mode mode{"ht", c.name, [&c](Sections& s, const Page& p) {
                jb2test::AddHalftoneSection(s, c, p.x0, p.y0, p.x1, p.y1);
              }};
    mode.halftone = &c;
    modes.push_back(mode);
  }
  return modes;
}

// The family's own small pages, then the sample page, a noisy scan of it
// and small text.
std::vector<Page> PagesFor(const std::string& family) {
  std::vector<Page> pages;
  auto take = [&pages](std::vector<jb2test::TextPage> more) {
    for (jb2test::TextPage& t : more)
      pages.push_back({t.name, t.bmp, 0, 0, static_cast<uint32_t>(t.bmp.lWidth), static_cast<uint32_t>(t.bmp.lHeight)});
  };
  if (family == "gr") take(jb2test::MakeGenericPages());
  if (family == "sr") take(jb2test::MakeTextPages(false));
  if (family == "ht") {
    std::mt19937 rng(7);
    for (const jb2test::HalftoneGeometry& g : jb2test::kHalftoneGeometries) {
      Page p{"gray" + std::to_string(g.w) + "x" + std::to_string(g.h), {}, g.x0, g.y0, g.x1, g.y1};
      jb2test::MakeGrayPage(&p.bmp, g.w, g.h, rng);
      // Only the section: pixels outside it would be coded as a generic region.
      jb2test::ClearOutside(&p.bmp, g.x0, g.y0, g.x1, g.y1);
      pages.push_back(p);
    }
  }
  take(jb2test::MakeScanPages());
  return pages;
}

// Pixels that differ (spare bits aside); -1 when the sizes differ.
long Differences(const BMP& a, const BMP& b) {
  if (a.lWidth != b.lWidth || a.lHeight != b.lHeight) return -1;
  long n = 0;
  const uint32_t full = a.lWidth / 8, rest = a.lWidth % 8;
  for (uint32_t y = 0; y < a.lHeight; ++y) {
    const unsigned char* ra = a.pData + static_cast<size_t>(y) * a.lStride;
    const unsigned char* rb = b.pData + static_cast<size_t>(y) * b.lStride;
    for (uint32_t i = 0; i < full; ++i) n += __builtin_popcount(ra[i] ^ rb[i]);
    if (rest) n += __builtin_popcount((ra[full] ^ rb[full]) & (0xFF00 >> rest));
  }
  return n;
}

std::string Cell(const std::string& mode, Reader reader) {
  const Miss* m = FindMiss(mode, reader);
  return m ? std::string(OutcomeName(m->outcome)) + " (" + m->defects + ")" : "exact";
}

void PrintTo(const Mode& mode, std::ostream* os) { *os << mode.Id(); }

std::string PrintMode(const ::testing::TestParamInfo<Mode>& info) {
  return info.param.family + "_" + info.param.name;
}

class Compatibility : public ::testing::TestWithParam<Mode> {};

TEST_P(Compatibility, EveryReaderReadsTheModeAsTheTableSays) {
#if defined(__SANITIZE_ADDRESS__)
  // The other readers judge the same files in the release build; here their
  // runs would only wait on our sanitized programs.
  GTEST_SKIP() << "runs in the release build";
#endif
  const Mode& mode = GetParam();
  std::vector<Page> pages = PagesFor(mode.family);
  ASSERT_GE(pages.size(), 4u) << "examples/sample.bmp did not load";
  const std::string dir = jb2test::MakeTempDir();
  std::vector<std::string> files;
  std::vector<BMP> expected(pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    Page& page = pages[i];
    if (mode.halftone)
      jb2test::ExpectedPage(&page.bmp, page.x0, page.y0, page.x1, page.y1, jb2test::HalftoneMatrix(*mode.halftone),
                            &expected[i]);
    else
      jb2test::CopyPage(&page.bmp, &expected[i]);
    Sections sections;
    mode.build(sections, page);
    files.push_back(dir + "/" + page.name + ".jb2");
    testing::internal::CaptureStderr();
    const int result = Transcode(&page.bmp, 1, sections.data(), sections.size(), files.back().c_str());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0) << page.name;
    DestroyBMP(&page.bmp);
  }

  if (mode.lossy) {
    std::string error;
    std::vector<jb2test::Reading> shown = jb2test::ReadFiles(Reader::kUntransc, files, &error);
    ASSERT_EQ(shown.size(), files.size()) << error;
    for (size_t i = 0; i < shown.size(); ++i) {
      ASSERT_TRUE(shown[i].page.pData) << pages[i].name;
      DestroyBMP(&expected[i]);
      expected[i] = shown[i].page;
      shown[i].page = BMP{};
    }
  }
  std::string missing;
  for (Reader reader : jb2test::kReaders) {
    SCOPED_TRACE(jb2test::ReaderName(reader));
    const std::string why = jb2test::ReaderMissing(reader);
    if (!why.empty()) {
      missing += (missing.empty() ? "" : "; ") + why;
      continue;
    }
    std::string error;
    const std::vector<jb2test::Reading> readings = jb2test::ReadFiles(reader, files, &error);
    ASSERT_EQ(readings.size(), files.size()) << error;
    Outcome worst = Outcome::kExact;
    std::string report;
    for (size_t i = 0; i < readings.size(); ++i) {
      const jb2test::Reading& r = readings[i];
      const long diff = r.page.pData ? Differences(r.page, expected[i]) : -1;
      if (diff == 0) continue;
      const Outcome o = !r.page.pData || !r.messages.empty() ? Outcome::kFails : Outcome::kWrong;
      worst = std::max(worst, o);
      report += "\n  " + pages[i].name + ": " + OutcomeName(o) + ", " +
                (r.page.pData ? diff < 0 ? "page of another size" : std::to_string(diff) + " pixels differ"
                              : "no page") +
                (r.messages.empty() ? "" : "; " + r.messages.substr(0, r.messages.find('\n')));
    }
    const Miss* miss = FindMiss(mode.Id(), reader);
    const Outcome want = miss ? miss->outcome : Outcome::kExact;
    EXPECT_EQ(OutcomeName(worst), std::string(OutcomeName(want)))
        << mode.Id() << " read by " << jb2test::ReaderName(reader) << ":" << report;
  }
  for (BMP& b : expected) DestroyBMP(&b);
  if (!missing.empty()) GTEST_SKIP() << missing;
}

INSTANTIATE_TEST_SUITE_P(Modes, Compatibility, ::testing::ValuesIn(AllModes()), PrintMode);

// ---------------------------------------------------------------- the table

const char* const kTableBegin = "<!-- compatibility table: made by tests/interop/compatibility_test.cc -->";
const char* const kTableEnd = "<!-- end of compatibility table -->";

// The words of a mode as they code the sample page.
std::string SampleWords(const Mode& mode) {
  Page sample{"sample", {}};
  CreateBMP(&sample.bmp, 1100, 1700, 0);
  sample.x1 = 1100;
  sample.y1 = 1700;
  Sections sections;
  mode.build(sections, sample);
  DestroyBMP(&sample.bmp);
  return sections.Words();
}

std::string MarkdownTable() {
  std::ostringstream out;
  out << kTableBegin << "\n\n| mode | `transc` words (sample page) |";
  for (Reader reader : jb2test::kReaders) out << " " << jb2test::ReaderName(reader) << " |";
  out << "\n|---|---|---|---|---|---|\n";
  for (const Mode& mode : AllModes()) {
    out << "| " << mode.Id() << " | `" << SampleWords(mode) << "` |";
    for (Reader reader : jb2test::kReaders) out << " " << Cell(mode.Id(), reader) << " |";
    out << "\n";
  }
  out << "\n| defect | reader | T.88 clause | what the reader does |\n|---|---|---|---|\n";
  for (const Defect& d : kDefects)
    out << "| " << d.id << " | " << jb2test::ReaderName(d.reader) << " | " << d.clause << " | " << d.what << " |\n";
  out << "\n" << kTableEnd;
  return out.str();
}

TEST(CompatibilityTable, EveryMissNamesAModeAndItsReadersDefect) {
  std::map<std::string, bool> modes;
  for (const Mode& m : AllModes()) modes[m.Id()] = true;
  for (const Miss& miss : kMisses) {
    EXPECT_TRUE(modes.count(miss.mode)) << miss.mode;
    EXPECT_NE(miss.outcome, Outcome::kExact) << miss.mode;
    std::stringstream ids(miss.defects);
    for (std::string id; std::getline(ids >> std::ws, id, ',');) {
      bool found = false;
      for (const Defect& d : kDefects) found = found || (id == d.id && d.reader == miss.reader);
      EXPECT_TRUE(found) << miss.mode << ": " << id << " is no defect of " << jb2test::ReaderName(miss.reader);
    }
  }
}

// The README shows the table above. JB2_WRITE_README=1 rewrites its section.
TEST(CompatibilityTable, ReadmeShowsTheTable) {
  const std::string path = JB2_SOURCE_DIR "/README.md";
  const std::vector<uint8_t> bytes = jb2test::ReadFileBytes(path);
  std::string readme(bytes.begin(), bytes.end());
  const size_t begin = readme.find(kTableBegin), end = readme.find(kTableEnd);
  ASSERT_NE(begin, std::string::npos) << "README.md has no compatibility table";
  ASSERT_NE(end, std::string::npos);
  const std::string table = MarkdownTable();
  const std::string shown = readme.substr(begin, end + std::string(kTableEnd).size() - begin);
  const char* write = std::getenv("JB2_WRITE_README");
  if (write && std::string(write) == "1" && shown != table) {
    readme.replace(begin, shown.size(), table);
    jb2test::WriteFileBytes(path, std::vector<uint8_t>(readme.begin(), readme.end()));
    return;
  }
  EXPECT_EQ(shown, table) << "run the test with JB2_WRITE_README=1 to update README.md";
}

}  // namespace
