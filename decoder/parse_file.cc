// File parsing (T.88 Annex D file format, 7.2 segment header syntax): the
// segment records, the page records and the links between segments.
//
// Every length, count and offset read here is checked against the bytes that
// are left before it is used: a header that does not fit ends the header list,
// a data part that does not fit is cut at the end of the file, and no count
// sizes an allocation beyond what the remaining bytes could describe.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/decode_context.h"
#include "decoder/parse_file.h"
#include "decoder/segment_types.h"
#include "decoder/table_segment.h"

namespace {

using namespace jb2dec;

constexpr unsigned long kInitialSegmentRoom = 16;
// Bytes of the page information segment (T.88 7.4.8), and the first of them
// that hold the page's width and height.
constexpr uint32_t kPageInfoBytes = 19;
constexpr uint32_t kPageSizeBytes = 8;

uint64_t BytesLeft(const DECODER* reader) { return static_cast<uint64_t>(reader->pEnd - reader->pCur); }

uint32_t ReadByte(DECODER* reader) { return DecodeBits(reader, 8); }
uint32_t ReadU32(DECODER* reader) { return DecodeBits(reader, 32); }

// The header list of a random-access file (T.88 D.3) ends with its
// end-of-file segment. A file without one would have its data parts read as
// headers; when the data lengths of the headers read so far account exactly
// for the rest of the file, the list ends there instead.
struct DataTally {
  uint64_t sum = 0;
  bool unknown = false;
  uint32_t count = 0;
  void Add(const SEGMENT_HEADER& seg) {
    unknown = unknown || seg.bUnknownLength;
    sum += seg.lDataLength;
    ++count;
  }
  bool FillsRest(uint64_t left) const { return count != 0 && !unknown && sum == left; }
};

// Locates the data of one segment at the reader's position (T.88 7.2.7).
void TakeSegmentData(DECODER* reader, SEGMENT_HEADER* seg, bool* reportedShortData) {
  seg->pDataStart = DecoderPtr(reader);
  if (seg->bUnknownLength) {
    SkipUnknownSegmentLength(reader);
    if (BytesLeft(reader) < 4) {
      // No end marker, or no row count after it: the region's height is
      // unknown, so it is decoded as empty; the rest of the file is its data.
      PrintErrorRef("Segment of Unknown Length has no Row Count", seg->lNumber);
      seg->Region.lHeight = 0;
      DecSkipBytes(reader, static_cast<long>(BytesLeft(reader)));
    } else {
      seg->Region.lHeight = ReadU32(reader);
    }
    seg->lDataLength = static_cast<uint32_t>(DecoderPtr(reader) - seg->pDataStart);
    return;
  }
  uint64_t left = BytesLeft(reader);
  if (seg->lDataLength > left) {
    if (!*reportedShortData) PrintErrorRef("Segment Data past the End of the File", seg->lNumber);
    *reportedShortData = true;
    seg->lDataLength = static_cast<uint32_t>(left);
  }
  DecSkipBytes(reader, static_cast<long>(seg->lDataLength));
}

void CreatePages(JB2FILE* file) {
  uint32_t nInfo = 0;
  for (uint32_t i = 0; i < file->nSegments; ++i) nInfo += file->pSegments[i].lType == kSegPageInformation;
  file->nPages = 0;
  file->pPages = Checked(static_cast<JB2PAGE*>(std::calloc(nInfo ? nInfo : 1, sizeof(JB2PAGE))));
  std::unordered_map<uint32_t, std::vector<uint32_t>> pagesByNumber;
  for (uint32_t i = 0; i < file->nSegments; ++i) {
    SEGMENT_HEADER* seg = &file->pSegments[i];
    if (seg->lType != kSegPageInformation) continue;
    JB2PAGE* page = &file->pPages[file->nPages];
    if (seg->lDataLength < kPageSizeBytes) {
      // A file cut short in the page's width or height: the page has no
      // size, and none of its regions can follow.
      PrintErrorRef("Page Information Cut Short: No Page", seg->lNumber);
      continue;
    }
    seg->pPageInfo = &page->Info;
    DecodePageSegment(seg);
    page->lPageNumber = seg->lPage;
    page->pFile = file;
    if (seg->lPage == 0) PrintWarning("Cannot have a Page #0");
    pagesByNumber[seg->lPage].push_back(file->nPages);
    ++file->nPages;
  }

  // Segments go to every page that carries their page number, in file order.
  // Pages sharing a number share segments; their total is capped.
  std::vector<std::vector<SEGMENT_HEADER*>> lists(file->nPages);
  uint64_t links = 0;
  bool reported = false;
  for (uint32_t i = 0; i < file->nSegments; ++i) {
    SEGMENT_HEADER* seg = &file->pSegments[i];
    auto it = pagesByNumber.find(seg->lPage);
    if (it == pagesByNumber.end()) continue;
    for (uint32_t p : it->second) {
      if (links == kMaxPageSegmentLinks) {
        if (!reported) PrintError("Too Many Segments on Pages with the Same Number");
        reported = true;
        break;
      }
      ++links;
      lists[p].push_back(seg);
      seg->pPageBitmap = &file->pPages[p].Bitmap;
      seg->pPageInfo = &file->pPages[p].Info;
    }
  }
  for (uint32_t p = 0; p < file->nPages; ++p) {
    JB2PAGE* page = &file->pPages[p];
    page->nSegments = static_cast<uint32_t>(lists[p].size());
    page->ppSegments = Checked(static_cast<SEGMENT_HEADER**>(std::calloc(page->nSegments ? page->nSegments : 1,
                                                                 sizeof(SEGMENT_HEADER*))));
    if (page->nSegments) std::memcpy(page->ppSegments, lists[p].data(), page->nSegments * sizeof(SEGMENT_HEADER*));
  }
}

// Reads every segment header (and, in the random-access organisation, first
// all headers and then all data parts).
void ReadSegments(JB2FILE* file, DECODER* reader, bool sequential) {
  unsigned long capacity = kInitialSegmentRoom;
  bool reportedShortData = false;
  auto readOne = [&]() -> bool {
    if (file->nSegments == kMaxSegments) {
      PrintError("Too Many Segments");
      return false;
    }
    uint32_t before = file->nSegments;
    ReadSegmentHeader(reader, &file->pSegments, &file->nSegments, &capacity);
    return file->nSegments != before;
  };
  if (sequential) {
    // T.88 D.2: each header is followed by its data. Segments after an
    // end-of-file segment are read like any other while bytes remain.
    while (!DecodeEOS(reader)) {
      if (!readOne()) break;
      TakeSegmentData(reader, &file->pSegments[file->nSegments - 1], &reportedShortData);
    }
    return;
  }
  bool sawEnd = false;
  DataTally tally;
  while (!DecodeEOS(reader) && !tally.FillsRest(BytesLeft(reader))) {
    if (!readOne()) break;
    tally.Add(file->pSegments[file->nSegments - 1]);
    if (file->pSegments[file->nSegments - 1].lType == kSegEndOfFile) {
      sawEnd = true;
      break;
    }
  }
  if (!sawEnd) PrintError("Missing End of File Segment");
  for (uint32_t i = 0; i < file->nSegments; ++i) TakeSegmentData(reader, &file->pSegments[i], &reportedShortData);
}

}  // namespace

