#include "common/integer_coding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

void AppendByte(void* param, int byte) { static_cast<std::vector<uint8_t>*>(param)->push_back(static_cast<uint8_t>(byte)); }

struct ByteSource {
  const std::vector<uint8_t>* bytes;
  size_t pos = 0;
};
int NextByte(void* param) {
  auto* src = static_cast<ByteSource*>(param);
  return src->pos < src->bytes->size() ? (*src->bytes)[src->pos++] : 0xFF;
}

struct Encoding {
  Encoding() {
    MQSetOutFunction(&enc, AppendByte, &out);
    MQInitEnc(&enc);
  }
  std::vector<uint8_t> out;
  MQENCODER enc{};
};

struct Decoding {
  explicit Decoding(const std::vector<uint8_t>& bytes) : src{&bytes} {
    MQSetInFunction(&dec, NextByte, &src);
    MQInitDec(&dec);
  }
  ByteSource src;
  MQDECODER dec{};
};

// Codes a bit string ("0 110 000101", blanks ignored) the way T.88 A.2 lays
// the bits of one integer on contexts: the context of a bit is a leading 1
// followed by the bits before it, keeping only the last eight once there are
// eight (and bit 8 set).
std::vector<uint8_t> EncodeBitString(const std::string& bits) {
  Encoding e;
  MQBUFFER store;
  CreateMQBuffer(&store, 512);
  uint32_t history = 0;
  int count = 0;
  for (char ch : bits) {
    if (ch == ' ') continue;
    const uint32_t cx = count < 8 ? (1u << count) | history : 256u | (history & 255u);
    const int d = ch == '1';
    MQEncode(&e.enc, d, &store.pIndex[cx], &store.pMPS[cx]);
    history = (history << 1) | static_cast<uint32_t>(d);
    ++count;
  }
  MQFlush(&e.enc);
  DestroyMQBuffer(&store);
  return e.out;
}

std::string Binary(uint32_t value, int width) {
  std::string s;
  for (int i = width - 1; i >= 0; --i) s += static_cast<char>('0' + ((value >> i) & 1));
  return s;
}

constexpr long kOOB = LONG_MIN;  // marks OOB in the tables below

std::vector<uint8_t> EncodeValue(long value, int proc = kIADT) {
  Encoding e;
  MQINT ia;
  CreateMQInt(&ia, 0, &e.enc);
  if (value == kOOB) {
    MQEncodeOOB(&ia.Proc[proc]);
  } else {
    MQEncodeInt(&ia.Proc[proc], value);
  }
  MQFlush(&e.enc);
  DestroyMQInt(&ia);
  return e.out;
}

TEST(IntegerCoding, BitPatternsFollowTableA1) {
  const std::string zeros32(32, '0');
  const struct {
    long value;
    std::string bits;
  } cases[] = {
      {0, "0 0 00"},
      {kOOB, "1 0 00"},
      {-1, "1 0 01"},
      {3, "0 0 11"},
      {4, "0 10 0000"},
      {-4, "1 10 0000"},
      {19, "0 10 1111"},
      {20, "0 110 000000"},
      {83, "0 110 111111"},
      {84, "0 1110 00000000"},
      {339, "0 1110 11111111"},
      {340, "0 11110 000000000000"},
      {4435, "0 11110 111111111111"},
      {4436, "0 11111 " + zeros32},
      {-4436, "1 11111 " + zeros32},
      {4437, "0 11111 " + std::string(31, '0') + "1"},
      {INT32_MAX, "0 11111 " + Binary(0x7FFFFFFFu - 4436, 32)},
      {INT32_MIN, "1 11111 " + Binary(0x80000000u - 4436, 32)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == kOOB ? std::string("OOB") : std::to_string(c.value));
    EXPECT_EQ(EncodeValue(c.value), EncodeBitString(c.bits));
  }
}

