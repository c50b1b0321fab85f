// Coding cost estimates for the encoder's automatic choices: bitmaps are run
// through an MQ coder of their own whose output is only counted, with
// context stores that adapt across calls as the real coder's would.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "encoder/encode_state.h"

class CostCoder {
 public:
  CostCoder();
  ~CostCoder();
  CostCoder(const CostCoder&) = delete;
  CostCoder& operator=(const CostCoder&) = delete;

  // Bits spent so far, to about one bit.
  int64_t Bits() const;
  // Forgets the adapted contexts and restarts the count.
  void Reset();

  // Codes `bitmap` as a generic region with `gr`'s template and adaptive
  // pixels (its pState is replaced); returns the bits it took.
  int64_t GenericBits(const GRPARAM& gr, BMP* bitmap);
  // Codes `target` by refinement against `reference` placed at (dx, dy);
  // returns the bits it took.
  int64_t RefinementBits(BMP* target, BMP* reference, long dx, long dy, int templ, long* atx, long* aty);
  // Codes `value` with integer procedure `proc` (kIADS, ...); returns the bits.
  int64_t IntegerBits(int proc, long value);
  int64_t OOBBits(int proc);

 private:
  ENCODE_STATE state_;
};
