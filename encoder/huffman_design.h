// Design of the symbol ID Huffman table of a Huffman-coded text region (code
// lengths from counts, their run-length form of T.88 7.4.3.1.7) and the data
// layout of a table segment (T.88 7.4.13, B.2).
#pragma once

#include <cstdint>

#include "common/bit_writer.h"
#include "common/huffman_table.h"

// Longest symbol ID code length a run code can carry (RUNCODE1 to RUNCODE31).
inline constexpr unsigned long kMaxSymbolIdCodeLength = 31;
// Longest run code length: each is written in a 4-bit field.
inline constexpr unsigned long kMaxRunCodeLength = 15;
// Number of run codes, RUNCODE0 to RUNCODE34.
inline constexpr unsigned long kNumRunCodes = 35;

// Huffman code lengths for n symbols from their counts; count 0 gives length 0,
// a single used symbol gets length 1. Lengths are not limited.
void HuffFindPrefLen(const unsigned long* counts, unsigned long* lengths, unsigned long n);

// As HuffFindPrefLen while its longest length is at most maxLength; otherwise
// the optimal code whose lengths are all at most maxLength (package-merge).
// The used symbols must number at most 2^maxLength.
void HuffFindPrefLenLimited(const unsigned long* counts, unsigned long* lengths, unsigned long n,
                            unsigned long maxLength);

// The run-length form of lengths[0 .. n-1]: run codes 0 to 34 and the value
// of the extra bits of codes 32 to 34. Both outputs need room for n entries.
void HuffFindRunLength35(const unsigned long* lengths, unsigned long n, unsigned long* runCodes,
                         unsigned long* runExtras, unsigned long* nRunCodes);

void ulSwap(unsigned long* a, unsigned long* b);

// Designs the symbol ID code of a text region from how many instances use each
// of the n IDs, writes its run-length form (35 run code lengths of 4 bits, the
// run codes with their extra bits, byte alignment) and returns the code and
// length of every ID in codes and lengths (n entries each).
void EncodeSymbolIdHuffmanTable(ENCODER* enc, const unsigned long* counts, unsigned long n, unsigned long* codes,
                                unsigned long* lengths);

// Writes the data of a table segment for a table of def->nLines ordinary lines
// with the given prefix and range lengths, and the lower range, upper range
// and (with bHTOOB) out-of-band lines of def. Returns false, writing nothing,
// when the table cannot be carried: no ordinary line, a prefix length above
// 255, a range length above 32, or a line count other than the one a reader
// finds (it reads lines while their running lower bound is below lHTHIGH).
[[nodiscard]] bool EncodeTableSegmentData(ENCODER* enc, const HUFFDEF* def, const unsigned long* prefLen,
                                          const unsigned long* rangeLen);
