// A document of drawn pages for the program tests: doc_1.bmp, doc_2.bmp, ...
// in a directory of their own, coded by transc and compared page by page.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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

  // Page p (0-based) against a BMP or PBM file.
  void ExpectPage(int p, const std::string& pbmOrBmp) const {
    BMP got{};
    const bool pbm = pbmOrBmp.size() > 4 && pbmOrBmp.compare(pbmOrBmp.size() - 4, 4, ".pbm") == 0;
    ASSERT_TRUE(pbm ? jb2test::LoadPBM(pbmOrBmp, &got) : LoadBMP(pbmOrBmp.c_str(), &got) == 0) << pbmOrBmp;
    EXPECT_TRUE(jb2test::SamePixels(&got, &pages_[static_cast<size_t>(p)])) << pbmOrBmp;
    DestroyBMP(&got);
  }

 private:
  std::string dir_;
  std::vector<BMP> pages_;
};

inline bool Have(const char* program) {
  return jb2test::RunCommand(std::string("command -v ") + program).exitStatus == 0;
}

}  // namespace jb2tooltest
