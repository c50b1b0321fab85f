// A long file is decoded holding one page's dictionaries at a time: what a
// page's segments made goes when another page is decoded, the dictionaries
// of no page stay, and every page decodes the same in any order.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "include/jbig2codec/jb2_encode.h"
#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Text pages that share half their glyphs (one font) and have their own
// (another font per page): a file of them has dictionaries of no page and
// of each page.
class PageResults : public testing::Test {
 protected:
  void SetUp() override {
    pages_.resize(6);
    for (size_t p = 0; p < pages_.size(); ++p) {
      const auto seed = static_cast<uint32_t>(p);
      CreateBMP(&pages_[p], 400, 160, 0);
      jb2test::DrawTextLines(&pages_[p], 4, 80, 12, 40 + seed, 5);
      jb2test::DrawTextLines(&pages_[p], 84, 156, 12, 60 + seed, 70 + seed);
    }
  }
  void TearDown() override {
    for (BMP& p : pages_) DestroyBMP(&p);
  }

  // The pages coded as one file, a shared dictionary every two pages.
  Bytes Document() {
    jb2_encoder* enc = nullptr;
    EXPECT_EQ(jb2_encoder_create(&enc), JB2_OK);
    const char* word = "sr";
    EXPECT_EQ(jb2_encoder_set_sections(enc, 1, &word), JB2_OK);
    jb2_encoder_set_dict_pages(enc, 2);
    std::vector<jb2_image> images;
    for (const BMP& p : pages_) images.push_back({p.pData, p.lWidth, p.lHeight, p.lStride, 11811, 11811});
    unsigned char* data = nullptr;
    size_t size = 0;
    EXPECT_EQ(jb2_encode_document(enc, images.data(), static_cast<uint32_t>(images.size()), &data, &size), JB2_OK);
    Bytes out(data, data + size);
    jb2_free(data);
    jb2_encoder_destroy(enc);
    return out;
  }

  std::vector<BMP> pages_;
};

// Decodes page `index` of a parsed file and tells whether it shows `source`;
// the page's bitmap is let go, as the decoder's interface does.
bool DecodesTo(JB2FILE& file, uint32_t index, const BMP& source) {
  JB2PAGE* page = &file.pPages[index];
  CreateBMP(&page->Bitmap, page->Info.lWidth, page->Info.lHeight, 0);
  const bool ok = UntranscodePage(page) == 0 && jb2test::SamePixels(&page->Bitmap, &source);
  DestroyBMP(&page->Bitmap);
  return ok;
}

// The page numbers whose segments hold decoded symbols (0: no page).
std::multiset<uint32_t> HoldingSymbols(const JB2FILE& file) {
  std::multiset<uint32_t> pages;
  for (uint32_t i = 0; i < file.nSegments; ++i)
    if (file.pSegments[i].pSymbols) pages.insert(file.pSegments[i].lPage);
  return pages;
}

TEST_F(PageResults, OnlyTheLastPagesDictionariesStayWhilePagesDecodeInAnyOrder) {
  jb2test::ParsedFile pf(Document());
  ASSERT_EQ(pf.status(), 0);
  JB2FILE& file = pf.file();
  ASSERT_EQ(file.nPages, pages_.size());
  ASSERT_EQ(UntranscodeGlobal(&file), 0);
  const size_t globals = HoldingSymbols(file).count(0);
  ASSERT_EQ(globals, 3u);  // one per group of two pages
  for (uint32_t i = 0; i < file.nPages; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(DecodesTo(file, i, pages_[i]));
    const std::multiset<uint32_t> held = HoldingSymbols(file);
    EXPECT_EQ(held.count(0), globals);
    EXPECT_GE(held.count(i + 1), 1u);  // the page's own dictionary, until the next page
    EXPECT_EQ(held.size(), globals + held.count(i + 1));
  }
  // Back and forth: what a page needs is made again.
  for (uint32_t i : {4u, 0u, 4u, 4u, 3u}) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(DecodesTo(file, i, pages_[i]));
  }
}

// A page's segment that refers to a dictionary of another page (which T.88
// 7.3.2 does not allow) draws with it, as before, though that page's
// results are otherwise released.
TEST_F(PageResults, ADictionaryAnotherPageRefersToStays) {
  jb2_encoder* enc = nullptr;
  ASSERT_EQ(jb2_encoder_create(&enc), JB2_OK);
  const char* word = "sr";
  ASSERT_EQ(jb2_encoder_set_sections(enc, 1, &word), JB2_OK);
  unsigned char* data = nullptr;
  size_t size = 0;
  const BMP& p = pages_[0];
  ASSERT_EQ(jb2_encode_page(enc, p.pData, p.lWidth, p.lHeight, p.lStride, 11811, 11811, &data, &size), JB2_OK);
  const jb2test::WrittenFile one = jb2test::ParseJb2(Bytes(data, data + size));
  jb2_free(data);
  jb2_encoder_destroy(enc);
  ASSERT_TRUE(one.ok);

  // Page 2 repeats page 1's page information and text region, the region
  // still referring to page 1's dictionary.
  std::vector<jb2test::TestSegment> segs;
  uint32_t next = 0;
  auto add = [&](const jb2test::ParsedSegment& s, uint32_t page) {
    jb2test::TestSegment t;
    t.number = next++;
    t.type = s.type;
    t.page = page;
    t.refs = s.referred;
    t.data = s.data;
    segs.push_back(t);
  };
  for (const jb2test::ParsedSegment& s : one.segments)
    if (s.type != kSegEndOfFile) add(s, 1);
  for (const jb2test::ParsedSegment& s : one.segments)
    if (s.type == kSegPageInformation || s.type == kSegImmediateLosslessTextRegion || s.type == kSegEndOfPage) add(s, 2);
  ASSERT_EQ(segs.back().type, kSegEndOfPage);

  testing::internal::CaptureStderr();
  jb2test::ParsedFile pf(jb2test::FileBytes(segs, true, 2));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Segment on Different Page"), std::string::npos);
  ASSERT_EQ(pf.status(), 0);
  JB2FILE& file = pf.file();
  ASSERT_EQ(file.nPages, 2u);
  EXPECT_TRUE(DecodesTo(file, 0, p));
  EXPECT_TRUE(DecodesTo(file, 1, p));
  EXPECT_TRUE(DecodesTo(file, 1, p));
}

}  // namespace
