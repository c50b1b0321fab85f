#include "encoder/generic_region_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "encoder/encode_state.h"
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

GRPARAM NominalTemplate0(bool tpgdon) {
  GRPARAM p{};
  p.bTPGDON = tpgdon;
  const int32_t x[4] = {3, -3, 2, -2}, y[4] = {-1, -1, -2, -2};
  for (int k = 0; k < 4; ++k) {
    p.alATX[k] = x[k];
    p.alATY[k] = y[k];
  }
  return p;
}

// The whole-byte template 0 coder must give the per-pixel coder's bits for
// every width (spare bits set), height and prediction setting.
TEST(GenericRegionEncoder, FastTemplate0MatchesPerPixelCoding) {
  GenericCoder coder;
  std::mt19937 rng(7);
  for (uint32_t width : {1u, 3u, 8u, 9u, 15u, 16u, 17u, 31u, 64u, 100u}) {
    for (uint32_t height : {1u, 2u, 5u, 40u}) {
      for (double density : {0.05, 0.5}) {
        BMP bmp;
        jb2test::MakeRandomBMP(&bmp, width, height, density, rng, /*dirtySpareBits=*/true);
        for (uint32_t y = 1; y < height; y += 3)  // some repeated rows for prediction
          std::memcpy(bmp.pData + y * bmp.lStride, bmp.pData + (y - 1) * bmp.lStride, bmp.lStride);
        for (bool tpgdon : {false, true}) {
          std::vector<uint8_t> fast = coder.Code(NominalTemplate0(tpgdon), &bmp, false);
          std::vector<uint8_t> plain = coder.Code(NominalTemplate0(tpgdon), &bmp, true);
          EXPECT_EQ(fast, plain) << width << "x" << height << " density " << density << " tpgdon " << tpgdon;
        }
        DestroyBMP(&bmp);
      }
    }
  }
}

// Page-like bitmaps take the white-stretch runs of the row coder: long ones
// (wide rows, where the coder's room ends a run), short ones between marks,
// and those that end at the last interior byte. Same bits as per pixel.
TEST(GenericRegionEncoder, WhiteRunsMatchPerPixelCoding) {
  GenericCoder coder;
  std::mt19937 rng(23);
  for (uint32_t width : {17u, 24u, 25u, 32u, 33u, 57u, 130u, 2000u}) {
    for (uint32_t height : {3u, 30u}) {
      BMP bmp;
      jb2test::MakePageLikeBMP(&bmp, width, height, rng);
      for (bool tpgdon : {false, true}) {
        std::vector<uint8_t> fast = coder.Code(NominalTemplate0(tpgdon), &bmp, false);
        std::vector<uint8_t> plain = coder.Code(NominalTemplate0(tpgdon), &bmp, true);
        EXPECT_EQ(fast, plain) << width << "x" << height << " tpgdon " << tpgdon;
      }
      DestroyBMP(&bmp);
    }
  }
}

}  // namespace
