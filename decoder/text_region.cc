// Text region decoding (T.88 6.4) and text region segments (T.88 7.4.3):
// strips of symbol instances taken from the referred symbol dictionaries,
// placed from any reference corner, optionally transposed and refined, with
// Huffman coding (standard, user-supplied and the run-coded symbol ID table
// of 7.4.3.1.7) or arithmetic coding. Also the symbol list, GetSymbol and the
// Huffman table choice that symbol dictionaries share.
#include "decoder/text_region.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/region_frame.h"
#include "decoder/segment_types.h"
#include "kernels/context_template.h"

using jb2dec::TextWork;

namespace {

enum RefCorner : uint32_t { kBottomLeft = 0, kTopLeft = 1, kBottomRight = 2, kTopRight = 3 };

// Positions along a strip and across strips are sums of 32-bit values over a
// bounded number of instances; they are held in 64 bits and kept within
// +-2^40, far outside any bitmap (2^32 at most), so that no sum overflows.
constexpr int64_t kMaxCoordinate = int64_t{1} << 40;
int64_t ClampCoordinate(int64_t v) { return std::clamp(v, -kMaxCoordinate, kMaxCoordinate); }

// The run codes of T.88 Table 29.
constexpr int kNumRunCodes = 35;
constexpr long kRunRepeatPrevious = 32;
constexpr long kRunZerosShort = 33;
constexpr long kRunZerosLong = 34;

// One number of the text region procedure: from its Huffman table or its
// integer arithmetic decoding procedure. An out-of-band value sets *oob; where
// none may occur (no oob given) it reads as 0, as both decoders return it.
int32_t ReadNumber(JB2FILE* file, TEXT_PARAMS* p, HUFFTABLE* table, int proc, int* oob = nullptr) {
  int isOOB = 0;
  int32_t value;
  if (p->bHuff) {
    value = DecodeHuff(p->pInput, table, &isOOB);
  } else {
    value = MQDecodeInt(&file->Integers.Proc[proc], &isOOB);
  }
  if (oob) *oob = isOOB;
  return value;
}

// The pixels of a w x h bitmap at (x, y) that lie inside `out`, plus its
// rows there: the work of placing it.
uint64_t PlacementCost(const BMP* out, int64_t x, int64_t y, int64_t w, int64_t h) {
  const int64_t cols = std::min<int64_t>(x + w, out->lWidth) - std::max<int64_t>(x, 0);
  const int64_t rows = std::min<int64_t>(y + h, out->lHeight) - std::max<int64_t>(y, 0);
  if (cols <= 0 || rows <= 0) return 0;
  return static_cast<uint64_t>(rows) * (static_cast<uint64_t>(cols) + 1);
}

// T.88 6.4.11: the refined instance bitmap IB, decoded against IBO.
[[nodiscard]] bool DecodeRefinedInstance(JB2FILE* file, TEXT_PARAMS* p, BMP* ibo, BMP* ib) {
  const int32_t rdw = ReadNumber(file, p, p->pTableRDW, kIARDW);
  const int32_t rdh = ReadNumber(file, p, p->pTableRDH, kIARDH);
  const int32_t rdx = ReadNumber(file, p, p->pTableRDX, kIARDX);
  const int32_t rdy = ReadNumber(file, p, p->pTableRDY, kIARDY);
  const int32_t rsize = p->bHuff ? ReadNumber(file, p, p->pTableRSize, 0) : 0;
  const int64_t width = int64_t{ibo->lWidth} + rdw, height = int64_t{ibo->lHeight} + rdh;
  if (width < 0 || height < 0) {
    PrintErrorRef("Negative Size of a Refined Symbol Instance", p->lSegmentNumber);
    return false;
  }
  if (!p->pWork->AddPixels(static_cast<uint64_t>(width) * static_cast<uint64_t>(height + 1))) return false;
  if (!CreateCheckedBMP(file, ib, static_cast<uint64_t>(width), static_cast<uint64_t>(height), 0))
    return false;
  // T.88 Table 12: GRREFERENCEDX = floor(RDW / 2) + RDX, likewise for Y; the
  // halving rounds toward minus infinity.
  REFINEMENT_PARAMS rp = SymbolRefinementParams(p->pInput, p->lRTemplate, p->lRATX, p->lRATY, ibo,
                                                static_cast<long>((int64_t{rdw} >> 1) + rdx),
                                                static_cast<long>((int64_t{rdh} >> 1) + rdy));
  if (p->bHuff) DecodeSizedRefinement(file, &rp, ib, static_cast<uint32_t>(rsize));
  else DecodeRefinementRegion(file, &rp, ib);
  return true;
}

// T.88 7.4.3.1.7: the symbol ID Huffman table. Fills `tree` (owned by the
// caller) and returns false after a message when the table is damaged.
[[nodiscard]] bool DecodeSymbolIdTable(DECODER* input, uint32_t numSymbols, HUFFNODE** tree, uint32_t segNumber) {
  unsigned long runPrefLen[kNumRunCodes], runCode[kNumRunCodes];
  bool anyRunCode = false;
  for (int i = 0; i < kNumRunCodes; ++i) {
    runPrefLen[i] = DecodeBits(input, 4);
    anyRunCode |= runPrefLen[i] != 0;
  }
  if (!anyRunCode) {
    PrintErrorRef("Symbol ID Table without Run Codes", segNumber);
    return false;
  }
  HuffGetPrefCodes(runPrefLen, runCode, kNumRunCodes);
  HUFFNODE* runTree = nullptr;
  BuildHuffTree(&runTree, runCode, runPrefLen, kNumRunCodes);

  std::vector<unsigned long> prefLen(numSymbols, 0);
  bool ok = true;
  for (uint32_t i = 0; i < numSymbols && ok;) {
    if (input->nPastEnd > kMaxPastEndBytes) {
      PrintErrorRef("Symbol ID Table Data Exhausted", segNumber);
      ok = false;
      break;
    }
    const long runCode = DecodeHuffTree(input, runTree);
    unsigned long length = 0;
    uint32_t count = 1;
    if (runCode < kRunRepeatPrevious) {
      length = static_cast<unsigned long>(runCode);
    } else if (runCode == kRunRepeatPrevious) {
      // There is no previous length to repeat before the first symbol.
      if (i == 0) {
        PrintErrorRef("Symbol ID Table Repeats a Length before the First", segNumber);
        ok = false;
        break;
      }
      length = prefLen[i - 1];
      count = 3 + DecodeBits(input, 2);
    } else if (runCode == kRunZerosShort) {
      count = 3 + DecodeBits(input, 3);
    } else {
      count = 11 + DecodeBits(input, 7);
    }
    if (count > numSymbols - i) {
      // A run may not set lengths beyond the last symbol: it is cut there.
      PrintWarningRef("Symbol ID Table Run past the Last Symbol", segNumber);
      count = numSymbols - i;
    }
    std::fill_n(prefLen.begin() + i, count, length);
    i += count;
  }
  FreeHuffTree(runTree);
  if (!ok) return false;
  DecodeFlush(input);
  std::vector<unsigned long> codes(numSymbols);
  HuffGetPrefCodes(prefLen.data(), codes.data(), numSymbols);
  BuildHuffTree(tree, codes.data(), prefLen.data(), numSymbols);
  return true;
}

}  // namespace

