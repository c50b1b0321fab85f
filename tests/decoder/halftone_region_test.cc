// Pattern dictionaries and halftone regions built by hand (MMR-coded, so the
// data is easy to write): grid geometry, gray values, operators, and hostile
// headers that must be refused (the error, and no pixels drawn beyond the bound).
#include <gtest/gtest.h>

#include <random>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bit_writer.h"
#include "common/limits.h"
#include "common/mmr.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::PutU16;
using jb2test::PutU32;
using jb2test::TestSegment;

// Patterns are given as rows of '0'/'1'.
using Pattern = std::vector<std::string>;

std::vector<uint8_t> MmrBytes(BMP* bmp, bool eofb) {
  ENCODER enc;
  CreateEncoder(&enc, 1024);
  MMREncode(&enc, bmp, eofb ? 1 : 0);
  EncodeFlush(&enc);
  std::vector<uint8_t> out(enc.pBuffer, enc.pWrite);
  DestroyEncoder(&enc);
  return out;
}

struct Dictionary {
  uint32_t width = 0, height = 0;
  uint32_t grayMax = 0;             // written as is
  std::vector<Pattern> patterns;    // coded side by side when not empty
  uint8_t flags = 0x01;             // HDMMR
  std::vector<uint8_t> extra;       // coded data when `patterns` is empty
};

std::vector<uint8_t> DictionaryData(const Dictionary& d) {
  std::vector<uint8_t> out = {d.flags, static_cast<uint8_t>(d.width), static_cast<uint8_t>(d.height)};
  PutU32(out, d.grayMax);
  if (!d.patterns.empty()) {
    BMP collective;
    CreateBMP(&collective, d.patterns.size() * d.width, d.height, 0);
    for (size_t k = 0; k < d.patterns.size(); ++k)
      for (uint32_t y = 0; y < d.height; ++y)
        for (uint32_t x = 0; x < d.width; ++x)
          jb2test::SetPixel(&collective, static_cast<long>(k * d.width + x), y, d.patterns[k][y][x] == '1');
    std::vector<uint8_t> mmr = MmrBytes(&collective, false);
    out.insert(out.end(), mmr.begin(), mmr.end());
    DestroyBMP(&collective);
  }
  out.insert(out.end(), d.extra.begin(), d.extra.end());
  return out;
}

struct Region {
  uint32_t width = 0, height = 0;
  uint8_t flags = 0x01;  // HMMR
  uint32_t gridWidth = 0, gridHeight = 0;
  int32_t gridX = 0, gridY = 0;
  uint16_t vectorX = 0, vectorY = 0;
  uint32_t bitsPerValue = 0;
  std::vector<uint32_t> values;  // coded as Gray-coded MMR planes when not empty
  std::vector<uint8_t> extra;
};

std::vector<uint8_t> RegionData(const Region& r) {
  std::vector<uint8_t> out = jb2test::RegionInfoData(r.width, r.height, 0, 0, 0);
  out.push_back(r.flags);
  PutU32(out, r.gridWidth);
  PutU32(out, r.gridHeight);
  PutU32(out, static_cast<uint32_t>(r.gridX));
  PutU32(out, static_cast<uint32_t>(r.gridY));
  PutU16(out, r.vectorX);
  PutU16(out, r.vectorY);
  if (!r.values.empty()) {
    for (uint32_t j = r.bitsPerValue; j-- > 0;) {
      BMP plane;
      CreateBMP(&plane, r.gridWidth, r.gridHeight, 0);
      for (uint32_t i = 0; i < r.values.size(); ++i) {
        uint32_t gray = r.values[i] ^ (r.values[i] >> 1);
        jb2test::SetPixel(&plane, i % r.gridWidth, i / r.gridWidth, (gray >> j) & 1);
      }
      std::vector<uint8_t> mmr = MmrBytes(&plane, true);
      out.insert(out.end(), mmr.begin(), mmr.end());
      DestroyBMP(&plane);
    }
  }
  out.insert(out.end(), r.extra.begin(), r.extra.end());
  return out;
}

struct Decoded {
  std::string page;  // rows of '0'/'1' joined by '/'
  std::string err;
};

