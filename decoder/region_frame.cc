// The frame every region segment decoder shares (T.88 7.4.1, 8.2): the
// region segment information, the region's bitmap as large as its page can
// show, and the combination of immediate regions into their page, which
// grows when its height is not known in advance.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/decode_context.h"
#include "decoder/region_frame.h"
#include "decoder/segment_types.h"

namespace {

using namespace jb2dec;

bool HasPagePixels(const SEGMENT_HEADER* seg) { return seg->pPageBitmap && seg->pPageBitmap->pData; }

// Whether the page's height is its own (T.88 7.4.8): only a page whose
// height is 0xFFFFFFFF takes it from its stripes and regions, and grows.
bool PageGrows(const PAGE_INFO* info) { return info->lHeight == 0xFFFFFFFFu; }

// Grows a page of unknown height down to `bottom` rows (GrowPage).
void GrowPageRows(JB2FILE* file, SEGMENT_HEADER* seg, uint64_t bottom) {
  BMP* page = seg->pPageBitmap;
  JB2CONTEXT* context = file->pContext;
  uint64_t limit = file->lMaxBitmapPixels ? file->lMaxBitmapPixels : kMaxBitmapPixels;
  if (context) limit = std::min(limit, context->lMaxPagePixels);
  const uint64_t rowPixels = std::max<uint64_t>(StoredBitmapPixels(page->lWidth, 1), 1);
  const uint64_t maxRows = std::min<uint64_t>(kMaxPageDimension, limit / rowPixels);
  if (bottom > maxRows) {
    PrintError("Bitmap Too Large");
    return;
  }
  const bool known = context && context->pPage == page;
  uint64_t room = known ? context->lPageRoom : page->lHeight;
  if (bottom > room) {
    room = std::min(std::max(bottom, 2 * room), maxRows);
    const size_t bytes = static_cast<size_t>(room * page->lStride);
    void* grown = std::realloc(page->pData, bytes ? bytes : 1);
    if (!grown) throw std::bad_alloc();
    page->pData = static_cast<unsigned char*>(grown);
  }
  // Whole rows, as CreateBMP fills them (the spare bits of black rows set).
  unsigned char* first = page->pData + size_t{page->lHeight} * page->lStride;
  std::memset(first, 0, static_cast<size_t>((bottom - page->lHeight) * page->lStride));
  if (seg->pPageInfo->lDefaultPixel)
    for (uint64_t r = page->lHeight; r < bottom; ++r) std::memset(page->pData + r * page->lStride, 0xFF, page->lBytesPerRow);
  page->lHeight = static_cast<uint32_t>(bottom);
  if (context) {
    context->pPage = page;
    context->lPageRoom = static_cast<uint32_t>(room);
  }
}

// The operator that combines an immediate region into its page, before the
// fallback for undefined operators (T.88 7.4.1.5, 7.4.2.1.5).
int RegionOperator(const SEGMENT_HEADER* seg) {
  const PAGE_INFO* info = seg->pPageInfo;
  return static_cast<int>(info->bCombOpOverride ? seg->Region.lCombOp : info->lCombOp);
}

// Whether rows [y, y + height) of `page` are white, spare bits included.
bool RowsWhite(const BMP* page, uint64_t y, uint64_t height) {
  for (uint64_t r = y; r < y + height; ++r) {
    const unsigned char* row = page->pData + r * page->lStride;
    unsigned char any = 0;
    for (uint32_t k = 0; k < page->lBytesPerRow; ++k) any |= row[k];
    if (any) return false;
  }
  return true;
}

// The conditions of BeginRegionSegment(seg, pageView) for decoding a region
// of seg->Region's size straight into the page.
bool RegionFitsPageView(const SEGMENT_HEADER* seg) {
  if (IsIntermediateRegion(seg->lType) || !HasPagePixels(seg) || !seg->pPageInfo) return false;
  const BMP* page = seg->pPageBitmap;
  const REGION_INFO& region = seg->Region;
  if (region.lX != 0 || region.lWidth != page->lWidth) return false;
  if (uint64_t{region.lY} + region.lHeight > page->lHeight) return false;
  const int op = RegionOperator(seg);
  if (op != kOpOr && op != kOpXor && op != kOpReplace) return false;
  return RowsWhite(page, region.lY, region.lHeight);
}

}  // namespace

