#include "common/huffman_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bit_reader.h"
#include "common/bit_writer.h"

namespace {

struct StandardTables {
  StandardTables() { InitializeHuffStandard(t); }
  ~StandardTables() { FreeHuffStandard(t); }
  HUFFTABLE& B(int n) { return t[n - 1]; }
  HUFFTABLE t[kNumStandardTables];
};

std::string Bits(unsigned long code, unsigned long len) {
  std::string s;
  for (unsigned long i = len; i-- > 0;) s += ((code >> i) & 1) ? '1' : '0';
  return s;
}

// A table built from a definition and its ordinary lines, freed on exit.
struct CustomTable {
  CustomTable(HUFFDEF d, std::vector<unsigned long> pref, std::vector<unsigned long> range) : def(d) {
    table.pDef = &def;
    BuildHUFFTABLE(&table, pref.data(), range.data());
  }
  ~CustomTable() { FreeHuffTable(&table); }
  HUFFDEF def;
  HUFFTABLE table{};
};

constexpr long kOOB = LONG_MIN;  // stands for the out-of-band value in the case tables

}  // namespace

// Every line of every standard table, at its first value, plus the last value
// of some lines, against the prefixes and range fields of T.88 Annex B.
TEST(HuffmanTable, StandardTablesCodeEveryLineAsTabulated) {
  const struct {
    int table;
    long value;
    const char* prefix;
    unsigned long rangeLen;
    unsigned long rangeBits;
  } cases[] = {
      {1, 0, "0", 4, 0}, {1, 15, "0", 4, 15}, {1, 16, "10", 8, 0}, {1, 271, "10", 8, 255},
      {1, 272, "110", 16, 0}, {1, 65807, "110", 16, 65535}, {1, 65808, "111", 32, 0},
      {2, 0, "0", 0, 0}, {2, 1, "10", 0, 0}, {2, 2, "110", 0, 0}, {2, 3, "1110", 3, 0}, {2, 10, "1110", 3, 7},
      {2, 11, "11110", 6, 0}, {2, 74, "11110", 6, 63}, {2, 75, "111110", 32, 0}, {2, kOOB, "111111", 0, 0},
      {3, -256, "11111110", 8, 0}, {3, -1, "11111110", 8, 255}, {3, 0, "0", 0, 0}, {3, 1, "10", 0, 0},
      {3, 2, "110", 0, 0}, {3, 3, "1110", 3, 0}, {3, 11, "11110", 6, 0}, {3, 75, "1111110", 32, 0},
      {3, -257, "11111111", 32, 0}, {3, -300, "11111111", 32, 43}, {3, kOOB, "111110", 0, 0},
      {4, 1, "0", 0, 0}, {4, 2, "10", 0, 0}, {4, 3, "110", 0, 0}, {4, 4, "1110", 3, 0}, {4, 12, "11110", 6, 0},
      {4, 75, "11110", 6, 63}, {4, 76, "11111", 32, 0},
      {5, -255, "1111110", 8, 0}, {5, 0, "1111110", 8, 255}, {5, 1, "0", 0, 0}, {5, 2, "10", 0, 0},
      {5, 3, "110", 0, 0}, {5, 4, "1110", 3, 0}, {5, 12, "11110", 6, 0}, {5, 76, "111110", 32, 0},
      {5, -256, "1111111", 32, 0},
      {6, -2048, "11100", 10, 0}, {6, -1024, "1000", 9, 0}, {6, -512, "1001", 8, 0}, {6, -256, "1010", 7, 0},
      {6, -128, "11101", 6, 0}, {6, -64, "11110", 5, 0}, {6, -32, "1011", 5, 0}, {6, -1, "1011", 5, 31},
      {6, 0, "00", 7, 0}, {6, 128, "010", 7, 0}, {6, 256, "011", 8, 0}, {6, 512, "1100", 9, 0},
      {6, 1024, "1101", 10, 0}, {6, 2047, "1101", 10, 1023}, {6, -2049, "111110", 32, 0},
      {6, 2048, "111111", 32, 0},
      {7, -1024, "1000", 9, 0}, {7, -512, "000", 8, 0}, {7, -256, "1001", 7, 0}, {7, -128, "11010", 6, 0},
      {7, -64, "11011", 5, 0}, {7, -33, "11011", 5, 31}, {7, -32, "1010", 5, 0}, {7, 0, "1011", 5, 0},
      {7, 32, "11100", 5, 0}, {7, 64, "11101", 6, 0}, {7, 128, "1100", 7, 0}, {7, 256, "001", 8, 0},
      {7, 512, "010", 9, 0}, {7, 1024, "011", 10, 0}, {7, -1025, "11110", 32, 0}, {7, 2048, "11111", 32, 0},
      {8, -15, "11111100", 3, 0}, {8, -7, "111111100", 1, 0}, {8, -5, "11111101", 1, 0},
      {8, -3, "111111101", 0, 0}, {8, -2, "1111100", 0, 0}, {8, -1, "1010", 0, 0}, {8, 0, "00", 1, 0},
      {8, 1, "00", 1, 1}, {8, 2, "11010", 0, 0}, {8, 3, "111010", 0, 0}, {8, 4, "100", 4, 0},
      {8, 20, "111011", 1, 0}, {8, 22, "1011", 4, 0}, {8, 38, "1100", 5, 0}, {8, 70, "11011", 6, 0},
      {8, 134, "11100", 7, 0}, {8, 262, "111100", 7, 0}, {8, 390, "1111101", 8, 0}, {8, 646, "111101", 10, 0},
      {8, 1669, "111101", 10, 1023}, {8, -16, "111111110", 32, 0}, {8, 1670, "111111111", 32, 0},
      {8, kOOB, "01", 0, 0},
      {9, -31, "11111100", 4, 0}, {9, -15, "111111100", 2, 0}, {9, -11, "11111101", 2, 0},
      {9, -7, "111111101", 1, 0}, {9, -5, "1111100", 1, 0}, {9, -3, "1010", 1, 0}, {9, -1, "010", 1, 0},
      {9, 0, "010", 1, 1}, {9, 1, "011", 1, 0}, {9, 3, "11010", 1, 0}, {9, 5, "111010", 1, 0},
      {9, 7, "100", 5, 0}, {9, 39, "111011", 2, 0}, {9, 43, "1011", 5, 0}, {9, 75, "1100", 6, 0},
      {9, 139, "11011", 7, 0}, {9, 267, "11100", 8, 0}, {9, 523, "111100", 8, 0}, {9, 779, "1111101", 9, 0},
      {9, 1291, "111101", 11, 0}, {9, 3338, "111101", 11, 2047}, {9, -32, "111111110", 32, 0},
      {9, 3339, "111111111", 32, 0}, {9, kOOB, "00", 0, 0},
      {10, -21, "1111010", 4, 0}, {10, -5, "11111100", 0, 0}, {10, -4, "1111011", 0, 0},
      {10, -3, "11000", 0, 0}, {10, -2, "00", 2, 0}, {10, 1, "00", 2, 3}, {10, 2, "11001", 0, 0},
      {10, 3, "110110", 0, 0}, {10, 4, "1111100", 0, 0}, {10, 5, "11111101", 0, 0}, {10, 6, "01", 6, 0},
      {10, 70, "11010", 5, 0}, {10, 102, "110111", 5, 0}, {10, 134, "111000", 6, 0},
      {10, 198, "111001", 7, 0}, {10, 326, "111010", 8, 0}, {10, 582, "111011", 9, 0},
      {10, 1094, "111100", 10, 0}, {10, 2118, "1111101", 11, 0}, {10, 4165, "1111101", 11, 2047},
      {10, -22, "11111110", 32, 0}, {10, 4166, "11111111", 32, 0}, {10, kOOB, "10", 0, 0},
      {11, 1, "0", 0, 0}, {11, 2, "10", 1, 0}, {11, 4, "1100", 0, 0}, {11, 5, "1101", 1, 0},
      {11, 7, "11100", 1, 0}, {11, 9, "11101", 2, 0}, {11, 13, "111100", 2, 0}, {11, 17, "1111010", 2, 0},
      {11, 21, "1111011", 3, 0}, {11, 29, "1111100", 4, 0}, {11, 45, "1111101", 5, 0},
      {11, 77, "1111110", 6, 0}, {11, 141, "1111111", 32, 0},
      {12, 1, "0", 0, 0}, {12, 2, "10", 0, 0}, {12, 3, "110", 1, 0}, {12, 5, "11100", 0, 0},
      {12, 6, "11101", 1, 0}, {12, 8, "111100", 1, 0}, {12, 10, "1111010", 0, 0}, {12, 11, "1111011", 1, 0},
      {12, 13, "1111100", 2, 0}, {12, 17, "1111101", 3, 0}, {12, 25, "1111110", 4, 0},
      {12, 41, "11111110", 5, 0}, {12, 72, "11111110", 5, 31}, {12, 73, "11111111", 32, 0},
      {13, 1, "0", 0, 0}, {13, 2, "100", 0, 0}, {13, 3, "1100", 0, 0}, {13, 4, "11100", 0, 0},
      {13, 5, "1101", 1, 0}, {13, 7, "101", 3, 0}, {13, 15, "111010", 1, 0}, {13, 17, "111011", 2, 0},
      {13, 21, "111100", 3, 0}, {13, 29, "111101", 4, 0}, {13, 45, "111110", 5, 0},
      {13, 77, "1111110", 6, 0}, {13, 141, "1111111", 32, 0},
      {14, -2, "100", 0, 0}, {14, -1, "101", 0, 0}, {14, 0, "0", 0, 0}, {14, 1, "110", 0, 0},
      {14, 2, "111", 0, 0},
      {15, -24, "1111100", 4, 0}, {15, -8, "111100", 2, 0}, {15, -4, "11100", 1, 0}, {15, -2, "1100", 0, 0},
      {15, -1, "100", 0, 0}, {15, 0, "0", 0, 0}, {15, 1, "101", 0, 0}, {15, 2, "1101", 0, 0},
      {15, 3, "11101", 1, 0}, {15, 5, "111101", 2, 0}, {15, 9, "1111101", 4, 0}, {15, 24, "1111101", 4, 15},
      {15, -25, "1111110", 32, 0}, {15, 25, "1111111", 32, 0},
  };
  StandardTables std;
  testing::internal::CaptureStderr();
  for (const auto& c : cases) {
    unsigned long code = 9, codeLen = 9, rangeBits = 9, rangeLen = 9;
    if (c.value == kOOB) {
      EncodeHuffOOB(&std.B(c.table), &code, &codeLen);
      rangeBits = rangeLen = 0;
    } else {
      EncodeHuffNum(&std.B(c.table), c.value, &code, &codeLen, &rangeBits, &rangeLen);
    }
    EXPECT_EQ(Bits(code, codeLen), c.prefix) << "B." << c.table << " value " << c.value;
    EXPECT_EQ(rangeLen, c.rangeLen) << "B." << c.table << " value " << c.value;
    EXPECT_EQ(rangeBits, c.rangeBits) << "B." << c.table << " value " << c.value;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(HuffmanTable, ValuesOutsideATableAreReported) {
  StandardTables std;
  const struct {
    int table;
    long value;
    std::string messages;
  } cases[] = {
      {14, -3, "ERROR!   EncodeHuffNum: Below HTLOW\nERROR!   EncodeHuffNum: Length = 0\n"},
      {14, 3, "ERROR!   EncodeHuffNum: Above HTHIGH\nERROR!   EncodeHuffNum: Length = 0\n"},
      {1, -1, "ERROR!   EncodeHuffNum: Below HTLOW\nERROR!   EncodeHuffNum: Length = 0\n"},
      {14, 0, ""},
  };
  for (const auto& c : cases) {
    unsigned long code = 9, codeLen = 9, rangeBits = 9, rangeLen = 9;
    testing::internal::CaptureStderr();
    EncodeHuffNum(&std.B(c.table), c.value, &code, &codeLen, &rangeBits, &rangeLen);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages) << c.value;
    EXPECT_EQ(code + rangeBits + rangeLen, 0u);
  }
  unsigned long code = 5, codeLen = 6;
  testing::internal::CaptureStderr();
  EncodeHuffOOB(&std.B(1), &code, &codeLen);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   EncodeHuffOOB: Table Does Not Support OOB\n");
  EXPECT_EQ(code, 5u);
  EXPECT_EQ(codeLen, 6u);

  // An ordinary line without a prefix still returns its range bits.
  CustomTable t({0, 0, 4, 0, 1, 0, 2}, {0, 1}, {1, 1});
  unsigned long rangeBits = 0, rangeLen = 0;
  testing::internal::CaptureStderr();
  EncodeHuffNum(&t.table, 1, &code, &codeLen, &rangeBits, &rangeLen);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   EncodeHuffNum: No Prefix Bits\n");
  EXPECT_EQ(codeLen, 0u);
  EXPECT_EQ(rangeLen, 1u);
  EXPECT_EQ(rangeBits, 1u);
}

TEST(HuffmanTable, PrefixCodesFollowAssignmentOrder) {
  const struct {
    std::vector<unsigned long> lengths;
    std::vector<std::string> codes;  // "" for a line without a code
    std::string messages;
  } cases[] = {
      {{1, 2, 3, 0, 3}, {"0", "10", "110", "", "111"}, ""},  // the B.1 example of T.88 B.4
      {{2, 2, 2, 2}, {"00", "01", "10", "11"}, ""},
      {{3, 1, 3, 2}, {"110", "0", "111", "10"}, ""},
      {{0, 0}, {"", ""}, ""},
      {{32, 1, 32, 2}, {"11000000000000000000000000000000", "0", "11000000000000000000000000000001", "10"}, ""},
      {{33, 1, 1000}, {"", "0", ""}, "ERROR!   Unexpected: HuffGetPrefCodes\nERROR!   Unexpected: HuffGetPrefCodes\n"},
  };
  for (const auto& c : cases) {
    std::vector<unsigned long> lengths = c.lengths, codes(lengths.size(), 77);
    testing::internal::CaptureStderr();
    HuffGetPrefCodes(lengths.data(), codes.data(), lengths.size());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages);
    for (size_t i = 0; i < lengths.size(); ++i) {
      if (c.codes[i].empty()) {
        EXPECT_EQ(codes[i], 0u);
      } else {
        EXPECT_EQ(Bits(codes[i], lengths[i]), c.codes[i]) << i;
      }
    }
  }
}

