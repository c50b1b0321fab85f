#include "kernels/context_template.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using jb2test::GetPixel;

// A pixel at a position given exactly (displacements may be LONG_MIN).
int PixelAt(const BMP* bmp, __int128 x, __int128 y) {
  if (x < 0 || y < 0 || x >= bmp->lWidth || y >= bmp->lHeight) return 0;
  return GetPixel(bmp, static_cast<long>(x), static_cast<long>(y));
}

// Template pixels of T.88 Figures 3-6, 12 and 13, listed from context bit 0
// upwards. kind: 0 coded bitmap, 1 reference, 2 adaptive pixel in the coded
// bitmap (index in x), 3 adaptive pixel in the reference (index in x).
struct TemplatePixel {
  int kind, x, y;
};
const std::vector<TemplatePixel> kGeneric[4] = {
    {{0, -1, 0}, {0, -2, 0}, {0, -3, 0}, {0, -4, 0}, {2, 0, 0}, {0, 2, -1}, {0, 1, -1}, {0, 0, -1},
     {0, -1, -1}, {0, -2, -1}, {2, 1, 0}, {2, 2, 0}, {0, 1, -2}, {0, 0, -2}, {0, -1, -2}, {2, 3, 0}},
    {{0, -1, 0}, {0, -2, 0}, {0, -3, 0}, {2, 0, 0}, {0, 2, -1}, {0, 1, -1}, {0, 0, -1}, {0, -1, -1},
     {0, -2, -1}, {0, 2, -2}, {0, 1, -2}, {0, 0, -2}, {0, -1, -2}},
    {{0, -1, 0}, {0, -2, 0}, {2, 0, 0}, {0, 1, -1}, {0, 0, -1}, {0, -1, -1}, {0, -2, -1}, {0, 1, -2},
     {0, 0, -2}, {0, -1, -2}},
    {{0, -1, 0}, {0, -2, 0}, {0, -3, 0}, {0, -4, 0}, {2, 0, 0}, {0, 1, -1}, {0, 0, -1}, {0, -1, -1},
     {0, -2, -1}, {0, -3, -1}},
};
const std::vector<TemplatePixel> kRefinement[2] = {
    {{0, -1, 0}, {0, 1, -1}, {0, 0, -1}, {2, 0, 0}, {1, 1, 1}, {1, 0, 1}, {1, -1, 1}, {1, 1, 0}, {1, 0, 0},
     {1, -1, 0}, {1, 1, -1}, {1, 0, -1}, {3, 1, 0}},
    {{0, -1, 0}, {0, 1, -1}, {0, 0, -1}, {0, -1, -1}, {1, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 0, 0}, {1, -1, 0},
     {1, 0, -1}},
};

struct Placement {
  BMP* bmp;
  BMP* ref;  // null for generic templates
  long dx, dy;
  long atx[4], aty[4];
};

// The context computed pixel by pixel. Adaptive pixels T.88 forbids in the
// coded bitmap (not yet coded) count as 0.
uint32_t DirectContext(const std::vector<TemplatePixel>& pixels, const Placement& s, long x, long y) {
  uint32_t context = 0;
  for (size_t bit = 0; bit < pixels.size(); ++bit) {
    const TemplatePixel& p = pixels[bit];
    int v = 0;
    if (p.kind == 0) {
      v = GetPixel(s.bmp, x + p.x, y + p.y);
    } else if (p.kind == 1) {
      v = PixelAt(s.ref, __int128{x} - s.dx + p.x, __int128{y} - s.dy + p.y);
    } else if (p.kind == 2) {
      const long ax = s.atx[p.x], ay = s.aty[p.x];
      if (ay < 0 || (ay == 0 && ax < 0)) v = PixelAt(s.bmp, __int128{x} + ax, __int128{y} + ay);
    } else {
      v = PixelAt(s.ref, __int128{x} - s.dx + s.atx[p.x], __int128{y} - s.dy + s.aty[p.x]);
    }
    context |= static_cast<uint32_t>(v) << bit;
  }
  return context;
}

// Runs the context over every pixel as a coder would and compares each one.
void ExpectContexts(CONTEXT* ctx, const std::vector<TemplatePixel>& pixels, const Placement& s,
                    const std::string& what) {
  for (long y = 0; y < static_cast<long>(s.bmp->lHeight); ++y) {
    NextContextRow(ctx);
    int previous = 0;
    for (long x = 0; x < static_cast<long>(s.bmp->lWidth); ++x) {
      const uint32_t got = GetContext(ctx, previous);
      const uint32_t want = DirectContext(pixels, s, x, y);
      if (got != want) {
        ADD_FAILURE() << what << " at (" << x << "," << y << "): got " << got << " want " << want;
        return;
      }
      previous = GetPixel(s.bmp, x, y);
    }
  }
}

