// Text region encoding (T.88 6.4 in the encoding direction) and the text
// region segment data (T.88 7.4.3.1).
#include "encoder/text_region_encoder.h"

#include <algorithm>
#include <vector>

#include "common/bit_writer.h"
#include "common/integer_coding.h"
#include "common/messages.h"
#include "encoder/encode_state.h"
#include "encoder/huffman_design.h"
#include "encoder/refinement_region_encoder.h"
#include "encoder/symbol_dictionary_encoder.h"

namespace {

inline constexpr unsigned long kRefinementWriterSize = 32768;  // bytes, grows as needed
inline constexpr int kTableB15 = 15;

inline bool BottomCorner(uint32_t corner) { return corner == kBottomLeft || corner == kBottomRight; }
inline bool RightCorner(uint32_t corner) { return corner == kBottomRight || corner == kTopRight; }

// floor(v / 2): T.88 Table 12 halves RDW and RDH toward minus infinity.
inline long FloorHalf(long v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

inline uint32_t Log2Strips(uint32_t strips) { return strips >= 8 ? 3 : strips >= 4 ? 2 : strips >= 2 ? 1 : 0; }

// True when `value` has a code in `table` (T.88 B.4: the lower and upper
// range lines may be absent, as in B.11 to B.14).
bool HuffCanCode(const HUFFTABLE* table, long value) {
  const long n = static_cast<long>(table->pDef->nLines);
  if (value <= table->pRangeLow[n]) return table->pPrefLen[n] != 0;
  if (value >= table->pRangeLow[n + 1]) return table->pPrefLen[n + 1] != 0;
  return true;
}

// The refinement values of one instance (T.88 6.4.11): RDW, RDH and the RDX,
// RDY that put the symbol where matching aligned it over the instance.
struct Refinement {
  long rdw, rdh, rdx, rdy;
};
Refinement RefinementOf(const SYMBOL* instance, const SYMBOL* symbol) {
  Refinement r;
  r.rdw = static_cast<long>(instance->Bitmap.lWidth) - static_cast<long>(symbol->Bitmap.lWidth);
  r.rdh = static_cast<long>(instance->Bitmap.lHeight) - static_cast<long>(symbol->Bitmap.lHeight);
  r.rdx = r.rdw / 2 + instance->lDX - FloorHalf(r.rdw);
  r.rdy = r.rdh / 2 + instance->lDY - FloorHalf(r.rdh);
  return r;
}

inline bool NeedsRefinement(const TRPARAM* p, SYMBOL* instance, SYMBOL* symbols) {
  return p->bRefine && !ExactBMP(&instance->Bitmap, &symbols[instance->lIndex].Bitmap);
}

// Table B.14 codes only -2..2: a selection that cannot carry every
// refinement value falls back to B.15, which codes all of them.
void CheckRefinementTables(TRPARAM* p, std::vector<SYMBOL>& prepared, SYMBOL* symbols) {
  HUFFTABLE* standard = p->pState->aHuffStandard;
  int32_t* settings[4] = {&p->lHuffRDW, &p->lHuffRDH, &p->lHuffRDX, &p->lHuffRDY};
  HUFFTABLE** tables[4] = {&p->pTableRDW, &p->pTableRDH, &p->pTableRDX, &p->pTableRDY};
  bool fits[4] = {true, true, true, true};
  for (SYMBOL& instance : prepared) {
    if (!NeedsRefinement(p, &instance, symbols)) continue;
    const Refinement r = RefinementOf(&instance, &symbols[instance.lIndex]);
    const long values[4] = {r.rdw, r.rdh, r.rdx, r.rdy};
    for (int k = 0; k < 4; ++k) fits[k] = fits[k] && HuffCanCode(*tables[k], values[k]);
  }
  for (int k = 0; k < 4; ++k) {
    if (fits[k]) continue;
    PrintWarning("Refinement Value Outside Huffman Table - using Table B.15");
    *settings[k] = 1;
    *tables[k] = &standard[kTableB15 - 1];
  }
}

// Codes one refinement bitmap (T.88 6.4.11 step 6; Huffman mode: RSIZE and
// the byte-aligned MQ stream of its own coder, steps 5 and 7).
void EncodeInstanceRefinement(TRPARAM* p, SYMBOL* instance, SYMBOL* symbol, const Refinement& r, ENCODER* temp,
                              MQENCODER* tempCoder) {
  ENCODE_STATE* state = p->pState;
  long atx[2] = {p->lRATX1, p->lRATX2}, aty[2] = {p->lRATY1, p->lRATY2};
  const long dx = FloorHalf(r.rdw) + r.rdx, dy = FloorHalf(r.rdh) + r.rdy;
  if (!p->bHuff) {
    EncodeRefinementRegion(&state->MQEncoder, &state->RefinementContexts, &instance->Bitmap, &symbol->Bitmap, dx,
                           dy, static_cast<int>(p->lRTemplate), atx, aty, false);
    return;
  }
  InitEncoder(temp);
  MQInitEnc(tempCoder);
  EncodeRefinementRegion(tempCoder, &state->RefinementContexts, &instance->Bitmap, &symbol->Bitmap, dx, dy,
                         static_cast<int>(p->lRTemplate), atx, aty, false);
  MQFlush(tempCoder);
  ENCODER* enc = &state->Encoder;
  EncHuff(enc, p->pTableRSize, temp->lSize);
  EncodeFlush(enc);
  for (uint32_t i = 0; i < temp->lSize; ++i) EncodeBits(enc, temp->pBuffer[i], 8);
}

}  // namespace

int CompareSymbPos(const void* a, const void* b) {
  const SYMBOL* sa = static_cast<const SYMBOL*>(a);
  const SYMBOL* sb = static_cast<const SYMBOL*>(b);
  if (sa->lStrip != sb->lStrip) return sa->lStrip < sb->lStrip ? -1 : 1;
  if (sa->lX != sb->lX) return sa->lX < sb->lX ? -1 : 1;
  return 0;
}

void PrepareSymbolInstances(const TRPARAM* p, const SYMBOL* instances, unsigned long n, SYMBOL* dictionary,
                            std::vector<SYMBOL>* prepared) {
  prepared->assign(instances, instances + n);
  const uint32_t logStrips = Log2Strips(p->lStrips);
  for (SYMBOL& c : *prepared) {
    if (c.bSubstitute || (c.bRefine && !c.bDictionary && !p->bRefine)) {
      // Lossy replacement: the symbol is drawn where matching (or the shape
      // gate) laid it over the mark (halvings toward zero, as matching
      // centred it).
      const SYMBOL* symbol = &dictionary[c.lIndex];
      c.lX += (static_cast<int32_t>(c.Bitmap.lWidth) - static_cast<int32_t>(symbol->Bitmap.lWidth)) / 2 + c.lDX;
      c.lY += (static_cast<int32_t>(c.Bitmap.lHeight) - static_cast<int32_t>(symbol->Bitmap.lHeight)) / 2 + c.lDY;
      c.Bitmap = symbol->Bitmap;
    }
    // S is the leading edge along the strip, T the reference corner's
    // coordinate across it (T.88 6.4.5 steps 3c vi to x).
    const int32_t w = static_cast<int32_t>(c.Bitmap.lWidth), h = static_cast<int32_t>(c.Bitmap.lHeight);
    int32_t s, t;
    if (p->bTransposed) {
      s = c.lY;
      t = c.lX + (RightCorner(p->lRefCorner) ? w - 1 : 0);
    } else {
      s = c.lX;
      t = c.lY + (BottomCorner(p->lRefCorner) ? h - 1 : 0);
    }
    c.lX = s;
    c.lY = t;
    c.lStrip = t >> logStrips;  // floor: positions left or above the region keep their strip
  }
  std::stable_sort(prepared->begin(), prepared->end(),
                   [](const SYMBOL& a, const SYMBOL& b) { return CompareSymbPos(&a, &b) < 0; });
}

void InstanceTopLeft(const TRPARAM* p, const SYMBOL& c, long* x, long* y) {
  const long w = c.Bitmap.lWidth, h = c.Bitmap.lHeight;
  if (p->bTransposed) {
    *y = c.lX;
    *x = c.lY - (RightCorner(p->lRefCorner) ? w - 1 : 0);
  } else {
    *x = c.lX;
    *y = c.lY - (BottomCorner(p->lRefCorner) ? h - 1 : 0);
  }
}

void DrawSymbolInstances(const TRPARAM* p, std::vector<SYMBOL>& prepared, BMP* region) {
  for (SYMBOL& c : prepared) {
    long x, y;
    InstanceTopLeft(p, c, &x, &y);
    CombineBMP(region, &c.Bitmap, x, y, static_cast<int>(p->lCombOp));
  }
}

void EncodeSymbolInstances(TRPARAM* p, SYMBOL* prepared, unsigned long n, SYMBOL* symbols) {
  ENCODE_STATE* state = p->pState;
  ENCODER* enc = &state->Encoder;
  MQINT* ia = &state->IntContexts;
  const bool huff = p->bHuff != 0;
  const long strips = p->lStrips;
  const int logStrips = static_cast<int>(Log2Strips(p->lStrips));
  ENCODER temp{};
  MQENCODER tempCoder{};
  const bool useTemp = huff && p->bRefine;
  if (useTemp) {
    CreateEncoder(&temp, kRefinementWriterSize);
    MQSetOutFunction(&tempCoder, MQMainOut, &temp);
  }
  auto code = [&](HUFFTABLE* table, int proc, long value) {
    if (huff) EncHuff(enc, table, value);
    else MQEncodeInt(&ia->Proc[proc], value);
  };

  // T.88 6.4.5 step 2: STRIPT = -(initial value x SBSTRIPS). The first strip
  // then lies DT >= 1 strips further on, whatever its sign.
  const long firstStrip = n > 0 ? prepared[0].lStrip : 0;
  const long initial = std::max(1L, 1 - firstStrip);
  code(p->pTableDT, kIADT, initial);
  long stripT = -initial * strips;
  long firstS = 0;
  for (unsigned long i = 0; i < n;) {
    const long strip = prepared[i].lStrip;
    const long dt = strip - stripT / strips;
    code(p->pTableDT, kIADT, dt);
    stripT += dt * strips;
    long curS = 0;
    bool firstInStrip = true;
    for (; i < n && prepared[i].lStrip == strip; ++i) {
      SYMBOL* instance = &prepared[i];
      const long s = instance->lX;
      if (firstInStrip) {
        code(p->pTableFS, kIAFS, s - firstS);
        firstS = s;
        firstInStrip = false;
      } else {
        code(p->pTableDS, kIADS, s - curS - p->lDSOffset);
      }
      curS = s;
      if (strips > 1) {
        const long curT = instance->lY - stripT;
        if (huff) EncodeBits(enc, static_cast<unsigned long>(curT), logStrips);
        else MQEncodeInt(&ia->Proc[kIAIT], curT);
      }
      const long id = instance->lIndex;
      if (huff) EncodeBits(enc, p->pSymCodes[id], static_cast<int>(p->pSymCodeLens[id]));
      else MQEncodeInt(&ia->Proc[kIAID], id);
      SYMBOL* symbol = &symbols[id];
      if (p->bRefine) {
        const bool ri = NeedsRefinement(p, instance, symbols);
        if (huff) EncodeBits(enc, ri ? 1 : 0, 1);
        else MQEncodeInt(&ia->Proc[kIARI], ri ? 1 : 0);
        if (ri) {
          const Refinement r = RefinementOf(instance, symbol);
          code(p->pTableRDW, kIARDW, r.rdw);
          code(p->pTableRDH, kIARDH, r.rdh);
          code(p->pTableRDX, kIARDX, r.rdx);
          code(p->pTableRDY, kIARDY, r.rdy);
          EncodeInstanceRefinement(p, instance, symbol, r, &temp, &tempCoder);
        }
      } else {
        JB2_DCHECK(ExactBMP(&instance->Bitmap, &symbol->Bitmap));
      }
      curS += static_cast<long>(p->bTransposed ? instance->Bitmap.lHeight : instance->Bitmap.lWidth) - 1;
    }
    if (huff) EncHuffOOB(enc, p->pTableDS);
    else MQEncodeOOB(&ia->Proc[kIADS]);
  }
  if (useTemp) DestroyEncoder(&temp);
}

void EncodeSymbolRegionSegment(TRPARAM* p, SYMBOL* instances, unsigned long nInstances, SYMBOL* dictionary,
                               unsigned long nSyms) {
  ENCODE_STATE* state = p->pState;
  ENCODER* enc = &state->Encoder;
  HUFFTABLE* standard = state->aHuffStandard;
  SelectHuffTable(standard, &p->pTableFS, &p->lHuffFS, 6, 7, 0);
  SelectHuffTable(standard, &p->pTableDS, &p->lHuffDS, 8, 9, 10);
  SelectHuffTable(standard, &p->pTableDT, &p->lHuffDT, 11, 12, 13);
  SelectHuffTable(standard, &p->pTableRDW, &p->lHuffRDW, 14, 15, 0);
  SelectHuffTable(standard, &p->pTableRDH, &p->lHuffRDH, 14, 15, 0);
  SelectHuffTable(standard, &p->pTableRDX, &p->lHuffRDX, 14, 15, 0);
  SelectHuffTable(standard, &p->pTableRDY, &p->lHuffRDY, 14, 15, 0);
  SelectHuffTable(standard, &p->pTableRSize, &p->lHuffRSize, 1, 0, 0);
  if (!p->bRefine) p->lRTemplate = 0;  // T.88 7.4.3.1.1: bit 15 is 0 without refinement
  if (p->bRefine && p->lRTemplate == 0 && !RefinementATValid(p->lRATX1, p->lRATY1)) {
    PrintWarning("Refinement AT Pixel Not Yet Coded - Using (-1,-1)");
    p->lRATX1 = -1;
    p->lRATY1 = -1;
  }
  std::vector<SYMBOL> prepared;
  PrepareSymbolInstances(p, instances, nInstances, dictionary, &prepared);
  if (p->bHuff && p->bRefine) CheckRefinementTables(p, prepared, dictionary);
  p->nInstances = static_cast<uint32_t>(nInstances);
  p->lSymCodeLen = SymbolCodeLength(nSyms);

  EncodeBits(enc,
             (p->bHuff ? 1u : 0u) | (p->bRefine ? 2u : 0u) | Log2Strips(p->lStrips) << 2 | (p->lRefCorner & 3) << 4 |
                 (p->bTransposed ? 1u : 0u) << 6 | (p->lCombOp & 3) << 7 | (p->bDefPixel ? 1u : 0u) << 9 |
                 (static_cast<uint32_t>(p->lDSOffset) & 31) << 10 | (p->lRTemplate & 1) << 15,
             16);
  if (p->bHuff) {
    EncodeBits(enc,
               static_cast<uint32_t>(p->lHuffFS) | static_cast<uint32_t>(p->lHuffDS) << 2 |
                   static_cast<uint32_t>(p->lHuffDT) << 4 | static_cast<uint32_t>(p->lHuffRDW) << 6 |
                   static_cast<uint32_t>(p->lHuffRDH) << 8 | static_cast<uint32_t>(p->lHuffRDX) << 10 |
                   static_cast<uint32_t>(p->lHuffRDY) << 12 | static_cast<uint32_t>(p->lHuffRSize) << 14,
               16);
  }
  if (p->bRefine && p->lRTemplate == 0) {
    EncodeBits(enc, static_cast<uint8_t>(p->lRATX1), 8);
    EncodeBits(enc, static_cast<uint8_t>(p->lRATY1), 8);
    EncodeBits(enc, static_cast<uint8_t>(p->lRATX2), 8);
    EncodeBits(enc, static_cast<uint8_t>(p->lRATY2), 8);
  }
  EncodeBits(enc, p->nInstances, 32);

  std::vector<unsigned long> codes, lengths;
  if (p->bHuff) {
    std::vector<unsigned long> counts(nSyms, 0);
    for (const SYMBOL& c : prepared) ++counts[static_cast<size_t>(c.lIndex)];
    codes.assign(nSyms, 0);
    lengths.assign(nSyms, 0);
    EncodeSymbolIdHuffmanTable(enc, counts.data(), nSyms, codes.data(), lengths.data());
    EncodeFlush(enc);  // T.88 7.4.3.1.7 step 6
    p->pSymCodes = codes.data();
    p->pSymCodeLens = lengths.data();
  } else {
    CreateMQInt(&state->IntContexts, p->lSymCodeLen, &state->MQEncoder);
    MQInitEnc(&state->MQEncoder);
  }
  ResetMQBuffer(&state->GenericContexts, kContextStoreSize);
  ResetMQBuffer(&state->RefinementContexts, kRefinementContextStoreSize);
  EncodeSymbolInstances(p, prepared.data(), prepared.size(), dictionary);
  if (!p->bHuff) {
    MQFlush(&state->MQEncoder);
    DestroyMQInt(&state->IntContexts);
  }
  EncodeFlush(enc);
  p->pSymCodes = nullptr;
  p->pSymCodeLens = nullptr;
}
