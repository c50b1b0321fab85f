// Text section pipeline: which segments it writes, how it settles settings
// that do not fit the format, and the small helpers of the text coders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/encode_state.h"
#include "encoder/symbol_dictionary_encoder.h"
#include "encoder/transclib.h"
#include "tests/encoder/text_pages.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::Sections;

struct Result {
  std::vector<uint32_t> types;
  jb2test::WrittenFile file;
  std::string err;
};

Result EncodeText(BMP* page, Sections::Keys keys) {
  Sections s;
  s.Add(1, 0, 0, 0, 0, keys);
  std::string path = jb2test::MakeTempDir() + "/t.jb2";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode(page, 1, s.data(), s.size(), path.c_str()), 0);
  Result r;
  r.err = testing::internal::GetCapturedStderr();
  r.file = jb2test::ParseJb2(jb2test::ReadFileBytes(path));
  for (auto& seg : r.file.segments)
    if (seg.type != 62 && seg.type != 48 && seg.type != 49 && seg.type != 51) r.types.push_back(seg.type);
  return r;
}

// The 16-bit text region flags of the file's text region segment.
uint32_t TextFlags(const Result& r) {
  for (auto& seg : r.file.segments)
    if (seg.type == 4 || seg.type == 7) return uint32_t{seg.data[17]} << 8 | seg.data[18];
  return 0xFFFFFFFF;
}

struct SegmentCase {
  const char* name;
  const char* page;  // "glyphs", "white", "black"
  Sections::Keys keys;
  std::vector<uint32_t> types;
  std::string err;
};

TEST(TextSection, SegmentsWritten) {
  const SegmentCase cases[] = {
      {"lossless default", "glyphs", {}, {0, 7}, ""},
      {"exact matching", "glyphs", {{"soft", 0}}, {0, 7}, ""},
      {"refinement pass", "glyphs", {{"sbrefine", 0}}, {0, 4, 42}, ""},
      {"refinement dictionary", "glyphs", {{"refdict", 1}}, {0, 0, 7}, ""},
      {"residue first", "glyphs", {{"residue", 4}}, {38, 0, 7}, ""},
      {"everything residue", "glyphs", {{"residue", 1000}}, {38}, ""},
      {"empty section", "white", {}, {}, ""},
      {"empty inverted", "white", {{"invert", 1}, {"residue", 0}}, {0, 7, 38}, ""},
      // Where "residue" is not given, a generic region smaller than the text coding replaces it.
      {"empty inverted, one generic region", "white", {{"invert", 1}}, {38}, ""},
      {"black inverted", "black", {{"invert", 1}}, {38}, ""},
      {"black, default pixel 1", "black", {{"defpixel", 1}, {"combop", 2}}, {38}, ""},
      {"combop out of range", "glyphs", {{"combop", 4}},
       {0, 7}, "Warning! Invalid COMBOP for a Text Region - Using 0 (OR)\n"},
      {"OR on black", "glyphs", {{"defpixel", 1}, {"residue", 0}},
       {0, 7},
       "Warning! Recommend COMBOP=2 (XOR) for DEFPIXEL=1\n"
       "Warning! DEFPIXEL & COMBOP Would Erase Every Mark - Using COMBOP=2 (XOR)\n"},
      {"AND on white", "glyphs", {{"combop", 1}},
       {0, 7},
       "Warning! Possibly incompatible DEFPIXEL & COMBOP\n"
       "Warning! DEFPIXEL & COMBOP Would Erase Every Mark - Using COMBOP=2 (XOR)\n"},
  };
  for (const SegmentCase& c : cases) {
    SCOPED_TRACE(c.name);
    jb2test::TextPage page = std::string(c.page) == "glyphs" ? jb2test::RepeatedGlyphsPage(true, 5)
                                                             : jb2test::TextPage{c.page, {}};
    if (std::string(c.page) != "glyphs") CreateBMP(&page.bmp, 40, 20, std::string(c.page) == "black");
    Result r = EncodeText(&page.bmp, c.keys);
    EXPECT_EQ(r.types, c.types);
    EXPECT_EQ(r.err, c.err);
    DestroyBMP(&page.bmp);
  }
}