TEST(HuffmanTable, TreesReportCodesThatAreNotPrefixFree) {
  const struct {
    std::vector<unsigned long> lengths;
    int invalid;                // lines reported
    std::vector<uint8_t> input; // one byte, decoded with DecodeHuffTree
    long line;                  // line decoded from it
  } cases[] = {
      {{1, 2, 2}, 0, {0xC0}, 2},
      {{2, 1, 1}, 1, {0x00}, 1},  // a shorter code lands on a node with children
      {{1, 1, 1}, 1, {0x00}, 2},  // codes 0, 1 and (overflowing) 0 again: the later line wins
      {{1, 2, 1}, 1, {0x00}, 0},  // line 1 passes through line 0's leaf
      {{33, 1}, 0, {0x00}, 1},    // a line too long for a code takes no place in the tree
  };
  for (const auto& c : cases) {
    std::vector<unsigned long> lengths = c.lengths, codes(lengths.size());
    HUFFNODE* root = nullptr;
    testing::internal::CaptureStderr();
    HuffGetPrefCodes(lengths.data(), codes.data(), lengths.size());
    testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    BuildHuffTree(&root, codes.data(), lengths.data(), lengths.size());
    std::string expected;
    for (int i = 0; i < c.invalid; ++i) expected += "ERROR!   BuildHuffTree: Invalid Prefix Codes\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    DECODER dec;
    InitDecoder(&dec, c.input.data(), c.input.size());
    EXPECT_EQ(DecodeHuffTree(&dec, root), c.line);
    FreeHuffTree(root);
  }
}

