// Symbol dictionary decoding (T.88 6.5) and symbol dictionary segments
// (T.88 7.4.2): height classes of generic-coded symbols, of Huffman-coded
// widths with a plain or MMR-coded collective bitmap, or of refinement and
// aggregate symbols built from earlier ones; export flags; bitmap coding
// contexts taken over from a referred dictionary and kept for later ones.
#include "decoder/symbol_dictionary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/generic_region.h"
#include "decoder/region_frame.h"
#include "kernels/context_template.h"

using jb2dec::TextWork;

namespace {

constexpr unsigned long kContexts = 65536;

// The dictionary's new symbols as they are decoded; released unless copied
// out by the export step.
class NewSymbols {
 public:
  ~NewSymbols() {
    for (BMP& b : symbols_) DestroyBMP(&b);
  }
  std::vector<BMP>& get() { return symbols_; }

 private:
  std::vector<BMP> symbols_;
};

// One number of the symbol dictionary procedure, from its Huffman table or
// its integer arithmetic decoding procedure. An out-of-band value sets *oob;
// where none may occur (no oob given) it reads as 0, as both decoders return
// it.
int32_t ReadNumber(JB2FILE* file, SYMDICT_PARAMS* p, HUFFTABLE* table, int proc, int* oob = nullptr) {
  int isOOB = 0;
  int32_t value;
  if (p->bHuff) value = DecodeHuff(p->pInput, table, &isOOB);
  else value = MQDecodeInt(&file->Integers.Proc[proc], &isOOB);
  if (oob) *oob = isOOB;
  return value;
}

// T.88 6.5.8.2: a refinement/aggregate symbol, decoded into `bs` (SYMWIDTH x
// HCHEIGHT, white). The symbols it may use are SDINSYMS followed by the
// first `numDecoded` new symbols (6.5.8.2.4).
[[nodiscard]] bool DecodeRefAggSymbol(JB2FILE* file, SYMDICT_PARAMS* p, BMP* bs, std::vector<BMP>& newSymbols,
                                      uint32_t numDecoded, uint32_t codeLen) {
  DECODER* input = p->pInput;
  HUFFTABLE* standard = file->HuffStandard;
  const int32_t numInstances = ReadNumber(file, p, p->pTableAggInst, kIAAI);
  SetLastSymbolSet(&p->Symbols, numDecoded, newSymbols.data());
  // With Huffman coding symbol IDs have fixed codes of
  // max(ceil(log2(SDNUMINSYMS + SDNUMNEWSYMS)), 1) bits (6.5.8.2.3).
  const uint32_t huffCodeLen = std::max<uint32_t>(codeLen, 1);

  if (static_cast<uint32_t>(numInstances) > kMaxTextInstances) {
    PrintErrorRef("Too Many Symbol Instances", p->lSegmentNumber);
    return false;
  }
  if (numInstances != 1) {
    // Table 17: the text region decoding procedure.
    TEXT_PARAMS tp{};
    tp.pInput = input;
    tp.bHuff = p->bHuff;
    tp.bRefine = 1;
    tp.nInstances = static_cast<uint32_t>(numInstances);
    tp.nStrips = 1;
    tp.pSymbolCodes = nullptr;
    tp.lSymCodeLen = p->bHuff ? huffCodeLen : codeLen;
    tp.Symbols = p->Symbols;
    tp.lDefaultPixel = 0;
    tp.lCombOp = kOpOr;
    tp.bTransposed = 0;
    tp.lRefCorner = 1;  // TOPLEFT
    tp.lDSOffset = 0;
    tp.pTableFS = &standard[6 - 1];
    tp.pTableDS = &standard[8 - 1];
    tp.pTableDT = &standard[11 - 1];
    tp.pTableRDW = tp.pTableRDH = tp.pTableRDX = tp.pTableRDY = &standard[15 - 1];
    tp.pTableRSize = &standard[1 - 1];
    tp.lRTemplate = p->lRTemplate;
    for (int k = 0; k < 2; ++k) {
      tp.lRATX[k] = p->lRATX[k];
      tp.lRATY[k] = p->lRATY[k];
    }
    tp.pWork = p->pWork;
    tp.lSegmentNumber = p->lSegmentNumber;
    return DecodeTextRegion(file, &tp, bs);
  }

  // 6.5.8.2.2: one instance, refined without the text region syntax.
  uint32_t id;

  if (p->bHuff) id = DecodeBits(input, static_cast<int>(huffCodeLen));
  else id = static_cast<uint32_t>(MQDecodeInt(&file->Integers.Proc[kIAID], nullptr));
  const int32_t rdx = ReadNumber(file, p, &standard[15 - 1], kIARDX);
  const int32_t rdy = ReadNumber(file, p, &standard[15 - 1], kIARDY);
  const int32_t size = p->bHuff ? ReadNumber(file, p, &standard[1 - 1], 0) : 0;
  BMP* ibo = GetSymbol(&p->Symbols, id);
  if (!ibo) return false;
  // Table 18.
  REFINEMENT_PARAMS rp = SymbolRefinementParams(input, p->lRTemplate, p->lRATX, p->lRATY, ibo, rdx, rdy);
  if (p->bHuff) DecodeSizedRefinement(file, &rp, bs, static_cast<uint32_t>(size));
  else DecodeRefinementRegion(file, &rp, bs);
  return true;
}

// T.88 6.5.9: the collective bitmap of a height class, cut into the class's
// symbols (from newSymbols.size() on, widths from `widths`).
[[nodiscard]] bool DecodeCollectiveBitmap(JB2FILE* file, SYMDICT_PARAMS* p, std::vector<BMP>& newSymbols,
                                          const std::vector<uint32_t>& widths, uint64_t totalWidth, uint32_t height) {
  DECODER* input = p->pInput;
  const int32_t size = ReadNumber(file, p, p->pTableBMSize, 0);
  DecodeFlush(input);
  const unsigned char* start = DecoderPtr(input);
  const auto available = static_cast<uint64_t>(input->pEnd - start);
  BMP collective{};
  if (size == 0) {
    // Stored plainly: whole bytes per row. Refused before any allocation
    // when the data cannot hold them.
    const uint64_t bytesPerRow = (totalWidth + 7) / 8;
    if (bytesPerRow * height > available) {
      PrintErrorRef("Collective Bitmap beyond the Segment Data", p->lSegmentNumber);
      return false;
    }
    if (!CreateCheckedBMP(file, &collective, totalWidth, height, 0)) return false;
    for (uint32_t y = 0; y < height; ++y) {
      unsigned char* row = collective.pData + static_cast<size_t>(y) * collective.lStride;
      for (uint32_t i = 0; i < collective.lBytesPerRow; ++i) row[i] = static_cast<unsigned char>(DecodeBits(input, 8));
    }
  } else {
    if (!CreateCheckedBMP(file, &collective, totalWidth, height, 0)) return false;
    MMRDecode(input, &file->MMR, &collective, 0);
    DecodeFlush(input);
    const auto used = static_cast<uint64_t>(DecoderPtr(input) - start);
    const auto expected = static_cast<uint64_t>(static_cast<uint32_t>(size));
    // A code shorter than BMSIZE leaves the reader at the end of BMSIZE; one
    // that ran beyond it leaves it where the code ended.
    if (used < expected) {
      PrintWarning("Skipping bits in MMR Segment");
      DecSkipBytes(input, static_cast<long>(expected - used));
    } else if (used > expected) {
      PrintWarning("Too many bits in MMR Segment");
    }
  }
  int64_t x = 0;
  for (size_t i = newSymbols.size(); i < widths.size(); ++i) {
    BMP symbol{};
    CreateBMPChecked(&symbol, widths[i], height, 0);
    ExtractRegion(&symbol, &collective, static_cast<long>(x), 0);
    x += widths[i];
    newSymbols.push_back(symbol);
  }
  DestroyBMP(&collective);
  return true;
}

// T.88 6.5.10: the export flags and the copies of the exported symbols.
[[nodiscard]] bool ExportSymbols(JB2FILE* file, SYMDICT_PARAMS* p, std::vector<BMP>& exported, uint32_t numExpected) {
  SYMBOL_LIST* list = &p->Symbols;
  const uint64_t total = list->nSymbols;
  const uint64_t pixelCap = file->lMaxBitmapPixels ? file->lMaxBitmapPixels : kMaxBitmapPixels;
  uint64_t pixels = 0;
  bool reported = false;
  uint64_t index = 0;
  // Runs alternate between the two flags; only a run of length 0 fails to
  // move on, and a valid list never needs two of them in a row, so more than
  // 2 x total + 1 runs never end (arithmetic data past its end may decode 0
  // for ever).
  uint64_t runs = 0;
  for (int flag = 0; index < total; flag ^= 1) {
    if (++runs > 2 * total + 1) {
      PrintErrorRef("Export Flags Do Not End", p->lSegmentNumber);
      return false;
    }
    const int32_t value = ReadNumber(file, p, &file->HuffStandard[1 - 1], kIAEX);
    // Run lengths are unsigned 32-bit numbers; a run cannot reach past the
    // last symbol.
    uint64_t run = static_cast<uint32_t>(value);
    if (run > total - index) {
      PrintErrorRef("Export Run past the Last Symbol", p->lSegmentNumber);
      run = total - index;
    }
    for (uint64_t k = index; flag && k < index + run; ++k) {
      BMP* symbol = GetSymbol(list, static_cast<uint32_t>(k));
      pixels += uint64_t{symbol->lWidth} * symbol->lHeight;
      if (exported.size() == numExpected || pixels > pixelCap) {
        // More flags than SDNUMEXSYMS, or copies beyond the pixel cap: only
        // the symbols before are exported.
        if (!reported) PrintErrorRef("More Exported Symbols than Declared or Allowed", p->lSegmentNumber);
        reported = true;
        break;
      }
      exported.emplace_back();
      CopyBMP(&exported.back(), symbol);
      if (!exported.back().pData && symbol->pData) throw std::bad_alloc();
    }
    index += run;
  }
  if (exported.size() < numExpected) PrintErrorRef("Fewer Exported Symbols than Declared", p->lSegmentNumber);
  return true;
}

void CopyContexts(MQBUFFER* dst, const MQBUFFER* src) {
  std::memcpy(dst->pIndex, src->pIndex, kContexts);
  std::memcpy(dst->pMPS, src->pMPS, kContexts);
}

// Releases what an earlier decoding of the segment left in it.
void ReleaseResults(SEGMENT_HEADER* seg) {
  if (seg->pSymbols) {
    for (uint32_t k = 0; k < seg->nSymbols; ++k) DestroyBMP(&seg->pSymbols[k]);
    std::free(seg->pSymbols);
  }
  seg->pSymbols = nullptr;
  seg->nSymbols = 0;
  if (seg->bSavedContexts) {
    DestroyMQBuffer(&seg->SavedContexts[0]);
    DestroyMQBuffer(&seg->SavedContexts[1]);
  }
  seg->bSavedContexts = 0;
}

}  // namespace

