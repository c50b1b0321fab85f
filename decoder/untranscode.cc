// Page decoding: the segments of no page, then each page's segments in file
// order, each with a reader of its own over its data, dispatched by type
// (T.88 8.2).
#include <new>
#include <vector>

#include "common/bit_reader.h"
#include "common/checked_alloc.h"
#include "common/messages.h"
#include "decoder/decode_context.h"
#include "decoder/generic_region.h"
#include "decoder/halftone_region.h"
#include "decoder/parse_file.h"
#include "decoder/pattern_dictionary.h"
#include "decoder/refinement_region.h"
#include "decoder/region_frame.h"
#include "decoder/segment_types.h"
#include "decoder/symbol_dictionary.h"
#include "decoder/table_segment.h"
#include "decoder/text_region.h"

using namespace jb2dec;

namespace {

// Decodes one segment with `file`'s shared coding state and a reader of its
// own over its data, by its type.
void DecodeSegment(JB2FILE* file, SEGMENT_HEADER* seg) {
  // Messages from here on say which segment of which page they are about.
  jb2msg::ScopedLocation location(seg->lNumber, seg->lPage);
  if (IsImmediateRegion(seg->lType) && !(seg->pPageBitmap && seg->pPageBitmap->pData)) {
    // Nothing to draw on: a region of page 0 (also the global pass of a file
    // with a page numbered 0, which decodes it again with its page), or of a
    // page without page information.
    if (!seg->pPageBitmap) PrintWarningRef("Region Segment without a Page Ignored", seg->lNumber);
    return;
  }
  DECODER reader;
  InitDecoder(&reader, seg->pDataStart, seg->lDataLength);
  // The arithmetic decoder reads this segment's data while it is decoded.
  MQSetInFunction(&file->MQ, MQMainIn, &reader);
  ScopeExit detach([file] { MQSetInFunction(&file->MQ, MQMainIn, &file->Input); });
  switch (seg->lType) {
    case kSegSymbolDictionary:
      DecodeSymbolDictionarySegment(file, seg, &reader);
      break;
    case kSegIntermediateTextRegion:
    case kSegImmediateTextRegion:
    case kSegImmediateLosslessTextRegion:
      DecodeSymbolRegionSegment(file, seg, &reader);
      break;
    case kSegPatternDictionary:
      DecodeHalftoneDictionarySegment(file, seg, &reader);
      break;
    case kSegIntermediateHalftoneRegion:
    case kSegImmediateHalftoneRegion:
    case kSegImmediateLosslessHalftoneRegion:
      DecodeHalftoneRegionSegment(file, seg, &reader);
      break;
    case kSegIntermediateGenericRegion:
    case kSegImmediateGenericRegion:
    case kSegImmediateLosslessGenericRegion:
      DecodeGenericRegionSegment(file, seg, &reader);
      break;
    case kSegIntermediateRefinementRegion:
    case kSegImmediateRefinementRegion:
    case kSegImmediateLosslessRefinementRegion:
      DecodeRefinementRegionSegment(file, seg, &reader);
      break;
    case kSegTables:
      DecodeTableSegment(file, seg, &reader);
      break;
    case kSegEndOfStripe: {
      // A page of unknown height reaches at least down to the end row of
      // each of its stripes (T.88 7.4.10), even where no region does.
      const uint64_t bottom = uint64_t{DecodeBits(&reader, 32)} + 1;
      if (reader.nPastEnd == 0) GrowPage(file, seg, bottom);
      break;
    }
    default:
      // Page information was decoded while parsing; end of page, end of
      // file, profiles, extensions and unknown types carry nothing to draw.
      break;
  }
}

// Frees what the segments of `page` made, but for the segments of no page
// and those another page refers to: no other page can use it.
void ReleasePageResults(JB2FILE* file, const JB2PAGE* page) {
  const std::vector<uint8_t>& keep = file->pContext->referredFromOtherPage;
  for (uint32_t i = 0; i < page->nSegments; ++i) {
    SEGMENT_HEADER* seg = page->ppSegments[i];
    const auto index = static_cast<size_t>(seg - file->pSegments);
    const bool referredElsewhere = index < keep.size() && keep[index];
    if (seg->lPage != 0 && !referredElsewhere) ReleaseSegmentResults(seg);
  }
}

}  // namespace

int UntranscodeGlobal(JB2FILE* file) noexcept {
  jb2msg::CallScope messages;
  try {
    for (uint32_t i = 0; i < file->nSegments; ++i)
      if (file->pSegments[i].lPage == 0) DecodeSegment(file, &file->pSegments[i]);
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory: Decoding Stopped");
  }
  return messages.Damaged() ? 1 : 0;
}

int UntranscodePage(JB2PAGE* page) noexcept {
  jb2msg::CallScope messages;
  JB2FILE* file = page->pFile;
  // Pages put together by hand, without their file, have nothing to decode with.
  if (!file) return page->nSegments ? 1 : 0;
  JB2CONTEXT* context = file->pContext;
  // The caller made the page's bitmap: it has room for its rows only.
  if (context) {
    // One page's results are held at a time: the memory of a long file
    // stays that of its largest page and its segments of no page.
    if (context->pLastPage) ReleasePageResults(file, context->pLastPage);
    context->pLastPage = page;
    context->pPage = &page->Bitmap;
    context->lPageRoom = page->Bitmap.lHeight;
    context->bPageClipped = false;
  }
  for (uint32_t i = 0; i < page->nSegments; ++i) {
    SEGMENT_HEADER* seg = page->ppSegments[i];
    // Two pages with the same number share their segments; each draws into
    // the page being decoded now.
    seg->pPageBitmap = &page->Bitmap;
    seg->pPageInfo = &page->Info;
    try {
      DecodeSegment(file, seg);
    } catch (const std::bad_alloc&) {
      // What the segment made so far stays with it and is freed with the file.
      PrintError("Out of Memory: Decoding Stopped");
      break;
    }
  }
  if (context) {
    if (context->bPageClipped) PrintWarning("Regions Reach below the Page: Clipped");
    context->pPage = nullptr;
  }
  return messages.Damaged() ? 1 : 0;
}
