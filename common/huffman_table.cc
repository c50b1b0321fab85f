// Huffman tables of T.88 Annex B: the standard tables B.1 to B.15 (B.5),
// expansion of a definition into table lines, prefix code assignment (B.3),
// value-to-code look-up for the encoder and decoding trees for the decoder.
#include "common/huffman_table.h"

#include <cstdlib>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"

namespace {

// T.88 Tables B.1 to B.15. Fields: HTOOB, HTLOW, HTHIGH, lower range
// PREFLEN, upper range PREFLEN, OOB PREFLEN, number of ordinary lines.
const HUFFDEF kStandardDefs[kNumStandardTables] = {
    {0, 0, 65808, 0, 3, 0, 3},      // B.1
    {1, 0, 75, 0, 6, 6, 5},         // B.2
    {1, -256, 75, 8, 7, 6, 6},      // B.3
    {0, 1, 76, 0, 5, 0, 5},         // B.4
    {0, -255, 76, 7, 6, 0, 6},      // B.5
    {0, -2048, 2048, 6, 6, 0, 12},  // B.6
    {0, -1024, 2048, 5, 5, 0, 13},  // B.7
    {1, -15, 1670, 9, 9, 2, 18},    // B.8
    {1, -31, 3339, 9, 9, 2, 19},    // B.9
    {1, -21, 4166, 8, 8, 2, 18},    // B.10
    {0, 1, 141, 0, 7, 0, 12},       // B.11
    {0, 1, 73, 0, 8, 0, 12},        // B.12
    {0, 1, 141, 0, 7, 0, 12},       // B.13
    {0, -2, 3, 0, 0, 0, 5},         // B.14
    {0, -24, 25, 7, 7, 0, 11},      // B.15
};

constexpr unsigned kStandardLines = 157;

// PREFLEN of the ordinary lines of B.1 to B.15, one table after another.
const unsigned long kStandardPrefLen[kStandardLines] = {
    1, 2, 3,                                                      // B.1
    1, 2, 3, 4, 5,                                                // B.2
    8, 1, 2, 3, 4, 5,                                             // B.3
    1, 2, 3, 4, 5,                                                // B.4
    7, 1, 2, 3, 4, 5,                                             // B.5
    5, 4, 4, 4, 5, 5, 4, 2, 3, 3, 4, 4,                           // B.6
    4, 3, 4, 5, 5, 4, 4, 5, 5, 4, 3, 3, 3,                        // B.7
    8, 9, 8, 9, 7, 4, 2, 5, 6, 3, 6, 4, 4, 5, 5, 6, 7, 6,         // B.8
    8, 9, 8, 9, 7, 4, 3, 3, 5, 6, 3, 6, 4, 4, 5, 5, 6, 7, 6,      // B.9
    7, 8, 7, 5, 2, 5, 6, 7, 8, 2, 5, 6, 6, 6, 6, 6, 6, 7,         // B.10
    1, 2, 4, 4, 5, 5, 6, 7, 7, 7, 7, 7,                           // B.11
    1, 2, 3, 5, 5, 6, 7, 7, 7, 7, 7, 8,                           // B.12
    1, 3, 4, 5, 4, 3, 6, 6, 6, 6, 6, 7,                           // B.13
    3, 3, 1, 3, 3,                                                // B.14
    7, 6, 5, 4, 3, 1, 3, 4, 5, 6, 7,                              // B.15
};

// RANGELEN of the same lines.
const unsigned long kStandardRangeLen[kStandardLines] = {
    4, 8, 16,                                                     // B.1
    0, 0, 0, 3, 6,                                                // B.2
    8, 0, 0, 0, 3, 6,                                             // B.3
    0, 0, 0, 3, 6,                                                // B.4
    8, 0, 0, 0, 3, 6,                                             // B.5
    10, 9, 8, 7, 6, 5, 5, 7, 7, 8, 9, 10,                         // B.6
    9, 8, 7, 6, 5, 5, 5, 5, 6, 7, 8, 9, 10,                       // B.7
    3, 1, 1, 0, 0, 0, 1, 0, 0, 4, 1, 4, 5, 6, 7, 7, 8, 10,        // B.8
    4, 2, 2, 1, 1, 1, 1, 1, 1, 1, 5, 2, 5, 6, 7, 8, 8, 9, 11,     // B.9
    4, 0, 0, 0, 2, 0, 0, 0, 0, 6, 5, 5, 6, 7, 8, 9, 10, 11,       // B.10
    0, 1, 0, 1, 1, 2, 2, 2, 3, 4, 5, 6,                           // B.11
    0, 0, 1, 0, 1, 1, 0, 1, 2, 3, 4, 5,                           // B.12
    0, 0, 0, 0, 1, 3, 1, 2, 3, 4, 5, 6,                           // B.13
    0, 0, 0, 0, 0,                                                // B.14
    4, 2, 1, 0, 0, 0, 0, 0, 1, 2, 4,                              // B.15
};

// Number of values an ordinary line covers. Lines wider than 32 bits cover
// no more than a 32-bit field can tell apart.
long RangeSpan(unsigned long rangeLen) { return rangeLen >= 32 ? 1l << 32 : 1l << rangeLen; }

template <typename T>
T* AllocateLines(unsigned long count) {
  return Checked(static_cast<T*>(std::calloc(count, sizeof(T))));
}

}  // namespace