void DecodeSymbolDictionary(JB2FILE* file, SYMDICT_PARAMS* p, BMP** symbols) {
  *symbols = nullptr;
  const uint32_t numExpected = p->nExSymbols;
  p->nExSymbols = 0;
  DECODER* input = p->pInput;
  const uint32_t numInputs = p->Symbols.nSymbols;
  const uint32_t numNew = p->nNewSymbols;
  const uint32_t codeLen = SymbolIdCodeLength(uint64_t{numInputs} + numNew);
  const bool collective = p->bHuff && !p->bRefAgg;
  AppendSymbolSet(&p->Symbols);

  NewSymbols owner;
  std::vector<BMP>& newSymbols = owner.get();
  std::vector<uint32_t> widths;  // SDNEWSYMWIDTHS
  uint64_t pixels = 0;
  int64_t height = 0;  // HCHEIGHT
  uint32_t numDecoded = 0;
  uint64_t classes = 0;
  bool ok = true;

  // T.88 6.5.5 step 4: one height class per pass. A height class without
  // symbols serves nothing (the next class's HCDH covers any step in height),
  // so more than 2 x SDNUMNEWSYMS + 1 classes only come from data that never
  // ends its classes (arithmetic data past its end may decode OOB for ever).
  while (ok && numDecoded < numNew) {
    if (++classes > 2 * uint64_t{numNew} + 1) {
      PrintErrorRef("Height Classes Do Not End", p->lSegmentNumber);
      ok = false;
      break;
    }
    if (p->bHuff && input->nPastEnd > kMaxPastEndBytes) {
      PrintErrorRef("Region Data Exhausted: Decoding Stopped", p->lSegmentNumber);
      ok = false;
      break;
    }
    height += ReadNumber(file, p, p->pTableDH, kIADH);
    if (height < 0 || height > INT32_MAX) {
      PrintErrorRef("Invalid Height Class Height", p->lSegmentNumber);
      ok = false;
      break;
    }
    int64_t width = 0;       // SYMWIDTH
    uint64_t totalWidth = 0;  // TOTWIDTH
    for (;;) {
      int oob;
      const int32_t dw = ReadNumber(file, p, p->pTableDW, kIADW, &oob);
      if (oob) break;
      width += dw;
      if (width < 0 || width > INT32_MAX) {
        PrintErrorRef("Invalid Symbol Width", p->lSegmentNumber);
        ok = false;
        break;
      }
      if (numDecoded == numNew) {
        PrintErrorRef("More Symbols than Declared", p->lSegmentNumber);
        ok = false;
        break;
      }
      totalWidth += static_cast<uint64_t>(width);
      // The new symbols are all held at once and each of their pixels is
      // decoded: their stored pixels, and a row's worth at least for each
      // row, are held to kMaxSymbolDictionaryPixels (a declared size).
      const uint64_t rows = static_cast<uint64_t>(height);
      pixels += StoredBitmapPixels(static_cast<uint64_t>(width), rows) + rows;
      if (pixels > kMaxSymbolDictionaryPixels) {
        PrintErrorRef("Symbol Dictionary Too Large", p->lSegmentNumber);
        ok = false;
        break;
      }
      if (collective) {
        widths.push_back(static_cast<uint32_t>(width));
        ++numDecoded;
        continue;
      }
      BMP bs{};
      ScopeExit freeSymbol([&] { DestroyBMP(&bs); });  // until newSymbols holds it
      if (!CreateCheckedBMP(file, &bs, static_cast<uint64_t>(width), rows, 0)) {
        ok = false;
        break;
      }
      if (!p->bRefAgg) {
        // 6.5.8.1, Table 16.
        GENERIC_PARAMS gp{};
        gp.pInput = input;
        gp.lTemplate = p->lTemplate;
        for (int k = 0; k < 4; ++k) {
          gp.lATX[k] = p->lATX[k];
          gp.lATY[k] = p->lATY[k];
        }
        DecodeGenericRegion(file, &gp, &bs);
      } else {
        // Its instances may draw over the symbol as over a text region.
        p->pWork->AddCanvas(uint64_t{bs.lWidth} * bs.lHeight);
        ok = DecodeRefAggSymbol(file, p, &bs, newSymbols, numDecoded, codeLen);
      }
      newSymbols.push_back(bs);
      freeSymbol.Dismiss();
      if (!ok) break;
      ++numDecoded;
    }
    if (ok && collective)
      ok = DecodeCollectiveBitmap(file, p, newSymbols, widths, totalWidth, static_cast<uint32_t>(height));
  }
  if (!ok) {
    PrintErrorRef("Symbol Dictionary Decoding Stopped: No Symbols Exported", p->lSegmentNumber);
    return;
  }

  SetLastSymbolSet(&p->Symbols, numDecoded, newSymbols.data());
  std::vector<BMP> exported;
  ScopeExit freeExported([&] {
    for (BMP& b : exported) DestroyBMP(&b);
  });
  if (!ExportSymbols(file, p, exported, numExpected)) {
    PrintErrorRef("Symbol Dictionary Decoding Stopped: No Symbols Exported", p->lSegmentNumber);
    return;
  }
  if (exported.empty()) return;
  *symbols = Checked(static_cast<BMP*>(std::malloc(exported.size() * sizeof(BMP))));
  std::copy(exported.begin(), exported.end(), *symbols);
  freeExported.Dismiss();  // the copies now belong to *symbols
  p->nExSymbols = static_cast<uint32_t>(exported.size());
}

void DecodeSymbolDictionarySegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input) {
  ReleaseResults(seg);
  SYMDICT_PARAMS p{};
  p.pInput = input;
  p.lSegmentNumber = seg->lNumber;

  // T.88 7.4.2.1.1.
  const uint32_t flags = DecodeBits(input, 16);
  p.bHuff = flags & 1;
  p.bRefAgg = (flags >> 1) & 1;
  const uint32_t usePrevious = (flags >> 8) & 1;
  const uint32_t retain = (flags >> 9) & 1;
  p.lTemplate = (flags >> 10) & 3;
  p.lRTemplate = (flags >> 12) & 1;
  bool ok = true;
  if (p.bHuff) {
    // T.88 7.4.2.1.6: user-supplied tables in this order.
    HUFFTABLE* standard = file->HuffStandard;
    uint32_t next = 0;
    ChooseHuffTable(standard, &p.pTableDH, (flags >> 2) & 3, 3, 4, 5, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableDW, (flags >> 4) & 3, 3, 2, 3, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableBMSize, (flags >> 6) & 1, 1, 1, 0, 0, seg, &next);
    ChooseHuffTable(standard, &p.pTableAggInst, (flags >> 7) & 1, 1, 1, 0, 0, seg, &next);
    // A number without a table cannot be decoded.
    ok = p.pTableDH && p.pTableDW && (p.bRefAgg ? p.pTableAggInst != nullptr : p.pTableBMSize != nullptr);
  } else if (flags & 0xFC) {
    PrintWarning("Table Information with SDHUFF=0");
  }
  if (usePrevious && p.bHuff && !p.bRefAgg) PrintWarning("Invalid bUsePreviousContexts");
  if (retain && p.bHuff && !p.bRefAgg) PrintWarning("Invalid bRetainContexts");
  if (p.lTemplate != 0 && p.bHuff) PrintWarning("Invalid SDTEMPLATE");
  // T.88 7.4.2.1.1 asks SDRTEMPLATE to be 0 unless SDREFAGG is 1.
  if (p.lRTemplate != 0 && !p.bRefAgg) PrintWarning("Invalid SDRTEMPLATE");
  if (flags & 0xE000) PrintWarning("Reserved Bits not 0");

  // T.88 7.4.2.1.2 and 7.4.2.1.3.
  if (!p.bHuff) {
    const int count = p.lTemplate == 0 ? 4 : 1;
    for (int k = 0; k < count; ++k) {
      p.lATX[k] = static_cast<int8_t>(DecodeBits(input, 8));
      p.lATY[k] = static_cast<int8_t>(DecodeBits(input, 8));
    }
  }
  if (p.bRefAgg && p.lRTemplate == 0) {
    for (int k = 0; k < 2; ++k) {
      p.lRATX[k] = static_cast<int8_t>(DecodeBits(input, 8));
      p.lRATY[k] = static_cast<int8_t>(DecodeBits(input, 8));
    }
  }
  BuildSymbolList(&p.Symbols, seg);
  ScopeExit freeList([&] { FreeSymbolList(&p.Symbols); });
  ok = ok && !p.Symbols.bTooMany;
  p.nExSymbols = DecodeBits(input, 32);
  p.nNewSymbols = DecodeBits(input, 32);

  // With Huffman coding each new symbol takes at least the one bit of its
  // width code, so a count beyond the data's bits is refused before anything
  // is allocated. Arithmetic data can code any number of symbols in a few
  // bytes: there only kMaxSymbols bounds the count.
  const auto left = static_cast<uint64_t>(input->pEnd - input->pCur);
  const bool beyondBits = p.bHuff && p.nNewSymbols > 8 * (left + 1);
  if (ok && (p.nNewSymbols > kMaxSymbols || beyondBits)) {
    PrintErrorRef("Too Many New Symbols for the Segment: Dictionary Ignored", seg->lNumber);
    ok = false;
  }
  if (ok && input->nPastEnd != 0) ok = false;

  if (ok) {
    const bool arithmetic = !p.bHuff || p.bRefAgg;
    if (arithmetic) {
      // T.88 7.4.2.2 steps 3 and 4: the contexts of the last referred
      // dictionary that kept them, or fresh ones.
      SEGMENT_HEADER* saved = nullptr;
      for (uint32_t i = seg->nSymbolDicts; usePrevious && i-- > 0 && !saved;)
        if (seg->ppSymbolDicts[i]->bSavedContexts) saved = seg->ppSymbolDicts[i];
      if (usePrevious && !saved) PrintWarning("No Referenced Symbol Dictionaries have saved Context Data");
      for (int k = 0; k < 2; ++k) {
        if (saved) CopyContexts(&file->Contexts[k], &saved->SavedContexts[k]);
        else ResetMQBuffer(&file->Contexts[k], k == 0 ? GenericContextCount(p.lTemplate) : RefinementContextCount(p.lRTemplate));
      }
    }
    if (!p.bHuff) {
      CreateMQInt(&file->Integers, SymbolIdCodeLength(uint64_t{p.Symbols.nSymbols} + p.nNewSymbols), &file->MQ);
      MQInitDec(&file->MQ);
    }
    ScopeExit freeIntegers([&] {
      if (!p.bHuff) DestroyMQInt(&file->Integers);
    });
    TextWork work(seg->lNumber);
    p.pWork = &work;
    DecodeSymbolDictionary(file, &p, &seg->pSymbols);
    seg->nSymbols = p.nExSymbols;
  } else {
    PrintErrorRef("Symbol Dictionary not Decoded", seg->lNumber);
  }
  if (retain) {
    // T.88 7.4.2.2 step 7.
    seg->bSavedContexts = 1;
    for (int k = 0; k < 2; ++k) {
      CreateMQBuffer(&seg->SavedContexts[k], kContexts);
      CopyContexts(&seg->SavedContexts[k], &file->Contexts[k]);
    }
  }
}