bool CreateCheckedBMP(JB2FILE* file, BMP* bmp, uint64_t width, uint64_t height, int fill) {
  uint64_t limit = file->lMaxBitmapPixels ? file->lMaxBitmapPixels : kMaxBitmapPixels;
  if (width > 0xFFFFFFFFu || height > 0xFFFFFFFFu || (height != 0 && StoredBitmapPixels(width, 1) > limit / height)) {
    PrintError("Bitmap Too Large");
    *bmp = BMP{};
    return false;
  }
  CreateBMPChecked(bmp, static_cast<unsigned long>(width), static_cast<unsigned long>(height), fill);
  return true;
}

void DecodeRegionSegment(DECODER* reader, REGION_INFO* info, int bUnknownLength) {
  // T.88 7.4.1. With the unknown data length the height comes from the row
  // count that parsing found at the end of the data (T.88 7.2.7).
  info->lWidth = DecodeBits(reader, 32);
  uint32_t height = DecodeBits(reader, 32);
  if (!bUnknownLength) info->lHeight = height;
  info->lX = DecodeBits(reader, 32);
  info->lY = DecodeBits(reader, 32);
  info->lCombOp = DecodeBits(reader, 8) & 7;
}

namespace {

// The columns and rows, from its top-left corner, of an immediate region
// that its page can show: the page is as wide as it says, and as tall as it
// says or, when its height is not known in advance (striped), as tall as it
// may grow. False for regions that are not clipped (intermediate ones, whose
// every pixel may be used later).
bool PageReach(const SEGMENT_HEADER* seg, uint64_t* cols, uint64_t* rows) {
  if (IsIntermediateRegion(seg->lType) || !HasPagePixels(seg) || !seg->pPageInfo) return false;
  const BMP* page = seg->pPageBitmap;
  const uint64_t pageRows = PageGrows(seg->pPageInfo) ? std::max<uint64_t>(kMaxPageDimension, page->lHeight) : page->lHeight;
  const uint64_t x = seg->Region.lX, y = seg->Region.lY;
  *cols = x < page->lWidth ? page->lWidth - x : 0;
  *rows = y < pageRows ? pageRows - y : 0;
  return true;
}

// Whether the region's declared size is within kMaxRegionOverPage of its
// page's (regions of no page are held to the bitmap limits alone).
bool RegionFitsItsPage(const SEGMENT_HEADER* seg) {
  if (!HasPagePixels(seg) || !seg->pPageInfo) return true;
  const uint64_t pageRows = PageGrows(seg->pPageInfo) ? std::max<uint64_t>(kMaxPageDimension, seg->pPageBitmap->lHeight)
                                                      : seg->pPageBitmap->lHeight;
  const uint64_t pagePixels = uint64_t{seg->pPageBitmap->lWidth} * pageRows;
  return uint64_t{seg->Region.lWidth} * seg->Region.lHeight <= kMaxRegionOverPage * pagePixels + kRegionPixelAllowance;
}

// Reads the region information; false when the region has nothing to decode.
bool ReadRegionFrame(SEGMENT_HEADER* seg, DECODER* input) {
  DecodeRegionSegment(input, &seg->Region, seg->bUnknownLength);
  // A segment decoded a second time (a page numbered 0 also decodes the
  // global segments) drops its earlier result.
  if (seg->Bitmap.pData) DestroyBMP(&seg->Bitmap);
  seg->Bitmap = BMP{};
  // Too short for its region information: the reader has reported it.
  if (input->nPastEnd != 0) return false;
  if (seg->Region.lWidth == 0 || seg->Region.lHeight == 0) return false;
  if (!RegionFitsItsPage(seg)) {
    PrintErrorRef("Region Far Larger than its Page: Not Decoded", seg->lNumber);
    return false;
  }
  return true;
}

// Creates seg->Bitmap for the part of the region that `fill` needs.
bool CreateRegionBitmap(JB2FILE* file, SEGMENT_HEADER* seg, RegionFill fill) {
  uint64_t width = seg->Region.lWidth, height = seg->Region.lHeight;
  uint64_t cols = 0, rows = 0;
  if (PageReach(seg, &cols, &rows)) {
    // A striped page of known height, whose stripes or regions reach below
    // it, used to grow: say that they are clipped now.
    JB2CONTEXT* context = file->pContext;
    if (height > rows && context && seg->pPageInfo->bStriped && !PageGrows(seg->pPageInfo)) context->bPageClipped = true;
    if (cols == 0 || rows == 0) return false;  // the page shows none of it
    height = std::min(height, rows);
    if (fill == kRegionDrawn || (fill == kRegionRaster && height == 1)) width = std::min(width, cols);
  }
  return CreateCheckedBMP(file, &seg->Bitmap, width, height, 0);
}

}  // namespace