REFINEMENT_PARAMS SymbolRefinementParams(DECODER* input, uint32_t templ, const long* ratx, const long* raty, BMP* ref,
                                         long dx, long dy) {
  REFINEMENT_PARAMS rp{};
  rp.pInput = input;
  rp.lTemplate = templ;
  rp.pReference = ref;
  rp.lDX = dx;
  rp.lDY = dy;
  rp.bTPGRON = 0;
  for (int k = 0; k < 2; ++k) {
    rp.lATX[k] = ratx[k];
    rp.lATY[k] = raty[k];
  }
  return rp;
}

uint32_t SymbolIdCodeLength(uint64_t count) {
  uint32_t k = 0;
  while (count > 1 && ((count - 1) >> k) != 0) ++k;
  return k;
}

void BuildSymbolList(SYMBOL_LIST* list, SEGMENT_HEADER* seg) {
  *list = SYMBOL_LIST{};
  uint64_t total = 0;
  for (uint32_t i = 0; i < seg->nSymbolDicts; ++i) total += seg->ppSymbolDicts[i]->nSymbols;
  if (total > kMaxSymbols) {
    PrintErrorRef("Too Many Symbols in the Referred Dictionaries", seg->lNumber);
    list->bTooMany = 1;
    return;
  }
  // One spare entry for the symbols a dictionary decodes (AppendSymbolSet).
  list->pDicts = Checked(static_cast<SYMBOL_SET*>(std::calloc(seg->nSymbolDicts + 1, sizeof(SYMBOL_SET))));
  list->pFirst = static_cast<uint32_t*>(std::calloc(seg->nSymbolDicts + 1, sizeof(uint32_t)));
  if (!list->pFirst) {
    std::free(list->pDicts);
    list->pDicts = nullptr;
    throw std::bad_alloc();
  }
  for (uint32_t i = 0; i < seg->nSymbolDicts; ++i) {
    const SEGMENT_HEADER* dict = seg->ppSymbolDicts[i];
    list->pDicts[i] = SYMBOL_SET{dict->nSymbols, dict->pSymbols};
    list->pFirst[i] = list->nSymbols;
    list->nSymbols += dict->nSymbols;
  }
  list->nDicts = seg->nSymbolDicts;
}