// Values around every range boundary, in both signs, with OOBs in between,
// spread over all thirteen procedures, then decoded back in the same order.
TEST(IntegerCoding, RoundTripsAcrossRangeBoundaries) {
  std::vector<long> values;
  for (long b : {0L, 4L, 20L, 84L, 340L, 4436L}) {
    for (long v : {b - 1, b, b + 1}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  for (long v : {65535L, 65536L, 1000000L, 0x7FFFFFFFL, -0x7FFFFFFFL, -0x80000000L, 0x7FFFEEABL}) values.push_back(v);
  values.push_back(kOOB);
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) {
    const int kind = static_cast<int>(rng() % 10);
    if (kind == 0) {
      values.push_back(kOOB);
    } else {
      const int bitsWide = 1 + static_cast<int>(rng() % 31);
      const long magnitude = static_cast<long>(rng() & ((1u << bitsWide) - 1));
      values.push_back(rng() & 1 ? -magnitude : magnitude);
    }
  }

  Encoding e;
  MQINT encInt;
  CreateMQInt(&encInt, 0, &e.enc);
  for (size_t i = 0; i < values.size(); ++i) {
    IAPROC* proc = &encInt.Proc[i % kIAID];
    if (values[i] == kOOB) {
      MQEncodeOOB(proc);
    } else {
      MQEncodeInt(proc, values[i]);
    }
  }
  MQFlush(&e.enc);
  DestroyMQInt(&encInt);

  Decoding d(e.out);
  MQINT decInt;
  CreateMQInt(&decInt, 0, &d.dec);
  for (size_t i = 0; i < values.size(); ++i) {
    int oob = -1;
    const int32_t got = MQDecodeInt(&decInt.Proc[i % kIAID], &oob);
    if (values[i] == kOOB) {
      ASSERT_EQ(oob, 1) << i;
      ASSERT_EQ(got, 0) << i;
    } else {
      ASSERT_EQ(oob, 0) << i;
      ASSERT_EQ(got, values[i]) << i;
    }
  }
  DestroyMQInt(&decInt);
}

TEST(IntegerCoding, SymbolIdentifiersRoundTripForEveryCodeLength) {
  std::mt19937 rng(11);
  for (unsigned long codeLen = 0; codeLen <= 16; ++codeLen) {
    SCOPED_TRACE(codeLen);
    const uint32_t limit = 1u << codeLen;
    std::vector<long> ids = {0, static_cast<long>(limit - 1)};
    for (int i = 0; i < 500; ++i) ids.push_back(static_cast<long>(rng() % limit));
    Encoding e;
    MQINT encInt;
    CreateMQInt(&encInt, codeLen, &e.enc);
    for (long id : ids) {
      MQEncodeInt(&encInt.Proc[kIAID], id);
      MQEncodeInt(&encInt.Proc[kIADS], id - 7);  // interleaved with another procedure
    }
    MQFlush(&e.enc);
    if (codeLen == 0) {
      // Identifiers take no bits at all; only IADS values are in the stream.
      Encoding only;
      MQINT onlyInt;
      CreateMQInt(&onlyInt, 0, &only.enc);
      for (long id : ids) MQEncodeInt(&onlyInt.Proc[kIADS], id - 7);
      MQFlush(&only.enc);
      DestroyMQInt(&onlyInt);
      EXPECT_EQ(e.out, only.out);
    }
    DestroyMQInt(&encInt);

    Decoding d(e.out);
    MQINT decInt;
    CreateMQInt(&decInt, codeLen, &d.dec);
    for (long id : ids) {
      int oob = -1;
      ASSERT_EQ(MQDecodeInt(&decInt.Proc[kIAID], &oob), id);
      ASSERT_EQ(oob, 0);
      ASSERT_EQ(MQDecodeInt(&decInt.Proc[kIADS], &oob), id - 7);
    }
    DestroyMQInt(&decInt);
  }
}

TEST(IntegerCoding, SymbolIdentifierBitsGoMostSignificantFirst) {
  const unsigned long codeLen = 5;
  const long id = 0x16;  // 10110
  Encoding e;
  MQINT ia;
  CreateMQInt(&ia, codeLen, &e.enc);
  MQEncodeInt(&ia.Proc[kIAID], id);
  const MQBUFFER& store = ia.Proc[kIAID].Contexts;
  uint32_t cx = 1;
  for (int bit = 4; bit >= 0; --bit) {
    const int expected = (id >> bit) & 1;
    ASSERT_NE(store.pIndex[cx], 0) << "context " << cx << " unused";
    EXPECT_EQ(store.pMPS[cx], expected) << "bit " << bit;  // first use of a fresh context
    cx = (cx << 1) | static_cast<uint32_t>(expected);
  }
  MQFlush(&e.enc);
  DestroyMQInt(&ia);
}

// The last range can carry 4436 + 2^32 - 1, which no 32-bit value reaches:
// a damaged stream decodes to the nearest 32-bit value, keeping its sign.
TEST(IntegerCoding, OutOfRangeValuesFromDamagedStreamsSaturate) {
  const struct {
    std::string bits;
    int32_t expected;
  } cases[] = {
      {"0 11111 " + std::string(32, '1'), INT32_MAX},
      {"1 11111 " + std::string(32, '1'), INT32_MIN},
      {"0 11111 " + Binary(0x80000000u - 4436, 32), INT32_MAX},  // exactly 2^31
      {"1 11111 " + Binary(0x80000001u - 4436, 32), INT32_MIN},  // -(2^31 + 1)
  };
  for (const auto& c : cases) {
    const auto bytes = EncodeBitString(c.bits);
    Decoding d(bytes);
    MQINT ia;
    CreateMQInt(&ia, 0, &d.dec);
    int oob = -1;
    EXPECT_EQ(MQDecodeInt(&ia.Proc[kIAFS], &oob), c.expected) << c.bits;
    EXPECT_EQ(oob, 0);
    DestroyMQInt(&ia);
  }
}

}  // namespace
