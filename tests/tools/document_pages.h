// A document of drawn pages for the program tests: doc_1.bmp, doc_2.bmp, ...
// in a directory of their own, coded by transc and compared page by page.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "tests/test_util.h"

namespace jb2tooltest {

class DocumentPages {
 public:
  // `count` pages of width x height, each drawn by draw(page, index).
  DocumentPages(int count, uint32_t width, uint32_t height, const std::function<void(BMP*, int)>& draw)
      : dir_(jb2test::MakeTempDir()), pages_(static_cast<size_t>(count)) {
    for (int p = 0; p < count; ++p) {
      BMP& page = pages_[static_cast<size_t>(p)];
      CreateBMP(&page, width, height, 0);
      draw(&page, p);
      SaveBMP((dir_ + "/doc_" + std::to_string(p + 1) + ".bmp").c_str(), &page);
    }
  }
  ~DocumentPages() {
    for (BMP& b : pages_) DestroyBMP(&b);
  }
  DocumentPages(const DocumentPages&) = delete;
  DocumentPages& operator=(const DocumentPages&) = delete;

  const std::string& dir() const { return dir_; }

  // A fresh directory holding the output of `transc ARGS` run on the document.
  std::string Code(const std::string& args) const {
    const std::string out = jb2test::MakeTempDir();
    const auto r = jb2test::RunCommand("'" JB2_TRANSC_PATH "' -q -o '" + out + "/doc' doc " + args, dir_);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return out;
  }

  // untransc's reading of DIR/doc.jb2 (doc_1.bmp, ...), page by page.
  void ExpectUntranscPages(const std::string& dir) const {
    const auto r = jb2test::RunCommand("'" JB2_UNTRANSC_PATH "' doc", dir);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (size_t p = 0; p < pages_.size(); ++p)
      ExpectPage(static_cast<int>(p), dir + "/doc_" + std::to_string(p + 1) + ".bmp");
  }

  // untransc's reading of each page's embedded stream in DIR (doc_N.jb2e,
  // which finds its globals itself), as BMP or with `pbm` as PBM.
  void ExpectEmbeddedPages(const std::string& dir, bool pbm) const {
    for (size_t p = 0; p < pages_.size(); ++p) {
      const std::string stream = "doc_" + std::to_string(p + 1);
      const std::string options = pbm ? "--pbm " : "";
      const auto r = jb2test::RunCommand("'" JB2_UNTRANSC_PATH "' " + options + stream + ".jb2e", dir);
      EXPECT_EQ(r.exitStatus, 0) << r.err;
      EXPECT_EQ(r.err, "");
      ExpectPage(static_cast<int>(p), dir + "/" + stream + (pbm ? "_1.pbm" : "_1.bmp"));
    }
  }

  // Page p (0-based) against a BMP or PBM file.
  void ExpectPage(int p, const std::string& pbmOrBmp) const {
    BMP got{};
    const bool pbm = pbmOrBmp.size() > 4 && pbmOrBmp.compare(pbmOrBmp.size() - 4, 4, ".pbm") == 0;
    ASSERT_TRUE(pbm ? jb2test::LoadPBM(pbmOrBmp, &got) : LoadBMP(pbmOrBmp.c_str(), &got) == 0) << pbmOrBmp;
    EXPECT_TRUE(jb2test::SamePixels(&got, &pages_[static_cast<size_t>(p)])) << pbmOrBmp;
    DestroyBMP(&got);
  }

  // Every page of FILE (in dir) as jbig2dec decodes it: one PBM stream of
  // all pages, one after another.
  void ExpectJbig2decPages(const std::string& dir, const std::string& file) const {
    const auto peer = jb2test::RunCommand("jbig2dec -t pbm -o - " + file + " > all.pbm", dir);
    ASSERT_EQ(peer.exitStatus, 0) << peer.err;
    const std::vector<uint8_t> all = jb2test::ReadFileBytes(dir + "/all.pbm");
    const uint32_t width = pages_[0].lWidth, height = pages_[0].lHeight;
    const std::string header = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    const size_t pageBytes = header.size() + (width + 7) / 8 * height;
    ASSERT_EQ(all.size(), pageBytes * pages_.size());
    for (size_t p = 0; p < pages_.size(); ++p) {
      const std::string one = dir + "/jbig2dec-" + std::to_string(p + 1) + ".pbm";
      jb2test::WriteFileBytes(one, std::vector<uint8_t>(all.begin() + static_cast<long>(pageBytes * p),
                                                        all.begin() + static_cast<long>(pageBytes * (p + 1))));
      ExpectPage(static_cast<int>(p), one);
    }
  }

  // Every page of dir/doc.pdf as poppler (pdfimages) and pdf.js read it.
  void ExpectPdfPages(const std::string& dir) const {
    auto r = jb2test::RunCommand("pdfimages doc.pdf poppler", dir);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    r = jb2test::RunCommand("node '" JB2_SOURCE_DIR "/tests/interop/pdfjs/read_images.mjs' --all-pages doc.pdf", dir);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    char name[32];
    for (size_t p = 0; p < pages_.size(); ++p) {
      SCOPED_TRACE("page " + std::to_string(p + 1));
      std::snprintf(name, sizeof name, "/poppler-%03zu.pbm", p);
      ExpectPage(static_cast<int>(p), dir + name);
      ExpectPage(static_cast<int>(p), dir + "/doc.pdfjs." + std::to_string(p + 1) + ".pbm");
    }
  }

 private:
  std::string dir_;
  std::vector<BMP> pages_;
};

// The fixture of a suite whose tests share one document, drawn once for
// the suite: PAGES pages of WIDTH x HEIGHT, each drawn by DRAW(page, index).
template <int PAGES, uint32_t WIDTH, uint32_t HEIGHT, void (*DRAW)(BMP*, int)>
class DocumentSuite : public testing::Test {
 protected:
  static void SetUpTestSuite() { doc_ = new DocumentPages(PAGES, WIDTH, HEIGHT, DRAW); }
  static void TearDownTestSuite() {
    delete doc_;
    doc_ = nullptr;
  }
  static std::string Code(const std::string& args) { return doc_->Code(args); }
  static void ExpectPage(int p, const std::string& pbmOrBmp) { doc_->ExpectPage(p, pbmOrBmp); }
  static inline DocumentPages* doc_ = nullptr;
};

inline bool Have(const char* program) {
  return jb2test::RunCommand(std::string("command -v ") + program).exitStatus == 0;
}

}  // namespace jb2tooltest
