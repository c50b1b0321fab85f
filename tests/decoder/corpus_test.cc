// Files written by another encoder decode to the references their authors
// shipped. Files with segment types that are not decoded yet are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

const std::string kCorpus = std::string(JB2_TEST_DATA_DIR) + "/corpus";

// Every segment type of T.88: dictionaries, text, halftone, generic and
// refinement regions, tables, page information, end of page, stripe and
// file, profiles and extensions.
const std::set<uint32_t> kDecodedTypes = {0, 4, 6, 7, 16, 20, 22, 23, 36, 38, 39, 40, 42, 43,
                                          48, 49, 50, 51, 52, 53, 62};

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kCorpus))
    if (entry.path().extension() == ".jbig2")
      names.push_back(std::filesystem::relative(entry.path(), kCorpus).string());
  std::sort(names.begin(), names.end());
  return names;
}

// The reference pages of a file: the feature files all show the same page.
std::vector<std::string> ReferencePages(const std::string& name) {
  if (name.rfind("annex-h/", 0) == 0)
    return {kCorpus + "/annex-h/annex-h.page1.pbm", kCorpus + "/annex-h/annex-h.page2.pbm",
            kCorpus + "/annex-h/annex-h.page3.pbm"};
  return {kCorpus + "/reference-bitmap.bmp"};
}

bool LoadReference(const std::string& path, BMP* bmp) {
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".pbm") == 0) return jb2test::LoadPBM(path, bmp);
  return LoadBMP(path.c_str(), bmp) == 0;
}

class Corpus : public testing::TestWithParam<std::string> {};

TEST_P(Corpus, DecodesToReference) {
  jb2test::ParsedFile pf(jb2test::ReadFileBytes(kCorpus + "/" + GetParam()));
  ASSERT_EQ(pf.status(), 0);
  for (uint32_t i = 0; i < pf.file().nSegments; ++i)
    if (!kDecodedTypes.count(pf.seg(i).lType))
      GTEST_SKIP() << "segment type " << pf.seg(i).lType << " is not decoded yet";

  testing::internal::CaptureStderr();
  pf.Decode();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("ERROR!"), std::string::npos) << err;

  std::vector<std::string> refs = ReferencePages(GetParam());
  ASSERT_EQ(pf.file().nPages, refs.size());
  for (uint32_t p = 0; p < pf.file().nPages; ++p) {
    BMP ref{};
    ASSERT_TRUE(LoadReference(refs[p], &ref)) << refs[p];
    EXPECT_TRUE(jb2test::SamePixels(&pf.file().pPages[p].Bitmap, &ref)) << "page " << p + 1;
    DestroyBMP(&ref);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, testing::ValuesIn(CorpusFiles()), [](const auto& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace
