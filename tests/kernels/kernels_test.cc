// The kernels against their plain twins (kernels/*_plain.*, written from
// T.88's procedures): random rows, every generic template (0 to 3) and
// refinement template (0 and 1), adaptive pixels at their nominal places,
// moved as encoders move them, and wherever a file may put them. Same
// windows, contexts, decisions and bits, or the fast path is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/bit_reader.h"
#include "common/mq_coder.h"
#include "kernels/bit_count.h"
#include "kernels/context_plain.h"
#include "kernels/context_template.h"
#include "kernels/generic_row_decoder.h"
#include "kernels/generic_row_encoder.h"
#include "kernels/generic_row_layout.h"
#include "kernels/mq_runs.h"
#include "kernels/mq_runs_plain.h"
#include "kernels/pixel_words.h"
#include "kernels/refinement_rows.h"
#include "kernels/row_window.h"
#include "kernels/words_plain.h"
#include "tests/common/adaptive_pixels.h"
#include "tests/common/page_like_image.h"
#include "tests/mq_model.h"
#include "tests/test_util.h"

namespace {

using jb2test::GetPixel;

// Offsets as the kernels clamp them: past 2^34 every pixel named is outside.
int64_t Clamped(long v) { return std::clamp<int64_t>(v, -(int64_t{1} << 34), int64_t{1} << 34); }

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

// ---------------------------------------------------------------------------
// Row windows, run searches, pixel words, bit counts.

// Rows of white, black and mixed stretches, so the searches stop anywhere.
std::vector<unsigned char> StretchyRow(std::mt19937& rng, size_t n) {
  std::vector<unsigned char> row(n);
  for (size_t i = 0; i < n;) {
    const size_t len = 1 + rng() % 20;
    const unsigned kind = rng() % 3;
    for (size_t k = 0; k < len && i < n; ++k, ++i)
      row[i] = kind == 0 ? 0 : kind == 1 ? 0xFF : static_cast<unsigned char>(rng());
  }
  return row;
}

TEST(Kernels, WordsMatchPlain) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    const size_t n = 3 + rng() % 80;
    const auto a = StretchyRow(rng, n), b = StretchyRow(rng, n), c = StretchyRow(rng, n);
    for (size_t i = 1; i + 2 < n; ++i) ASSERT_EQ(RowWindow(&a[i]), RowWindowPlain(&a[i])) << i;
    const uint32_t from = rng() % n, end = from + rng() % (n - from + 1);
    EXPECT_EQ(NextNonZeroByte(a.data(), b.data(), c.data(), from, end),
              NextNonZeroBytePlain(a.data(), b.data(), c.data(), from, end));
    EXPECT_EQ(NextNonZeroByte(a.data(), a.data(), a.data(), from, end),
              NextNonZeroBytePlain(a.data(), a.data(), a.data(), from, end));
    EXPECT_EQ(NextNotBlackByte(a.data(), b.data(), from, end), NextNotBlackBytePlain(a.data(), b.data(), from, end));
    EXPECT_EQ(NextNotBlackByte(b.data(), b.data(), from, end), NextNotBlackBytePlain(b.data(), b.data(), from, end));
    if (n >= 8) {
      const size_t at = rng() % (n - 7);
      const uint64_t word = LoadPixels64(&a[at]);
      EXPECT_EQ(word, LoadPixels64Plain(&a[at]));
      EXPECT_EQ(CountBits(word), CountBitsPlain(word));
      unsigned char fast[8], plain[8];
      StorePixels64(fast, word);
      StorePixels64Plain(plain, word);
      EXPECT_TRUE(std::equal(fast, fast + 8, plain));
    }
  }
  EXPECT_EQ(CountBits(~uint64_t{0}), 64u);
}

// ---------------------------------------------------------------------------
// Context templates: the incremental windows of GetContext.

struct Placement {
  BMP* bmp;
  BMP* ref;  // null for generic templates
  long dx, dy;
  long atx[4], aty[4];
};

uint32_t PlainContext(const Placement& s, uint32_t templ, long x, long y) {
  return s.ref == nullptr ? GenericContextPlain(s.bmp, x, y, templ, s.atx, s.aty)
                          : RefinementContextPlain(s.bmp, s.ref, x, y, s.dx, s.dy, templ, s.atx, s.aty);
}

