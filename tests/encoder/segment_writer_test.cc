#include "encoder/segment_writer.h"

#include "encoder/encode_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/segment_header.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::ParseJb2;

// A writer and empty segment tables for one test: the run state they live in.
class SegmentWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateEncoder(&state_.Encoder, 1024);
    InitEncoder(&state_.Encoder);
    state_.Segments.lPage = 1;
  }
  void TearDown() override {
    FreeSegmentTables(&state_.Segments);
    DestroyEncoder(&state_.Encoder);
  }
  // Finishes `count` empty segments of type 62 (extension).
  void AddEmptySegments(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      StartSegment(&enc_);
      FinishSegmentBasic(&enc_, kSegExtension, 0);
    }
  }
  std::vector<uint8_t> Header(uint32_t i) {
    const SEGMENT_TABLES& t = state_.Segments;
    return std::vector<uint8_t>(t.pHeader[i], t.pHeader[i] + t.lSizeHeader[i]);
  }
  std::vector<uint8_t> Data(uint32_t i) {
    const SEGMENT_TABLES& t = state_.Segments;
    return std::vector<uint8_t>(t.pData[i], t.pData[i] + t.lSizeData[i]);
  }
  bool WriteFile(const std::string& path, int sequential) {
    std::vector<unsigned char> bytes;
    return AssembleFile(&enc_, sequential, 1, &bytes) && WriteWholeFile(path.c_str(), bytes);
  }
  ENCODE_STATE state_{};
  ENCODER& enc_ = state_.Encoder;
};

TEST_F(SegmentWriterTest, RefPrevHeaderLayout) {
  AddEmptySegments(5);
  StartSegment(&enc_);
  EncodeBits(&enc_, 0xABCD, 16);
  FinishSegmentRefPrev(&enc_, kSegImmediateHalftoneRegion, 1);
  EXPECT_EQ(Header(5), (std::vector<uint8_t>{0, 0, 0, 5, 22, 0x21, 4, 1, 0, 0, 0, 2}));
  EXPECT_EQ(Data(5), (std::vector<uint8_t>{0xAB, 0xCD}));
  EXPECT_EQ(NextSegmentNumber(&enc_), 6u);
}

// The referred-to numbers take 1, 2 or 4 bytes by the referring segment's
// own number.
TEST_F(SegmentWriterTest, ReferredNumberWidthFollowsSegmentNumber) {
  struct Case {
    uint32_t number;
    std::vector<uint8_t> referredBytes;
  };
  const Case cases[] = {
      {256, {0xFF}},
      {257, {0x01, 0x00}},
      {65536, {0xFF, 0xFF}},
      {65537, {0x00, 0x01, 0x00, 0x00}},
  };
  uint32_t done = 0;
  for (const Case& c : cases) {
    AddEmptySegments(c.number - done);
    StartSegment(&enc_);
    FinishSegmentRefPrev(&enc_, kSegImmediateGenericRegion, 0);
    done = c.number + 1;
    std::vector<uint8_t> h = Header(c.number);
    ASSERT_EQ(h.size(), 4 + 1 + 1 + c.referredBytes.size() + 1 + 4) << c.number;
    EXPECT_EQ(std::vector<uint8_t>(h.begin() + 6, h.begin() + 6 + static_cast<long>(c.referredBytes.size())),
              c.referredBytes)
        << c.number;
  }
}

TEST_F(SegmentWriterTest, LongReferredFormAndLargePage) {
  AddEmptySegments(10);
  SEGMENT_INFO info{};
  info.lType = kSegImmediateTextRegion;
  info.lPage = 300;
  info.bRetain = 1;
  info.nReferred = 9;
  for (uint32_t i = 0; i < 9; ++i) {
    info.alReferred[i] = i;
    info.abReferredRetain[i] = i % 2;
  }
  StartSegment(&enc_);
  FinishSegment(&enc_, &info);
  // 7 << 29 | 9, then (9 + 1 + 7) / 8 = 2 bytes: this segment 1, referred
  // retains 0,1,0,1,... from bit 1 on; page 300 in 4 bytes (flag bit 6).
  EXPECT_EQ(Header(10), (std::vector<uint8_t>{0, 0, 0, 10, 0x46, 0xE0, 0, 0, 9, 0x55, 0x01, 0, 1, 2, 3, 4,
                                              5, 6, 7, 8, 0, 0, 1, 0x2C, 0, 0, 0, 0}));
}

