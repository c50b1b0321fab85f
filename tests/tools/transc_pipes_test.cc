// transc in a pipe: "-" reads the image from standard input, recognised
// from its bytes, and -o - writes the file to standard output; either gives
// the bytes the files give, and messages stay on standard error.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using jb2test::RunCommand;

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;

// dir/p.bmp (1-bit, read by the library's loader), and from it
// dir/p_1.png and the two-page TIFF file dir/pp.tif (read by leptonica).
void MakeImages(const std::string& dir) {
  std::mt19937 rng(4);
  BMP page{};
  jb2test::MakeRandomBMP(&page, 203, 97, 0.2, rng);
  page.lXResolution = page.lYResolution = 3000;  // 76.2 dpi: no whole number of dots per inch
  SaveBMP((dir + "/p.bmp").c_str(), &page);
  DestroyBMP(&page);
  const auto r = RunCommand(kTransc + " -q -o pp p.bmp p.bmp && " + kTransc + " -q -o p p.bmp && " + kUntransc +
                                " --png p && " + kUntransc + " --tiff pp",
                            dir);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
}

std::string Bytes(const std::string& path) {
  const std::vector<uint8_t> b = jb2test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(TranscPipes, StandardInputCodesAsTheFileDoes) {
  const std::string dir = jb2test::MakeTempDir();
  MakeImages(dir);
  for (const char* image : {"p.bmp", "p_1.png", "pp.tif"}) {
    SCOPED_TRACE(image);
    const std::string file = std::string(image) + " sr";
    auto r = RunCommand(kTransc + " -o from_file " + file + " && " + kTransc + " -o from_pipe - sr < " + image, dir);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(Bytes(dir + "/from_file.jb2").empty());
    EXPECT_EQ(Bytes(dir + "/from_pipe.jb2"), Bytes(dir + "/from_file.jb2"));
  }
  EXPECT_EQ(RunCommand(kUntransc + " from_pipe", dir).exitStatus, 0);
  EXPECT_TRUE(jb2test::FileExists(dir + "/from_pipe_2.bmp"));  // both pages of the TIFF file
}

TEST(TranscPipes, StandardOutputGetsTheFileAndNothingElse) {
  const std::string dir = jb2test::MakeTempDir();
  MakeImages(dir);
  // A section word that draws a warning: it goes to standard error.
  for (const std::string options : {"", "--pdf "}) {
    SCOPED_TRACE(options);
    auto r = RunCommand(kTransc + " " + options + "-o file p.bmp sr:unknownword", dir);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    r = RunCommand(kTransc + " " + options + "-o - p.bmp sr:unknownword", dir);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err, "");
    EXPECT_EQ(r.out, Bytes(dir + (options.empty() ? "/file.jb2" : "/file.pdf")));
  }
  // Both ends at once.
  const auto both = RunCommand(kTransc + " -q -o - - < p.bmp", dir);
  EXPECT_EQ(both.exitStatus, 0) << both.err;
  EXPECT_EQ(both.out, Bytes(dir + "/p.jb2"));
  EXPECT_FALSE(jb2test::FileExists(dir + "/-.jb2"));
}

// Standard input names no output, and -o - takes one file: refused before
// anything is read or written.
TEST(TranscPipes, RefusedWithoutAnOutputName) {
  const std::string dir = jb2test::MakeTempDir();
  MakeImages(dir);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"- sr < p.bmp", "-o BASE Names the Output"},
      {"-o x - - sr < p.bmp", "Standard Input (-) Named Twice"},
      {"--embedded -o - p.bmp sr", "--embedded Writes Several Files"},
  };
  for (const auto& [args, message] : cases) {
    const auto r = RunCommand(kTransc + " " + args, dir);
    EXPECT_EQ(r.exitStatus, 1) << args;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << args;
  }
  EXPECT_EQ(RunCommand("ls", dir).out, "p.bmp\np.jb2\np_1.png\npp.jb2\npp.tif\n");
}

}  // namespace
