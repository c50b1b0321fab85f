// Documents whose pages share symbols in groups (transc --dict-pages N): each
// group of N pages gets a dictionary of its own, of no page, before its
// first page, and its pages refer to that one only, in the .jb2 file (both
// organisations), the PDF (a /JBIG2Globals per group) and the embedded
// streams (a globals file per group). Every output decodes back exactly, in
// untransc and in the peers, and its bytes do not depend on the threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/tools/document_pages.h"

namespace {

constexpr int kPages = 10;
constexpr uint32_t kWidth = 600, kHeight = 300;
constexpr uint32_t kGroup = 4;  // groups: pages 1-4, 5-8, 9-10

using jb2tooltest::Have;

void DrawPage(BMP* page, int p) { jb2test::DrawTextLines(page, 8, kHeight - 8, 12, 300 + p, /*fontSeed=*/11); }

class DictPages : public jb2tooltest::DocumentSuite<kPages, kWidth, kHeight, DrawPage> {
 protected:
  // transc's output for ARGS, checked to be the same on one thread and two.
  static std::string Code(const std::string& args) {
    const std::string one = doc_->Code("--threads 1 " + args);
    const std::string two = doc_->Code("--threads 2 " + args);
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(one)) names.insert(entry.path().filename());
    for (const auto& entry : std::filesystem::directory_iterator(two)) names.insert(entry.path().filename());
    for (const std::string& name : names)
      EXPECT_EQ(jb2test::ReadFileBytes(one + "/" + name), jb2test::ReadFileBytes(two + "/" + name)) << name;
    return one;
  }
};

// The .jb2 file: three dictionaries of no page, each between the pages of
// the group before and its own group's first page, and each page's text
// region refers to its group's dictionary and no other.
TEST_F(DictPages, FileHasOneDictionaryPerGroupBeforeItsPages) {
  for (const char* word : {"sr", "sr:sequential"}) {
    SCOPED_TRACE(word);
    const std::string out = Code(std::string("--dict-pages 4 ") + word);
    const jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(out + "/doc.jb2"));
    ASSERT_TRUE(file.ok);
    std::vector<uint32_t> dictionaries;  // in file order
    uint32_t pagesBegun = 0;  // page information segments so far
    for (const auto& seg : file.segments) {
      if (seg.page == 0 && seg.type == 0) {
        // Its group's first page comes next.
        EXPECT_EQ(pagesBegun, kGroup * dictionaries.size());
        dictionaries.push_back(seg.number);
      }
      pagesBegun += seg.type == 48;
      if (seg.type != 6 && seg.type != 7) continue;  // text regions
      const uint32_t group = (seg.page - 1) / kGroup;
      ASSERT_LT(group, dictionaries.size());
      for (uint32_t other = 0; other < dictionaries.size(); ++other) {
        const bool refers = std::count(seg.referred.begin(), seg.referred.end(), dictionaries[other]) > 0;
        EXPECT_EQ(refers, other == group) << "page " << seg.page << ", dictionary " << other;
      }
    }
    EXPECT_EQ(dictionaries.size(), 3u);

    doc_->ExpectUntranscPages(out);
    if (Have("jbig2dec")) doc_->ExpectJbig2decPages(out, "doc.jb2");
  }
}

// The embedded streams: DOC.jb2g for the first group, DOC_5.jb2g and
// DOC_9.jb2g for the others, and untransc finds each page's.
TEST_F(DictPages, EmbeddedStreamsHaveAGlobalsFilePerGroup) {
  const std::string out = Code("--dict-pages 4 --embedded sr");
  std::set<std::string> globals;
  for (const auto& entry : std::filesystem::directory_iterator(out))
    if (entry.path().extension() == ".jb2g") globals.insert(entry.path().filename());
  EXPECT_EQ(globals, (std::set<std::string>{"doc.jb2g", "doc_5.jb2g", "doc_9.jb2g"}));
  doc_->ExpectEmbeddedPages(out, /*pbm=*/false);
}

// The PDF: a /JBIG2Globals per group, each page's image referring to its
// group's; with one page per group nothing is shared and the pages refer to
// no globals. Each reads back exactly in poppler and pdf.js.
TEST_F(DictPages, PdfPagesCarryTheirGroupsGlobals) {
  for (const char* n : {"4", "1"}) {
    SCOPED_TRACE(n);
    const std::string out = Code(std::string("--dict-pages ") + n + " --pdf sr");
    const auto bytes = jb2test::ReadFileBytes(out + "/doc.pdf");
    const std::string pdf(bytes.begin(), bytes.end());
    std::vector<std::string> refs;
    const std::regex globals("/JBIG2Globals (\\d+) 0 R");
    for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), globals); it != std::sregex_iterator(); ++it)
      refs.push_back((*it)[1]);
    if (std::string(n) == "4") {
      ASSERT_EQ(refs.size(), static_cast<size_t>(kPages));
      for (int p = 0; p < kPages; ++p) EXPECT_EQ(refs[p] == refs[0], p < 4) << "page " << p + 1;
      for (int p = 0; p < kPages; ++p) EXPECT_EQ(refs[p] == refs[4], p >= 4 && p < 8) << "page " << p + 1;
      EXPECT_NE(refs[8], refs[0]);
      EXPECT_NE(refs[8], refs[4]);
      EXPECT_EQ(refs[9], refs[8]);
    }
    if (!Have("qpdf") || !Have("pdfimages") || !Have("node")) GTEST_SKIP() << "qpdf, poppler-utils or node is missing";
    const auto r = jb2test::RunCommand("qpdf --check doc.pdf", out);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    doc_->ExpectPdfPages(out);
  }
}

}  // namespace