void ReadSegmentHeader(DECODER* reader, SEGMENT_HEADER** segments, uint32_t* count, unsigned long* capacity) {
  SegmentHeaderFields h;
  const SegmentHeaderStatus status = ReadSegmentHeaderFields(DecoderPtr(reader), BytesLeft(reader), &h);
  DecSkipBytes(reader, static_cast<long>(h.size));
  if (status == SegmentHeaderStatus::kTooManyReferred) {
    PrintErrorRef("Too Many Referred-To Segments", h.number);
    return;
  }
  if (status != SegmentHeaderStatus::kOk) {
    PrintError("Segment Header past the End of the File");
    return;
  }

  if (*count == *capacity) ReSizeArray(reinterpret_cast<void**>(segments), sizeof(SEGMENT_HEADER), capacity);
  SEGMENT_HEADER* seg = &(*segments)[*count];
  std::memset(seg, 0, sizeof *seg);
  seg->lNumber = h.number;
  seg->lType = h.Type();
  seg->bDeferredNonRetain = h.DeferredNonRetain();
  seg->nReferred = h.referredCount;
  if (h.referredCount) {
    seg->pReferredNumbers = static_cast<uint32_t*>(std::calloc(h.referredCount, sizeof(uint32_t)));
    seg->pReferredRetain = static_cast<uint8_t*>(std::calloc(h.referredCount, sizeof(uint8_t)));
    if (!seg->pReferredNumbers || !seg->pReferredRetain) {
      std::free(seg->pReferredNumbers);
      std::free(seg->pReferredRetain);
      seg->pReferredNumbers = nullptr;
      seg->pReferredRetain = nullptr;
      throw std::bad_alloc();
    }
  }
  seg->bRetain = h.Retain();
  for (uint32_t j = 0; j < h.referredCount; ++j) {
    seg->pReferredRetain[j] = h.ReferredRetain(j);
    seg->pReferredNumbers[j] = h.Referred(j);
  }
  seg->lPage = h.page;
  seg->lDataLength = h.dataLength;
  if (seg->lDataLength == kUnknownDataLength) seg->bUnknownLength = 1;
  ++*count;
}