// Runs the context over every pixel as a coder would and compares each one.
void ExpectContexts(CONTEXT* ctx, uint32_t templ, const Placement& s, const std::string& what) {
  for (long y = 0; y < static_cast<long>(s.bmp->lHeight); ++y) {
    NextContextRow(ctx);
    int previous = 0;
    for (long x = 0; x < static_cast<long>(s.bmp->lWidth); ++x) {
      const uint32_t got = GetContext(ctx, previous);
      const uint32_t want = PlainContext(s, templ, x, y);
      if (got != want) {
        ADD_FAILURE() << what << " at (" << x << "," << y << "): got " << got << " want " << want;
        return;
      }
      previous = GetPixel(s.bmp, x, y);
    }
  }
}

TEST(Kernels, GenericContextTemplatesMatchPlain) {
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
      ExpectContexts(&ctx, templ, s, "GB" + std::to_string(templ) + " width " + std::to_string(width));
      DestroyBMP(&bmp);
    }
  }
  testing::internal::GetCapturedStderr();
}

TEST(Kernels, RefinementContextTemplatesMatchPlain) {
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
      ExpectContexts(&ctx, templ, s,
                     "GR" + std::to_string(templ) + " dx " + std::to_string(s.dx) + " dy " + std::to_string(s.dy));
      DestroyBMP(&bmp);
      DestroyBMP(&ref);
    }
  }
  testing::internal::GetCapturedStderr();
}

// A reference far narrower than the coded rows: its runs end early and must
// keep reading zeros over tens of thousands of pixels without reloading.
TEST(Kernels, ContextTemplateOverANarrowReference) {
  std::mt19937 rng(3);
  BMP bmp, ref;
  jb2test::MakeRandomBMP(&bmp, 70000, 2, 0.5, rng);
  CreateBMP(&ref, 1, 3, 1);
  Placement s{&bmp, &ref, 0, 0, {-1, 3}, {-1, 1}};
  CONTEXT ctx;
  InitRefContext(&ctx, &ref, &bmp, 0, 0, 0, s.atx, s.aty);
  ExpectContexts(&ctx, 0, s, "GR0 long row");
  DestroyBMP(&bmp);
  DestroyBMP(&ref);
}

TEST(Kernels, ForbiddenAdaptivePixelsAreReportedAndReadZero) {
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
    ExpectContexts(&ctx, 3, s, "forbidden AT");
    // The same pixel as RA1 of refinement template 0.
    long ratx[2] = {c.x, -1}, raty[2] = {c.y, -1};
    testing::internal::CaptureStderr();
    InitRefContext(&ctx, &bmp, &bmp, 0, 0, 0, ratx, raty);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.x << "," << c.y;
  }
  DestroyBMP(&bmp);
}

