// The record that carries one mark of a text section through extraction,
// matching, the symbol dictionaries and the text region, and the functions
// that find and classify the marks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bitmap.h"
#include "encoder/settings.h"

typedef struct SYMBOL {
  BMP Bitmap;            // the mark's pixels, cut to its bounding box; first member
  int32_t lIndex;        // symbol ID that codes the mark
  int32_t lMatch;        // index, in the height-sorted array, of the mark it matched
  int32_t lX;            // left column of the bounding box in the section
  int32_t lY;            // top row of the bounding box in the section
  int32_t lStrip;        // strip number of an instance
  int32_t lDX;           // horizontal alignment offset found by matching
  int32_t lDY;           // vertical alignment offset found by matching
  uint32_t bDictionary;  // written into a symbol dictionary
  uint32_t bExact;       // pixel-identical to mark lMatch
  uint32_t bResidue;     // left in the residue generic region
  uint32_t bRefine;      // matched mark lMatch approximately; coded by refinement
  uint32_t bSubstitute;  // lossy: drawn as mark lMatch's symbol, placed by lDX, lDY
} SYMBOL;

// A SYMBOL is passed wherever a BMP is expected.
static_assert(offsetof(SYMBOL, Bitmap) == 0, "the bitmap must be the first member of SYMBOL");

inline BMP* SymbolBMP(SYMBOL* symbol) { return &symbol->Bitmap; }

// Finds every 8-connected group of black pixels of `section` in raster order
// of its first pixel, moves it into a bitmap of its own and appends one record
// per mark to a malloc'ed array stored in *marks. The section is left white.
// The caller destroys each mark's bitmap and frees the array.
void ExtractAllSymbols(BMP* section, SYMBOL** marks, unsigned long* count);

// ExtractAllSymbols, except that marks no wider and no higher than
// `leaveSize` stay in the section, unrecorded; *left (when given) counts
// them. leaveSize is at most 3; with 0 every mark is taken.
void ExtractSymbols(BMP* section, SYMBOL** marks, unsigned long* count, uint32_t leaveSize, unsigned long* left);

// The column of a mark's first pixel in raster order (in its top row): with
// lY it orders marks as the extraction scan finds them.
long FirstPixelColumn(const SYMBOL& mark);

// A hash of a mark's size and pixels (spare bits included, which marks keep
// clear): marks with the same pixels have the same hash.
uint64_t PixelHash(const BMP& b);

// qsort comparator: ascending height, then ascending width.
int CompareSymbHeight(const void* a, const void* b);

// Sorts the marks with the order of CompareSymbHeight. The sort is stable, so
// marks of equal width and height keep the raster order of extraction.
void SortSymbolsByHeight(SYMBOL* marks, unsigned long count);

// Compares every mark of the height-sorted array with the marks before it
// and records its exact or approximate match (lMatch, lDX, lDY, bExact,
// bRefine), marking the matched mark as a dictionary symbol.
void EvaluateMatches(SYMBOL* marks, long count, const SectionSettings& section);

// Completes the class decision after EvaluateMatches: which marks become
// dictionary symbols and which are left to the residue region.
void SelectClasses(SYMBOL* marks, long count, const TextSettings& section);
