// The decoder's bit reader over a byte range in memory: bits most
// significant first. Reads past the end deliver 0xFF bytes after an error
// (reported for the first kMaxPastEndMessages fetches, counted in nPastEnd);
// the position never leaves the range.
#pragma once

#include <cstdint>

struct HUFFNODE;
struct HUFFTABLE;

typedef struct DECODER {
  const unsigned char* pCur;  // next byte to fetch
  const unsigned char* pEnd;  // one past the last byte of the range
  uint32_t nBitsLeft;         // unread bits of bCurByte, 0 to 8
  uint8_t bCurByte;           // current byte, unread bits at the top
  uint32_t nBytesRead;        // bytes fetched since InitDecoder
  uint32_t nPastEnd;          // fetches made past pEnd since InitDecoder (saturates)
  const unsigned char* pStart;  // start of the range: DecSkipBytes never goes before it
} DECODER;

void InitDecoder(DECODER* dec, const unsigned char* start, unsigned long length);
uint32_t DecodeBits(DECODER* dec, int n);
void DecNextByte(DECODER* dec);
void DecodeFlush(DECODER* dec);
void DecSkipBytes(DECODER* dec, long offset);
const unsigned char* DecoderPtr(DECODER* dec);
int DecodeEOS(DECODER* dec);
int MQMainIn(void* dec);  // MQ decoder input function
long DecodeHuffTree(DECODER* dec, HUFFNODE* root);
int32_t DecodeHuff(DECODER* dec, HUFFTABLE* table, int* bOOB);
