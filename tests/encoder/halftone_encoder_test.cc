// Halftone sections: every coding option must come back from our decoder and
// from jbig2dec as the dither patterns of the measured gray levels, with the
// area outside the grid white.
#include "encoder/halftone_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decoder/untransclib.h"
#include "encoder/transclib.h"
#include "tests/encoder/jb2_file_reader.h"
#include "tests/test_util.h"

namespace {

using jb2test::Sections;

// The two threshold matrices as stored files have them.
constexpr uint8_t kClustered[16] = {13, 11, 12, 15, 4, 3, 2, 9, 5, 0, 1, 10, 8, 6, 7, 14};
constexpr uint8_t kDispersed[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 5, 7, 13, 5};

// Decodes page 1 of a file with our decoder; false when there is none.
bool DecodeOurs(const std::vector<uint8_t>& bytes, BMP* page, std::string* err) {
  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  file.pFileData = bytes.data();
  file.lFileSize = bytes.size();
  testing::internal::CaptureStderr();
  bool ok = JB2ParseFile(&file) == 0 && file.nPages == 1;
  if (ok) {
    UntranscodeGlobal(&file);
    JB2PAGE* p = &file.pPages[0];
    CreateBMP(&p->Bitmap, p->Info.lWidth, p->Info.lHeight, static_cast<int>(p->Info.lDefaultPixel));
    UntranscodePage(p);
    *page = p->Bitmap;
    p->Bitmap = BMP{};
  }
  *err = testing::internal::GetCapturedStderr();
  JB2FreeFile(&file);
  return ok;
}

bool HaveJbig2dec() { return jb2test::RunCommand("command -v jbig2dec").exitStatus == 0; }

// A page with every gray level: a horizontal ramp of black density, with
// random dots, so cells hold 0 to 16 black pixels.
void MakeGrayPage(BMP* page, uint32_t width, uint32_t height, std::mt19937& rng) {
  CreateBMP(page, width, height, 0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      double density = (x % 40) / 36.0;
      jb2test::SetPixel(page, x, y, u(rng) < density);
    }
}

// What a decoder must show: white, except each whole 4 x 4 cell of the
// section, drawn as the pattern of its black-pixel count (at most 15).
void ExpectedPage(const BMP* page, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, const uint8_t* matrix,
                  BMP* out) {
  CreateBMP(out, page->lWidth, page->lHeight, 0);
  for (uint32_t r = 0; r + 4 <= y1 - y0; r += 4)
    for (uint32_t c = 0; c + 4 <= x1 - x0; c += 4) {
      uint32_t count = 0;
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) count += jb2test::GetPixel(page, x0 + c + x, y0 + r + y);
      if (count > 15) count = 15;
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) jb2test::SetPixel(out, x0 + c + x, y0 + r + y, count > matrix[y * 4 + x]);
    }
}

struct HalftoneCase {
  const char* name;
  bool mmr;
  int32_t templ;
  bool skip;
  int32_t htpattern;
  int32_t combop;
};

const HalftoneCase kCases[] = {
    {"Template0", false, 0, false, 0, 0},       {"Template1", false, 1, false, 0, 0},
    {"Template2", false, 2, false, 0, 0},       {"Template3", false, 3, false, 0, 0},
    {"Template0Skip", false, 0, true, 0, 0},    {"Template2Skip", false, 2, true, 1, 0},
    {"Template3Dispersed", false, 3, false, 1, 0}, {"Mmr", true, 0, false, 0, 0},
    {"MmrDispersed", true, 0, false, 1, 0},     {"MmrSkipTemplate", true, 2, true, 0, 0},
    {"CombopReplace", false, 1, false, 0, 4},   {"CombopXor", true, 0, false, 1, 2},
};

class HalftoneRoundTrip : public ::testing::TestWithParam<HalftoneCase> {};

TEST_P(HalftoneRoundTrip, BothDecodersDrawTheCellPatterns) {
  const HalftoneCase& c = GetParam();
  std::mt19937 rng(7);
  struct Geometry { uint32_t w, h, x0, y0, x1, y1; };
  // Whole page; an offset section with a ragged right and bottom edge; a
  // section narrower than one cell.
  const Geometry geometries[] = {{80, 48, 0, 0, 80, 48}, {97, 61, 6, 5, 77, 51}, {40, 20, 8, 4, 11, 20}};
  std::string dir = jb2test::MakeTempDir();
  const bool peer = HaveJbig2dec();
  for (const Geometry& g : geometries) {
    SCOPED_TRACE(std::to_string(g.w) + "x" + std::to_string(g.h));
    BMP page;
    MakeGrayPage(&page, g.w, g.h, rng);
    // Only the section: pixels outside it would be coded as a generic region.
    jb2test::ClearOutside(&page, g.x0, g.y0, g.x1, g.y1);
    BMP expected;
    ExpectedPage(&page, g.x0, g.y0, g.x1, g.y1, c.htpattern ? kDispersed : kClustered, &expected);
    Sections sections;
    sections.Add(2, static_cast<int32_t>(g.x0), static_cast<int32_t>(g.y0), static_cast<int32_t>(g.x1),
                 static_cast<int32_t>(g.y1),
                 {{"mmr", c.mmr}, {"template", c.templ}, {"skip", c.skip}, {"htpattern", c.htpattern},
                  {"combop", c.combop}, {"defpixel", 1}});
    std::string jb2 = dir + "/" + c.name + ".jb2", pbm = dir + "/" + c.name + ".pbm";
    testing::internal::CaptureStderr();
    EXPECT_EQ(Transcode(&page, 1, sections.data(), sections.size(), jb2.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::vector<uint8_t> bytes = jb2test::ReadFileBytes(jb2);

    BMP ours{};
    std::string err;
    ASSERT_TRUE(DecodeOurs(bytes, &ours, &err));
    EXPECT_EQ(err, "");
    EXPECT_TRUE(jb2test::SamePixels(&ours, &expected));
    DestroyBMP(&ours);

    if (peer) {
      jb2test::CommandResult r = jb2test::RunCommand("jbig2dec -t pbm -o '" + pbm + "' '" + jb2 + "'");
      EXPECT_EQ(r.exitStatus, 0) << r.err;
      BMP theirs{};
      ASSERT_TRUE(jb2test::LoadPBM(pbm, &theirs)) << r.err;
      EXPECT_TRUE(jb2test::SamePixels(&theirs, &expected));
      DestroyBMP(&theirs);
    }
    DestroyBMP(&expected);
    DestroyBMP(&page);
  }
}

INSTANTIATE_TEST_SUITE_P(Options, HalftoneRoundTrip, ::testing::ValuesIn(kCases),
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
