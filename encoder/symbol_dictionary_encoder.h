// Symbol dictionary encoding: the symbol dictionary decoding procedure of
// T.88 6.5 run in the encoding direction (direct arithmetic coding, Huffman
// coding with MMR or uncompressed height class collective bitmaps, and
// refinement/aggregate coding with one instance per symbol), and the symbol
// dictionary segment data of T.88 7.4.2.
#pragma once

#include <cstdint>

#include "common/huffman_table.h"
#include "encoder/symbol.h"

struct ENCODE_STATE;

typedef struct SDPARAM {
  ENCODE_STATE* pState;     // bit writer, MQ coder, context stores, integer contexts, standard tables
  uint32_t bHuff;           // SDHUFF
  uint32_t bRefAgg;         // SDREFAGG
  uint32_t nNewSyms;        // SDNUMNEWSYMS
  uint32_t nExSyms;         // SDNUMEXSYMS
  int32_t lHuffDH;          // SDHUFFDH selection
  int32_t lHuffDW;          // SDHUFFDW selection
  int32_t lHuffBMSize;      // SDHUFFBMSIZE selection
  int32_t lHuffAggInst;     // SDHUFFAGGINST selection
  HUFFTABLE* pTableDH;      // the standard tables chosen for the four selections
  HUFFTABLE* pTableDW;
  HUFFTABLE* pTableBMSize;
  HUFFTABLE* pTableAggInst;
  uint32_t lTemplate;       // SDTEMPLATE
  int32_t alATX[4];         // SDATX1..4
  int32_t alATY[4];         // SDATY1..4
  uint32_t lRTemplate;      // SDRTEMPLATE
  int32_t lRATX1;           // SDRATX1
  int32_t lRATX2;           // SDRATX2
  int32_t lRATY1;           // SDRATY1
  int32_t lRATY2;           // SDRATY2
  uint32_t bDirect;         // Huffman mode: collective bitmaps stored uncompressed
} SDPARAM;

// Maps a table selection to standard table B.t0, B.t1 or B.t2 (0: not
// allowed). Any other selection is reported, set to 0 and mapped to B.t0.
void SelectHuffTable(HUFFTABLE* standard, HUFFTABLE** chosen, int32_t* setting, int t0, int t1, int t2);

// Writes the symbol dictionary segment data for the first nNewSyms symbols
// of `symbols` (height-sorted). The references are the input symbols
// (SDINSYMS); for refinement/aggregate coding each symbol's lIndex names the
// symbol it refines (an input symbol, or SDNUMINSYMS + k for the k-th symbol
// of this dictionary, which must come earlier) and the array continues with
// the symbols being written. Every symbol is exported: nExSyms must be
// nReferences + nNewSyms, or nNewSyms (only the new ones). The caller
// finishes the segment.
void EncodeSymbolDictionarySegment(SDPARAM* param, SYMBOL* symbols, SYMBOL* references, unsigned long nReferences);

// Bits of a symbol identifier: the smallest n with (count - 1) >> n == 0
// (T.88 6.5.8.2.3 and 7.4.3.1.7 SBSYMCODELEN for count symbols).
uint32_t SymbolCodeLength(uint64_t count);