TEST(Kernels, FirstPixelOfBitmapHasContextZero) {
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

TEST(Kernels, Check3x3TreatsOutsideAsZero) {
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
  for (const Case& c : cases) {
    EXPECT_EQ(Check3x3(c.bmp, c.x, c.y), c.want) << c.x << "," << c.y;
    EXPECT_EQ(ReferenceUniformPlain(c.bmp, Clamped(c.x), Clamped(c.y)), c.want == 1) << c.x << "," << c.y;
  }
  DestroyBMP(&ones);
  DestroyBMP(&mixed);
}

// ---------------------------------------------------------------------------
// Generic rows coded and decoded a byte at a time.

struct Decoder {
  DECODER input{};
  MQDECODER dec{};
  MQBUFFER store{};
  explicit Decoder(const std::vector<uint8_t>& bytes) {
    InitDecoder(&input, bytes.data(), bytes.size());
    MQSetInFunction(&dec, MQMainIn, &input);
    MQInitDec(&dec);
    CreateMQBuffer(&store, 65536);
  }
  ~Decoder() { DestroyMQBuffer(&store); }
};

template <typename Record>
void ExpectSameRegisters(const Record& fast, const Record& plain, uint32_t y) {
  EXPECT_EQ(fast.C, plain.C) << "row " << y;
  EXPECT_EQ(fast.A, plain.A) << "row " << y;
  EXPECT_EQ(fast.CT, plain.CT) << "row " << y;
}

// Codes `bmp` a row at a time with the row coder and the plain one, then
// decodes the code with the row decoder and the plain one: the same
// registers after every row, the same bytes, the same pixels.
void ExpectGenericRowsMatch(const BMP* bmp, uint32_t templ, const jb2test::At& at) {
  const GenericRowLayout layout = LayOutGenericRows(templ, at.x, at.y);
  const GenericRowEncoder encodeRow = ChooseGenericRowEncoder(templ, layout);
  const GenericRowPlan plan = PlanGenericRows(templ, at.x, at.y);
  ASSERT_NE(encodeRow, nullptr);
  ASSERT_NE(plan.decode, nullptr);
  jb2test::TestCoder fast, plain;
  for (uint32_t y = 0; y < bmp->lHeight; ++y) {
    MQRegs r = MQLoadRegs(&fast.enc);
    encodeRow(layout, &fast.enc, r, fast.store.pIndex, fast.store.pMPS, bmp, y);
    MQStoreRegs(&fast.enc, r);
    EncodeGenericRowPlain(&plain.enc, plain.store.pIndex, plain.store.pMPS, bmp, y, templ, at.x, at.y);
    ExpectSameRegisters(fast.enc, plain.enc, y);
  }
  const std::vector<uint8_t> coded = fast.Finish();
  ASSERT_EQ(coded, plain.Finish());

  Decoder fastIn(coded), plainIn(coded);
  BMP fastOut{}, plainOut{};
  CreateBMP(&fastOut, bmp->lWidth, bmp->lHeight, 0);
  CreateBMP(&plainOut, bmp->lWidth, bmp->lHeight, 0);
  for (uint32_t y = 0; y < bmp->lHeight; ++y) {
    MQRegs r = MQLoadRegs(&fastIn.dec);
    plan.decode(plan, &fastIn.dec, r, fastIn.store.pIndex, fastIn.store.pMPS, &fastOut, y);
    MQStoreRegs(&fastIn.dec, r);
    DecodeGenericRowPlain(&plainIn.dec, plainIn.store.pIndex, plainIn.store.pMPS, &plainOut, y, templ, at.x, at.y);
    ExpectSameRegisters(fastIn.dec, plainIn.dec, y);
  }
  EXPECT_TRUE(jb2test::SamePixels(&fastOut, bmp));
  EXPECT_TRUE(jb2test::SamePixels(&plainOut, bmp));
  DestroyBMP(&fastOut);
  DestroyBMP(&plainOut);
}

// Adaptive pixels: nominal (placing -1), moved as encoders move them (0 to
// 3), and anywhere within 8 columns in the two rows above (4 and up).
jb2test::At Placing(std::mt19937& rng, int templ, int placing) {
  if (placing < 0) return jb2test::NominalAt(templ);
  if (placing < 4) return jb2test::MovedAt(templ, placing);
  jb2test::At at;
  for (int k = 0; k < 4; ++k) {
    at.x[k] = static_cast<long>(rng() % 17) - 8;
    at.y[k] = -1 - static_cast<long>(rng() % 2);
  }
  return at;
}

// Random rows (spare bits set) of one to many bytes, sparse and dense.
TEST(Kernels, GenericRowsMatchPlainOnRandomRows) {
  std::mt19937 rng(7);
  for (int templ = 0; templ < 4; ++templ)
  for (int placing = -1; placing < 7; ++placing)
  for (uint32_t width : {1u, 3u, 8u, 9u, 15u, 16u, 17u, 24u, 25u, 31u, 33u, 64u, 100u}) {
    for (uint32_t height : {1u, 2u, 5u}) {
      for (double density : {0.05, 0.5}) {
        const jb2test::At at = Placing(rng, templ, placing);
        SCOPED_TRACE(testing::Message() << "template " << templ << " placing " << placing << " at " << at.x[0] << ","
                                        << at.y[0] << " " << width << "x" << height << " density " << density);
        BMP bmp;
        jb2test::MakeRandomBMP(&bmp, width, height, density, rng, /*dirtySpareBits=*/true);
        ExpectGenericRowsMatch(&bmp, templ, at);
        DestroyBMP(&bmp);
      }
    }
  }
}

// Page-like rows, and inverted ones, take the uniform runs: long ones (where
// the coder's room ends them), short ones between marks, and those that end
// at the last interior byte.
TEST(Kernels, GenericRowsMatchPlainOnPageLikeRows) {
  std::mt19937 rng(23);
  for (int templ = 0; templ < 4; ++templ)
  for (int placing = -1; placing < 5; ++placing)
  for (uint32_t width : {17u, 24u, 25u, 32u, 33u, 57u, 130u, 800u}) {
    for (uint32_t height : {3u, 20u}) {
      for (bool inverted : {false, true}) {
        const jb2test::At at = Placing(rng, templ, placing);
        SCOPED_TRACE(testing::Message() << "template " << templ << " placing " << placing << " " << width << "x"
                                        << height << " inverted " << inverted);
        BMP bmp;
        jb2test::MakePageLikeBMP(&bmp, width, height, rng);
        if (inverted) InvertBMP(&bmp);
        ExpectGenericRowsMatch(&bmp, templ, at);
        DestroyBMP(&bmp);
      }
    }
  }
}

// Each template and placing takes its own row decoder; places the windows do
// not hold (the current row, more than 8 columns or 2 rows away) take none.
TEST(Kernels, GenericRowPlansFitTheAdaptivePixels) {
  using jb2test::At;
  using jb2test::MovedAt;
  using jb2test::NominalAt;
  for (int templ = 0; templ < 4; ++templ) {
    At at = NominalAt(templ);
    const GenericRowDecoder nominal = PlanGenericRows(templ, at.x, at.y).decode;
    EXPECT_NE(nominal, nullptr) << templ;
    at = MovedAt(templ, 0);
    const GenericRowDecoder moved = PlanGenericRows(templ, at.x, at.y).decode;
    EXPECT_NE(moved, nullptr) << templ;
    EXPECT_NE(moved, nominal) << templ;
    const long kOut[][2] = {{-1, 0}, {9, -1}, {-9, -2}, {0, -3}};
    for (const auto& place : kOut) {
      at = NominalAt(templ);
      at.x[0] = place[0], at.y[0] = place[1];
      EXPECT_EQ(PlanGenericRows(templ, at.x, at.y).decode, nullptr) << templ << " " << place[0] << "," << place[1];
      EXPECT_EQ(ChooseGenericRowEncoder(templ, LayOutGenericRows(templ, at.x, at.y)), nullptr) << templ;
    }
  }
  At at = NominalAt(2);
  EXPECT_NE(PlanGenericRows(0, at.x, at.y).decode, PlanGenericRows(0, NominalAt(0).x, NominalAt(0).y).decode);
}

// ---------------------------------------------------------------------------
// Refinement contexts from shifted rows.

TEST(Kernels, RefinementRowsMatchPlain) {
  std::mt19937 rng(5);
  long atx[2] = {-1, -1}, aty[2] = {-1, -1};  // the fast rows cover nominal ones
  for (uint32_t width : {1u, 7u, 8u, 9u, 27u, 32u, 70u}) {
    for (int round = 0; round < 16; ++round) {
      const uint32_t templ = round % 2;
      BMP coded, ref;
      jb2test::MakeRandomBMP(&coded, width, 1 + rng() % 9, 0.5, rng, true);
      jb2test::MakeRandomBMP(&ref, kWidths[rng() % std::size(kWidths)], 1 + rng() % 9, round % 4 < 2 ? 0.5 : 0.05,
                             rng, true);
      const long dx = round < 2 ? 0 : RandomDisplacement(rng, ref.lHeight);
      const long dy = round < 2 ? 0 : RandomDisplacement(rng, ref.lHeight);
      SCOPED_TRACE(testing::Message() << "template " << templ << " width " << width << " dx " << dx << " dy " << dy);
      ASSERT_TRUE(RefinementRowsApply(templ, atx, aty));
      RefinementRows rows(&ref, width, dx, dy);
      for (uint32_t y = 0; y < coded.lHeight; ++y) {
        rows.Load(&coded, y);
        for (uint32_t x = 0; x < width; ++x) {
          const RefinementRows::Windows w = rows.At(x / 8);
          const uint32_t previous = static_cast<uint32_t>(GetPixel(&coded, long(x) - 1, y));
          const uint32_t got = templ == 0 ? RefinementRows::Context<0>(w, x % 8, previous)
                                          : RefinementRows::Context<1>(w, x % 8, previous);
          ASSERT_EQ(got, RefinementContextPlain(&coded, &ref, x, y, dx, dy, templ, atx, aty)) << x << "," << y;
          const int64_t rx = x - Clamped(dx), ry = y - Clamped(dy);
          uint32_t pixel = 2;
          const bool uniform = RefinementRows::Uniform(w, x % 8, &pixel);
          ASSERT_EQ(uniform, ReferenceUniformPlain(&ref, rx, ry)) << x << "," << y;
          if (uniform) {
            const int want = rx < 0 || ry < 0 || rx >= ref.lWidth || ry >= ref.lHeight ? 0 : GetPixel(&ref, rx, ry);
            ASSERT_EQ(pixel, static_cast<uint32_t>(want)) << x << "," << y;
          }
        }
      }
      DestroyBMP(&coded);
      DestroyBMP(&ref);
    }
  }
}

// ---------------------------------------------------------------------------
// Runs of MPS decisions: taken exactly when every decision in them would
// take the MPS path without renormalising, and then leaving the registers as
// the plain decisions do; refused, leaving them as they were.

struct Tally {
  int taken = 0;
  int refused = 0;
};

template <typename Record>
void ExpectRun(bool got, bool want, const MQRegs& r, const Record& plain, Tally& tally) {
  ASSERT_EQ(got, want);
  EXPECT_EQ(r.C, plain.C);
  EXPECT_EQ(r.A, plain.A);
  EXPECT_EQ(r.CT, plain.CT);
  ++(want ? tally.taken : tally.refused);
}

TEST(Kernels, MQDecodeRunsMatchPlain) {
  std::mt19937 rng(3);
  Tally tally;
  for (unsigned state = 0; state < kMQNumStates; ++state) {
    for (uint32_t n : {1u, 2u, 8u, 40u, 1000u}) {
      for (int trial = 0; trial < 40; ++trial) {
        MQDECODER dec{};
        dec.A = 0x8000 + rng() % 0x8000;
        dec.C = (rng() % dec.A) << 16 | (rng() & 0xFFFF);  // the code value lies inside the interval
        dec.CT = 1 + rng() % 8;
        SCOPED_TRACE(testing::Message() << "state " << state << " n " << n);
        MQRegs r = MQLoadRegs(&dec);
        const bool got = MQDecodeMPSRun(r, MQQe[state], n);
        const bool want = MQDecodeMPSRunPlain(&dec, state, n);
        ExpectRun(got, want, r, dec, tally);
      }
    }
  }
  EXPECT_GT(tally.taken, 100);
  EXPECT_GT(tally.refused, 100);
}

TEST(Kernels, MQEncodeRunsMatchPlain) {
  std::mt19937 rng(4);
  Tally tally;
  for (unsigned state = 0; state < kMQNumStates; ++state) {
    for (uint32_t n : {1u, 2u, 8u, 40u, 1000u}) {
      for (int trial = 0; trial < 40; ++trial) {
        MQENCODER enc{};
        enc.A = 0x8000 + rng() % 0x8000;
        enc.C = rng() & 0x07FFFFFF;
        enc.CT = 1 + rng() % 12;
        SCOPED_TRACE(testing::Message() << "state " << state << " n " << n);
        MQRegs r = MQLoadRegs(&enc);
        const bool got = MQEncodeMPSRun(r, MQQe[state], n);
        const bool want = MQEncodeMPSRunPlain(&enc, state, n);
        ExpectRun(got, want, r, enc, tally);
      }
    }
  }
  EXPECT_GT(tally.taken, 100);
  EXPECT_GT(tally.refused, 100);
}

}  // namespace
