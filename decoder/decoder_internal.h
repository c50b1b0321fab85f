// Declarations shared by the decoder's source files and not exported: the
// parse steps, page composition, and the region and dictionary decoders that
// DecodeSegment dispatches to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/untransclib.h"

// Parameters of one run of the generic region decoding procedure (T.88 6.2).
// The MQ decoder, Contexts[0] and the MMR trees are those of the JB2FILE that
// owns pInput (FileOfInput).
typedef struct GENERIC_PARAMS {
  DECODER* pInput;
  uint32_t bMMR;
  uint32_t lTemplate;  // GBTEMPLATE 0..3
  uint32_t bTPGDON;
  uint32_t bUseSkip;
  BMP* pSkip;       // same size as the region when bUseSkip
  long lATX[4];
  long lATY[4];
  uint32_t bEOFB;  // MMR: an end-of-block code follows the last row
} GENERIC_PARAMS;

// Parameters of one run of the generic refinement region decoding procedure
// (T.88 6.3). The MQ decoder and Contexts[1] are those of pInput's JB2FILE.
typedef struct REFINEMENT_PARAMS {
  DECODER* pInput;
  uint32_t lTemplate;  // GRTEMPLATE 0..1
  BMP* pReference;
  long lDX;
  long lDY;
  uint32_t bTPGRON;
  long lATX[2];
  long lATY[2];
} REFINEMENT_PARAMS;

// Every DECODER handed to a segment decoder is the Input of a JB2FILE; the
// shared coding state sits beside it.
inline JB2FILE* FileOfInput(DECODER* input) {
  return reinterpret_cast<JB2FILE*>(reinterpret_cast<char*>(input) - offsetof(JB2FILE, Input));
}

// Parsing (T.88 7.2, Annex D).
void ReadSegmentHeader(DECODER* reader, SEGMENT_HEADER** segments, uint32_t* count, unsigned long* capacity);
void SkipUnknownSegmentLength(DECODER* reader);
void DecodePageSegment(SEGMENT_HEADER* seg);
void BuildSegmentTree(SEGMENT_HEADER* segments, uint32_t count);
void FreeSegmentHeader(SEGMENT_HEADER* seg);

// Page composition.
void DecodeSegment(SEGMENT_HEADER* seg);
void DecodeRegionSegment(DECODER* reader, REGION_INFO* info, int bUnknownLength);
void RegionToPage(SEGMENT_HEADER* seg);

// Creates a white bitmap of width x height unless it exceeds the file's pixel
// cap, in which case it prints "Bitmap Too Large", leaves bmp empty (pData
// null, size 0 x 0) and returns false. Every file-driven bitmap goes through
// here. A failed allocation throws std::bad_alloc.
[[nodiscard]] bool CreateCheckedBMP(JB2FILE* file, BMP* bmp, uint64_t width, uint64_t height, int fill);

// How a region decoder fills its bitmap. It decides how much of an
// immediate region that reaches past its page has to be made: pixels that
// can never reach the page are work nobody can see, and once every pixel
// left to decode is such a pixel, the region's decoding stops (its coding
// state matters to nothing after it).
enum RegionFill {
  // Decoded in raster order, each pixel from those before it in full rows
  // (MMR): every row down to the last one the page can show.
  kRegionRows,
  // Decoded in raster order by context (arithmetic generic and refinement
  // regions): the same rows, and when only the first row can be shown, that
  // row only as far as the page reaches (no row above needs the rest).
  kRegionRaster,
  // Drawn at places the data gives (text and halftone regions): only the
  // rectangle the page can show.
  kRegionDrawn,
};

// The region frame shared by every region segment decoder: reads the region
// segment information into seg->Region and creates seg->Bitmap, for an
// immediate region only as large as `fill` needs for the pixels its page can
// show (a page of unknown height can show rows down to kMaxPageDimension).
// Returns false when the region is not to be decoded: it cannot be (after a
// message), or none of it can reach the page. seg->Bitmap is then empty.
[[nodiscard]] bool BeginRegionSegment(SEGMENT_HEADER* seg, RegionFill fill);
// The same for a region decoder that can decode into a view of the page
// (writing every pixel of a bitmap that starts white): when the region is
// immediate, spans the page's full width inside its current height, lies on
// white page rows and is combined by OR, XOR or REPLACE, the result on the
// page equals the region itself, so `pageView` is set to those page rows and
// seg->Bitmap stays empty (no region bitmap, no combination: the page needs
// no second copy). Otherwise `pageView` stays empty and seg->Bitmap is made.
[[nodiscard]] bool BeginRegionSegment(SEGMENT_HEADER* seg, RegionFill fill, BMP* pageView);
// Ends a region segment: immediate regions go to the page and are released,
// intermediate ones keep their bitmap.
void EndRegionSegment(SEGMENT_HEADER* seg);

// Generic and refinement regions (T.88 6.2, 6.3, 7.4.6, 7.4.7).
void DecodeGenericRegion(GENERIC_PARAMS* params, BMP* out);
void DecodeRefinementRegion(REFINEMENT_PARAMS* params, BMP* out);
void DecodeGenericRegionSegment(SEGMENT_HEADER* seg);
void DecodeRefinementRegionSegment(SEGMENT_HEADER* seg);

// Dictionaries, text and halftone regions, tables: one file each.
void DecodeSymbolDictionarySegment(SEGMENT_HEADER* seg);    // type 0
void DecodeSymbolRegionSegment(SEGMENT_HEADER* seg);        // types 4, 6, 7
void DecodeHalftoneDictionarySegment(SEGMENT_HEADER* seg);  // type 16
void DecodeHalftoneRegionSegment(SEGMENT_HEADER* seg);      // types 20, 22, 23
void DecodeTableSegment(SEGMENT_HEADER* seg);               // type 53
