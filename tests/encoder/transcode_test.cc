#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::Be32;
using jb2test::WrittenFile;
using jb2test::Sections;

struct Encoded {
  int result = -1;
  std::vector<uint8_t> bytes;
  WrittenFile file;
  std::string err;
};

Encoded Encode(BMP* image, Sections& sections) {
  std::string path = jb2test::MakeTempDir() + "/page.jb2";
  Encoded e;
  testing::internal::CaptureStderr();
  e.result = Transcode(image, 1, sections.data(), sections.size(), path.c_str());
  e.err = testing::internal::GetCapturedStderr();
  e.bytes = jb2test::ReadFileBytes(path);
  e.file = jb2test::ParseJb2(e.bytes);
  return e;
}

// A random page that is destroyed with the test.
struct Page {
  Page(uint32_t w, uint32_t h, unsigned seed = 1) {
    std::mt19937 rng(seed);
    jb2test::MakeRandomBMP(&bmp, w, h, 0.3, rng);
  }
  ~Page() { DestroyBMP(&bmp); }
  BMP bmp{};
};

std::vector<uint32_t> Types(const WrittenFile& f) {
  std::vector<uint32_t> t;
  for (auto& s : f.segments) t.push_back(s.type);
  return t;
}

TEST(Transcode, DefaultFileLayout) {
  Page page(100, 50);
  Sections sections;
  sections.Add();
  Encoded e = Encode(&page.bmp, sections);
  ASSERT_EQ(e.result, 0);
  ASSERT_GE(e.bytes.size(), 35u);
  const std::vector<uint8_t> head = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 1,
                                     0, 0, 0, 0, 0x3E, 0x00, 0x01};
  EXPECT_EQ(std::vector<uint8_t>(e.bytes.begin(), e.bytes.begin() + 20), head);
  const std::vector<uint8_t> pageInfoHeader = {0, 0, 0, 1, 0x30, 0x00, 0x01, 0, 0, 0, 0x13};
  EXPECT_EQ(std::vector<uint8_t>(e.bytes.begin() + 24, e.bytes.begin() + 35), pageInfoHeader);

  ASSERT_TRUE(e.file.ok);
  EXPECT_FALSE(e.file.sequential);
  EXPECT_EQ(e.file.pages, 1u);
  ASSERT_EQ(Types(e.file), (std::vector<uint32_t>{62, 48, 38, 49, 51}));
  const std::vector<bool> retain = {false, false, false, true, true};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(e.file.segments[i].number, i);
    EXPECT_EQ(e.file.segments[i].retain, retain[i]);
    EXPECT_EQ(e.file.segments[i].page, 1u);
    EXPECT_TRUE(e.file.segments[i].referred.empty());
  }
  EXPECT_EQ(e.file.segments[1].data,
            (std::vector<uint8_t>{0, 0, 0, 100, 0, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0x63, 0, 0}));
  const std::vector<uint8_t>& region = e.file.segments[2].data;
  EXPECT_EQ(std::vector<uint8_t>(region.begin(), region.begin() + 26),
            (std::vector<uint8_t>{0, 0, 0, 100, 0, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                  0x00, 0x03, 0xFF, 0xFD, 0xFF, 0x02, 0xFE, 0xFE, 0xFE}));
  EXPECT_TRUE(e.file.segments[3].data.empty());
  EXPECT_TRUE(e.file.segments[4].data.empty());
  const std::string source = "jbig2codec";
  const std::vector<uint8_t>& comment = e.file.segments[0].data;
  EXPECT_EQ(std::string(comment.begin() + 4, comment.end()),
            std::string("Source\0", 7) + source + std::string("\0Version\0" "1.0.0\0\0", 16));
}

TEST(Transcode, SequentialOrganisation) {
  Page page(30, 20);
  Sections sections;
  sections.Add({{"sequential", 1}});
  Encoded e = Encode(&page.bmp, sections);
  ASSERT_TRUE(e.file.ok);
  EXPECT_EQ(e.bytes[8], 0x01);
  // The comment's data follows its 11-byte header at once.
  EXPECT_EQ(Be32(&e.bytes[13 + 11]), 0x20000000u);
  EXPECT_EQ(Types(e.file), (std::vector<uint32_t>{62, 48, 38, 49, 51}));
}

