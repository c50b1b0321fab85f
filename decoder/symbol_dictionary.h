// Symbol dictionary decoding (T.88 6.5, 7.4.2): the parameters of one run of
// the procedure and the procedure itself.
#pragma once

#include <cstdint>

#include "decoder/text_work.h"
#include "decoder/text_region.h"
#include "decoder/untransclib.h"

// Parameters of one run of the symbol dictionary decoding procedure (T.88
// 6.5.2).
typedef struct SYMDICT_PARAMS {
  DECODER* pInput;  // the data; MQ, Contexts, Integers, MMR, HuffStandard are the file's
  uint32_t bHuff;    // SDHUFF
  uint32_t bRefAgg;  // SDREFAGG
  // SDINSYMS (SDNUMINSYMS = Symbols.nSymbols), built by BuildSymbolList
  // with its spare entry, which the procedure uses for its new symbols.
  SYMBOL_LIST Symbols;
  uint32_t nNewSymbols;  // SDNUMNEWSYMS
  uint32_t nExSymbols;   // SDNUMEXSYMS; on return, the number exported
  HUFFTABLE* pTableDH;
  HUFFTABLE* pTableDW;
  HUFFTABLE* pTableBMSize;
  HUFFTABLE* pTableAggInst;
  uint32_t lTemplate;  // SDTEMPLATE
  long lATX[4];
  long lATY[4];
  uint32_t lRTemplate;  // SDRTEMPLATE
  long lRATX[2];
  long lRATY[2];
  jb2dec::TextWork* pWork;  // what the aggregate symbols may still cost
  uint32_t lSegmentNumber;        // for messages
} SYMDICT_PARAMS;

// T.88 6.5.5: decodes the new symbols and the export flags, and sets
// *symbols to a new array of copies of the exported symbols (null when none)
// and nExSymbols to their number. A dictionary whose decoding has to stop
// (after a message) exports nothing. With arithmetic coding the caller has
// created Integers, started MQ and prepared both context stores.
void DecodeSymbolDictionary(JB2FILE* file, SYMDICT_PARAMS* params, BMP** symbols);
// The symbol dictionary segment (T.88 7.4.2), type 0.
void DecodeSymbolDictionarySegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);
