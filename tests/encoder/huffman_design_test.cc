#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "common/bit_writer.h"
#include "common/huffman_table.h"
#include "encoder/huffman_design.h"

namespace {

using Lengths = std::vector<unsigned long>;

Lengths PrefLen(const Lengths& counts) {
  Lengths lengths(counts.size(), 99);
  HuffFindPrefLen(counts.data(), lengths.data(), counts.size());
  return lengths;
}

// The construction as a literal group merge: scan the leaders for the two
// lightest (lower index first among equal weights), lengthen both groups by
// one, fold the second into the first.
Lengths GroupMergeLengths(const Lengths& counts) {
  const size_t n = counts.size();
  Lengths lengths(n, 0), weight(counts);
  std::vector<long> group(n);
  std::vector<bool> leader(n);
  unsigned long total = 0;
  size_t m = 0;
  for (size_t i = 0; i < n; ++i) {
    group[i] = static_cast<long>(i);
    leader[i] = counts[i] != 0;
    total += counts[i];
    m += leader[i];
  }
  if (m == 1) {
    for (size_t i = 0; i < n; ++i)
      if (leader[i]) lengths[i] = 1;
    return lengths;
  }
  for (; m > 1; --m) {
    long a = -1, b = -1;
    unsigned long wa = total + 1, wb = total + 1;
    for (size_t i = 0; i < n; ++i) {
      if (!leader[i] || weight[i] >= wb) continue;
      b = static_cast<long>(i), wb = weight[i];
      if (wb < wa) std::swap(a, b), std::swap(wa, wb);
    }
    for (size_t i = 0; i < n; ++i)
      if (counts[i] != 0 && (group[i] == a || group[i] == b)) ++lengths[i], group[i] = a;
    leader[b] = false;
    weight[a] = wa + wb;
  }
  return lengths;
}

// Kraft sum scaled by 2^maxLength: 2^maxLength exactly for a complete code.
uint64_t KraftSum(const Lengths& lengths, unsigned long maxLength) {
  uint64_t sum = 0;
  for (unsigned long l : lengths)
    if (l != 0) sum += uint64_t{1} << (maxLength - l);
  return sum;
}

uint64_t Cost(const Lengths& counts, const Lengths& lengths) {
  uint64_t cost = 0;
  for (size_t i = 0; i < counts.size(); ++i) cost += uint64_t{counts[i]} * lengths[i];
  return cost;
}

Lengths Fibonacci(size_t n) {
  Lengths f{1, 1};
  while (f.size() < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
  f.resize(n);
  return f;
}

TEST(HuffmanDesign, PrefixLengthExamples) {
  const struct {
    Lengths counts, lengths;
  } cases[] = {
      {{5, 0, 3}, {1, 0, 1}},
      {{1, 1, 2}, {2, 2, 1}},
      {{0, 0, 0}, {0, 0, 0}},
      {{0, 7, 0}, {0, 1, 0}},
      {{}, {}},
      {{3, 3, 3, 3}, {2, 2, 2, 2}},
      {{1, 2, 4, 8}, {3, 3, 2, 1}},
  };
  for (const auto& c : cases) EXPECT_EQ(PrefLen(c.counts), c.lengths);
}

TEST(HuffmanDesign, PrefixLengthsFollowTheGroupMergeTieBreaking) {
  // Small weights from a narrow range give many ties; the order in which
  // equal groups merge changes the lengths, so they must agree exactly.
  std::mt19937 rng(3);
  for (int round = 0; round < 300; ++round) {
    Lengths counts(1 + rng() % 60);
    for (auto& c : counts) c = rng() % 4 == 0 ? 0 : 1 + rng() % (round % 2 ? 3 : 200);
    ASSERT_EQ(PrefLen(counts), GroupMergeLengths(counts)) << "round " << round;
    Lengths limited(counts.size());
    HuffFindPrefLenLimited(counts.data(), limited.data(), counts.size(), kMaxSymbolIdCodeLength);
    EXPECT_EQ(limited, GroupMergeLengths(counts)) << "round " << round;
  }
}

TEST(HuffmanDesign, SkewedCountsAreLimitedToACompleteCode) {
  const struct {
    size_t n;
    unsigned long limit;
  } cases[] = {{40, kMaxSymbolIdCodeLength}, {35, kMaxRunCodeLength}, {33, 6}, {64, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n << " symbols, limit " << c.limit);
    Lengths counts = Fibonacci(c.n);
    std::reverse(counts.begin(), counts.end());  // heaviest first
    counts.insert(counts.begin() + 3, 0);        // an unused symbol keeps length 0
    const Lengths unlimited = PrefLen(counts);
    ASSERT_GT(*std::max_element(unlimited.begin(), unlimited.end()), c.limit);
    Lengths limited(counts.size());
    HuffFindPrefLenLimited(counts.data(), limited.data(), counts.size(), c.limit);
    EXPECT_LE(*std::max_element(limited.begin(), limited.end()), c.limit);
    EXPECT_EQ(KraftSum(limited, c.limit), uint64_t{1} << c.limit);
    EXPECT_EQ(limited[3], 0u);
    for (size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] == 0) continue;
      EXPECT_GE(limited[i], 1u);
      for (size_t j = 0; j < counts.size(); ++j)
        if (counts[j] > counts[i]) {
          EXPECT_LE(limited[j], limited[i]);  // heavier never longer
        }
    }
    EXPECT_GE(Cost(counts, limited), Cost(counts, unlimited));
  }
  // The limited code is optimal: on 64 symbols under 6 bits only one code fits.
  Lengths counts = Fibonacci(64), limited(64);
  HuffFindPrefLenLimited(counts.data(), limited.data(), 64, 6);
  EXPECT_EQ(limited, Lengths(64, 6));
}

