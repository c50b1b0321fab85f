// transc's options: an unknown one is refused rather than taken for a
// section word, options may stand anywhere, and every output warns about the
// modes common readers mis-read.
#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"
#include "tests/tools/tool_runs.h"

namespace {

using jb2test::FileExists;
using jb2test::RunCommand;
using jb2tooltest::Contains;
using jb2tooltest::kTransc;

std::string PageDir() {
  const std::string dir = jb2test::MakeTempDir();
  BMP page;
  CreateBMP(&page, 16, 4, 0);
  page.pData[0] = 0xF0;
  SaveBMP((dir + "/page.bmp").c_str(), &page);
  SaveBMP((dir + "/-p.bmp").c_str(), &page);
  DestroyBMP(&page);
  return dir;
}

TEST(TranscOptions, UnknownOptionsAreRefusedWithTheUsage) {
  const std::string dir = PageDir();
  struct Case {
    const char* args;
    const char* reason;
  } cases[] = {
      {"page --pfd", "Unknown Option --pfd"},
      {"page -t 0.8 sr", "Unknown Option -t"},
      {"page sr -o", "Option -o Needs a Value"},
      {"--threads two page sr", "Option --threads Needs a Number, not two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunCommand("'" + kTransc + "' " + c.args, dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err.rfind("ERROR!   " + std::string(c.reason) + "\nUsage: transc ", 0), 0u) << r.err;
    EXPECT_FALSE(FileExists(dir + "/page.jb2"));
  }
}

// Options before the image, "--" before an image named with a '-', and
// negative values inside section words.
TEST(TranscOptions, OptionsStandAnywhere) {
  const std::string dir = PageDir();
  auto r = RunCommand("'" + kTransc + "' -o out page.bmp sr && '" + kTransc + "' -- -p gr:atx1=-2", dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(FileExists(dir + "/out.jb2"));
  EXPECT_TRUE(FileExists(dir + "/-p.jb2"));
}

TEST(TranscOptions, EveryOutputWarnsAboutModesCommonReadersMisread) {
  const std::string dir = PageDir();
  for (const char* output : {"", "-o x", "--pdf", "--embedded", "-- -p.bmp"}) {
    SCOPED_TRACE(output);
    const auto r = RunCommand("'" + kTransc + "' page sr:huff " + output, dir);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "Warning! Common Readers Mis-read ")) << r.err;
  }
}

}  // namespace
