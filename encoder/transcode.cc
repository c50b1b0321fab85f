// The encoder driver: one run codes one page image, section by section, into
// one JBIG2 file (page information T.88 7.4.8, region segment information
// T.88 7.4.1, end of stripe T.88 7.4.10).
#include <algorithm>
#include <memory>
#include <utility>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "common/checked_alloc.h"
#include "common/bit_writer.h"
#include "common/messages.h"
#include "common/segment_header.h"
#include "encoder/document_coder.h"
#include "encoder/encode_state.h"
#include "encoder/lossy_classes.h"
#include "encoder/parameters.h"
#include "encoder/section_coding.h"
#include "encoder/segment_writer.h"
#include "encoder/settings.h"
#include "encoder/transclib.h"
#include "encoder/transcode.h"

namespace {

// A page's comment when lossy text coding drew marks as other marks' symbols.
const char* const kLossyNames[] = {"Coding"};
const char* const kLossyValues[] = {"lossy text"};

// One section: its rectangle clipped to the page. Returns false when nothing
// of it lies on the page.
[[nodiscard]] bool ClipSection(const SectionSettings& section, uint32_t width, uint32_t height,
                               SectionSettings* clipped) {
  int64_t x0 = std::max<int64_t>(section.x0, 0), y0 = std::max<int64_t>(section.y0, 0);
  int64_t x1 = std::min<int64_t>(section.x1, width), y1 = std::min<int64_t>(section.y1, height);
  if (x1 <= x0 || y1 <= y0) {
    PrintWarning("Section Outside Page or Empty - Not Coded");
    return false;
  }
  if (x0 != section.x0 || y0 != section.y0 || x1 != section.x1 || y1 != section.y1)
    PrintWarning("Section Exceeds Page - Clipped to Page");
  *clipped = section;
  clipped->x0 = static_cast<int32_t>(x0);
  clipped->y0 = static_cast<int32_t>(y0);
  clipped->x1 = static_cast<int32_t>(x1);
  clipped->y1 = static_cast<int32_t>(y1);
  return true;
}

// Whether every row's bits after its last pixel are 0, as in a bitmap made
// by CreateBMP and ExtractRegion.
bool SpareBitsClear(const BMP* image) {
  if (image->lWidth % 8 == 0) return true;
  const unsigned char spare = static_cast<unsigned char>(0xFFu >> (image->lWidth % 8));
  for (uint32_t y = 0; y < image->lHeight; ++y)
    if (image->pData[static_cast<size_t>(y) * image->lStride + image->lBytesPerRow - 1] & spare) return false;
  return true;
}

struct Rect {
  int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool Overlaps(const Rect& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};

// Clears `r`, given in page co-ordinates, from a bitmap whose top-left
// corner lies at (x, y) of the page.
void ClearRect(BMP* bmp, const Rect& r, int64_t x, int64_t y) {
  if (r.x1 <= r.x0 || r.y1 <= r.y0) return;
  ClearRegion(bmp, static_cast<long>(r.x0 - x), static_cast<long>(r.y0 - y), static_cast<unsigned long>(r.x1 - r.x0),
              static_cast<unsigned long>(r.y1 - r.y0));
}

// Text sections that draw with SBDEFPIXEL 1 or complement themselves rebuild
// their rectangle only on a white page area; over an earlier section's
// pixels they are placed by XOR.
bool NeedsWhiteArea(const SectionSettings& section) {
  return section.type == 1 && (section.text.defpixel != 0 || section.text.invert != 0);
}

// Codes each section's rectangle and, unless it is the last one, clears it
// from the page, so that later sections do not code those pixels again.
// Returns the last coded rectangle (empty when none was coded).
Rect CodeSections(ENCODE_STATE* state, BMP* image, std::vector<SectionSettings>& sections, uint32_t pagePlaceOp) {
  std::vector<Rect> coded;
  for (SectionSettings& section : sections) {
    if (section.x1 == 0) section.x1 = static_cast<int32_t>(image->lWidth);
    if (section.y1 == 0) section.y1 = static_cast<int32_t>(image->lHeight);
    // Rectangles are clipped to the page; one with nothing on the page is
    // reported and skipped, since T.88 regions may not leave the page.
    SectionSettings clipped;
    if (!ClipSection(section, image->lWidth, image->lHeight, &clipped)) continue;
    uint32_t w = static_cast<uint32_t>(clipped.x1 - clipped.x0);
    uint32_t h = static_cast<uint32_t>(clipped.y1 - clipped.y0);
    const Rect rect{clipped.x0, clipped.y0, clipped.x1, clipped.y1};
    bool overlaps = false;
    for (const Rect& r : coded) overlaps = overlaps || r.Overlaps(rect);
    // The last rectangle stays on the page; only its successors would clear it.
    if (!coded.empty()) ClearRect(image, coded.back(), 0, 0);
    coded.push_back(rect);
    state->lPlaceOp = overlaps && NeedsWhiteArea(section) ? uint32_t{kOpXor} : pagePlaceOp;
    // A generic section over the whole page only reads its pixels: coded
    // from the page itself it gives the same bytes as from a copy, provided
    // the copy would not differ in its spare bits (typical prediction
    // compares whole bytes). Saves a page-sized copy.
    const bool wholePage = w == image->lWidth && h == image->lHeight && SpareBitsClear(image);
    if (section.type == 0 && wholePage) {
      EncodeRegion(state, image, clipped);
      continue;
    }
    // A text section over the whole page takes the page itself apart and
    // puts it together again: no page-sized copy.
    if (section.type == 1 && wholePage) {
      state->pSectionSource = image;
      EncodeRegion(state, image, clipped);
      state->pSectionSource = nullptr;
      continue;
    }
    BMP region{};
    ScopeExit freeRegion([&] {
      DestroyBMP(&region);
      state->pSectionSource = nullptr;
    });
    CreateBMPChecked(&region, w, h, 0);
    ExtractRegion(&region, image, clipped.x0, clipped.y0);
    state->pSectionSource = wholePage ? image : nullptr;
    EncodeRegion(state, &region, clipped);
  }
  return coded.empty() ? Rect{} : coded.back();
}

// The smallest rectangle holding every black pixel of `image` outside
// `covered`; false when there is none.
bool UncoveredBounds(const BMP* image, const Rect& covered, Rect* bounds) {
  // Per byte of a row: the pixel bits, and those left when `covered` is out.
  std::vector<unsigned char> all(image->lBytesPerRow, 0xFF), outside;
  if (image->lWidth % 8) all.back() = static_cast<unsigned char>(0xFF00u >> (image->lWidth % 8));
  outside = all;
  for (int64_t x = covered.x0; x < covered.x1; ++x) outside[x / 8] &= ConstMask0[x % 8];
  int64_t top = -1, bottom = -1, left = INT64_MAX, right = -1;
  for (uint32_t y = 0; y < image->lHeight; ++y) {
    const unsigned char* row = image->pData + static_cast<size_t>(y) * image->lStride;
    const std::vector<unsigned char>& mask = y >= covered.y0 && y < covered.y1 ? outside : all;
    for (uint32_t k = 0; k < image->lBytesPerRow; ++k) {
      const unsigned char b = row[k] & mask[k];
      if (!b) continue;
      if (top < 0) top = y;
      bottom = y;
      left = std::min<int64_t>(left, int64_t{k} * 8 + std::countl_zero(b));
      right = std::max<int64_t>(right, int64_t{k} * 8 + 7 - std::countr_zero(b));
    }
  }
  if (top < 0) return false;
  *bounds = Rect{left, top, right + 1, bottom + 1};
  return true;
}

// Pixels that no section covered would decode as the page's default: they
// are coded as one more generic region with default settings.
void CodeUncoveredPixels(ENCODE_STATE* state, BMP* image, const Rect& last, uint32_t placeOp) {
  Rect r;
  if (!UncoveredBounds(image, last, &r)) return;
  PrintWarning("Pixels No Section Covers - Coded as One More Generic Region");
  SectionSettings rest = SectionOf(PARAMETER{}, false);  // every keyword its default
  rest.x0 = static_cast<int32_t>(r.x0);
  rest.y0 = static_cast<int32_t>(r.y0);
  rest.x1 = static_cast<int32_t>(r.x1);
  rest.y1 = static_cast<int32_t>(r.y1);
  BMP region;
  CreateBMPChecked(&region, static_cast<uint32_t>(r.x1 - r.x0), static_cast<uint32_t>(r.y1 - r.y0), 0);
  ExtractRegion(&region, image, rest.x0, rest.y0);
  ClearRect(&region, last, r.x0, r.y0);
  state->lPlaceOp = placeOp;
  EncodeGenericSection(state, &region, rest);
  DestroyBMP(&region);
}

void WriteEndOfStripe(ENCODE_STATE* state, uint32_t row) {
  StartSegment(&state->Encoder);
  EncodeBits(&state->Encoder, row, 32);
  FinishSegmentBasic(&state->Encoder, kSegEndOfStripe, 0);
  state->lLastStripeEnd = row;
}

void WriteRegionAndFinish(ENCODE_STATE* state, GRPARAM* gr, BMP* bitmap, uint32_t x, uint32_t y) {
  StartSegment(&state->Encoder);
  EncodeRegionSegment(&state->Encoder, bitmap, x, y, state->lPlaceOp);
  EncodeGenericRegionSegment(gr, bitmap);
}

}  // namespace

void EncodePage(ENCODER* enc, uint32_t width, uint32_t height, const PageSettings& page, uint32_t xResolution,
                uint32_t yResolution) {
  const uint32_t stripe = page.stripeRows;
  const uint32_t pagePixel = page.pagepixel != 0;
  ReportNotes(page.notes);
  const uint32_t pageOp = static_cast<uint32_t>(page.pageop.value);
  const uint32_t opOverride = page.opoverride != 0;
  EncodeBits(enc, width, 32);
  EncodeBits(enc, stripe ? kUnknownPageHeight : height, 32);
  // In pixels per metre (T.88 7.4.8.3): "resolution", else the image's.
  const bool given = page.resolution.given;
  EncodeBits(enc, given ? static_cast<uint32_t>(page.resolution.value) : xResolution, 32);
  EncodeBits(enc, given ? static_cast<uint32_t>(page.resolution.value) : yResolution, 32);
  EncodeBits(enc, 0x23 + 4 * pagePixel + 8 * pageOp + 64 * opOverride, 8);
  // No stripe is taller than the page: a reader may make a page of unknown
  // height at least one maximum stripe tall (T.88 7.4.8.6 only bounds stripes).
  EncodeBits(enc, stripe ? kPageStripedFlag + std::min(stripe, height) : 0, 16);
}

void EncodeRegion(ENCODE_STATE* state, BMP* section, const SectionSettings& parameters) {
  switch (parameters.type) {
    case 0:
      EncodeGenericSection(state, section, parameters);
      break;
    case 1:
      EncodeTextSection(state, section, parameters);
      break;
    case 2:
      EncodeHalftoneSection(state, section, parameters);
      break;
    default:
      // Dropping the section would lose its pixels from the page.
      PrintWarning("Unknown Region Type - Coding Section as Generic Region");
      EncodeGenericSection(state, section, parameters);
      break;
  }
}

void EncodeGenericSection(ENCODE_STATE* state, BMP* section, const SectionSettings& p) {
  GRPARAM gr;
  ReadGenericParameters(&gr, state, p.generic);
  uint32_t x = static_cast<uint32_t>(p.x0), y = static_cast<uint32_t>(p.y0);
  const int32_t stripeValue = p.generic.stripe;
  uint32_t rows = p.generic.stripeRows;
  if (stripeValue != 0 && (rows == 0 || (stripeValue == 1 && (x != 0 || y != 0)))) {
    PrintError("Invalid Stripe Settings - Ignoring STRIPE");
    rows = 0;
  }
  if (rows == 0) {
    WriteRegionAndFinish(state, &gr, section, x, y);
    return;
  }
  // Stripes are placed at the section's position on the page, and each end
  // of stripe names the page row of the stripe's last row (T.88 7.4.10).
  const uint32_t height = section->lHeight;
  for (uint32_t top = 0; top < height; top += rows) {
    uint32_t n = std::min(rows, height - top);
    BMP stripe;
    CreateBMPChecked(&stripe, section->lWidth, n, 0);
    ExtractRegion(&stripe, section, 0, top);
    WriteRegionAndFinish(state, &gr, &stripe, x, y + top);
    DestroyBMP(&stripe);
    WriteEndOfStripe(state, y + top + n - 1);
  }
}

uint32_t PageResolution(const BMP& image, const PageSettings& page) {
  const bool given = page.resolution.given;
  const uint32_t x = given ? static_cast<uint32_t>(page.resolution.value) : image.lXResolution;
  const uint32_t y = given ? static_cast<uint32_t>(page.resolution.value) : image.lYResolution;
  return x && y ? std::min(x, y) : x | y;
}

// One page: its information, its sections, the pixels no section covered,
// its end. `sections` are the page's own copies: their rectangles are
// completed with the page's size, for this page only.
void CodePage(ENCODE_STATE* state, BMP* image, std::vector<SectionSettings> sections, uint32_t pageNumber) {
  ENCODER* enc = &state->Encoder;
  state->Segments.lPage = pageNumber;
  // On a black page (default pixel 1) the sections code the complement of
  // the image and XOR it on; with the page's operator imposed on every
  // region (CheckParameters left only OR or XOR) they use that one.
  const PageSettings& page = sections[0].page;
  const bool blackPage = page.pagepixel != 0;
  const bool imposedXor = page.opoverride == 0 && page.pageop == kOpXor;
  const uint32_t placeOp = blackPage || imposedXor ? kOpXor : kOpOr;
  state->lLastStripeEnd = -1;
  if (blackPage) InvertBMP(image);
  // The caller's image is restored however coding ends.
  ScopeExit restore([&] {
    if (blackPage) InvertBMP(image);
  });

  state->lResolution = PageResolution(*image, page);
  StartSegment(enc);
  EncodePage(enc, image->lWidth, image->lHeight, page, image->lXResolution, image->lYResolution);
  FinishSegmentBasic(enc, kSegPageInformation, 0);
  state->bLossyPage = 0;
  const Rect last = CodeSections(state, image, sections, placeOp);
  CodeUncoveredPixels(state, image, last, placeOp);
  if (state->bLossyPage) {
    StartSegment(enc);
    EncodeComment(enc, kLossyNames, kLossyValues, 1);
    FinishSegmentBasic(enc, kSegExtension, 0);
  }
  // A striped page is as tall as its last stripe says (T.88 7.4.8.2): end it
  // at the image's last row whatever the sections did.
  if (page.stripeRows != 0 && state->lLastStripeEnd != int64_t{image->lHeight} - 1)
    WriteEndOfStripe(state, image->lHeight - 1);
  StartSegment(enc);
  FinishSegmentBasic(enc, kSegEndOfPage, 1);
}

int TranscodeDocumentToMemory(BMP* images, long nImages, PARAMETER* sections, long nSections,
                              std::vector<unsigned char>* out, const PageProgress& progress, unsigned threads,
                              const LOSSY_HOOKS* hooks) noexcept {
  if (images == nullptr || nImages < 1 || nImages > long{UINT32_MAX}) {
    PrintError("No Image to Encode");
    return kTranscodeFailed;
  }
  for (long i = 0; i < nImages; ++i)
    if (images[i].pData == nullptr || images[i].lWidth == 0 || images[i].lHeight == 0) {
      PrintError("No Image to Encode");
      return kTranscodeFailed;
    }
  try {
    const size_t start = out->size();
    auto append = [out](uint32_t, const unsigned char* data, size_t size) {
      out->insert(out->end(), data, data + size);
      return true;
    };
    std::unique_ptr<DocumentCoder> coder;
    int status = DocumentCoder::Create(sections, nSections, static_cast<uint32_t>(nImages), OutputKind::kFile,
                                       append, progress, threads, &coder);
    if (status == kTranscodeDone) coder->SetLossyHooks(hooks);
    for (long i = 0; status == kTranscodeDone && coder->SharesSymbols() && i < nImages; ++i)
      status = coder->ScanPage(&images[i], false);
    for (long i = 0; status == kTranscodeDone && i < nImages; ++i) status = coder->AddPage(&images[i], false);
    if (status == kTranscodeDone) status = coder->Finish();
    if (status != kTranscodeDone) out->resize(start);
    return status;
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory");
    return kTranscodeOutOfMemory;
  } catch (const LossyCheckFailure&) {
    PrintError("Lossy Check Failed: a Mark Would Be Drawn Beyond Its Gate - Nothing Written");
    return kTranscodeCheckFailed;
  }
}

int TranscodeToMemory(BMP* image, PARAMETER* sections, long nSections, std::vector<unsigned char>* out) noexcept {
  return TranscodeDocumentToMemory(image, 1, sections, nSections, out, nullptr, 1);
}

int Transcode(BMP* images, long nImages, PARAMETER* sections, long nSections, const char* fileName) noexcept {
  jb2msg::CallScope messages;
  if (fileName == nullptr) {
    PrintError("No Image to Encode");
    return kTranscodeFailed;
  }
  try {
    std::vector<unsigned char> bytes;
    const int status = TranscodeDocumentToMemory(images, nImages, sections, nSections, &bytes, nullptr, 0);
    if (status == kTranscodeRefused) return 2;
    if (status != kTranscodeDone) return 1;
    return WriteWholeFile(fileName, bytes) ? 0 : 1;
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory");
    return 1;
  }
}
