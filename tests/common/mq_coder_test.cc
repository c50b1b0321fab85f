#include "common/mq_coder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// Byte sink and source for the coder's installed functions.
void AppendByte(void* param, int byte) { static_cast<std::vector<uint8_t>*>(param)->push_back(static_cast<uint8_t>(byte)); }

struct ByteSource {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
  uint32_t fillSeed = 0;  // bytes past the end: a pseudo-random tail
  size_t calls = 0;
};
int NextByte(void* param) {
  auto* src = static_cast<ByteSource*>(param);
  ++src->calls;
  if (src->pos < src->bytes.size()) return src->bytes[src->pos++];
  src->fillSeed = src->fillSeed * 1103515245u + 12345u;
  return static_cast<int>((src->fillSeed >> 16) & 0xFF);
}

struct Store {
  explicit Store(unsigned long n) : count(n) { CreateMQBuffer(&buffer, n); }
  ~Store() { DestroyMQBuffer(&buffer); }
  MQBUFFER buffer;
  unsigned long count;
};

struct Decision {
  uint32_t cx;
  int d;
};

// Decisions over `numContexts` contexts; each context has its own skewed
// probability of a 1 (some near 0, some near 1, some even).
std::vector<Decision> MakeDecisions(size_t n, uint32_t numContexts, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<double> p(numContexts);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (auto& v : p) {
    const double u = unit(rng);
    v = u < 0.3 ? u * u * 0.05 : (u < 0.6 ? 1.0 - u * u * 0.05 : unit(rng));
  }
  std::vector<Decision> out(n);
  for (auto& dec : out) {
    dec.cx = static_cast<uint32_t>(rng() % numContexts);
    dec.d = unit(rng) < p[dec.cx] ? 1 : 0;
  }
  return out;
}

using EncodeFn = void (*)(MQENCODER*, int, unsigned char*, unsigned char*);
using DecodeFn = int (*)(MQDECODER*, unsigned char*, unsigned char*);

std::vector<uint8_t> EncodeAll(const std::vector<Decision>& ds, uint32_t numContexts, EncodeFn encode,
                               unsigned long* returned = nullptr) {
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQSetOutFunction(&enc, AppendByte, &out);
  MQInitEnc(&enc);
  Store store(numContexts);
  for (const Decision& d : ds) encode(&enc, d.d, &store.buffer.pIndex[d.cx], &store.buffer.pMPS[d.cx]);
  const unsigned long n = MQFlush(&enc);
  if (returned) *returned = n;
  return out;
}

// Decodes the decisions back, reading a random tail after the stream, and
// returns how many input calls were made.
size_t ExpectDecodes(const std::vector<uint8_t>& bytes, const std::vector<Decision>& ds, uint32_t numContexts,
                     DecodeFn decode) {
  ByteSource src{bytes, 0, 0x1234u + static_cast<uint32_t>(ds.size()), 0};
  MQDECODER dec{};
  MQSetInFunction(&dec, NextByte, &src);
  MQInitDec(&dec);
  Store store(numContexts);
  for (size_t i = 0; i < ds.size(); ++i) {
    const int d = decode(&dec, &store.buffer.pIndex[ds[i].cx], &store.buffer.pMPS[ds[i].cx]);
    if (d != ds[i].d) {
      ADD_FAILURE() << "decision " << i << " of " << ds.size() << " differs";
      break;
    }
  }
  return src.calls;
}

std::vector<uint8_t> Hex(std::initializer_list<int> v) { return std::vector<uint8_t>(v.begin(), v.end()); }

TEST(MqCoder, EmptyStreamIsMarkerOnly) {
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQSetOutFunction(&enc, AppendByte, &out);
  MQInitEnc(&enc);
  EXPECT_EQ(MQFlush(&enc), 2u);
  EXPECT_EQ(out, Hex({0xFF, 0xAC}));
  // A second stream on the same record starts afresh.
  out.clear();
  MQInitEnc(&enc);
  EXPECT_EQ(MQFlush(&enc), 2u);
  EXPECT_EQ(out, Hex({0xFF, 0xAC}));
}