TEST(HuffmanDesign, LimitedCodeHasTheLeastCost) {
  // Against every complete code of lengths <= 4 over 5 symbols by exhaustive
  // search: the limited construction reaches the least cost.
  const Lengths counts{1, 1, 2, 3, 40};
  Lengths limited(5);
  HuffFindPrefLenLimited(counts.data(), limited.data(), 5, 3);
  uint64_t best = UINT64_MAX;
  Lengths trial(5);
  for (int code = 0; code < 3 * 3 * 3 * 3 * 3; ++code) {
    int c = code;
    for (auto& l : trial) l = 1 + c % 3, c /= 3;
    if (KraftSum(trial, 3) <= 8) best = std::min(best, Cost(counts, trial));
  }
  EXPECT_LE(*std::max_element(limited.begin(), limited.end()), 3u);
  EXPECT_EQ(Cost(counts, limited), best);
}

struct Runs {
  Lengths codes, extras;
};

Runs RunLength(const Lengths& lengths) {
  Runs r{Lengths(lengths.size()), Lengths(lengths.size())};
  unsigned long n = 0;
  HuffFindRunLength35(lengths.data(), lengths.size(), r.codes.data(), r.extras.data(), &n);
  r.codes.resize(n);
  r.extras.resize(n);
  return r;
}

