// Help, version and the first messages a new user sees, for both programs;
// the README's usage section lists what --help lists; every file names the
// codec that wrote it, as --version does.
#include <gtest/gtest.h>

#include <cstdlib>
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

// The help text lists every keyword of the table, grouped by the kind of
// section that reads it, with its range and default; the README shows the
// same lists. JB2_WRITE_README=1 rewrites the README's copy.
TEST(HelpAndVersion, HelpAndReadmeListEveryKeyword) {
  const std::string help = jb2test::RunCommand(jb2tooltest::kTransc + " --help").out;
  const size_t first = help.find("Page and file keywords"), after = help.find("\nA keyword that nothing reads");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(after, std::string::npos);
  const std::string lists = "```text\n" + help.substr(first, after - first) + "```\n";
  for (const char* group : {"Page and file keywords", "Generic sections", "Text sections", "Halftone sections"})
    EXPECT_TRUE(Contains(lists, group)) << group;
  long count = 0;
  const PARAMETER_KEYWORD* keywords = GetParameterKeywords(&count);
  for (long i = 0; i < count; ++i) EXPECT_TRUE(Contains(lists, "\n  " + std::string(keywords[i].pszName) + " "));
  for (const char* syntax : {"(x0,y0,x1,y1)", "name=value", "gr | sr | ht"}) EXPECT_TRUE(Contains(help, syntax));

  const std::string path = std::string(JB2_SOURCE_DIR) + "/README.md";
  std::string readme = ReadText(path);
  const std::string begin = "<!-- keywords: begin -->\n", end = "<!-- keywords: end -->";
  const size_t from = readme.find(begin), to = readme.find(end);
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  const std::string shown = readme.substr(from + begin.size(), to - from - begin.size());
  const char* write = std::getenv("JB2_WRITE_README");
  if (write && std::string(write) == "1" && shown != lists) {
    readme.replace(from + begin.size(), shown.size(), lists);
    std::ofstream(path, std::ios::binary) << readme;
    return;
  }
  EXPECT_EQ(shown, lists) << "run the test with JB2_WRITE_README=1 to update README.md";
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
