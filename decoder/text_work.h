// What the instances of one text region, or of all aggregate symbols of one
// symbol dictionary, may cost: their number and the pixels they refine and
// draw, bounded by declared sizes (kMaxTextInstances, kMaxTextOverdraw and
// the pixels of the bitmaps they are drawn into),
// never by how much data is left. Arithmetic-coded data may code any number
// of decisions in a few bytes (past its end the decoder reads 1-bits, T.88
// E.3.4), so a count is judged by the limit alone.
#pragma once

#include <cstdint>

#include "common/limits.h"
#include "common/messages.h"

namespace jb2dec {

class TextWork {
 public:
  // `canvasPixels`: the pixels of the bitmap the instances are drawn into.
  explicit TextWork(uint32_t segmentNumber, uint64_t canvasPixels = 0) : segment_(segmentNumber) {
    AddCanvas(canvasPixels);
  }

  // Another bitmap instances are drawn into (an aggregate symbol).
  void AddCanvas(uint64_t pixels) { allowance_ += kMaxTextOverdraw * pixels; }

  // One more instance; false (after one message) past kMaxTextInstances or
  // past the allowance (an instance counts as kMaxTextOverdraw pixels).
  [[nodiscard]] bool AddInstance() {
    if (stopped_) return false;
    if (++instances_ > kMaxTextInstances) return Stop("Too Many Symbol Instances: Decoding Stopped");
    return AddPixels(kMaxTextOverdraw);
  }

  // Pixels refined or drawn; false (after one message) past the allowance.
  [[nodiscard]] bool AddPixels(uint64_t pixels) {
    if (stopped_) return false;
    pixels_ += pixels;
    if (pixels_ <= allowance_) return true;
    return Stop("Symbol Instances Overlap Too Much: Decoding Stopped");
  }

 private:
  bool Stop(const char* message) {
    PrintErrorRef(message, static_cast<long>(segment_));
    stopped_ = true;
    return false;
  }

  uint32_t segment_;
  uint64_t allowance_ = kTextPixelAllowance;
  uint64_t instances_ = 0;
  uint64_t pixels_ = 0;
  bool stopped_ = false;
};

}  // namespace jb2dec
