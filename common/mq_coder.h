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
