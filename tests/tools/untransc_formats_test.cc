// untransc's outputs besides BMP: PNG pages and one TIFF file for all pages,
// read back through leptonica, and a page on standard output (-o -).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tools/image_input.h"

namespace {

using jb2test::RunCommand;

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;

// Two pages of widths that end inside a byte and inside a 32-bit word, at
// 300 and 200 dpi, coded into dir/doc.jb2 (and dir/one.jb2, the first
// page alone); `pages` gets them.
void MakeDocument(const std::string& dir, std::vector<BMP>* pages) {
  std::mt19937 rng(26);
  const uint32_t sizes[2][3] = {{77, 41, 11811}, {45, 30, 7874}};
  for (int i = 0; i < 2; ++i) {
    BMP page{};
    jb2test::MakeRandomBMP(&page, sizes[i][0], sizes[i][1], 0.3, rng);
    page.lXResolution = page.lYResolution = sizes[i][2];
    SaveBMP((dir + "/p" + std::to_string(i + 1) + ".bmp").c_str(), &page);
    pages->push_back(page);
  }
  ASSERT_EQ(RunCommand(kTransc + " -q -o doc p1.bmp p2.bmp && " + kTransc + " -q -o one p1.bmp", dir).exitStatus, 0);
}

// Reads every page of an image file through leptonica.
std::vector<BMP> ReadBack(const std::string& path) {
  std::vector<BMP> pages;
  EXPECT_EQ(jb2tool::LoadPages(path, jb2tool::kAutoThreshold, &pages), 0) << path;
  return pages;
}

void ExpectSamePages(std::vector<BMP> got, const std::vector<BMP>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_TRUE(jb2test::SamePixels(&got[i], &want[i])) << "page " << i + 1;
    EXPECT_EQ(got[i].lXResolution, want[i].lXResolution) << "page " << i + 1;
  }
  for (BMP& b : got) DestroyBMP(&b);
}

// Each page as a PNG file, all pages in one TIFF file (CCITT G4): read
// back, pixel for pixel with the resolution.
TEST(UntranscFormats, PngAndTiffHoldThePagesExactly) {
  const std::string dir = jb2test::MakeTempDir();
  std::vector<BMP> pages;
  MakeDocument(dir, &pages);
  auto r = RunCommand(kUntransc + " --png doc && " + kUntransc + " --tiff -o back doc", dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<BMP> png = ReadBack(dir + "/doc_1.png");
  const std::vector<BMP> second = ReadBack(dir + "/doc_2.png");
  png.insert(png.end(), second.begin(), second.end());
  ExpectSamePages(png, pages);
  ExpectSamePages(ReadBack(dir + "/back.tif"), pages);
  EXPECT_FALSE(jb2test::FileExists(dir + "/back.tif.part"));

  // The TIFF file is one output: kept when it exists, unless -f.
  r = RunCommand(kUntransc + " --tiff -o back one", dir);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("Kept the Existing File back.tif"), std::string::npos) << r.err;
  ExpectSamePages(ReadBack(dir + "/back.tif"), pages);
  EXPECT_EQ(RunCommand(kUntransc + " -f --tiff -o back one", dir).exitStatus, 0);
  ExpectSamePages(ReadBack(dir + "/back.tif"), {pages[0]});
  for (BMP& b : pages) DestroyBMP(&b);
}

// -o -: the one page as PBM bytes on standard output and nothing else
// there, no file; a file of several pages, several files, or another
// format with it are refused with nothing written.
TEST(UntranscFormats, StandardOutputTakesOnePbmPage) {
  const std::string dir = jb2test::MakeTempDir();
  std::vector<BMP> pages;
  MakeDocument(dir, &pages);
  ASSERT_EQ(RunCommand(kUntransc + " --pbm one", dir).exitStatus, 0);
  const std::vector<uint8_t> file = jb2test::ReadFileBytes(dir + "/one_1.pbm");
  std::remove((dir + "/one_1.pbm").c_str());

  auto r = RunCommand(kUntransc + " -o - one", dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), file);
  EXPECT_EQ(RunCommand("ls", dir).out, "doc.jb2\none.jb2\np1.bmp\np2.bmp\n");

  for (const char* args : {"-o - doc", "-o - one doc", "--png -o - one", "-o - --tiff one", "--pbm --png one"}) {
    r = RunCommand(kUntransc + " " + args, dir);
    EXPECT_EQ(r.exitStatus, 1) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_NE(r.err.find("ERROR!"), std::string::npos) << args;
  }
  EXPECT_NE(RunCommand(kUntransc + " -o - doc", dir).err.find("2 Pages in the File: -o - Writes One Page"),
            std::string::npos);
  EXPECT_EQ(RunCommand("ls", dir).out, "doc.jb2\none.jb2\np1.bmp\np2.bmp\n");
  for (BMP& b : pages) DestroyBMP(&b);
}

}  // namespace
