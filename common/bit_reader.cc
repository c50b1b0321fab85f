// The decoder's bit reader and Huffman decoding (T.88 B.4). Every byte of
// the input is fetched through DecNextByte or the in-range fast paths
// beside it, so no read ever leaves [pStart, pEnd).
#include "common/bit_reader.h"

#include "common/huffman_table.h"
#include "common/limits.h"
#include "common/messages.h"

namespace {

// Accounts for `count` fetches past the end: each one reads as 0xFF. The
// error is printed for the first kMaxPastEndMessages only.
void FetchPastEnd(DECODER* dec, uint64_t count) {
  while (count != 0 && dec->nPastEnd < kMaxPastEndMessages) {
    PrintError("Data Ends Early");
    ++dec->nPastEnd;
    --count;
  }
  const uint32_t room = UINT32_MAX - dec->nPastEnd;
  dec->nPastEnd = count >= room ? UINT32_MAX : dec->nPastEnd + static_cast<uint32_t>(count);
}

// Consumes `count` whole bytes without looking at them.
void SkipWholeBytes(DECODER* dec, uint64_t count) {
  const uint64_t inRange = static_cast<uint64_t>(dec->pEnd - dec->pCur);
  const uint64_t taken = count < inRange ? count : inRange;
  dec->pCur += taken;
  dec->nBytesRead += static_cast<uint32_t>(count);  // wraps like one-by-one fetching
  if (count > taken) {
    FetchPastEnd(dec, count - taken);
    dec->bCurByte = 0xFF;
  } else if (count != 0) {
    dec->bCurByte = dec->pCur[-1];
  }
}

}  // namespace

void InitDecoder(DECODER* dec, const unsigned char* start, unsigned long length) {
  dec->pStart = start;
  dec->pCur = start;
  dec->pEnd = start + length;
  dec->nBitsLeft = 0;
  dec->bCurByte = 0;
  dec->nBytesRead = 0;
  dec->nPastEnd = 0;
}

void DecNextByte(DECODER* dec) {
  if (dec->pCur < dec->pEnd) {
    dec->bCurByte = *dec->pCur++;
  } else {
    FetchPastEnd(dec, 1);
    dec->bCurByte = 0xFF;
  }
  dec->nBitsLeft = 8;
  ++dec->nBytesRead;
}

uint32_t DecodeBits(DECODER* dec, int n) {
  if (n <= 0) return 0;
  if (dec->nBitsLeft == 0) DecNextByte(dec);
  const unsigned want = static_cast<unsigned>(n);
  if (want <= dec->nBitsLeft) {
    const uint32_t result = static_cast<uint32_t>(dec->bCurByte) >> (8 - want);
    dec->bCurByte = static_cast<uint8_t>(dec->bCurByte << want);
    dec->nBitsLeft -= want;
    return result;
  }
  // The rest of the current byte, then whole bytes, then the top bits of one
  // more byte. Only the last 32 bits are kept; whole bytes that would be
  // shifted out entirely are skipped without being assembled.
  uint64_t result = static_cast<uint32_t>(dec->bCurByte) >> (8 - dec->nBitsLeft);
  unsigned long remaining = want - dec->nBitsLeft;
  dec->nBitsLeft = 0;
  if (remaining > 40) {
    const unsigned long skipBytes = (remaining - 33) / 8;
    SkipWholeBytes(dec, skipBytes);
    remaining -= skipBytes * 8;
  }
  while (remaining > 7) {
    if (dec->pCur < dec->pEnd) {
      dec->bCurByte = *dec->pCur++;
      ++dec->nBytesRead;
    } else {
      DecNextByte(dec);
    }
    result = (result << 8) | dec->bCurByte;
    remaining -= 8;
  }
  dec->nBitsLeft = 0;
  if (remaining > 0) {
    DecNextByte(dec);
    result = (result << remaining) | (static_cast<uint32_t>(dec->bCurByte) >> (8 - remaining));
    dec->bCurByte = static_cast<uint8_t>(dec->bCurByte << remaining);
    dec->nBitsLeft = 8 - static_cast<uint32_t>(remaining);
  }
  return static_cast<uint32_t>(result);
}

void DecodeFlush(DECODER* dec) { dec->nBitsLeft = 0; }

void DecSkipBytes(DECODER* dec, long offset) {
  DecodeFlush(dec);
  // Clamp to the range; compare distances, never form a pointer outside it.
  if (offset < 0) {
    const unsigned long back = 0ul - static_cast<unsigned long>(offset);
    const auto behind = static_cast<unsigned long>(dec->pCur - dec->pStart);
    dec->pCur = back > behind ? dec->pStart : dec->pCur - back;
  } else {
    const auto ahead = static_cast<unsigned long>(dec->pEnd - dec->pCur);
    const auto forward = static_cast<unsigned long>(offset);
    dec->pCur = forward > ahead ? dec->pEnd : dec->pCur + forward;
  }
}

const unsigned char* DecoderPtr(DECODER* dec) { return dec->pCur; }

int DecodeEOS(DECODER* dec) { return dec->pCur >= dec->pEnd ? 1 : 0; }

int MQMainIn(void* dec) {
  auto* reader = static_cast<DECODER*>(dec);
  if (reader->nBitsLeft == 0) {
    // Byte-aligned: the same state DecodeBits(8) leaves behind.
    ++reader->nBytesRead;
    reader->bCurByte = 0;
    if (reader->pCur < reader->pEnd) return *reader->pCur++;
    // Past the end the arithmetic decoder reads 1-bits (T.88 E.3.4); a valid
    // stream may leave its final 0xFF bytes and its marker out, so this is
    // the normal end of the data, not an error.
    return 0xFF;
  }
  return static_cast<int>(DecodeBits(reader, 8) & 0xFFu);
}

long DecodeHuffTree(DECODER* dec, HUFFNODE* root) {
  HUFFNODE* node = root;
  // A tree built from prefix codes of at most kMaxHuffPrefixLength bits has
  // its leaves within that many levels; a deeper walk cannot match.
  for (uint32_t depth = 0; node != nullptr && !node->bLeaf; ++depth) {
    if (depth == kMaxHuffPrefixLength) {
      node = nullptr;
      break;
    }
    node = DecodeBits(dec, 1) != 0 ? node->pChild1 : node->pChild0;
  }
  if (node == nullptr) {
    PrintError("Decoding Huffman Code: No Prefix Match!");
    return 0;
  }
  return node->lLine;
}

int32_t DecodeHuff(DECODER* dec, HUFFTABLE* table, int* bOOB) {
  *bOOB = 0;
  const long line = DecodeHuffTree(dec, table->pTree);
  const unsigned long rangeLen = table->pRangeLen[line];
  const uint32_t bits = DecodeBits(dec, rangeLen > 0x7FFFFFFFul ? 0x7FFFFFFF : static_cast<int>(rangeLen));
  const long n = static_cast<long>(table->pDef->nLines);
  if (table->pDef->bHTOOB && line == n + 2) {
    *bOOB = 1;
    return 0;
  }
  // Values wrap to 32 bits as T.88 fields do (two's complement).
  if (line == n) return static_cast<int32_t>(static_cast<int64_t>(table->pRangeLow[line]) - bits);
  return static_cast<int32_t>(static_cast<int64_t>(table->pRangeLow[line]) + bits);
}
