// A document of 300 small pages: past page 255 a segment's page association
// takes four bytes (T.88 7.2.6), and every segment of pages 256 and later
// must say so, or it lands on another page (or becomes a global segment).
// The document is coded by transc into one file, into embedded streams and
// into a PDF, and each is read back page by page by untransc and by a peer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"
#include "tests/tools/document_pages.h"

namespace {

const std::string kUntransc = JB2_UNTRANSC_PATH;
constexpr int kPages = 300;
constexpr uint32_t kWidth = 96, kHeight = 40;

using jb2tooltest::Have;

// doc_1.bmp .. doc_300.bmp: a line of text each, laid out differently on
// every page from one font, so the pages share symbols and none looks like
// another.
void DrawPage(BMP* page, int p) { jb2test::DrawTextLines(page, 4, kHeight - 4, 10, 1000 + p, /*fontSeed=*/3); }

class LongDocument : public jb2tooltest::DocumentSuite<kPages, kWidth, kHeight, DrawPage> {};

TEST_F(LongDocument, PagesPast255CarryFourBytePageNumbersAndDecodeBack) {
  const std::string out = Code("sr");
  const jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(out + "/doc.jb2"));
  ASSERT_TRUE(file.ok);
  EXPECT_EQ(file.pages, static_cast<uint32_t>(kPages));
  std::vector<uint32_t> infoPages;
  for (const auto& seg : file.segments) {
    EXPECT_EQ(seg.pageSize4, seg.page > 255) << "segment " << seg.number << " of page " << seg.page;
    if (seg.type == 48) infoPages.push_back(seg.page);
  }
  ASSERT_EQ(infoPages.size(), static_cast<size_t>(kPages));
  for (int p = 0; p < kPages; ++p) EXPECT_EQ(infoPages[p], static_cast<uint32_t>(p + 1));

  doc_->ExpectUntranscPages(out);

  if (!Have("jbig2dec")) GTEST_SKIP() << "jbig2dec is not installed";
  doc_->ExpectJbig2decPages(out, "doc.jb2");
}

TEST_F(LongDocument, EmbeddedStreamsOfPagesPast255DecodeWithTheirGlobals) {
  const std::string out = Code("sr --embedded");
  ASSERT_TRUE(jb2test::FileExists(out + "/doc.jb2g"));
  // The first page, and the last fifty past page 250 (the ten-page
  // document's test reads the others' kind).
  const int first = 250;
  const auto r = jb2test::RunCommand("for p in 1 $(seq " + std::to_string(first) + " " + std::to_string(kPages) +
                                         "); do '" + kUntransc + "' --pbm doc_$p.jb2e || exit 1; done",
                                     out);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ExpectPage(0, out + "/doc_1_1.pbm");
  for (int p = first - 1; p < kPages; ++p) ExpectPage(p, out + "/doc_" + std::to_string(p + 1) + "_1.pbm");
}

TEST_F(LongDocument, PdfShowsEveryPageInPoppler) {
  const std::string out = Code("sr --pdf");
  if (!Have("qpdf") || !Have("pdfimages")) GTEST_SKIP() << "qpdf or poppler-utils is not installed";
  auto r = jb2test::RunCommand("qpdf --check doc.pdf", out);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  r = jb2test::RunCommand("pdfimages doc.pdf poppler", out);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  char name[32];
  for (int p = 0; p < kPages; ++p) {
    std::snprintf(name, sizeof name, "/poppler-%03d.pbm", p);
    ExpectPage(p, out + name);
  }
}

}  // namespace