// Drives the byte output through RENORME with chosen register contents: each
// step makes one byte out of C. The byte formed in step k is emitted in step k+1.
void FormBytes(MQENCODER* enc, std::initializer_list<int> bytes) {
  for (int b : bytes) {
    // One doubling with CT = 1 takes out a byte; C then holds `b` at the
    // position the next byte is formed from (bit 20 after 0xFF, else 19).
    const uint32_t shift = enc->B == 0xFF ? 20 : 19;
    MQStoreRegs(enc, MQRegs{(static_cast<uint32_t>(b) << shift) >> 1, 0x4000, 1});
    MQRenormEnc(enc);
  }
}

TEST(MqCoder, HeldBackRunsAreWrittenInOrderOrDroppedAtTheEnd) {
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQSetOutFunction(&enc, AppendByte, &out);
  MQInitEnc(&enc);
  enc.bSkipByte = 0;
  enc.B = 0x12;
  FormBytes(&enc, {0xFF, 0x7F, 0xFF, 0x7F, 0x12});  // emits 12 FF 7F FF 7F
  EXPECT_EQ(out, Hex({0x12}));                      // the run is held
  EXPECT_EQ(enc.nHeldFF, 2u);
  EXPECT_EQ(enc.nHeld7F, 2u);
  FormBytes(&enc, {0x00});  // emits 12: releases the run first
  EXPECT_EQ(out, Hex({0x12, 0xFF, 0x7F, 0xFF, 0x7F, 0x12}));
  EXPECT_EQ(enc.lBytesOut, 6u);

  // A run still held when the stream ends is replaced by one 0xFF.
  out.clear();
  MQInitEnc(&enc);
  enc.bSkipByte = 0;
  enc.B = 0x12;
  FormBytes(&enc, {0xFF, 0x7F, 0xFF, 0x7F, 0xFF});  // 12 written, FF 7F FF 7F held, B = FF
  // All-one code bits: the flush forms only FF 7F FF, so everything is dropped.
  enc.C = 0x7FFFF;
  enc.A = 0x8000;
  enc.CT = 8;
  EXPECT_EQ(MQFlush(&enc), 3u);
  EXPECT_EQ(out, Hex({0x12, 0xFF, 0xAC}));
}

TEST(MqCoder, MarkerStopsInputAndSuppliesOnes) {
  const int kDecisions = 2000;
  auto decodeAll = [&](const std::vector<uint8_t>& bytes, ByteSource* src) {
    src->bytes = bytes;
    MQDECODER dec{};
    MQSetInFunction(&dec, NextByte, src);
    MQInitDec(&dec);
    Store store(4);
    std::vector<int> ds;
    for (int i = 0; i < kDecisions; ++i) ds.push_back(MQDecode(&dec, &store.buffer.pIndex[i & 3], &store.buffer.pMPS[i & 3]));
    return std::make_pair(ds, dec.bMarker);
  };
  struct Case {
    std::vector<uint8_t> bytes;
    size_t calls;  // input calls made, or 0 for "reads on"
    uint32_t marker;
  } cases[] = {
      {Hex({0xFF, 0x90}), 2, 1},
      {Hex({0xFF, 0xAC}), 2, 1},
      {Hex({0x00, 0x12, 0xFF, 0xFF}), 4, 1},
      {Hex({0xFF, 0x8F}), 0, 0},  // 0x8F after 0xFF is data
  };
  ByteSource ones;
  std::vector<uint8_t> allOnes;  // FF 7F FF 7F ... carries nothing but 1 bits
  for (int i = 0; i < 2000; ++i) allOnes.insert(allOnes.end(), {0xFF, 0x7F});
  const auto reference = decodeAll(allOnes, &ones);
  for (const Case& c : cases) {
    ByteSource src;
    src.fillSeed = 7;
    const auto result = decodeAll(c.bytes, &src);
    EXPECT_EQ(result.second, c.marker);
    if (c.calls) {
      EXPECT_EQ(src.calls, c.calls);
    } else {
      EXPECT_GT(src.calls, 100u);
    }
    if (c.bytes[0] == 0xFF && c.marker) {
      EXPECT_EQ(result.first, reference.first);
    }
  }
}

