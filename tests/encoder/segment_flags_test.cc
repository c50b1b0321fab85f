// The flag fields of every text mode's dictionaries and regions follow the
// "must contain 0" rules of T.88 7.4.2.1.1, 7.4.3.1.1 and 7.4.3.1.2, which
// some readers enforce: a field the coding does not use is written as 0.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/text_modes.h"
#include "tests/encoder/text_pages.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::ParsedSegment;
using jb2test::Sections;

constexpr uint32_t kSymbolDictionary = 0, kTextRegionTypes[] = {4, 6, 7};
constexpr size_t kRegionInfoBytes = 17;

inline uint32_t Bits(uint32_t v, int first, int count) { return (v >> first) & ((1u << count) - 1); }

void CheckDictionaryFlags(uint32_t f) {
  const bool huff = Bits(f, 0, 1), refAgg = Bits(f, 1, 1);
  if (!huff) {
    EXPECT_EQ(Bits(f, 2, 2), 0u) << "SDHUFFDH without SDHUFF";
    EXPECT_EQ(Bits(f, 4, 2), 0u) << "SDHUFFDW without SDHUFF";
    EXPECT_EQ(Bits(f, 6, 1), 0u) << "SDHUFFBMSIZE without SDHUFF";
  } else {
    EXPECT_EQ(Bits(f, 10, 2), 0u) << "SDTEMPLATE with SDHUFF";
    EXPECT_NE(Bits(f, 2, 2), 2u) << "SDHUFFDH 2 is not permitted";
    EXPECT_NE(Bits(f, 4, 2), 2u) << "SDHUFFDW 2 is not permitted";
  }
  if (!huff || !refAgg) {
    EXPECT_EQ(Bits(f, 7, 1), 0u) << "SDHUFFAGGINST";
  }
  if (huff && !refAgg) {
    EXPECT_EQ(Bits(f, 8, 2), 0u) << "bitmap coding context used / retained";
  }
  if (!refAgg) {
    EXPECT_EQ(Bits(f, 12, 1), 0u) << "SDRTEMPLATE without SDREFAGG";
  }
  EXPECT_EQ(Bits(f, 13, 3), 0u) << "reserved bits";
}

void CheckRegionFlags(const std::vector<uint8_t>& data) {
  ASSERT_GE(data.size(), kRegionInfoBytes + 2);
  const uint32_t f = uint32_t{data[kRegionInfoBytes]} << 8 | data[kRegionInfoBytes + 1];
  if (!Bits(f, 1, 1)) {
    EXPECT_EQ(Bits(f, 15, 1), 0u) << "SBRTEMPLATE without SBREFINE";
  }
  if (!Bits(f, 0, 1)) return;
  ASSERT_GE(data.size(), kRegionInfoBytes + 4);
  const uint32_t h = uint32_t{data[kRegionInfoBytes + 2]} << 8 | data[kRegionInfoBytes + 3];
  EXPECT_NE(Bits(h, 0, 2), 2u) << "SBHUFFFS 2 is not permitted";
  for (int first : {6, 8, 10, 12}) EXPECT_NE(Bits(h, first, 2), 2u) << "refinement table selection at bit " << first;
  EXPECT_EQ(Bits(h, 15, 1), 0u) << "reserved bit";
}