// Page 1 of w x h holding the dictionary (segment 1) and the region
// (segment 2, type `type`, referring to the dictionary unless `noRef`).
// maxPixels, when not 0, lowers the file's bitmap cap.
Decoded DecodeHalftone(const Dictionary& d, const Region& r, uint32_t type = 22, bool noRef = false,
                       uint64_t maxPixels = 0) {
  std::vector<TestSegment> segs(4);
  segs[0].number = 0;
  segs[0].type = 48;
  segs[0].data = jb2test::PageInfoData(r.width, r.height, 0x40);  // region operators override
  segs[1].number = 1;
  segs[1].type = 16;
  segs[1].data = DictionaryData(d);
  segs[2].number = 2;
  segs[2].type = type;
  if (!noRef) segs[2].refs = {1};
  segs[2].data = RegionData(r);
  segs[3].number = 3;
  segs[3].type = 49;
  jb2test::ParsedFile pf(jb2test::FileBytes(segs, false));
  Decoded out;
  EXPECT_EQ(pf.status(), 0);
  if (pf.status() != 0) return out;
  testing::internal::CaptureStderr();
  pf.Decode(maxPixels ? maxPixels : kMaxBitmapPixels);
  out.err = testing::internal::GetCapturedStderr();
  const BMP& page = pf.file().pPages[0].Bitmap;
  for (uint32_t y = 0; y < page.lHeight; ++y) {
    if (y) out.page += '/';
    for (uint32_t x = 0; x < page.lWidth; ++x) out.page += jb2test::GetPixel(&page, x, y) ? '1' : '0';
  }
  return out;
}

struct Case {
  const char* name;
  Dictionary dict;
  Region region;
  std::string page;
  std::string err;
  uint64_t maxPixels = 0;
};

Dictionary TwoByOne(uint32_t grayMax, std::vector<Pattern> patterns) {
  Dictionary d;
  d.width = 2;
  d.height = 1;
  d.grayMax = grayMax;
  d.patterns = std::move(patterns);
  return d;
}

Region Row(uint32_t width, uint32_t cells, uint16_t vectorX, uint32_t bpp, std::vector<uint32_t> values) {
  Region r;
  r.width = width;
  r.height = 1;
  r.gridWidth = cells;
  r.gridHeight = 1;
  r.vectorX = vectorX;
  r.bitsPerValue = bpp;
  r.values = std::move(values);
  return r;
}

std::vector<Case> DrawingCases() {
  std::vector<Case> cases;
  // One pattern: no planes at all, pattern 0 in every cell.
  cases.push_back({"OnePatternNoPlanes", TwoByOne(0, {{"11"}}), Row(5, 2, 512, 0, {}), "11110", ""});
  // Cells at x = 0, 2, 4 with values 2, 1, 0 of three patterns (HBPP 2).
  cases.push_back({"ThreePatterns", TwoByOne(2, {{"00"}, {"01"}, {"11"}}), Row(6, 3, 512, 2, {2, 1, 0}), "110100", ""});
  // A value past GRAYMAX is drawn with the last pattern.
  cases.push_back({"ValueBeyondPatterns", TwoByOne(2, {{"00"}, {"10"}, {"11"}}), Row(4, 2, 512, 2, {3, 1}), "1110",
                   "Warning! Gray-Scale Value beyond the Patterns [segment 2, page 1]\n"});
  // HGX = -300 puts the cell at floor(-300 / 256) = -2: clipped away.
  {
    Region r = Row(4, 2, 768, 0, {});
    r.gridX = -300;
    cases.push_back({"NegativeGridOrigin", TwoByOne(0, {{"11"}}), r, "0110", ""});
  }
  // HDEFPIXEL 1 with AND: covered pixels take the pattern, the rest stay 1.
  {
    Region r = Row(4, 1, 512, 0, {});
    r.flags = 0x01 | (1 << 4) | 0x80;
    cases.push_back({"DefaultPixelAnd", TwoByOne(0, {{"10"}}), r, "1011", ""});
  }
  // Operators 5 to 7 are not defined: drawn with OR after a warning.
  {
    Region r = Row(4, 2, 512, 0, {});
    r.flags = 0x01 | (6 << 4);
    cases.push_back({"UndefinedOperator", TwoByOne(0, {{"01"}}), r, "0101", "Warning! Invalid HCOMBOP - Using OR [segment 2, page 1]\n"});
  }
  // The grid is computed in 64 bits: cell 65537 lies at x = (1024 + 65537 *
  // 65535) >> 8, far right of the region; a 32-bit sum would wrap to 1023
  // and draw it at x = 3.
  {
    Dictionary d;
    d.width = 4;
    d.height = 1;
    d.patterns = {{"1111"}};
    Region r = Row(8, 65538, 0xFFFF, 0, {});
    r.gridX = 1024;
    cases.push_back({"GridBeyond32Bits", d, r, "00001111", ""});
  }
  return cases;
}

