// Huffman tables of T.88 Annex B: definitions, expansion into lines with
// prefix codes (B.3), value-to-code lookup, and decoding trees.
#pragma once

#include <cstdint>

typedef struct HUFFDEF {
  uint32_t bHTOOB;         // the table has an OOB line
  int32_t lHTLOW;          // lowest value of the first ordinary line
  int32_t lHTHIGH;         // first value of the upper range
  uint32_t lLowerPrefLen;  // 0 when there is no lower range line
  uint32_t lUpperPrefLen;  // 0 when there is no upper range line
  uint32_t lOOBPrefLen;    // used when bHTOOB is 1
  uint32_t nLines;         // ordinary lines
} HUFFDEF;

typedef struct HUFFNODE {
  uint32_t bLeaf;
  struct HUFFNODE* pChild0;
  struct HUFFNODE* pChild1;
  long lLine;
} HUFFNODE;

// Lines 0..N-1 ordinary, N lower range, N+1 upper range, N+2 OOB (if any).
typedef struct HUFFTABLE {
  HUFFDEF* pDef;
  unsigned long* pPrefLen;
  unsigned long* pRangeLen;
  long* pRangeLow;
  unsigned long* pCode;
  HUFFNODE* pTree;
} HUFFTABLE;

inline constexpr int kNumStandardTables = 15;  // B.1 .. B.15 at index 0 .. 14

void InitializeHuffStandard(HUFFTABLE* tables);
void FreeHuffStandard(HUFFTABLE* tables);
void BuildHUFFTABLE(HUFFTABLE* table, unsigned long* prefLen, unsigned long* rangeLen);
void FreeHuffTable(HUFFTABLE* table);
void HuffGetPrefCodes(unsigned long* prefLen, unsigned long* code, unsigned long count);
void BuildHuffTree(HUFFNODE** root, unsigned long* code, unsigned long* prefLen, unsigned long count);
void FreeHuffTree(HUFFNODE* node);
void NewHuffNode(HUFFNODE** node);
void EncodeHuffNum(HUFFTABLE* table, long value, unsigned long* code, unsigned long* codeLen,
                   unsigned long* rangeBits, unsigned long* rangeLen);
void EncodeHuffOOB(HUFFTABLE* table, unsigned long* code, unsigned long* codeLen);