// Sets the bytes between a row's last byte and the next row to 1s: no
// template may read them.
void DirtyPadding(BMP* bmp) {
  for (uint32_t y = 0; y < bmp->lHeight; ++y)
    for (uint32_t i = bmp->lBytesPerRow; i < bmp->lStride; ++i) bmp->pData[y * bmp->lStride + i] = 0xFF;
}

const uint32_t kWidths[] = {1, 7, 8, 9, 31, 33, 65};

// An adaptive pixel offset: nominal, near, at or beyond the width, far away,
// or one T.88 forbids.
void RandomAt(std::mt19937& rng, uint32_t width, long nominalX, long nominalY, long* x, long* y) {
  const long w = static_cast<long>(width);
  const long extremes[] = {LONG_MIN, LONG_MAX, INT32_MIN, INT32_MAX, -1};
  switch (rng() % 7) {
    case 0: *x = nominalX; *y = nominalY; break;
    case 1: *x = static_cast<long>(rng() % 9) - 4; *y = -static_cast<long>(rng() % 3); break;
    case 2: *x = w + static_cast<long>(rng() % 3) - 1; *y = -static_cast<long>(rng() % 2); break;
    case 3: *x = -w - static_cast<long>(rng() % 3); *y = -static_cast<long>(rng() % 3); break;
    case 4: *x = static_cast<long>(rng() % 256) - 128; *y = static_cast<long>(rng() % 256) - 128; break;
    case 5: *x = extremes[rng() % 5]; *y = extremes[rng() % 5]; break;
    default: *x = static_cast<long>(rng() % 3); *y = static_cast<long>(rng() % 2); break;
  }
}

long RandomDisplacement(std::mt19937& rng, uint32_t height) {
  const long extremes[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1, LONG_MIN, LONG_MAX,
                           static_cast<long>(height), -static_cast<long>(height) - 1};
  if (rng() % 4 == 0) return extremes[rng() % std::size(extremes)];
  return static_cast<long>(rng() % 9) - 4;
}

TEST(ContextTemplate, GenericTemplatesMatchDirectComputation) {
  std::mt19937 rng(1);
  const long nominalX[4][4] = {{3, -3, 2, -2}, {3}, {2}, {2}};
  const long nominalY[4][4] = {{-1, -1, -2, -2}, {-1}, {-1}, {-1}};
  testing::internal::CaptureStderr();  // forbidden adaptive pixels print errors
  for (uint32_t width : kWidths) {
    for (int round = 0; round < 24; ++round) {
      const int templ = round % 4;
      BMP bmp;
      jb2test::MakeRandomBMP(&bmp, width, 1 + rng() % 9, 0.5, rng, round % 2 == 0);
      DirtyPadding(&bmp);
      Placement s{&bmp, nullptr, 0, 0, {}, {}};
      const bool nominal = round < 4;
      for (int k = 0; k < 4; ++k) {
        s.atx[k] = nominalX[templ][k];
        s.aty[k] = nominalY[templ][k];
        if (!nominal) RandomAt(rng, width, nominalX[templ][k], nominalY[templ][k], &s.atx[k], &s.aty[k]);
      }
      CONTEXT ctx;
      InitContext(&ctx, &bmp, templ, s.atx, s.aty);
      // Nominal adaptive pixels are folded into the row runs.
      if (nominal) {
        EXPECT_EQ(ctx.nPixels + ctx.nRows, templ == 0 ? 2u : templ == 3 ? 1u : 2u);
      }
      ExpectContexts(&ctx, kGeneric[templ], s, "GB" + std::to_string(templ) + " width " + std::to_string(width));
      DestroyBMP(&bmp);
    }
  }
  testing::internal::GetCapturedStderr();
}

TEST(ContextTemplate, RefinementTemplatesMatchDirectComputation) {
  std::mt19937 rng(2);
  testing::internal::CaptureStderr();
  for (uint32_t width : kWidths) {
    for (int round = 0; round < 24; ++round) {
      const int templ = round % 2;
      BMP bmp, ref;
      jb2test::MakeRandomBMP(&bmp, width, 1 + rng() % 9, 0.5, rng, round % 3 == 0);
      jb2test::MakeRandomBMP(&ref, kWidths[rng() % std::size(kWidths)], 1 + rng() % 9, 0.5, rng, round % 2 == 0);
      DirtyPadding(&bmp);
      DirtyPadding(&ref);
      Placement s{&bmp, &ref, 0, 0, {-1, -1}, {-1, -1}};
      if (round >= 4) {
        s.dx = RandomDisplacement(rng, ref.lHeight);
        s.dy = RandomDisplacement(rng, ref.lHeight);
        RandomAt(rng, width, -1, -1, &s.atx[0], &s.aty[0]);
        RandomAt(rng, ref.lWidth, -1, -1, &s.atx[1], &s.aty[1]);
        if (rng() % 2) s.aty[1] = static_cast<long>(rng() % 256) - 128;  // RA2 may lie below
      }
      CONTEXT ctx;
      InitRefContext(&ctx, &ref, &bmp, s.dx, s.dy, templ, s.atx, s.aty);
      ExpectContexts(&ctx, kRefinement[templ], s,
                     "GR" + std::to_string(templ) + " dx " + std::to_string(s.dx) + " dy " + std::to_string(s.dy));
      DestroyBMP(&bmp);
      DestroyBMP(&ref);
    }
  }
  testing::internal::GetCapturedStderr();
}