TEST(HalftoneRegion, DrawsTheGrid) {
  for (const Case& c : DrawingCases()) {
    SCOPED_TRACE(c.name);
    Decoded got = DecodeHalftone(c.dict, c.region);
    EXPECT_EQ(got.page, c.page);
    EXPECT_EQ(got.err, c.err);
  }
}

TEST(HalftoneRegion, IntermediateRegionIsNotDrawn) {
  Decoded got = DecodeHalftone(TwoByOne(0, {{"11"}}), Row(4, 2, 512, 0, {}), 20);
  EXPECT_EQ(got.page, "0000");
  EXPECT_EQ(got.err, "");
}

// The largest dictionary (GRAYMAX kMaxPatterns - 1, HBPP 16) is decoded and
// its last pattern drawn.
TEST(HalftoneRegion, LargestDictionary) {
  Dictionary d;
  d.width = 1;
  d.height = 1;
  d.grayMax = kMaxPatterns - 1;
  d.patterns.assign(kMaxPatterns, Pattern{"0"});
  d.patterns.back() = {"1"};
  Decoded got = DecodeHalftone(d, Row(3, 2, 512, 16, {kMaxPatterns - 1, 7}));
  EXPECT_EQ(got.page, "100");
  EXPECT_EQ(got.err, "");
}

std::vector<Case> RefusedCases() {
  std::vector<Case> cases;
  const Region small = Row(8, 2, 512, 0, {});
  {
    Dictionary d = TwoByOne(kMaxPatterns, {});
    cases.push_back({"OnePatternOverTheLimit", d, small, "00000000",
                     "ERROR!   Pattern Dictionary Too Large [segment 1, page 1]\nERROR!   Pattern Dictionary Holds No Patterns [segment 2, page 1]\n"});
  }
  {
    Dictionary d = TwoByOne(0xFFFFFFFFu, {});  // HBPP would be 32
    cases.push_back({"GrayMaxAllOnes", d, small, "00000000",
                     "ERROR!   Pattern Dictionary Too Large [segment 1, page 1]\nERROR!   Pattern Dictionary Holds No Patterns [segment 2, page 1]\n"});
  }
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{0, 1}, {1, 0}}) {
    Dictionary d = TwoByOne(3, {});
    d.width = w;
    d.height = h;
    cases.push_back({"EmptyPatterns", d, small, "00000000",
                     "ERROR!   Pattern Dictionary with Empty Patterns [segment 1, page 1]\nERROR!   Pattern Dictionary Holds No Patterns [segment 2, page 1]\n"});
  }
  {
    // 65536 patterns of 255 x 255 from a few arithmetic-coded bytes.
    Dictionary d;
    d.flags = 0;
    d.width = d.height = 255;
    d.grayMax = kMaxPatterns - 1;
    d.extra.assign(16, 0);
    cases.push_back({"PatternsOverTheLimit", d, small, "00000000",
                     "ERROR!   Pattern Dictionary Too Large [segment 1, page 1]\n"
                     "ERROR!   Pattern Dictionary Holds No Patterns [segment 2, page 1]\n"});
  }
  {
    // Within the dictionary limit, the collective bitmap is still held to the
    // file's pixel cap.
    Dictionary d;
    d.width = d.height = 255;
    d.grayMax = 4095;
    cases.push_back({"CollectiveBitmapTooLarge", d, small, "00000000",
                     "ERROR!   Bitmap Too Large [segment 1, page 1]\nERROR!   Pattern Dictionary Holds No Patterns [segment 2, page 1]\n", 1u << 20});
  }
  {
    Region r = small;
    r.gridWidth = static_cast<uint32_t>(kMaxHalftoneGridCells) + 1;  // one cell over
    cases.push_back({"GridOneCellOverTheLimit", TwoByOne(0, {{"11"}}), r, "00000000", "ERROR!   Halftone Grid Too Large [segment 2, page 1]\n"});
  }
  {
    Region r = small;
    r.gridWidth = r.gridHeight = 0xFFFFFFFFu;
    cases.push_back({"GridOfAllOnes", TwoByOne(0, {{"11"}}), r, "00000000", "ERROR!   Halftone Grid Too Large [segment 2, page 1]\n"});
  }
  {
    // A grid of one pattern has no planes, but its gray-scale image is still
    // held to the file's bitmap cap.
    Region r = small;
    r.gridWidth = r.gridHeight = 2048;
    cases.push_back({"GridOverTheBitmapCap", TwoByOne(0, {{"11"}}), r, "00000000", "ERROR!   Halftone Grid Too Large [segment 2, page 1]\n",
                     1u << 20});
  }
  {
    // 2^26 cells of four arithmetic-coded planes for a region of 16 pixels.
    Region r = small;
    r.flags = 0;
    r.gridWidth = r.gridHeight = 8192;
    r.extra.assign(16, 0);
    cases.push_back({"GridFarDenserThanItsRegion", TwoByOne(15, std::vector<Pattern>(16, Pattern{"11"})), r,
                     "00000000", "ERROR!   Halftone Grid Too Large [segment 2, page 1]\n"});
  }
  {
    // Every cell on the same spot: drawing stops after 16 x 8 pixels.
    Region r = small;
    r.gridWidth = r.gridHeight = 256;
    r.vectorX = 0;
    cases.push_back({"PatternsPiledUp", TwoByOne(0, {{"11"}}), r, "11000000",
                     "ERROR!   Halftone Patterns Overlap Too Much: Drawing Stopped [segment 2, page 1]\n"});
  }
  return cases;
}

