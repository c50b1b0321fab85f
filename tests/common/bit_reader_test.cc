#include "common/bit_reader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/huffman_table.h"
#include "common/limits.h"

namespace {

const char kPastEnd[] = "ERROR!   Data Ends Early\n";

std::string Repeat(const char* s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// The bytes live in an exactly sized heap block, so the sanitizer build sees
// any read outside the range.
struct Input {
  explicit Input(std::vector<uint8_t> bytes) : data(new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]) {
    std::copy(bytes.begin(), bytes.end(), data.get());
    InitDecoder(&dec, data.get(), bytes.size());
    size = bytes.size();
  }
  std::unique_ptr<unsigned char[]> data;
  size_t size;
  DECODER dec;
};

// Bit i of the stream the reader must deliver: the bytes, then 1s forever.
int ReferenceBit(const std::vector<uint8_t>& bytes, uint64_t i) {
  return i / 8 < bytes.size() ? (bytes[i / 8] >> (7 - i % 8)) & 1 : 1;
}

}  // namespace

TEST(BitReader, ReadsFieldsMostSignificantFirst) {
  struct Step {
    int n;           // bits to read; -1 for DecodeFlush
    uint32_t value;  // expected result
  };
  const struct {
    std::vector<uint8_t> bytes;
    std::vector<Step> steps;
    int pastEndErrors;
  } cases[] = {
      {{0xA5, 0x0F}, {{8, 0xA5}}, 0},
      {{0xA5, 0x0F}, {{4, 0xA}, {8, 0x50}, {4, 0xF}}, 0},
      {{0xA5, 0x0F}, {{3, 0x5}, {-1, 0}, {8, 0x0F}}, 0},
      {{0xA5, 0x0F}, {{32, 0xA50FFFFF}}, 2},
      {{0xA5, 0x0F}, {{0, 0}, {16, 0xA50F}, {0, 0}}, 0},
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, {{4, 0x1}, {32, 0x23456789}, {4, 0xA}}, 0},
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, {{40, 0x3456789A}}, 0},  // longer reads keep the last 32 bits
      {{}, {{1, 1}, {7, 0x7F}, {1, 1}}, 2},
  };
  for (const auto& c : cases) {
    Input in(c.bytes);
    testing::internal::CaptureStderr();
    for (const Step& s : c.steps) {
      if (s.n < 0) {
        DecodeFlush(&in.dec);
      } else {
        EXPECT_EQ(DecodeBits(&in.dec, s.n), s.value) << s.n;
      }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), Repeat(kPastEnd, c.pastEndErrors));
    EXPECT_EQ(in.dec.nPastEnd, static_cast<uint32_t>(c.pastEndErrors));
  }
}

TEST(BitReader, AgreesWithBitLevelReferenceOnRandomReads) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<uint8_t> bytes(rng() % 40);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    Input in(bytes);
    uint64_t pos = 0;
    uint64_t silentPastEnd = 0;  // byte-aligned arithmetic decoder fetches past the end
    testing::internal::CaptureStderr();
    for (int i = 0; i < 60; ++i) {
      const unsigned pick = rng() % 10;
      if (pick == 0) {
        DecodeFlush(&in.dec);
        pos = (pos + 7) / 8 * 8;
        continue;
      }
      if (pick == 1) {
        const bool aligned = pos % 8 == 0;
        if (aligned && pos / 8 >= bytes.size()) ++silentPastEnd;
        const int byte = MQMainIn(&in.dec);
        uint32_t want = 0;
        for (int k = 0; k < 8; ++k) want = (want << 1) | ReferenceBit(bytes, pos++);
        ASSERT_EQ(static_cast<uint32_t>(byte), want) << aligned;
        continue;
      }
      const int n = static_cast<int>(rng() % 90);
      uint32_t want = 0;
      for (int k = 0; k < n; ++k) want = (want << 1) | ReferenceBit(bytes, pos++);
      ASSERT_EQ(DecodeBits(&in.dec, n), want) << "round " << round << " read " << i << " n " << n;
    }
    testing::internal::GetCapturedStderr();
    const uint64_t fetched = (pos + 7) / 8;
    EXPECT_EQ(in.dec.nBytesRead, fetched);
    EXPECT_EQ(in.dec.nPastEnd, (fetched > bytes.size() ? fetched - bytes.size() : 0) - silentPastEnd);
  }
}

// Past the end of its data the arithmetic decoder reads 1-bits: the normal
// end of a stream whose final bytes were left out, so nothing is reported.
TEST(BitReader, ArithmeticDecoderReadsPastTheEndSilently) {
  const std::vector<uint8_t> bytes{0x12};
  Input in(bytes);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MQMainIn(&in.dec), 0x12);
  EXPECT_EQ(MQMainIn(&in.dec), 0xFF);
  EXPECT_EQ(MQMainIn(&in.dec), 0xFF);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(in.dec.nPastEnd, 0u);
  EXPECT_EQ(in.dec.nBytesRead, 3u);
}

