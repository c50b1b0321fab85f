// Runs of more-probable symbols in one context, coded at once.
//
// While the interval register A stays at or above 0x8000 an MPS decision
// neither renormalises nor changes the context's state (T.88 E.2.4, E.3.2):
// it only takes Qe off A (and, decoding, off the code register's high half;
// encoding, adds Qe to C). So n such decisions in a row are one subtraction
// of n x Qe, provided none of them would have renormalised or, decoding,
// have found the code value in the lower (LPS) sub-interval. Region loops use
// this for stretches of white paper, whose context is the same all along.
#pragma once

#include <cstdint>

#include "common/mq_coder.h"

// Decodes n MPS decisions with probability estimate `qe` if all n would take
// the MPS path without renormalisation; otherwise changes nothing and
// returns false. n is at most 2^16, so n x Qe (Qe <= 0x5601) is exact.
inline bool MQDecodeMPSRun(MQRegs& r, uint32_t qe, uint32_t n) {
  const uint32_t total = qe * n;
  // Decision i (1..n) takes the MPS path without renormalising when the code
  // value is still at or above Qe and A - i x Qe keeps bit 15: both hold for
  // every i exactly when they hold for i = n.
  if ((r.C >> 16) < total || r.A < total + 0x8000) return false;
  r.C -= total << 16;
  r.A -= total;
  return true;
}

// Encodes n MPS decisions if none would renormalise; otherwise changes
// nothing and returns false. The n additions to C carry exactly as one.
// n is at most 2^16.
inline bool MQEncodeMPSRun(MQRegs& r, uint32_t qe, uint32_t n) {
  const uint32_t total = qe * n;
  if (r.A < total + 0x8000) return false;
  r.A -= total;
  r.C += total;
  return true;
}
