// Text region segments: placement from every reference corner, transposed or
// not; strips, SBDSOFFSET, default pixel and operators; the run-coded symbol
// ID table; the Annex H stream's text parts; and damaged regions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A Huffman dictionary exporting `symbols` (given in order of height), one
// height class per height, plain collective bitmaps.
std::vector<uint8_t> PlainDict(const std::vector<BMP*>& symbols) {
  BitSink bits;
  uint32_t height = 0;
  for (size_t first = 0; first < symbols.size();) {
    size_t end = first;
    uint32_t width = 0;
    while (end < symbols.size() && symbols[end]->lHeight == symbols[first]->lHeight) width += symbols[end++]->lWidth;
    bits.Huff(Tables().B(4), static_cast<long>(symbols[first]->lHeight) - height);
    height = symbols[first]->lHeight;
    long previous = 0, x = 0;
    BMP collective{};
    CreateBMP(&collective, width, height, 0);
    for (size_t k = first; k < end; ++k) {
      bits.Huff(Tables().B(2), static_cast<long>(symbols[k]->lWidth) - previous);
      previous = symbols[k]->lWidth;
      CombineBMP(&collective, symbols[k], x, 0, kOpOr);
      x += symbols[k]->lWidth;
    }
    bits.OOB(Tables().B(2));
    bits.Huff(Tables().B(1), 0);
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < height; ++y)
      rows.insert(rows.end(), collective.pData + y * collective.lStride,
                  collective.pData + y * collective.lStride + collective.lBytesPerRow);
    DestroyBMP(&collective);
    bits.Append(rows);
    first = end;
  }
  bits.Huff(Tables().B(1), 0);
  bits.Huff(Tables().B(1), static_cast<long>(symbols.size()));
  bits.Align();
  std::vector<uint8_t> d;
  jb2test::PutU16(d, 0x0001);
  jb2test::PutU32(d, static_cast<uint32_t>(symbols.size()));
  jb2test::PutU32(d, static_cast<uint32_t>(symbols.size()));
  d.insert(d.end(), bits.bytes.begin(), bits.bytes.end());
  return d;
}

// The run code table in which every run code has a 6-bit code equal to its
// number (35 codes fit).
void EvenRunCodes(BitSink& bits) {
  for (int i = 0; i < 35; ++i) bits.Bits(6, 4);
}

struct Instance {
  long ds;  // IDS before the instance (ignored for the first of a strip)
  uint32_t curt;
  uint32_t id;
};
struct Strip {
  long dt, fs;  // DT as coded (STRIPT += DT x SBSTRIPS), DFS
  std::vector<Instance> instances;
};

struct TextLayout {
  uint32_t refCorner = 1, transposed = 0, combOp = 0, defPixel = 0, logStrips = 0;
  int dsOffset = 0;
  std::vector<Strip> strips;
};

// The data of a Huffman text region of w x h with standard tables and symbol
// IDs of `codeLen` bits each (run codes give every symbol that length).
std::vector<uint8_t> HuffmanText(uint32_t w, uint32_t h, const TextLayout& t, uint32_t numSymbols, int codeLen) {
  std::vector<uint8_t> d = jb2test::RegionInfoData(w, h, 0, 0, 0);
  const uint32_t flags = 1 | (t.logStrips << 2) | (t.refCorner << 4) | (t.transposed << 6) | (t.combOp << 7) |
                         (t.defPixel << 9) | ((static_cast<uint32_t>(t.dsOffset) & 0x1F) << 10);
  jb2test::PutU16(d, flags);
  jb2test::PutU16(d, 0);
  uint32_t count = 0;
  for (const Strip& s : t.strips) count += static_cast<uint32_t>(s.instances.size());
  jb2test::PutU32(d, count);
  BitSink bits;
  EvenRunCodes(bits);
  for (uint32_t i = 0; i < numSymbols; ++i) bits.Bits(static_cast<uint64_t>(codeLen), 6);
  bits.Align();
  // B.11 codes no 0: the initial STRIPT is -SBSTRIPS.
  bits.Huff(Tables().B(11), 1);
  for (const Strip& s : t.strips) {
    bits.Huff(Tables().B(11), s.dt);
    bits.Huff(Tables().B(6), s.fs);
    for (size_t k = 0; k < s.instances.size(); ++k) {
      if (k > 0) bits.Huff(Tables().B(8), s.instances[k].ds);
      bits.Bits(s.instances[k].curt, static_cast<int>(t.logStrips));
      bits.Bits(s.instances[k].id, codeLen);
    }
    bits.OOB(Tables().B(8));
  }
  bits.Align();
  d.insert(d.end(), bits.bytes.begin(), bits.bytes.end());
  return d;
}