TEST(BitReader, PastEndErrorsAreCappedPerRestart) {
  const std::vector<uint8_t> bytes{0x01};
  Input in(bytes);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeBits(&in.dec, 8), 0x01u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(DecodeBits(&in.dec, 8), 0xFFu);
  EXPECT_EQ(DecodeBits(&in.dec, 1 << 20), 0xFFFFFFFFu);  // a long skip past the end
  EXPECT_EQ(testing::internal::GetCapturedStderr(), Repeat(kPastEnd, static_cast<int>(kMaxPastEndMessages)));
  EXPECT_EQ(in.dec.nPastEnd, 20u + (1u << 17));
  EXPECT_EQ(in.dec.pCur, in.data.get() + 1);
  EXPECT_EQ(DecodeEOS(&in.dec), 1);

  InitDecoder(&in.dec, in.data.get(), 1);
  EXPECT_EQ(in.dec.nPastEnd, 0u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeBits(&in.dec, 16), 0x01FFu);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kPastEnd);
}

TEST(BitReader, EndOfStreamAndSkippingStayInRange) {
  Input empty({});
  EXPECT_EQ(DecodeEOS(&empty.dec), 1);

  Input in({0x11, 0x22, 0x33, 0x44, 0x55});
  const unsigned char* start = in.data.get();
  EXPECT_EQ(DecodeEOS(&in.dec), 0);
  EXPECT_EQ(DecodeBits(&in.dec, 12), 0x112u);
  DecSkipBytes(&in.dec, -1);  // back to the start of the partly read byte
  EXPECT_EQ(DecoderPtr(&in.dec), start + 1);
  EXPECT_EQ(DecodeBits(&in.dec, 8), 0x22u);

  const struct {
    long offset;
    long expected;  // position after skipping from position 2
  } skips[] = {{0, 2}, {2, 4}, {3, 5}, {4, 5}, {LONG_MAX, 5}, {-2, 0}, {-3, 0}, {LONG_MIN, 0}};
  for (const auto& s : skips) {
    InitDecoder(&in.dec, start, in.size);
    DecSkipBytes(&in.dec, 2);
    DecSkipBytes(&in.dec, s.offset);
    EXPECT_EQ(DecoderPtr(&in.dec) - start, s.expected) << s.offset;
  }
  InitDecoder(&in.dec, start, in.size);
  DecSkipBytes(&in.dec, 5);
  EXPECT_EQ(DecodeEOS(&in.dec), 1);
}

TEST(BitReader, TreeWalkIsBoundedAndReportsMismatches) {
  // A chain of 40 internal nodes along the 0 branch ending in a leaf: no code
  // is that long, so the walk stops after kMaxHuffPrefixLength bits.
  std::vector<HUFFNODE> chain(41);
  for (size_t i = 0; i + 1 < chain.size(); ++i) chain[i] = {0, &chain[i + 1], nullptr, 0};
  chain.back() = {1, nullptr, nullptr, 7};
  Input zeros(std::vector<uint8_t>(8, 0x00));
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeHuffTree(&zeros.dec, &chain[0]), 0);
  EXPECT_EQ(zeros.dec.nBytesRead, kMaxHuffPrefixLength / 8);
  // A 1 bit where the tree has no branch.
  Input ones({0xFF});
  EXPECT_EQ(DecodeHuffTree(&ones.dec, &chain[0]), 0);
  EXPECT_EQ(DecodeHuffTree(&ones.dec, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), Repeat("ERROR!   Decoding Huffman Code: No Prefix Match!\n", 3));
}

TEST(BitReader, DecodesRangeLinesAndOutOfBand) {
  HUFFTABLE tables[kNumStandardTables];
  InitializeHuffStandard(tables);
  const struct {
    int table;  // B.n
    std::vector<uint8_t> bytes;
    int32_t value;
    int oob;
  } cases[] = {
      {1, {0xE0, 0, 0, 0, 0}, 65808, 0},      // 111 + 32 zero bits: HTHIGH
      {3, {0xFF, 0, 0, 0, 0}, -257, 0},       // 11111111 + 32 zero bits: HTLOW - 1
      {3, {0xFF, 0, 0, 0, 1}, -258, 0},
      {3, {0xFE, 0}, -256, 0},                // 11111110 + 8 zero bits
      {3, {0xFC, 0, 0, 0, 0x0C}, 75 + 6, 0},  // 1111110 + 32 bits
      {2, {0xFC}, 0, 1},                      // 111111: OOB
      {8, {0x40}, 0, 1},                      // 01: OOB
      {2, {0xFB, 0xFF, 0xFF, 0xFF, 0xFC}, static_cast<int32_t>(75u + 0xFFFFFFFFu), 0},  // wraps to 32 bits
  };
  for (const auto& c : cases) {
    Input in(c.bytes);
    int oob = -1;
    EXPECT_EQ(DecodeHuff(&in.dec, &tables[c.table - 1], &oob), c.value) << "B." << c.table;
    EXPECT_EQ(oob, c.oob);
    EXPECT_EQ(in.dec.nPastEnd, 0u);
  }
  FreeHuffStandard(tables);
}
