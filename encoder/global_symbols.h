// Symbols a document's pages share: the marks that occur, pixel for pixel,
// on two pages or more, and with lossy coding the representatives of the
// classes of like marks seen on two pages or more (shared_classes.h). They
// are coded once, in a symbol dictionary of no page (page association 0,
// the /JBIG2Globals of a PDF), and each page's text region refers to it
// besides its own dictionary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "encoder/settings.h"
#include "encoder/shared_classes.h"
#include "encoder/symbol.h"

struct GLOBAL_SYMBOLS {
  uint32_t lSegment = 0;        // the global dictionary's segment number
  std::vector<SYMBOL> symbols;  // height-sorted, as coded: a symbol's ID is its index
  std::unordered_map<std::string, int32_t> ids;
  // Lossy coding: the symbols a page's like marks may be drawn as (class
  // representatives, by ID) and the gate that made their classes; null
  // without lossy coding.
  std::unique_ptr<SharedRepresentatives> representatives;

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

// The marks of a document's pages, one page at a time, keeping no page: a
// hash of every mark seen (with the last page it was seen on and on how
// many pages), and one copy of each mark seen on two pages or more; with
// lossy coding, also the classes of like marks (SharedClassFinder).
class SharedMarkFinder {
 public:
  SharedMarkFinder() = default;
  SharedMarkFinder(const SharedMarkFinder&) = delete;
  SharedMarkFinder& operator=(const SharedMarkFinder&) = delete;
  ~SharedMarkFinder();

  // Takes the marks of the next page, which stays as it was. With `gate`
  // (lossy coding) its marks also join the classes made with the first
  // page's gate, when the page's gate is the same. Throws std::bad_alloc
  // when memory runs out.
  void AddPage(const BMP& page, const GateSettings* gate = nullptr);
  // The same, taking the marks out of a page of the caller's that is
  // not needed again (it is left white).
  void TakePage(BMP* page, const GateSettings* gate = nullptr);
  // The marks and classes seen on two pages or more, at most
  // kMaxSymbolDictionaryPixels of them (the most widespread first),
  // height-sorted; the finder is empty afterwards.
  void Finish(GLOBAL_SYMBOLS* out);

 private:
  struct Slot {
    uint64_t hash = 0;  // 0: empty
    uint32_t lastPage = 0;
    uint32_t pages = 0;
  };
  Slot& Find(uint64_t hash);
  void Grow();

  std::vector<Slot> slots_;  // open addressing, linear probing
  size_t used_ = 0;
  std::vector<SYMBOL> kept_;      // a copy of each mark seen on two pages
  std::vector<uint64_t> keptHash_;
  uint32_t page_ = 0;
  std::unique_ptr<SharedClassFinder> classes_;
};