// A page of w x h (default pixel 0) with the dictionary as segment 0 and the
// text region (type 6) referring to it as segment 2.
std::vector<uint8_t> TextFile(uint32_t w, uint32_t h, const std::vector<uint8_t>& dict,
                              const std::vector<uint8_t>& region) {
  TestSegment s0, s1, s2;
  s0.number = 0;
  s0.type = 0;
  s0.data = dict;
  s1.number = 1;
  s1.type = 48;
  s1.data = jb2test::PageInfoData(w, h, 0);
  s2.number = 2;
  s2.type = 6;
  s2.refs = {0};
  s2.data = region;
  return jb2test::FileBytes({s0, s1, s2}, true);
}

std::string DecodePage(const std::vector<uint8_t>& file, BMP* page) {
  ParsedFile pf(file);
  EXPECT_EQ(pf.status(), 0);
  testing::internal::CaptureStderr();
  pf.Decode();
  std::string err = testing::internal::GetCapturedStderr();
  if (pf.file().nPages == 1) CopyBMP(page, &pf.file().pPages[0].Bitmap);
  return err;
}

struct CornerCase {
  const char* name;
  uint32_t refCorner, transposed;
  long x1, y1, x2, y2;  // top-left corners of the two instances
};

class Placement : public testing::TestWithParam<CornerCase> {};

// Two instances of a 3 x 2 symbol in one strip: STRIPT -1 + 5 = 4, FIRSTS 5,
// IDS 1.
// The corners were worked out by hand from T.88 6.4.5 step 3c.
TEST_P(Placement, PutsTheReferenceCornerAtSAndT) {
  const CornerCase& c = GetParam();
  OwnedBMP symbol({"##.", "..#"});
  TextLayout t;
  t.refCorner = c.refCorner;
  t.transposed = c.transposed;
  t.strips = {{5, 5, {{0, 0, 0}, {1, 0, 0}}}};
  BMP page{};
  std::string err = DecodePage(TextFile(16, 16, PlainDict({symbol.get()}), HuffmanText(16, 16, t, 1, 1)), &page);
  EXPECT_EQ(err, "");
  BMP expected{};
  CreateBMP(&expected, 16, 16, 0);
  CombineBMP(&expected, symbol.get(), c.x1, c.y1, kOpOr);
  CombineBMP(&expected, symbol.get(), c.x2, c.y2, kOpOr);
  EXPECT_TRUE(jb2test::SamePixels(&page, &expected));
  DestroyBMP(&expected);
  DestroyBMP(&page);
}