TEST(HalftoneRegion, HostileHeadersAreRefused) {
  for (const Case& c : RefusedCases()) {
    SCOPED_TRACE(c.name);
    Decoded got = DecodeHalftone(c.dict, c.region, 22, false, c.maxPixels);
    EXPECT_EQ(got.page, c.page);
    EXPECT_EQ(got.err, c.err);
  }
}

TEST(HalftoneRegion, WithoutDictionaryNothingIsDrawn) {
  Decoded got = DecodeHalftone(TwoByOne(0, {{"11"}}), Row(4, 2, 512, 0, {}), 22, /*noRef=*/true);
  EXPECT_EQ(got.page, "0000");
  EXPECT_EQ(got.err, "ERROR!   Halftone Region Refers to No Dictionary [segment 2, page 1]\n");
}

}  // namespace

namespace {

// The band drawing of axis-aligned grids against cell-by-cell drawing: a grid
// vector 1/256 pixel longer places every cell of a row under 256 cells at
// the same pixel but is not drawn as a band.
TEST(HalftoneRegion, BandDrawingMatchesCellDrawing) {
  std::mt19937 rng(5);
  for (uint32_t pw : {1u, 3u, 4u, 8u}) {
    for (int op : {0, 2, 4}) {
      // Rows that run past the right edge (by op 0) or end inside the region.
      const uint32_t gridWidth = op == 0 ? 40 / pw + 1 : 37 / pw;
      SCOPED_TRACE("pattern width " + std::to_string(pw) + ", operator " + std::to_string(op));
      Dictionary d;
      d.width = pw;
      d.height = 3;
      d.grayMax = 4;  // a value of 5..7 is drawn as pattern 4
      for (int k = 0; k < 5; ++k) {
        Pattern p(3, std::string(pw, '0'));
        for (auto& row : p)
          for (auto& c : row) c = rng() % 2 ? '1' : '0';
        d.patterns.push_back(p);
      }
      Region r;
      r.width = 40;
      r.height = 17;
      r.flags = static_cast<uint8_t>(0x01 | (op << 4) | 0x80);
      r.gridWidth = gridWidth;
      r.gridHeight = 9;
      r.gridX = 256 * 2;
      r.gridY = -256 * 2;
      r.bitsPerValue = 3;
      for (uint32_t i = 0; i < r.gridWidth * r.gridHeight; ++i) r.values.push_back(rng() % 8);
      r.vectorX = static_cast<uint16_t>(pw * 256);
      Decoded band = DecodeHalftone(d, r);
      r.vectorX = static_cast<uint16_t>(pw * 256 + 1);
      Decoded cells = DecodeHalftone(d, r);
      EXPECT_EQ(band.page, cells.page);
      EXPECT_EQ(band.err, cells.err);
    }
  }
}

}  // namespace
