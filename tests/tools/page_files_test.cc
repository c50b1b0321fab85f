// Pages as people make them: names with or without their extension, PBM
// and OS/2 BMP files, other depths, ImageMagick's palettes and resolution.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/tool_runs.h"

namespace {

using jb2tooltest::Contains;
using jb2tooltest::kTransc;
using jb2tooltest::kUntransc;

// A 10 x 3 picture: row 0 all black, row 1 one black pixel at column 2,
// row 2 white.
const std::vector<std::vector<uint8_t>> kRows = {{0xFF, 0xC0}, {0x20, 0x00}, {0x00, 0x00}};
const std::vector<uint8_t> kWhiteBlack = {0xFF, 0xFF, 0xFF, 0, 0, 0};  // colour 0 white, colour 1 black

void ExpectPicture(const BMP* page) {
  ASSERT_EQ(page->lWidth, 10u);
  ASSERT_EQ(page->lHeight, 3u);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 10; ++x)
      EXPECT_EQ(jb2test::GetPixel(page, x, y), y == 0 || (y == 1 && x == 2)) << x << "," << y;
}

void WriteText(const std::string& path, const std::string& text) {
  jb2test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(PageFiles, NamesWithOrWithoutTheirExtension) {
  const std::string dir = jb2test::MakeTempDir();
  jb2test::WriteFileBytes(dir + "/page.bmp", jb2tooltest::BmpFile(10, 3, 1, 40, kWhiteBlack, kRows));
  jb2test::WriteFileBytes(dir + "/upper.BMP", jb2tooltest::BmpFile(10, 3, 1, 40, kWhiteBlack, kRows));
  WriteText(dir + "/scan.pbm", "P1\n10 3\n1111111111\n0010000000\n0000000000\n");
  struct Case {
    const char* args;
    const char* base;
  } cases[] = {{"page.bmp", "page"}, {"page", "page"}, {"scan.pbm", "scan"}, {"scan", "scan"}, {"upper.BMP", "upper"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(dir, c.args + std::string(" gr"), c.base, &r);
    EXPECT_EQ(r.enc.exitStatus, 0) << r.enc.err;
    ASSERT_TRUE(r.decoded) << r.dec.err;
    ExpectPicture(&r.page);
  }
  // The decoder takes .jb2 and .jbig2 names, and the base name of either.
  std::filesystem::rename(dir + "/page.jb2", dir + "/doc.jbig2");
  for (const char* arg : {"doc.jbig2", "doc"}) {
    SCOPED_TRACE(arg);
    std::filesystem::remove(dir + "/doc_1.bmp");
    const jb2test::CommandResult r = jb2test::RunCommand(kUntransc + " " + arg, dir);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(jb2test::FileExists(dir + "/doc_1.bmp"));
  }
  const jb2test::CommandResult missing = jb2test::RunCommand(kTransc + " nothing.bmp", dir);
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_TRUE(Contains(missing.err, "Could not load file nothing.bmp ")) << missing.err;
}

TEST(PageFiles, PbmAndOs2BmpPagesAreAccepted) {
  const std::string dir = jb2test::MakeTempDir();
  // P4 with a comment in its header; P1 with its pixels run together.
  const std::string p4 = std::string("P4\n# made by hand\n10 3\n") + std::string("\xFF\xC0\x20\x00\x00\x00", 6);
  const std::string p1 = "P1 10 3 1111111111 0010000000\n0000000000";
  WriteText(dir + "/raw.pbm", p4);
  WriteText(dir + "/plain.pbm", p1);
  // ppmtobmp -os2 writes a 12-byte header and 3-byte colours.
  jb2test::WriteFileBytes(dir + "/os2.bmp", jb2tooltest::BmpFile(10, 3, 1, 12, kWhiteBlack, kRows));
  for (const char* name : {"raw.pbm", "plain.pbm", "os2.bmp"}) {
    SCOPED_TRACE(name);
    const std::string base = std::string(name).substr(0, std::string(name).find('.'));
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(dir, name + std::string(" gr"), base, &r);
    EXPECT_EQ(r.enc.exitStatus, 0) << r.enc.err;
    EXPECT_EQ(r.enc.err, "");
    ASSERT_TRUE(r.decoded) << r.dec.err;
    ExpectPicture(&r.page);
  }
  // A grey PBM relative and a cut-short P4 are refused.
  WriteText(dir + "/grey.pbm", "P5\n10 3\n255\n");
  WriteText(dir + "/short.pbm", "P4\n10 3\n\xFF");
  for (const char* name : {"grey.pbm", "short.pbm"}) {
    const jb2test::CommandResult r = jb2test::RunCommand(kTransc + " " + name + " gr", dir);
    EXPECT_EQ(r.exitStatus, 1) << name;
    EXPECT_TRUE(Contains(r.err, "Could not load file")) << r.err;
  }
}

// ImageMagick writes 24-bit BMPs unless told -monochrome: such a page is
// made 1-bit (black and white only: cut in the middle, every pixel kept).
TEST(PageFiles, OtherDepthsAreMadeOneBit) {
  const std::string dir = jb2test::MakeTempDir();
  std::vector<std::vector<uint8_t>> rows(3, std::vector<uint8_t>(30, 0xFF));
  rows[1][6] = rows[1][7] = rows[1][8] = 0;  // pixel (2, 1) black
  jb2test::WriteFileBytes(dir + "/photo.bmp", jb2tooltest::BmpFile(10, 3, 24, 40, {}, rows));
  jb2tooltest::RoundTrip r;
  jb2tooltest::EncodeDecode(dir, "photo gr", "photo", &r);
  ASSERT_TRUE(r.decoded) << r.enc.err << r.dec.err;
  EXPECT_EQ(AreaBMP(&r.page), 1u);
  EXPECT_EQ(jb2test::GetPixel(&r.page, 2, 1), 1);
}

// `convert -size ... xc:black -monochrome BMP3:black.bmp` writes two black
// palette entries: every pixel is black whatever its bit.
TEST(PageFiles, EachBitTakesTheShadeOfItsOwnPaletteEntry) {
  const std::string dir = jb2test::MakeTempDir();
  const std::vector<uint8_t> blackBlack = {0, 0, 0, 0, 0, 0}, whiteWhite = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  jb2test::WriteFileBytes(dir + "/black.bmp", jb2tooltest::BmpFile(10, 3, 1, 40, blackBlack, kRows));
  jb2test::WriteFileBytes(dir + "/white.bmp", jb2tooltest::BmpFile(10, 3, 1, 40, whiteWhite, kRows));
  for (const char* base : {"black", "white"}) {
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(dir, base + std::string(" gr"), base, &r);
    ASSERT_TRUE(r.decoded) << r.enc.err << r.dec.err;
    EXPECT_EQ(AreaBMP(&r.page), std::string(base) == "black" ? 30u : 0u) << base;
  }
}

TEST(PageFiles, ResolutionGoesThroughUnlessGiven) {
  const std::string dir = jb2test::MakeTempDir();
  jb2test::WriteFileBytes(dir + "/page.bmp", jb2tooltest::BmpFile(10, 3, 1, 40, kWhiteBlack, kRows, 11811));
  auto decodedResolution = [&](const std::string& words) {
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(dir, "page " + words, "page", &r);
    EXPECT_TRUE(r.decoded) << r.enc.err << r.dec.err;
    EXPECT_EQ(r.page.lXResolution, r.page.lYResolution);
    return r.page.lXResolution;
  };
  EXPECT_EQ(decodedResolution("gr"), 11811u);  // 300 dpi
  EXPECT_EQ(decodedResolution("gr:resolution=5906"), 5906u);
  // PBM files carry none.
  WriteText(dir + "/page.bmp", "P1 10 3 1111111111 0010000000 0000000000");
  EXPECT_EQ(decodedResolution("gr"), 0u);
}

}  // namespace
