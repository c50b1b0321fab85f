#include "common/bitmap.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "tests/test_util.h"

namespace {

using jb2test::GetPixel;
using jb2test::MakeRandomBMP;
using jb2test::SetPixel;

// Bits addressed by byte column, spare bits included (GetPixel stops at lWidth).
int RawBit(const BMP* b, int64_t x, int64_t y) { return (b->pData[y * b->lStride + x / 8] >> (7 - x % 8)) & 1; }

std::vector<unsigned char> Bytes(const BMP* b) {
  return std::vector<unsigned char>(b->pData, b->pData + size_t{b->lStride} * b->lHeight);
}

// Pixel-by-pixel model of the combination: every source pixel whose target
// lies in dst's rows and in the whole bytes of its rows is combined.
void ReferenceCombine(BMP* dst, const BMP* src, int64_t x, int64_t y, int op) {
  for (int64_t i = 0; i < src->lHeight; ++i)
    for (int64_t j = 0; j < src->lWidth; ++j) {
      int64_t dy = i + y, dx = j + x;
      if (dy < 0 || dy >= dst->lHeight || dx < 0 || dx >= 8 * int64_t{dst->lBytesPerRow}) continue;
      int d = RawBit(dst, dx, dy), s = GetPixel(src, j, i), r = 0;
      switch (op) {
        case 0: r = d | s; break;
        case 1: r = d & s; break;
        case 2: r = d ^ s; break;
        case 3: r = !(d ^ s); break;
        case 4: r = s; break;
      }
      SetPixel(dst, dx, dy, r);
    }
}

// Sizes reach past 64 pixels both ways, so sources that fit one word on wide
// rows take the word-wise path and the rest the byte-wise one.
TEST(BitmapCombine, MatchesPixelReferenceForAllOperators) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> srcW(1, 100), srcH(1, 5), dstW(1, 200), dstH(1, 6);
  for (int trial = 0; trial < 3000; ++trial) {
    BMP src, dst, ref;
    MakeRandomBMP(&src, srcW(rng), srcH(rng), 0.5, rng, /*dirtySpareBits=*/true);
    MakeRandomBMP(&dst, dstW(rng), dstH(rng), 0.5, rng, trial % 2 == 0);
    int64_t xLo = -static_cast<int64_t>(src.lWidth) - 2, xHi = 8 * int64_t{dst.lBytesPerRow} + 2;
    int64_t yLo = -static_cast<int64_t>(src.lHeight) - 1, yHi = dst.lHeight + 1;
    long x = static_cast<long>(std::uniform_int_distribution<int64_t>(xLo, xHi)(rng));
    long y = static_cast<long>(std::uniform_int_distribution<int64_t>(yLo, yHi)(rng));
    int op = trial % 5;
    CopyBMP(&ref, &dst);
    std::memcpy(ref.pData, dst.pData, size_t{dst.lStride} * dst.lHeight);  // keep spare bits too
    ReferenceCombine(&ref, &src, x, y, op);
    CombineBMP(&dst, &src, x, y, op);
    ASSERT_EQ(Bytes(&dst), Bytes(&ref)) << "src " << src.lWidth << "x" << src.lHeight << " dst " << dst.lWidth
                                        << "x" << dst.lHeight << " at " << x << "," << y << " op " << op;
    DestroyBMP(&src);
    DestroyBMP(&dst);
    DestroyBMP(&ref);
  }
}

TEST(BitmapCombine, ExtremeOffsetsAndUnknownOperatorsChangeNothing) {
  std::mt19937 rng(7);
  BMP src, dst;
  MakeRandomBMP(&src, 13, 4, 0.5, rng);
  MakeRandomBMP(&dst, 21, 5, 0.5, rng);
  const std::vector<unsigned char> before = Bytes(&dst);
  const long cases[][2] = {{LONG_MIN, 0}, {LONG_MAX, 0}, {0, LONG_MIN}, {0, LONG_MAX}, {-13, 0}, {0, -4},
                           {24, 0},       {0, 5},        {LONG_MIN, LONG_MIN}};
  for (const auto& c : cases) {
    for (int op = 0; op <= 4; ++op) CombineBMP(&dst, &src, c[0], c[1], op);
    if (c[0] == LONG_MIN || c[0] == LONG_MAX || c[1] == LONG_MIN || c[1] == LONG_MAX)
      ExtractRegion(&dst, &src, c[0], c[1]);
    EXPECT_EQ(Bytes(&dst), before) << c[0] << "," << c[1];
  }
  for (int op : {-1, 5, 100, INT_MIN}) CombineBMP(&dst, &src, 0, 0, op);
  EXPECT_EQ(Bytes(&dst), before);
  DestroyBMP(&src);
  DestroyBMP(&dst);
}

