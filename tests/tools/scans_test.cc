// Scanned pages as they come: grey and colour scans under uneven light made
// 1-bit for text, multi-page TIFF files coded as one document, every image
// format transc reads, and damaged files refused with the reason. The pages
// are made by tests/tools/make_scan_pages.sh (Ghostscript and ImageMagick).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;
const std::string kSource = JB2_SOURCE_DIR;
constexpr uint32_t k300Dpi = 11811;  // pixels per metre

// The scanned pages, made once per build directory and shared by the test
// processes (a lock keeps two from making them at once; a change of the
// script or the page makes them anew).
const std::string& ScanPages() {
  static const std::string dir = [] {
    const std::string d = JB2_SCAN_PAGES_DIR;
    const std::string script = kSource + "/tests/tools/make_scan_pages.sh";
    const std::string page = kSource + "/tests/data/scans/text_page.ps";
    const auto r = jb2test::RunCommand(
        "mkdir -p '" + d + "' && cd '" + d + "' && key=$(cat '" + script + "' '" + page +
        "' | cksum | tr -c 0-9 _) && flock made.lock sh -c \"test -f made-$key || "
        "{ rm -f made-*; sh '" + script + "' . && touch made-$key; }\"");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return d;
  }();
  return dir;
}

bool Load(const std::string& path, BMP* page) {
  const bool pbm = path.size() > 4 && path.compare(path.size() - 4, 4, ".pbm") == 0;
  return pbm ? jb2test::LoadPBM(path, page) : LoadBMP(path.c_str(), page) == 0;
}

struct Difference {
  long wrong = -1;  // pixels that differ; -1: a page missing or of another size
  long black = 0;   // black pixels of the truth
  uint32_t resolution = 0;
};

// Compares a decoded page with the true one, pixel by pixel.
Difference Compare(const std::string& decoded, const std::string& truth) {
  Difference d;
  BMP a{}, b{};
  if (Load(decoded, &a) && Load(truth, &b) && a.lWidth == b.lWidth && a.lHeight == b.lHeight) {
    d.wrong = 0;
    for (uint32_t y = 0; y < a.lHeight; ++y)
      for (uint32_t i = 0; i < a.lBytesPerRow; ++i) {
        const unsigned char x = a.pData[y * a.lStride + i], t = b.pData[y * b.lStride + i];
        d.wrong += std::popcount(static_cast<unsigned>(x ^ t));
        d.black += std::popcount(static_cast<unsigned>(t));
      }
    d.resolution = a.lXResolution;
  }
  DestroyBMP(&a);
  DestroyBMP(&b);
  return d;
}

long FileSize(const std::string& path) { return static_cast<long>(jb2test::ReadFileBytes(path).size()); }

// Runs transc with `args` (the output named -o OUT/doc) and untransc on the
// result; returns the directory.
std::string CodeAndDecode(const std::string& args) {
  const std::string out = jb2test::MakeTempDir();
  const auto enc = jb2test::RunCommand("'" + kTransc + "' -o '" + out + "/doc' " + args, ScanPages());
  EXPECT_EQ(enc.exitStatus, 0) << enc.err;
  const auto dec = jb2test::RunCommand("'" + kUntransc + "' doc", out);
  EXPECT_EQ(dec.exitStatus, 0) << dec.err;
  return out;
}

// A grey or colour scan of a text page under light falling from 100% to
// 45%: at most `share` of the true page's black pixels come out wrong, the
// text-coded file stays small, and the scan's resolution travels along.
void ExpectBinarizedForText(const std::string& scan, double share) {
  const std::string out = CodeAndDecode(scan + " sr");
  const Difference d = Compare(out + "/doc_1.bmp", ScanPages() + "/truth.pbm");
  ASSERT_GE(d.wrong, 0);
  EXPECT_LE(d.wrong, static_cast<long>(share * static_cast<double>(d.black))) << "of " << d.black << " black";
  EXPECT_LE(FileSize(out + "/doc.jb2"), 50000);
  EXPECT_EQ(d.resolution, k300Dpi);
}

TEST(Scans, GreyPngUnderUnevenLightIsBinarizedForText) { ExpectBinarizedForText("grey.png", 0.12); }

TEST(Scans, ColourJpegOnTintedPaperIsBinarizedForText) { ExpectBinarizedForText("colour.jpg", 0.15); }

// Every page of a multi-page TIFF file, in one document: a G4 file decodes
// exactly to its pages, a grey LZW file binarizes each page.
TEST(Scans, MultiPageTiffIsOneDocument) {
  const std::string g4 = CodeAndDecode("truth3.tif sr");
  EXPECT_EQ(Compare(g4 + "/doc_1.bmp", ScanPages() + "/truth.pbm").wrong, 0);
  EXPECT_EQ(Compare(g4 + "/doc_2.bmp", ScanPages() + "/truth_2.pbm").wrong, 0);
  EXPECT_EQ(Compare(g4 + "/doc_3.bmp", ScanPages() + "/truth_3.pbm").wrong, 0);
  EXPECT_FALSE(jb2test::FileExists(g4 + "/doc_4.bmp"));
  EXPECT_EQ(Compare(g4 + "/doc_1.bmp", ScanPages() + "/truth.pbm").resolution, k300Dpi);

  const std::string grey = CodeAndDecode("grey3.tif sr");
  for (int page = 1; page <= 3; ++page) {
    const std::string truth = ScanPages() + (page == 1 ? "/truth.pbm" : "/truth_" + std::to_string(page) + ".pbm");
    const Difference d = Compare(grey + "/doc_" + std::to_string(page) + ".bmp", truth);
    ASSERT_GE(d.wrong, 0) << "page " << page;
    EXPECT_LE(d.wrong, d.black * 12 / 100) << "page " << page;
  }
}

