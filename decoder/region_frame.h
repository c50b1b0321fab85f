// The frame every region segment decoder shares (T.88 7.4.1): reading the
// region segment information, making the region's bitmap, and putting an
// immediate region onto its page, which grows when its height is unknown.
// Region decoders sit above it; the page decoding that dispatches to them
// sits above those.
#pragma once

#include <cstdint>

#include "decoder/untransclib.h"

// Creates a white bitmap of width x height unless it exceeds the file's pixel
// cap, in which case it prints "Bitmap Too Large", leaves bmp empty (pData
// null, size 0 x 0) and returns false. Every file-driven bitmap goes through
// here. A failed allocation throws std::bad_alloc.
[[nodiscard]] bool CreateCheckedBMP(JB2FILE* file, BMP* bmp, uint64_t width, uint64_t height, int fill);

// Reads the region segment information field (T.88 7.4.1).
void DecodeRegionSegment(DECODER* reader, REGION_INFO* info, int bUnknownLength);

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

// The start of every region segment decoder: reads the region segment
// information from `input` into seg->Region and creates seg->Bitmap, for an
// immediate region only as large as `fill` needs for the pixels its page can
// show (a page of unknown height can show rows down to kMaxPageDimension).
// Returns false when the region is not to be decoded: it cannot be (after a
// message), or none of it can reach the page. seg->Bitmap is then empty.
[[nodiscard]] bool BeginRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input, RegionFill fill);
// The same for a region decoder that can decode into a view of the page
// (writing every pixel of a bitmap that starts white): when the region is
// immediate, spans the page's full width inside its current height, lies on
// white page rows and is combined by OR, XOR or REPLACE, the result on the
// page equals the region itself, so `pageView` is set to those page rows and
// seg->Bitmap stays empty (no region bitmap, no combination: the page needs
// no second copy). Otherwise `pageView` stays empty and seg->Bitmap is made.
[[nodiscard]] bool BeginRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input, RegionFill fill,
                                      BMP* pageView);
// Ends a region segment: immediate regions go to the page and are released,
// intermediate ones keep their bitmap.
void EndRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg);
// Combines the segment's Bitmap into its page, growing a page of unknown
// height down to the region's bottom first.
void RegionToPage(JB2FILE* file, SEGMENT_HEADER* seg);
// Grows the segment's page, when its height is unknown (T.88 7.4.8), down to
// `bottom` rows, filling the new rows with the default pixel. The storage
// doubles when it runs out of room, so a page that grows a row at a time
// costs work in proportion to its rows. Refused, with the rows so far kept
// (regions below are clipped), past kMaxPageDimension rows, the file's pixel
// cap or the caller's page limit.
void GrowPage(JB2FILE* file, SEGMENT_HEADER* seg, uint64_t bottom);
