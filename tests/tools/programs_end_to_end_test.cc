// Both programs end to end over every encoder mode and the whole corpus. In
// the sanitizer build the children run under AddressSanitizer with leak
// detection, so a leak, an invalid access or undefined behaviour in either
// program shows up here as a report on standard error or an odd exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/tools/tool_runs.h"

namespace {

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;
const std::string kData = JB2_TEST_DATA_DIR;

// One transc command line each (section words after the base name): every
// region type, coding option and file organisation, and sections that
// overlap, leave the page or cover nothing.
const char* const kModes[] = {
    "",
    "gr:mmr",
    "gr:template=1:tpdon",
    "gr:template=2:atx1=-2:aty1=-1",
    "gr:template=3:tpdon:atx1=1",
    "gr:stripe=16",
    "gr:stripe:sequential",
    "gr:sequential:resolution=300:pagepixel=1:pageop=2:opoverride=0",
    "sr",
    "sr:huff",
    "sr:huff:direct",
    "sr:huff:refdict",
    "sr:refdict",
    "sr:allrefdict",
    "sr:soft=0",
    "sr:match=60:dictbonus=5:sizeoffset=2:matchoffset=1",
    "sr:residue=3",
    "sr:invert",
    "sr:transposed:refcorner=2",
    "sr:strip=2:dsoffset=-3",
    "sr:refcorner=1:combop=2:defpixel=1",
    "sr:huff:hufffs=1:huffds=2:huffdt=2:huffrdw=0:huffrdh=0:huffrdx=0:huffrdy=0:huffrsize=1",
    "sr:template=1:rtemplate=1:ratx1=0:raty1=0:tpron",
    "ht",
    "ht:mmr",
    "ht:htpattern=1:template=2:skip",
    "gr:(0,0,64,32) sr",
    "ht:(0,0,64,64) sr:huff:(64,0,127,64) gr",
    "gr:(-5,-5,20,20) gr:(100,40,4000,4000) sr",
    "sr:(0,0,1,1)",
};

// A run failed in a way no input may cause: a signal, or a sanitizer report.
std::string Fault(const jb2test::CommandResult& r) {
  if (r.exitStatus != 0 && r.exitStatus != 1) return "exit status " + std::to_string(r.exitStatus);
  for (const char* report : {"Sanitizer", "runtime error"})
    if (r.err.find(report) != std::string::npos) return r.err;
  return "";
}

TEST(ProgramsEndToEnd, EveryEncoderModeAndItsDecoding) {
  const std::string dir = jb2test::MakeTempDir();
  int n = 0;
  for (const char* mode : kModes) {
    SCOPED_TRACE(mode);
    const std::string base = std::string("m").append(std::to_string(n++));
    std::filesystem::copy_file(kData + "/bmp/pal1.bmp", dir + "/" + base + ".bmp");
    auto enc = jb2test::RunCommand(kTransc + " " + base + jb2tooltest::Quoted(mode), dir);
    EXPECT_EQ(Fault(enc), "");
    EXPECT_EQ(enc.exitStatus, 0) << enc.err;
    auto dec = jb2test::RunCommand(kUntransc + " " + base, dir);
    EXPECT_EQ(Fault(dec), "");
    EXPECT_TRUE(jb2test::FileExists(dir + "/" + base + "_1.bmp")) << dec.err;
    // Generic and text coding are lossless, and every page composes exactly
    // (black default pixel, imposed operators, sections covering part of
    // the page): the decoded page is the source unless halftone coding
    // (lossy) is asked for.
    if (std::string(mode).find("ht") != std::string::npos) continue;
    BMP source{}, decoded{};
    ASSERT_EQ(LoadBMP((dir + "/" + base + ".bmp").c_str(), &source), 0);
    ASSERT_EQ(LoadBMP((dir + "/" + base + "_1.bmp").c_str(), &decoded), 0);
    EXPECT_TRUE(jb2test::SamePixels(&source, &decoded));
    DestroyBMP(&source);
    DestroyBMP(&decoded);
  }
}

TEST(ProgramsEndToEnd, DecoderOverTheCorpus) {
  const std::string dir = jb2test::MakeTempDir();
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(kData + "/corpus"))
    if (e.path().extension() == ".jbig2") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    std::filesystem::copy_file(path, dir + "/f.jb2", std::filesystem::copy_options::overwrite_existing);
    auto r = jb2test::RunCommand(kUntransc + " f", dir);
    EXPECT_EQ(Fault(r), "");
    EXPECT_TRUE(jb2test::FileExists(dir + "/f_1.bmp")) << r.err;
    std::filesystem::remove(dir + "/f_1.bmp");
  }
}

}  // namespace