// Segments after the dropped ones keep their data and move down, with their
// references to each other renumbered and those to earlier ones kept.
TEST_F(SegmentWriterTest, DroppedSegmentsLeaveTheLaterOnesRenumbered) {
  AddEmptySegments(2);  // 0 and 1 stay
  AddEmptySegments(3);  // 2 to 4 are dropped
  StartSegment(&enc_);  // 5 refers to 1
  EncodeBits(&enc_, 0x5A, 8);
  SEGMENT_INFO info{};
  info.lType = kSegImmediateGenericRegion;
  info.lPage = 1;
  info.nReferred = 1;
  info.alReferred[0] = 1;
  FinishSegment(&enc_, &info);
  StartSegment(&enc_);  // 6 refers to 5
  EncodeBits(&enc_, 0xA5, 8);
  FinishSegmentRefPrev(&enc_, kSegImmediateRefinementRegion, 0);

  DropSegments(&enc_, 2, 5);
  ASSERT_EQ(state_.Segments.nSegments, 4u);
  EXPECT_EQ(NextSegmentNumber(&enc_), 4u);
  EXPECT_EQ(Header(2), (std::vector<uint8_t>{0, 0, 0, 2, kSegImmediateGenericRegion, 0x20, 1, 1, 0, 0, 0, 1}));
  EXPECT_EQ(Data(2), (std::vector<uint8_t>{0x5A}));
  EXPECT_EQ(Header(3), (std::vector<uint8_t>{0, 0, 0, 3, kSegImmediateRefinementRegion, 0x20, 2, 1, 0, 0, 0, 1}));
  EXPECT_EQ(Data(3), (std::vector<uint8_t>{0xA5}));
  EXPECT_FALSE(state_.Segments.bFailed);
}

TEST_F(SegmentWriterTest, CommentDataEndsWithTwoZeroBytes) {
  const char* names[] = {"Source", "Version"};
  const char* values[] = {"ab", "1.0.0"};
  StartSegment(&enc_);
  EncodeComment(&enc_, names, values, 2);
  FinishSegmentBasic(&enc_, kSegExtension, 0);
  std::vector<uint8_t> expected = {0x20, 0, 0, 0};
  for (const char* s : {"Source", "ab", "Version", "1.0.0"}) {
    expected.insert(expected.end(), s, s + std::char_traits<char>::length(s));
    expected.push_back(0);
  }
  expected.push_back(0);
  EXPECT_EQ(Data(0), expected);
}

// More segments than any fixed table would hold, in both organisations.
TEST_F(SegmentWriterTest, ManySegmentsInBothOrganisations) {
  std::string dir = jb2test::MakeTempDir();
  for (int sequential = 0; sequential < 2; ++sequential) {
    FreeSegmentTables(&state_.Segments);
    state_.Segments.lPage = 1;
    for (uint32_t i = 0; i < 2000; ++i) {
      StartSegment(&enc_);
      EncodeBits(&enc_, i, 16);
      FinishSegmentBasic(&enc_, kSegExtension, 0);
    }
    StartSegment(&enc_);
    FinishSegmentBasic(&enc_, kSegEndOfFile, 1);
    std::string path = dir + "/many" + std::to_string(sequential) + ".jb2";
    ASSERT_TRUE(WriteFile(path, sequential));
    jb2test::WrittenFile file = ParseJb2(jb2test::ReadFileBytes(path));
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.sequential, sequential == 1);
    ASSERT_EQ(file.segments.size(), 2001u);
    for (uint32_t i = 0; i < 2000; i += 333) {
      EXPECT_EQ(file.segments[i].number, i);
      EXPECT_EQ(file.segments[i].data, (std::vector<uint8_t>{uint8_t(i >> 8), uint8_t(i)}));
    }
  }
}

// An output that cannot be created or completed leaves nothing under the
// output name and no temporary file either.
TEST_F(SegmentWriterTest, FailedWriteLeavesNoFile) {
  std::string dir = jb2test::MakeTempDir();
  std::filesystem::create_directory(dir + "/taken.jb2");
  const std::string targets[] = {dir + "/missing/out.jb2", dir + "/taken.jb2"};
  for (const std::string& target : targets) {
    AddEmptySegments(3);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteFile(target, 0)) << target;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR!   "), std::string::npos);
    FreeSegmentTables(&state_.Segments);
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/missing"));
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/taken.jb2"));
  size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir)) entries += e.exists();
  EXPECT_EQ(entries, 1u);  // only the directory that was there
}

TEST(SegmentHeader, ValidFileHeaderChecksTheIdString) {
  const unsigned char good[8] = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A};
  EXPECT_TRUE(ValidFileHeader(good));
  for (int i = 0; i < 8; ++i) {
    unsigned char bad[8];
    std::copy(good, good + 8, bad);
    bad[i] ^= 0x20;
    EXPECT_FALSE(ValidFileHeader(bad)) << i;
  }
}

}  // namespace
