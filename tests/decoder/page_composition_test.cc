// Combining regions into pages: operators, page growth of striped pages,
// refinements of the page area, and regions without a page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "decoder/decoder_internal.h"
#include "tests/decoder/jb2_builder.h"
#include "tests/test_util.h"

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
    RegionToPage(&seg);
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

// Segments that have nothing to draw on, or cannot be decoded, leave the
// page alone.
TEST(PageComposition, DispatchOfSegmentsWithoutAPageOrDecoder) {
  auto seg = [](uint32_t number, uint32_t type, uint32_t page, std::vector<uint8_t> data) {
    jb2dectest::TestSegment s;
    s.number = number;
    s.type = type;
    s.page = page;
    s.data = std::move(data);
    return s;
  };
  std::vector<uint8_t> region = jb2dectest::RegionInfoData(8, 1, 0, 0, 0);
  for (uint8_t b : {0x01, 0x00, 0x00}) region.push_back(b);  // MMR, never decoded
  jb2dectest::ParsedFile pf(jb2dectest::FileBytes({seg(0, 48, 1, jb2dectest::PageInfoData(8, 1, 0)), seg(1, 38, 0, region),
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