void AppendSymbolSet(SYMBOL_LIST* list) {
  list->pFirst[list->nDicts] = list->nSymbols;
  list->pDicts[list->nDicts] = SYMBOL_SET{0, nullptr};
  ++list->nDicts;
}

void SetLastSymbolSet(SYMBOL_LIST* list, uint32_t count, BMP* symbols) {
  SYMBOL_SET* last = &list->pDicts[list->nDicts - 1];
  list->nSymbols = list->pFirst[list->nDicts - 1] + count;
  *last = SYMBOL_SET{count, symbols};
}

void FreeSymbolList(SYMBOL_LIST* list) {
  std::free(list->pDicts);
  std::free(list->pFirst);
  *list = SYMBOL_LIST{};
}

BMP* GetSymbol(SYMBOL_LIST* list, uint32_t id) {
  if (id >= list->nSymbols) {
    PrintErrorRef("Reference Symbol ID Too Large", static_cast<long>(id));
    return nullptr;
  }
  // The last entry whose first number is at most id; empty entries share
  // their first number with the next one, so the search skips them.
  uint32_t* end = list->pFirst + list->nDicts;
  const uint32_t entry = static_cast<uint32_t>(std::upper_bound(list->pFirst, end, id) - list->pFirst) - 1;
  return &list->pDicts[entry].pSymbols[id - list->pFirst[entry]];
}

void ChooseHuffTable(HUFFTABLE* standard, HUFFTABLE** table, uint32_t selection, uint32_t customValue, int t0,
                     int t1, int t2, SEGMENT_HEADER* seg, uint32_t* nextCustom) {
  const int choices[3] = {t0, t1, t2};
  if (selection < 3 && choices[selection] != 0) {
    *table = &standard[choices[selection] - 1];
    return;
  }
  if (selection != customValue) {
    PrintError("Invalid Setting for a Huffman Table, using default");
    *table = &standard[t0 - 1];
    return;
  }
  *table = nullptr;
  if (*nextCustom < seg->nTables) {
    SEGMENT_HEADER* tables = seg->ppTables[(*nextCustom)++];
    // A table segment whose table could not be decoded supplies none.
    if (tables->Table.pTree) *table = &tables->Table;
  }
  if (!*table) PrintError("No Custom Table Available");
}