void InitializeHuffStandard(HUFFTABLE* tables) {
  unsigned first = 0;
  for (int t = 0; t < kNumStandardTables; ++t) {
    // The definitions and line arrays are read, never written.
    tables[t].pDef = const_cast<HUFFDEF*>(&kStandardDefs[t]);
    BuildHUFFTABLE(&tables[t], const_cast<unsigned long*>(kStandardPrefLen + first),
                   const_cast<unsigned long*>(kStandardRangeLen + first));
    first += kStandardDefs[t].nLines;
  }
}

void FreeHuffStandard(HUFFTABLE* tables) {
  for (int t = 0; t < kNumStandardTables; ++t) FreeHuffTable(&tables[t]);
}

void BuildHUFFTABLE(HUFFTABLE* table, unsigned long* prefLen, unsigned long* rangeLen) {
  const HUFFDEF* def = table->pDef;
  const unsigned long n = def->nLines;
  const unsigned long count = n + (def->bHTOOB ? 3 : 2);
  table->pPrefLen = AllocateLines<unsigned long>(count);
  table->pRangeLen = AllocateLines<unsigned long>(count);
  table->pRangeLow = AllocateLines<long>(count);
  table->pCode = AllocateLines<unsigned long>(count);

  long low = def->lHTLOW;
  for (unsigned long i = 0; i < n; ++i) {
    table->pPrefLen[i] = prefLen[i];
    table->pRangeLen[i] = rangeLen[i];
    table->pRangeLow[i] = low;
    low += RangeSpan(rangeLen[i]);
  }
  table->pPrefLen[n] = def->lLowerPrefLen;  // lower range line
  table->pRangeLen[n] = 32;
  table->pRangeLow[n] = static_cast<long>(def->lHTLOW) - 1;
  table->pPrefLen[n + 1] = def->lUpperPrefLen;  // upper range line
  table->pRangeLen[n + 1] = 32;
  table->pRangeLow[n + 1] = low;
  if (def->bHTOOB) {
    table->pPrefLen[n + 2] = def->lOOBPrefLen;  // out-of-band line
    table->pRangeLen[n + 2] = 0;
    table->pRangeLow[n + 2] = 0;
  }
  HuffGetPrefCodes(table->pPrefLen, table->pCode, count);
  BuildHuffTree(&table->pTree, table->pCode, table->pPrefLen, count);
}

void FreeHuffTable(HUFFTABLE* table) {
  std::free(table->pPrefLen);
  std::free(table->pRangeLen);
  std::free(table->pRangeLow);
  std::free(table->pCode);
  FreeHuffTree(table->pTree);
  table->pPrefLen = nullptr;
  table->pRangeLen = nullptr;
  table->pRangeLow = nullptr;
  table->pCode = nullptr;
  table->pTree = nullptr;
}

// T.88 B.3. Lengths above kMaxHuffPrefixLength cannot be coded in 32 bits:
// such a line is reported and, like a line of length 0, gets no code.
void HuffGetPrefCodes(unsigned long* prefLen, unsigned long* code, unsigned long count) {
  unsigned long lenCount[kMaxHuffPrefixLength + 1] = {};
  unsigned long lenMax = 0;
  for (unsigned long i = 0; i < count; ++i) {
    code[i] = 0;
    if (prefLen[i] > kMaxHuffPrefixLength) {
      PrintError("Unexpected: HuffGetPrefCodes");
      continue;
    }
    ++lenCount[prefLen[i]];
    if (prefLen[i] > lenMax) lenMax = prefLen[i];
  }
  lenCount[0] = 0;
  unsigned long firstCode = 0;
  for (unsigned long len = 1; len <= lenMax; ++len) {
    firstCode = (firstCode + lenCount[len - 1]) << 1;
    unsigned long curCode = firstCode;
    for (unsigned long i = 0; i < count; ++i) {
      if (prefLen[i] == len) code[i] = curCode++;
    }
  }
}

// A path per coded line, most significant code bit first. Codes that are
// not prefix-free (an earlier code is a prefix of this one, or this one of
// an earlier one, or two are equal) are reported; the later line wins.
void BuildHuffTree(HUFFNODE** root, unsigned long* code, unsigned long* prefLen, unsigned long count) {
  NewHuffNode(root);
  if (*root == nullptr) return;
  for (unsigned long i = 0; i < count; ++i) {
    const unsigned long len = prefLen[i];
    if (len == 0 || len > kMaxHuffPrefixLength) continue;
    HUFFNODE* node = *root;
    bool invalid = false;
    for (unsigned long bit = len; bit-- > 0;) {
      if (node->bLeaf) invalid = true;
      HUFFNODE** child = ((code[i] >> bit) & 1) != 0 ? &node->pChild1 : &node->pChild0;
      if (*child == nullptr) NewHuffNode(child);
      if (*child == nullptr) return;
      node = *child;
    }
    if (node->bLeaf || node->pChild0 != nullptr || node->pChild1 != nullptr) invalid = true;
    if (invalid) PrintError("BuildHuffTree: Invalid Prefix Codes");
    node->bLeaf = 1;
    node->lLine = static_cast<long>(i);
  }
}

// Frees without recursion: a node with a 0-child is rotated so that the
// child becomes the parent; a node without one is freed and its 1-child
// continues. Every node is visited a bounded number of times.
void FreeHuffTree(HUFFNODE* node) {
  while (node != nullptr) {
    HUFFNODE* left = node->pChild0;
    if (left != nullptr) {
      node->pChild0 = left->pChild1;
      left->pChild1 = node;
      node = left;
    } else {
      HUFFNODE* right = node->pChild1;
      std::free(node);
      node = right;
    }
  }
}

void NewHuffNode(HUFFNODE** node) { *node = Checked(static_cast<HUFFNODE*>(std::calloc(1, sizeof(HUFFNODE)))); }

void EncodeHuffNum(HUFFTABLE* table, long value, unsigned long* code, unsigned long* codeLen,
                   unsigned long* rangeBits, unsigned long* rangeLen) {
  *code = 0;
  *codeLen = 0;
  *rangeBits = 0;
  *rangeLen = 0;
  const long n = static_cast<long>(table->pDef->nLines);
  const long* low = table->pRangeLow;
  if (value <= low[n]) {
    if (table->pPrefLen[n] != 0) {
      *code = table->pCode[n];
      *codeLen = table->pPrefLen[n];
      *rangeLen = 32;
      *rangeBits = static_cast<unsigned long>(low[n] - value);
    } else {
      PrintError("EncodeHuffNum: Below HTLOW");
    }
  } else if (value >= low[n + 1]) {
    if (table->pPrefLen[n + 1] != 0) {
      *code = table->pCode[n + 1];
      *codeLen = table->pPrefLen[n + 1];
      *rangeLen = 32;
      *rangeBits = static_cast<unsigned long>(value - low[n + 1]);
    } else {
      PrintError("EncodeHuffNum: Above HTHIGH");
    }
  } else {
    long line = n - 1;
    while (line > 0 && low[line] > value) --line;
    *code = table->pCode[line];
    *codeLen = table->pPrefLen[line];
    *rangeLen = table->pRangeLen[line];
    *rangeBits = static_cast<unsigned long>(value - low[line]);
    if (*codeLen == 0) PrintError("EncodeHuffNum: No Prefix Bits");
  }
  if (*codeLen + *rangeLen == 0) PrintError("EncodeHuffNum: Length = 0");
}

void EncodeHuffOOB(HUFFTABLE* table, unsigned long* code, unsigned long* codeLen) {
  if (!table->pDef->bHTOOB) {
    PrintError("EncodeHuffOOB: Table Does Not Support OOB");
    return;
  }
  const unsigned long oob = table->pDef->nLines + 2;
  *code = table->pCode[oob];
  *codeLen = table->pPrefLen[oob];
}
