// What the text region decoder (T.88 6.4, 7.4.3) shares with the symbol
// dictionary decoder (T.88 6.5, 7.4.2): symbol lists, the look-up of a
// symbol by number, the choice of Huffman tables, and the text region
// decoding procedure itself.
#pragma once

#include <cstdint>

#include "decoder/refinement_region.h"
#include "decoder/text_work.h"
#include "decoder/untransclib.h"

// The symbols of one dictionary as a list entry: a count and its bitmaps.
typedef struct SYMBOL_SET {
  uint32_t nSymbols;
  BMP* pSymbols;
} SYMBOL_SET;

// The symbols of several dictionaries numbered consecutively in dictionary
// order (SBSYMS of T.88 6.4, SDINSYMS of 6.5).
typedef struct SYMBOL_LIST {
  uint32_t nDicts;      // entries in pDicts
  uint32_t nSymbols;    // symbols over all entries
  SYMBOL_SET* pDicts;   // each dictionary's symbols
  uint32_t* pFirst;     // number of the first symbol of each entry
  uint32_t bTooMany;    // the dictionaries hold more than kMaxSymbols symbols
} SYMBOL_LIST;

// Parameters of one run of the text region decoding procedure (T.88 6.4.2).
typedef struct TEXT_PARAMS {
  DECODER* pInput;  // the data; MQ, Contexts[1] and Integers are the file's
  uint32_t bHuff;       // SBHUFF
  uint32_t bRefine;     // SBREFINE
  uint32_t nInstances;  // SBNUMINSTANCES
  uint32_t nStrips;     // SBSTRIPS: 1, 2, 4 or 8
  // Root of the symbol ID code tree (SBSYMCODES). With Huffman coding and no
  // tree, symbol IDs are lSymCodeLen plain bits (T.88 6.5.8.2.3).
  HUFFNODE* pSymbolCodes;
  uint32_t lSymCodeLen;  // SBSYMCODELEN
  SYMBOL_LIST Symbols;   // SBSYMS; SBNUMSYMS is Symbols.nSymbols
  uint32_t lDefaultPixel;  // SBDEFPIXEL
  uint32_t lCombOp;        // SBCOMBOP
  uint32_t bTransposed;    // TRANSPOSED
  uint32_t lRefCorner;     // REFCORNER: 0 BOTTOMLEFT, 1 TOPLEFT, 2 BOTTOMRIGHT, 3 TOPRIGHT
  int32_t lDSOffset;       // SBDSOFFSET
  HUFFTABLE* pTableFS;
  HUFFTABLE* pTableDS;
  HUFFTABLE* pTableDT;
  HUFFTABLE* pTableRDW;
  HUFFTABLE* pTableRDH;
  HUFFTABLE* pTableRDX;
  HUFFTABLE* pTableRDY;
  HUFFTABLE* pTableRSize;
  uint32_t lRTemplate;  // SBRTEMPLATE
  long lRATX[2];
  long lRATY[2];
  // What the segment this run belongs to may still spend on instances,
  // refinements and placements (null: a meter for this run alone).
  jb2dec::TextWork* pWork;
  // The segment's number, for messages.
  uint32_t lSegmentNumber;
} TEXT_PARAMS;

// Fills `list` from the segment's referred dictionaries in reference order.
// Sets bTooMany (after an error) and leaves the list empty when they hold
// more than kMaxSymbols symbols.
void BuildSymbolList(SYMBOL_LIST* list, SEGMENT_HEADER* seg);
// Appends an entry whose count and bitmaps the caller keeps up to date with
// SetLastSymbolSet (the symbols a dictionary decodes, T.88 6.5.8.2.4).
void AppendSymbolSet(SYMBOL_LIST* list);
void SetLastSymbolSet(SYMBOL_LIST* list, uint32_t count, BMP* symbols);
void FreeSymbolList(SYMBOL_LIST* list);
// The bitmap of symbol `id`, or null after "Reference Symbol ID Too Large".
BMP* GetSymbol(SYMBOL_LIST* list, uint32_t id);

// Sets `*table` from a Huffman table selection value: 0, 1, 2 pick the
// standard tables B.t0, B.t1, B.t2 (a t of 0 names none), customValue picks
// the next referred table segment. Leaves `*table` null after "No Custom
// Table Available".
void ChooseHuffTable(HUFFTABLE* standard, HUFFTABLE** table, uint32_t selection, uint32_t customValue, int t0,
                     int t1, int t2, SEGMENT_HEADER* seg, uint32_t* nextCustom);

// T.88 6.4.5: draws the instances into `out`, which the caller has created
// (and filled with SBDEFPIXEL). With arithmetic coding the caller has
// created Integers for lSymCodeLen, started MQ and prepared Contexts[1].
// Returns false when decoding had to stop early (after a message).
[[nodiscard]] bool DecodeTextRegion(JB2FILE* file, TEXT_PARAMS* params, BMP* out);
// The text region segment (T.88 7.4.3), types 4, 6, 7.
void DecodeSymbolRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);

// The refinement of a symbol instance or of a refinement/aggregate symbol
// with its own data size (Huffman coding, T.88 6.4.11 steps 5 to 7): starts
// the MQ decoder on the byte-aligned data that follows, decodes, and leaves
// the reader at the end of the `size` bytes.
void DecodeSizedRefinement(JB2FILE* file, REFINEMENT_PARAMS* params, BMP* out, uint32_t size);

// The generic refinement parameters of a symbol refinement: no typical
// prediction, the given template, adaptive pixels, reference and offsets.
REFINEMENT_PARAMS SymbolRefinementParams(DECODER* input, uint32_t templ, const long* ratx, const long* raty, BMP* ref,
                                         long dx, long dy);

// Smallest k with (count - 1) >> k == 0: ceil(log2(count)), 0 for counts 0
// and 1.
uint32_t SymbolIdCodeLength(uint64_t count);
