// Documents: ten rendered pages set in one font coded by transc into one
// file with a shared symbol dictionary, into a PDF and into the embedded
// streams a PDF holds, then read back by untransc and by the readers that
// people open PDFs with (poppler, MuPDF, pdf.js), all pixel for pixel.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"
#include "tests/tools/document_pages.h"

namespace {

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;
constexpr int kPages = 10;
constexpr uint32_t kWidth = 1240, kHeight = 1754;  // A4 at 150 dpi
constexpr uint32_t kPerMetre = 5906;               // 150 dpi

using jb2tooltest::Have;

// The document: doc_1.bmp .. doc_10.bmp, lines of text set in one font.
void DrawPage(BMP* page, int p) {
  jb2test::DrawTextLines(page, 48, kHeight - 48, 16, 100 + p, /*fontSeed=*/7);
  page->lXResolution = page->lYResolution = kPerMetre;
}

class Documents : public jb2tooltest::DocumentSuite<kPages, kWidth, kHeight, DrawPage> {};

TEST_F(Documents, OneFileOfAllPagesSharesItsSymbolsAndDecodesBack) {
  const std::string out = Code("sr");
  const auto bytes = jb2test::ReadFileBytes(out + "/doc.jb2");
  const jb2test::WrittenFile file = jb2test::ParseJb2(bytes);
  ASSERT_TRUE(file.ok);
  EXPECT_EQ(file.pages, static_cast<uint32_t>(kPages));
  int globalDictionaries = 0;
  for (const auto& seg : file.segments) globalDictionaries += seg.type == 0 && seg.page == 0;
  EXPECT_EQ(globalDictionaries, 1);

  // Smaller than the pages coded one by one.
  size_t single = 0;
  for (int p = 1; p <= kPages; ++p) {
    const std::string one = jb2test::MakeTempDir();
    const auto r = jb2test::RunCommand(
        "'" + kTransc + "' -q -o '" + one + "/p' doc_" + std::to_string(p) + ".bmp sr", doc_->dir());
    ASSERT_EQ(r.exitStatus, 0);
    single += jb2test::ReadFileBytes(one + "/p.jb2").size();
  }
  EXPECT_LT(bytes.size(), single);
  std::printf("%d pages: %zu bytes in one file, %zu bytes as single pages\n", kPages, bytes.size(), single);

  doc_->ExpectUntranscPages(out);
}

TEST_F(Documents, EmbeddedStreamsDecodeWithTheirGlobals) {
  const std::string out = Code("sr --embedded");
  ASSERT_TRUE(jb2test::FileExists(out + "/doc.jb2g"));
  doc_->ExpectEmbeddedPages(out, /*pbm=*/true);
}

// Every PDF reader shows every page exactly, at the page's size.
TEST_F(Documents, PdfOpensExactlyInEveryReader) {
  const std::string out = Code("sr --pdf");
  const std::string pdf = out + "/doc.pdf";
  ASSERT_TRUE(jb2test::FileExists(pdf));
  if (!Have("qpdf") || !Have("pdfimages") || !Have("mutool") || !Have("node"))
    GTEST_SKIP() << "qpdf, poppler-utils, mupdf-tools or node is not installed";
  auto r = jb2test::RunCommand("qpdf --check doc.pdf", out);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;

  // poppler and pdf.js: the image of every page; and the page size in
  // points (150 dpi).
  doc_->ExpectPdfPages(out);
  r = jb2test::RunCommand("pdfinfo -f 1 -l 1 doc.pdf", out);
  EXPECT_NE(r.out.find(" 595.2 x 841.92 pts"), std::string::npos) << r.out;
  // MuPDF: each page drawn at its size in pixels, without smoothing.
  r = jb2test::RunCommand("mutool draw -A 0 -F pbm -w " + std::to_string(kWidth) + " -h " + std::to_string(kHeight) +
                              " -o mupdf-%d.pbm doc.pdf",
                          out);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (int p = 0; p < kPages; ++p) ExpectPage(p, out + "/mupdf-" + std::to_string(p + 1) + ".pbm");

  // What pdfimages -all takes out of our PDF decodes again.
  r = jb2test::RunCommand("pdfimages -all doc.pdf x && '" + kUntransc + "' x-003.jb2e", out);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ExpectPage(3, out + "/x-003_1.bmp");
}

}  // namespace
