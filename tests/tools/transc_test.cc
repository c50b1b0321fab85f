#include <gtest/gtest.h>

#include <string>

#include "common/bitmap.h"
#include "tests/test_util.h"

namespace {

using jb2test::FileExists;
using jb2test::RunCommand;

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kSyntax = "ERROR!   Syntax: transc BMPFILE (with or without .bmp or .pbm) Parameters\n";
const std::string kDefaults = "Warning! No parameters... using default settings\n";

bool IsInstructionsLine(const std::string& s) { return s == "Warning! Run transc --help for instructions\n"; }

// A directory holding page.bmp (a small saved picture) and bad.bmp (compressed).
std::string MakeWorkDir() {
  std::string dir = jb2test::MakeTempDir();
  BMP page;
  CreateBMP(&page, 40, 10, 0);
  page.pData[0] = 0xF0;
  SaveBMP((dir + "/page.bmp").c_str(), &page);
  DestroyBMP(&page);
  jb2test::WriteFileBytes(dir + "/bad.bmp",
                          jb2test::ReadFileBytes(std::string(JB2_TEST_DATA_DIR) + "/bmp/pal1huffmsb.bmp"));
  return dir;
}

TEST(Transc, UsageAndDefaultSettings) {
  jb2test::CommandResult r = RunCommand(kTransc);
  EXPECT_EQ(r.exitStatus, 0);
  ASSERT_EQ(r.err.compare(0, kSyntax.size(), kSyntax), 0) << r.err;
  EXPECT_TRUE(IsInstructionsLine(r.err.substr(kSyntax.size()))) << r.err;
  EXPECT_EQ(r.out, "");

  std::string dir = MakeWorkDir();
  r = RunCommand(kTransc + " page", dir);
  EXPECT_EQ(r.exitStatus, 0);
  ASSERT_EQ(r.err.compare(0, kDefaults.size(), kDefaults), 0) << r.err;
  EXPECT_TRUE(IsInstructionsLine(r.err.substr(kDefaults.size()))) << r.err;
}

TEST(Transc, LoadFailuresExitWithStatusOneAndWriteNothing) {
  std::string dir = MakeWorkDir();
  struct Case {
    std::string args;
    std::string err;       // expected standard error, exactly
    std::string noOutput;  // file that must not appear
  };
  const std::string badReasons = "ERROR!   Invalid .BMP, Compressed Pixel Data Not Supported\n";
  const Case cases[] = {
      {"missing gr", "\nERROR: Could not load file missing.bmp \n", "missing.jb2"},
      {"nothing.bmp sr", "\nERROR: Could not load file nothing.bmp \n", "nothing.jb2"},
      {"bad gr", badReasons + "\nERROR: Could not load file bad.bmp \n", "bad.jb2"},
      {std::string(1020, 'n') + " gr", "ERROR!   Base name too long (at most 1019 characters)\n", ""},
  };
  for (const Case& c : cases) {
    jb2test::CommandResult r = RunCommand(kTransc + " " + c.args, dir);
    EXPECT_EQ(r.exitStatus, 1) << c.args.substr(0, 20);
    EXPECT_EQ(r.err, c.err) << c.args.substr(0, 20);
    if (!c.noOutput.empty()) {
      EXPECT_FALSE(FileExists(dir + "/" + c.noOutput));
    }
  }
  // Without section words the default-settings warnings come first.
  jb2test::CommandResult r = RunCommand(kTransc + " missing", dir);
  EXPECT_EQ(r.exitStatus, 1);
  ASSERT_EQ(r.err.compare(0, kDefaults.size(), kDefaults), 0) << r.err;
  const std::string load = "\nERROR: Could not load file missing.bmp \n";
  ASSERT_GT(r.err.size(), load.size());
  EXPECT_EQ(r.err.substr(r.err.size() - load.size()), load);
  EXPECT_TRUE(IsInstructionsLine(r.err.substr(kDefaults.size(), r.err.size() - kDefaults.size() - load.size())));
}

TEST(Transc, ParameterErrorsDoNotStopEncoding) {
  std::string dir = MakeWorkDir();
  jb2test::CommandResult r = RunCommand(kTransc + " page 'gr:template=' gr", dir);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err,
            "ERROR!   Input Parameter; Bad Syntax with equal sign\n"
            "Warning! Input Parameters: Only Last Section Should Have No Co-Ordinates\n");
  // A base name of 1019 characters still fits with its extension.
  r = RunCommand(kTransc + " " + std::string(1019, 'n') + " gr", dir);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err.find("Base name too long"), std::string::npos);
  EXPECT_NE(r.err.find("Could not load file"), std::string::npos);
}

}  // namespace
