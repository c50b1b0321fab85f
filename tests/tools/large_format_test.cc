// Large-format pages: an A0 drawing at 600 dpi and the largest page the
// decoder accepts (65536 x 65536, exactly kMaxBitmapPixels stored pixels),
// mostly white with a few marks, the last of them in the far corner. Each is
// coded by Transcode and must come back exactly from untransc, within the
// page's bitmap, the input file and the overhead the README states, and from
// jbig2dec. A page one row taller is refused with the documented message.
// The sanitizer build runs only the refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/limits.h"
#include "encoder/transclib.h"
#include "tests/encoder/text_pages.h"
#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"
#include "tests/toolkit/sections.h"
#include "tests/tools/tool_runs.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The README: decoding peaks within 1.4 MiB of the page bitmap and the
// process itself, plus the input file. The process (libraries, stack, the
// output file's buffer) is given 4 MiB here.
constexpr long kOverheadKiB = 1434 + 4096;

struct LargePage {
  const char* name;
  uint32_t width, height;
  jb2test::Sections::Keys keys;
};

// A few marks: a line of text at the top left, a box in the middle and a
// dot in the bottom right corner, which a decoder that stops early misses.
void DrawMarks(BMP* page) {
  jb2test::DrawTextLines(page, 32, 96, 24, 5);
  for (uint32_t y = page->lHeight / 2; y < page->lHeight / 2 + 40; ++y)
    for (uint32_t x = page->lWidth / 2; x < page->lWidth / 2 + 40; ++x) jb2test::SetPixel(page, x, y, 1);
  jb2test::SetPixel(page, page->lWidth - 1, page->lHeight - 1, 1);
}

// Whether a raw PBM file (as untransc and jbig2dec write them) shows the
// page, read a row at a time: the pages here are up to 512 MiB.
bool PbmShows(const std::string& path, const BMP& page) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned long width = 0, height = 0;
  const bool header = std::fscanf(f, "P4 %lu %lu", &width, &height) == 2 && std::fgetc(f) != EOF;
  bool same = header && width == page.lWidth && height == page.lHeight;
  const size_t rowBytes = (width + 7) / 8;
  const unsigned lastMask = (0xFF00u >> (width % 8 ? width % 8 : 8)) & 0xFFu;
  std::vector<unsigned char> row(rowBytes);
  for (uint32_t y = 0; same && y < page.lHeight; ++y) {
    const unsigned char* want = page.pData + static_cast<size_t>(y) * page.lStride;
    same = std::fread(row.data(), 1, rowBytes, f) == rowBytes &&
           std::memcmp(row.data(), want, rowBytes - 1) == 0 && ((row[rowBytes - 1] ^ want[rowBytes - 1]) & lastMask) == 0;
  }
  std::fclose(f);
  return same;
}

class LargeFormat : public testing::TestWithParam<LargePage> {};

TEST_P(LargeFormat, DecodesExactlyWithinThePageAndItsOverhead) {
  if (kSanitized) GTEST_SKIP() << "runs in the release build only";
  const LargePage& c = GetParam();
  ASSERT_LE(StoredBitmapPixels(c.width, c.height), kMaxBitmapPixels);
  const std::string dir = jb2test::MakeTempDir();
  {
    BMP page{};
    CreateBMP(&page, c.width, c.height, 0);
    ASSERT_NE(page.pData, nullptr);
    DrawMarks(&page);
    jb2test::Sections sections;
    sections.Add(c.keys);
    testing::internal::CaptureStderr();
    const int status = Transcode(&page, 1, sections.data(), sections.size(), (dir + "/page.jb2").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    DestroyBMP(&page);
    ASSERT_EQ(status, 0);
  }
  const long fileKiB = static_cast<long>(jb2test::ReadFileBytes(dir + "/page.jb2").size() / 1024 + 1);

  // A forked child's peak counts its parent's pages at the fork, so the page
  // is drawn again only after the decoder has run.
  const jb2tooltest::ChildRun ours = jb2tooltest::RunMeasured(jb2tooltest::kUntransc, {"--pbm", "page"}, dir, "err");
  EXPECT_EQ(ours.exitStatus, 0);
  EXPECT_EQ(ours.err, "");
  BMP source{};
  CreateBMP(&source, c.width, c.height, 0);
  ASSERT_NE(source.pData, nullptr);
  DrawMarks(&source);
  const long pageKiB = static_cast<long>(uint64_t{source.lStride} * source.lHeight / 1024);
  EXPECT_LE(ours.peakRssKiB, pageKiB + fileKiB + kOverheadKiB);
  std::printf("%s: page %ld KiB, file %ld KiB, untransc peak %ld KiB, %.1f s\n", c.name, pageKiB, fileKiB,
              ours.peakRssKiB, ours.cpuSeconds);
  EXPECT_TRUE(PbmShows(dir + "/page_1.pbm", source));
  std::remove((dir + "/page_1.pbm").c_str());

  if (jb2test::RunCommand("command -v jbig2dec").exitStatus == 0) {
    const jb2test::CommandResult peer = jb2test::RunCommand("jbig2dec -t pbm -o theirs.pbm page.jb2", dir);
    EXPECT_EQ(peer.exitStatus, 0) << peer.err;
    EXPECT_TRUE(PbmShows(dir + "/theirs.pbm", source)) << peer.err;
    std::remove((dir + "/theirs.pbm").c_str());
  }
  DestroyBMP(&source);
}

INSTANTIATE_TEST_SUITE_P(Pages, LargeFormat,
                         testing::Values(LargePage{"A0At600Dpi", 19866, 28087, {}},
                                         LargePage{"LargestAccepted", 65536, 65536, {{"tpdon", 1}}}),
                         [](const testing::TestParamInfo<LargePage>& info) { return std::string(info.param.name); });

// One row more than the largest page: refused before anything is allocated,
// with the README's message and exit status, in a small address space.
TEST(LargeFormat, OneRowOverTheLimitIsRefused) {
  using jb2test::TestSegment;
  TestSegment info;
  info.number = 0;
  info.type = 48;
  info.data = jb2test::PageInfoData(65536, 65537, 0);
  TestSegment end;
  end.number = 1;
  end.type = 49;
  const std::string dir = jb2test::MakeTempDir();
  jb2test::WriteFileBytes(dir + "/over.jb2", jb2test::FileBytes({info, end}, true));
  const jb2tooltest::ChildRun r = jb2tooltest::RunMeasured(jb2tooltest::kUntransc, {"over"}, dir, "err", [] {
    if (kSanitized) return;
    rlimit as{rlim_t{256} << 20, rlim_t{256} << 20};
    setrlimit(RLIMIT_AS, &as);
  });
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "ERROR!   Page Too Large: Not Decoded\n");
  EXPECT_FALSE(jb2test::FileExists(dir + "/over_1.bmp"));
}

}  // namespace
