// Combining regions into pages: operators, page growth of striped pages,
// refinements of the page area, and regions without a page.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "decoder/region_frame.h"
#include "include/jbig2codec/jb2_decode.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

struct Region {
  uint32_t type;
  uint32_t x, y, w, h;
  uint32_t op;
  int fill;  // pixels of the region: 0 or 1
  bool hasRef = false;
};

struct Page {
  uint32_t height;  // 0xFFFFFFFF: unknown
  uint32_t defaultPixel;
  uint32_t op;
  bool override_;
  bool striped;
};

struct Result {
  BMP bitmap{};
  std::string err;
};

// Composes the regions in order on a 16-pixel-wide page.
Result Compose(const Page& p, std::initializer_list<Region> regions, uint64_t maxPixels = 0) {
  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  file.lMaxBitmapPixels = maxPixels;
  PAGE_INFO info{};
  info.lWidth = 16;
  info.lHeight = p.height;
  info.lDefaultPixel = p.defaultPixel;
  info.lCombOp = p.op;
  info.bCombOpOverride = p.override_;
  info.bStriped = p.striped;
  Result r;
  CreateBMP(&r.bitmap, 16, p.height, static_cast<int>(p.defaultPixel));
  testing::internal::CaptureStderr();
  uint32_t number = 1;
  for (const Region& region : regions) {
    SEGMENT_HEADER seg{};
    seg.lNumber = number++;
    seg.lType = region.type;
    seg.pInput = &file.Input;
    seg.pPageInfo = &info;
    seg.pPageBitmap = &r.bitmap;
    seg.bHasRegionRef = region.hasRef;
    seg.Region = REGION_INFO{region.w, region.h, region.x, region.y, region.op};
    CreateBMP(&seg.Bitmap, region.w, region.h, region.fill);
    RegionToPage(&file, &seg);
    DestroyBMP(&seg.Bitmap);
  }
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

int Px(const Result& r, long x, long y) { return jb2test::GetPixel(&r.bitmap, x, y); }

TEST(PageComposition, StripedPageGrowsToItsRegions) {
  for (uint32_t pixel : {0u, 1u}) {
    SCOPED_TRACE(pixel);
    Result r = Compose({0xFFFFFFFF, pixel, 0, false, true},
                       {{38, 0, 0, 8, 100, 0, 1}, {38, 8, 100, 8, 50, 0, 1}});
    EXPECT_EQ(r.bitmap.lHeight, 150u);
    EXPECT_EQ(Px(r, 2, 10), 1);
    EXPECT_EQ(Px(r, 12, 120), 1);
    EXPECT_EQ(Px(r, 12, 10), static_cast<int>(pixel));  // never covered
    EXPECT_EQ(Px(r, 2, 120), static_cast<int>(pixel));
    EXPECT_EQ(r.err, "");
    DestroyBMP(&r.bitmap);
  }
}

TEST(PageComposition, OperatorsAndOverrides) {
  struct Case {
    const char* name;
    Page page;
    Region region;
    int expected;  // pixel (0, 0) of a page whose default pixel is 1
    const char* err;
  } cases[] = {
      {"page operator when not overridden", {4, 1, 0, false, false}, {38, 0, 0, 8, 4, 2, 1}, 1, ""},
      {"region operator when overridden", {4, 1, 0, true, false}, {38, 0, 0, 8, 4, 2, 1}, 0, ""},
      {"refinement of the page replaces it", {4, 1, 0, false, false}, {42, 0, 0, 8, 4, 0, 0}, 0, ""},
      {"refinement of a region uses the page operator", {4, 1, 0, false, false}, {42, 0, 0, 8, 4, 0, 0, true}, 1, ""},
      {"undefined operator falls back to the page's", {4, 1, 2, true, false}, {38, 0, 0, 8, 4, 6, 1}, 0,
       "Warning! Invalid Combination Operator [1]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = Compose(c.page, {c.region});
    EXPECT_EQ(Px(r, 0, 0), c.expected);
    EXPECT_EQ(Px(r, 12, 0), 1);  // outside the region
    EXPECT_EQ(r.err, c.err);
    DestroyBMP(&r.bitmap);
  }
}

TEST(PageComposition, PagesThatDoNotGrow) {
  // A page of known height clips regions below it.
  Result known = Compose({4, 0, 0, false, false}, {{38, 0, 2, 8, 10, 0, 1}});
  EXPECT_EQ(known.bitmap.lHeight, 4u);
  EXPECT_EQ(Px(known, 0, 3), 1);
  DestroyBMP(&known.bitmap);
  // A page of unknown height grows even without its striping flag.
  Result unstriped = Compose({0xFFFFFFFF, 0, 0, false, false}, {{38, 0, 2, 8, 10, 0, 1}});
  EXPECT_EQ(unstriped.bitmap.lHeight, 12u);
  EXPECT_EQ(Px(unstriped, 0, 11), 1);
  DestroyBMP(&unstriped.bitmap);
  // Growth past the pixel cap is refused; the region is clipped instead.
  Result capped = Compose({0xFFFFFFFF, 0, 0, false, true}, {{38, 0, 0, 8, 100, 0, 1}}, 16 * 50);
  EXPECT_EQ(capped.bitmap.lHeight, 1u);
  EXPECT_EQ(Px(capped, 0, 0), 1);
  EXPECT_EQ(capped.err, "ERROR!   Bitmap Too Large\n");
  DestroyBMP(&capped.bitmap);
}

using jb2test::Seg;

std::vector<uint8_t> EndOfStripe(uint32_t row) {
  std::vector<uint8_t> data;
  jb2test::PutU32(data, row);
  return data;
}

// A striped page of unknown height (T.88 7.4.8) whose stripes end at `rows`.
std::vector<uint8_t> StripedPage(uint32_t width, uint8_t flags, const std::vector<uint32_t>& rows) {
  std::vector<jb2test::TestSegment> segs = {Seg(0, 48, jb2test::PageInfoData(width, 0xFFFFFFFFu, flags, 0x8000 | 128))};
  for (uint32_t row : rows) segs.push_back(Seg(static_cast<uint32_t>(segs.size()), 50, EndOfStripe(row)));
  segs.push_back(Seg(static_cast<uint32_t>(segs.size()), 49, {}));
  return jb2test::FileBytes(segs, true);
}

struct DecodedPage {
  jb2_status status = JB2_ERROR_ARGUMENT;
  uint32_t width = 0, height = 0;
  uint64_t black = 0;  // pixels, spare bits excluded
  std::string messages;
};

DecodedPage DecodeFirstPage(const std::vector<uint8_t>& file, uint64_t maxPagePixels = 0) {
  DecodedPage r;
  jb2_decoder* dec = nullptr;
  EXPECT_EQ(jb2_decoder_create(&dec), JB2_OK);
  jb2_decoder_set_messages(dec, [](void* user, int, const char* line) { *static_cast<std::string*>(user) += std::string(line) + "\n"; },
                           &r.messages);
  jb2_decoder_set_limits(dec, maxPagePixels, 0);
  EXPECT_EQ(jb2_decoder_open(dec, file.data(), file.size()), JB2_OK);
  jb2_page page;
  r.status = jb2_decoder_decode_page(dec, 0, &page);
  r.width = page.width;
  r.height = page.height;
  // The spare bits of each row are clear.
  for (uint32_t y = 0; y < page.height; ++y)
    for (uint32_t k = 0; k < (page.width + 7) / 8; ++k) r.black += std::popcount(page.pixels[size_t{y} * page.stride + k]);
  jb2_decoder_destroy(dec);
  return r;
}

// A page of unknown height grows in place as its stripes end: 2,000 stripes
// one row apart on a page 65,536 pixels wide make a page of 2,000 rows (a
// new page for each would copy the rows above it every time). Full-size
// pages grown stripe by stripe keep their default pixel.
TEST(PageComposition, PagesOfUnknownHeightGrowWithTheirStripes) {
  std::vector<uint32_t> oneRowApart(2000);
  for (uint32_t i = 0; i < 2000; ++i) oneRowApart[i] = i;
  const std::vector<uint8_t> wide = StripedPage(65536, 0, oneRowApart);
  const std::vector<uint8_t> kept = jb2test::ReadFileBytes(JB2_TEST_DATA_DIR "/crashers/decode/wide-page-many-stripes.jb2");
  EXPECT_EQ(std::vector<uint8_t>(kept.begin(), kept.end()), wide) << "the kept finding is this file";
  DecodedPage d = DecodeFirstPage(wide);
  EXPECT_EQ(d.status, JB2_OK);
  EXPECT_EQ(d.width, 65536u);
  EXPECT_EQ(d.height, 2000u);
  EXPECT_EQ(d.black, 0u);
  EXPECT_EQ(d.messages, "");
  // A4 at 600 dpi, black, in stripes of 128 rows; A4 at 300 dpi, white.
  std::vector<uint32_t> stripes;
  for (uint32_t end = 127; end < 7016; end += 128) stripes.push_back(end);
  stripes.push_back(7015);
  d = DecodeFirstPage(StripedPage(4960, 0x04, stripes));
  EXPECT_EQ(d.status, JB2_OK);
  EXPECT_EQ(d.height, 7016u);
  EXPECT_EQ(d.black, uint64_t{4960} * 7016);
  EXPECT_EQ(d.messages, "");
  d = DecodeFirstPage(StripedPage(2480, 0, {3507}));
  EXPECT_EQ(d.status, JB2_OK);
  EXPECT_EQ(d.height, 3508u);
  EXPECT_EQ(d.black, 0u);
}

// The caller's page limit holds while a page grows: the page keeps the rows
// it had, and the page is damaged.
TEST(PageComposition, GrowthKeepsToThePageLimit) {
  DecodedPage d = DecodeFirstPage(StripedPage(1000, 0, {499, 1199}), 1000000);
  EXPECT_EQ(d.status, JB2_DAMAGED);
  EXPECT_EQ(d.height, 500u);
  EXPECT_EQ(d.messages, "ERROR!   Bitmap Too Large [segment 2, page 1]\n");
}

// Only a page of unknown height grows (T.88 7.4.8): a striped page of 10
// rows keeps them, and its regions below are clipped, said once.
TEST(PageComposition, PageOfKnownHeightDoesNotGrow) {
  auto region = [](uint32_t y) {
    std::vector<uint8_t> data = jb2test::RegionInfoData(8, 1, 0, y, 0);
    for (uint8_t b : {0x00, 0x03, 0xFF, 0xFD, 0xFF, 0x02, 0xFE, 0xFE, 0xFE}) data.push_back(b);  // arithmetic, template 0
    return data;
  };
  const std::vector<uint8_t> file = jb2test::FileBytes(
      {Seg(0, 48, jb2test::PageInfoData(1000, 10, 0, 0x8000 | 128)), Seg(1, 38, region(99990)), Seg(2, 38, region(9)),
       Seg(3, 50, EndOfStripe(99990)), Seg(4, 49, {})},
      true);
  DecodedPage d = DecodeFirstPage(file);
  EXPECT_EQ(d.status, JB2_OK);
  EXPECT_EQ(d.width, 1000u);
  EXPECT_EQ(d.height, 10u);
  EXPECT_EQ(d.messages, "Warning! Regions Reach below the Page: Clipped\n");
}

// Segments that have nothing to draw on, or cannot be decoded, leave the
// page alone.
TEST(PageComposition, DispatchOfSegmentsWithoutAPageOrDecoder) {
  auto seg = [](uint32_t number, uint32_t type, uint32_t page, std::vector<uint8_t> data) {
    jb2test::TestSegment s;
    s.number = number;
    s.type = type;
    s.page = page;
    s.data = std::move(data);
    return s;
  };
  std::vector<uint8_t> region = jb2test::RegionInfoData(8, 1, 0, 0, 0);
  for (uint8_t b : {0x01, 0x00, 0x00}) region.push_back(b);  // MMR, never decoded
  jb2test::ParsedFile pf(jb2test::FileBytes({seg(0, 48, 1, jb2test::PageInfoData(8, 1, 0)), seg(1, 38, 0, region),
                                             seg(2, 38, 2, region), seg(3, 0, 1, {}), seg(4, 62, 1, {1}),
                                             seg(5, 50, 1, {0, 0, 0, 0}), seg(6, 49, 1, {})},
                                            true));
  testing::internal::CaptureStderr();
  pf.Decode();
  // The empty symbol dictionary reads past its end and is reported as not decoded.
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Warning! Region Segment without a Page Ignored [segment 1]\n", 0), 0u) << err;
  EXPECT_TRUE(err.ends_with("ERROR!   Symbol Dictionary not Decoded [segment 3, page 1]\n")) << err;
  EXPECT_EQ(AreaBMP(&pf.file().pPages[0].Bitmap), 0u);
}

}  // namespace
