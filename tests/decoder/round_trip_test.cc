// Pages coded by our encoder decode back to the same pixels, in every
// generic coding option and both file organisations.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

TEST(RoundTrip, GenericSectionsDecodeToTheirPage) {
  const char* words[] = {"gr",         "gr/template=1/tpdon", "gr/template=2/sequential", "gr/template=3/tpdon",
                         "gr/mmr",     "gr/stripe=37",        "gr/stripe=16/tpdon/sequential",
                         "gr/mmr/stripe=50"};
  std::string dir = jb2test::MakeTempDir();
  std::mt19937 rng(21);
  BMP page{};
  jb2test::MakeRandomBMP(&page, 203, 150, 0.1, rng);
  for (const char* word : words) {
    SCOPED_TRACE(word);
    std::vector<char> text(word, word + std::strlen(word) + 1);
    char* argv[] = {text.data()};
    PARAMETER section{};
    ParameterAnalysis(1, argv, &section);
    std::string name = dir + "/page.jb2";
    testing::internal::CaptureStderr();
    int status = Transcode(&page, 1, &section, 1, name.c_str());
    testing::internal::GetCapturedStderr();
    FreeParameters(1, &section);
    ASSERT_EQ(status, 0);
    jb2test::ParsedFile pf(jb2test::ReadFileBytes(name));
    ASSERT_EQ(pf.status(), 0);
    testing::internal::CaptureStderr();
    pf.Decode();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(pf.file().nPages, 1u);
    EXPECT_TRUE(jb2test::SamePixels(&pf.file().pPages[0].Bitmap, &page));
  }
  DestroyBMP(&page);
}

}  // namespace
