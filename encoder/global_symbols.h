// Symbols a document's pages share: the marks that occur, pixel for pixel,
// on two pages or more. They are coded once, in a symbol dictionary of no
// page (page association 0, the /JBIG2Globals of a PDF), and each page's
// text region refers to it besides its own dictionary; the coding stays
// lossless.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "encoder/symbol.h"
#include "encoder/settings.h"

struct GLOBAL_SYMBOLS {
  uint32_t lSegment = 0;        // the global dictionary's segment number
  std::vector<SYMBOL> symbols;  // height-sorted, as coded: a symbol's ID is its index
  std::unordered_map<std::string, int32_t> ids;

  GLOBAL_SYMBOLS() = default;
  GLOBAL_SYMBOLS(const GLOBAL_SYMBOLS&) = delete;
  GLOBAL_SYMBOLS& operator=(const GLOBAL_SYMBOLS&) = delete;
  ~GLOBAL_SYMBOLS();

  // The ID of the symbol with exactly these pixels, or -1.
  int32_t Find(const BMP& mark) const;
};

// Whether a document coded with these sections shares symbols: its one
// section codes the whole page as text, with symbols as they are on the page
// (no inversion, white default pixel).
bool SharesSymbols(const std::vector<SectionSettings>& sections);

// The marks found on two pages or more of `pages`, at most
// kMaxSymbolDictionaryPixels of them (the most frequent first), height-sorted.
void CollectGlobalSymbols(const BMP* pages, long nPages, GLOBAL_SYMBOLS* out);
