// Where untransc writes: existing page files are kept unless -f, -o names
// the output, every file named is decoded, --globals takes the stream named
// whatever its extension, and unknown options are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/toolkit/jb2_writer.h"
#include "tests/tools/tool_runs.h"

namespace {

using jb2test::FileExists;
using jb2test::RunCommand;
using jb2test::Seg;
using jb2tooltest::Contains;
using jb2tooltest::kUntransc;

// The smallest page: an 8 x 2 page information segment and its end.
const std::vector<jb2test::TestSegment> kPage = {Seg(0, 48, jb2test::PageInfoData(8, 2, 0)), Seg(1, 49, {})};

void WritePage(const std::string& path) { jb2test::WriteFileBytes(path, jb2test::FileBytes(kPage, true)); }

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    names.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(UntranscOutputs, AnExistingPageFileIsKeptUnlessForced) {
  const std::string dir = jb2test::MakeTempDir();
  WritePage(dir + "/doc.jb2");
  jb2test::WriteFileBytes(dir + "/doc_1.bmp", {'m', 'i', 'n', 'e'});
  auto r = RunCommand("'" + kUntransc + "' doc", dir);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "ERROR!   Kept the Existing File doc_1.bmp: Page 1 Not Written (-f Replaces It, -o Writes Elsewhere)\n");
  EXPECT_EQ(jb2test::ReadFileBytes(dir + "/doc_1.bmp"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));

  // -o: a base name, or a folder (made when named with a final '/').
  r = RunCommand("'" + kUntransc + "' -o back doc && '" + kUntransc + "' doc.jb2 -o out/", dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(Files(dir), (std::vector<std::string>{"back_1.bmp", "doc.jb2", "doc_1.bmp", "out", "out/doc_1.bmp"}));

  r = RunCommand("'" + kUntransc + "' -f doc", dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(jb2test::ReadFileBytes(dir + "/doc_1.bmp"), jb2test::ReadFileBytes(dir + "/back_1.bmp"));
}

// Every file named is decoded; the status is the worst of theirs, and each
// decoder line names its file.
TEST(UntranscOutputs, EveryFileNamedIsDecoded) {
  const std::string dir = jb2test::MakeTempDir();
  WritePage(dir + "/a.jb2");
  auto cut = jb2test::FileBytes(kPage, true);
  cut.resize(cut.size() - 4);
  jb2test::WriteFileBytes(dir + "/b.jb2", cut);
  auto r = RunCommand("'" + kUntransc + "' a b.jb2 --pbm", dir);
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err.rfind("b.jb2: ERROR!   ", 0), 0u) << r.err;
  EXPECT_TRUE(FileExists(dir + "/a_1.pbm"));
  EXPECT_TRUE(FileExists(dir + "/b_1.pbm"));

  r = RunCommand("'" + kUntransc + "' -o x a b", dir);  // one base name cannot take both
  EXPECT_EQ(r.exitStatus, 1);
  std::filesystem::create_directory(dir + "/folder.jb2");
  r = RunCommand("'" + kUntransc + "' missing folder b a -o sub/", dir);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(Contains(r.err, "Could not load missing.jb2\nCould not read folder.jb2 (Is a directory)\n")) << r.err;
  EXPECT_TRUE(FileExists(dir + "/sub/a_1.bmp"));
  EXPECT_TRUE(FileExists(dir + "/sub/b_1.bmp"));
}

// With --globals, the stream is the file named, as other tools name it.
TEST(UntranscOutputs, GlobalsTakeTheStreamNamedWhateverItsExtension) {
  const std::string dir = jb2test::MakeTempDir();
  std::vector<uint8_t> stream;
  for (const auto& s : kPage) {
    const auto h = jb2test::SegmentHeaderBytes(s);
    stream.insert(stream.end(), h.begin(), h.end());
    stream.insert(stream.end(), s.data.begin(), s.data.end());
  }
  jb2test::WriteFileBytes(dir + "/out.0000", stream);
  jb2test::WriteFileBytes(dir + "/out.sym", {});
  const auto r = RunCommand("'" + kUntransc + "' --globals out.sym out.0000", dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(FileExists(dir + "/out.0000_1.bmp"));
}

TEST(UntranscOutputs, UnknownOptionsAreRefusedWithTheUsage) {
  const std::string dir = jb2test::MakeTempDir();
  WritePage(dir + "/doc.jb2");
  for (const char* args : {"--pdm doc", "doc -x", "doc -o", "-f"}) {
    SCOPED_TRACE(args);
    const auto r = RunCommand("'" + kUntransc + "' " + args, dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(Contains(r.err, "\nUsage: untransc ")) << r.err;
    EXPECT_EQ(Files(dir), std::vector<std::string>{"doc.jb2"});
  }
}

}  // namespace
