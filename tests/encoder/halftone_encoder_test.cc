// Halftone sections: every coding option must come back from our decoder as
// the dither patterns of the measured gray levels, with the area outside the
// grid white (the interop tests hold the other readers to the same).
#include "encoder/halftone_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decoder/untransclib.h"
#include "encoder/transclib.h"
#include "tests/encoder/halftone_modes.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::HalftoneCase;
using jb2test::Sections;

class HalftoneRoundTrip : public ::testing::TestWithParam<HalftoneCase> {};

TEST_P(HalftoneRoundTrip, OurDecoderDrawsTheCellPatterns) {
  const HalftoneCase& c = GetParam();
  std::mt19937 rng(7);
  std::string dir = jb2test::MakeTempDir();
  for (const jb2test::HalftoneGeometry& g : jb2test::kHalftoneGeometries) {
    SCOPED_TRACE(std::to_string(g.w) + "x" + std::to_string(g.h));
    BMP page;
    jb2test::MakeGrayPage(&page, g.w, g.h, rng);
    // Only the section: pixels outside it would be coded as a generic region.
    jb2test::ClearOutside(&page, g.x0, g.y0, g.x1, g.y1);
    BMP expected;
    jb2test::ExpectedPage(&page, g.x0, g.y0, g.x1, g.y1, jb2test::HalftoneMatrix(c), &expected);
    Sections sections;
    jb2test::AddHalftoneSection(sections, c, g.x0, g.y0, g.x1, g.y1);
    std::string jb2 = dir + "/" + c.name + ".jb2";
    testing::internal::CaptureStderr();
    EXPECT_EQ(Transcode(&page, 1, sections.data(), sections.size(), jb2.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::vector<uint8_t> bytes = jb2test::ReadFileBytes(jb2);

    BMP ours{};
    std::string err;
    ASSERT_TRUE(jb2test::DecodeOnlyPage(bytes, &ours, &err));
    EXPECT_EQ(err, "");
    EXPECT_TRUE(jb2test::SamePixels(&ours, &expected));
    DestroyBMP(&ours);
    DestroyBMP(&expected);
    DestroyBMP(&page);
  }
}

INSTANTIATE_TEST_SUITE_P(Options, HalftoneRoundTrip, ::testing::ValuesIn(jb2test::kHalftoneCases),
                         [](const ::testing::TestParamInfo<HalftoneCase>& info) { return std::string(info.param.name); });

// The segment layouts that stored files and peers read.
TEST(HalftoneSegments, WhiteSectionLayout) {
  BMP page;
  CreateBMP(&page, 8, 8, 0);
  Sections sections;
  sections.Add(2, 0, 0, 0, 0, {{"defpixel", 1}});
  std::string path = jb2test::MakeTempDir() + "/white.jb2";
  ASSERT_EQ(Transcode(&page, 1, sections.data(), sections.size(), path.c_str()), 0);
  jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(path));
  ASSERT_TRUE(file.ok);
  ASSERT_EQ(file.segments.size(), 6u);
  const jb2test::ParsedSegment& dict = file.segments[2];
  const jb2test::ParsedSegment& region = file.segments[3];
  EXPECT_EQ(dict.type, 16u);
  EXPECT_TRUE(dict.retain);
  const std::vector<uint8_t> dictHead = {0x00, 0x04, 0x04, 0x00, 0x00, 0x00, 0x0F};
  ASSERT_GE(dict.data.size(), dictHead.size());
  EXPECT_EQ(std::vector<uint8_t>(dict.data.begin(), dict.data.begin() + 7), dictHead);
  EXPECT_EQ(region.type, 22u);
  EXPECT_EQ(region.referred, std::vector<uint32_t>{dict.number});
  // After the 17 bytes of region information: flags (HDEFPIXEL 0 although
  // "defpixel" was given), HGW 2, HGH 2, HGX 0, HGY 0, HRX 1024, HRY 0.
  const std::vector<uint8_t> regionHead = {0x00, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0};
  ASSERT_GE(region.data.size(), 17 + regionHead.size());
  EXPECT_EQ(std::vector<uint8_t>(region.data.begin() + 17, region.data.begin() + 17 + 21), regionHead);
  DestroyBMP(&page);
}

TEST(HalftoneSegments, MmrPlanesEndWithEofbAndTheDictionaryDoesNot) {
  BMP page;
  CreateBMP(&page, 16, 4, 0);  // four cells, all white: every plane is one white row
  Sections sections;
  sections.Add(2, 0, 0, 0, 0, {{"mmr", 1}, {"template", 3}, {"skip", 1}});
  std::string path = jb2test::MakeTempDir() + "/mmr.jb2";
  ASSERT_EQ(Transcode(&page, 1, sections.data(), sections.size(), path.c_str()), 0);
  jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(path));
  ASSERT_TRUE(file.ok);
  const std::vector<uint8_t>& dict = file.segments[2].data;
  const std::vector<uint8_t>& region = file.segments[3].data;
  // T.88 7.4.4.1.1 and 7.4.5.1.1: with MMR the template and skip flags are 0.
  EXPECT_EQ(dict[0], 0x01);
  EXPECT_EQ(region[17], 0x01);
  // A white 4 x 1 plane is V0 then EOFB, padded: 1 000000000001 000000000001 000.
  const std::vector<uint8_t> plane = {0x80, 0x08, 0x00, 0x80};
  ASSERT_EQ(region.size(), 17u + 21u + 4 * plane.size());
  for (size_t k = 0; k < 4; ++k)
    EXPECT_EQ(std::vector<uint8_t>(region.begin() + 38 + 4 * k, region.begin() + 42 + 4 * k), plane) << k;
  // The collective bitmap (64 x 4) has no EOFB: its last bits are not 0x001001.
  ASSERT_GE(dict.size(), 10u);
  EXPECT_FALSE(dict[dict.size() - 3] == 0x00 && dict[dict.size() - 2] == 0x10 && dict[dict.size() - 1] == 0x01);
  DestroyBMP(&page);
}

}  // namespace
