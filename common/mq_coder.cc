// The MQ coder of T.88 Annex E: encoder (E.2) with its own stream ending,
// decoder (E.3), probability estimation (Table E.1) and context stores.
#include "common/mq_coder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kernels/mq_decisions.h"

// T.88 Table E.1.
const uint32_t MQQe[kMQNumStates] = {
    0x5601, 0x3401, 0x1801, 0x0AC1, 0x0521, 0x0221, 0x5601, 0x5401, 0x4801, 0x3801, 0x3001, 0x2401,
    0x1C01, 0x1601, 0x5601, 0x5401, 0x5101, 0x4801, 0x3801, 0x3401, 0x3001, 0x2801, 0x2401, 0x2201,
    0x1C01, 0x1801, 0x1601, 0x1401, 0x1201, 0x1101, 0x0AC1, 0x09C1, 0x08A1, 0x0521, 0x0441, 0x02A1,
    0x0221, 0x0141, 0x0111, 0x0085, 0x0049, 0x0025, 0x0015, 0x0009, 0x0005, 0x0001, 0x5601};
const unsigned char MQNmps[kMQNumStates] = {
    1,  2,  3,  4,  5,  38, 7,  8,  9,  10, 11, 12, 13, 29, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
    25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 45, 46};
const unsigned char MQNlps[kMQNumStates] = {
    1,  6,  9,  12, 29, 33, 6,  14, 14, 14, 17, 18, 20, 21, 14, 14, 15, 16, 17, 18, 19, 19, 20, 21,
    22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46};
const unsigned char MQSwitch[kMQNumStates] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0,
                                              0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// -log2(p) and -log2(1 - p) with p = Qe / 43690 (0xAAAA, the mean interval),
// to eight decimals.
const double MQLpsCost[kMQNumStates] = {
    0.98868471,  1.71446740,  2.82981819, 3.98822659,  5.05636428,  6.32490307, 0.98868471,
    1.02263097,  1.24501221,  1.60755993, 1.82993558,  2.24493395,  2.60745931, 2.95532773,
    0.98868471,  1.02263097,  1.07509591, 1.24501221,  1.60755993,  1.71446740, 1.82993558,
    2.09294651,  2.24493395,  2.32738690, 2.60745931,  2.82981819,  2.95532773, 3.09280564,
    3.24477743,  3.32722118,  3.98822659, 4.12903538,  4.30583778,  5.05636428, 5.32622725,
    6.02055279,  6.32490307,  7.08858600, 7.32225834,  8.35973305,  9.22519093, 10.20556212,
    11.02269806, 12.24509048, 13.09308739, 15.40800661, 0.98868471};
const double MQMpsCost[kMQNumStates] = {
    1.01140474, 0.52432371, 0.21868231, 0.09389773, 0.04402165, 0.01810973, 1.01140474, 0.97771855,
    0.79061982, 0.57379515, 0.47649260, 0.34183625, 0.25857684, 0.19914127, 1.01140474, 0.97771855,
    0.92862038, 0.79061982, 0.57379515, 0.52432371, 0.47649260, 0.38534003, 0.34183625, 0.32056661,
    0.25857684, 0.21868231, 0.19914127, 0.17986136, 0.16083572, 0.15141617, 0.09389773, 0.08490391,
    0.07485243, 0.04402165, 0.03641581, 0.02239619, 0.01810973, 0.01063893, 0.00904306, 0.00439851,
    0.00241256, 0.00122230, 0.00069361, 0.00029722, 0.00016512, 0.00003318, 1.01140474};

void CreateMQBuffer(MQBUFFER* store, unsigned long count) {
  store->pIndex = static_cast<unsigned char*>(std::calloc(count, 1));
  store->pMPS = static_cast<unsigned char*>(std::calloc(count, 1));
  if (!store->pIndex || !store->pMPS) {
    DestroyMQBuffer(store);
    throw std::bad_alloc();
  }
}

void ResetMQBuffer(MQBUFFER* store, unsigned long count) {
  if (count == 0) return;
  std::memset(store->pIndex, 0, count);
  std::memset(store->pMPS, 0, count);
}

void DestroyMQBuffer(MQBUFFER* store) {
  std::free(store->pIndex);
  std::free(store->pMPS);
  store->pIndex = nullptr;
  store->pMPS = nullptr;
}

void MQSetOutFunction(MQENCODER* enc, MQOutFunction function, void* param) {
  enc->pOutFunction = function;
  enc->pOutParam = param;
}

void MQSetInFunction(MQDECODER* dec, MQInFunction function, void* param) {
  dec->pInFunction = function;
  dec->pInParam = param;
}

// ---------------------------------------------------------------------------
// Encoder

