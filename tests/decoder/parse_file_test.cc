// File parsing: both organisations, every header form, the segment tree and
// its messages, and damaged or hostile headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/limits.h"
#include "decoder/parse_file.h"
#include "tests/common/adaptive_pixels.h"
#include "tests/test_util.h"
#include "tests/toolkit/data_coders.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::FileBytes;
using jb2test::PageInfoData;
using jb2test::ParsedFile;
using jb2test::TestSegment;

TestSegment PageInfo(uint32_t number, uint32_t page = 1) {
  TestSegment s;
  s.number = number;
  s.type = 48;
  s.page = page;
  s.data = PageInfoData(16, 8, 0x01);
  return s;
}
TestSegment Simple(uint32_t number, uint32_t type, uint32_t page, std::vector<uint32_t> refs = {},
                   std::vector<uint8_t> data = {}) {
  TestSegment s;
  s.number = number;
  s.type = type;
  s.page = page;
  s.refs = std::move(refs);
  s.data = std::move(data);
  return s;
}

// Parses and returns stderr.
std::string ParseCapturing(const std::vector<uint8_t>& bytes, std::unique_ptr<ParsedFile>* out) {
  testing::internal::CaptureStderr();
  *out = std::make_unique<ParsedFile>(bytes);
  return testing::internal::GetCapturedStderr();
}

TEST(ParseFile, BothOrganisationsGiveTheSameRecords) {
  std::vector<TestSegment> segs = {PageInfo(0), Simple(1, 62, 1, {}, {1, 2, 3}), Simple(2, 49, 1),
                                   Simple(3, 51, 1)};
  for (bool sequential : {true, false}) {
    SCOPED_TRACE(sequential);
    std::unique_ptr<ParsedFile> pf;
    EXPECT_EQ(ParseCapturing(FileBytes(segs, sequential), &pf), "");
    ASSERT_EQ(pf->status(), 0);
    ASSERT_EQ(pf->file().nSegments, 4u);
    EXPECT_EQ(pf->seg(1).lType, 62u);
    EXPECT_EQ(pf->seg(1).lDataLength, 3u);
    EXPECT_EQ(pf->seg(1).pDataStart[2], 3);
    // Random access: the data parts follow all headers.
    const unsigned char* headersEnd = pf->bytes().data() + 13 + 4 * 11;
    if (!sequential) {
      EXPECT_GE(pf->seg(0).pDataStart, headersEnd);
    }
    ASSERT_EQ(pf->file().nPages, 1u);
    EXPECT_EQ(pf->file().pPages[0].nSegments, 4u);
    EXPECT_EQ(pf->file().pPages[0].Info.lWidth, 16u);
    EXPECT_EQ(pf->seg(3).pPageBitmap, &pf->file().pPages[0].Bitmap);
  }
}

TEST(ParseFile, SequentialSegmentsAfterEndOfFileAreRead) {
  std::unique_ptr<ParsedFile> pf;
  ParseCapturing(FileBytes({PageInfo(0), Simple(1, 51, 1), Simple(2, 62, 1, {}, {9})}, true), &pf);
  ASSERT_EQ(pf->file().nSegments, 3u);
  EXPECT_EQ(pf->seg(2).pDataStart[0], 9);
}