// A reference far narrower than the coded rows: its runs end early and must
// keep reading zeros over tens of thousands of pixels without reloading.
TEST(ContextTemplate, LongRowsOverNarrowReference) {
  std::mt19937 rng(3);
  BMP bmp, ref;
  jb2test::MakeRandomBMP(&bmp, 70000, 2, 0.5, rng);
  CreateBMP(&ref, 1, 3, 1);
  Placement s{&bmp, &ref, 0, 0, {-1, 3}, {-1, 1}};
  CONTEXT ctx;
  InitRefContext(&ctx, &ref, &bmp, 0, 0, 0, s.atx, s.aty);
  ExpectContexts(&ctx, kRefinement[0], s, "GR0 long row");
  DestroyBMP(&bmp);
  DestroyBMP(&ref);
}

TEST(ContextTemplate, ForbiddenAdaptivePixelsAreReportedAndReadZero) {
  struct Case {
    long x, y;
    const char* message;
  } cases[] = {
      {0, 0, "ERROR!   Unexpected: Invalid x for context\n"},
      {1, 0, "ERROR!   Unexpected: Invalid x for context\n"},
      {0, 1, "ERROR!   Unexpected: Context y co-ordinate > 0\n"},
      {-1, 0, ""},  // the previous pixel, read from the bitmap
  };
  BMP bmp;
  CreateBMP(&bmp, 9, 3, 1);
  for (const Case& c : cases) {
    long atx[4] = {c.x}, aty[4] = {c.y};
    CONTEXT ctx;
    testing::internal::CaptureStderr();
    InitContext(&ctx, &bmp, 3, atx, aty);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.x << "," << c.y;
    Placement s{&bmp, nullptr, 0, 0, {c.x}, {c.y}};
    ExpectContexts(&ctx, kGeneric[3], s, "forbidden AT");
    // The same pixel as RA1 of refinement template 0.
    long ratx[2] = {c.x, -1}, raty[2] = {c.y, -1};
    testing::internal::CaptureStderr();
    InitRefContext(&ctx, &bmp, &bmp, 0, 0, 0, ratx, raty);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.x << "," << c.y;
  }
  DestroyBMP(&bmp);
}

TEST(ContextTemplate, FirstPixelOfBitmapHasContextZero) {
  BMP bmp;
  CreateBMP(&bmp, 5, 5, 1);
  long atx[4] = {3, -3, 2, -2}, aty[4] = {-1, -1, -2, -2}, ratx[2] = {-1, -1}, raty[2] = {-1, -1};
  for (int templ = 0; templ < 4; ++templ) {
    CONTEXT ctx;
    InitContext(&ctx, &bmp, templ, atx, aty);
    NextContextRow(&ctx);
    EXPECT_EQ(GetContext(&ctx, 0), 0u) << templ;
  }
  // With the reference all white there, and for an unknown template.
  BMP ref;
  CreateBMP(&ref, 5, 5, 0);
  for (int templ : {0, 1, 7}) {
    CONTEXT ctx;
    InitRefContext(&ctx, &ref, &bmp, 0, 0, templ, ratx, raty);
    NextContextRow(&ctx);
    EXPECT_EQ(GetContext(&ctx, 0), 0u) << templ;
  }
  DestroyBMP(&ref);
  DestroyBMP(&bmp);
}

TEST(ContextTemplate, Check3x3TreatsOutsideAsZero) {
  BMP ones, mixed;
  CreateBMP(&ones, 3, 3, 1);
  CreateBMP(&mixed, 4, 4, 0);
  jb2test::SetPixel(&mixed, 3, 3, 1);
  struct Case {
    BMP* bmp;
    long x, y;
    int want;
  } cases[] = {
      {&ones, 0, 0, 0},  {&ones, 2, 2, 0},   {&ones, 0, 2, 0},  {&ones, 1, 1, 1},
      {&mixed, 0, 0, 1}, {&mixed, 2, 2, 0},  {&mixed, 3, 3, 0}, {&mixed, 4, 4, 0}, {&mixed, 5, 5, 1},
      {&mixed, 6, 6, 1}, {&mixed, -2, 1, 1}, {&ones, LONG_MIN, LONG_MAX, 1}, {&ones, LONG_MAX, 1, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(Check3x3(c.bmp, c.x, c.y), c.want) << c.x << "," << c.y;
  DestroyBMP(&ones);
  DestroyBMP(&mixed);
}

}  // namespace
