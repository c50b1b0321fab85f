// Files cut short: every prefix of a sample of valid files decodes without
// a fault (the sanitizer build checks each one), and every page whose
// segments all lie before the cut comes out exactly as from the whole file,
// both in the library and as a BMP file written by the program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

const std::string kCorpus = std::string(JB2_TEST_DATA_DIR) + "/corpus";
constexpr uint64_t kMaxPixels = uint64_t{1} << 22;
// Files up to this size are cut at every length; larger ones at about this
// many evenly spaced lengths, plus the ends of their pages and the first
// bytes, which keeps the sanitizer build's run short.
constexpr size_t kEveryLengthUpTo = 300;

// One feature each: text, Huffman text and dictionaries, halftones, MMR,
// refinement, unknown height (stripes), random access.
const char* const kSample[] = {
    "annex-h/annex-h.jbig2",
    "bitmap-symbol.jbig2",
    "bitmap-symbol-texthuff-runcodes32-34.jbig2",
    "bitmap-symbol-symhuffuncompressed-texthuff.jbig2",
    "bitmap-halftone-10bpp-mmr.jbig2",
    "bitmap-mmr.jbig2",
    "bitmap-refine-lossless.jbig2",
    "bitmap-initially-unknown-size.jbig2",
    "bitmap-randomaccess.jbig2",
};


// The file offset at which each page of a sequential file is complete: the
// end of its end-of-page segment (0 when it has none).
std::vector<size_t> PageCompleteOffsets(jb2test::ParsedFile& whole) {
  std::vector<size_t> ends(whole.file().nPages, 0);
  const unsigned char* base = whole.bytes().data();
  for (uint32_t p = 0; p < whole.file().nPages; ++p) {
    const JB2PAGE& page = whole.file().pPages[p];
    for (uint32_t s = 0; s < page.nSegments; ++s) {
      const SEGMENT_HEADER* seg = page.ppSegments[s];
      if (seg->lType == 49 && seg->pDataStart) ends[p] = static_cast<size_t>(seg->pDataStart - base) + seg->lDataLength;
    }
  }
  return ends;
}

TEST(TruncatedFiles, EveryPrefixDecodesAndKeepsCompletePages) {
  for (const char* name : kSample) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = jb2test::ReadFileBytes(kCorpus + "/" + name);
    ASSERT_GT(bytes.size(), 13u);
    jb2test::QuietStderr quiet;
    jb2test::ParsedFile whole(bytes);
    ASSERT_EQ(whole.status(), 0);
    whole.Decode(kMaxPixels);
    const bool sequential = (bytes[8] & 1) != 0;
    const std::vector<size_t> complete = PageCompleteOffsets(whole);
    const size_t step = bytes.size() <= kEveryLengthUpTo ? 1 : bytes.size() / kEveryLengthUpTo + 1;
    std::vector<size_t> lengths;
    for (size_t length = 0; length < bytes.size(); length += step) lengths.push_back(length);
    for (size_t length = 1; length < 32 && length < bytes.size(); ++length) lengths.push_back(length);
    for (size_t end : complete)
      for (size_t near = end > 0 ? end - 1 : 0; near <= end + 1 && near < bytes.size(); ++near) lengths.push_back(near);
    for (size_t length : lengths) {
      jb2test::ParsedFile cut(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(length)));
      if (cut.status() != 0) {
        EXPECT_LT(length, 13u) << "only a file header cut short may be refused";
        continue;
      }
      cut.Decode(kMaxPixels);
      if (!sequential) continue;
      for (uint32_t p = 0; p < whole.file().nPages; ++p) {
        if (complete[p] == 0 || length < complete[p]) continue;
        ASSERT_GT(cut.file().nPages, p) << "length " << length;
        EXPECT_TRUE(jb2test::SamePixels(&cut.file().pPages[p].Bitmap, &whole.file().pPages[p].Bitmap))
            << "page " << p + 1 << " at length " << length;
      }
    }
  }
}

TEST(TruncatedFiles, ProgramWritesThePagesBeforeTheCut) {
  const std::vector<uint8_t> bytes = jb2test::ReadFileBytes(kCorpus + "/annex-h/annex-h.jbig2");
  std::vector<size_t> complete;
  {
    jb2test::ParsedFile whole(bytes);
    ASSERT_EQ(whole.status(), 0);
    complete = PageCompleteOffsets(whole);
  }
  ASSERT_EQ(complete.size(), 3u);
  ASSERT_TRUE(complete[0] > 0 && complete[0] < complete[1]);
  const std::string dir = jb2test::MakeTempDir();
  // Cut in the middle of the second page's segments.
  const size_t cut = (complete[0] + complete[1]) / 2;
  jb2test::WriteFileBytes(dir + "/cut.jb2", std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
  auto r = jb2test::RunCommand(JB2_UNTRANSC_PATH " cut", dir);
  if (r.err.find("Segment Type not Supported") != std::string::npos) GTEST_SKIP() << "text regions not decoded yet";
  EXPECT_NE(r.exitStatus, -1) << r.err;
  BMP page{}, reference{};
  ASSERT_EQ(LoadBMP((dir + "/cut_1.bmp").c_str(), &page), 0) << r.err;
  ASSERT_TRUE(jb2test::LoadPBM(kCorpus + "/annex-h/annex-h.page1.pbm", &reference));
  EXPECT_TRUE(jb2test::SamePixels(&page, &reference));
  DestroyBMP(&page);
  DestroyBMP(&reference);
  EXPECT_FALSE(jb2test::FileExists(dir + "/cut_3.bmp"));
}

// A file cut short in its page information is damaged, not too large: the
// page is written when its width and height were read (status 2), and none
// is made when they were not.
TEST(TruncatedFiles, CutInThePageInformation) {
  jb2test::TestSegment info;
  info.type = 48;
  info.data = jb2test::PageInfoData(64, 64, 0x04);  // black by default
  const std::vector<uint8_t> whole = jb2test::FileBytes({info}, true);
  const size_t dataStart = whole.size() - info.data.size();
  struct Case {
    size_t dataBytes;
    bool written;
    const char* message;
  } cases[] = {
      {5, false, "ERROR!   Page Information Cut Short: No Page [0]\n"},
      {12, true, "ERROR!   Segment Data past the End of the File [0]\n"},
  };
  const std::string dir = jb2test::MakeTempDir();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dataBytes);
    jb2test::WriteFileBytes(dir + "/cut.jb2", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(dataStart + c.dataBytes)));
    auto r = jb2test::RunCommand(JB2_UNTRANSC_PATH " cut", dir);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Too Large"), std::string::npos) << r.err;
    BMP page{};
    ASSERT_EQ(LoadBMP((dir + "/cut_1.bmp").c_str(), &page) == 0, c.written) << r.err;
    if (c.written) {
      // The flags were cut off: the page is white, not black.
      EXPECT_EQ(page.lWidth, 64u);
      EXPECT_EQ(page.lHeight, 64u);
      EXPECT_EQ(AreaBMP(&page), 0u);
      DestroyBMP(&page);
      std::remove((dir + "/cut_1.bmp").c_str());
    }
  }
}

}  // namespace
