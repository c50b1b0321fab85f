// Help, version and the first messages a new user sees, for both programs;
// the README's usage section lists what --help lists; every file names the
// codec that wrote it, as --version does.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "encoder/transclib.h"
#include "tests/tools/tool_runs.h"

namespace {

using jb2tooltest::Contains;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(HelpAndVersion, OnStandardOutputWithStatusZero) {
  const std::string dir = jb2test::MakeTempDir();
  for (const std::string& program : {jb2tooltest::kTransc, jb2tooltest::kUntransc}) {
    for (const char* option : {"--help", "-h"}) {
      const jb2test::CommandResult r = jb2test::RunCommand(program + " " + option, dir);
      EXPECT_EQ(r.exitStatus, 0) << option;
      EXPECT_EQ(r.err, "") << option;
      EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
    }
    for (const char* option : {"--version", "-V"}) {
      const jb2test::CommandResult r = jb2test::RunCommand(program + " " + option, dir);
      EXPECT_EQ(r.exitStatus, 0);
      EXPECT_TRUE(r.out == "transc (jbig2codec) 1.0.0\n" || r.out == "untransc (jbig2codec) 1.0.0\n") << r.out;
    }
  }
  // Nothing is looked for under the option's name.
  EXPECT_EQ(jb2test::RunCommand(jb2tooltest::kTransc + " --help", dir).err, "");
}

// The help text and the README's transc section list every keyword, grouped
// the same way, with its range and default.
TEST(HelpAndVersion, HelpAndReadmeListEveryKeyword) {
  const std::string help = jb2test::RunCommand(jb2tooltest::kTransc + " --help").out;
  const std::string readme = ReadText(std::string(JB2_SOURCE_DIR) + "/README.md");
  const size_t start = readme.find("## transc"), end = readme.find("## untransc");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  const std::string usage = readme.substr(start, end - start);
  for (const char* group : {"Page and file keywords", "Generic sections", "Text sections", "Halftone sections"}) {
    EXPECT_TRUE(Contains(help, group)) << group;
    EXPECT_TRUE(Contains(usage, group)) << group;
  }
  long count = 0;
  const PARAMETER_KEYWORD* keywords = GetParameterKeywords(&count);
  for (long i = 0; i < count; ++i) {
    const std::string name = keywords[i].pszName;
    EXPECT_TRUE(Contains(help, "\n  " + name + " ")) << name;
    EXPECT_TRUE(Contains(usage, "`" + name + "`")) << name;
  }
  for (const char* syntax : {"(x0,y0,x1,y1)", "name=value", "gr | sr | ht"}) EXPECT_TRUE(Contains(help, syntax));
  EXPECT_TRUE(Contains(usage, "pixels per metre"));
}

TEST(HelpAndVersion, FirstMessagesPointToHelpAndNoPlaceholderAddress) {
  const std::string dir = jb2test::MakeTempDir();
  BMP page;
  CreateBMP(&page, 16, 4, 0);
  SaveBMP((dir + "/page.bmp").c_str(), &page);
  DestroyBMP(&page);
  const jb2test::CommandResult bare = jb2test::RunCommand(jb2tooltest::kTransc, dir);
  const jb2test::CommandResult defaults = jb2test::RunCommand(jb2tooltest::kTransc + " page", dir);
  EXPECT_EQ(defaults.exitStatus, 0);
  EXPECT_EQ(defaults.err,
            "Warning! No parameters... using default settings\n"
            "Warning! Run transc --help for instructions\n");
  for (const std::string& err : {bare.err, defaults.err, jb2test::RunCommand(jb2tooltest::kUntransc, dir).err}) {
    EXPECT_FALSE(Contains(err, "http")) << err;
    EXPECT_FALSE(Contains(err, "example")) << err;
    EXPECT_FALSE(Contains(err, "paramaters")) << err;
  }
  // The file names this codec and the version --version prints.
  const std::vector<uint8_t> bytes = jb2test::ReadFileBytes(dir + "/page.jb2");
  const std::string file(bytes.begin(), bytes.end());
  EXPECT_TRUE(Contains(file, std::string("Source\0jbig2codec\0Version\0" "1.0.0\0", 32))) << file.size();
}

}  // namespace
