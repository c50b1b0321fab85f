#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "common/limits.h"
#include "tests/test_util.h"

namespace {

using jb2test::ReadFileBytes;
using jb2test::WriteFileBytes;

const std::string kBmpDir = std::string(JB2_TEST_DATA_DIR) + "/bmp/";

void Put32(std::vector<uint8_t>* f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*f)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Loads `path` with stderr captured; returns LoadBMP's result.
int LoadCaptured(const std::string& path, BMP* bmp, std::string* err) {
  testing::internal::CaptureStderr();
  int r = LoadBMP(path.c_str(), bmp);
  *err = testing::internal::GetCapturedStderr();
  return r;
}

// A saved 20 x 5 random picture (rows of 3 bytes plus 1 pad byte).
std::vector<uint8_t> SavedPicture(const std::string& dir, BMP* picture) {
  std::mt19937 rng(3);
  jb2test::MakeRandomBMP(picture, 20, 5, 0.5, rng);
  std::string path = dir + "/p.bmp";
  SaveBMP(path.c_str(), picture);
  return ReadFileBytes(path);
}

TEST(BmpFile, SaveThenLoadKeepsPixelsForEveryRowPadding) {
  std::string dir = jb2test::MakeTempDir();
  std::mt19937 rng(11);
  for (uint32_t w : {1u, 7u, 8u, 9u, 17u, 24u, 25u, 31u, 32u, 33u, 100u}) {
    BMP a, b;
    jb2test::MakeRandomBMP(&a, w, 7, 0.5, rng, /*dirtySpareBits=*/true);
    std::string path = dir + "/r.bmp";
    SaveBMP(path.c_str(), &a);
    std::vector<uint8_t> file = ReadFileBytes(path);
    uint32_t pad = (4 - a.lBytesPerRow % 4) % 4;
    ASSERT_EQ(file.size(), 62u + (a.lBytesPerRow + pad) * 7u) << w;
    std::string err;
    ASSERT_EQ(LoadCaptured(path, &b, &err), 0) << w;
    EXPECT_EQ(err, "");
    EXPECT_TRUE(jb2test::SamePixels(&a, &b)) << w;
    for (uint32_t r = 0; r < 7; ++r)  // spare bits travel as held
      EXPECT_EQ(memcmp(a.pData + r * a.lStride, b.pData + r * b.lStride, a.lBytesPerRow), 0) << w;
    DestroyBMP(&a);
    DestroyBMP(&b);
  }
}

TEST(BmpFile, SavedHeaderAndRowOrder) {
  std::string dir = jb2test::MakeTempDir();
  BMP b;
  CreateBMP(&b, 24, 2, 0);
  b.pData[0] = 0xAA;  // top row
  b.pData[b.lStride] = 0x55;
  std::string path = dir + "/h.bmp";
  SaveBMP(path.c_str(), &b);
  std::vector<uint8_t> f = ReadFileBytes(path);
  std::vector<uint8_t> header(62, 0);
  header[0] = 'B';
  header[1] = 'M';
  const uint32_t fields[][2] = {{2, 70}, {10, 62}, {14, 40}, {18, 24}, {22, 2}, {46, 2}, {50, 2}, {54, 0xFFFFFF}};
  for (const auto& fv : fields) Put32(&header, fv[0], fv[1]);
  header[26] = header[28] = 1;  // planes, bits per pixel
  ASSERT_EQ(f.size(), 70u);
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 62), header);
  const std::vector<uint8_t> rows = {0x55, 0, 0, 0, 0xAA, 0, 0, 0};  // bottom row first, 1 pad byte each
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 62, f.end()), rows);
  DestroyBMP(&b);
}

