// Text region encoding: the text region decoding procedure of T.88 6.4 run
// in the encoding direction, the text region segment data of T.88 7.4.3, and
// the pipeline that codes a text section (marks, dictionaries, text region,
// residue, refinement pass).
#pragma once

#include <cstdint>
#include <vector>

#include "common/huffman_table.h"
#include "encoder/symbol.h"

struct ENCODE_STATE;

// REFCORNER values (T.88 7.4.3.1.1).
enum : uint32_t { kBottomLeft = 0, kTopLeft = 1, kBottomRight = 2, kTopRight = 3 };

typedef struct TRPARAM {
  ENCODE_STATE* pState;
  uint32_t bHuff;                // SBHUFF
  uint32_t bRefine;              // SBREFINE
  uint32_t nInstances;           // SBNUMINSTANCES
  uint32_t lStrips;              // SBSTRIPS: 1, 2, 4 or 8
  unsigned long* pSymCodes;      // Huffman symbol ID codes (SBNUMSYMS)
  unsigned long* pSymCodeLens;   // their lengths
  uint32_t lSymCodeLen;          // SBSYMCODELEN
  uint32_t bDefPixel;            // SBDEFPIXEL
  uint32_t lCombOp;              // SBCOMBOP, 0..3
  uint32_t bTransposed;          // TRANSPOSED
  uint32_t lRefCorner;           // REFCORNER
  int32_t lDSOffset;             // SBDSOFFSET, -16..15
  int32_t lHuffFS, lHuffDS, lHuffDT, lHuffRDW, lHuffRDH, lHuffRDX, lHuffRDY, lHuffRSize;  // selections
  HUFFTABLE *pTableFS, *pTableDS, *pTableDT, *pTableRDW, *pTableRDH, *pTableRDX, *pTableRDY, *pTableRSize;
  uint32_t lRTemplate;           // SBRTEMPLATE
  int32_t lRATX1, lRATX2, lRATY1, lRATY2;  // SBRATX1, SBRATX2, SBRATY1, SBRATY2
} TRPARAM;

// Writes the text region segment data after the region segment information
// field. `instances` (not changed) are the marks to draw, each with lIndex
// naming its symbol in `dictionary`; nSyms is SBNUMSYMS. The caller finishes
// the segment.
void EncodeSymbolRegionSegment(TRPARAM* param, SYMBOL* instances, unsigned long nInstances, SYMBOL* dictionary,
                               unsigned long nSyms);

// Codes prepared instances (S in lX, T in lY, strip in lStrip, sorted by
// CompareSymbPos) from the initial strip value to the last strip's OOB.
void EncodeSymbolInstances(TRPARAM* param, SYMBOL* prepared, unsigned long n, SYMBOL* symbols);

// qsort comparator: strip, then S.
int CompareSymbPos(const void* a, const void* b);

// The instances in coding order with their S and T coordinates (T.88 6.4.5),
// after the lossy replacement of soft matches when SBREFINE is 0: such an
// instance takes its symbol's bitmap and the position matching aligned it at.
void PrepareSymbolInstances(const TRPARAM* param, const SYMBOL* instances, unsigned long n, SYMBOL* dictionary,
                            std::vector<SYMBOL>* prepared);

// The top-left corner at which a decoder draws a prepared instance (T.88
// 6.4.5 steps 3c viii and ix: its S and T with the reference corner and
// transposition).
void InstanceTopLeft(const TRPARAM* param, const SYMBOL& prepared, long* x, long* y);

// Draws prepared instances into `region` in coding order, as a decoder of the
// text region does (T.88 6.4.5 steps 3c viii and ix).
void DrawSymbolInstances(const TRPARAM* param, std::vector<SYMBOL>& prepared, BMP* region);