// Referred-to number widths follow the referring segment's number; five or
// more references take the long form with ceil((n + 1) / 8) retention bytes.
TEST(ParseFile, HeaderFormsAndNumberWidths) {
  struct Case {
    uint32_t number;
    uint32_t nRefs;
    bool widePage;
  } cases[] = {{1, 1, false},     {256, 2, false},  {257, 3, false},  {300, 5, false},  {65536, 7, true},
               {65537, 8, false}, {70000, 15, true}, {70001, 16, false}, {5, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.number << " refs " << c.nRefs);
    std::vector<TestSegment> segs;
    std::vector<uint32_t> refs;
    for (uint32_t j = 0; j < c.nRefs; ++j) {
      segs.push_back(Simple(c.number - c.nRefs + j, 0, 1));
      refs.push_back(segs.back().number);
    }
    TestSegment s = Simple(c.number, 62, 300, refs, {0xAB});
    s.widePage = c.widePage;
    segs.push_back(s);
    segs.push_back(Simple(c.number + 1, 51, 1));
    std::unique_ptr<ParsedFile> pf;
    ParseCapturing(FileBytes(segs, false), &pf);
    ASSERT_EQ(pf->file().nSegments, c.nRefs + 2);
    SEGMENT_HEADER& h = pf->seg(c.nRefs);
    EXPECT_EQ(h.lNumber, c.number);
    EXPECT_EQ(h.lPage, c.widePage ? 300u : 300u % 256);
    ASSERT_EQ(h.nReferred, c.nRefs);
    for (uint32_t j = 0; j < c.nRefs; ++j) EXPECT_EQ(h.pReferredNumbers[j], refs[j]);
    if (c.nRefs > 4) {
      for (uint32_t j = 0; j < c.nRefs; ++j) EXPECT_EQ(h.pReferredRetain[j], j % 2 == 0 ? 1 : 0) << j;
    }
    EXPECT_EQ(h.nSymbolDicts, c.nRefs);
    EXPECT_EQ(h.lDataLength, 1u);
    EXPECT_EQ(h.pDataStart[0], 0xAB);
    EXPECT_EQ(pf->seg(c.nRefs + 1).lType, 51u);
  }
}

// A generic region of unknown length ends with its marker and row count.
TEST(ParseFile, UnknownDataLength) {
  std::vector<uint8_t> mq = jb2test::RegionInfoData(8, 0xFFFFFFFF, 0, 0, 0);
  for (uint8_t b : {0x00, 0x03, 0xFF, 0xFD, 0xFF, 0x02, 0xFE, 0xFE, 0xFE, 0x12, 0xFF, 0x11, 0xFF, 0xAC}) mq.push_back(b);
  jb2test::PutU32(mq, 5);
  std::vector<uint8_t> mmr = jb2test::RegionInfoData(8, 0xFFFFFFFF, 0, 0, 0);
  for (uint8_t b : {0x01, 0x55, 0x10, 0x00, 0x00}) mmr.push_back(b);
  jb2test::PutU32(mmr, 7);
  const std::vector<uint8_t>* datas[] = {&mq, &mmr};
  for (const std::vector<uint8_t>* pdata : datas) {
    const std::vector<uint8_t>& data = *pdata;
    for (bool sequential : {true, false}) {
      TestSegment region = Simple(1, 38, 1, {}, data);
      region.unknownLength = true;
      std::unique_ptr<ParsedFile> pf;
      ParseCapturing(FileBytes({PageInfo(0), region, Simple(2, 51, 1, {}, {})}, sequential), &pf);
      ASSERT_EQ(pf->file().nSegments, 3u);
      EXPECT_TRUE(pf->seg(1).bUnknownLength);
      EXPECT_EQ(pf->seg(1).lDataLength, data.size());
      EXPECT_EQ(pf->seg(1).Region.lHeight, pdata == &mq ? 5u : 7u);
      EXPECT_EQ(pf->seg(2).lType, 51u);
    }
  }
}

