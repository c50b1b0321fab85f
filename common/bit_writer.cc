// The encoder's bit writer. Bits enter the accumulator most significant
// first; every completed byte is stored in a buffer that doubles when full.
#include "common/bit_writer.h"

#include <cstdlib>
#include <new>

#include "common/huffman_table.h"
#include "common/limits.h"
#include "common/messages.h"

namespace {

// Stores one completed byte. The buffer always has room for one more byte,
// except after growth has failed, when bytes are dropped (ReSizeEncoder has
// already reported it).
inline void StoreByte(ENCODER* enc, unsigned char byte) {
  if (enc->lSize >= enc->lCapacity) return;
  *enc->pWrite++ = byte;
  if (++enc->lSize == enc->lCapacity) ReSizeEncoder(enc);
}

// Writes the low n bits of value, 1 <= n <= 32, through a 64-bit accumulator
// so that whole bytes are stored at once. The bits still pending afterwards
// are left in cAccum exactly as EncodeBit would leave them.
inline void PutBits(ENCODER* enc, uint32_t value, unsigned n) {
  const unsigned pending = enc->nBits;
  uint64_t acc = static_cast<uint64_t>(enc->cAccum & ((1u << pending) - 1u)) << n;
  acc |= n == 32 ? value : (value & ((uint32_t{1} << n) - 1u));
  unsigned total = pending + n;  // at most 39
  const unsigned nBytes = total >> 3;
  if (nBytes != 0 && nBytes <= enc->lCapacity - enc->lSize) {
    // Room for every byte: store them without per-byte checks. The buffer
    // can only become full with the last one, as when storing one by one.
    unsigned char* out = enc->pWrite;
    for (unsigned i = 0; i < nBytes; ++i) {
      total -= 8;
      out[i] = static_cast<unsigned char>(acc >> total);
    }
    enc->pWrite = out + nBytes;
    enc->lSize += nBytes;
    if (enc->lSize == enc->lCapacity) ReSizeEncoder(enc);
  } else {
    while (total >= 8) {
      total -= 8;
      StoreByte(enc, static_cast<unsigned char>(acc >> total));
    }
  }
  enc->cAccum = static_cast<uint8_t>(acc);
  enc->nBits = total;
}

}  // namespace

uint32_t NextEncoderCapacity(uint32_t capacity) {
  if (capacity == 0) return 1;
  if (capacity > kMaxEncoderBytes / 2) return kMaxEncoderBytes;
  return capacity * 2;
}

void CreateEncoder(ENCODER* enc, unsigned long size) {
  // A writer always has room for the next byte, so it holds at least one.
  uint32_t capacity = size == 0 ? 1 : (size > kMaxEncoderBytes ? kMaxEncoderBytes : static_cast<uint32_t>(size));
  enc->pBuffer = static_cast<unsigned char*>(std::malloc(capacity));
  if (enc->pBuffer == nullptr) throw std::bad_alloc();
  enc->lCapacity = capacity;
  enc->pWrite = enc->pBuffer;
  enc->nBits = 0;
  enc->cAccum = 0;
  enc->lSize = 0;
}

void DestroyEncoder(ENCODER* enc) {
  std::free(enc->pBuffer);
  enc->pBuffer = nullptr;
  enc->pWrite = nullptr;
  enc->lCapacity = 0;
  enc->lSize = 0;
  enc->nBits = 0;
}

void InitEncoder(ENCODER* enc) {
  enc->nBits = 0;
  enc->lSize = 0;
  enc->pWrite = enc->pBuffer;
}

void EncodeBit(ENCODER* enc, int bit) {
  enc->cAccum = static_cast<uint8_t>((enc->cAccum << 1) | (bit != 0));
  if (++enc->nBits == 8) {
    enc->nBits = 0;
    StoreByte(enc, enc->cAccum);
  }
}

void ReSizeEncoder(ENCODER* enc) {
  const uint32_t capacity = NextEncoderCapacity(enc->lCapacity);
  if (capacity == enc->lCapacity) {
    PrintError("ReSizeEncoder: Output Too Large, Further Bytes Are Dropped");
    return;
  }
  void* grown = std::realloc(enc->pBuffer, capacity);
  // The old buffer stays valid; the run that wanted more ends with a status.
  if (grown == nullptr) throw std::bad_alloc();
  enc->pBuffer = static_cast<unsigned char*>(grown);
  enc->lCapacity = capacity;
  enc->pWrite = enc->pBuffer + enc->lSize;
}

void EncodeBits(ENCODER* enc, unsigned long value, int n) {
  if (n <= 0) return;
  // Wider fields than 32 bits go out in 32-bit pieces, most significant first;
  // bits above the width of `value` are zero.
  while (n > 32) {
    n -= 32;
    const unsigned shift = static_cast<unsigned>(n);
    PutBits(enc, shift >= 64 ? 0u : static_cast<uint32_t>(value >> shift), 32);
  }
  PutBits(enc, static_cast<uint32_t>(value), static_cast<unsigned>(n));
}

void EncodeFlush(ENCODER* enc) {
  if (enc->nBits != 0) PutBits(enc, 0, 8 - enc->nBits);
}

void MQMainOut(void* enc, int byte) {
  auto* writer = static_cast<ENCODER*>(enc);
  if (writer->nBits == 0) {
    StoreByte(writer, static_cast<unsigned char>(byte));
  } else {
    PutBits(writer, static_cast<uint32_t>(byte) & 0xFFu, 8);
  }
}

void EncHuff(ENCODER* enc, HUFFTABLE* table, long value) {
  unsigned long code = 0, codeLength = 0, rangeBits = 0, rangeLength = 0;
  EncodeHuffNum(table, value, &code, &codeLength, &rangeBits, &rangeLength);
  if (codeLength != 0) EncodeBits(enc, code, static_cast<int>(codeLength));
  if (rangeLength != 0) EncodeBits(enc, rangeBits, static_cast<int>(rangeLength));
}

void EncHuffOOB(ENCODER* enc, HUFFTABLE* table) {
  unsigned long code = 0, codeLength = 0;
  EncodeHuffOOB(table, &code, &codeLength);
  if (codeLength != 0) EncodeBits(enc, code, static_cast<int>(codeLength));
}
