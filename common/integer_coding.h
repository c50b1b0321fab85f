// Integer arithmetic coding of T.88 Annex A (A.2 IAx procedures and A.3
// IAID) on top of the MQ coder, with the out-of-band value OOB.
#pragma once

#include <cstdint>

#include "common/mq_coder.h"

typedef struct IAPROC {
  MQBUFFER Contexts;     // 512 contexts, or 2^lCodeLen for IAID
  uint32_t ulPrev;       // PREV: context of the next bit
  uint32_t bIAID;        // 1 for IAID
  uint32_t lCodeLen;     // IAID: SBSYMCODELEN
  MQDECODER* pDecoder;
  MQENCODER* pEncoder;
} IAPROC;

enum {
  kIARI = 0, kIAAI, kIADH, kIADS, kIADT, kIADW, kIAEX, kIAFS, kIAIT,
  kIARDH, kIARDW, kIARDX, kIARDY, kIAID, kNumIntProcs
};

typedef struct MQINT {
  IAPROC Proc[kNumIntProcs];
} MQINT;

void CreateMQInt(MQINT* ia, unsigned long codeLen, void* coder);
void DestroyMQInt(MQINT* ia);
void MQEncodeInt(IAPROC* proc, long value);
void MQEncodeOOB(IAPROC* proc);
int32_t MQDecodeInt(IAPROC* proc, int* oob);
