// Test models over the MQ coder: a coder that collects its bytes, and the
// per-pixel refinement coding of T.88 6.3.5 built on the general context
// machinery, which the fast refinement paths of coder and decoder are
// checked against.
#pragma once

#include <cstdint>
#include <vector>

#include "common/mq_coder.h"
#include "kernels/context_template.h"
#include "tests/test_util.h"

namespace jb2test {

inline void CollectByte(void* param, int byte) {
  static_cast<std::vector<uint8_t>*>(param)->push_back(static_cast<uint8_t>(byte));
}

// Owns an MQ encoder writing into a byte vector and a fresh context store.
struct TestCoder {
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQBUFFER store{};
  TestCoder() {
    MQSetOutFunction(&enc, CollectByte, &out);
    MQInitEnc(&enc);
    CreateMQBuffer(&store, 65536);
  }
  ~TestCoder() { DestroyMQBuffer(&store); }
  TestCoder(const TestCoder&) = delete;
  TestCoder& operator=(const TestCoder&) = delete;
  void Code(int d, uint32_t cx) { MQEncode(&enc, d, store.pIndex + cx, store.pMPS + cx); }
  std::vector<uint8_t> Finish() {
    MQFlush(&enc);
    return out;
  }
};

// The decisions of T.88 6.3.5, in order: one per pixel unless typical
// prediction gives it, SLTP in the contexts 0x100 (template 0) and 0x80
// (template 1). `code(bit, context)` receives each.
template <typename Code>
void VisitRefinementDecisions(BMP* target, BMP* ref, int templ, bool tpgron, long dx, long dy, long* atx, long* aty,
                              Code code) {
  CONTEXT ctx;
  InitRefContext(&ctx, ref, target, dx, dy, templ, atx, aty);
  int ltp = 0;
  for (uint32_t y = 0; y < target->lHeight; ++y) {
    NextContextRow(&ctx);
    if (tpgron) {
      int typical = 1;
      for (uint32_t x = 0; x < target->lWidth; ++x)
        if (Check3x3(ref, x - dx, y - dy) && GetPixel(target, x, y) != GetPixel(ref, x - dx, y - dy)) typical = 0;
      code(ltp ^ typical, templ == 0 ? 0x100u : 0x80u);
      ltp = typical;
    }
    int previous = 0;
    for (uint32_t x = 0; x < target->lWidth; ++x) {
      const uint32_t cx = GetContext(&ctx, previous);
      const int pixel = GetPixel(target, x, y);
      if (!(ltp && Check3x3(ref, x - dx, y - dy))) code(pixel, cx);
      previous = pixel;
    }
  }
}

inline std::vector<uint8_t> ModelEncodeRefinement(BMP* target, BMP* ref, int templ, bool tpgron, long dx, long dy,
                                                  long* atx, long* aty) {
  TestCoder coder;
  VisitRefinementDecisions(target, ref, templ, tpgron, dx, dy, atx, aty,
                           [&](int d, uint32_t cx) { coder.Code(d, cx); });
  return coder.Finish();
}

// Refinement cases both the coder's and the decoder's fast paths are checked
// on: both templates, nominal and moved AT pixels, typical prediction,
// offsets from none to +-2^31, over widths of whole and partial bytes, one
// pixel and rows of many bytes.
struct RefinementCase {
  int templ;
  bool tpgron;
  long dx, dy;
  long atx[2], aty[2];
};
inline constexpr RefinementCase kRefinementCases[] = {
    {0, false, 0, 0, {-1, -1}, {-1, -1}},  {0, true, 0, 0, {-1, -1}, {-1, -1}},
    {0, true, 1, -2, {-3, 2}, {-1, 1}},    {0, false, 1, 1, {-2, 1}, {-1, 0}},
    {1, false, 0, 0, {0, 0}, {0, 0}},      {1, true, -1, 1, {0, 0}, {0, 0}},
    {0, true, -9, 3, {-1, -1}, {-1, -1}},  {1, false, 17, -1, {0, 0}, {0, 0}},
    {0, false, 40, 0, {-1, -1}, {-1, -1}}, {1, true, 0, -30, {0, 0}, {0, 0}},
    {0, true, 2147483647L, -2147483647L, {-1, -1}, {-1, -1}}};
inline constexpr uint32_t kRefinementSizes[][2] = {{27, 19}, {32, 8}, {1, 5}, {70, 3}};

// A random reference and a target that differs from it in a few pixels.
template <typename Rng>
void MakeRefinementPair(BMP* ref, BMP* target, uint32_t w, uint32_t h, Rng& rng) {
  MakeRandomBMP(ref, w, h, 0.2, rng);
  CopyBMP(target, ref);
  for (int k = 0; k < 25; ++k) SetPixel(target, rng() % w, rng() % h, rng() & 1);
}

}  // namespace jb2test
