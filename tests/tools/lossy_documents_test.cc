// A lossy text document (sr:lossy) of two rough copies of the same
// characters, whose classes span the pages through the shared dictionary:
// every reader (jbig2dec on the file, poppler and pdf.js on the PDF,
// untransc on the embedded streams) shows each page exactly as untransc
// shows the file's.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/glyph_grid.h"
#include "tests/test_util.h"
#include "tests/tools/document_pages.h"

namespace {

const std::string kUntransc = JB2_UNTRANSC_PATH;
constexpr int kPages = 2;

using jb2tooltest::Have;

class LossyDocument : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(jb2test::RenderGlyphGrid("Times-Roman", 10, 300, 6, &grid_, &error)) << error;
    doc_ = std::make_unique<jb2tooltest::DocumentPages>(
        kPages, grid_.page.lWidth, grid_.page.lHeight, [](BMP* page, int p) {
          CombineBMP(page, &grid_.page, 0, 0, kOpOr);
          jb2test::AddEdgeNoise(page, 31 + static_cast<uint32_t>(p));
          page->lXResolution = page->lYResolution = grid_.page.lXResolution;
        });
    // What untransc reads from the standalone file: the pages every reader
    // must show.
    out_ = doc_->Code("sr:lossy");
    const auto r = jb2test::RunCommand("'" + kUntransc + "' --pbm doc", out_);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (int p = 0; p < kPages; ++p) {
      ASSERT_TRUE(jb2test::LoadPBM(out_ + "/doc_" + std::to_string(p + 1) + ".pbm", &read_[p]));
    }
  }
  static void TearDownTestSuite() {
    doc_.reset();
    for (BMP& b : read_) DestroyBMP(&b);
  }
  // Page p (0-based) of a reader's PBM file against untransc's reading.
  static void ExpectAsUntransc(int p, const std::string& pbm) {
    BMP got{};
    ASSERT_TRUE(jb2test::LoadPBM(pbm, &got)) << pbm;
    EXPECT_TRUE(jb2test::SamePixels(&got, &read_[p])) << pbm;
    DestroyBMP(&got);
  }
  static jb2test::GlyphGrid grid_;
  static std::unique_ptr<jb2tooltest::DocumentPages> doc_;
  static std::string out_;
  static BMP read_[kPages];
};

jb2test::GlyphGrid LossyDocument::grid_;
std::unique_ptr<jb2tooltest::DocumentPages> LossyDocument::doc_;
std::string LossyDocument::out_;
BMP LossyDocument::read_[kPages];

TEST_F(LossyDocument, JbigDecReadsTheFileAsUntransc) {
  if (!Have("jbig2dec")) GTEST_SKIP() << "jbig2dec is not installed";
  // jbig2dec writes the pages one after another into one PBM stream.
  const auto r = jb2test::RunCommand("jbig2dec -t pbm -o - doc.jb2 > all.pbm", out_);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<uint8_t> all = jb2test::ReadFileBytes(out_ + "/all.pbm");
  const std::string header =
      "P4\n" + std::to_string(read_[0].lWidth) + " " + std::to_string(read_[0].lHeight) + "\n";
  const size_t pageBytes = header.size() + (read_[0].lWidth + 7) / 8 * size_t{read_[0].lHeight};
  ASSERT_EQ(all.size(), pageBytes * kPages);
  for (int p = 0; p < kPages; ++p) {
    const std::string one = out_ + "/jbig2dec-" + std::to_string(p + 1) + ".pbm";
    jb2test::WriteFileBytes(one, std::vector<uint8_t>(all.begin() + static_cast<long>(pageBytes * p),
                                                      all.begin() + static_cast<long>(pageBytes * (p + 1))));
    ExpectAsUntransc(p, one);
  }
}

TEST_F(LossyDocument, PdfReadersAndEmbeddedStreamsShowWhatUntranscShows) {
  const std::string embedded = doc_->Code("sr:lossy --embedded");
  for (int p = 0; p < kPages; ++p) {
    const std::string stream = "doc_" + std::to_string(p + 1);
    const auto r = jb2test::RunCommand("'" + kUntransc + "' --pbm " + stream + ".jb2e", embedded);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    ExpectAsUntransc(p, embedded + "/" + stream + "_1.pbm");
  }
  if (!Have("pdfimages") || !Have("node")) GTEST_SKIP() << "poppler-utils or node is not installed";
  const std::string pdf = doc_->Code("sr:lossy --pdf");
  auto r = jb2test::RunCommand("pdfimages doc.pdf poppler", pdf);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  r = jb2test::RunCommand("node '" JB2_SOURCE_DIR "/tests/interop/pdfjs/read_images.mjs' --all-pages doc.pdf", pdf);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  char name[32];
  for (int p = 0; p < kPages; ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    std::snprintf(name, sizeof name, "/poppler-%03d.pbm", p);
    ExpectAsUntransc(p, pdf + name);
    ExpectAsUntransc(p, pdf + "/doc.pdfjs." + std::to_string(p + 1) + ".pbm");
  }
}

}  // namespace