// A valid stream may code any number of decisions in a few bytes: a run of
// more probable symbols in the self-looping state (Qe = 1) moves the code
// value so little that the bytes that would carry it equal the 1-bits the
// decoder reads past the end, and the encoder leaves them out. No bound on
// decisions per byte of data holds for valid data.
TEST(MqCoder, LongUniformTailNeedsAlmostNoBytes) {
  const uint32_t kRun = 40000000;
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQSetOutFunction(&enc, AppendByte, &out);
  MQInitEnc(&enc);
  Store encStore(1);
  MQEncode(&enc, 1, encStore.buffer.pIndex, encStore.buffer.pMPS);
  for (uint32_t i = 0; i < kRun; ++i) MQEncode(&enc, 0, encStore.buffer.pIndex, encStore.buffer.pMPS);
  MQFlush(&enc);
  EXPECT_LT(out.size(), 16u);

  // Drop the terminating marker too: a decoder reading 1-bits past the end
  // must still find every decision.
  out.resize(out.size() - 2);
  ByteSource src;
  src.bytes = out;
  src.fillSeed = 0;
  MQDECODER dec{};
  MQSetInFunction(&dec, [](void* param) {
    auto* s = static_cast<ByteSource*>(param);
    return s->pos < s->bytes.size() ? static_cast<int>(s->bytes[s->pos++]) : 0xFF;
  }, &src);
  MQInitDec(&dec);
  Store decStore(1);
  ASSERT_EQ(MQDecode(&dec, decStore.buffer.pIndex, decStore.buffer.pMPS), 1);
  uint32_t wrong = 0;
  for (uint32_t i = 0; i < kRun; ++i) wrong += MQDecode(&dec, decStore.buffer.pIndex, decStore.buffer.pMPS) != 0;
  EXPECT_EQ(wrong, 0u);
}

TEST(MqCoder, RandomDecisionsRoundTripAndFastEqualsPlain) {
  struct Case {
    size_t n;
    uint32_t contexts;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {5, 3}, {17, 1}, {100, 4}, {1000, 16}, {50000, 1024}, {200000, 65536}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    for (int rep = 0; rep < (c.n < 1000 ? 200 : 3); ++rep) {
      SCOPED_TRACE(testing::Message() << "n=" << c.n << " contexts=" << c.contexts << " rep=" << rep);
      const auto ds = MakeDecisions(c.n, c.contexts, seed++);
      unsigned long returned = 0;
      const auto fast = EncodeAll(ds, c.contexts, MQEncode, &returned);
      const auto plain = EncodeAll(ds, c.contexts, MQEncodePlain);
      ASSERT_EQ(fast, plain);
      ASSERT_EQ(returned, fast.size());
      ASSERT_GE(fast.size(), 2u);
      EXPECT_EQ(fast[fast.size() - 1], 0xAC);
      EXPECT_EQ(fast[fast.size() - 2], 0xFF);
      const size_t fastCalls = ExpectDecodes(fast, ds, c.contexts, MQDecode);
      const size_t plainCalls = ExpectDecodes(fast, ds, c.contexts, MQDecodePlain);
      EXPECT_EQ(fastCalls, plainCalls);
      if (HasFailure()) return;
    }
  }
}

// Random bytes decoded by both decoders give the same decisions and reads.
TEST(MqCoder, FastAndPlainDecodersAgreeOnArbitraryInput) {
  std::mt19937 rng(99);
  for (int rep = 0; rep < 50; ++rep) {
    std::vector<uint8_t> bytes(64);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
    ByteSource a{bytes, 0, 5, 0}, b{bytes, 0, 5, 0};
    MQDECODER da{}, db{};
    MQSetInFunction(&da, NextByte, &a);
    MQSetInFunction(&db, NextByte, &b);
    MQInitDec(&da);
    MQInitDec(&db);
    Store sa(8), sb(8);
    for (int i = 0; i < 3000; ++i) {
      const int cx = static_cast<int>(rng() % 8);
      ASSERT_EQ(MQDecode(&da, &sa.buffer.pIndex[cx], &sa.buffer.pMPS[cx]),
                MQDecodePlain(&db, &sb.buffer.pIndex[cx], &sb.buffer.pMPS[cx]));
      ASSERT_EQ(a.calls, b.calls);
    }
  }
}

