// What transc says about an input it cannot load, and about an output it
// cannot write: each cause once, named for what it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_util.h"
#include "tests/tools/tool_runs.h"

namespace {

using jb2test::RunCommand;
using jb2tooltest::kTransc;

void WriteText(const std::string& path, const std::string& text) {
  jb2test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(PageFileMessages, EachInputFaultIsSaidOnceForWhatItIs) {
  const std::string dir = jb2test::MakeTempDir();
  WriteText(dir + "/empty.pbm", "");
  std::filesystem::create_directory(dir + "/folder.pbm");
  WriteText(dir + "/png.pbm", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16));
  WriteText(dir + "/digit.pbm", "P1 3 2 010 0x1");
  const std::string load = "\nERROR: Could not load file ";
  struct Case {
    const char* name;
    std::string err;
  } cases[] = {
      {"empty.pbm", "ERROR!   Unexpected EOF in input file\n"},
      // Images of other kinds are read whatever their name: the reader says what stopped it.
      {"folder.pbm", "ERROR!   Cannot read folder.pbm: Is a directory\n"},
      {"png.pbm", "ERROR!   Cannot read png.pbm: a PNG file: cut short\n"},
      {"digit.pbm", "ERROR!   Invalid .PBM, Character 'x' at Row 2, Column 2: a P1 Pixel Is 0 or 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunCommand("'" + kTransc + "' " + c.name + " gr", dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, c.err + load + c.name + " \n");
  }
}

TEST(PageFileMessages, AnOutputThatCannotBeWrittenSaysWhy) {
  const std::string dir = jb2test::MakeTempDir();
  WriteText(dir + "/page.pbm", "P1 1 1 1");
  for (const char* output : {"--pdf", "--embedded", ""}) {
    SCOPED_TRACE(output);
    const auto r = RunCommand("'" + kTransc + "' -o none/x page gr " + output, dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(jb2tooltest::Contains(r.err, "(No such file or directory)\n")) << r.err;
  }
}

}  // namespace