TEST(BitmapCombine, NamedPlacements) {
  BMP src, dst;
  CreateBMP(&src, 3, 1, 1);  // three black pixels, spare bits set too
  CreateBMP(&dst, 16, 1, 0);
  CombineBMP(&dst, &src, 2, 0, kOpOr);
  EXPECT_EQ(dst.pData[0], 0x38);  // bits 2 to 4 only: spare source bits not taken
  CombineBMP(&dst, &src, 5, 0, kOpReplace);
  EXPECT_EQ(dst.pData[0], 0x3F);
  EXPECT_EQ(dst.pData[1], 0x00);
  DestroyBMP(&src);

  // At x = -3 the fourth source pixel lands in column 0.
  CreateBMP(&src, 8, 1, 0);
  src.pData[0] = 0x10;  // column 3
  BMP d2;
  CreateBMP(&d2, 8, 1, 0);
  CombineBMP(&d2, &src, -3, 0, kOpOr);
  EXPECT_EQ(d2.pData[0], 0x80);
  DestroyBMP(&d2);

  // Passing the destination's width but not its last byte sets spare bits
  // that area and comparison ignore.
  BMP narrow, blank;
  CreateBMP(&narrow, 5, 1, 0);
  CreateBMP(&blank, 5, 1, 0);
  src.pData[0] = 0xFF;
  CombineBMP(&narrow, &src, 3, 0, kOpOr);
  EXPECT_EQ(narrow.pData[0], 0x1F);
  EXPECT_EQ(AreaBMP(&narrow), 2u);
  narrow.pData[0] = 0x07;
  EXPECT_EQ(AreaBMP(&narrow), 0u);
  EXPECT_EQ(ExactBMP(&narrow, &blank), 1);
  for (BMP* b : {&src, &dst, &narrow, &blank}) DestroyBMP(b);
}

TEST(BitmapCreate, SizesStridesAndFill) {
  struct Case { unsigned long w, h; uint32_t bytesPerRow, stride, height; };
  const Case cases[] = {{9, 3, 2, 2, 3}, {17, 2, 3, 4, 2}, {8, 1, 1, 2, 1}, {16, 1, 2, 2, 1},
                        {5, 0xFFFFFFFFul, 1, 2, 1}, {5, ULONG_MAX, 1, 2, 1}};
  for (const Case& c : cases) {
    BMP b;
    CreateBMP(&b, c.w, c.h, 1);
    EXPECT_EQ(b.lBytesPerRow, c.bytesPerRow) << c.w;
    EXPECT_EQ(b.lStride, c.stride) << c.w;
    EXPECT_EQ(b.lHeight, c.height) << c.w;
    EXPECT_EQ(AreaBMP(&b), c.w * c.height) << c.w;
    for (uint32_t r = 0; r < b.lHeight; ++r) {
      EXPECT_EQ(b.pData[r * b.lStride + b.lBytesPerRow - 1], 0xFF);  // spare bits filled as well
      if (b.lStride > b.lBytesPerRow) {
        EXPECT_EQ(b.pData[r * b.lStride + b.lBytesPerRow], 0);
      }
    }
    DestroyBMP(&b);
    EXPECT_EQ(b.pData, nullptr);
  }
}

TEST(BitmapCreate, OversizeGivesEmptyBitmapThatOperationsIgnore) {
  const unsigned long sizes[][2] = {{1ul << 20, (1ul << 12) + 1}, {1ul << 33, 1}, {1, 1ul << 33}};
  for (const auto& s : sizes) {
    BMP b;
    CreateBMP(&b, s[0], s[1], 1);
    EXPECT_EQ(b.pData, nullptr);
    EXPECT_EQ(b.lWidth, 0u);
    EXPECT_EQ(b.lHeight, 0u);
    BMP src;
    CreateBMP(&src, 4, 4, 1);
    CombineBMP(&b, &src, 0, 0, kOpOr);
    CombineBMP(&src, &b, 0, 0, kOpReplace);
    ClearRegion(&b, 0, 0, 4, 4);
    EXPECT_EQ(AreaBMP(&b), 0u);
    EXPECT_EQ(AreaBMP(&src), 16u);
    DestroyBMP(&src);
    DestroyBMP(&b);
  }
}

