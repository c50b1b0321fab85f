// MPS runs against the same decisions made one at a time by the plain coder:
// a run is taken exactly when every decision in it would take the MPS path
// without renormalising, and then leaves the registers as they would.
#include "kernels/mq_runs.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "common/bit_reader.h"

namespace {

int NoInput(void*) {
  ADD_FAILURE() << "a run read input";
  return 0xFF;
}
void NoOutput(void*, int) { ADD_FAILURE() << "a run wrote output"; }

// Whether n plain decisions from these registers all return the MPS without
// renormalising; leaves the decoder after them in `after` when so.
bool PlainDecodeRun(MQDECODER dec, unsigned state, uint32_t n, MQDECODER* after) {
  std::vector<uint8_t> bytes(8, 0x55);
  DECODER input{};
  InitDecoder(&input, bytes.data(), bytes.size());
  MQSetInFunction(&dec, MQMainIn, &input);
  unsigned char index = static_cast<unsigned char>(state), mps = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t a = dec.A;
    if (MQDecodePlain(&dec, &index, &mps) != 0 || index != state || dec.A > a) return false;
  }
  *after = dec;
  return true;
}

struct Tally {
  int taken = 0;
  int refused = 0;
};

// A run must be taken exactly when the plain decisions made one, and then
// leave the plain coder's registers; refused, it must leave them as they were.
void CheckRun(bool got, bool expected, const MQRegs& r, const MQRegs& plain, const MQRegs& before, Tally& tally) {
  ASSERT_EQ(got, expected);
  const MQRegs& want = expected ? plain : before;
  EXPECT_EQ(r.C, want.C);
  EXPECT_EQ(r.A, want.A);
  EXPECT_EQ(r.CT, want.CT);
  ++(expected ? tally.taken : tally.refused);
}

TEST(MQRuns, DecodeRunIsExactlyTheRunOfPlainDecisions) {
  std::mt19937 rng(3);
  Tally tally;
  for (unsigned state = 0; state < kMQNumStates; ++state) {
    for (uint32_t n : {1u, 2u, 8u, 40u, 1000u}) {
      for (int trial = 0; trial < 40; ++trial) {
        MQDECODER dec{};
        MQSetInFunction(&dec, NoInput, nullptr);
        dec.A = 0x8000 + rng() % 0x8000;
        dec.C = (rng() % dec.A) << 16 | (rng() & 0xFFFF);  // the code value lies inside the interval
        dec.CT = 1 + rng() % 8;
        MQDECODER plain{};
        const bool expected = PlainDecodeRun(dec, state, n, &plain);
        SCOPED_TRACE(testing::Message() << "state " << state << " n " << n);
        MQRegs r = MQLoadRegs(&dec);
        const bool got = MQDecodeMPSRun(r, MQQe[state], n);
        CheckRun(got, expected, r, MQLoadRegs(&plain), MQLoadRegs(&dec), tally);
      }
    }
  }
  EXPECT_GT(tally.taken, 100);
  EXPECT_GT(tally.refused, 100);
}

TEST(MQRuns, EncodeRunIsExactlyTheRunOfPlainDecisions) {
  std::mt19937 rng(4);
  Tally tally;
  for (unsigned state = 0; state < kMQNumStates; ++state) {
    for (uint32_t n : {1u, 2u, 8u, 40u, 1000u}) {
      for (int trial = 0; trial < 40; ++trial) {
        MQENCODER enc{};
        MQSetOutFunction(&enc, NoOutput, nullptr);
        enc.A = 0x8000 + rng() % 0x8000;
        enc.C = rng() & 0x07FFFFFF;
        enc.CT = 1 + rng() % 12;
        // One plain decision at a time, watching for a renormalisation.
        MQENCODER plain = enc;
        std::vector<uint8_t> sink;
        MQSetOutFunction(&plain, [](void* p, int b) { static_cast<std::vector<uint8_t>*>(p)->push_back(uint8_t(b)); },
                         &sink);
        unsigned char index = static_cast<unsigned char>(state), mps = 0;
        bool expected = true;
        for (uint32_t i = 0; i < n && expected; ++i) {
          const uint32_t a = plain.A;
          MQEncodePlain(&plain, 0, &index, &mps);
          expected = index == state && plain.A < a;
        }
        SCOPED_TRACE(testing::Message() << "state " << state << " n " << n);
        MQRegs r = MQLoadRegs(&enc);
        const bool got = MQEncodeMPSRun(r, MQQe[state], n);
        CheckRun(got, expected, r, MQLoadRegs(&plain), MQLoadRegs(&enc), tally);
      }
    }
  }
  EXPECT_GT(tally.taken, 100);
  EXPECT_GT(tally.refused, 100);
}

}  // namespace