namespace {

void WriteMQByte(MQENCODER* enc, int byte) {
  enc->pOutFunction(enc->pOutParam, byte);
  ++enc->lBytesOut;
}

// Hands one byte taken out of C to the output. The first byte of a stream is
// T.88's byte before the start and is dropped. Runs of 0xFF 0x7F (0xFF) are
// held back: if the stream ends inside such a run, the run carries only 1 bits,
// which the terminating marker supplies anyway, so it is replaced by one 0xFF.
void EmitMQByte(MQENCODER* enc, unsigned byte) {
  if (enc->bSkipByte) {
    enc->bSkipByte = 0;
    return;
  }
  const bool holdFF = byte == 0xFF && enc->nHeldFF == enc->nHeld7F;
  const bool hold7F = byte == 0x7F && enc->nHeld7F + 1 == enc->nHeldFF;
  if (holdFF || hold7F) {
    if (enc->bFlushing) {
      enc->nHeldFF = 0;
      enc->nHeld7F = 0;
      WriteMQByte(enc, 0xFF);
    } else if (holdFF) {
      ++enc->nHeldFF;
    } else {
      ++enc->nHeld7F;
    }
    return;
  }
  while (enc->nHeldFF > 0) {
    WriteMQByte(enc, 0xFF);
    --enc->nHeldFF;
    if (enc->nHeld7F > 0) {
      WriteMQByte(enc, 0x7F);
      --enc->nHeld7F;
    }
  }
  WriteMQByte(enc, static_cast<int>(byte));
}

// BYTEOUT (T.88 E.2.8), with bit stuffing after 0xFF and carry propagation.
void ByteOut(MQENCODER* enc, MQRegs& r) {
  bool stuff = enc->B == 0xFF;
  if (!stuff && r.C > 0x7FFFFFF) {
    ++enc->B;
    if (enc->B == 0xFF) {
      r.C &= 0x7FFFFFF;
      stuff = true;
    }
  }
  EmitMQByte(enc, enc->B);
  if (stuff) {
    enc->B = static_cast<uint8_t>(r.C >> 20);
    r.C &= 0xFFFFF;
    r.CT = 7;
  } else {
    enc->B = static_cast<uint8_t>(r.C >> 19);
    r.C &= 0x7FFFF;
    r.CT = 8;
  }
}

// RENORME one doubling at a time, as in T.88 Figure E.8.
void RenormEncPlain(MQENCODER* enc, MQRegs& r) {
  do {
    r.A <<= 1;
    r.C <<= 1;
    if (--r.CT == 0) ByteOut(enc, r);
  } while ((r.A & 0x8000) == 0);
}

}  // namespace

void MQRenormEnc(MQENCODER* enc) {
  MQRegs r = MQLoadRegs(enc);
  uint32_t need = MQRenormShift(r.A);
  while (need > 0) {
    const uint32_t s = std::min(need, r.CT);
    r.A <<= s;
    r.C <<= s;
    r.CT -= s;
    need -= s;
    if (r.CT == 0) ByteOut(enc, r);
  }
  MQStoreRegs(enc, r);
}

void MQInitEnc(MQENCODER* enc) {
  enc->A = 0x8000;
  enc->C = 0;
  enc->CT = 12;
  enc->B = 0;
  enc->bSkipByte = 1;
  enc->bFlushing = 0;
  enc->nHeldFF = 0;
  enc->nHeld7F = 0;
  enc->lBytesOut = 0;
}

void MQEncode(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps) {
  MQEncodeInline(enc, d, index, mps);
}

void MQEncodeStats(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps, double* bits) {
  *bits += static_cast<unsigned>(d) != *mps ? MQLpsCost[*index] : MQMpsCost[*index];
  MQEncodeInline(enc, d, index, mps);
}

void MQEncodePlain(MQENCODER* enc, int d, unsigned char* index, unsigned char* mps) {
  MQRegs r = MQLoadRegs(enc);
  const unsigned state = *index;
  const uint32_t qe = MQQe[state];
  r.A -= qe;
  if (static_cast<unsigned>(d) == *mps) {  // CODEMPS
    if ((r.A & 0x8000) == 0) {
      if (r.A < qe) {
        r.A = qe;
      } else {
        r.C += qe;
      }
      *index = MQNmps[state];
      RenormEncPlain(enc, r);
    } else {
      r.C += qe;
    }
  } else {  // CODELPS
    if (r.A < qe) {
      r.C += qe;
    } else {
      r.A = qe;
    }
    if (MQSwitch[state] == 1) *mps = static_cast<unsigned char>(1 - *mps);
    *index = MQNlps[state];
    RenormEncPlain(enc, r);
  }
  MQStoreRegs(enc, r);
}

