// The decoder program: arguments, messages, exit statuses and output files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::RunCommand;

const std::string kUntransc = JB2_UNTRANSC_PATH;

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

jb2test::TestSegment Seg(uint32_t number, uint32_t type, uint32_t page, std::vector<uint8_t> data = {}) {
  jb2test::TestSegment s;
  s.number = number;
  s.type = type;
  s.page = page;
  s.data = std::move(data);
  return s;
}

TEST(Untransc, ArgumentsAndInputFailures) {
  std::string dir = jb2test::MakeTempDir();
  jb2test::WriteFileBytes(dir + "/empty.jb2", {});
  jb2test::WriteFileBytes(dir + "/bad.jb2", {0x97, 0x4A, 0x42, 0x32, 0x0E, 0x0A, 0x1A, 0x0A, 0});
  struct Case {
    std::string args;
    int status;
    std::string errStart;
    std::string errEnd;
  } cases[] = {
      {"", 0, "ERROR!   Syntax: untransc FILENAME (with or without .jb2 or .jbig2)\n", ""},
      {"missing", 1, "Could not load missing.jb2\n", ""},
      {"bad", 1, "ERROR!   Invalid File Header\n", "ERROR!   Invalid .JB2 File\n"},
      {"empty", 1, "ERROR!   Data Ends Early\nERROR!   Invalid File Header\n", "ERROR!   Invalid .JB2 File\n"},
      {std::string(1100, 'a'), 1, "ERROR!   File Name too Long\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.substr(0, 20));
    auto r = RunCommand(kUntransc + " " + c.args, dir);
    EXPECT_EQ(r.exitStatus, c.status);
    EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
    EXPECT_TRUE(r.err.size() >= c.errEnd.size() && r.err.compare(r.err.size() - c.errEnd.size(), c.errEnd.size(), c.errEnd) == 0) << r.err;
  }
  EXPECT_EQ(DirectoryNames(dir), (std::vector<std::string>{"bad.jb2", "empty.jb2"}));
}

TEST(Untransc, WritesEveryPageUnderItsNumber) {
  std::string dir = jb2test::MakeTempDir();
  std::filesystem::create_directory(dir + "/sub");
  // Pages 3, 0 and a page too large to decode, then a file without pages.
  auto bytes = jb2test::FileBytes({Seg(0, 48, 3, jb2test::PageInfoData(9, 2, 0x04)),
                                   Seg(1, 48, 0, jb2test::PageInfoData(1, 1, 0)),
                                   Seg(2, 48, 4, jb2test::PageInfoData(0x10000, 0x10001, 0)), Seg(3, 51, 0)},
                                  true);
  jb2test::WriteFileBytes(dir + "/sub/doc.jb2", bytes);
  jb2test::WriteFileBytes(dir + "/none.jb2", jb2test::FileBytes({Seg(0, 51, 0)}, true));

  auto r = RunCommand(kUntransc + " sub/doc", dir);
  EXPECT_EQ(r.exitStatus, 1);  // one page could not be written
  EXPECT_EQ(r.err, "Warning! Cannot have a Page #0\nERROR!   Page Too Large: Not Decoded\n");
  EXPECT_EQ(DirectoryNames(dir + "/sub"), (std::vector<std::string>{"doc.jb2", "doc_0.bmp", "doc_3.bmp"}));
  BMP page{};
  ASSERT_EQ(LoadBMP((dir + "/sub/doc_3.bmp").c_str(), &page), 0);
  EXPECT_EQ(page.lWidth, 9u);
  EXPECT_EQ(page.lHeight, 2u);
  EXPECT_EQ(AreaBMP(&page), 18u);  // default pixel 1
  DestroyBMP(&page);

  // A file without pages is not decoded to anything: a distinct status.
  r = RunCommand(kUntransc + " none", dir);
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err, "ERROR!   No Page in the File\n");
  EXPECT_FALSE(jb2test::FileExists(dir + "/none_1.bmp"));
}

TEST(Untransc, DecodesACorpusFile) {
  std::string dir = jb2test::MakeTempDir();
  std::filesystem::copy_file(std::string(JB2_TEST_DATA_DIR) + "/corpus/bitmap.jbig2", dir + "/page.jb2");
  auto r = RunCommand(kUntransc + " page", dir);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  BMP out{}, ref{};
  ASSERT_EQ(LoadBMP((dir + "/page_1.bmp").c_str(), &out), 0);
  ASSERT_EQ(LoadBMP((std::string(JB2_TEST_DATA_DIR) + "/corpus/reference-bitmap.bmp").c_str(), &ref), 0);
  EXPECT_TRUE(jb2test::SamePixels(&out, &ref));
  DestroyBMP(&out);
  DestroyBMP(&ref);
}

// A damaged file: pages are still written, but the exit status says the
// file was damaged (2), and each message is given once, saying which
// segment of which page it is about (numbers of 2^31 and above unsigned).
TEST(Untransc, DamagedFilesExitTwoWithOneMessagePerCause) {
  std::string dir = jb2test::MakeTempDir();
  // A generic region whose data stops inside its region information.
  auto bytes = jb2test::FileBytes({Seg(0, 48, 1, jb2test::PageInfoData(8, 2, 0)),
                                      Seg(3000000000u, 38, 1, {0x00, 0x00, 0x00, 0x08, 0x00}), Seg(3000000001u, 49, 1)},
                                     true);
  jb2test::WriteFileBytes(dir + "/cut.jb2", bytes);
  auto r = RunCommand(kUntransc + " cut", dir);
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err, "ERROR!   Data Ends Early [segment 3000000000, page 1]\n");
  EXPECT_TRUE(jb2test::FileExists(dir + "/cut_1.bmp"));

  // Half of a valid file: its page is written as far as it goes.
  const auto whole = jb2test::ReadFileBytes(std::string(JB2_TEST_DATA_DIR) + "/corpus/bitmap.jbig2");
  jb2test::WriteFileBytes(dir + "/half.jb2", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
  r = RunCommand(kUntransc + " half", dir);
  EXPECT_EQ(r.exitStatus, 2) << r.err;
  EXPECT_TRUE(jb2test::FileExists(dir + "/half_1.bmp"));

  // The whole file, twice (the second run replacing the page): clean runs
  // stay 0.
  jb2test::WriteFileBytes(dir + "/whole.jb2", whole);
  for (const char* force : {"", " -f"}) {
    r = RunCommand(kUntransc + force + " whole", dir);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
