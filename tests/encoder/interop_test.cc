// Round trips through an independent decoder: every generic option must give
// back exactly the pixels of the page.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/jb2_file_reader.h"
#include "tests/test_util.h"

namespace {

using jb2test::Sections;

bool HaveJbig2dec() { return jb2test::RunCommand("command -v jbig2dec").exitStatus == 0; }

void CopyPage(const BMP* src, BMP* dst) {
  CreateBMP(dst, src->lWidth, src->lHeight, 0);
  std::memcpy(dst->pData, src->pData, static_cast<size_t>(src->lStride) * src->lHeight);
}

struct Option {
  const char* name;
  std::function<void(Sections&, uint32_t w, uint32_t h)> build;
};

void Whole(Sections& s, Sections::Keys keys) { s.Add(keys); }

const Option kOptions[] = {
    {"Template0", [](Sections& s, uint32_t, uint32_t) { Whole(s, {}); }},
    {"Template1", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"template", 1}}); }},
    {"Template2", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"template", 2}}); }},
    {"Template3", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"template", 3}}); }},
    {"MovedAT0",
     [](Sections& s, uint32_t, uint32_t) {
       Whole(s, {{"atx1", -5}, {"aty1", 0}, {"atx2", 4}, {"aty2", -1}, {"atx3", -7}, {"aty3", -3},
                 {"atx4", 7}, {"aty4", -4}});
     }},
    {"MovedAT1", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"template", 1}, {"atx1", -6}, {"aty1", -2}}); }},
    {"MovedAT2", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"template", 2}, {"atx1", 5}, {"aty1", -3}}); }},
    {"MovedAT3", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"template", 3}, {"atx1", -1}, {"aty1", 0}}); }},
    {"Tpgdon0", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"tpdon", 1}}); }},
    {"Tpgdon1", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"tpdon", 1}, {"template", 1}}); }},
    {"Tpgdon2", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"tpdon", 1}, {"template", 2}}); }},
    {"Tpgdon3", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"tpdon", 1}, {"template", 3}}); }},
    {"Mmr", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"mmr", 1}}); }},
    {"StripesWithRemainder", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"stripe", 16}}); }},
    {"MmrStripes", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"stripe", 7}, {"mmr", 1}}); }},
    {"Sequential", [](Sections& s, uint32_t, uint32_t) { Whole(s, {{"sequential", 1}, {"tpdon", 1}}); }},
    {"SeveralSections",
     [](Sections& s, uint32_t w, uint32_t h) {
       int32_t W = static_cast<int32_t>(w), H = static_cast<int32_t>(h);
       s.Add(0, 0, 0, (W + 1) / 2, (H + 1) / 2, {{"template", 1}})
           .Add(0, W / 3, H / 3, W, H, {{"mmr", 1}})
           .Add(0, 0, H / 2, W, H, {{"stripe", 5}, {"template", 2}})
           .Add({{"tpdon", 1}, {"template", 3}});
     }},
    {"SequentialSections",
     [](Sections& s, uint32_t w, uint32_t h) {
       int32_t W = static_cast<int32_t>(w), H = static_cast<int32_t>(h);
       s.Add(0, 0, 0, W, (H + 2) / 3, {{"sequential", 1}, {"atx1", -2}, {"aty1", -2}})
           .Add({{"template", 2}, {"tpdon", 1}});
     }},
};

struct TestPage {
  std::string name;
  BMP bmp{};
};

std::vector<TestPage> MakePages() {
  std::vector<TestPage> pages;
  std::mt19937 rng(2024);
  for (uint32_t w : {1u, 7u, 9u, 17u, 33u, 65u}) {
    TestPage p{"random" + std::to_string(w), {}};
    // Random marks over runs of repeated rows, so typical prediction is used.
    jb2test::MakeRandomBMP(&p.bmp, w, 37, 0.35, rng, /*dirtySpareBits=*/w % 2 == 1);
    for (uint32_t y = 10; y < 20; ++y)
      std::memcpy(p.bmp.pData + y * p.bmp.lStride, p.bmp.pData + 9 * p.bmp.lStride, p.bmp.lStride);
    pages.push_back(p);
  }
  TestPage white{"white", {}}, black{"black", {}};
  CreateBMP(&white.bmp, 50, 30, 0);
  CreateBMP(&black.bmp, 50, 30, 1);
  pages.push_back(white);
  pages.push_back(black);
  TestPage sample{"sample", {}};
  if (LoadBMP(JB2_SOURCE_DIR "/examples/sample.bmp", &sample.bmp) == 0) pages.push_back(sample);
  return pages;
}

// Names the option in test listings.
void PrintTo(const Option& option, std::ostream* os) { *os << option.name; }

class Interop : public ::testing::TestWithParam<Option> {};

TEST_P(Interop, DecodesToTheSourcePixels) {
  if (!HaveJbig2dec()) GTEST_SKIP() << "jbig2dec is not installed";
  std::vector<TestPage> pages = MakePages();
  ASSERT_EQ(pages.size(), 9u) << "examples/sample.bmp did not load";
  std::string dir = jb2test::MakeTempDir();
  for (TestPage& page : pages) {
    SCOPED_TRACE(page.name);
    BMP source;
    CopyPage(&page.bmp, &source);
    Sections sections;
    GetParam().build(sections, page.bmp.lWidth, page.bmp.lHeight);
    std::string jb2 = dir + "/" + page.name + ".jb2", pbm = dir + "/" + page.name + ".pbm";
    testing::internal::CaptureStderr();
    int result = Transcode(&page.bmp, 1, sections.data(), sections.size(), jb2.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(err, "");
    jb2test::CommandResult r = jb2test::RunCommand("jbig2dec -t pbm -o '" + pbm + "' '" + jb2 + "'");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    BMP decoded{};
    if (jb2test::LoadPBM(pbm, &decoded)) {
      EXPECT_TRUE(jb2test::SamePixels(&decoded, &source));
      DestroyBMP(&decoded);
    } else {
      ADD_FAILURE() << "no decoded page: " << r.err;
    }
    DestroyBMP(&source);
    DestroyBMP(&page.bmp);
  }
}

INSTANTIATE_TEST_SUITE_P(Generic, Interop, ::testing::ValuesIn(kOptions),
                         [](const ::testing::TestParamInfo<Option>& info) { return std::string(info.param.name); });

}  // namespace
