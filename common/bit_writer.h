// The encoder's growable bit writer. Every byte the encoder produces (raw
// fields, Huffman codes, MQ and MMR output) passes through one ENCODER.
#pragma once

#include <cstdint>

struct HUFFTABLE;

typedef struct ENCODER {
  unsigned char* pBuffer;  // start of the allocated buffer
  unsigned char* pWrite;   // where the next full byte goes
  uint32_t nBits;          // bits held in the accumulator, 0 to 7
  uint8_t cAccum;          // bit accumulator; new bits enter at the low end
  uint32_t lSize;          // bytes written since the last restart
  uint32_t lCapacity;      // bytes allocated
} ENCODER;

void CreateEncoder(ENCODER* enc, unsigned long size);
void DestroyEncoder(ENCODER* enc);
void InitEncoder(ENCODER* enc);
void EncodeBit(ENCODER* enc, int bit);
void ReSizeEncoder(ENCODER* enc);
void EncodeBits(ENCODER* enc, unsigned long value, int n);  // low n bits, MSB first, 1 <= n <= 32
void EncodeFlush(ENCODER* enc);                             // zero bits up to a byte boundary
void MQMainOut(void* enc, int byte);                        // MQ coder output function
void EncHuff(ENCODER* enc, HUFFTABLE* table, long value);
void EncHuffOOB(ENCODER* enc, HUFFTABLE* table);

// The capacity ReSizeEncoder grows to from `capacity`: double, at least 1,
// and saturating at kMaxEncoderBytes instead of wrapping.
uint32_t NextEncoderCapacity(uint32_t capacity);
