// A generic section over the whole page is coded from the page itself when
// that reads the same pixels as a copy; the file must not tell which.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/common/page_like_image.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

std::vector<uint8_t> EncodeBytes(BMP* image, jb2test::Sections& sections) {
  const std::string path = jb2test::MakeTempDir() + "/page.jb2";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode(image, 1, sections.data(), static_cast<long>(sections.size()), path.c_str()), 0);
  testing::internal::GetCapturedStderr();
  return jb2test::ReadFileBytes(path);
}

struct WholePageCase {
  const char* name;
  uint32_t width;
  bool tpgdon;
  bool mmr;
  bool secondSection;  // a whole-page section followed by another one
};

const WholePageCase kWholePageCases[] = {
    {"template 0", 61, false, false, false},  {"prediction", 61, true, false, false},
    {"whole bytes", 64, true, false, false},  {"mmr", 61, false, true, false},
    {"then a section", 61, true, false, true},
};

// Pages with set spare bits (which a copy would clear) and rows that differ
// only there, against the same pages with those bits clear: the same file.
// Coding must leave the caller's page as it was, unless a later section
// needs the first one's pixels cleared.
TEST(TranscodeWholePage, SameBytesAsCodingACopy) {
  std::mt19937 rng(31);
  for (const WholePageCase& c : kWholePageCases) {
    SCOPED_TRACE(c.name);
    BMP clean{}, dirty{};
    jb2test::MakePageLikeBMP(&clean, c.width, 40, rng);
    for (uint32_t y = 0; y < 40; ++y)  // MakePageLikeBMP set some spare bits
      if (c.width % 8) clean.pData[y * clean.lStride + clean.lBytesPerRow - 1] &= 0xFF00u >> (c.width % 8);
    for (uint32_t y = 10; y < 20; ++y)  // repeated rows for prediction
      std::memcpy(clean.pData + y * clean.lStride, clean.pData + 9 * clean.lStride, clean.lStride);
    CopyBMP(&dirty, &clean);
    if (c.width % 8)
      for (uint32_t y = 12; y < 40; y += 4) dirty.pData[y * dirty.lStride + dirty.lBytesPerRow - 1] |= 1;
    BMP before{};
    CopyBMP(&before, &clean);

    auto sectionsFor = [&](jb2test::Sections& s) {
      const int32_t w = c.secondSection ? static_cast<int32_t>(c.width) : 0, h = c.secondSection ? 40 : 0;
      if (c.mmr) s.Add(0, 0, 0, w, h, {{"mmr", 1}});
      else if (c.tpgdon) s.Add(0, 0, 0, w, h, {{"tpdon", 1}});
      else s.Add(0, 0, 0, w, h);
      if (c.secondSection) s.Add(0, 0, 0, 16, 16);
    };
    jb2test::Sections a, b;
    sectionsFor(a);
    sectionsFor(b);
    const std::vector<uint8_t> fromClean = EncodeBytes(&clean, a);
    const std::vector<uint8_t> fromDirty = EncodeBytes(&dirty, b);
    EXPECT_EQ(fromClean, fromDirty);
    if (c.secondSection) {
      for (uint32_t y = 0; y < 40; ++y)
        for (uint32_t x = 0; x < c.width; ++x) ASSERT_EQ(jb2test::GetPixel(&clean, x, y), 0);
    } else {
      EXPECT_EQ(std::memcmp(clean.pData, before.pData, size_t{clean.lStride} * clean.lHeight), 0);
    }
    DestroyBMP(&before);
    DestroyBMP(&dirty);
    DestroyBMP(&clean);
  }
}

}  // namespace