void SkipUnknownSegmentLength(DECODER* reader) {
  // T.88 7.2.7: only an immediate generic region may leave its length
  // unknown; its data ends with 0x00 0x00 (MMR) or 0xFF 0xAC (arithmetic)
  // followed by the 32-bit row count. A segment too short for its fixed
  // fields, or without the marker, leaves the reader at the end of the data.
  if (BytesLeft(reader) < kRegionInfoSize + 1) {
    DecSkipBytes(reader, static_cast<long>(BytesLeft(reader)));
    return;
  }
  DecSkipBytes(reader, kRegionInfoSize);
  uint32_t flags = ReadByte(reader);
  bool mmr = flags & 1;
  if (!mmr) {
    uint64_t at = ((flags >> 1) & 3) == 0 ? 8 : 2;
    if (BytesLeft(reader) < at) {
      DecSkipBytes(reader, static_cast<long>(BytesLeft(reader)));
      return;
    }
    DecSkipBytes(reader, static_cast<long>(at));
  }
  uint32_t marker = mmr ? 0x0000 : 0xFFAC;
  uint32_t window = 0x1111;
  while (!DecodeEOS(reader)) {
    window = ((window << 8) | ReadByte(reader)) & 0xFFFF;
    if (window == marker) return;
  }
}

void DecodePageSegment(SEGMENT_HEADER* seg) {
  // T.88 7.4.8. A segment shorter than 19 bytes (a file cut short) reads its
  // missing bytes as 0: no resolution, no flags, no striping, rather than
  // flags it never carried.
  unsigned char bytes[kPageInfoBytes] = {};
  if (seg->pDataStart) std::memcpy(bytes, seg->pDataStart, std::min(seg->lDataLength, kPageInfoBytes));
  DECODER reader;
  InitDecoder(&reader, bytes, kPageInfoBytes);
  PAGE_INFO* info = seg->pPageInfo;
  info->lWidth = ReadU32(&reader);
  info->lHeight = ReadU32(&reader);
  info->lXResolution = ReadU32(&reader);
  info->lYResolution = ReadU32(&reader);
  uint32_t flags = ReadByte(&reader);
  info->bLossless = flags & 1;
  info->bRefinements = (flags >> 1) & 1;
  info->lDefaultPixel = (flags >> 2) & 1;
  info->lCombOp = (flags >> 3) & 3;
  info->bAuxBuffers = (flags >> 5) & 1;
  info->bCombOpOverride = (flags >> 6) & 1;
  uint32_t striping = DecodeBits(&reader, 16);
  info->bStriped = (striping >> 15) & 1;
  info->lMaxStripeSize = striping & 0x7FFF;
  if (info->lHeight == 0xFFFFFFFFu && !info->bStriped) PrintWarning("Unknown Height Requires Stripe");
}