void DecodeSizedRefinement(JB2FILE* file, REFINEMENT_PARAMS* params, BMP* out, uint32_t size) {
  // The refinement's arithmetic code occupies exactly `size` bytes (T.88
  // 6.4.11 step 7). It is decoded by a reader of its own over a copy that
  // ends in the 0xFF 0xAC marker, so a code whose final marker was left out
  // reads 0xFF bytes (T.88 E.3.4) instead of the data that follows, and the
  // region's reader goes on exactly after it.
  DECODER* input = params->pInput;
  DecodeFlush(input);
  const auto available = static_cast<uint64_t>(input->pEnd - input->pCur);
  const uint64_t taken = std::min<uint64_t>(size, available);
  std::vector<unsigned char> chunk(input->pCur, input->pCur + taken);
  chunk.push_back(0xFF);
  chunk.push_back(0xAC);
  DECODER reader;
  InitDecoder(&reader, chunk.data(), chunk.size());
  REFINEMENT_PARAMS own = *params;
  own.pInput = &reader;
  // The arithmetic decoder reads the copy, then the region's data again.
  MQSetInFunction(&file->MQ, MQMainIn, &reader);
  ScopeExit back([file, input] { MQSetInFunction(&file->MQ, MQMainIn, input); });
  MQInitDec(&file->MQ);
  DecodeRefinementRegion(file, &own, out);
  DecodeFlush(&reader);
  const auto used = static_cast<uint64_t>(reader.pCur - chunk.data());
  if (used > size) PrintWarning("Too many bits in Refinement");
  else if (size - used > 1) PrintWarning("Skipping bits in Refinement");
  DecSkipBytes(input, static_cast<long>(taken));
}

