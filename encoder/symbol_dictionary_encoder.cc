// Symbol dictionary encoding (T.88 6.5 in the encoding direction) and the
// symbol dictionary segment data (T.88 7.4.2.1).
#include "encoder/symbol_dictionary_encoder.h"

#include <algorithm>
#include <vector>

#include "common/checked_alloc.h"
#include "common/bit_writer.h"
#include "common/integer_coding.h"
#include "common/messages.h"
#include "common/mmr.h"
#include "encoder/encode_state.h"
#include "encoder/generic_region_encoder.h"
#include "encoder/refinement_region_encoder.h"

namespace {

inline constexpr unsigned long kTemporaryWriterSize = 32768;  // bytes, grows as needed

// Standard table numbers for the four selections (T.88 7.4.2.1.1).
inline constexpr int kTableB1 = 1, kTableB15 = 15;

// A bit writer owned for one segment (MMR collective bitmaps, Huffman-mode
// refinement data), with an MQ coder that writes into it.
class TemporaryWriter {
 public:
  TemporaryWriter() : enc_(), mq_() {
    CreateEncoder(&enc_, kTemporaryWriterSize);
    MQSetOutFunction(&mq_, MQMainOut, &enc_);
  }
  ~TemporaryWriter() { DestroyEncoder(&enc_); }
  TemporaryWriter(const TemporaryWriter&) = delete;
  TemporaryWriter& operator=(const TemporaryWriter&) = delete;
  ENCODER* writer() { return &enc_; }
  MQENCODER* coder() { return &mq_; }
  // Byte-aligns `dst` and appends the whole bytes written here.
  void CopyTo(ENCODER* dst) {
    EncodeFlush(dst);
    for (uint32_t i = 0; i < enc_.lSize; ++i) EncodeBits(dst, enc_.pBuffer[i], 8);
  }

 private:
  ENCODER enc_;
  MQENCODER mq_;
};

// One class's symbols side by side from column 0 (T.88 6.5.9), spare bits clear.
void BuildCollectiveBitmap(SYMBOL* first, unsigned long count, uint64_t totalWidth, BMP* out) {
  CreateBMPChecked(out, static_cast<unsigned long>(totalWidth), first->Bitmap.lHeight, 0);
  long x = 0;
  for (unsigned long i = 0; i < count; ++i) {
    CombineBMP(out, &first[i].Bitmap, x, 0, kOpOr);
    x += static_cast<long>(first[i].Bitmap.lWidth);
  }
  if (totalWidth % 8 != 0) {
    const unsigned char mask = static_cast<unsigned char>(0xFF << (8 - totalWidth % 8));
    for (uint32_t y = 0; y < out->lHeight; ++y)
      out->pData[static_cast<size_t>(y) * out->lStride + out->lBytesPerRow - 1] &= mask;
  }
}

// BMSIZE and the height class collective bitmap (T.88 6.5.9): MMR-coded
// unless "direct" is set, even where the plain rows would be a few bytes
// smaller, since a common reader loses its place after uncompressed ones.
void EncodeCollectiveBitmap(SDPARAM* p, SYMBOL* first, unsigned long count, uint64_t totalWidth,
                            TemporaryWriter* mmr) {
  ENCODER* enc = &p->pState->Encoder;
  BMP collective;
  BuildCollectiveBitmap(first, count, totalWidth, &collective);
  bool direct = p->bDirect != 0 || mmr == nullptr;
  if (!direct) {
    InitEncoder(mmr->writer());
    MMREncode(mmr->writer(), &collective, 0);
    EncodeFlush(mmr->writer());
    // BMSIZE 0 means uncompressed, so an MMR stream must have bytes.
    direct = mmr->writer()->lSize == 0;
  }
  if (direct) {
    EncHuff(enc, p->pTableBMSize, 0);
    EncodeFlush(enc);
    for (uint32_t y = 0; y < collective.lHeight; ++y) {
      const unsigned char* row = collective.pData + static_cast<size_t>(y) * collective.lStride;
      for (uint32_t i = 0; i < collective.lBytesPerRow; ++i) EncodeBits(enc, row[i], 8);
    }
  } else {
    EncHuff(enc, p->pTableBMSize, mmr->writer()->lSize);
    mmr->CopyTo(enc);
  }
  DestroyBMP(&collective);
}

// GRREFERENCEDX/DY that put the referred symbol where matching aligned it
// over the new symbol: centred (halvings toward zero), then shifted.
inline long AlignedOffset(long newSize, long refSize, long shift) { return (newSize - refSize) / 2 + shift; }

// A refinement/aggregate symbol with REFAGGNINST = 1 (T.88 6.5.8.2.2): the
// symbol ID, RDX, RDY and, in Huffman mode, BMSIZE and the byte-aligned
// refinement data; the bitmap is refined against the referred symbol at
// (RDX, RDY) with TPGRON 0 (Table 18).
void EncodeRefinedSymbol(SDPARAM* p, SYMBOL* symbol, SYMBOL* references, uint32_t idBits, TemporaryWriter* temp) {
  ENCODE_STATE* state = p->pState;
  ENCODER* enc = &state->Encoder;
  MQINT* ia = &state->IntContexts;
  SYMBOL* ref = &references[symbol->lIndex];
  const long rdx = AlignedOffset(symbol->Bitmap.lWidth, ref->Bitmap.lWidth, symbol->lDX);
  const long rdy = AlignedOffset(symbol->Bitmap.lHeight, ref->Bitmap.lHeight, symbol->lDY);
  long atx[2] = {p->lRATX1, p->lRATX2}, aty[2] = {p->lRATY1, p->lRATY2};
  HUFFTABLE* b15 = &state->aHuffStandard[kTableB15 - 1];
  if (p->bHuff) {
    EncHuff(enc, p->pTableAggInst, 1);
    EncodeBits(enc, static_cast<unsigned long>(symbol->lIndex), static_cast<int>(idBits));
    EncHuff(enc, b15, rdx);
    EncHuff(enc, b15, rdy);
    InitEncoder(temp->writer());
    MQInitEnc(temp->coder());
    EncodeRefinementRegion(temp->coder(), &state->RefinementContexts, &symbol->Bitmap, &ref->Bitmap, rdx, rdy,
                           static_cast<int>(p->lRTemplate), atx, aty, false);
    MQFlush(temp->coder());
    EncHuff(enc, &state->aHuffStandard[kTableB1 - 1], temp->writer()->lSize);
    temp->CopyTo(enc);
    return;
  }
  MQEncodeInt(&ia->Proc[kIAAI], 1);
  MQEncodeInt(&ia->Proc[kIAID], symbol->lIndex);
  MQEncodeInt(&ia->Proc[kIARDX], rdx);
  MQEncodeInt(&ia->Proc[kIARDY], rdy);
  EncodeRefinementRegion(&state->MQEncoder, &state->RefinementContexts, &symbol->Bitmap, &ref->Bitmap, rdx, rdy,
                         static_cast<int>(p->lRTemplate), atx, aty, false);
}

void EncodeDirectSymbol(SDPARAM* p, SYMBOL* symbol) {
  GRPARAM gr{};
  gr.pState = p->pState;
  gr.lTemplate = p->lTemplate & 3;
  for (int k = 0; k < 4; ++k) {
    gr.alATX[k] = p->alATX[k];
    gr.alATY[k] = p->alATY[k];
  }
  EncodeGenericRegion(&gr, &symbol->Bitmap);
}

}  // namespace

