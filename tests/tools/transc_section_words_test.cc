// Whatever the section words, a file transc writes decodes to exactly the
// source page (halftone sections and sr:lossy aside), or transc refuses
// the words with status 1 and writes nothing. Words are drawn at random, with
// a fixed seed, over every keyword with values at and beyond their ranges.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/text_pages.h"
#include "tests/test_util.h"

namespace {

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;

int32_t ExtremeValue(const PARAMETER_KEYWORD& k, std::mt19937& rng) {
  const int64_t choices[] = {k.lMin, k.lMax, k.lDefault, int64_t{k.lMin} - 1, int64_t{k.lMax} + 1, 0, 1, -1,
                             200,    -200,   INT32_MIN,  INT32_MAX,          static_cast<int64_t>(rng() % 5)};
  const int64_t v = choices[rng() % (sizeof choices / sizeof choices[0])];
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// *lossy is set when the word codes lossily (a halftone, or lossy text).
std::string RandomWord(std::mt19937& rng, uint32_t width, uint32_t height, bool* lossy) {
  static const char* const kTypes[] = {"gr", "sr", "sr", "ht"};
  const std::string type = kTypes[rng() % 4];
  *lossy = *lossy || type == "ht";
  std::string word = type;
  long count = 0;
  const PARAMETER_KEYWORD* keywords = GetParameterKeywords(&count);
  const int nKeys = static_cast<int>(rng() % 6);
  for (int i = 0; i < nKeys; ++i) {
    const PARAMETER_KEYWORD& k = keywords[rng() % count];
    word.append(":").append(k.pszName);
    int32_t value = 1;
    if (rng() % 4) word.append("=").append(std::to_string(value = ExtremeValue(k, rng)));
    *lossy = *lossy || (type == "sr" && std::string(k.pszName) == "lossy" && value != 0);
  }
  if (rng() % 2) {
    auto coordinate = [&](uint32_t size) { return static_cast<int>(rng() % (size + 40)) - 20; };
    word += ":(" + std::to_string(coordinate(width)) + "," + std::to_string(coordinate(height)) + "," +
            std::to_string(coordinate(width)) + "," + std::to_string(coordinate(height)) + ")";
  }
  return word;
}

TEST(TranscSectionWords, EveryWrittenFileDecodesToTheSourcePage) {
  const std::string dir = jb2test::MakeTempDir();
  jb2test::TextPage page = jb2test::RepeatedGlyphsPage(true, 4);
  SaveBMP((dir + "/page.bmp").c_str(), &page.bmp);
  std::mt19937 rng(2024);
  int written = 0, refused = 0;
  for (int run = 0; run < 150; ++run) {
    bool lossy = false;
    std::string words;
    const int nWords = 1 + static_cast<int>(rng() % 3);
    for (int w = 0; w < nWords; ++w) words += " '" + RandomWord(rng, page.bmp.lWidth, page.bmp.lHeight, &lossy) + "'";
    SCOPED_TRACE(words);
    std::filesystem::remove(dir + "/page.jb2");
    std::filesystem::remove(dir + "/page_1.bmp");
    const jb2test::CommandResult enc = jb2test::RunCommand(kTransc + " page" + words, dir);
    ASSERT_TRUE(enc.exitStatus == 0 || enc.exitStatus == 1) << enc.err;
    if (enc.exitStatus == 1) {
      ++refused;
      EXPECT_FALSE(jb2test::FileExists(dir + "/page.jb2"));
      EXPECT_NE(enc.err.find("Not Allowed"), std::string::npos) << enc.err;
      continue;
    }
    ++written;
    const jb2test::CommandResult dec = jb2test::RunCommand(kUntransc + " page", dir);
    ASSERT_EQ(dec.exitStatus, 0) << dec.err;
    EXPECT_EQ(dec.err.find("ERROR!"), std::string::npos) << dec.err;
    if (lossy) continue;
    BMP decoded{};
    ASSERT_EQ(LoadBMP((dir + "/page_1.bmp").c_str(), &decoded), 0);
    EXPECT_TRUE(jb2test::SamePixels(&decoded, &page.bmp)) << enc.err;
    DestroyBMP(&decoded);
  }
  EXPECT_GT(written, 100);
  EXPECT_GT(refused, 0);
  DestroyBMP(&page.bmp);
}

}  // namespace