TEST(SegmentFlags, EveryTextModeWritesTheFieldsItDoesNotUseAsZero) {
  const std::string dir = jb2test::MakeTempDir();
  int checked = 0;
  for (const jb2test::TextMode& mode : jb2test::kModes) {
    SCOPED_TRACE(mode.name);
    jb2test::TextPage page = jb2test::RepeatedGlyphsPage(true, 4);  // noisy copies: every kind of symbol
    Sections sections;
    mode.build(sections, static_cast<int32_t>(page.bmp.lWidth), static_cast<int32_t>(page.bmp.lHeight));
    sections.AddKey("residue", 0);  // text coding, never the generic fallback
    const std::string path = dir + "/" + mode.name + ".jb2";
    testing::internal::CaptureStderr();
    ASSERT_EQ(Transcode(&page.bmp, 1, sections.data(), sections.size(), path.c_str()), 0);
    testing::internal::GetCapturedStderr();
    DestroyBMP(&page.bmp);
    const jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(path));
    ASSERT_TRUE(file.ok);
    int dictionaries = 0, regions = 0;
    for (const ParsedSegment& seg : file.segments) {
      if (seg.type == kSymbolDictionary) {
        ASSERT_GE(seg.data.size(), 2u);
        CheckDictionaryFlags(uint32_t{seg.data[0]} << 8 | seg.data[1]);
        ++dictionaries;
      }
      for (uint32_t t : kTextRegionTypes)
        if (seg.type == t) {
          CheckRegionFlags(seg.data);
          ++regions;
        }
    }
    checked += dictionaries > 0 && regions > 0;
  }
  EXPECT_GE(checked, static_cast<int>(std::size(jb2test::kModes)) - 1);  // all marks are residue in one
}

// A Huffman text region that refines with template 1 (SBHUFF = 1,
// SBRTEMPLATE = 1) is as valid as any: untransc reads it without a word.
TEST(SegmentFlags, HuffmanRefinementWithTemplate1DecodesSilently) {
  const std::string dir = jb2test::MakeTempDir();
  jb2test::TextPage page = jb2test::RepeatedGlyphsPage(true, 4);
  Sections sections;
  sections.Add(1, 0, 0, 0, 0, {{"huff", 1}, {"rtemplate", 1}});
  testing::internal::CaptureStderr();
  ASSERT_EQ(Transcode(&page.bmp, 1, sections.data(), sections.size(), (dir + "/page.jb2").c_str()), 0);
  testing::internal::GetCapturedStderr();
  const jb2test::CommandResult r = jb2test::RunCommand(std::string("'") + JB2_UNTRANSC_PATH + "' page", dir);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  BMP decoded{};
  ASSERT_EQ(LoadBMP((dir + "/page_1.bmp").c_str(), &decoded), 0);
  EXPECT_TRUE(jb2test::SamePixels(&decoded, &page.bmp));
  DestroyBMP(&decoded);
  DestroyBMP(&page.bmp);
}

// Huffman collective bitmaps are MMR-coded even where the plain rows would
// be no larger (a reader loses its place after uncompressed ones); "direct"
// still asks for the plain rows. One 1 x 1 symbol: after the 10 header bytes
// come HCDH 1 (B.4 "0"), DW 1 (B.2 "10"), OOB (B.2 "111111") and BMSIZE
// (B.1 "0" + 4 bits), byte-aligned, then the bitmap.
TEST(SegmentFlags, HuffmanCollectiveBitmapsAreMmrCodedUnlessDirect) {
  const std::string dir = jb2test::MakeTempDir();
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "mmr");
    BMP page;
    CreateBMP(&page, 8, 8, 0);
    jb2test::SetPixel(&page, 3, 3, 1);
    Sections sections;
    sections.Add(1, 0, 0, 0, 0, {{"huff", 1}, {"soft", 0}, {"direct", direct}, {"residue", 0}});
    const std::string path = dir + "/dot.jb2";
    ASSERT_EQ(Transcode(&page, 1, sections.data(), sections.size(), path.c_str()), 0);
    DestroyBMP(&page);
    const jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(path));
    ASSERT_TRUE(file.ok);
    const ParsedSegment* dict = nullptr;
    for (const ParsedSegment& seg : file.segments)
      if (seg.type == kSymbolDictionary) dict = &seg;
    ASSERT_NE(dict, nullptr);
    ASSERT_GE(dict->data.size(), 13u);
    EXPECT_EQ(dict->data[10], 0x5F);
    if (direct) {
      EXPECT_EQ(dict->data[11], 0x80);  // BMSIZE 0
      EXPECT_EQ(dict->data[12], 0x80);  // the plain row
    } else {
      EXPECT_EQ(dict->data[11], 0x84);  // BMSIZE 1: one byte of MMR data
      EXPECT_EQ(dict->data[12], 0x50);  // VL1, V0
    }
  }
}

}  // namespace