void BuildSegmentTree(SEGMENT_HEADER* segments, uint32_t count) {
  // Referred-to segments must come earlier in the file (T.88 7.2.5); the
  // first earlier segment with the number is the target.
  std::unordered_map<uint32_t, uint32_t> firstIndex;
  firstIndex.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    SEGMENT_HEADER* seg = &segments[i];
    seg->nSymbolDicts = seg->nTables = 0;
    seg->bHasRegionRef = seg->bHasPatternDict = 0;
    seg->pRegionRef = seg->pPatternDict = nullptr;
    if (seg->nReferred) {
      seg->ppSymbolDicts = Checked(static_cast<SEGMENT_HEADER**>(std::calloc(seg->nReferred, sizeof(SEGMENT_HEADER*))));
      seg->ppTables = Checked(static_cast<SEGMENT_HEADER**>(std::calloc(seg->nReferred, sizeof(SEGMENT_HEADER*))));
    }
    for (uint32_t j = 0; j < seg->nReferred; ++j) {
      auto it = firstIndex.find(seg->pReferredNumbers[j]);
      if (it == firstIndex.end()) {
        // The reference has no target and is never followed.
        PrintErrorRef("Segment Refers to Unknown Segment ", seg->lNumber);
        continue;
      }
      SEGMENT_HEADER* ref = &segments[it->second];
      if (ref->lPage != seg->lPage && ref->lPage != 0)
        PrintWarningRef("Segment Refers to Segment on Different Page ", seg->lNumber);
      switch (ref->lType) {
        case kSegSymbolDictionary:
          seg->ppSymbolDicts[seg->nSymbolDicts++] = ref;
          break;
        case kSegTables:
          seg->ppTables[seg->nTables++] = ref;
          break;
        case kSegIntermediateTextRegion:
        case kSegIntermediateHalftoneRegion:
        case kSegIntermediateGenericRegion:
        case kSegIntermediateRefinementRegion:
          if (!seg->bHasRegionRef) {
            seg->bHasRegionRef = 1;
            seg->pRegionRef = ref;
          } else {
            PrintErrorRef("Segment Refers to More than One Intermediate Segment", seg->lNumber);
          }
          break;
        case kSegPatternDictionary:
          if (!seg->bHasPatternDict) {
            seg->bHasPatternDict = 1;
            seg->pPatternDict = ref;
          } else {
            PrintErrorRef("Segment Refers to More than One Halftone Dictionary ", seg->lNumber);
          }
          break;
        default:
          PrintWarningRef("Ignored: Segment Refers to Unused Segment", seg->lNumber);
          break;
      }
    }
    firstIndex.emplace(seg->lNumber, i);
  }
}

void ReleaseSegmentResults(SEGMENT_HEADER* seg) {
  if (seg->pSymbols) {
    for (uint32_t k = 0; k < seg->nSymbols; ++k) DestroyBMP(&seg->pSymbols[k]);
    std::free(seg->pSymbols);
    seg->pSymbols = nullptr;
  }
  seg->nSymbols = 0;
  if (seg->bSavedContexts) {
    DestroyMQBuffer(&seg->SavedContexts[0]);
    DestroyMQBuffer(&seg->SavedContexts[1]);
    seg->bSavedContexts = 0;
  }
  if (seg->pPatterns) {
    for (uint32_t k = 0; k < seg->nPatterns; ++k) DestroyBMP(&seg->pPatterns[k]);
    std::free(seg->pPatterns);
    seg->pPatterns = nullptr;
  }
  seg->nPatterns = 0;
  seg->lPatternWidth = seg->lPatternHeight = 0;
  ReleaseTableSegment(seg);
}

void FreeSegmentHeader(SEGMENT_HEADER* seg) {
  std::free(seg->pReferredRetain);
  std::free(seg->pReferredNumbers);
  std::free(seg->ppSymbolDicts);
  std::free(seg->ppTables);
  seg->pReferredRetain = nullptr;
  seg->pReferredNumbers = nullptr;
  seg->ppSymbolDicts = seg->ppTables = nullptr;
  ReleaseSegmentResults(seg);
  if (seg->Bitmap.pData) {
    if (IsIntermediateRegion(seg->lType)) PrintWarning("Intermediate Region was not used\n");
    DestroyBMP(&seg->Bitmap);
  }
}