// Ends the stream in place of T.88's FLUSH: the code value is pinned with
// SETBITS (T.88 E.2.9), every remaining bit is pushed out padded with 1 bits,
// and the marker 0xFF 0xAC closes the stream, its 0xFF standing for any
// trailing 0xFF 0x7F run held back.
unsigned long MQFlush(MQENCODER* enc) {
  MQRegs r = MQLoadRegs(enc);
  const uint32_t t = r.C + r.A;
  r.C |= 0xFFFF;
  if (r.C >= t) r.C -= 0x8000;
  r.C <<= r.CT;
  ByteOut(enc, r);
  r.C |= 0x7FFF;
  r.C <<= r.CT;
  ByteOut(enc, r);
  r.C |= 0x7FFF;
  if (enc->B != 0xFF) {
    r.C <<= r.CT;
    ByteOut(enc, r);
  }
  MQStoreRegs(enc, r);
  enc->bFlushing = 1;
  EmitMQByte(enc, enc->B);
  WriteMQByte(enc, 0xAC);
  return enc->lBytesOut;
}

// ---------------------------------------------------------------------------
// Decoder

namespace {

// BYTEIN (T.88 E.3.4) without look-ahead: a byte above 0x8F after 0xFF is a
// marker; it is consumed, and from then on 1 bits are supplied and the input
// function is not called again for this stream. Only the low eight bits of
// the input function's result are used.
void ReadMQByte(MQDECODER* dec, MQRegs& r) {
  if (!dec->bMarker) {
    const uint8_t prev = dec->B;
    dec->B = static_cast<uint8_t>(dec->pInFunction(dec->pInParam));
    if (prev == 0xFF) {
      if (dec->B > 0x8F) {
        dec->bMarker = 1;
      } else {
        r.C += static_cast<uint32_t>(dec->B) << 9;
        r.CT = 7;
      }
    } else {
      r.C += static_cast<uint32_t>(dec->B) << 8;
      r.CT = 8;
    }
  }
  if (dec->bMarker) {
    r.C += 0xFF00;
    r.CT = 8;
  }
}

// RENORMD one doubling at a time, as in T.88 Figure E.18.
void RenormDecPlain(MQDECODER* dec, MQRegs& r) {
  do {
    if (r.CT == 0) ReadMQByte(dec, r);
    r.A <<= 1;
    r.C <<= 1;
    --r.CT;
  } while ((r.A & 0x8000) == 0);
}

}  // namespace

void MQRenormDec(MQDECODER* dec) {
  MQRegs r = MQLoadRegs(dec);
  do {
    if (r.CT == 0) ReadMQByte(dec, r);
    const uint32_t s = std::min(MQRenormShift(r.A), r.CT);
    r.A <<= s;
    r.C <<= s;
    r.CT -= s;
  } while ((r.A & 0x8000) == 0);
  MQStoreRegs(dec, r);
}

void MQInitDec(MQDECODER* dec) {
  MQRegs r{0, 0x8000, 0};
  dec->bMarker = 0;
  dec->B = static_cast<uint8_t>(dec->pInFunction(dec->pInParam));
  r.C = static_cast<uint32_t>(dec->B) << 16;
  ReadMQByte(dec, r);
  r.C <<= 7;
  r.CT -= 7;
  MQStoreRegs(dec, r);
}

int MQDecode(MQDECODER* dec, unsigned char* index, unsigned char* mps) {
  return MQDecodeInline(dec, index, mps);
}

int MQDecodePlain(MQDECODER* dec, unsigned char* index, unsigned char* mps) {
  MQRegs r = MQLoadRegs(dec);
  const unsigned state = *index;
  const uint32_t qe = MQQe[state];
  int d;
  r.A -= qe;
  if ((r.C >> 16) < qe) {
    if (r.A < qe) {
      d = *mps;
      *index = MQNmps[state];
    } else {
      d = 1 - *mps;
      if (MQSwitch[state] == 1) *mps = static_cast<unsigned char>(1 - *mps);
      *index = MQNlps[state];
    }
    r.A = qe;
    RenormDecPlain(dec, r);
  } else {
    r.C -= qe << 16;
    if (r.A & 0x8000) {
      d = *mps;
    } else {
      if (r.A < qe) {
        d = 1 - *mps;
        if (MQSwitch[state] == 1) *mps = static_cast<unsigned char>(1 - *mps);
        *index = MQNlps[state];
      } else {
        d = *mps;
        *index = MQNmps[state];
      }
      RenormDecPlain(dec, r);
    }
  }
  MQStoreRegs(dec, r);
  return d;
}
