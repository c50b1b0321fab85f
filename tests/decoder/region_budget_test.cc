// The work bound of arithmetic region loops: decisions per byte of data, and
// few decisions once the MQ decoder has met the end of its data.
#include "decoder/region_budget.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using jb2dec::RegionBudget;

struct Fixture {
  std::vector<unsigned char> data = std::vector<unsigned char>(1000, 0x55);
  DECODER input{};
  MQDECODER mq{};
  Fixture() { InitDecoder(&input, data.data(), data.size()); }
};

TEST(RegionBudget, DecisionsAfterTheMarkerAreFewWorkIsNot) {
  Fixture f;
  RegionBudget budget(&f.input, &f.mq);
  // Before the marker a loop may spend up to 2^19 units per byte.
  budget.Spend(100 * kMqDecisionsAfterMarker);
  EXPECT_TRUE(budget.Allows());
  f.mq.bMarker = 1;
  EXPECT_TRUE(budget.Allows());
  // Pixels drawn are not decisions of the stream.
  budget.SpendWork(10 * kMqDecisionsAfterMarker);
  EXPECT_TRUE(budget.Allows());
  budget.Spend(kMqDecisionsAfterMarker);
  EXPECT_TRUE(budget.Allows());
  testing::internal::CaptureStderr();
  budget.Spend(1);
  EXPECT_FALSE(budget.Allows());
  EXPECT_FALSE(budget.Allows());  // stays stopped, with one message
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   Region Data Exhausted: Decoding Stopped\n");
}

TEST(RegionBudget, WithoutItsDecoderOnlyTheBytesBound) {
  Fixture f;
  f.mq.bMarker = 1;
  RegionBudget budget(&f.input);  // Huffman-coded loops, or predicted pixels
  const uint64_t limit = 2 * kMqDecisionsPerByte * (1000 + kMqSlackBytes);
  budget.Spend(limit);
  EXPECT_TRUE(budget.Allows());
  testing::internal::CaptureStderr();
  budget.SpendWork(1);
  EXPECT_FALSE(budget.Allows());
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
