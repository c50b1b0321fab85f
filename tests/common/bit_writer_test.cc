#include "common/bit_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "common/limits.h"

namespace {

// The plain writer: one EncodeBit per bit, most significant first. The
// byte-at-a-time EncodeBits must always produce the same bytes.
void EncodeBitsOneByOne(ENCODER* enc, unsigned long value, int n) {
  for (int i = n - 1; i >= 0; --i) EncodeBit(enc, i >= 64 ? 0 : static_cast<int>((value >> i) & 1));
}

std::vector<uint8_t> Written(const ENCODER& enc) { return {enc.pBuffer, enc.pBuffer + enc.lSize}; }

struct Writer {
  explicit Writer(unsigned long size = 16) { CreateEncoder(&enc, size); }
  ~Writer() { DestroyEncoder(&enc); }
  ENCODER enc;
};

}  // namespace

TEST(BitWriter, FieldsAndFlushGiveExactBytes) {
  struct Case {
    std::vector<std::pair<unsigned long, int>> fields;  // value, bits
    std::vector<uint8_t> bytes;                         // after EncodeFlush
  } cases[] = {
      {{{5, 3}}, {0xA0}},
      {{{0xFFFFFFFFul, 32}}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {{{0xAB, 8}}, {0xAB}},                               // aligned flush adds nothing
      {{}, {}},                                            // nothing written, nothing flushed
      {{{1, 1}, {0x12345678, 32}}, {0x89, 0x1A, 0x2B, 0x3C, 0x00}},
      {{{0x7F, 7}, {0xFFFFFFFFul, 32}}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
      {{{0x1234567890ul, 40}}, {0x12, 0x34, 0x56, 0x78, 0x90}},  // wider than 32 bits
      {{{0xFFFFFFFFFFFFFFFFul, 72}}, {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {{{0xFF, 0}, {3, -1}, {1, 2}}, {0x40}},              // n <= 0 writes nothing
      {{{0xFFFFFF00ul | 0x5, 3}}, {0xA0}},                 // only the low n bits count
  };
  for (const Case& c : cases) {
    Writer w;
    for (auto [value, n] : c.fields) EncodeBits(&w.enc, value, n);
    EncodeFlush(&w.enc);
    EncodeFlush(&w.enc);
    EXPECT_EQ(w.enc.nBits, 0u);
    EXPECT_EQ(Written(w.enc), c.bytes);
  }
}

TEST(BitWriter, FastPathMatchesBitByBitWriting) {
  std::mt19937 rng(12345);
  for (unsigned long initial : {1ul, 3ul, 64ul}) {  // small buffers grow many times
    Writer fast(initial), plain(initial);
    for (int i = 0; i < 20000; ++i) {
      const unsigned long value = (static_cast<unsigned long>(rng()) << 32) | rng();
      switch (rng() % 6) {
        case 0:
          EncodeBit(&fast.enc, static_cast<int>(value & 3));
          EncodeBit(&plain.enc, static_cast<int>(value & 3));
          break;
        case 1:
          EncodeFlush(&fast.enc);
          EncodeBitsOneByOne(&plain.enc, 0, static_cast<int>((8 - plain.enc.nBits) % 8));
          break;
        case 2:
          MQMainOut(&fast.enc, static_cast<int>(value));
          EncodeBitsOneByOne(&plain.enc, value & 0xFF, 8);
          break;
        default: {
          const int n = 1 + static_cast<int>(rng() % 32);
          EncodeBits(&fast.enc, value, n);
          EncodeBitsOneByOne(&plain.enc, value, n);
        }
      }
      ASSERT_EQ(fast.enc.nBits, plain.enc.nBits);
      ASSERT_EQ(fast.enc.lSize, plain.enc.lSize);
      ASSERT_EQ(fast.enc.lCapacity, plain.enc.lCapacity);
      ASSERT_EQ(fast.enc.pWrite, fast.enc.pBuffer + fast.enc.lSize);
    }
    EncodeFlush(&fast.enc);
    EncodeFlush(&plain.enc);
    EXPECT_EQ(Written(fast.enc), Written(plain.enc));
  }
}

TEST(BitWriter, RestartDropsPendingBits) {
  Writer w;
  EncodeBits(&w.enc, 0x7, 3);  // stale bits stay in the accumulator
  InitEncoder(&w.enc);
  EncodeBits(&w.enc, 0x1, 1);
  EncodeBits(&w.enc, 0x0, 7);
  EncodeBits(&w.enc, 0x1, 2);
  MQMainOut(&w.enc, 0x3FF);  // only the low 8 bits count
  EncodeFlush(&w.enc);
  EXPECT_EQ(Written(w.enc), (std::vector<uint8_t>{0x80, 0x7F, 0xC0}));
}

TEST(BitWriter, BufferDoublesWhenTheLastByteIsStored) {
  Writer w(0x80000);
  for (uint32_t i = 0; i + 1 < 0x80000; ++i) MQMainOut(&w.enc, static_cast<int>(i));
  EXPECT_EQ(w.enc.lCapacity, 0x80000u);
  EncodeBits(&w.enc, 0xAB, 8);
  EXPECT_EQ(w.enc.lCapacity, 0x100000u);
  EXPECT_EQ(w.enc.lSize, 0x80000u);
  EXPECT_EQ(w.enc.pBuffer[0x7FFFF], 0xAB);
  EXPECT_EQ(w.enc.pBuffer[0x1234], 0x34);

  Writer empty(0);  // a zero-sized writer still takes bytes
  EncodeBits(&empty.enc, 0xABCDEF, 24);
  EXPECT_EQ(Written(empty.enc), (std::vector<uint8_t>{0xAB, 0xCD, 0xEF}));
}

TEST(BitWriter, GrowthSaturatesInsteadOfWrapping) {
  const struct {
    uint32_t from, to;
  } cases[] = {
      {0, 1}, {1, 2}, {0x80000, 0x100000}, {0x7FFFFFFF, 0xFFFFFFFE},
      {0x80000000u, kMaxEncoderBytes}, {0xFFFFFFFEu, kMaxEncoderBytes}, {kMaxEncoderBytes, kMaxEncoderBytes},
  };
  for (const auto& c : cases) EXPECT_EQ(NextEncoderCapacity(c.from), c.to) << c.from;
}
