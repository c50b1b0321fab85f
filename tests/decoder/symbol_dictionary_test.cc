// Symbol dictionary segments: Huffman height classes with plain and MMR
// collective bitmaps, refinement of one symbol as T.88 6.5.8.2.2 codes it,
// export flags, and damaged counts and sums.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/mmr.h"
#include "tests/test_util.h"
#include "tests/toolkit/data_coders.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::ArithSink;
using jb2test::BitSink;
using jb2test::OwnedBMP;
using jb2test::ParsedFile;
using jb2test::TestSegment;
using jb2test::Tables;

std::vector<uint8_t> DictHeader(uint16_t flags, uint32_t numExported, uint32_t numNew) {
  std::vector<uint8_t> d;
  jb2test::PutU16(d, flags);
  jb2test::PutU32(d, numExported);
  jb2test::PutU32(d, numNew);
  return d;
}

// A file of global dictionaries (segments 0, 1, ...) each referring to all
// before it, and a 1 x 1 page so that the file has one.
std::vector<uint8_t> DictFile(const std::vector<std::vector<uint8_t>>& dicts) {
  std::vector<TestSegment> segs;
  for (uint32_t i = 0; i < dicts.size(); ++i) {
    TestSegment s;
    s.number = i;
    s.type = 0;
    s.page = 0;
    for (uint32_t r = 0; r < i; ++r) s.refs.push_back(r);
    s.data = dicts[i];
    segs.push_back(s);
  }
  TestSegment page;
  page.number = static_cast<uint32_t>(dicts.size());
  page.type = 48;
  page.data = jb2test::PageInfoData(1, 1, 0);
  segs.push_back(page);
  return jb2test::FileBytes(segs, true);
}

struct Decoded {
  std::string err;
  std::vector<std::vector<BMP>> exported;  // copies, per dictionary
  ~Decoded() {
    for (auto& d : exported)
      for (BMP& b : d) DestroyBMP(&b);
  }
};

void DecodeDicts(const std::vector<uint8_t>& file, Decoded* out) {
  ParsedFile pf(file);
  ASSERT_EQ(pf.status(), 0);
  testing::internal::CaptureStderr();
  pf.Decode();
  out->err = testing::internal::GetCapturedStderr();
  for (uint32_t i = 0; i < pf.file().nSegments; ++i) {
    if (pf.seg(i).lType != 0) continue;
    out->exported.emplace_back();
    for (uint32_t k = 0; k < pf.seg(i).nSymbols; ++k) {
      out->exported.back().emplace_back();
      CopyBMP(&out->exported.back().back(), &pf.seg(i).pSymbols[k]);
    }
  }
}

// A Huffman dictionary of one height class whose collective bitmap is
// stored plainly or MMR-coded with its size off by `sizeDelta` bytes.
std::vector<uint8_t> HuffmanClassDict(std::vector<BMP*> symbols, bool mmr, int sizeDelta) {
  BitSink bits;
  const uint32_t height = symbols[0]->lHeight;
  bits.Huff(Tables().B(4), height);
  uint32_t width = 0, previous = 0;
  for (BMP* s : symbols) {
    bits.Huff(Tables().B(2), static_cast<long>(s->lWidth) - previous);
    previous = s->lWidth;
    width += s->lWidth;
  }
  bits.OOB(Tables().B(2));
  BMP collective{};
  CreateBMP(&collective, width, height, 0);
  long x = 0;
  for (BMP* s : symbols) {
    CombineBMP(&collective, s, x, 0, kOpOr);
    x += s->lWidth;
  }
  std::vector<uint8_t> coded;
  if (mmr) {
    ENCODER enc;
    CreateEncoder(&enc, 1024);
    InitEncoder(&enc);
    MMREncode(&enc, &collective, 0);
    EncodeFlush(&enc);
    coded.assign(enc.pBuffer, enc.pBuffer + enc.lSize);
    DestroyEncoder(&enc);
    bits.Huff(Tables().B(1), static_cast<long>(coded.size()) + sizeDelta);
  } else {
    for (uint32_t y = 0; y < height; ++y)
      coded.insert(coded.end(), collective.pData + y * collective.lStride,
                   collective.pData + y * collective.lStride + collective.lBytesPerRow);
    bits.Huff(Tables().B(1), 0);
  }
  DestroyBMP(&collective);
  bits.Append(coded);
  if (sizeDelta > 0) bits.Append(std::vector<uint8_t>(static_cast<size_t>(sizeDelta), 0));
  bits.Huff(Tables().B(1), 0);
  bits.Huff(Tables().B(1), static_cast<long>(symbols.size()));
  bits.Align();
  auto d = DictHeader(0x0001, static_cast<uint32_t>(symbols.size()), static_cast<uint32_t>(symbols.size()));
  d.insert(d.end(), bits.bytes.begin(), bits.bytes.end());
  return d;
}