TEST(ParseFile, SegmentTreeMessages) {
  struct Case {
    const char* name;
    std::vector<TestSegment> segs;
    std::string err;
  } cases[] = {
      {"unknown", {Simple(1, 38, 1, {7})}, "ERROR!   Segment Refers to Unknown Segment  [1]\n"},
      {"later segment", {Simple(1, 38, 1, {2}), Simple(2, 0, 1)}, "ERROR!   Segment Refers to Unknown Segment  [1]\n"},
      {"other page", {Simple(1, 0, 2), Simple(2, 4, 1, {1})},
       "Warning! Segment Refers to Segment on Different Page  [2]\n"},
      {"global", {Simple(1, 0, 0), Simple(2, 53, 0), Simple(3, 6, 1, {1, 2})}, ""},
      {"two pattern dicts", {Simple(1, 16, 1), Simple(2, 22, 1, {1, 1})},
       "ERROR!   Segment Refers to More than One Halftone Dictionary  [2]\n"},
      {"two intermediates", {Simple(1, 36, 1), Simple(2, 4, 1), Simple(3, 42, 1, {1, 2})},
       "ERROR!   Segment Refers to More than One Intermediate Segment [3]\n"},
      {"end of page", {Simple(1, 49, 1), Simple(2, 38, 1, {1})},
       "Warning! Ignored: Segment Refers to Unused Segment [2]\n"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.segs.insert(c.segs.begin(), PageInfo(0));
    c.segs.push_back(Simple(99, 51, 0));
    std::unique_ptr<ParsedFile> pf;
    EXPECT_EQ(ParseCapturing(FileBytes(c.segs, true), &pf), c.err);
  }
  std::unique_ptr<ParsedFile> pf;
  ParseCapturing(FileBytes({PageInfo(0), Simple(1, 36, 1), Simple(2, 16, 1), Simple(3, 53, 1),
                            Simple(4, 42, 1, {1, 2, 3})},
                           true),
                 &pf);
  EXPECT_EQ(pf->seg(4).pRegionRef, &pf->seg(1));
  EXPECT_EQ(pf->seg(4).pPatternDict, &pf->seg(2));
  ASSERT_EQ(pf->seg(4).nTables, 1u);
  EXPECT_EQ(pf->seg(4).ppTables[0], &pf->seg(3));
}

TEST(ParseFile, PageInformation) {
  TestSegment striped = PageInfo(0, 2);
  striped.data = PageInfoData(100, 0xFFFFFFFF, 0x01 | 0x04 | 0x10 | 0x40, 0x8000 | 50);
  TestSegment unstriped = PageInfo(1, 0);
  unstriped.data = PageInfoData(10, 0xFFFFFFFF, 0);
  std::unique_ptr<ParsedFile> pf;
  std::string err = ParseCapturing(FileBytes({striped, unstriped, Simple(2, 38, 0)}, true), &pf);
  EXPECT_EQ(err, "Warning! Unknown Height Requires Stripe\nWarning! Cannot have a Page #0\n");
  ASSERT_EQ(pf->file().nPages, 2u);
  const PAGE_INFO& info = pf->file().pPages[0].Info;
  EXPECT_EQ(pf->file().pPages[0].lPageNumber, 2u);
  EXPECT_EQ(info.lHeight, 0xFFFFFFFFu);
  EXPECT_EQ(info.lDefaultPixel, 1u);
  EXPECT_EQ(info.lCombOp, 2u);
  EXPECT_EQ(info.bCombOpOverride, 1u);
  EXPECT_EQ(info.bStriped, 1u);
  EXPECT_EQ(info.lMaxStripeSize, 50u);
  // Page 0 takes the segments of no page.
  EXPECT_EQ(pf->file().pPages[1].nSegments, 2u);
}

TEST(ParseFile, InvalidHeaderFails) {
  for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{}, std::vector<uint8_t>{0x97, 0x4A, 0x42, 0x32, 0x0E}}) {
    std::unique_ptr<ParsedFile> pf;
    std::string err = ParseCapturing(bytes, &pf);
    EXPECT_EQ(pf->status(), 1);
    EXPECT_NE(err.find("ERROR!   Invalid File Header\n"), std::string::npos);
  }
}

// Hostile headers: nothing is read beyond the data, no count drives work the
// data cannot back, and parsing always ends.
TEST(ParseFile, DamagedFilesStaySafe) {
  std::vector<uint8_t> good = FileBytes({PageInfo(0), Simple(1, 62, 1, {}, {1, 2, 3, 4}), Simple(2, 51, 1)}, false);
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    std::unique_ptr<ParsedFile> pf;
    ParseCapturing(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut)), &pf);
    testing::internal::CaptureStderr();
    if (pf->status() == 0) pf->Decode(1 << 16);
    testing::internal::GetCapturedStderr();
  }

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t segments;
    const char* message;
  };
  std::vector<uint8_t> manyRefs = FileBytes({PageInfo(0)}, true);
  std::vector<uint8_t> hugeRefs = manyRefs;
  for (uint8_t b : {0, 0, 0, 1, 38, 0xE0, 0x01, 0x00, 0x00, 0, 0}) manyRefs.push_back(b);
  for (uint8_t b : {0, 0, 0, 1, 38, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}) hugeRefs.push_back(b);
  std::vector<uint8_t> longData = FileBytes({PageInfo(0), Simple(1, 62, 1, {}, {1, 2})}, true);
  longData[longData.size() - 6] = 0x7F;  // data length 0x7F000002
  std::vector<uint8_t> noEof = FileBytes({PageInfo(0), Simple(1, 62, 1, {}, {1, 2})}, false);
  std::vector<uint8_t> noEofTrailing = noEof;
  noEofTrailing.push_back(0);
  Case cases[] = {
      {"referred count beyond the data", manyRefs, 1, "Segment Header past the End of the File"},
      {"referred count beyond the limit", hugeRefs, 1, "Too Many Referred-To Segments [1]"},
      {"data past the end", longData, 2, "Segment Data past the End of the File [1]"},
      {"random access without end of file", noEof, 2, "Missing End of File Segment"},
      {"random access without end of file, trailing byte", noEofTrailing, 0, "Missing End of File Segment"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ParsedFile> pf;
    std::string err = ParseCapturing(c.bytes, &pf);
    if (c.segments) {
      EXPECT_EQ(pf->file().nSegments, c.segments);
    }
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    testing::internal::CaptureStderr();
    pf->Decode(1 << 16);
    testing::internal::GetCapturedStderr();
  }
}

