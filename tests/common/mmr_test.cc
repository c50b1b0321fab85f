#include "common/mmr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/limits.h"
#include "tests/test_util.h"

namespace {

using jb2test::SetPixel;

struct Bitmap {  // owns a BMP
  BMP b{};
  Bitmap(uint32_t w, uint32_t h) { CreateBMP(&b, w, h, 0); }
  Bitmap() = default;
  ~Bitmap() { if (b.pData) DestroyBMP(&b); }
};

void FillRun(BMP* bmp, long y, long x0, long x1) {
  for (long x = x0; x < x1; ++x) SetPixel(bmp, x, y, 1);
}

std::vector<uint8_t> Encode(BMP* bmp, int eofb) {
  ENCODER enc;
  CreateEncoder(&enc, 64);
  InitEncoder(&enc);
  MMREncode(&enc, bmp, eofb);
  std::vector<uint8_t> out(enc.pBuffer, enc.pBuffer + enc.lSize);
  DestroyEncoder(&enc);
  return out;
}

std::vector<uint8_t> FromBits(const std::string& bits) {
  std::vector<uint8_t> out((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return out;
}

std::string Bits(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t v : bytes)
    for (int k = 7; k >= 0; --k) s += static_cast<char>('0' + ((v >> k) & 1));
  return s;
}

class Mmr : public testing::Test {
 protected:
  MMRTREES trees{};
  void SetUp() override {
    testing::internal::CaptureStderr();
    InitializeMMR(&trees);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // every code table is prefix-free
  }
  void TearDown() override { FreeMMR(&trees); }
  // Decodes `data` into `out` (already sized and white); returns stderr. `used`
  // receives the bytes the reader consumed.
  std::string Decode(const std::vector<uint8_t>& data, BMP* out, int eofb, long* used = nullptr) {
    DECODER dec;
    InitDecoder(&dec, data.data(), data.size());
    testing::internal::CaptureStderr();
    MMRDecode(&dec, &trees, out, eofb);
    if (used) *used = DecoderPtr(&dec) - data.data();
    return testing::internal::GetCapturedStderr();
  }
  void ExpectRoundTrip(BMP* bmp, int eofb) {
    std::vector<uint8_t> data = Encode(bmp, eofb);
    Bitmap back(bmp->lWidth, bmp->lHeight);
    long used = 0;
    EXPECT_EQ(Decode(data, &back.b, eofb, &used), "");
    EXPECT_EQ(used, static_cast<long>(data.size()));
    EXPECT_TRUE(jb2test::SamePixels(bmp, &back.b)) << bmp->lWidth << "x" << bmp->lHeight;
  }
};

// A bitmap whose rows hold runs of every length from 0 to `maxRun` in both
// colours, each row below a white one so that they go through horizontal mode.
void MakeAllRuns(Bitmap* bm, long maxRun) {
  const long width = 2 * maxRun + 4;
  CreateBMP(&bm->b, width, 2 * (maxRun + 1), 0);
  for (long r = 0; r <= maxRun; ++r) {
    long y = 2 * r, white = r, black = maxRun - r;
    FillRun(&bm->b, y, white, white + black + 1);  // black run maxRun - r + 1
    FillRun(&bm->b, y, white + black + 2 + r, width);
  }
}

TEST_F(Mmr, ExactCodes) {
  struct Case { const char* name; uint32_t w, h; std::vector<long> runs; int eofb; std::string bits; };
  // runs: triples y, x0, x1 of black pixels.
  const Case cases[] = {
      {"all white: V0 per row", 13, 5, {}, 0, "11111"},
      {"black row of 10, then black row", 10, 2, {0, 0, 10, 1, 0, 10}, 0, "001" "00110101" "0000100" "11"},
      {"white 4357 then black 5", 4362, 1, {0, 4357, 4362}, 0,
       "001" "000000011111" "00000001000" "1100" "0011"},
      {"black 2629", 2629, 1, {0, 0, 2629}, 0, "001" "00110101" "000000011111" "0000001111" "0011"},
      {"pass, then V0", 16, 2, {0, 2, 4}, 0, "001" "0111" "11" "1" "0001" "1"},
      {"EOFB", 1, 1, {}, 1, "1" "000000000001000000000001"},
  };
  for (const Case& c : cases) {
    Bitmap bm(c.w, c.h);
    for (size_t i = 0; i < c.runs.size(); i += 3) FillRun(&bm.b, c.runs[i], c.runs[i + 1], c.runs[i + 2]);
    std::string bits = Bits(Encode(&bm.b, c.eofb));
    std::string want = c.bits + std::string((8 - c.bits.size() % 8) % 8, '0');
    EXPECT_EQ(bits, want) << c.name;
    ExpectRoundTrip(&bm.b, c.eofb);
  }
}

TEST_F(Mmr, SpareBitsDoNotChangeTheCode) {
  for (int lastBlack = 0; lastBlack < 2; ++lastBlack) {
    Bitmap clean(10, 2), dirty(10, 2);
    FillRun(&clean.b, 0, 3, 5);
    FillRun(&dirty.b, 0, 3, 5);
    if (lastBlack) {
      FillRun(&clean.b, 1, 6, 10);
      FillRun(&dirty.b, 1, 6, 10);
    }
    dirty.b.pData[1] |= 0x3F;
    dirty.b.pData[dirty.b.lStride + 1] |= 0x3F;
    EXPECT_EQ(Encode(&clean.b, 0), Encode(&dirty.b, 0)) << lastBlack;
  }
}

TEST_F(Mmr, RandomBitmapsRoundTrip) {
  std::mt19937 rng(7);
  for (uint32_t w : {1u, 7u, 8u, 9u, 17u, 33u, 65u, 1728u, 2560u, 5000u}) {
    uint32_t h = w > 1000 ? 12 : 40;
    for (double density : {0.0, 0.01, 0.3, 0.5, 0.97, 1.0}) {
      Bitmap bm;
      jb2test::MakeRandomBMP(&bm.b, w, h, density, rng, density > 0.4);
      ExpectRoundTrip(&bm.b, density > 0.2);
    }
    // Blocks: long runs that move a little from row to row (vertical and pass modes).
    Bitmap bm(w, 60);
    for (int k = 0; k < 30; ++k) {
      long x0 = rng() % w, x1 = x0 + rng() % (w / 4 + 2), y0 = rng() % 60, y1 = y0 + rng() % 20;
      for (long y = y0; y < y1 && y < 60; ++y) FillRun(&bm.b, y, x0 + (y % 3), std::min<long>(x1 + (y % 5), w));
    }
    ExpectRoundTrip(&bm.b, 0);
  }
}

TEST_F(Mmr, EveryRunLengthRoundTrips) {
  Bitmap bm;
  MakeAllRuns(&bm, 2700);
  ExpectRoundTrip(&bm.b, 1);
}

TEST_F(Mmr, EndOfBlock) {
  Bitmap two(20, 2);
  FillRun(&two.b, 0, 2, 9);
  FillRun(&two.b, 1, 3, 20);
  std::vector<uint8_t> data = Encode(&two.b, 1);
  // Met before the last row: decoding stops there, later rows stay white.
  Bitmap five(20, 5);
  long used = 0;
  EXPECT_EQ(Decode(data, &five.b, 1, &used), "");
  EXPECT_EQ(used, static_cast<long>(data.size()));
  for (long y = 0; y < 5; ++y)
    for (long x = 0; x < 20; ++x) EXPECT_EQ(jb2test::GetPixel(&five.b, x, y), jb2test::GetPixel(&two.b, x, y));
  // Expected but missing: only a warning, the bitmap stands.
  std::vector<uint8_t> plain = Encode(&two.b, 0);
  plain.push_back(0x80);  // V0 where the EOFB should be
  Bitmap back(20, 2);
  EXPECT_NE(Decode(plain, &back.b, 1).find("Warning! MMR: EOS was expected\n"), std::string::npos);
  EXPECT_TRUE(jb2test::SamePixels(&two.b, &back.b));
}

// Hostile streams: decoding ends, never writes outside the pixels (spare bits
// and the stride byte stay 0, checked by ASan for the rest) and reads a
// bounded distance past the end.
TEST_F(Mmr, CorruptStreamsTerminateSafely) {
  std::mt19937 rng(3);
  struct Case { const char* name; std::vector<uint8_t> data; uint32_t w, h; const char* message; };
  std::vector<Case> cases = {
      {"VL3 at the left edge", FromBits("0000010" "0000010"), 2, 3, "ERROR!   MMR: Changing element does not advance"},
      {"black run past the width", FromBits("001" "0111" "000000011111" "0000110111"), 9, 2,
       "ERROR!   Unexpected in MMR: Back Run beyond width boundary"},
      {"short data, tall bitmap", {0x00, 0x00}, 100, 100000, "ERROR!   MMR: Data ends before the last row"},
      {"no data", {}, 33, 1000, "ERROR!   MMR: Data ends before the last row"},
  };
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> noise(1 + rng() % 300);
    for (uint8_t& v : noise) v = static_cast<uint8_t>(rng() & (i % 2 ? 0xFF : 0x3C));
    cases.push_back({"noise", noise, 1 + static_cast<uint32_t>(rng() % 200), 1 + static_cast<uint32_t>(rng() % 300), ""});
  }
  for (const Case& c : cases) {
    Bitmap out(c.w, c.h);
    DECODER dec;
    InitDecoder(&dec, c.data.data(), c.data.size());
    testing::internal::CaptureStderr();
    MMRDecode(&dec, &trees, &out.b, 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.message), std::string::npos) << c.name << "\n" << err;
    EXPECT_LE(dec.nPastEnd, kMMRMaxBytesPastEnd + 4) << c.name;
    const size_t stop = err.find("MMR: Data ends before the last row");
    EXPECT_TRUE(stop == std::string::npos || err.find("MMR: Data", stop + 1) == std::string::npos) << c.name;
    for (uint32_t y = 0; y < c.h; ++y) {
      const unsigned char* row = out.b.pData + y * out.b.lStride;
      const unsigned spare = (c.w % 8) ? 0xFFu >> (c.w % 8) : 0u;
      EXPECT_EQ(row[out.b.lBytesPerRow - 1] & spare, 0u) << c.name;
      if (out.b.lStride > out.b.lBytesPerRow) {
        EXPECT_EQ(row[out.b.lStride - 1], 0) << c.name;
      }
    }
  }
}