struct CollectiveCase {
  const char* name;
  bool mmr;
  int sizeDelta;
  const char* warning;  // expected in stderr, or null for none
};

class CollectiveBitmap : public testing::TestWithParam<CollectiveCase> {};

// Widths 3 and 6 give a 9-pixel collective bitmap: rows take whole bytes.
TEST_P(CollectiveBitmap, CutsIntoTheClassSymbols) {
  const CollectiveCase& c = GetParam();
  OwnedBMP a({"#.#", ".#.", "##."}), b({"######", "#....#", "..##.."});
  Decoded out;
  DecodeDicts(DictFile({HuffmanClassDict({a.get(), b.get()}, c.mmr, c.sizeDelta)}), &out);
  if (c.warning) EXPECT_NE(out.err.find(c.warning), std::string::npos) << out.err;
  else EXPECT_EQ(out.err, "");
  ASSERT_EQ(out.exported.size(), 1u);
  ASSERT_EQ(out.exported[0].size(), 2u);
  EXPECT_TRUE(jb2test::SamePixels(&out.exported[0][0], a.get()));
  EXPECT_TRUE(jb2test::SamePixels(&out.exported[0][1], b.get()));
}

INSTANTIATE_TEST_SUITE_P(Cases, CollectiveBitmap,
                         testing::Values(CollectiveCase{"Plain", false, 0, nullptr},
                                         CollectiveCase{"Mmr", true, 0, nullptr},
                                         // The reader goes on at the end of BMSIZE.
                                         CollectiveCase{"MmrShorterThanSize", true, 2,
                                                        "Skipping bits in MMR Segment"}),
                         [](const auto& info) { return std::string(info.param.name); });

// One new symbol refined from the single input symbol (T.88 6.5.8.2.2): ID,
// RDX, RDY, and with Huffman coding the data size before the byte-aligned
// refinement code; IDs have max(ceil(log2(1 + 1)), 1) = 1 bit.
std::vector<uint8_t> SingleRefinementDict(bool huffman, BMP* target, BMP* reference, long rdx, long rdy) {
  const long ratx[2] = {-1, -1}, raty[2] = {-1, -1};
  // SDREFAGG, SDRTEMPLATE 0 with its adaptive pixels; generic template 0
  // adaptive pixels (unused) when arithmetic.
  auto d = DictHeader(0, 0, 0);
  d.resize(2);
  d[1] = huffman ? 0x03 : 0x02;
  if (!huffman) {
    const uint8_t at[8] = {3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE};
    d.insert(d.end(), at, at + 8);
  }
  d.insert(d.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  jb2test::PutU32(d, 1);  // SDNUMEXSYMS
  jb2test::PutU32(d, 1);  // SDNUMNEWSYMS
  ArithSink arith(1);
  if (huffman) {
    BitSink bits;
    bits.Huff(Tables().B(4), target->lHeight);
    bits.Huff(Tables().B(2), target->lWidth);
    bits.Huff(Tables().B(1), 1);  // REFAGGNINST
    bits.Bits(0, 1);              // symbol ID 0
    bits.Huff(Tables().B(15), rdx);
    bits.Huff(Tables().B(15), rdy);
    arith.Refine(target, reference, rdx, rdy, 0, ratx, raty);
    auto coded = arith.Finish();
    bits.Huff(Tables().B(1), static_cast<long>(coded.size()));
    bits.Append(coded);
    bits.OOB(Tables().B(2));
    bits.Huff(Tables().B(1), 1);  // the input symbol is not exported
    bits.Huff(Tables().B(1), 1);
    bits.Align();
    d.insert(d.end(), bits.bytes.begin(), bits.bytes.end());
  } else {
    arith.Int(kIADH, target->lHeight);
    arith.Int(kIADW, target->lWidth);
    arith.Int(kIAAI, 1);
    MQEncodeInt(&arith.ints.Proc[kIAID], 0);
    arith.Int(kIARDX, rdx);
    arith.Int(kIARDY, rdy);
    arith.Refine(target, reference, rdx, rdy, 0, ratx, raty);
    arith.OOB(kIADW);
    arith.Int(kIAEX, 1);
    arith.Int(kIAEX, 1);
    auto coded = arith.Finish();
    d.insert(d.end(), coded.begin(), coded.end());
  }
  return d;
}

TEST(SymbolDictionary, RefinesOneSymbolWithoutTextRegionSyntax) {
  OwnedBMP input({"..##..", ".#..#.", ".####.", ".#..#."});
  OwnedBMP target({"...##...", "..#..#..", "..####..", "..#..#..", "..#..#.."});
  for (bool huffman : {true, false}) {
    SCOPED_TRACE(huffman ? "Huffman" : "arithmetic");
    Decoded out;
    DecodeDicts(DictFile({HuffmanClassDict({input.get()}, false, 0),
                          SingleRefinementDict(huffman, target.get(), input.get(), 1, 0)}),
                &out);
    EXPECT_EQ(out.err, "");
    ASSERT_EQ(out.exported.size(), 2u);
    ASSERT_EQ(out.exported[1].size(), 1u);
    EXPECT_TRUE(jb2test::SamePixels(&out.exported[1][0], target.get()));
  }
}

// Export runs with table B.1 after one height class of two 1 x 1 symbols
// (B.4 height 1, B.2 widths 1 and 0, plain collective bitmap).
std::vector<uint8_t> ExportDict(uint32_t numExported, uint32_t numNew, const std::vector<long>& runs,
                                uint16_t flags = 0x0001) {
  BitSink bits;
  bits.Huff(Tables().B(4), 1);
  bits.Huff(Tables().B(2), 1);
  bits.Huff(Tables().B(2), 0);
  bits.OOB(Tables().B(2));
  bits.Huff(Tables().B(1), 0);
  bits.Append({0x80});
  for (long r : runs) bits.Huff(Tables().B(1), r);
  bits.Align();
  auto d = DictHeader(flags, numExported, numNew);
  d.insert(d.end(), bits.bytes.begin(), bits.bytes.end());
  return d;
}

struct DamageCase {
  const char* name;
  std::vector<uint8_t> data;
  const char* error;
  size_t exported;
};

class DamagedDictionary : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedDictionary, StopsOrClipsWithAnError) {
  const DamageCase& c = GetParam();
  Decoded out;
  DecodeDicts(DictFile({c.data}), &out);
  EXPECT_NE(out.err.find(c.error), std::string::npos) << out.err;
  ASSERT_EQ(out.exported.size(), 1u);
  EXPECT_EQ(out.exported[0].size(), c.exported);
}

