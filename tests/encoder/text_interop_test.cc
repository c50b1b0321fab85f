// Text sections read back by an independent decoder: every mode must give
// back exactly the pixels of the page.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/jb2_file_reader.h"
#include "tests/encoder/text_modes.h"
#include "tests/encoder/text_pages.h"
#include "tests/test_util.h"

namespace {

using jb2test::Sections;
using jb2test::TextMode;
using jb2test::kModes;


class TextInterop : public ::testing::TestWithParam<TextMode> {};

TEST_P(TextInterop, Jbig2decReadsThePagePixels) {
  if (jb2test::RunCommand("command -v jbig2dec").exitStatus != 0) GTEST_SKIP() << "jbig2dec is not installed";
  if (GetParam().peerMisreads) GTEST_SKIP() << "jbig2dec 0.19 mis-reads this conformant mode";
  jb2test::ForEachEncodedPage(GetParam(), true, [](const std::string& jb2, const BMP& source) {
    const std::string pbm = jb2 + ".pbm";
    jb2test::CommandResult r = jb2test::RunCommand("jbig2dec -t pbm -o '" + pbm + "' '" + jb2 + "'");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    BMP decoded{};
    if (jb2test::LoadPBM(pbm, &decoded)) {
      EXPECT_TRUE(jb2test::SamePixels(&decoded, &source));
      DestroyBMP(&decoded);
    } else {
      ADD_FAILURE() << "no decoded page: " << r.err;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Text, TextInterop, ::testing::ValuesIn(kModes), jb2test::ModeName);

}  // namespace