TEST(BmpFile, PalettesDecidePolarity) {
  BMP ref, other;
  std::string err;
  ASSERT_EQ(LoadCaptured(kBmpDir + "pal1wb.bmp", &ref, &err), 0);
  EXPECT_EQ(ref.lWidth, 127u);
  EXPECT_EQ(ref.lHeight, 64u);
  uint32_t area = AreaBMP(&ref);
  EXPECT_GT(area, 0u);
  EXPECT_LT(area, 127u * 64u);
  // Black-then-white stores the same picture with its bits inverted; blue and
  // green take the darker blue as black.
  for (const char* name : {"pal1.bmp", "pal1bg.bmp"}) {
    ASSERT_EQ(LoadCaptured(kBmpDir + name, &other, &err), 0) << name;
    EXPECT_EQ(err, "") << name;
    EXPECT_EQ(ExactBMP(&ref, &other), 1) << name;
    DestroyBMP(&other);
  }
  // One palette entry, pixel data at offset 58 rather than 62.
  ASSERT_EQ(LoadCaptured(kBmpDir + "pal1p1.bmp", &other, &err), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(other.lWidth, 127u);
  EXPECT_EQ(AreaBMP(&other), 0u);
  DestroyBMP(&other);
  DestroyBMP(&ref);
}

TEST(BmpFile, HonoursPixelOffsetLargerHeadersAndTopDownRows) {
  std::string dir = jb2test::MakeTempDir();
  BMP picture;
  std::vector<uint8_t> saved = SavedPicture(dir, &picture);
  const size_t rowBytes = 4;

  // 124-byte information header: palette at 138, pixels at 146.
  std::vector<uint8_t> big(saved.begin(), saved.begin() + 54);
  big.insert(big.end(), 84, 0);
  big.insert(big.end(), saved.begin() + 54, saved.end());
  Put32(&big, 14, 124);
  Put32(&big, 10, 146);
  // Black-then-white palette, then a gap of 18 bytes before the pixels at 80.
  std::vector<uint8_t> gap(saved.begin(), saved.begin() + 62);
  for (int i = 0; i < 4; ++i) std::swap(gap[54 + i], gap[58 + i]);
  gap.insert(gap.end(), 18, 0x77);
  for (size_t i = 62; i < saved.size(); ++i) gap.push_back(static_cast<uint8_t>(~saved[i]));
  Put32(&gap, 10, 80);
  // Top-down rows: negative height.
  std::vector<uint8_t> topDown(saved.begin(), saved.begin() + 62);
  for (size_t r = 0; r < 5; ++r) {
    auto row = saved.begin() + 62 + (4 - r) * rowBytes;
    topDown.insert(topDown.end(), row, row + rowBytes);
  }
  Put32(&topDown, 22, static_cast<uint32_t>(-5));
  // The last row's padding may be missing.
  std::vector<uint8_t> noLastPad(saved.begin(), saved.end() - 1);

  const std::pair<const char*, std::vector<uint8_t>*> cases[] = {
      {"big", &big}, {"gap", &gap}, {"topdown", &topDown}, {"nolastpad", &noLastPad}};
  for (const auto& [name, bytes] : cases) {
    std::string path = dir + "/" + name + ".bmp";
    WriteFileBytes(path, *bytes);
    BMP b;
    std::string err;
    ASSERT_EQ(LoadCaptured(path, &b, &err), 0) << name;
    EXPECT_EQ(err, "") << name;
    EXPECT_EQ(ExactBMP(&b, &picture), 1) << name;
    DestroyBMP(&b);
  }
  DestroyBMP(&picture);
}

TEST(BmpFile, RefusesFilesItCannotLoadAndLeavesRecordUntouched) {
  std::string dir = jb2test::MakeTempDir();
  BMP picture;
  const std::vector<uint8_t> saved = SavedPicture(dir, &picture);
  DestroyBMP(&picture);
  const std::string eof = "ERROR!   Unexpected EOF in input file\n";
  const std::string range = "ERROR!   Invalid .BMP, Image Width or Height Out of Range\n";
  struct Case {
    const char* name;
    size_t at;       // field to overwrite, or SIZE_MAX
    uint32_t value;  // its new 32-bit value
    size_t keep;     // bytes of the file kept
    std::string err;
  };
  const Case cases[] = {
      {"header cut after 10 bytes", SIZE_MAX, 0, 10, eof},  // said once
      {"header cut after 61 bytes", SIZE_MAX, 0, 61, eof},
      {"8 bits per pixel", 28, 8, SIZE_MAX,
       "ERROR!   Invalid .BMP, Incorrect Bits Per Pixel: 8 found, a 1-bit image is needed (convert it with: convert "
       "DIR/bad.bmp -monochrome DIR/bad.pbm)\n"},
      {"compressed", 30, 1, SIZE_MAX, "ERROR!   Invalid .BMP, Compressed Pixel Data Not Supported\n"},
      {"width 0", 18, 0, SIZE_MAX, range},
      {"height 0", 22, 0, SIZE_MAX, range},
      {"width over limit", 18, kMaxBmpDimension + 1, SIZE_MAX, range},
      {"height over limit", 22, kMaxBmpDimension + 1, SIZE_MAX, range},
      {"top-down height over limit", 22, static_cast<uint32_t>(-static_cast<int64_t>(kMaxBmpDimension) - 1),
       SIZE_MAX, range},
      {"most negative height", 22, 0x80000000u, SIZE_MAX, range},
      {"pixels beyond memory limit", 18, kMaxBmpDimension, SIZE_MAX, range},  // with height set below
      {"rows cut short", SIZE_MAX, 0, 62 + 4 * 4 + 2, eof},
      {"huge size, tiny file", 18, 1u << 16, SIZE_MAX, eof},
      {"short OS/2 2.x header", 14, 16, SIZE_MAX, "ERROR!   Invalid .BMP file format!\n"},
      {"pixels inside header", 10, 40, SIZE_MAX, "ERROR!   Invalid .BMP file format!\n"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = saved;
    if (c.at != SIZE_MAX) Put32(&bytes, c.at, c.value);
    if (std::string(c.name) == "pixels beyond memory limit") Put32(&bytes, 22, kMaxBmpDimension);
    if (c.keep != SIZE_MAX) bytes.resize(c.keep);
    std::string path = dir + "/bad.bmp";
    WriteFileBytes(path, bytes);
    BMP b = {reinterpret_cast<unsigned char*>(&b), 1, 2, 3, 4, 5, 6};
    const BMP before = b;
    std::string err;
    EXPECT_EQ(LoadCaptured(path, &b, &err), 2) << c.name;
    for (size_t at = err.find(dir); at != std::string::npos; at = err.find(dir)) err.replace(at, dir.size(), "DIR");
    EXPECT_EQ(err, c.err) << c.name;
    EXPECT_EQ(memcmp(&b, &before, sizeof b), 0) << c.name;
  }

  BMP b = {nullptr, 0, 0, 0, 0, 0, 0};
  std::string err;
  EXPECT_EQ(LoadCaptured(kBmpDir + "pal1huffmsb.bmp", &b, &err), 2);
  EXPECT_EQ(err, "ERROR!   Invalid .BMP, Compressed Pixel Data Not Supported\n");
  EXPECT_EQ(LoadCaptured(dir + "/missing.bmp", &b, &err), 1);
  EXPECT_EQ(err, "");
  EXPECT_EQ(b.pData, nullptr);
}

TEST(BmpFile, WrongSignatureIsReportedButLoaded) {
  std::string dir = jb2test::MakeTempDir();
  BMP picture, b;
  std::vector<uint8_t> bytes = SavedPicture(dir, &picture);
  bytes[0] = 'X';
  WriteFileBytes(dir + "/sig.bmp", bytes);
  std::string err;
  ASSERT_EQ(LoadCaptured(dir + "/sig.bmp", &b, &err), 0);
  EXPECT_EQ(err, "ERROR!   Invalid .BMP file format!\n");
  EXPECT_EQ(ExactBMP(&b, &picture), 1);
  DestroyBMP(&b);
  DestroyBMP(&picture);
}

}  // namespace