INSTANTIATE_TEST_SUITE_P(Corners, Placement,
                         testing::Values(CornerCase{"TopLeft", 1, 0, 5, 4, 8, 4},
                                         CornerCase{"BottomLeft", 0, 0, 5, 3, 8, 3},
                                         CornerCase{"BottomRight", 2, 0, 5, 3, 8, 3},
                                         CornerCase{"TopRight", 3, 0, 5, 4, 8, 4},
                                         CornerCase{"TopLeftTransposed", 1, 1, 4, 5, 4, 7},
                                         CornerCase{"BottomLeftTransposed", 0, 1, 4, 5, 4, 7},
                                         CornerCase{"BottomRightTransposed", 2, 1, 2, 5, 2, 7},
                                         CornerCase{"TopRightTransposed", 3, 1, 2, 5, 2, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextRegion, StripsOffsetsDefaultPixelAndOperator) {
  OwnedBMP a({"#.", "##"}), b({"###", "#.#", "###"});
  // SBSTRIPS 4 (2 plain CURT bits), SBDSOFFSET -1 (field 0x1F), SBDEFPIXEL 1
  // with AND: the region starts black and each symbol clears its white
  // pixels; the page (OR) takes the region's black.
  TextLayout t;
  t.logStrips = 2;
  t.dsOffset = -1;
  t.defPixel = 1;
  t.combOp = kOpAnd;
  t.strips = {{2, 1, {{0, 1, 0}, {2, 3, 1}}}, {1, 0, {{0, 0, 1}}}};
  BMP page{};
  std::string err =
      DecodePage(TextFile(12, 12, PlainDict({a.get(), b.get()}), HuffmanText(12, 12, t, 2, 1)), &page);
  EXPECT_EQ(err, "");
  // Strip 1 (STRIPT -4 + 2 x 4 = 4): a at S 1, T 4 + 1; b at
  // S 1 + (2 - 1) + 2 - 1 = 3, T 4 + 3. Strip 2 (STRIPT 8): b at S 1, T 8.
  BMP expected{};
  CreateBMP(&expected, 12, 12, 1);
  CombineBMP(&expected, a.get(), 1, 5, kOpAnd);
  CombineBMP(&expected, b.get(), 3, 7, kOpAnd);
  CombineBMP(&expected, b.get(), 1, 8, kOpAnd);
  EXPECT_TRUE(jb2test::SamePixels(&page, &expected));
  DestroyBMP(&expected);
  DestroyBMP(&page);
}

// A region decoded straight on the page (full width, white rows below it)
// and one painted apart and combined (rows already drawn) give the page of
// T.88 7.4: instances are cut at the region's edges either way.
TEST(TextRegion, OnThePageOrApartTheSameComposition) {
  OwnedBMP b({"###", "#.#", "###"});
  auto region = [&](uint32_t y, uint32_t h, uint8_t op, long dt, long fs) {
    TextLayout t;
    t.strips = {{dt, fs, {{0, 0, 0}}}};
    std::vector<uint8_t> d = HuffmanText(12, h, t, 1, 1);
    d[15] = static_cast<uint8_t>(y);  // region y (low byte), then its operator
    d[16] = op;
    return d;
  };
  auto segment = [](uint32_t number, uint32_t type, std::vector<uint8_t> data) {
    TestSegment seg;
    seg.number = number;
    seg.type = type;
    seg.data = std::move(data);
    if (type == 6) seg.refs = {0};
    return seg;
  };
  // Rows 0-5 by OR, b at (1, 4) cut at row 6; rows 2-7 by XOR, b at (2, 3);
  // rows 8-11 by OR, b at (10, 10) cut at the page's right and bottom edges.
  const std::vector<uint8_t> file = jb2test::FileBytes(
      {segment(0, 0, PlainDict({b.get()})), segment(1, 48, jb2test::PageInfoData(12, 12, 0x40)),
       segment(2, 6, region(0, 6, kOpOr, 5, 1)), segment(3, 6, region(2, 6, kOpXor, 2, 2)),
       segment(4, 6, region(8, 4, kOpOr, 3, 10))},
      true);
  BMP page{};
  EXPECT_EQ(DecodePage(file, &page), "");
  BMP expected{}, apart{};
  CreateBMP(&expected, 12, 12, 0);
  const struct { uint32_t y, h; int op; long x, t; } placed[] = {
      {0, 6, kOpOr, 1, 4}, {2, 6, kOpXor, 2, 1}, {8, 4, kOpOr, 10, 2}};
  for (const auto& r : placed) {
    CreateBMP(&apart, 12, r.h, 0);
    CombineBMP(&apart, b.get(), r.x, r.t, kOpOr);
    CombineBMP(&expected, &apart, 0, r.y, r.op);
    DestroyBMP(&apart);
  }
  EXPECT_TRUE(jb2test::SamePixels(&page, &expected));
  DestroyBMP(&expected);
  DestroyBMP(&page);
}

// Symbol ID code lengths through run codes 32 (repeat), 33 and 34 (zeros):
// 40 symbols, only the first four and the last have codes.
TEST(TextRegion, SymbolIdTableRunCodes) {
  std::vector<OwnedBMP*> owned;
  std::vector<BMP*> symbols;
  for (int i = 0; i < 40; ++i) {
    owned.push_back(new OwnedBMP({i == 39 ? "###" : "#"}));
    symbols.push_back(owned.back()->get());
  }
  std::vector<uint8_t> region = jb2test::RegionInfoData(8, 4, 0, 0, 0);
  jb2test::PutU16(region, 0x0001);
  jb2test::PutU16(region, 0);
  jb2test::PutU32(region, 1);
  BitSink bits;
  EvenRunCodes(bits);
  bits.Bits(3, 6);                     // symbol 0: length 3
  bits.Bits(32, 6), bits.Bits(0, 2);   // symbols 1-3: repeat 3 times
  bits.Bits(34, 6), bits.Bits(14, 7);  // symbols 4-28: 25 zeros
  bits.Bits(33, 6), bits.Bits(7, 3);   // symbols 29-38: 10 zeros
  bits.Bits(2, 6);                     // symbol 39: length 2
  bits.Align();
  // Canonical codes (T.88 B.3): symbol 39 gets 00, symbols 0-3 get 010-101.
  bits.Huff(Tables().B(11), 1);
  bits.Huff(Tables().B(11), 1);
  bits.Huff(Tables().B(6), 2);
  bits.Bits(0, 2);
  bits.OOB(Tables().B(8));
  bits.Align();
  region.insert(region.end(), bits.bytes.begin(), bits.bytes.end());
  BMP page{};
  std::string err = DecodePage(TextFile(8, 4, PlainDict(symbols), region), &page);
  EXPECT_EQ(err, "");
  BMP expected{};
  CreateBMP(&expected, 8, 4, 0);
  CombineBMP(&expected, symbols[39], 2, 0, kOpOr);
  EXPECT_TRUE(jb2test::SamePixels(&page, &expected));
  DestroyBMP(&expected);
  DestroyBMP(&page);
  for (OwnedBMP* o : owned) delete o;
}

struct DamageCase {
  const char* name;
  std::vector<uint8_t> region;
  const char* error;
  int drawn;  // the symbol drawn before the damage reaches the page (-1: either)
  size_t numSymbols = 3;
};

class DamagedText : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedText, StopsWithAnError) {
  const DamageCase& c = GetParam();
  OwnedBMP symbol({"##", "##"});
  BMP page{};
  std::string err = DecodePage(TextFile(8, 8, PlainDict(std::vector<BMP*>(c.numSymbols, symbol.get())), c.region), &page);
  EXPECT_NE(err.find(c.error), std::string::npos) << err;
  if (c.drawn >= 0) {
    EXPECT_EQ(jb2test::GetPixel(&page, 0, 0), c.drawn);
  }
  DestroyBMP(&page);
}

std::vector<uint8_t> RegionWithBits(uint16_t flags, uint16_t huffFlags, uint32_t instances,
                                    void (*fill)(BitSink&)) {
  std::vector<uint8_t> d = jb2test::RegionInfoData(8, 8, 0, 0, 0);
  jb2test::PutU16(d, flags);
  if (flags & 1) jb2test::PutU16(d, huffFlags);
  jb2test::PutU32(d, instances);
  BitSink bits;
  fill(bits);
  bits.Align();
  d.insert(d.end(), bits.bytes.begin(), bits.bytes.end());
  return d;
}

std::vector<DamageCase> DamageCases() {
  // An arithmetic region declaring the most instances a region may have
  // over a few bytes: its data may code them all (past its end it reads
  // 1-bits), and drawing them stops once they overlap too much.
  ArithSink arith(0);
  for (int i = 0; i < 3; ++i) arith.Int(kIADT, 0);
  auto coded = arith.Finish();
  // A Huffman region declaring as many, with one strip of one instance: its
  // data runs out.
  TextLayout oneInstance;
  oneInstance.strips = {{1, 0, {{0, 0, 0}}}};
  std::vector<uint8_t> endlessHuffman = HuffmanText(8, 8, oneInstance, 3, 2);
  // SBNUMINSTANCES: the most a region may declare.
  endlessHuffman[17 + 4 + 0] = 0x01;
  endlessHuffman[17 + 4 + 1] = endlessHuffman[17 + 4 + 2] = endlessHuffman[17 + 4 + 3] = 0x00;
  std::vector<uint8_t> endless = jb2test::RegionInfoData(8, 8, 0, 0, 0);
  jb2test::PutU16(endless, 0x0000);
  jb2test::PutU32(endless, kMaxTextInstances);
  endless.insert(endless.end(), coded.begin(), coded.end());
  // IDs of two bits over three symbols: the second instance asks for ID 3.
  ArithSink ids(2);
  for (int i = 0; i < 3; ++i) ids.Int(i == 0 ? kIADT : i == 1 ? kIADT : kIAFS, 0);
  MQEncodeInt(&ids.ints.Proc[kIAID], 0);
  ids.Int(kIADS, 0);
  MQEncodeInt(&ids.ints.Proc[kIAID], 3);
  ids.OOB(kIADS);
  auto idCoded = ids.Finish();
  std::vector<uint8_t> beyond = jb2test::RegionInfoData(8, 8, 0, 0, 0);
  jb2test::PutU16(beyond, 0x0000);
  jb2test::PutU32(beyond, 2);
  beyond.insert(beyond.end(), idCoded.begin(), idCoded.end());
  return {
      // Four symbols: every 2-bit ID names one. What stops it depends on what
      // the MQ decoder makes of the missing data.
      {"EndlessArithmeticInstances", endless, "ERROR!", -1, 4},
      {"EndlessHuffmanInstances", endlessHuffman, "Region Data Exhausted", 1},
      // The first instance stays drawn.
      {"SymbolIdBeyondTheList", beyond, "Reference Symbol ID Too Large", 1},
      {"RepeatBeforeTheFirstLength",
       RegionWithBits(0x0001, 0, 1,
                      [](BitSink& b) {
                        EvenRunCodes(b);
                        b.Bits(32, 6), b.Bits(0, 2);
                      }),
       "Symbol ID Table Repeats a Length before the First", 0},
      {"MissingCustomTable", RegionWithBits(0x0001, 0x0003, 1, [](BitSink&) {}), "No Custom Table Available",
       0},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedText, testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A run that reaches past the last symbol is cut there, and the region is
// decoded: two symbols, length 1 then a repeat of at least 3.
TEST(TextRegion, SymbolIdRunPastTheLastSymbolIsCut) {
  OwnedBMP a({"#"}), b({"##"});
  auto region = RegionWithBits(0x0001, 0, 1, [](BitSink& bits) {
    EvenRunCodes(bits);
    bits.Bits(1, 6);
    bits.Bits(32, 6), bits.Bits(0, 2);
    bits.Align();
    bits.Huff(Tables().B(11), 1);
    bits.Huff(Tables().B(11), 1);
    bits.Huff(Tables().B(6), 3);
    bits.Bits(1, 1);  // symbol 1
    bits.OOB(Tables().B(8));
  });
  BMP page{};
  std::string err = DecodePage(TextFile(8, 8, PlainDict({a.get(), b.get()}), region), &page);
  EXPECT_NE(err.find("Symbol ID Table Run past the Last Symbol"), std::string::npos) << err;
  EXPECT_EQ(jb2test::GetPixel(&page, 3, 0), 1);
  EXPECT_EQ(jb2test::GetPixel(&page, 4, 0), 1);
  DestroyBMP(&page);
}

}  // namespace

namespace {

// The example stream of T.88 Annex H: every page matches its reference
// outside the halftone regions (decoded elsewhere). Its refinements with odd
// negative RDW and RDH need the floor halving of Table 12.
TEST(TextRegion, AnnexHTextParts) {
  const std::string dir = std::string(JB2_TEST_DATA_DIR) + "/corpus/annex-h/";
  ParsedFile pf(jb2test::ReadFileBytes(dir + "annex-h.jbig2"));
  ASSERT_EQ(pf.status(), 0);
  testing::internal::CaptureStderr();
  pf.Decode();
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(pf.file().nPages, 3u);
  for (uint32_t p = 0; p < 3; ++p) {
    BMP ref{};
    ASSERT_TRUE(jb2test::LoadPBM(dir + "annex-h.page" + std::to_string(p + 1) + ".pbm", &ref));
    BMP& page = pf.file().pPages[p].Bitmap;
    ASSERT_EQ(page.lWidth, ref.lWidth);
    ASSERT_EQ(page.lHeight, ref.lHeight);
    // Blank the halftone regions of this page in both.
    for (uint32_t i = 0; i < pf.file().pPages[p].nSegments; ++i) {
      const SEGMENT_HEADER* seg = pf.file().pPages[p].ppSegments[i];
      if (seg->lType != 20 && seg->lType != 22 && seg->lType != 23) continue;
      auto field = [&](int k) {
        const unsigned char* d = seg->pDataStart + 4 * k;
        return static_cast<uint32_t>(d[0] << 24 | d[1] << 16 | d[2] << 8 | d[3]);
      };
      ClearRegion(&page, field(2), field(3), field(0), field(1));
      ClearRegion(&ref, field(2), field(3), field(0), field(1));
    }
    EXPECT_TRUE(jb2test::SamePixels(&page, &ref)) << "page " << p + 1;
    DestroyBMP(&ref);
  }
}

}  // namespace