bool DecodeTextRegion(JB2FILE* file, TEXT_PARAMS* p, BMP* out) {
  DECODER* input = p->pInput;
  TextWork ownWork(p->lSegmentNumber, uint64_t{out->lWidth} * out->lHeight);
  TEXT_PARAMS params = *p;
  if (!params.pWork) params.pWork = &ownWork;
  p = &params;
  TextWork* work = p->pWork;
  const uint32_t strips = p->nStrips;
  const int logStrips = strips >= 8 ? 3 : strips >= 4 ? 2 : strips >= 2 ? 1 : 0;

  // T.88 6.4.5 steps 1 and 2.
  int64_t stripT = -int64_t{ReadNumber(file, p, p->pTableDT, kIADT)} * strips;
  int64_t firstS = 0;
  uint64_t numInstances = 0;

  // Step 3: strips until SBNUMINSTANCES instances are decoded.
  while (numInstances < p->nInstances) {
    const int32_t dt = ReadNumber(file, p, p->pTableDT, kIADT);
    const int32_t dfs = ReadNumber(file, p, p->pTableFS, kIAFS);
    stripT = ClampCoordinate(stripT + int64_t{dt} * strips);
    firstS = ClampCoordinate(firstS + dfs);
    int64_t curS = firstS;
    for (bool first = true;; first = false) {
      if (!first) {
        // T.88 6.4.8: OOB ends the strip.
        int oob;
        const int32_t ids = ReadNumber(file, p, p->pTableDS, kIADS, &oob);
        if (oob) break;
        curS = ClampCoordinate(curS + ids + p->lDSOffset);
      }
      // A valid strip ends (OOB) once SBNUMINSTANCES instances are decoded.
      if (numInstances >= p->nInstances) {
        PrintErrorRef("More Symbol Instances than Declared: Decoding Stopped", p->lSegmentNumber);
        return false;
      }
      // Huffman data that has run out is damaged (a valid code never reads
      // past its segment), unlike arithmetic data, which reads 1-bits.
      if (p->bHuff && input->nPastEnd > kMaxPastEndBytes) {
        PrintErrorRef("Region Data Exhausted: Decoding Stopped", p->lSegmentNumber);
        return false;
      }
      if (!work->AddInstance()) return false;

      // T.88 6.4.9 and 6.4.10.
      int32_t curT = 0;
      if (strips > 1) {
        if (p->bHuff) curT = static_cast<int32_t>(DecodeBits(input, logStrips));
        else curT = ReadNumber(file, p, nullptr, kIAIT);
      }
      const int64_t t = ClampCoordinate(stripT + curT);
      uint32_t id;
      if (!p->bHuff) id = static_cast<uint32_t>(MQDecodeInt(&file->Integers.Proc[kIAID], nullptr));
      else if (p->pSymbolCodes) id = static_cast<uint32_t>(DecodeHuffTree(input, p->pSymbolCodes));
      else id = DecodeBits(input, static_cast<int>(p->lSymCodeLen));

      // T.88 6.4.11.
      int32_t ri = 0;
      if (p->bRefine) {
        if (p->bHuff) ri = static_cast<int32_t>(DecodeBits(input, 1));
        else ri = ReadNumber(file, p, nullptr, kIARI);
      }
      // Without its symbol the instance (and, when refined, its data) cannot
      // be decoded, and nothing after it can be trusted: the region ends.
      BMP* ibo = GetSymbol(&p->Symbols, id);
      if (!ibo) return false;
      BMP refined{};
      BMP* ib = ibo;
      if (ri) {
        if (!DecodeRefinedInstance(file, p, ibo, &refined)) {
          DestroyBMP(&refined);
          return false;
        }
        ib = &refined;
      }

      // Steps 3c vi to x.
      const int64_t w = ib->lWidth, h = ib->lHeight;
      const bool rightCorner = p->lRefCorner == kTopRight || p->lRefCorner == kBottomRight;
      const bool bottomCorner = p->lRefCorner == kBottomLeft || p->lRefCorner == kBottomRight;
      if (!p->bTransposed && rightCorner) curS += w - 1;
      if (p->bTransposed && bottomCorner) curS += h - 1;
      const int64_t s = curS;
      int64_t x = p->bTransposed ? t : s;
      int64_t y = p->bTransposed ? s : t;
      if (rightCorner) x -= w - 1;
      if (bottomCorner) y -= h - 1;
      if (!work->AddPixels(PlacementCost(out, x, y, w, h))) {
        if (ri) DestroyBMP(&refined);
        return false;
      }
      CombineBMP(out, ib, static_cast<long>(x), static_cast<long>(y), static_cast<int>(p->lCombOp));
      if (!p->bTransposed && !rightCorner) curS += w - 1;
      if (p->bTransposed && !bottomCorner) curS += h - 1;
      if (ri) DestroyBMP(&refined);
      ++numInstances;
    }
  }
  return true;
}

void DecodeSymbolRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input) {
  // Instances are painted on a region that starts white, so a region the
  // page would receive unchanged is painted on the page itself.
  BMP pageView{};
  if (!BeginRegionSegment(file, seg, input, kRegionDrawn, &pageView)) return;
  TEXT_PARAMS p{};
  p.pInput = input;
  p.lSegmentNumber = seg->lNumber;
  BuildSymbolList(&p.Symbols, seg);
  ScopeExit freeList([&] { FreeSymbolList(&p.Symbols); });

  // T.88 7.4.3.1.1.
  const uint32_t flags = DecodeBits(input, 16);
  p.bHuff = flags & 1;
  p.bRefine = (flags >> 1) & 1;
  p.nStrips = 1u << ((flags >> 2) & 3);
  p.lRefCorner = (flags >> 4) & 3;
  p.bTransposed = (flags >> 6) & 1;
  p.lCombOp = (flags >> 7) & 3;
  p.lDefaultPixel = (flags >> 9) & 1;
  p.lDSOffset = static_cast<int32_t>((flags >> 10) & 0x1F);
  if (p.lDSOffset >= 16) p.lDSOffset -= 32;
  p.lRTemplate = (flags >> 15) & 1;
  if (p.lDefaultPixel) {
    // A black background is not what the page rows hold: paint a region.
    if (pageView.pData) {
      pageView = BMP{};
      (void)CreateCheckedBMP(file, &seg->Bitmap, seg->Region.lWidth, seg->Region.lHeight, 0);
    }
    InvertBMP(&seg->Bitmap);
  }

  bool ok = !p.Symbols.bTooMany && (pageView.pData || seg->Bitmap.pData);
  if (p.bHuff) {
    // T.88 7.4.3.1.2 and 7.4.3.1.6: user-supplied tables in this order.
    const uint32_t hflags = DecodeBits(input, 16);
    HUFFTABLE* standard = file->HuffStandard;
    uint32_t next = 0;
    ChooseHuffTable(standard, &p.pTableFS, hflags & 3, 3, 6, 7, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableDS, (hflags >> 2) & 3, 3, 8, 9, 10, seg, &next);
    ChooseHuffTable(standard, &p.pTableDT, (hflags >> 4) & 3, 3, 11, 12, 13, seg, &next);
    ChooseHuffTable(standard, &p.pTableRDW, (hflags >> 6) & 3, 3, 14, 15, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableRDH, (hflags >> 8) & 3, 3, 14, 15, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableRDX, (hflags >> 10) & 3, 3, 14, 15, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableRDY, (hflags >> 12) & 3, 3, 14, 15, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableRSize, (hflags >> 14) & 1, 1, 1, 0, 0, seg, &next);
    // A number without a table cannot be decoded; the refinement tables are
    // only needed when instances may be refined.
    ok = ok && p.pTableFS && p.pTableDS && p.pTableDT;
    ok = ok && (!p.bRefine || (p.pTableRDW && p.pTableRDH && p.pTableRDX && p.pTableRDY && p.pTableRSize));
  }
  if (p.bRefine && p.lRTemplate == 0) {
    // T.88 7.4.3.1.3.
    for (int k = 0; k < 2; ++k) {
      p.lRATX[k] = static_cast<int8_t>(DecodeBits(input, 8));
      p.lRATY[k] = static_cast<int8_t>(DecodeBits(input, 8));
    }
  }
  p.nInstances = DecodeBits(input, 32);
  if (ok && p.nInstances > kMaxTextInstances) {
    PrintErrorRef("Too Many Symbol Instances", seg->lNumber);
    ok = false;
  }

  const uint32_t numSymbols = p.Symbols.nSymbols;
  HUFFNODE* symbolTree = nullptr;
  ScopeExit freeTree([&] { FreeHuffTree(symbolTree); });
  if (ok && p.bHuff) {
    ok = DecodeSymbolIdTable(input, numSymbols, &symbolTree, seg->lNumber);
    p.pSymbolCodes = symbolTree;
  }
  if (ok) {
    p.lSymCodeLen = SymbolIdCodeLength(numSymbols);
    if (!p.bHuff) {
      CreateMQInt(&file->Integers, p.lSymCodeLen, &file->MQ);
      MQInitDec(&file->MQ);
    }
    ScopeExit freeIntegers([&] {
      if (!p.bHuff) DestroyMQInt(&file->Integers);
    });
    // Instances are refined with the refinement contexts only.
    if (p.bRefine) ResetMQBuffer(&file->Contexts[1], RefinementContextCount(p.lRTemplate));
    TextWork work(seg->lNumber, uint64_t{seg->Region.lWidth} * seg->Region.lHeight);
    p.pWork = &work;
    // A region whose decoding stops keeps what it has drawn.
    (void)DecodeTextRegion(file, &p, pageView.pData ? &pageView : &seg->Bitmap);
    EndRegionSegment(file, seg);
  } else {
    // A region whose header cannot be decoded is not drawn anywhere.
    PrintErrorRef("Text Region not Decoded", seg->lNumber);
    DestroyBMP(&seg->Bitmap);
  }
}