// T.88 Annex H.2: one context, decisions packed MSB first.
const std::vector<uint8_t> kH2Decisions = Hex({0x00, 0x02, 0x00, 0x51, 0x00, 0x00, 0x00, 0xC0, 0x03, 0x52, 0x87,
                                               0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x82, 0xC0, 0x20, 0x00, 0xFC, 0xD7,
                                               0x9E, 0xF6, 0xBF, 0x7F, 0xED, 0x90, 0x4F, 0x46, 0xA3, 0xBF});
const std::vector<uint8_t> kH2Coded = Hex({0x84, 0xC7, 0x3B, 0xFC, 0xE1, 0xA1, 0x43, 0x04, 0x02, 0x20,
                                           0x00, 0x00, 0x41, 0x0D, 0xBB, 0x86, 0xF4, 0x31, 0x7F, 0xFF,
                                           0x88, 0xFF, 0x37, 0x47, 0x1A, 0xDB, 0x6A, 0xDF, 0xFF, 0xAC});

std::vector<Decision> H2Decisions() {
  std::vector<Decision> ds;
  for (uint8_t byte : kH2Decisions)
    for (int bit = 7; bit >= 0; --bit) ds.push_back({0, (byte >> bit) & 1});
  return ds;
}

TEST(MqCoder, DecodesAnnexH2TestSequence) {
  const auto ds = H2Decisions();
  for (DecodeFn decode : {MQDecode, MQDecodePlain}) {
    ByteSource src{kH2Coded, 0, 0, 0};
    MQDECODER dec{};
    MQSetInFunction(&dec, NextByte, &src);
    MQInitDec(&dec);
    Store store(1);
    std::vector<uint8_t> decoded(kH2Decisions.size());
    for (size_t i = 0; i < ds.size(); ++i)
      decoded[i / 8] = static_cast<uint8_t>(decoded[i / 8] | decode(&dec, store.buffer.pIndex, store.buffer.pMPS) << (7 - i % 8));
    EXPECT_EQ(decoded, kH2Decisions);
    EXPECT_LE(src.calls, kH2Coded.size());  // the marker ends the reading
  }
}

TEST(MqCoder, EncodesAnnexH2Sequence) {
  // Our ending happens to give T.88's bytes for this sequence too.
  unsigned long returned = 0;
  EXPECT_EQ(EncodeAll(H2Decisions(), 1, MQEncode, &returned), kH2Coded);
  EXPECT_EQ(returned, kH2Coded.size());
}

TEST(MqCoder, StatsCostTablesFollowTheFormula) {
  for (int s = 0; s < kMQNumStates; ++s) {
    const double p = MQQe[s] / 43690.0;
    EXPECT_NEAR(MQLpsCost[s], -std::log2(p), 0.01) << s;
    EXPECT_NEAR(MQMpsCost[s], -std::log2(1.0 - p), 0.01) << s;
  }
  // Coding with statistics writes the same bytes, and the estimate tracks
  // the real size.
  const auto ds = MakeDecisions(100000, 256, 4242);
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQSetOutFunction(&enc, AppendByte, &out);
  MQInitEnc(&enc);
  Store store(256);
  double bits = 0;
  for (const Decision& d : ds) MQEncodeStats(&enc, d.d, &store.buffer.pIndex[d.cx], &store.buffer.pMPS[d.cx], &bits);
  MQFlush(&enc);
  EXPECT_EQ(out, EncodeAll(ds, 256, MQEncode));
  EXPECT_NEAR(bits, 8.0 * out.size(), 0.03 * 8.0 * out.size());
}

TEST(MqCoder, StoresStartAndResetToStateZero) {
  Store store(70000);
  for (unsigned long i = 0; i < store.count; ++i) ASSERT_EQ(store.buffer.pIndex[i] | store.buffer.pMPS[i], 0) << i;
  for (unsigned long i = 0; i < store.count; ++i) {
    store.buffer.pIndex[i] = 46;
    store.buffer.pMPS[i] = 1;
  }
  ResetMQBuffer(&store.buffer, 1000);
  EXPECT_EQ(store.buffer.pIndex[999] | store.buffer.pMPS[999], 0);
  EXPECT_EQ(store.buffer.pIndex[1000], 46);
  EXPECT_EQ(store.buffer.pMPS[1000], 1);
}

}  // namespace