// Another encoder's code: the MMR generic region of a corpus file decodes to
// the bitmap shipped with it.
TEST_F(Mmr, DecodesCorpusGenericRegion) {
  const std::string dir = JB2_TEST_DATA_DIR "/corpus/";
  std::vector<uint8_t> file = jb2test::ReadFileBytes(dir + "bitmap-mmr.jbig2");
  ASSERT_GT(file.size(), 13u);
  size_t pos = 13;  // sequential file header with a page count
  auto get32 = [&](size_t at) { return uint32_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]; };
  while (pos + 11 <= file.size()) {  // short headers: 1-byte referred-to count and page
    const int type = file[pos + 4] & 0x3F;
    const size_t refs = file[pos + 5] >> 5, data = pos + 11 + refs;
    const uint32_t length = get32(data - 4);
    if (type == 38 || type == 39) {
      ASSERT_EQ(file[data + 17], 1) << "MMR flag";
      Bitmap out(get32(data), get32(data + 4)), ref;
      std::vector<uint8_t> mmr(file.begin() + data + 18, file.begin() + data + length);
      EXPECT_EQ(Decode(mmr, &out.b, 0), "");
      ASSERT_EQ(LoadBMP((dir + "reference-bitmap.bmp").c_str(), &ref.b), 0);
      EXPECT_TRUE(jb2test::SamePixels(&out.b, &ref.b));
      return;
    }
    pos = data + length;
  }
  FAIL() << "no generic region";
}

