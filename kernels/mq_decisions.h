// The MQ coder's decisions inlined on registers (T.88 E.2.2 to E.2.6, E.3.2,
// E.3.3): the fast path that region loops and MQEncode/MQDecode run. The
// plain coder of common/mq_coder.h follows T.88's flowcharts one doubling at
// a time; a test requires identical bits from both.
#pragma once

#include <bit>
#include <cstdint>

#include "common/mq_coder.h"

// Doublings that bring bit 15 of A (1..0xFFFF) up.
inline uint32_t MQRenormShift(uint32_t a) { return static_cast<uint32_t>(std::countl_zero(a | 1)) - 16; }

// RENORME: shifts in registers while no byte is due (CT stays above 0),
// otherwise out of line.
inline void MQRenormEncRegs(MQENCODER* enc, MQRegs& r) {
  const uint32_t s = MQRenormShift(r.A);
  if (s < r.CT) {
    r.A <<= s;
    r.C <<= s;
    r.CT -= s;
    return;
  }
  MQStoreRegs(enc, r);
  MQRenormEnc(enc);
  r = MQLoadRegs(enc);
}

// RENORMD: a byte is read when a doubling finds CT at 0.
inline void MQRenormDecRegs(MQDECODER* dec, MQRegs& r) {
  const uint32_t s = MQRenormShift(r.A);
  if (s <= r.CT) {
    r.A <<= s;
    r.C <<= s;
    r.CT -= s;
    return;
  }
  MQStoreRegs(dec, r);
  MQRenormDec(dec);
  r = MQLoadRegs(dec);
}

// ENCODE (T.88 E.2.2 with CODEMPS/CODELPS, E.2.4/E.2.5) on registers `r`.
inline void MQEncodeRegs(MQENCODER* enc, MQRegs& r, int d, unsigned char* index, unsigned char* mps) {
  const unsigned state = *index;
  const uint32_t qe = MQQe[state];
  uint32_t a = r.A - qe;
  if (static_cast<unsigned>(d) == *mps) {
    if (a & 0x8000) {
      r.A = a;
      r.C += qe;
      return;
    }
    if (a < qe) {
      a = qe;
    } else {
      r.C += qe;
    }
    *index = MQNmps[state];
  } else {
    if (a < qe) {
      r.C += qe;
    } else {
      a = qe;
    }
    if (MQSwitch[state]) *mps = static_cast<unsigned char>(1 - *mps);
    *index = MQNlps[state];
  }
  r.A = a;
  MQRenormEncRegs(enc, r);
}

// DECODE (T.88 E.3.2 with the exchanges of E.3.2) on registers `r`. The LPS
// sub-interval lies at the bottom, and C holds the code value's offset from
// the interval base in its high 16 bits.
inline int MQDecodeRegs(MQDECODER* dec, MQRegs& r, unsigned char* index, unsigned char* mps) {
  const unsigned state = *index;
  const uint32_t qe = MQQe[state];
  const uint32_t a = r.A - qe;
  const int m = *mps;
  int d;
  if ((r.C >> 16) < qe) {
    // Lower sub-interval: LPS unless the exchange gave it to the MPS.
    if (a < qe) {
      d = m;
      *index = MQNmps[state];
    } else {
      d = 1 - m;
      if (MQSwitch[state]) *mps = static_cast<unsigned char>(d);
      *index = MQNlps[state];
    }
    r.A = qe;
  } else {
    r.C -= qe << 16;
    r.A = a;
    if (a & 0x8000) return m;
    if (a < qe) {
      d = 1 - m;
      if (MQSwitch[state]) *mps = static_cast<unsigned char>(d);
      *index = MQNlps[state];
    } else {
      d = m;
      *index = MQNmps[state];
    }
  }
  MQRenormDecRegs(dec, r);
  return d;
}

inline void MQEncodeInline(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps) {
  MQRegs r = MQLoadRegs(enc);
  MQEncodeRegs(enc, r, d, index, mps);
  MQStoreRegs(enc, r);
}

inline int MQDecodeInline(MQDECODER* dec, unsigned char* index, unsigned char* mps) {
  MQRegs r = MQLoadRegs(dec);
  const int d = MQDecodeRegs(dec, r, index, mps);
  MQStoreRegs(dec, r);
  return d;
}
