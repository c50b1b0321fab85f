#include "encoder/generic_region_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "encoder/encode_state.h"
#include "tests/common/adaptive_pixels.h"
#include "tests/common/page_like_image.h"
#include "tests/test_util.h"

namespace {

// The parts of a run's state that generic coding uses.
class GenericCoder {
 public:
  GenericCoder() : state_() {
    CreateEncoder(&state_.Encoder, 4096);
    InitEncoder(&state_.Encoder);
    MQSetOutFunction(&state_.MQEncoder, MQMainOut, &state_.Encoder);
    CreateMQBuffer(&state_.GenericContexts, kContextStoreSize);
  }
  ~GenericCoder() {
    DestroyEncoder(&state_.Encoder);
    DestroyMQBuffer(&state_.GenericContexts);
  }
  // The coded stream of `bmp`, with the fast row coder or without it.
  std::vector<uint8_t> Code(GRPARAM param, BMP* bmp, bool plain) {
    param.pState = &state_;
    InitEncoder(&state_.Encoder);
    ResetMQBuffer(&state_.GenericContexts, kContextStoreSize);
    MQInitEnc(&state_.MQEncoder);
    if (plain) EncodeGenericRegionPlain(&param, bmp);
    else EncodeGenericRegion(&param, bmp);
    MQFlush(&state_.MQEncoder);
    EncodeFlush(&state_.Encoder);
    return std::vector<uint8_t>(state_.Encoder.pBuffer, state_.Encoder.pBuffer + state_.Encoder.lSize);
  }

 private:
  ENCODE_STATE state_;
};

// Template `templ` with adaptive pixels `at`.
GRPARAM Template(int templ, const jb2test::At& at, bool tpgdon) {
  GRPARAM p{};
  p.lTemplate = static_cast<uint32_t>(templ);
  p.bTPGDON = tpgdon;
  for (int k = 0; k < 4; ++k) {
    p.alATX[k] = static_cast<int32_t>(at.x[k]);
    p.alATY[k] = static_cast<int32_t>(at.y[k]);
  }
  return p;
}

// Adaptive pixels at their nominal places (placing -1) or moved.
jb2test::At Placing(int templ, int placing) {
  return placing < 0 ? jb2test::NominalAt(templ) : jb2test::MovedAt(templ, placing);
}

// `bmp` coded with the row coders and per pixel, with and without typical
// prediction, must give the same bits.
void ExpectRowCodersMatch(GenericCoder& coder, BMP* bmp, int templ, int placing) {
  for (bool tpgdon : {false, true}) {
    const GRPARAM p = Template(templ, Placing(templ, placing), tpgdon);
    EXPECT_EQ(coder.Code(p, bmp, false), coder.Code(p, bmp, true))
        << "template " << templ << " placing " << placing << " " << bmp->lWidth << "x" << bmp->lHeight
        << " tpgdon " << tpgdon;
  }
}

// The whole-byte row coders must give the per-pixel coder's bits for every
// template and placing of the adaptive pixels, width (spare bits set),
// height and prediction setting.
TEST(GenericRegionEncoder, RowCodersMatchPerPixelCoding) {
  GenericCoder coder;
  std::mt19937 rng(7);
  for (int templ = 0; templ < 4; ++templ)
  for (int placing = -1; placing < 4; ++placing)
  for (uint32_t width : {1u, 3u, 8u, 9u, 15u, 16u, 17u, 31u, 64u, 100u}) {
    for (uint32_t height : {1u, 2u, 5u, 40u}) {
      for (double density : {0.05, 0.5}) {
        BMP bmp;
        jb2test::MakeRandomBMP(&bmp, width, height, density, rng, /*dirtySpareBits=*/true);
        for (uint32_t y = 1; y < height; y += 3)  // some repeated rows for prediction
          std::memcpy(bmp.pData + y * bmp.lStride, bmp.pData + (y - 1) * bmp.lStride, bmp.lStride);
        SCOPED_TRACE(testing::Message() << "density " << density);
        ExpectRowCodersMatch(coder, &bmp, templ, placing);
        DestroyBMP(&bmp);
      }
    }
  }
}

// Page-like bitmaps, and inverted ones, take the uniform runs of the row
// coders: long ones (wide rows, where the coder's room ends a run), short
// ones between marks, and those that end at the last interior byte. Same
// bits as per pixel.
TEST(GenericRegionEncoder, UniformRunsMatchPerPixelCoding) {
  GenericCoder coder;
  std::mt19937 rng(23);
  for (int templ = 0; templ < 4; ++templ)
  for (int placing = -1; placing < 4; placing += 2)
  for (uint32_t width : {17u, 24u, 25u, 32u, 33u, 57u, 130u, 2000u}) {
    for (uint32_t height : {3u, 30u}) {
      for (bool inverted : {false, true}) {
        BMP bmp;
        jb2test::MakePageLikeBMP(&bmp, width, height, rng);
        if (inverted) InvertBMP(&bmp);
        SCOPED_TRACE(testing::Message() << "inverted " << inverted);
        ExpectRowCodersMatch(coder, &bmp, templ, placing);
        DestroyBMP(&bmp);
      }
    }
  }
}

}  // namespace
