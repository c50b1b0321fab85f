// The row decoders of templates 0 to 3, with adaptive pixels at their nominal
// places and moved, against a per-pixel decoder written here (GetContext and
// the plain MQ decoder), and generic regions decoded straight into the page
// against decoding into a region bitmap and combining.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/mq_coder.h"
#include "decoder/generic_region.h"
#include "kernels/context_template.h"
#include "tests/common/adaptive_pixels.h"
#include "tests/common/page_like_image.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"

namespace {

using jb2test::GetPixel;

constexpr uint32_t kTypical[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};  // T.88 6.2.5.7
using jb2test::At;
using jb2test::MovedAt;
using jb2test::NominalAt;

void CollectByte(void* param, int byte) { static_cast<std::vector<uint8_t>*>(param)->push_back(static_cast<uint8_t>(byte)); }

// A nominal template coded pixel by pixel, with or without TPGDON.
std::vector<uint8_t> EncodePerPixel(BMP* image, bool tpgdon, int templ = 0, At at = NominalAt(0)) {
  long* atx = at.x;
  long* aty = at.y;
  const uint32_t typical = kTypical[templ];
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQBUFFER store{};
  MQSetOutFunction(&enc, CollectByte, &out);
  MQInitEnc(&enc);
  CreateMQBuffer(&store, 65536);
  CONTEXT ctx;
  InitContext(&ctx, image, templ, atx, aty);
  int ltp = 0;
  for (uint32_t y = 0; y < image->lHeight; ++y) {
    NextContextRow(&ctx);
    if (tpgdon) {
      const int same = y > 0 && std::memcmp(image->pData + y * image->lStride,
                                            image->pData + (y - 1) * image->lStride, image->lBytesPerRow) == 0;
      const int sltp = same ^ ltp;
      MQEncodePlain(&enc, sltp, store.pIndex + typical, store.pMPS + typical);
      ltp ^= sltp;
      if (ltp) continue;
    }
    int previous = 0;
    for (uint32_t x = 0; x < image->lWidth; ++x) {
      const uint32_t cx = GetContext(&ctx, previous);
      previous = GetPixel(image, x, y);
      MQEncodePlain(&enc, previous, store.pIndex + cx, store.pMPS + cx);
    }
  }
  MQFlush(&enc);
  DestroyMQBuffer(&store);
  return out;
}

// The MQ registers after decoding `coded` pixel by pixel into `out`.
MQRegs DecodePerPixel(const std::vector<uint8_t>& coded, BMP* out, bool tpgdon, int templ, At at) {
  long* atx = at.x;
  long* aty = at.y;
  const uint32_t typical = kTypical[templ];
  DECODER input{};
  InitDecoder(&input, coded.data(), coded.size());
  MQDECODER dec{};
  MQSetInFunction(&dec, MQMainIn, &input);
  MQInitDec(&dec);
  MQBUFFER store{};
  CreateMQBuffer(&store, 65536);
  CONTEXT ctx;
  InitContext(&ctx, out, templ, atx, aty);
  int coded_row = 1;
  for (uint32_t y = 0; y < out->lHeight; ++y) {
    NextContextRow(&ctx);
    if (tpgdon) coded_row ^= MQDecodePlain(&dec, store.pIndex + typical, store.pMPS + typical);
    if (!coded_row) {
      if (y > 0) std::memcpy(out->pData + y * out->lStride, out->pData + (y - 1) * out->lStride, out->lBytesPerRow);
      continue;
    }
    int previous = 0;
    for (uint32_t x = 0; x < out->lWidth; ++x) {
      const uint32_t cx = GetContext(&ctx, previous);
      previous = MQDecodePlain(&dec, store.pIndex + cx, store.pMPS + cx);
      jb2test::SetPixel(out, x, y, previous);
    }
  }
  DestroyMQBuffer(&store);
  return MQLoadRegs(&dec);
}

// Widths around the row decoder's cases: one, two and three bytes per row
// (no interior), the first interior byte, and rows long enough for white
// (or, inverted, black) runs to end at the coder's room rather than at a mark.
// Adaptive pixels at their nominal places (placing -1) and moved.
TEST(GenericRowDecoders, MatchPerPixelDecodingOnPageLikeBitmaps) {
  std::mt19937 rng(5);
  for (int templ = 0; templ < 4; ++templ)
  for (int placing = -1; placing < 4; ++placing)
  for (uint32_t width : {1u, 9u, 16u, 17u, 24u, 25u, 32u, 33u, 71u, 800u, 3000u}) {
    const At at = placing < 0 ? NominalAt(templ) : MovedAt(templ, placing);
    for (uint32_t height : {1u, 2u, 3u, 37u}) {
      if (placing >= 0 && height < 3) continue;  // rows above the region are the nominal cases'
      for (int variant = 0; variant < 4; ++variant) {
        const bool tpgdon = variant & 1, inverted = variant & 2;
        SCOPED_TRACE(testing::Message() << "template " << templ << " placing " << placing << " " << width << "x"
                                        << height << " tpgdon " << tpgdon << " inverted " << inverted);
        BMP image{};
        jb2test::MakePageLikeBMP(&image, width, height, rng);
        if (inverted) InvertBMP(&image);
        for (uint32_t y = 2; y < height; y += 5)  // repeated rows for prediction
          std::memcpy(image.pData + y * image.lStride, image.pData + (y - 1) * image.lStride, image.lStride);
        const std::vector<uint8_t> coded = EncodePerPixel(&image, tpgdon, templ, at);

        BMP plain{};
        CreateBMP(&plain, width, height, 0);
        const MQRegs plainRegs = DecodePerPixel(coded, &plain, tpgdon, templ, at);
        EXPECT_TRUE(jb2test::SamePixels(&plain, &image));

        jb2test::ParsedFile pf(jb2test::FileBytes({}, true));
        JB2FILE& f = pf.file();
        InitDecoder(&f.Input, coded.data(), coded.size());
        MQInitDec(&f.MQ);
        ResetMQBuffer(&f.Contexts[0], 65536);
        GENERIC_PARAMS params{};
        params.pInput = &f.Input;
        params.bTPGDON = tpgdon;
        params.lTemplate = templ;
        std::memcpy(params.lATX, at.x, sizeof at.x);
        std::memcpy(params.lATY, at.y, sizeof at.y);
        BMP fast{};
        CreateBMP(&fast, width, height, 0);
        DecodeGenericRegion(&f, &params, &fast);
        EXPECT_TRUE(jb2test::SamePixels(&fast, &image));
        // Same decisions: the coder ends in the same state.
        EXPECT_EQ(f.MQ.C, plainRegs.C);
        EXPECT_EQ(f.MQ.A, plainRegs.A);
        EXPECT_EQ(f.MQ.CT, plainRegs.CT);
        DestroyBMP(&fast);
        DestroyBMP(&plain);
        DestroyBMP(&image);
      }
    }
  }
}

// One generic region on a 40 x 30 page that may already hold a filled box.
struct PageViewCase {
  const char* name;
  uint8_t pageFlags;      // T.88 7.4.8.5: bit 2 default pixel, bits 3-4 operator, bit 6 override
  uint32_t boxWidth;      // rows 4..9 carry a region of black pixels this wide first (0: none)
  uint32_t x, y, w, h;    // the generic region
  uint8_t op;             // its operator
};

const PageViewCase kPageViewCases[] = {
    {"or on white rows", 0x40, 0, 0, 3, 40, 20, 0},
    {"xor on white rows", 0x40, 0, 0, 0, 40, 30, 2},
    {"replace on white rows", 0x40, 0, 0, 12, 40, 18, 4},
    {"and on white rows", 0x40, 0, 0, 3, 40, 20, 1},
    {"xnor on white rows", 0x40, 0, 0, 3, 40, 20, 3},
    {"or over earlier pixels", 0x40, 40, 0, 0, 40, 20, 0},
    {"or over an earlier narrow region", 0x40, 24, 0, 0, 40, 20, 0},
    {"or below earlier pixels", 0x40, 40, 0, 10, 40, 20, 0},
    {"narrower than the page", 0x40, 0, 0, 3, 32, 20, 0},
    {"off the left edge", 0x40, 0, 8, 3, 32, 20, 0},
    {"past the page bottom", 0x40, 0, 0, 20, 40, 20, 0},
    {"black page", 0x44, 0, 0, 3, 40, 20, 0},
    {"page operator and, not overridden", 0x08, 0, 0, 3, 40, 20, 0},
    {"undefined operator", 0x40, 0, 0, 3, 40, 20, 6},
};

std::vector<uint8_t> GenericData(BMP* image, uint32_t x, uint32_t y, uint8_t op) {
  std::vector<uint8_t> data = jb2test::RegionInfoData(image->lWidth, image->lHeight, x, y, op);
  data.push_back(0);  // template 0, no prediction
  for (int k = 0; k < 4; ++k) {
    data.push_back(static_cast<uint8_t>(jb2test::kNominalAtX[k]));
    data.push_back(static_cast<uint8_t>(jb2test::kNominalAtY[k]));
  }
  const std::vector<uint8_t> coded = EncodePerPixel(image, false);
  data.insert(data.end(), coded.begin(), coded.end());
  return data;
}

jb2test::TestSegment Segment(uint32_t number, uint32_t type, std::vector<uint8_t> data) {
  jb2test::TestSegment s;
  s.number = number;
  s.type = type;
  s.data = std::move(data);
  return s;
}

// Whatever path the decoder takes, the page is the composition of T.88 7.4:
// the region combined into the page with its effective operator.
TEST(PageView, GenericRegionsOnThePageEqualTheirComposition) {
  std::mt19937 rng(9);
  for (const PageViewCase& c : kPageViewCases) {
    SCOPED_TRACE(c.name);
    BMP box{}, image{};
    CreateBMP(&box, c.boxWidth ? c.boxWidth : 1, 6, 1);
    jb2test::MakePageLikeBMP(&image, c.w, c.h, rng);
    std::vector<jb2test::TestSegment> segs{Segment(0, 48, jb2test::PageInfoData(40, 30, c.pageFlags))};
    if (c.boxWidth) segs.push_back(Segment(1, 38, GenericData(&box, 0, 4, 0)));
    segs.push_back(Segment(2, 38, GenericData(&image, c.x, c.y, c.op)));
    jb2test::ParsedFile pf(jb2test::FileBytes(segs, true));
    testing::internal::CaptureStderr();
    pf.Decode();
    const std::string err = testing::internal::GetCapturedStderr();

    BMP expected{};
    const int pageOp = (c.pageFlags >> 3) & 3;
    CreateBMP(&expected, 40, 30, (c.pageFlags >> 2) & 1);
    if (c.boxWidth) CombineBMP(&expected, &box, 0, 4, pageOp);
    int op = (c.pageFlags & 0x40) ? c.op : pageOp;
    if (op > 4) op = pageOp;
    CombineBMP(&expected, &image, c.x, c.y, op);
    EXPECT_TRUE(jb2test::SamePixels(&pf.file().pPages[0].Bitmap, &expected));
    EXPECT_EQ(err.empty(), c.op <= 4) << err;
    DestroyBMP(&expected);
    DestroyBMP(&image);
    DestroyBMP(&box);
  }
}

}  // namespace