// --threshold N cuts every grey page at N (under uneven light the darker
// side's paper turns black); a 1-bit page is never thresholded again; a
// value out of range is refused.
TEST(Scans, FixedThreshold) {
  const std::string fixed = CodeAndDecode("--threshold 128 grey.png");
  const Difference d = Compare(fixed + "/doc_1.bmp", ScanPages() + "/truth.pbm");
  EXPECT_GT(d.wrong, d.black);

  const std::string bilevel = CodeAndDecode("--threshold 255 truth3.tif");
  EXPECT_EQ(Compare(bilevel + "/doc_1.bmp", ScanPages() + "/truth.pbm").wrong, 0);

  for (const char* value : {"256", "-1", "dark"}) {
    const std::string out = jb2test::MakeTempDir();
    const auto r = jb2test::RunCommand("'" + kTransc + "' -o '" + out + "/doc' --threshold " + value + " grey.png",
                                       ScanPages());
    EXPECT_EQ(r.exitStatus, 1) << value;
    EXPECT_NE(r.err.find("--threshold"), std::string::npos) << r.err;
    EXPECT_FALSE(jb2test::FileExists(out + "/doc.jb2")) << value;
  }
}

// The same small black and white page in every format and depth transc
// reads, made by ImageMagick: each decodes to exactly that page.
TEST(Scans, EveryFormatGivesThePage) {
  const std::string dir = jb2test::MakeTempDir();
  auto run = [&](const std::string& command) { return jb2test::RunCommand(command, dir); };
  ASSERT_EQ(run("convert '" + ScanPages() + "/truth.pbm' -crop 320x200+150+150 +repage page.pbm").exitStatus, 0);
  // The file, and ImageMagick's options that make it from page.pbm.
  const std::vector<std::pair<std::string, std::string>> formats = {
      {"grey.pgm", "-type Grayscale -depth 8 grey.pgm"},
      {"colour.ppm", "-type TrueColor -depth 8 colour.ppm"},
      {"palette.bmp", "-type Palette -depth 8 BMP3:palette.bmp"},
      {"colour.bmp", "-type TrueColor BMP3:colour.bmp"},
      {"bilevel.png", "-type Bilevel bilevel.png"},
      {"grey.png", "-type Grayscale -depth 8 grey.png"},
      {"colour.png", "-type TrueColor colour.png"},
      {"g3.tif", "-compress Fax g3.tif"},
      {"lzw.tif", "-compress LZW lzw.tif"},
      {"none.tif", "-compress None none.tif"},
      {"grey.tif", "-type Grayscale -compress Zip grey.tif"},
      {"page.gif", "page.gif"},
      {"page.webp", "-define webp:lossless=true page.webp"},
  };
  for (const auto& [name, options] : formats) {
    ASSERT_EQ(run("convert page.pbm " + options).exitStatus, 0) << name;
    const auto enc = run("'" + kTransc + "' -o out " + name + " && '" + kUntransc + "' out");
    EXPECT_EQ(enc.exitStatus, 0) << name << ": " << enc.err;
    EXPECT_EQ(Compare(dir + "/out_1.bmp", dir + "/page.pbm").wrong, 0) << name;
    std::remove((dir + "/out_1.bmp").c_str());
  }
}

// A file that cannot be read says what happened, exits 1, and leaves no
// output: cut short (PNG, JPEG, a TIFF's second page) or compressed in a
// way nothing here decodes.
TEST(Scans, DamagedFilesAreRefusedWithTheReason) {
  const std::string dir = jb2test::MakeTempDir();
  auto cut = [&](const std::string& from, size_t bytes, const std::string& to) {
    std::vector<uint8_t> data = jb2test::ReadFileBytes(ScanPages() + "/" + from);
    data.resize(bytes);
    jb2test::WriteFileBytes(dir + "/" + to, data);
  };
  cut("grey.png", 100000, "cut.png");
  cut("colour.jpg", 100000, "cut.jpg");
  cut("truth3.tif", 60000, "cut.tif");
  // A 1-bit TIFF whose compression (tag 259, little-endian SHORT) reads
  // JPEG 2000 instead of none.
  ASSERT_EQ(jb2test::RunCommand("convert '" + ScanPages() + "/truth.pbm' -crop 64x64+150+150 -compress None j2k.tif",
                                dir).exitStatus, 0);
  std::vector<uint8_t> tiff = jb2test::ReadFileBytes(dir + "/j2k.tif");
  const std::vector<uint8_t> none = {0x03, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00};
  auto at = std::search(tiff.begin(), tiff.end(), none.begin(), none.end());
  ASSERT_NE(at, tiff.end());
  at[8] = 0x98;  // 34712
  at[9] = 0x87;
  jb2test::WriteFileBytes(dir + "/j2k.tif", tiff);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"cut.png", "a PNG file: cut short"},
      {"cut.jpg", "a JPEG file: cut short"},
      {"cut.tif", "page 2: cut short"},
      {"j2k.tif", "unsupported compression JPEG 2000"},
  };
  for (const auto& [name, reason] : cases) {
    const auto r = jb2test::RunCommand("'" + kTransc + "' -o out " + name + " sr", dir);
    EXPECT_EQ(r.exitStatus, 1) << name;
    EXPECT_NE(r.err.find("Cannot read " + name + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_FALSE(jb2test::FileExists(dir + "/out.jb2")) << name;
  }
}

}  // namespace
