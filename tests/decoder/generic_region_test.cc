// Generic and refinement region decoding against a plain encoder written
// here from T.88 6.2 and 6.3 (encoding direction), through whole files and
// through the procedures directly; and regions whose data runs out.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/mq_coder.h"
#include "decoder/generic_region.h"
#include "decoder/refinement_region.h"
#include "kernels/context_template.h"
#include "tests/mq_model.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::GetPixel;
using jb2test::ParsedFile;
using jb2test::Seg;
using jb2test::TestSegment;

using jb2test::TestCoder;

struct GenericCase {
  int templ;
  bool tpgdon;
  long atx[4];
  long aty[4];
};

std::vector<uint8_t> EncodeGeneric(BMP* image, const GenericCase& c, const BMP* skip) {
  static const uint32_t kTp[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
  TestCoder coder;
  CONTEXT ctx;
  long atx[4], aty[4];
  std::memcpy(atx, c.atx, sizeof atx);
  std::memcpy(aty, c.aty, sizeof aty);
  InitContext(&ctx, image, c.templ, atx, aty);
  int ltp = 0;
  for (uint32_t y = 0; y < image->lHeight; ++y) {
    NextContextRow(&ctx);
    if (c.tpgdon) {
      bool same = y > 0 && std::memcmp(image->pData + y * image->lStride, image->pData + (y - 1) * image->lStride,
                                       image->lBytesPerRow) == 0;
      int sltp = same ^ ltp;
      coder.Code(sltp, kTp[c.templ]);
      ltp ^= sltp;
      if (ltp) continue;
    }
    int previous = 0;
    for (uint32_t x = 0; x < image->lWidth; ++x) {
      uint32_t cx = GetContext(&ctx, previous);
      int pixel = GetPixel(image, x, y);
      if (!(skip && GetPixel(skip, x, y))) coder.Code(pixel, cx);
      previous = pixel;
    }
  }
  return coder.Finish();
}

// A page-like random bitmap with runs of repeated rows.
void MakeImage(BMP* bmp, uint32_t w, uint32_t h, std::mt19937& rng) {
  jb2test::MakeRandomBMP(bmp, w, h, 0.3, rng, true);
  for (uint32_t y = 1; y < h; ++y)
    if (rng() % 3 == 0) std::memcpy(bmp->pData + y * bmp->lStride, bmp->pData + (y - 1) * bmp->lStride, bmp->lStride);
}

std::vector<uint8_t> GenericSegmentData(uint32_t w, uint32_t h, const GenericCase& c, const std::vector<uint8_t>& coded) {
  std::vector<uint8_t> data = jb2test::RegionInfoData(w, h, 0, 0, 0);
  data.push_back(static_cast<uint8_t>(2 * c.templ + 8 * c.tpgdon));
  for (int k = 0; k < (c.templ == 0 ? 4 : 1); ++k) {
    data.push_back(static_cast<uint8_t>(c.atx[k]));
    data.push_back(static_cast<uint8_t>(c.aty[k]));
  }
  data.insert(data.end(), coded.begin(), coded.end());
  return data;
}

const GenericCase kGenericCases[] = {
    {0, false, {3, -3, 2, -2}, {-1, -1, -2, -2}},  {0, true, {3, -3, 2, -2}, {-1, -1, -2, -2}},
    {0, true, {1, -5, 4, -8}, {-3, -1, -2, -4}},   {0, false, {-1, 5, -2, 0}, {0, -1, 0, -1}},
    {1, false, {3}, {-1}},                          {1, true, {-3}, {-2}},
    {2, false, {2}, {-1}},                          {2, true, {-4}, {0}},
    {3, false, {2}, {-1}},                          {3, true, {-1}, {0}},
};

TEST(GenericRegion, DecodesEveryTemplateThroughAFile) {
  std::mt19937 rng(7);
  for (const GenericCase& c : kGenericCases) {
    for (uint32_t w : {1u, 13u, 64u}) {
      SCOPED_TRACE(testing::Message() << "template " << c.templ << " tpgdon " << c.tpgdon << " at " << c.atx[0]
                                      << "," << c.aty[0] << " width " << w);
      BMP image{};
      MakeImage(&image, w, 23, rng);
      auto data = GenericSegmentData(w, 23, c, EncodeGeneric(&image, c, nullptr));
      ParsedFile pf(jb2test::FileBytes({Seg(0, 48, jb2test::PageInfoData(w, 23, 0)), Seg(1, 38, data)}, true));
      testing::internal::CaptureStderr();
      pf.Decode();
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      EXPECT_TRUE(jb2test::SamePixels(&pf.file().pPages[0].Bitmap, &image));
      DestroyBMP(&image);
    }
  }
}

// Runs one procedure directly on coded bytes, as the dictionary decoders do.
class DirectRun {
 public:
  explicit DirectRun(const std::vector<uint8_t>& coded) : pf_(jb2test::FileBytes({}, true)), coded_(coded) {
    JB2FILE& f = pf_.file();
    InitDecoder(&f.Input, coded_.data(), coded_.size());
    MQInitDec(&f.MQ);
    ResetMQBuffer(&f.Contexts[0], 65536);
    ResetMQBuffer(&f.Contexts[1], 65536);
  }
  DECODER* input() { return &pf_.file().Input; }
  JB2FILE* file() { return &pf_.file(); }

 private:
  ParsedFile pf_;
  std::vector<uint8_t> coded_;
};

TEST(GenericRegion, SkippedPixelsAreZeroAndCostNothing) {
  std::mt19937 rng(11);
  for (int templ = 0; templ < 4; ++templ) {
    GenericCase c = kGenericCases[templ == 0 ? 0 : 2 * templ + 2];
    BMP image{}, skip{};
    MakeImage(&image, 30, 17, rng);
    jb2test::MakeRandomBMP(&skip, 30, 17, 0.5, rng);
    for (uint32_t y = 0; y < 17; ++y)
      for (uint32_t x = 0; x < 30; ++x)
        if (GetPixel(&skip, x, y)) jb2test::SetPixel(&image, x, y, 0);
    DirectRun run(EncodeGeneric(&image, c, &skip));
    GENERIC_PARAMS params{};
    params.pInput = run.input();
    params.lTemplate = static_cast<uint32_t>(templ);
    params.bTPGDON = c.tpgdon;
    params.bUseSkip = 1;
    params.pSkip = &skip;
    std::memcpy(params.lATX, c.atx, sizeof c.atx);
    std::memcpy(params.lATY, c.aty, sizeof c.aty);
    BMP out{};
    CreateBMP(&out, 30, 17, 0);
    DecodeGenericRegion(run.file(), &params, &out);
    EXPECT_TRUE(jb2test::SamePixels(&out, &image)) << templ;
    DestroyBMP(&out);
    DestroyBMP(&skip);
    DestroyBMP(&image);
  }
}

TEST(RefinementRegion, DecodesBothTemplatesWithOffsetsAndPrediction) {
  std::mt19937 rng(5);
  for (const auto& size : jb2test::kRefinementSizes)
  for (const jb2test::RefinementCase& c : jb2test::kRefinementCases) {
    const uint32_t w = size[0], h = size[1];
    SCOPED_TRACE(testing::Message() << w << "x" << h << " template " << c.templ << " tpgron " << c.tpgron << " dx "
                                    << c.dx << " dy " << c.dy);
    BMP ref{}, target{};
    jb2test::MakeRefinementPair(&ref, &target, w, h, rng);
    long atx[2] = {c.atx[0], c.atx[1]}, aty[2] = {c.aty[0], c.aty[1]};
    DirectRun run(jb2test::ModelEncodeRefinement(&target, &ref, c.templ, c.tpgron, c.dx, c.dy, atx, aty));
    REFINEMENT_PARAMS params{};
    params.pInput = run.input();
    params.lTemplate = static_cast<uint32_t>(c.templ);
    params.pReference = &ref;
    params.lDX = c.dx;
    params.lDY = c.dy;
    params.bTPGRON = c.tpgron;
    std::memcpy(params.lATX, atx, sizeof atx);
    std::memcpy(params.lATY, aty, sizeof aty);
    BMP out{};
    CreateBMP(&out, w, h, 0);
    DecodeRefinementRegion(run.file(), &params, &out);
    EXPECT_TRUE(jb2test::SamePixels(&out, &target));
    DestroyBMP(&out);
    DestroyBMP(&target);
    DestroyBMP(&ref);
  }
}

// An intermediate generic region refined by an immediate refinement region:
// only the refined pixels reach the page, and the intermediate region is
// consumed (no "not used" warning). A second refinement of it finds no pixels
// and refines a white reference instead.
TEST(RefinementRegion, ConsumesItsIntermediateRegion) {
  std::mt19937 rng(3);
  BMP coarse{}, fine{}, white{};
  MakeImage(&coarse, 20, 10, rng);
  CopyBMP(&fine, &coarse);
  for (int k = 0; k < 15; ++k) jb2test::SetPixel(&fine, rng() % 20, rng() % 10, rng() & 1);
  CreateBMP(&white, 20, 10, 0);
  GenericCase gc = kGenericCases[0];
  long atx[2] = {-1, -1}, aty[2] = {-1, -1};
  auto refine = [&](BMP* reference, uint32_t x) {
    std::vector<uint8_t> data = jb2test::RegionInfoData(20, 10, x, 0, 0);
    for (uint8_t b : {0x00, 0xFF, 0xFF, 0xFF, 0xFF}) data.push_back(b);
    auto coded = jb2test::ModelEncodeRefinement(&fine, reference, 0, false, 0, 0, atx, aty);
    data.insert(data.end(), coded.begin(), coded.end());
    return data;
  };
  auto bytes = jb2test::FileBytes(
      {Seg(0, 48, jb2test::PageInfoData(40, 10, 0)), Seg(1, 36, GenericSegmentData(20, 10, gc, EncodeGeneric(&coarse, gc, nullptr))),
       Seg(2, 42, refine(&coarse, 0), {1}), Seg(3, 42, refine(&white, 20), {1})},
      true);
  std::string err;
  {
    ParsedFile pf(bytes);
    testing::internal::CaptureStderr();
    pf.Decode();
    BMP* page = &pf.file().pPages[0].Bitmap;
    for (uint32_t y = 0; y < 10; ++y)
      for (uint32_t x = 0; x < 40; ++x) ASSERT_EQ(GetPixel(page, x, y), GetPixel(&fine, x % 20, y)) << x << "," << y;
  }
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "ERROR!   Referred Intermediate Region has no Pixels [segment 3, page 1]\n");
  DestroyBMP(&coarse);
  DestroyBMP(&fine);
  DestroyBMP(&white);
}