TEST(HuffmanTable, FreesDegenerateTreesWithoutDeepRecursion) {
  // A path a million nodes deep, zigzagging between the two children.
  HUFFNODE* root = nullptr;
  NewHuffNode(&root);
  HUFFNODE* node = root;
  for (int i = 0; i < 1000000; ++i) {
    HUFFNODE** child = i % 3 == 0 ? &node->pChild1 : &node->pChild0;
    NewHuffNode(child);
    if (i % 5 == 0) NewHuffNode(i % 3 == 0 ? &node->pChild0 : &node->pChild1);
    node = *child;
  }
  FreeHuffTree(root);
  FreeHuffTree(nullptr);
}

// Every standard table, through the bit writer and back through the reader:
// each line's first and last value, the range lines' ends and a span of small
// values, with OOB codes between them in the tables that have one.
TEST(HuffmanTable, StandardTablesRoundTripThroughWriterAndReader) {
  StandardTables std;
  for (int b = 1; b <= kNumStandardTables; ++b) {
    HUFFTABLE& table = std.B(b);
    const HUFFDEF& def = *table.pDef;
    const long n = def.nLines;
    std::vector<long> values;
    for (long i = 0; i < n; ++i) {
      values.push_back(table.pRangeLow[i]);
      values.push_back(table.pRangeLow[i] + (1l << table.pRangeLen[i]) - 1);
    }
    for (long v = -3000; v <= 5000; v += 7) values.push_back(v);
    if (def.lLowerPrefLen != 0) {
      for (long v : {def.lHTLOW - 1l, def.lHTLOW - 2l, long{INT32_MIN}, long{INT32_MIN} + 1}) values.push_back(v);
    }
    if (def.lUpperPrefLen != 0) {
      for (long v : {long{def.lHTHIGH}, def.lHTHIGH + 1l, long{INT32_MAX}, long{INT32_MAX} - 1}) values.push_back(v);
    }
    std::vector<long> coded;  // kOOB marks an out-of-band code
    for (size_t i = 0; i < values.size(); ++i) {
      const long v = values[i];
      if ((v < def.lHTLOW && def.lLowerPrefLen == 0) || (v >= def.lHTHIGH && def.lUpperPrefLen == 0)) continue;
      coded.push_back(v);
      if (def.bHTOOB && i % 7 == 0) coded.push_back(kOOB);
    }
    ENCODER enc;
    CreateEncoder(&enc, 64);
    testing::internal::CaptureStderr();
    for (long v : coded) {
      if (v == kOOB) {
        EncHuffOOB(&enc, &table);
      } else {
        EncHuff(&enc, &table, v);
      }
    }
    EncodeFlush(&enc);
    DECODER dec;
    InitDecoder(&dec, enc.pBuffer, enc.lSize);
    for (long v : coded) {
      int oob = -1;
      const int32_t got = DecodeHuff(&dec, &table, &oob);
      if (v == kOOB) {
        ASSERT_EQ(oob, 1) << "B." << b;
      } else {
        ASSERT_EQ(oob, 0) << "B." << b << " value " << v;
        ASSERT_EQ(got, v) << "B." << b;
      }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "B." << b;
    EXPECT_EQ(DecoderPtr(&dec), enc.pBuffer + enc.lSize);
    DestroyEncoder(&enc);
  }
}
