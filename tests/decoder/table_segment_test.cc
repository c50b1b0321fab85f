// Table segments (T.88 B.2): the lines a coded table produces, values at the
// range boundaries, and damaged tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/table_segment.h"
#include "tests/toolkit/data_coders.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::BitSink;

// Decodes a table segment held in `data` through a file record of its own.
struct DecodedTable {
  JB2FILE file{};
  SEGMENT_HEADER seg{};
  std::string err;
  explicit DecodedTable(const std::vector<uint8_t>& data) {
    seg.lNumber = 7;
    seg.lType = 53;
    seg.pInput = &file.Input;
    InitDecoder(&file.Input, data.data(), data.size());
    testing::internal::CaptureStderr();
    DecodeTableSegment(&file, &seg, &file.Input);
    err = testing::internal::GetCapturedStderr();
  }
  ~DecodedTable() { ReleaseTableSegment(&seg); }
  // Decodes `coded` with the table.
  int32_t Value(const std::vector<uint8_t>& coded, int* oob) {
    DECODER reader;
    InitDecoder(&reader, coded.data(), coded.size());
    return DecodeHuff(&reader, &seg.Table, oob);
  }
};

// Flags, HTLOW, HTHIGH, then (prefix length, range length) lines and the
// lower, upper and OOB prefix lengths, HTPS and HTRS bits wide.
std::vector<uint8_t> TableData(bool oob, int htps, int htrs, int32_t low, int32_t high,
                               const std::vector<std::pair<int, int>>& lines, std::vector<int> tail) {
  BitSink bits;
  bits.Bits((oob ? 1 : 0) | ((htps - 1) << 1) | ((htrs - 1) << 4), 8);
  bits.Bits(static_cast<uint32_t>(low), 32);
  bits.Bits(static_cast<uint32_t>(high), 32);
  for (auto [p, r] : lines) {
    bits.Bits(static_cast<uint64_t>(p), htps);
    bits.Bits(static_cast<uint64_t>(r), htrs);
  }
  for (int p : tail) bits.Bits(static_cast<uint64_t>(p), htps);
  bits.Align();
  return bits.bytes;
}

struct LineCase {
  const char* name;
  std::vector<uint8_t> data;
  std::vector<long> rangeLow;  // every line, range lines included
  std::vector<unsigned long> rangeLen;
};

class TableLines : public testing::TestWithParam<LineCase> {};

TEST_P(TableLines, FollowTheCodedRanges) {
  const LineCase& c = GetParam();
  DecodedTable t(c.data);
  EXPECT_EQ(t.err, "");
  ASSERT_NE(t.seg.Table.pTree, nullptr);
  const uint32_t n = t.seg.Table.pDef->nLines;
  ASSERT_EQ(n + (t.seg.Table.pDef->bHTOOB ? 3 : 2), c.rangeLow.size());
  for (size_t i = 0; i < c.rangeLow.size(); ++i) {
    EXPECT_EQ(t.seg.Table.pRangeLow[i], c.rangeLow[i]) << "line " << i;
    EXPECT_EQ(t.seg.Table.pRangeLen[i], c.rangeLen[i]) << "line " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TableLines,
    testing::Values(
        // One line of range length 4 covers 0..15; 16 is the upper range.
        LineCase{"SingleLine", TableData(false, 2, 3, 0, 16, {{1, 4}}, {2, 2}), {0, -1, 16}, {4, 32, 32}},
        LineCase{"NegativeLow", TableData(false, 3, 3, -5, 5, {{2, 2}, {2, 1}, {2, 2}}, {3, 3}),
                 {-5, -1, 1, -6, 5}, {2, 1, 2, 32, 32}},
        // The out-of-band line comes last, with no range.
        LineCase{"OutOfBand", TableData(true, 2, 2, 1, 3, {{1, 1}}, {3, 2, 3}), {1, 0, 3, 0}, {1, 32, 32, 0}},
        // HTHIGH not above HTLOW: still one line.
        LineCase{"HighNotAboveLow", TableData(false, 2, 2, 10, 10, {{1, 0}}, {2, 2}), {10, 9, 10}, {0, 32, 32}},
        // Lines of 2^31 and 2^32 values stay exact (no 32-bit overflow), and
        // the upper range starts at HTHIGH.
        LineCase{"WideRanges", TableData(false, 2, 6, INT32_MIN, INT32_MAX, {{1, 31}, {2, 32}}, {3, 3}),
                 {INT32_MIN, 0, long{INT32_MIN} - 1, INT32_MAX}, {31, 32, 32, 32}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TableSegment, DecodesValuesAtTheBoundaries) {
  DecodedTable t(TableData(false, 2, 3, 0, 16, {{1, 4}}, {2, 2}));
  // Canonical codes: line 0 "0", lower "10", upper "11".
  int oob;
  EXPECT_EQ(t.Value({0x78}, &oob), 15);                    // 0 1111
  EXPECT_EQ(t.Value({0xC0, 0, 0, 0, 0}, &oob), 16);        // 11 + 32 zero bits
  EXPECT_EQ(t.Value({0x80, 0, 0, 0, 0x00}, &oob), -1);     // 10 + 32 zero bits
  EXPECT_EQ(oob, 0);
}

struct DamageCase {
  const char* name;
  std::vector<uint8_t> data;
  const char* error;
};

class DamagedTable : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedTable, IsIgnoredWithAnError) {
  DecodedTable t(GetParam().data);
  EXPECT_NE(t.err.find(GetParam().error), std::string::npos) << t.err;
  EXPECT_EQ(t.seg.Table.pTree, nullptr);
}

std::vector<DamageCase> DamageCases() {
  // Lines of range length 0 from INT32_MIN to INT32_MAX would be 2^32 lines.
  std::vector<uint8_t> endless = TableData(false, 1, 1, INT32_MIN, INT32_MAX, {}, {});
  endless.resize(endless.size() + 100000, 0);
  std::vector<uint8_t> cut = TableData(false, 2, 3, 0, 100, {{1, 4}, {1, 4}}, {});
  return {
      {"RangeLengthAbove32", TableData(false, 2, 6, 0, 100, {{1, 33}}, {2, 2}), "Range Length above 32"},
      {"EndlessLines", endless, "Too Many Table Lines"},
      {"LinesPastTheData", cut, "Table Segment Data Exhausted"},
      {"RangeLinesPastTheData", TableData(false, 8, 3, 0, 16, {{1, 4}}, {}), "Table Segment Data Exhausted"},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedTable, testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