bool BeginRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input, RegionFill fill) {
  return ReadRegionFrame(seg, input) && CreateRegionBitmap(file, seg, fill);
}

bool BeginRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input, RegionFill fill, BMP* pageView) {
  *pageView = BMP{};
  if (!ReadRegionFrame(seg, input)) return false;
  // A region over the pixel cap goes on to CreateCheckedBMP, which reports it.
  const uint64_t limit = file->lMaxBitmapPixels ? file->lMaxBitmapPixels : kMaxBitmapPixels;
  if (uint64_t{seg->Region.lWidth} <= limit / seg->Region.lHeight && RegionFitsPageView(seg)) {
    const BMP* page = seg->pPageBitmap;
    pageView->pData = page->pData + uint64_t{seg->Region.lY} * page->lStride;
    pageView->lWidth = page->lWidth;
    pageView->lHeight = seg->Region.lHeight;
    pageView->lBytesPerRow = page->lBytesPerRow;
    pageView->lStride = page->lStride;
    return true;
  }
  return CreateRegionBitmap(file, seg, fill);
}

void EndRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg) {
  if (IsIntermediateRegion(seg->lType)) return;
  RegionToPage(file, seg);
  DestroyBMP(&seg->Bitmap);
}

void GrowPage(JB2FILE* file, SEGMENT_HEADER* seg, uint64_t bottom) {
  if (HasPagePixels(seg) && seg->pPageInfo && PageGrows(seg->pPageInfo) && bottom > seg->pPageBitmap->lHeight)
    GrowPageRows(file, seg, bottom);
}

void RegionToPage(JB2FILE* file, SEGMENT_HEADER* seg) {
  // A region of no page (page 0, or a page without page information) is
  // never combined anywhere.
  if (!HasPagePixels(seg) || !seg->pPageInfo || !seg->Bitmap.pData) return;
  const PAGE_INFO* info = seg->pPageInfo;
  int op = RegionOperator(seg);
  if (op > kOpReplace) {
    // Operators 5 to 7 are not defined by T.88 7.4.1.5: the page's own
    // default operator applies instead.
    PrintWarningRef("Invalid Combination Operator", seg->lNumber);
    op = static_cast<int>(info->lCombOp);
  }
  // A refinement of the page area replaces that area (T.88 7.4.7.5).
  if ((seg->lType == kSegImmediateRefinementRegion || seg->lType == kSegImmediateLosslessRefinementRegion) &&
      !seg->bHasRegionRef)
    op = kOpReplace;
  uint64_t bottom = uint64_t{seg->Region.lY} + seg->Bitmap.lHeight;
  // A page of unknown height grows with its regions even when its striping
  // flag is missing; otherwise everything below its first row would be lost.
  // A page of known height clips them (CombineBMP).
  GrowPage(file, seg, bottom);
  CombineBMP(seg->pPageBitmap, &seg->Bitmap, static_cast<long>(seg->Region.lX), static_cast<long>(seg->Region.lY), op);
}