std::vector<uint8_t> WithBits(std::vector<uint8_t> header, void (*fill)(BitSink&)) {
  BitSink bits;
  fill(bits);
  bits.Align();
  header.insert(header.end(), bits.bytes.begin(), bits.bytes.end());
  return header;
}

std::vector<DamageCase> DamageCases() {
  std::vector<uint8_t> tinyArith = DictHeader(0x0000, 1, 0x80000000u);
  tinyArith.insert(tinyArith.begin() + 2, {3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE});
  tinyArith.resize(tinyArith.size() + 60, 0x55);
  return {
      {"NewSymbolCountBeyondTheData", tinyArith, "Too Many New Symbols for the Segment", 0},
      {"HuffmanCountBeyondTheData", ExportDict(2, 4000, {0, 2}), "Too Many New Symbols for the Segment", 0},
      // B.5 codes -1 as the first height difference.
      {"NegativeHeight", WithBits(DictHeader(0x0005, 1, 1), [](BitSink& b) { b.Huff(Tables().B(5), -1); }),
       "Invalid Height Class Height", 0},
      // B.3 codes -1 as the first width difference.
      {"NegativeWidth",
       WithBits(DictHeader(0x0011, 1, 1),
                [](BitSink& b) {
                  b.Huff(Tables().B(4), 1);
                  b.Huff(Tables().B(3), -1);
                }),
       "Invalid Symbol Width", 0},
      {"MoreSymbolsInAClassThanDeclared", ExportDict(1, 1, {0, 1}), "More Symbols than Declared", 0},
      {"ExportRunPastTheLastSymbol", ExportDict(2, 2, {0, 5}), "Export Run past the Last Symbol", 2},
      {"MoreExportedThanDeclared", ExportDict(1, 2, {0, 2}), "More Exported Symbols than Declared", 1},
      {"FewerExportedThanDeclared", ExportDict(3, 2, {0, 2}), "Fewer Exported Symbols than Declared", 2},
      // DH selection 3 asks for a table segment that is not there.
      {"MissingCustomTable", ExportDict(2, 2, {0, 2}, 0x000D), "No Custom Table Available", 0},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedDictionary, testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