TEST(BitmapOps, ExtractClearCopyAgreeWithCombination) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> size(1, 30);
  for (int trial = 0; trial < 500; ++trial) {
    BMP page, window, expect;
    MakeRandomBMP(&page, size(rng), size(rng), 0.5, rng, true);
    MakeRandomBMP(&window, size(rng), size(rng), 0.5, rng);
    long x = std::uniform_int_distribution<long>(-35, 35)(rng), y = std::uniform_int_distribution<long>(-35, 35)(rng);

    // ExtractRegion: pixels outside the page (spare bits count as outside)
    // keep their previous values.
    CopyBMP(&expect, &window);
    for (long r = 0; r < window.lHeight; ++r)
      for (long c = 0; c < window.lWidth; ++c)
        if (r + y >= 0 && r + y < page.lHeight && c + x >= 0 && c + x < long{page.lWidth})
          SetPixel(&expect, c, r, RawBit(&page, c + x, r + y));
    ExtractRegion(&window, &page, x, y);
    ASSERT_TRUE(jb2test::SamePixels(&window, &expect));
    DestroyBMP(&expect);

    // ClearRegion equals replacing with a white bitmap of that size.
    unsigned long w = size(rng), h = size(rng);
    BMP white, byCombine;
    CreateBMP(&white, w, h, 0);
    CopyBMP(&byCombine, &page);
    std::memcpy(byCombine.pData, page.pData, size_t{page.lStride} * page.lHeight);
    CombineBMP(&byCombine, &white, x, y, kOpReplace);
    ClearRegion(&page, x, y, w, h);
    ASSERT_EQ(Bytes(&page), Bytes(&byCombine)) << x << "," << y << " " << w << "x" << h;

    // CopyBMP: same pixels, spare bits left white.
    BMP copy;
    CopyBMP(&copy, &page);
    EXPECT_EQ(ExactBMP(&copy, &page), 1);
    if (page.lWidth % 8) {
      for (uint32_t r = 0; r < copy.lHeight; ++r) {
        EXPECT_EQ(copy.pData[r * copy.lStride + copy.lBytesPerRow - 1] & (0xFF >> (page.lWidth % 8)), 0);
      }
    }
    for (BMP* b : {&page, &window, &white, &byCombine, &copy}) DestroyBMP(b);
  }
  BMP b;
  CreateBMP(&b, 10, 3, 1);
  ClearRegion(&b, -5, -5, ULONG_MAX, ULONG_MAX);  // sizes far past the bitmap
  EXPECT_EQ(AreaBMP(&b), 0u);
  DestroyBMP(&b);
}

TEST(BitmapOps, AreaExactAndInvertIgnoreSpareBits) {
  std::mt19937 rng(5);
  for (uint32_t w : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 130u}) {
    BMP a, b;
    MakeRandomBMP(&a, w, 3, 0.4, rng, true);
    uint32_t count = 0;
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < w; ++x) count += GetPixel(&a, x, y);
    EXPECT_EQ(AreaBMP(&a), count) << w;
    CopyBMP(&b, &a);
    EXPECT_EQ(ExactBMP(&a, &b), 1) << w;
    SetPixel(&b, w - 1, 2, !GetPixel(&b, w - 1, 2));
    EXPECT_EQ(ExactBMP(&a, &b), 0) << w;
    InvertBMP(&a);
    EXPECT_EQ(AreaBMP(&a), 3 * w - count) << w;
    DestroyBMP(&a);
    DestroyBMP(&b);
  }
  BMP a, b;
  CreateBMP(&a, 8, 2, 0);
  CreateBMP(&b, 8, 3, 0);
  EXPECT_EQ(ExactBMP(&a, &b), 0);
  DestroyBMP(&a);
  DestroyBMP(&b);
}

TEST(BitmapHelpers, DumpBytesAndResize) {
  BMP b;
  CreateBMP(&b, 3, 2, 0);
  SetPixel(&b, 0, 0, 1);
  SetPixel(&b, 2, 1, 1);
  b.pData[0] |= 0x1F;  // spare bits are not dumped
  b.pData[0] &= 0x9F;
  testing::internal::CaptureStdout();
  jb2test::printfBMP(&b);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "O..\n..O\n\n");
  DestroyBMP(&b);

  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  WriteBytesToFile(f, 0x11223344ul, 4);
  WriteBytesToFile(f, 0xABCDul, 1);
  WriteBytesToFile(f, 0x0102030405060708ul, 10);
  std::rewind(f);
  unsigned char got[15];
  ASSERT_EQ(std::fread(got, 1, 15, f), 15u);
  std::fclose(f);
  const unsigned char want[15] = {0x44, 0x33, 0x22, 0x11, 0xCD, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0};
  EXPECT_EQ(std::memcmp(got, want, 15), 0);

  unsigned long capacity = 0;
  void* array = nullptr;
  ReSizeArray(&array, sizeof(int), &capacity);
  EXPECT_EQ(capacity, 1u);  // an empty array still grows
  static_cast<int*>(array)[0] = 42;
  ReSizeArray(&array, sizeof(int), &capacity);
  ReSizeArray(&array, sizeof(int), &capacity);
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(static_cast<int*>(array)[0], 42);
  std::free(array);
}

}  // namespace