Lengths Repeat(unsigned long value, size_t times) { return Lengths(times, value); }
Lengths Join(Lengths a, const Lengths& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HuffmanDesign, RunLengthForm) {
  const struct {
    Lengths lengths, codes, extras;
  } cases[] = {
      {{5, 5, 5, 5, 5}, {5, 32}, {0, 1}},
      {Repeat(7, 8), {7, 32, 7}, {0, 3, 0}},
      {Repeat(0, 12), {34}, {1}},
      {{0, 0, 3}, {0, 0, 3}, {0, 0, 0}},
      {Repeat(0, 138), {34}, {127}},
      {Repeat(0, 139), {34, 0}, {127, 0}},
      {Repeat(0, 3), {33}, {0}},
      {Repeat(0, 10), {33}, {7}},
      {Repeat(0, 11), {34}, {0}},
      {{4, 4, 4}, {4, 4, 4}, {0, 0, 0}},
      {Repeat(4, 7), {4, 32}, {0, 3}},
      {{}, {}, {}},
      // T.88 7.4.3.1.7, Example 1.
      {{0, 0, 0, 9, 6, 6, 6, 6, 3, 4, 4, 4, 4, 4, 4, 0, 7, 9, 8, 7, 5, 5, 5, 5, 5, 5, 3, 6, 7, 4, 7, 7},
       {33, 9, 6, 32, 3, 4, 32, 0, 7, 9, 8, 7, 5, 32, 3, 6, 7, 4, 7, 7},
       {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const Runs r = RunLength(c.lengths);
    EXPECT_EQ(r.codes, c.codes);
    EXPECT_EQ(r.extras, c.extras);
  }
}

// Reads bits most significant first from a byte string.
class BitSource {
 public:
  explicit BitSource(const ENCODER& enc) : data_(enc.pBuffer, enc.pBuffer + enc.lSize) {}
  unsigned long Read(int n) {
    unsigned long v = 0;
    for (int i = 0; i < n; ++i, ++pos_) {
      EXPECT_LT(pos_ / 8, data_.size());
      if (pos_ / 8 >= data_.size()) return v;
      v = v << 1 | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
    }
    return v;
  }
  // Decodes one symbol of the code given by lengths and codes.
  unsigned long ReadCode(const Lengths& lengths, const Lengths& codes) {
    unsigned long value = 0;
    for (unsigned long len = 1; len <= 32; ++len) {
      value = value << 1 | Read(1);
      for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] == len && codes[s] == value) return s;
    }
    ADD_FAILURE() << "no code matches";
    return 0;
  }
  size_t BitPos() const { return pos_; }
  size_t Size() const { return data_.size(); }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

// Reads a symbol ID table back as T.88 7.4.3.1.7 describes.
Lengths ReadSymbolIdTable(BitSource* in, size_t nSymbols) {
  Lengths runLengths(kNumRunCodes), runCodes(kNumRunCodes);
  for (auto& l : runLengths) l = in->Read(4);
  HuffGetPrefCodes(runLengths.data(), runCodes.data(), kNumRunCodes);
  Lengths lengths;
  while (lengths.size() < nSymbols) {
    const unsigned long run = in->ReadCode(runLengths, runCodes);
    if (run < 32) {
      lengths.push_back(run);
    } else if (run == 32) {
      EXPECT_FALSE(lengths.empty());
      const unsigned long previous = lengths.empty() ? 0 : lengths.back();
      for (unsigned long i = in->Read(2) + 3; i > 0; --i) lengths.push_back(previous);
    } else {
      for (unsigned long i = run == 33 ? in->Read(3) + 3 : in->Read(7) + 11; i > 0; --i) lengths.push_back(0);
    }
  }
  EXPECT_EQ(lengths.size(), nSymbols);  // no run reaches past the last symbol
  EXPECT_EQ(in->Read(static_cast<int>((8 - in->BitPos() % 8) % 8)), 0u) << "padding to the byte boundary";
  return lengths;
}

struct Writer {
  ENCODER enc;
  Writer() {
    CreateEncoder(&enc, 64);
    InitEncoder(&enc);
  }
  ~Writer() { DestroyEncoder(&enc); }
};

TEST(HuffmanDesign, SymbolIdTableReadsBackAsWritten) {
  std::mt19937 rng(5);
  Lengths sparse(600, 0);
  for (size_t i = 0; i < sparse.size(); i += 1 + rng() % 200) sparse[i] = 1 + rng() % 9;
  Lengths random(250);
  for (auto& c : random) c = rng() % 3 == 0 ? 0 : 1 + rng() % 30;
  Lengths skewed = Fibonacci(45);  // unlimited lengths would reach 44
  const struct {
    const char* name;
    Lengths counts;
  } cases[] = {
      {"one symbol", {4}},
      {"one of many symbols used", {0, 0, 0, 9, 0}},
      {"uniform", Repeat(2, 17)},
      {"long zero runs", sparse},
      {"random", random},
      {"skewed beyond 31 bits", skewed},
      {"skewed with runs of equal lengths", Join(Join(Repeat(1, 40), skewed), Repeat(1, 40))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    const size_t n = c.counts.size();
    Lengths codes(n), lengths(n);
    EncodeSymbolIdHuffmanTable(&w.enc, c.counts.data(), n, codes.data(), lengths.data());
    EXPECT_EQ(w.enc.nBits, 0u);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(lengths[i] == 0, c.counts[i] == 0) << i;
    EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), kMaxSymbolIdCodeLength);
    BitSource in(w.enc);
    for (size_t r = 0; r < kNumRunCodes; ++r) EXPECT_LE(in.Read(4), kMaxRunCodeLength);
    BitSource again(w.enc);
    EXPECT_EQ(ReadSymbolIdTable(&again, n), lengths);
    EXPECT_EQ(again.BitPos(), again.Size() * 8);
    Lengths expectedCodes(n);
    HuffGetPrefCodes(lengths.data(), expectedCodes.data(), n);
    EXPECT_EQ(codes, expectedCodes);
  }
}

TEST(HuffmanDesign, SymbolIdTableOfTheAnnexExample) {
  // T.88 7.4.3.1.7, Example 2: the use counts give the lengths of Example 1,
  // and the table reads back to them.
  const Lengths counts{0, 0, 0, 1, 8, 8, 8, 8, 64, 32, 32, 32, 32, 32, 32, 0,
                       4, 1, 2, 4, 16, 16, 16, 16, 16, 16, 64, 8, 4, 32, 4, 4};
  const Lengths example{0, 0, 0, 9, 6, 6, 6, 6, 3, 4, 4, 4, 4, 4, 4, 0,
                        7, 9, 8, 7, 5, 5, 5, 5, 5, 5, 3, 6, 7, 4, 7, 7};
  Writer w;
  Lengths codes(32), lengths(32);
  EncodeSymbolIdHuffmanTable(&w.enc, counts.data(), 32, codes.data(), lengths.data());
  EXPECT_EQ(lengths, example);
  BitSource in(w.enc);
  EXPECT_EQ(ReadSymbolIdTable(&in, 32), lengths);
}

// Reads table segment data back as T.88 B.2 describes.
struct ReadTable {
  unsigned long htoob, htps, htrs;
  int32_t low, high;
  Lengths prefLen, rangeLen;
  unsigned long lower, upper, oob = 0;
};

