// The MQ binary arithmetic coder of T.88 Annex E, both directions, and the
// context state stores. Bytes go out through an output function and come in
// through an input function installed by the caller.
#pragma once

#include <bit>
#include <cstdint>

typedef struct MQBUFFER {
  unsigned char* pIndex;  // per context: state index 0..46
  unsigned char* pMPS;    // per context: more probable symbol
} MQBUFFER;

typedef void (*MQOutFunction)(void* param, int byte);
typedef int (*MQInFunction)(void* param);

typedef struct MQENCODER {
  uint32_t C;
  uint32_t A;
  uint32_t CT;
  uint8_t B;
  uint32_t bSkipByte;
  uint32_t bFlushing;
  uint32_t nHeldFF;
  uint32_t nHeld7F;
  uint32_t lBytesOut;
  void* pOutParam;
  MQOutFunction pOutFunction;
} MQENCODER;

typedef struct MQDECODER {
  uint32_t C;
  uint32_t A;
  uint32_t CT;
  uint8_t B;
  uint32_t bMarker;
  void* pInParam;
  MQInFunction pInFunction;
} MQDECODER;

// Throws std::bad_alloc (the store left empty) when it cannot be allocated.
void CreateMQBuffer(MQBUFFER* store, unsigned long count);
void ResetMQBuffer(MQBUFFER* store, unsigned long count);
void DestroyMQBuffer(MQBUFFER* store);
void MQSetOutFunction(MQENCODER* enc, MQOutFunction function, void* param);
void MQSetInFunction(MQDECODER* dec, MQInFunction function, void* param);
void MQInitEnc(MQENCODER* enc);
void MQEncode(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps);
void MQEncodeStats(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps, double* bits);
unsigned long MQFlush(MQENCODER* enc);
void MQInitDec(MQDECODER* dec);
int MQDecode(MQDECODER* dec, unsigned char* index, unsigned char* mps);

// ---------------------------------------------------------------------------
// Probability estimation (T.88 Table E.1): 47 states.
inline constexpr int kMQNumStates = 47;
extern const uint32_t MQQe[kMQNumStates];
extern const unsigned char MQNmps[kMQNumStates];
extern const unsigned char MQNlps[kMQNumStates];
extern const unsigned char MQSwitch[kMQNumStates];
// Estimated cost in bits of coding the LPS / the MPS in each state.
extern const double MQLpsCost[kMQNumStates];
extern const double MQMpsCost[kMQNumStates];

// The coder registers, held in locals by hot loops and written back to the
// record at the end of a row (or of a decision, in MQEncode/MQDecode). They
// go through the record only when a byte moves, so their addresses never
// escape and they can stay in registers.
struct MQRegs {
  uint32_t C;
  uint32_t A;
  uint32_t CT;
};

inline MQRegs MQLoadRegs(const MQENCODER* enc) { return MQRegs{enc->C, enc->A, enc->CT}; }
inline MQRegs MQLoadRegs(const MQDECODER* dec) { return MQRegs{dec->C, dec->A, dec->CT}; }
inline void MQStoreRegs(MQENCODER* enc, MQRegs r) { enc->C = r.C; enc->A = r.A; enc->CT = r.CT; }
inline void MQStoreRegs(MQDECODER* dec, MQRegs r) { dec->C = r.C; dec->A = r.A; dec->CT = r.CT; }

// RENORME / RENORMD (T.88 E.2.6, E.3.3) with byte output and input, for
// when a byte moves during the renormalisation. They work on the registers
// in the record. The shifts go by count, bounded by CT, so bytes move exactly
// when the one-doubling-at-a-time procedure would move them.
void MQRenormEnc(MQENCODER* enc);
void MQRenormDec(MQDECODER* dec);

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

// The plain coder: one shift per loop turn, exactly as T.88's flowcharts.
// Kept beside the fast path above; tests require identical bits from both.
void MQEncodePlain(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps);
int MQDecodePlain(MQDECODER* dec, unsigned char* index, unsigned char* mps);