// An immediate region that reaches past its page is decoded only as far as
// the page can show it: here one pixel of a 4000 x 4000 region (or of a
// 2^24 x 1 one), at once and without a message, whatever the data.
TEST(GenericRegion, RegionPastItsPageDecodesOnlyWhatShows) {
  struct Case {
    uint32_t width, height;
    int tpgdon;
  } cases[] = {{4000, 4000, 0}, {4000, 4000, 1}, {1u << 24, 1, 0}};
  for (const Case& c : cases) {
    std::vector<uint8_t> data = jb2test::RegionInfoData(c.width, c.height, 0, 0, 0);
    data.push_back(static_cast<uint8_t>(c.tpgdon * 8 + 2));
    for (uint8_t b : {0x03, 0xFF, 0x12, 0x34, 0x56}) data.push_back(b);
    ParsedFile pf(jb2test::FileBytes({Seg(0, 48, jb2test::PageInfoData(1, 1, 0)), Seg(1, 38, data)}, true));
    testing::internal::CaptureStderr();
    pf.Decode();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.width;
    EXPECT_EQ(pf.file().pPages[0].Bitmap.lWidth, 1u);
  }
}

// A region far larger than its page (a damaged size, most likely) would cost
// its pixels, however few of them the page shows: it is refused.
TEST(GenericRegion, RegionFarLargerThanItsPageIsRefused) {
  for (auto [width, height] : {std::pair<uint32_t, uint32_t>{20000, 20000}, {0xFFFFFFFFu, 1}}) {
    std::vector<uint8_t> data = jb2test::RegionInfoData(width, height, 0, 0, 0);
    data.push_back(0x02);
    for (uint8_t b : {0x03, 0xFF, 0x12, 0x34, 0x56}) data.push_back(b);
    ParsedFile pf(jb2test::FileBytes({Seg(0, 48, jb2test::PageInfoData(64, 64, 0)), Seg(1, 38, data)}, true));
    testing::internal::CaptureStderr();
    pf.Decode();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   Region Far Larger than its Page: Not Decoded [segment 1, page 1]\n");
  }
}

}  // namespace