TEST(TextSection, SettingsOutsideTheFlagFieldsAreClamped) {
  struct Case {
    Sections::Keys keys;
    uint32_t logStrips;
    int32_t dsOffset;
    const char* err;
  } cases[] = {
      {{{"strip", 3}, {"dsoffset", -16}}, 3, -16, ""},
      {{{"strip", 9}, {"dsoffset", 0}}, 3, 0, "Warning! STRIP Outside 0 to 3 - Clamped\n"},
      {{{"strip", -1}, {"dsoffset", 15}}, 0, 15, "Warning! STRIP Outside 0 to 3 - Clamped\n"},
      {{{"dsoffset", 16}}, 0, 15, "Warning! DSOFFSET Outside -16 to 15 - Clamped\n"},
      {{{"dsoffset", -200}}, 0, -16, "Warning! DSOFFSET Outside -16 to 15 - Clamped\n"},
  };
  for (const Case& c : cases) {
    jb2test::TextPage page = jb2test::RepeatedGlyphsPage(false, 6);
    Result r = EncodeText(&page.bmp, c.keys);
    const uint32_t flags = TextFlags(r);
    EXPECT_EQ(flags >> 2 & 3, c.logStrips);
    const int32_t ds = static_cast<int32_t>(flags >> 10 & 31) - ((flags >> 14 & 1) ? 32 : 0);
    EXPECT_EQ(ds, c.dsOffset);
    EXPECT_EQ(r.err, c.err);
    DestroyBMP(&page.bmp);
  }
}

TEST(TextSection, RefinementDictionaryRefersToTheFirst) {
  jb2test::TextPage page = jb2test::RepeatedGlyphsPage(true, 7);
  Result r = EncodeText(&page.bmp, {{"refdict", 1}, {"sbrefine", 0}});
  ASSERT_EQ(r.types, (std::vector<uint32_t>{0, 0, 4, 42}));
  const auto& seg = r.file.segments;
  EXPECT_TRUE(seg[2].retain);
  EXPECT_EQ(seg[3].referred, std::vector<uint32_t>{2});
  EXPECT_EQ(seg[4].referred, std::vector<uint32_t>{3});
  EXPECT_EQ(seg[5].referred, std::vector<uint32_t>{4});
  // The second dictionary: SDREFAGG set, exports its input and its own symbols.
  const std::vector<uint8_t>& d2 = seg[3].data;
  EXPECT_EQ(d2[1] & 2, 2);
  const uint32_t nFirst = jb2test::Be32(&seg[2].data[2 + 8 + 4]);  // SDNUMNEWSYMS
  // Flags, eight generic AT bytes, four refinement AT bytes, then the counts.
  EXPECT_EQ(jb2test::Be32(&d2[14]), nFirst + jb2test::Be32(&d2[18]));
  DestroyBMP(&page.bmp);
}

TEST(TextCoding, SymbolCodeLength) {
  const std::pair<uint64_t, uint32_t> cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {256, 8}, {257, 9}};
  for (auto [count, bits] : cases) EXPECT_EQ(SymbolCodeLength(count), bits) << count;
}

TEST(TextCoding, SelectHuffTable) {
  HUFFTABLE tables[kNumStandardTables];
  InitializeHuffStandard(tables);
  struct Case {
    int32_t setting;
    int t0, t1, t2;
    int32_t corrected;
    int table;
    bool error;
  } cases[] = {
      {0, 8, 9, 10, 0, 8, false}, {2, 8, 9, 10, 2, 10, false}, {1, 6, 7, 0, 1, 7, false},
      {2, 6, 7, 0, 0, 6, true},   {3, 11, 12, 13, 0, 11, true}, {-1, 1, 0, 0, 0, 1, true},
  };
  for (const Case& c : cases) {
    HUFFTABLE* chosen = nullptr;
    int32_t setting = c.setting;
    testing::internal::CaptureStderr();
    SelectHuffTable(tables, &chosen, &setting, c.t0, c.t1, c.t2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(setting, c.corrected);
    EXPECT_EQ(chosen, &tables[c.table - 1]);
    EXPECT_EQ(err, c.error ? "ERROR!   Invalid Setting for a Huffman Table, using 0\n" : "");
  }
  FreeHuffStandard(tables);
}

}  // namespace