// The generic region flags byte and AT bytes for each option.
TEST(Transcode, GenericRegionFlagsAndATBytes) {
  struct Case {
    Sections::Keys keys;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {{}, {0x00, 0x03, 0xFF, 0xFD, 0xFF, 0x02, 0xFE, 0xFE, 0xFE}},
      {{{"mmr", 1}}, {0x01}},
      {{{"template", 2}}, {0x04, 0x03, 0xFF}},
      {{{"template", 3}, {"tpdon", 1}}, {0x0E, 0x03, 0xFF}},
      {{{"template", 1}, {"atx1", -2}, {"aty1", -2}}, {0x02, 0xFE, 0xFE}},
      {{{"atx1", 200}}, {0x00, 0xC8, 0xFF, 0xFD, 0xFF, 0x02, 0xFE, 0xFE, 0xFE}},
      {{{"template", 9}}, {0x00, 0x03, 0xFF, 0xFD, 0xFF, 0x02, 0xFE, 0xFE, 0xFE}},
  };
  Page page(8, 1);
  for (const Case& c : cases) {
    Sections sections;
    sections.Add(c.keys);
    Encoded e = Encode(&page.bmp, sections);
    ASSERT_TRUE(e.file.ok);
    const std::vector<uint8_t>& data = e.file.segments[2].data;
    ASSERT_GT(data.size(), 17 + c.expected.size());
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + 17, data.begin() + 17 + static_cast<long>(c.expected.size())),
              c.expected)
        << unsigned(c.expected[0]);
  }
}

struct StripeCase {
  const char* name;
  uint32_t width, height;
  int32_t x0, y0;  // section origin (the section reaches the page's far corner)
  int32_t stripe;
  uint32_t pageHeight;       // written in the page information
  uint16_t stripingField;
  std::vector<uint32_t> regionY;  // page rows of the regions
  std::vector<uint32_t> regionH;
  std::vector<uint32_t> endRows;  // end-of-stripe rows
  bool error;
};

TEST(Transcode, StripeLayouts) {
  const StripeCase cases[] = {
      {"remainder", 20, 40, 0, 0, 16, 0xFFFFFFFF, 0x8010, {0, 16, 32}, {16, 16, 8}, {15, 31, 39}, false},
      {"exact", 20, 32, 0, 0, 16, 0xFFFFFFFF, 0x8010, {0, 16}, {16, 16}, {15, 31}, false},
      {"default 1024", 9, 2100, 0, 0, 1, 0xFFFFFFFF, 0x8400, {0, 1024, 2048}, {1024, 1024, 52},
       {1023, 2047, 2099}, false},
      // Coded unstriped on a striped page: one end of stripe gives the height;
      // the maximum stripe size is at most the page's height, since a reader
      // may make a page of unknown height one maximum stripe tall at least.
      {"1024 with origin", 9, 40, 0, 10, 1, 0xFFFFFFFF, 0x8028, {10}, {30}, {39}, true},
      {"taller than the page", 20, 10, 0, 0, 64, 0xFFFFFFFF, 0x800A, {0}, {10}, {9}, false},
      {"offset section", 40, 60, 5, 20, 16, 0xFFFFFFFF, 0x8010, {20, 36, 52}, {16, 16, 8}, {35, 51, 59}, false},
      {"too large", 20, 40, 0, 0, 40000, 40, 0, {0}, {40}, {}, true},
      {"negative", 20, 40, 0, 0, -3, 40, 0, {0}, {40}, {}, true},
  };
  for (const StripeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Page page(c.width, c.height);
    jb2test::ClearOutside(&page.bmp, c.x0, c.y0, c.width, c.height);  // else a generic region codes the rest
    Sections sections;
    sections.Add(0, c.x0, c.y0, 0, 0, {{"stripe", c.stripe}});
    Encoded e = Encode(&page.bmp, sections);
    ASSERT_TRUE(e.file.ok);
    EXPECT_EQ(e.err.find("ERROR!   Invalid Stripe Settings - Ignoring STRIPE") != std::string::npos, c.error);
    const std::vector<uint8_t>& info = e.file.segments[1].data;
    EXPECT_EQ(Be32(&info[4]), c.pageHeight);
    EXPECT_EQ((info[17] << 8) | info[18], c.stripingField);
    std::vector<uint32_t> regionY, regionH, endRows;
    for (auto& s : e.file.segments) {
      if (s.type == 38) {
        EXPECT_EQ(Be32(&s.data[0]), c.width - c.x0);
        EXPECT_EQ(Be32(&s.data[8]), uint32_t(c.x0));
        regionH.push_back(Be32(&s.data[4]));
        regionY.push_back(Be32(&s.data[12]));
      } else if (s.type == 50) {
        ASSERT_EQ(s.data.size(), 4u);
        endRows.push_back(Be32(&s.data[0]));
      }
    }
    EXPECT_EQ(regionY, c.regionY);
    EXPECT_EQ(regionH, c.regionH);
    EXPECT_EQ(endRows, c.endRows);
  }
}

