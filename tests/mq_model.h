// Test models over the MQ coder: a coder that collects its bytes, and the
// per-pixel refinement coding of T.88 6.3.5 built on the general context
// machinery, which the fast refinement paths of coder and decoder are
// checked against.
#pragma once

#include <cstdint>
#include <vector>

#include "common/context_template.h"
#include "common/mq_coder.h"
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

// One decision per pixel unless typical prediction gives it; SLTP in the
// contexts 0x100 (template 0) and 0x80 (template 1).
inline std::vector<uint8_t> ModelEncodeRefinement(BMP* target, BMP* ref, int templ, bool tpgron, long dx, long dy,
                                                  long* atx, long* aty) {
  TestCoder coder;
  CONTEXT ctx;
  InitRefContext(&ctx, ref, target, dx, dy, templ, atx, aty);
  int ltp = 0;
  for (uint32_t y = 0; y < target->lHeight; ++y) {
    NextContextRow(&ctx);
    if (tpgron) {
      int typical = 1;
      for (uint32_t x = 0; x < target->lWidth; ++x)
        if (Check3x3(ref, x - dx, y - dy) && GetPixel(target, x, y) != GetPixel(ref, x - dx, y - dy)) typical = 0;
      coder.Code(ltp ^ typical, templ == 0 ? 0x100 : 0x80);
      ltp = typical;
    }
    int previous = 0;
    for (uint32_t x = 0; x < target->lWidth; ++x) {
      const uint32_t cx = GetContext(&ctx, previous);
      const int pixel = GetPixel(target, x, y);
      if (!(ltp && Check3x3(ref, x - dx, y - dy))) coder.Code(pixel, cx);
      previous = pixel;
    }
  }
  return coder.Finish();
}

}  // namespace jb2test