ReadTable ReadTableSegment(const ENCODER& enc) {
  BitSource in(enc);
  ReadTable t{};
  const unsigned long flags = in.Read(8);
  EXPECT_EQ(flags & 0x80, 0u);
  t.htoob = flags & 1;
  t.htps = ((flags >> 1) & 7) + 1;
  t.htrs = ((flags >> 4) & 7) + 1;
  t.low = static_cast<int32_t>(in.Read(32));
  t.high = static_cast<int32_t>(in.Read(32));
  int64_t current = t.low;
  do {
    t.prefLen.push_back(in.Read(static_cast<int>(t.htps)));
    t.rangeLen.push_back(in.Read(static_cast<int>(t.htrs)));
    current += int64_t{1} << t.rangeLen.back();
  } while (current < t.high && t.prefLen.size() < 1000);
  t.lower = in.Read(static_cast<int>(t.htps));
  t.upper = in.Read(static_cast<int>(t.htps));
  if (t.htoob) t.oob = in.Read(static_cast<int>(t.htps));
  EXPECT_EQ((in.BitPos() + 7) / 8, in.Size());  // only padding follows
  return t;
}

TEST(HuffmanDesign, TableSegmentLayout) {
  // Table B.1 by hand: HTPS 2 (lengths up to 3), HTRS 5 (range lengths up to
  // 16): flags 0x42, HTLOW 0, HTHIGH 65808, then 1/4, 2/8, 3/16, lower 0,
  // upper 3, padding.
  HUFFDEF b1{0, 0, 65808, 0, 3, 0, 3};
  unsigned long pref[] = {1, 2, 3}, range[] = {4, 8, 16};
  Writer w;
  ASSERT_TRUE(EncodeTableSegmentData(&w.enc, &b1, pref, range));
  const std::vector<uint8_t> expected{0x42, 0, 0, 0, 0, 0, 0x01, 0x01, 0x10,
                                      0b01001001, 0b00100011, 0b10000001, 0b10000000};
  EXPECT_EQ(std::vector<uint8_t>(w.enc.pBuffer, w.enc.pBuffer + w.enc.lSize), expected);
}

TEST(HuffmanDesign, StandardTablesReadBackFromTableSegments) {
  HUFFTABLE tables[kNumStandardTables];
  InitializeHuffStandard(tables);
  for (int i = 0; i < kNumStandardTables; ++i) {
    SCOPED_TRACE(testing::Message() << "table B." << i + 1);
    const HUFFDEF* def = tables[i].pDef;
    Writer w;
    ASSERT_TRUE(EncodeTableSegmentData(&w.enc, def, tables[i].pPrefLen, tables[i].pRangeLen));
    const ReadTable t = ReadTableSegment(w.enc);
    EXPECT_EQ(t.htoob, def->bHTOOB);
    EXPECT_EQ(t.low, def->lHTLOW);
    EXPECT_EQ(t.high, def->lHTHIGH);
    EXPECT_EQ(t.prefLen, Lengths(tables[i].pPrefLen, tables[i].pPrefLen + def->nLines));
    EXPECT_EQ(t.rangeLen, Lengths(tables[i].pRangeLen, tables[i].pRangeLen + def->nLines));
    EXPECT_EQ(t.lower, def->lLowerPrefLen);
    EXPECT_EQ(t.upper, def->lUpperPrefLen);
    if (def->bHTOOB) {
      EXPECT_EQ(t.oob, def->lOOBPrefLen);
    }
  }
  FreeHuffStandard(tables);
}

TEST(HuffmanDesign, TableSegmentRefusesTablesAReaderWouldMisread) {
  unsigned long pref[] = {1, 2, 2}, range[] = {4, 4, 4};
  const struct {
    const char* name;
    HUFFDEF def;
    bool accepted;
  } cases[] = {
      {"lines end at HTHIGH", {1, -5, 43, 0, 0, 3, 3}, true},
      {"a single line past HTHIGH", {0, 5, 5, 0, 0, 0, 1}, true},
      {"reader stops before the last line", {0, 0, 32, 0, 0, 0, 3}, false},
      {"reader reads past the last line", {0, 0, 49, 0, 0, 0, 3}, false},
      {"no ordinary line", {0, 0, 0, 0, 0, 0, 0}, false},
      {"prefix length beyond 8 bits", {0, 0, 48, 256, 0, 0, 3}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    EXPECT_EQ(EncodeTableSegmentData(&w.enc, &c.def, pref, range), c.accepted);
    EXPECT_EQ(w.enc.lSize == 0, !c.accepted);
  }
  unsigned long wide[] = {33};
  HUFFDEF def{0, 0, 1, 0, 0, 0, 1};
  Writer w;
  EXPECT_FALSE(EncodeTableSegmentData(&w.enc, &def, pref, wide));
}

}  // namespace