// Rectangles are clipped to the page; one with nothing on the page is skipped.
TEST(Transcode, SectionsAreClippedToThePage) {
  Page page(100, 50);
  Sections sections;
  sections.Add(0, 200, 0, 300, 10).Add(0, -10, 40, 150, 80).Add(0, 0, 0, 100, 40);
  Encoded e = Encode(&page.bmp, sections);
  ASSERT_EQ(e.result, 0);
  ASSERT_EQ(Types(e.file), (std::vector<uint32_t>{62, 48, 38, 38, 49, 51}));
  const std::vector<uint8_t>& r = e.file.segments[2].data;
  EXPECT_EQ((std::vector<uint32_t>{Be32(&r[0]), Be32(&r[4]), Be32(&r[8]), Be32(&r[12])}),
            (std::vector<uint32_t>{100, 10, 0, 40}));
  EXPECT_NE(e.err.find("Warning! "), std::string::npos);
}

TEST(Transcode, RunsInOneProcessGiveIdenticalFiles) {
  std::vector<uint8_t> first;
  for (int run = 0; run < 2; ++run) {
    Page page(77, 60);
    Sections sections;
    sections.Add(0, 0, 0, 77, 20, {{"stripe", 8}}).Add({{"template", 1}});
    Encoded e = Encode(&page.bmp, sections);
    ASSERT_EQ(e.result, 0);
    ASSERT_TRUE(e.file.ok);
    EXPECT_EQ(e.file.segments.front().number, 0u);
    if (run == 0) first = e.bytes;
    else EXPECT_EQ(e.bytes, first);
  }
}

TEST(Transcode, UnwritableOutputFailsAndLeavesNoFile) {
  Page page(16, 16);
  Sections sections;
  sections.Add();
  std::string dir = jb2test::MakeTempDir();
  std::string path = dir + "/no/such/dir/page.jb2";
  testing::internal::CaptureStderr();
  EXPECT_NE(Transcode(&page.bmp, 1, sections.data(), sections.size(), path.c_str()), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR!   "), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Several images make one file of several pages, numbered in order, each
// decoding to its image; an empty list is refused with a status.
TEST(Transcode, SeveralImagesMakeOneFileOfPages) {
  Page first(40, 20), second(24, 30);
  jb2test::SetPixel(&first.bmp, 3, 4, 1);
  jb2test::SetPixel(&second.bmp, 20, 25, 1);
  BMP pages[2] = {first.bmp, second.bmp};
  Sections sections;
  sections.Add();
  const std::string path = jb2test::MakeTempDir() + "/doc.jb2";
  ASSERT_EQ(Transcode(pages, 2, sections.data(), sections.size(), path.c_str()), 0);
  const jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(path));
  ASSERT_TRUE(file.ok);
  EXPECT_EQ(file.pages, 2u);
  std::vector<uint32_t> pageInfoPages;
  for (const auto& seg : file.segments)
    if (seg.type == 48) pageInfoPages.push_back(seg.page);
  EXPECT_EQ(pageInfoPages, (std::vector<uint32_t>{1, 2}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode(pages, 0, sections.data(), sections.size(), path.c_str()), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   No Image to Encode\n");
}

}  // namespace
