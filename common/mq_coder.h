// The MQ binary arithmetic coder of T.88 Annex E, both directions, and the
// context state stores. Bytes go out through an output function and come in
// through an input function installed by the caller.
#pragma once

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

// The plain coder: one shift per loop turn, exactly as T.88's flowcharts.
// The fast path is kernels/mq_decisions.h; a test requires identical bits
// from both.
void MQEncodePlain(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps);
int MQDecodePlain(MQDECODER* dec, unsigned char* index, unsigned char* mps);
