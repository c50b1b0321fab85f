// AreaBMP against counting pixel by pixel, over every row length from one
// byte to several words (whole words, a tail of up to seven bytes, a last
// byte with set spare bits).
#include <gtest/gtest.h>

#include <random>

#include "common/bitmap.h"
#include "tests/test_util.h"

namespace {

TEST(BitmapArea, CountsEveryPixelAndNoSpareBit) {
  std::mt19937 rng(17);
  for (uint32_t width = 1; width <= 140; ++width) {
    for (double density : {0.1, 0.9}) {
      BMP bmp{};
      jb2test::MakeRandomBMP(&bmp, width, 3, density, rng, /*dirtySpareBits=*/true);
      uint32_t expected = 0;
      for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < width; ++x) expected += static_cast<uint32_t>(jb2test::GetPixel(&bmp, x, y));
      EXPECT_EQ(AreaBMP(&bmp), expected) << width << " " << density;
      DestroyBMP(&bmp);
    }
  }
}

}  // namespace