// A peer decoder reads our code: a generic region segment with MMR in a
// minimal JBIG2 file, decoded by jbig2dec.
TEST_F(Mmr, PeerDecodesOurCode) {
  if (jb2test::RunCommand("command -v jbig2dec").exitStatus != 0) GTEST_SKIP() << "jbig2dec not installed";
  const std::string dir = jb2test::MakeTempDir();
  std::mt19937 rng(11);
  Bitmap runs, noise;
  MakeAllRuns(&runs, 2600);
  jb2test::MakeRandomBMP(&noise.b, 1001, 300, 0.1, rng, true);
  for (BMP* bmp : {&runs.b, &noise.b}) {
    std::vector<uint8_t> mmr = Encode(bmp, 0), file = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A, 1, 0, 0, 0, 1};
    auto put32 = [&](uint32_t v) { for (int s = 24; s >= 0; s -= 8) file.push_back(static_cast<uint8_t>(v >> s)); };
    auto segment = [&](uint32_t number, uint8_t type, uint32_t length) {
      put32(number), file.push_back(type), file.push_back(0), file.push_back(1), put32(length);
    };
    segment(0, 48, 19);  // page information
    put32(bmp->lWidth), put32(bmp->lHeight), put32(0), put32(0), file.insert(file.end(), {0, 0, 0});
    segment(1, 38, static_cast<uint32_t>(18 + mmr.size()));  // immediate generic region
    put32(bmp->lWidth), put32(bmp->lHeight), put32(0), put32(0), file.insert(file.end(), {0, 1});
    file.insert(file.end(), mmr.begin(), mmr.end());
    segment(2, 49, 0);  // end of page
    jb2test::WriteFileBytes(dir + "/t.jb2", file);
    jb2test::CommandResult r = jb2test::RunCommand("jbig2dec -t pbm -o t.pbm t.jb2", dir);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    Bitmap peer;
    ASSERT_TRUE(jb2test::LoadPBM(dir + "/t.pbm", &peer.b));
    EXPECT_TRUE(jb2test::SamePixels(bmp, &peer.b)) << bmp->lWidth;
  }
}

}  // namespace