uint32_t SymbolCodeLength(uint64_t count) {
  uint32_t n = 0;
  while (count > 1 && ((count - 1) >> n) != 0) ++n;
  return n;
}

void SelectHuffTable(HUFFTABLE* standard, HUFFTABLE** chosen, int32_t* setting, int t0, int t1, int t2) {
  const int numbers[3] = {t0, t1, t2};
  if (*setting < 0 || *setting > 2 || numbers[*setting] == 0) {
    PrintError("Invalid Setting for a Huffman Table, using 0");
    *setting = 0;
  }
  *chosen = &standard[numbers[*setting] - 1];
}

void EncodeSymbolDictionarySegment(SDPARAM* p, SYMBOL* symbols, SYMBOL* references, unsigned long nReferences) {
  ENCODE_STATE* state = p->pState;
  ENCODER* enc = &state->Encoder;
  HUFFTABLE* standard = state->aHuffStandard;
  SelectHuffTable(standard, &p->pTableDH, &p->lHuffDH, 4, 5, 0);
  SelectHuffTable(standard, &p->pTableDW, &p->lHuffDW, 2, 3, 0);
  SelectHuffTable(standard, &p->pTableBMSize, &p->lHuffBMSize, 1, 0, 0);
  SelectHuffTable(standard, &p->pTableAggInst, &p->lHuffAggInst, 1, 0, 0);
  const bool huff = p->bHuff != 0, refAgg = p->bRefAgg != 0;
  if (refAgg && p->lRTemplate == 0 && !RefinementATValid(p->lRATX1, p->lRATY1)) {
    PrintWarning("Refinement AT Pixel Not Yet Coded - Using (-1,-1)");
    p->lRATX1 = -1;
    p->lRATY1 = -1;
  }

  // T.88 7.4.2.1.1; bits 8 and 9 (coding context used, retained) stay 0.
  // A field the coding does not use must be 0: the table selections without
  // SDHUFF, SDTEMPLATE with it, SDRTEMPLATE without SDREFAGG.
  const uint32_t tables = static_cast<uint32_t>(p->lHuffDH) << 2 | static_cast<uint32_t>(p->lHuffDW) << 4 |
                          static_cast<uint32_t>(p->lHuffBMSize) << 6 | static_cast<uint32_t>(p->lHuffAggInst) << 7;
  EncodeBits(enc,
             (huff ? 1u | tables : 0u) | (refAgg ? 2u : 0u) | (huff ? 0u : (p->lTemplate & 3) << 10) |
                 (refAgg ? (p->lRTemplate & 1) << 12 : 0u),
             16);
  if (!huff) {
    const unsigned nAT = (p->lTemplate & 3) == 0 ? 4 : 1;
    for (unsigned k = 0; k < nAT; ++k) {
      EncodeBits(enc, static_cast<uint8_t>(p->alATX[k]), 8);
      EncodeBits(enc, static_cast<uint8_t>(p->alATY[k]), 8);
    }
  }
  if (refAgg && (p->lRTemplate & 1) == 0) {
    EncodeBits(enc, static_cast<uint8_t>(p->lRATX1), 8);
    EncodeBits(enc, static_cast<uint8_t>(p->lRATY1), 8);
    EncodeBits(enc, static_cast<uint8_t>(p->lRATX2), 8);
    EncodeBits(enc, static_cast<uint8_t>(p->lRATY2), 8);
  }
  EncodeBits(enc, p->nExSyms, 32);
  EncodeBits(enc, p->nNewSyms, 32);

  // Symbol IDs of refinement/aggregate coding (T.88 6.5.8.2.3): arithmetic
  // IAID takes ceil(log2(n)) bits, Huffman codes at least one bit.
  const uint64_t available = uint64_t{nReferences} + p->nNewSyms;
  const uint32_t codeLen = SymbolCodeLength(available);
  const uint32_t huffIdBits = std::max<uint32_t>(codeLen, 1);
  TemporaryWriter temp;
  const bool useTemp = huff && (refAgg || !p->bDirect);
  if (!huff) {
    CreateMQInt(&state->IntContexts, codeLen, &state->MQEncoder);
    MQInitEnc(&state->MQEncoder);
  }
  ResetMQBuffer(&state->GenericContexts, kContextStoreSize);
  ResetMQBuffer(&state->RefinementContexts, kRefinementContextStoreSize);
  MQINT* ia = &state->IntContexts;

  uint32_t previousHeight = 0;
  for (unsigned long first = 0; first < p->nNewSyms;) {
    const uint32_t height = symbols[first].Bitmap.lHeight;
    unsigned long end = first;
    while (end < p->nNewSyms && symbols[end].Bitmap.lHeight == height) ++end;
    const long hcdh = static_cast<long>(height) - static_cast<long>(previousHeight);
    if (huff) EncHuff(enc, p->pTableDH, hcdh);
    else MQEncodeInt(&ia->Proc[kIADH], hcdh);
    previousHeight = height;
    uint32_t previousWidth = 0;
    uint64_t totalWidth = 0;
    for (unsigned long i = first; i < end; ++i) {
      SYMBOL* symbol = &symbols[i];
      const long dw = static_cast<long>(symbol->Bitmap.lWidth) - static_cast<long>(previousWidth);
      previousWidth = symbol->Bitmap.lWidth;
      totalWidth += symbol->Bitmap.lWidth;
      if (huff) EncHuff(enc, p->pTableDW, dw);
      else MQEncodeInt(&ia->Proc[kIADW], dw);
      if (refAgg) EncodeRefinedSymbol(p, symbol, references, huffIdBits, &temp);
      else if (!huff) EncodeDirectSymbol(p, symbol);
    }
    if (huff) EncHuffOOB(enc, p->pTableDW);
    else MQEncodeOOB(&ia->Proc[kIADW]);
    if (huff && !refAgg) EncodeCollectiveBitmap(p, &symbols[first], end - first, totalWidth, useTemp ? &temp : nullptr);
    first = end;
  }

  // Export flags (T.88 6.5.10): alternating runs, starting with unexported.
  const unsigned long skipped = p->nExSyms == available ? 0 : nReferences;
  const unsigned long runs[2] = {skipped, static_cast<unsigned long>(available - skipped)};
  for (unsigned long run : runs) {
    if (huff) EncHuff(enc, &standard[kTableB1 - 1], static_cast<long>(run));
    else MQEncodeInt(&ia->Proc[kIAEX], static_cast<long>(run));
  }
  if (!huff) {
    MQFlush(&state->MQEncoder);
    DestroyMQInt(&state->IntContexts);
  }
  EncodeFlush(enc);
}