// One step over kMaxSegments: the list stops at the limit with one error.
TEST(ParseFile, SegmentCountLimit) {
  std::vector<uint8_t> bytes = FileBytes({}, true);
  for (uint32_t i = 0; i <= kMaxSegments; ++i) {
    auto h = jb2test::SegmentHeaderBytes(Simple(i, 62, 1));
    bytes.insert(bytes.end(), h.begin(), h.end());
  }
  std::unique_ptr<ParsedFile> pf;
  std::string err = ParseCapturing(bytes, &pf);
  EXPECT_EQ(pf->file().nSegments, kMaxSegments);
  EXPECT_EQ(err, "ERROR!   Too Many Segments\n");
}

}  // namespace

// Past page 255 page associations take four bytes (T.88 7.2.6). Each of 300
// pages carries a generic region showing its own number in binary, so a
// segment that reached another page, or page 0, shows on the wrong page.
TEST(ParseFile, ThreeHundredPagesEachGetTheirOwnSegments) {
  constexpr uint32_t kPages = 300, kBits = 9;
  std::vector<TestSegment> segs;
  uint32_t number = 0;
  for (uint32_t p = 1; p <= kPages; ++p) {
    TestSegment info = PageInfo(number++, p);
    info.data = PageInfoData(kBits, 1, 0);
    info.widePage = p > 255;
    segs.push_back(info);
    jb2test::OwnedBMP row({"........."});
    for (uint32_t b = 0; b < kBits; ++b) jb2test::SetPixel(row.get(), b, 0, (p >> (kBits - 1 - b)) & 1);
    std::vector<uint8_t> data = jb2test::RegionInfoData(kBits, 1, 0, 0, 0);
    data.push_back(0);  // template 0, arithmetic coding
    for (int k = 0; k < 4; ++k) {
      data.push_back(static_cast<uint8_t>(jb2test::kNominalAtX[k]));
      data.push_back(static_cast<uint8_t>(jb2test::kNominalAtY[k]));
    }
    jb2test::ArithSink sink(1);
    sink.Generic(row.get(), 0, jb2test::kNominalAtX, jb2test::kNominalAtY);
    const std::vector<uint8_t> coded = sink.Finish();
    data.insert(data.end(), coded.begin(), coded.end());
    TestSegment region = Simple(number++, 38, p, {}, data);
    region.widePage = p > 255;
    segs.push_back(region);
  }
  std::unique_ptr<ParsedFile> pf;
  EXPECT_EQ(ParseCapturing(FileBytes(segs, true), &pf), "");
  ASSERT_EQ(pf->file().nPages, kPages);
  testing::internal::CaptureStderr();
  pf->Decode();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  for (uint32_t p = 1; p <= kPages; ++p) {
    const JB2PAGE& page = pf->file().pPages[p - 1];
    EXPECT_EQ(page.lPageNumber, p);
    ASSERT_EQ(page.nSegments, 2u) << "page " << p;
    uint32_t shown = 0;
    for (uint32_t b = 0; b < kBits; ++b) shown = shown << 1 | jb2test::GetPixel(&page.Bitmap, b, 0);
    EXPECT_EQ(shown, p);
  }
}