namespace {

int ParseFile(JB2FILE* file, jb2msg::CallScope& messages);

// Marks the segments that a segment of another page refers to (see
// JB2CONTEXT::referredFromOtherPage).
void MarkReferredFromOtherPages(JB2FILE* file) {
  std::vector<uint8_t>& marks = file->pContext->referredFromOtherPage;
  marks.assign(file->nSegments, 0);
  auto mark = [&](const SEGMENT_HEADER* seg, const SEGMENT_HEADER* target) {
    if (target && target->lPage != seg->lPage) marks[static_cast<size_t>(target - file->pSegments)] = 1;
  };
  for (uint32_t i = 0; i < file->nSegments; ++i) {
    const SEGMENT_HEADER* seg = &file->pSegments[i];
    for (uint32_t j = 0; j < seg->nSymbolDicts; ++j) mark(seg, seg->ppSymbolDicts[j]);
    for (uint32_t j = 0; j < seg->nTables; ++j) mark(seg, seg->ppTables[j]);
    mark(seg, seg->pRegionRef);
    mark(seg, seg->pPatternDict);
  }
}

}  // namespace

int JB2ParseFile(JB2FILE* file) noexcept {
  jb2msg::CallScope messages;
  try {
    return ParseFile(file, messages);
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory");
    JB2FreeFile(file);
    return 2;
  }
}

namespace {

int ParseFile(JB2FILE* file, jb2msg::CallScope& messages) {
  const unsigned char* data = file->pFileData;
  unsigned long size = file->lFileSize;
  std::memset(file, 0, sizeof *file);
  file->pFileData = data;
  file->lFileSize = size;
  file->lMaxBitmapPixels = kMaxBitmapPixels;

  DECODER reader;
  InitDecoder(&reader, data, size);
  unsigned char id[kFileIdLength];
  for (unsigned char& b : id) b = static_cast<unsigned char>(ReadByte(&reader));
  if (!ValidFileHeader(id)) {
    PrintError("Invalid File Header");
    return 1;
  }
  uint32_t flags = ReadByte(&reader);
  if (!(flags & kFileFlagPagesUnknown)) (void)ReadU32(&reader);  // number of pages, not used

  file->pSegments = Checked(static_cast<SEGMENT_HEADER*>(std::calloc(kInitialSegmentRoom, sizeof(SEGMENT_HEADER))));
  ReadSegments(file, &reader, flags & kFileFlagSequential);

  MQSetInFunction(&file->MQ, MQMainIn, &file->Input);
  CreateMQBuffer(&file->Contexts[0], 65536);
  CreateMQBuffer(&file->Contexts[1], 65536);
  for (const MQBUFFER& store : file->Contexts)
    if (!store.pIndex || !store.pMPS) throw std::bad_alloc();
  InitializeMMR(&file->MMR);
  InitializeHuffStandard(file->HuffStandard);
  InitDecoder(&file->Input, data, 0);
  file->pContext = new JB2CONTEXT;
  for (uint32_t i = 0; i < file->nSegments; ++i) file->pSegments[i].pInput = &file->Input;
  CreatePages(file);
  BuildSegmentTree(file->pSegments, file->nSegments);
  MarkReferredFromOtherPages(file);
  file->nParseErrors = static_cast<uint32_t>(std::min<uint64_t>(messages.Errors(), UINT32_MAX));
  return 0;
}

}  // namespace

void JB2FreeFile(JB2FILE* file) noexcept {
  for (MQBUFFER& store : file->Contexts)
    if (store.pIndex || store.pMPS) DestroyMQBuffer(&store);
  if (file->MMR.pWhite || file->MMR.pBlack || file->MMR.pMode) FreeMMR(&file->MMR);
  if (file->HuffStandard[0].pDef || file->HuffStandard[0].pTree) FreeHuffStandard(file->HuffStandard);
  for (uint32_t i = 0; i < file->nSegments; ++i) FreeSegmentHeader(&file->pSegments[i]);
  for (uint32_t p = 0; p < file->nPages; ++p) std::free(file->pPages[p].ppSegments);
  std::free(file->pSegments);
  std::free(file->pPages);
  file->pSegments = nullptr;
  file->pPages = nullptr;
  delete file->pContext;
  file->pContext = nullptr;
  file->nSegments = file->nPages = 0;
  file->Contexts[0] = file->Contexts[1] = MQBUFFER{};
  file->MMR = MMRTREES{};
  for (HUFFTABLE& t : file->HuffStandard) t = HUFFTABLE{};
}
