// The text section pipeline: marks are extracted and matched, written as one
// or two symbol dictionaries (T.88 7.4.2) and a text region (T.88 7.4.3),
// with an optional residue generic region, refinement pass (T.88 7.4.7) and
// complementing region for white-on-black text.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "common/checked_alloc.h"
#include "common/messages.h"
#include "kernels/pixel_words.h"
#include "common/segment_header.h"
#include "encoder/encode_state.h"
#include "encoder/refinement_region_encoder.h"
#include "encoder/section_coding.h"
#include "encoder/segment_writer.h"
#include "encoder/symbol.h"
#include "encoder/symbol_dictionary_encoder.h"
#include "encoder/text_choices.h"
#include "common/limits.h"
#include "encoder/global_symbols.h"
#include "encoder/lossy_classes.h"
#include "encoder/text_limits.h"
#include "encoder/text_region_encoder.h"

namespace {

void ReadTextRegionParameters(ENCODE_STATE* state, const TextSettings& t, TRPARAM* tr) {
  ReportNotes(t.notes);
  *tr = TRPARAM{};
  tr->pState = state;
  tr->bHuff = t.huff != 0;
  tr->bRefine = t.sbrefine != 0 && t.soft != 0;
  tr->lStrips = 1u << t.strip;
  tr->bDefPixel = t.defpixel != 0;
  tr->lCombOp = static_cast<uint32_t>(t.combop.value);
  tr->bTransposed = t.transposed != 0;
  tr->lRefCorner = static_cast<uint32_t>(t.refcorner.value) & 3;
  tr->lDSOffset = t.dsoffset;
  tr->lHuffFS = t.hufffs;
  tr->lHuffDS = t.huffds;
  tr->lHuffDT = t.huffdt;
  tr->lHuffRDW = t.huffrdw;
  tr->lHuffRDH = t.huffrdh;
  tr->lHuffRDX = t.huffrdx;
  tr->lHuffRDY = t.huffrdy;
  tr->lHuffRSize = t.huffrsize;
  tr->lRTemplate = tr->bRefine && t.rtemplate != 0 ? 1 : 0;
  tr->lRATX1 = static_cast<int8_t>(t.ratx[0].value);
  tr->lRATY1 = static_cast<int8_t>(t.raty[0].value);
  tr->lRATX2 = static_cast<int8_t>(t.ratx[1].value);
  tr->lRATY2 = static_cast<int8_t>(t.raty[1].value);
}

void ReadDictionaryParameters(ENCODE_STATE* state, const TextSettings& t, const GRPARAM& gr, SDPARAM* sd) {
  *sd = SDPARAM{};
  sd->pState = state;
  sd->bHuff = t.huff != 0;
  sd->lHuffDH = t.huffdh;
  sd->lHuffDW = t.huffdw;
  sd->lHuffBMSize = t.huffbmsize;
  sd->lHuffAggInst = t.huffagginst;
  sd->lTemplate = gr.lTemplate;
  for (int k = 0; k < 4; ++k) {
    sd->alATX[k] = gr.alATX[k];
    sd->alATY[k] = gr.alATY[k];
  }
  sd->lRTemplate = t.rtemplate != 0 ? 1 : 0;
  sd->lRATX1 = static_cast<int8_t>(t.ratx[0].value);
  sd->lRATY1 = static_cast<int8_t>(t.raty[0].value);
  sd->lRATX2 = static_cast<int8_t>(t.ratx[1].value);
  sd->lRATY2 = static_cast<int8_t>(t.raty[1].value);
  sd->bDirect = t.direct != 0;
}

// Owns the marks of one section.
struct Marks {
  SYMBOL* items = nullptr;
  unsigned long count = 0;
  ~Marks() {
    for (unsigned long i = 0; i < count; ++i) DestroyBMP(&items[i].Bitmap);
    std::free(items);
  }
};

void WriteGenericRegion(ENCODE_STATE* state, GRPARAM* gr, BMP* bitmap, const SectionSettings& p, uint32_t op) {
  StartSegment(&state->Encoder);
  EncodeRegionSegment(&state->Encoder, bitmap, static_cast<uint32_t>(p.x0), static_cast<uint32_t>(p.y0), op);
  EncodeGenericRegionSegment(gr, bitmap);
}

// The refinement pass: the section's marks refined against the image a
// decoder draws from the lossy text region, in the decoder's drawing order.
// `blank`, when given, is a white bitmap of the section's size that the
// target may be drawn on (spare bits aside, which no coder reads), instead
// of a new one.
void WriteRefinementPass(ENCODE_STATE* state, const SectionSettings& p, TRPARAM* tr, std::span<SYMBOL> instances,
                         std::vector<SYMBOL>& dictionary, BMP* section, BMP* blank, uint32_t op) {
  BMP reference, own{};
  CreateBMPChecked(&reference, section->lWidth, section->lHeight, static_cast<int>(tr->bDefPixel));
  if (!blank) CreateBMPChecked(&own, section->lWidth, section->lHeight, static_cast<int>(tr->bDefPixel));
  BMP& target = blank ? *blank : own;
  std::vector<SYMBOL> prepared;
  PrepareSymbolInstances(tr, instances.data(), instances.size(), dictionary.data(), &prepared);
  DrawSymbolInstances(tr, prepared, &reference);
  for (SYMBOL& instance : instances)
    CombineBMP(&target, &instance.Bitmap, instance.lX, instance.lY, static_cast<int>(tr->lCombOp));
  RRPARAM rr{};
  rr.pState = state;
  const TextSettings& t = p.text;
  rr.lTemplate = t.rtemplate != 0 ? 1 : 0;
  rr.pReference = &reference;
  rr.bTPGRON = t.tpron != 0;
  rr.lATX1 = t.ratx[0];
  rr.lATY1 = t.raty[0];
  rr.lATX2 = t.ratx[1];
  rr.lATY2 = t.raty[1];
  StartSegment(&state->Encoder);
  EncodeRegionSegment(&state->Encoder, &target, static_cast<uint32_t>(p.x0), static_cast<uint32_t>(p.y0), op);
  EncodeRefinementRegionSegment(&rr, &target);
  FinishSegmentRefPrev(&state->Encoder, kSegImmediateRefinementRegion, 0);
  DestroyBMP(&reference);
  DestroyBMP(&own);
}

// Takes the marks of the section's rows outside `pictures` (the pictures'
// pixels stay for the residue region) as ExtractSymbols does, leaving dots
// of up to `leave` pixels square, which *dots counts. A mark that reaches
// into a picture's rows is taken up to them.
void TakeMarks(BMP* section, const std::vector<RowRange>& pictures, uint32_t leave, Marks* marks,
               unsigned long* dots) {
  if (pictures.empty()) {
    ExtractSymbols(section, &marks->items, &marks->count, leave, dots);
    return;
  }
  *dots = 0;
  marks->items = Checked(static_cast<SYMBOL*>(std::malloc(sizeof(SYMBOL))));
  uint32_t top = 0;
  for (size_t k = 0; k <= pictures.size(); ++k) {
    const uint32_t end = k < pictures.size() ? pictures[k].begin : section->lHeight;
    if (end > top) {
      BMP band = RowBand(*section, top, end - top);
      Marks found;
      unsigned long left = 0;
      ExtractSymbols(&band, &found.items, &found.count, leave, &left);
      *dots += left;
      SYMBOL* grown = static_cast<SYMBOL*>(std::realloc(marks->items, (marks->count + found.count + 1) * sizeof(SYMBOL)));
      marks->items = Checked(grown);
      for (unsigned long i = 0; i < found.count; ++i) {
        found.items[i].lY += static_cast<int32_t>(top);
        marks->items[marks->count++] = found.items[i];
      }
      found.count = 0;  // the bitmaps now belong to `marks`
    }
    if (k < pictures.size()) top = pictures[k].end;
  }
}

// Takes the marks still in the section's rows outside `pictures` (the dots
// TakeMarks left) and merges them with `marks` in the order the extraction
// scan finds marks, as if one scan had taken them all.
void TakeRemainingMarks(BMP* section, const std::vector<RowRange>& pictures, Marks* marks) {
  Marks more;
  unsigned long none = 0;
  TakeMarks(section, pictures, 0, &more, &none);
  const unsigned long total = marks->count + more.count;
  SYMBOL* merged = Checked(static_cast<SYMBOL*>(std::malloc(std::max(total, 1UL) * sizeof(SYMBOL))));
  auto before = [](const SYMBOL& a, const SYMBOL& b) {
    return a.lY != b.lY ? a.lY < b.lY : FirstPixelColumn(a) < FirstPixelColumn(b);
  };
  std::merge(marks->items, marks->items + marks->count, more.items, more.items + more.count, merged, before);
  std::free(marks->items);
  marks->items = merged;
  marks->count = total;
  more.count = 0;  // the bitmaps now belong to `marks`
}

// Where "residue" is not given: when the text coding of the section came
// out larger than a generic region of it (a picture, a dithered or noisy
// page), the section becomes one generic region, as if every mark had been
// left to the residue. `original` is the section as it was given.
// True when the generic region took the text coding's place.
bool KeepSmallerCoding(ENCODE_STATE* state, GRPARAM* gr, BMP* original, const SectionSettings& p,
                       uint32_t firstSegment) {
  ENCODER* enc = &state->Encoder;
  const uint64_t textBytes = SegmentBytesFrom(enc, firstSegment);
  // A generic region within a tenth of the text coding is coded in full.
  if (!gr->bMMR && textBytes * 10 < EstimateGenericBytes(*gr, original) * 9) return false;
  // Placed as every region of the section is (XOR when the page is coded
  // as the complement of its image).
  const uint32_t trial = NextSegmentNumber(enc);
  WriteGenericRegion(state, gr, original, p, state->lPlaceOp);
  if (SegmentBytesFrom(enc, trial) >= textBytes) {
    DiscardSegmentsFrom(enc, trial);
    return false;
  }
  DropSegments(enc, firstSegment, trial);
  return true;
}

// Draws the instances back into the section, which holds the rest of its
// pixels, and undoes the complementing of the section (for "defpixel" and
// "invert") and of the symbols (for AND and XNOR).
void PutBack(BMP* section, std::span<SYMBOL> instances, bool invertSymbols, bool defPixel, bool invert) {
  for (SYMBOL& m : instances) {
    if (invertSymbols) InvertBMP(&m.Bitmap);
    CombineBMP(section, &m.Bitmap, m.lX, m.lY, kOpOr);
  }
  if (defPixel) InvertBMP(section);
  if (invert) InvertBMP(section);
}

// The gate of lossy coding for the page (tests may loosen it).
GateSettings PageGate(const ENCODE_STATE* state) {
  if (state->pLossyHooks && state->pLossyHooks->pGate) return *state->pLossyHooks->pGate;
  GateSettings gate;
  gate.tolerance = GateTolerance(state->lResolution);
  return gate;
}

// With `restore` the section is left as it was given.
void CodeTextSection(ENCODE_STATE* state, BMP* section, const SectionSettings& p, GRPARAM& gr, bool autoResidue,
                     bool restore);

}  // namespace

void EncodeTextSection(ENCODE_STATE* state, BMP* section, const SectionSettings& p) {
  GRPARAM gr;
  ReadGenericParameters(&gr, state, p.generic);
  const bool autoResidue = !p.text.residue.given;
  const uint32_t firstSegment = NextSegmentNumber(&state->Encoder);
  // The section as given, for the generic fallback: the page itself when
  // the section is the page (taken apart and put together again, so the
  // caller's page is left as it was), the page it was copied from when it
  // is all of it, else a copy of its own.
  const bool inPlace = state->pSectionSource == section;
  BMP copy{};
  ScopeExit freeCopy([&] { DestroyBMP(&copy); });
  BMP* original = state->pSectionSource;
  if (autoResidue && !original) {
    CopyBMP(&copy, section);
    original = &copy;
  }
  // The page is lossy only where a substitute is written: a section whose
  // text coding gives way to the exact generic region leaves it as it was.
  const uint32_t lossyBefore = state->bLossyPage;
  CodeTextSection(state, section, p, gr, autoResidue, inPlace);
  if (autoResidue && original->pData && KeepSmallerCoding(state, &gr, original, p, firstSegment))
    state->bLossyPage = lossyBefore;
}

namespace {

void CodeTextSection(ENCODE_STATE* state, BMP* section, const SectionSettings& p, GRPARAM& gr, bool autoResidue,
                     bool restore) {
  ENCODER* enc = &state->Encoder;
  const TextSettings& t = p.text;
  TRPARAM tr;
  ReadTextRegionParameters(state, t, &tr);
  const bool invertSymbols = t.invertSymbols;
  const bool invert = t.invert != 0;
  const int32_t residueSize = t.residue;
  const bool soft = t.soft != 0;
  const bool refDict = t.refdict != 0 || t.allrefdict != 0;
  // Lossy coding draws marks as like marks' symbols; symbols coded
  // complemented (AND, XNOR) are left lossless.
  const bool substitute = t.lossy != 0 && !invertSymbols;
  const GateSettings gate = PageGate(state);

  if (invert) InvertBMP(section);
  if (tr.bDefPixel) InvertBMP(section);
  Marks marks;
  // A dithered or halftoned picture's rows are left to the residue region
  // whole. Dots are left in the section at first; unless they make it a
  // dithered or speckled one they are taken as marks after all.
  const std::vector<RowRange> pictures = autoResidue ? PictureBands(section) : std::vector<RowRange>{};
  unsigned long dots = 0;
  TakeMarks(section, pictures, autoResidue ? kDotSize : 0, &marks, &dots);
  if (dots > 0 && !ManyDots(dots, marks.count)) {
    TakeRemainingMarks(section, pictures, &marks);
    dots = 0;
  }
  bool anyResidue = dots > 0 || !pictures.empty();
  SortSymbolsByHeight(marks.items, marks.count);
  const long count = static_cast<long>(marks.count);
  if (residueSize != 0) {
    for (long i = 0; i < count; ++i) {
      const BMP& b = marks.items[i].Bitmap;
      if (static_cast<int64_t>(b.lWidth) <= residueSize && static_cast<int64_t>(b.lHeight) <= residueSize)
        marks.items[i].bResidue = 1;
    }
  }
  // Marks the document's pages share are instances of the global
  // dictionary's symbols (IDs 0 .. G - 1); the others are matched among
  // themselves as on a page of their own, their IDs following the globals.
  const GLOBAL_SYMBOLS* globals = state->pGlobals && !invertSymbols && !invert && !tr.bDefPixel ? state->pGlobals : nullptr;
  const uint32_t nGlobals = globals ? static_cast<uint32_t>(globals->symbols.size()) : 0;
  std::vector<int32_t> globalId(globals ? marks.count : 0, -1);
  for (size_t i = 0; i < globalId.size(); ++i) {
    SYMBOL& m = marks.items[i];
    if (m.bResidue || (globalId[i] = globals->Find(m.Bitmap)) < 0) continue;
    m.bResidue = 1;  // out of the page's matching
  }
  // No lossy symbol may lie nearer another mark the gate tells apart from
  // it than the mark it is drawn for (reading_guard.h).
  std::unique_ptr<ReadingGuard> guard;
  if (substitute) guard = std::make_unique<ReadingGuard>(marks.items, marks.count, gate);
  // With lossy coding, marks like a shared class's representative are
  // drawn as its symbol, made with the same gate.
  if (substitute && globals && globals->representatives && globals->representatives->gate == gate)
    SubstituteSharedSymbols(marks.items, marks.count, *globals->representatives, globals->symbols.data(), *guard,
                            &globalId);
  LossyClasses lossyClasses;
  if (substitute) lossyClasses = SubstituteMarks(marks.items, count, gate, *guard);
  EvaluateMatches(marks.items, count, p);
  SelectClasses(marks.items, count, t);
  for (size_t i = 0; i < globalId.size(); ++i)
    if (globalId[i] >= 0) {
      SYMBOL& m = marks.items[i];
      m.bResidue = m.bDictionary = m.bRefine = 0;
      m.bExact = 1;
    }

  // Without a refinement dictionary a refined mark is only ever an instance.
  if (!refDict)
    for (long i = 0; i < count; ++i)
      if (marks.items[i].bRefine) marks.items[i].bDictionary = 0;
  KeepWithinDecoderLimits(marks.items, count, kMaxSymbolDictionaryPixels, kMaxTextInstances);
  if (substitute) {
    lossyClasses.BuildSymbols(marks.items, count, *guard);
    guard.reset();
  }

  // Symbol IDs: the first dictionary's symbols, then the refined ones.
  unsigned long nFirst = 0, nRefined = 0;
  for (long i = 0; i < count; ++i) {
    SYMBOL& m = marks.items[i];
    if (m.bResidue || !m.bDictionary) continue;
    if (m.bRefine) ++nRefined;
    else ++nFirst;
  }
  // The symbols by ID: the globals, the first dictionary's, the refined ones.
  std::vector<SYMBOL> allSymbols(nGlobals + nFirst + nRefined);
  if (globals) std::copy(globals->symbols.begin(), globals->symbols.end(), allSymbols.begin());
  SYMBOL* dictionary = allSymbols.data() + nGlobals;
  // The instances are the marks that are not residue, kept in order at the
  // front of the marks' array (residue marks go back into the section and
  // their bitmaps are freed); symbol IDs by the marks' first places.
  std::vector<int32_t> idOf(marks.count, -1);
  unsigned long f = 0, r = 0, kept = 0;
  for (long i = 0; i < count; ++i) {
    SYMBOL& m = marks.items[i];
    if (m.bResidue) {
      CombineBMP(section, &m.Bitmap, m.lX, m.lY, kOpOr);
      DestroyBMP(&m.Bitmap);
      anyResidue = true;
      continue;
    }
    if (invertSymbols) InvertBMP(&m.Bitmap);
    if (!globalId.empty() && globalId[i] >= 0) {
      m.lIndex = globalId[i];
    } else if (m.bDictionary && m.bRefine) {
      // A refined symbol names the symbol it refines within its dictionary's inputs.
      dictionary[nFirst + r] = m;
      dictionary[nFirst + r].lIndex = idOf[m.lMatch] - static_cast<int32_t>(nGlobals);
      m.lIndex = static_cast<int32_t>(nGlobals + nFirst + r);
      ++r;
    } else if (m.bDictionary) {
      m.lIndex = static_cast<int32_t>(nGlobals + f);
      dictionary[f] = m;
      dictionary[f].lIndex = static_cast<int32_t>(f);
      if (const BMP* built = lossyClasses.BuiltFor(i)) dictionary[f].Bitmap = *built;
      ++f;
    } else {
      m.lIndex = idOf[m.lMatch];
    }
    idOf[i] = m.lIndex;
    marks.items[kept++] = m;
  }
  marks.count = kept;
  const std::span<SYMBOL> instances(marks.items, kept);
  // Checked before written: every substitute as a decoder will draw it.
  bool anySubstitute = false;
  for (const SYMBOL& m : instances) anySubstitute = anySubstitute || m.bSubstitute;
  if (anySubstitute) {
    state->bLossyPage = 1;
    const LOSSY_HOOKS* hooks = state->pLossyHooks;
    if (hooks && hooks->TamperShared && nGlobals) hooks->TamperShared(allSymbols.data(), nGlobals);
    if (hooks && hooks->Tamper) hooks->Tamper(allSymbols.data(), allSymbols.size());
    if (!SubstitutesPassGate(tr, instances, allSymbols.data(), gate)) {
      if (restore) PutBack(section, instances, invertSymbols, tr.bDefPixel != 0, invert);
      throw LossyCheckFailure{};
    }
  }

  // With SBDEFPIXEL 1 and no instance a text region would draw nothing, yet
  // the section is black wherever it held no mark: the generic region carries it.
  // Placed by XOR, a residue under SBDEFPIXEL 1 keeps the polarity of its
  // marks: the text region draws them black, the residue clears them again.
  const uint32_t place = state->lPlaceOp;
  bool residueInverted = false;
  if (anyResidue || (tr.bDefPixel && instances.empty())) {
    anyResidue = true;
    residueInverted = tr.bDefPixel && (place != kOpXor || instances.empty());
    if (residueInverted) InvertBMP(section);
    WriteGenericRegion(state, &gr, section, p, place);
  }
  if (!instances.empty()) {
    SDPARAM sd;
    ReadDictionaryParameters(state, t, gr, &sd);
    if (!sd.bHuff && !p.generic.templ.given) sd.lTemplate = ChooseDictionaryTemplate(gr, dictionary, nFirst);
    const uint32_t dictionaryTemplate = sd.lTemplate;
    sd.nNewSyms = sd.nExSyms = static_cast<uint32_t>(nFirst);
    // With every mark a global symbol's copy the page needs no dictionary.
    const bool pageDictionary = nFirst + nRefined > 0 || !globals;
    if (pageDictionary) {
      StartSegment(enc);
      EncodeSymbolDictionarySegment(&sd, dictionary, nullptr, 0);
      FinishSegmentBasic(enc, kSegSymbolDictionary, 1);
    }
    unsigned long nSyms = nGlobals + nFirst;
    if (refDict && pageDictionary) {
      ReadDictionaryParameters(state, t, gr, &sd);
      sd.lTemplate = dictionaryTemplate;
      sd.bRefAgg = 1;
      sd.nNewSyms = static_cast<uint32_t>(nRefined);
      sd.nExSyms = static_cast<uint32_t>(nFirst + nRefined);
      StartSegment(enc);
      EncodeSymbolDictionarySegment(&sd, dictionary + nFirst, dictionary, nFirst);
      FinishSegmentRefPrev(enc, kSegSymbolDictionary, 1);
      nSyms += nRefined;
    }
    // With SBDEFPIXEL 1 the residue region placed by OR holds the other marks
    // as white on black, so the regions meet with AND.
    const uint32_t op = place == kOpXor ? kOpXor : tr.bDefPixel && anyResidue ? kOpAnd : kOpOr;
    const bool lossy = !tr.bRefine && soft;
    if (!tr.bHuff && !t.dsoffset.given) {
      std::vector<SYMBOL> prepared;
      PrepareSymbolInstances(&tr, instances.data(), instances.size(), allSymbols.data(), &prepared);
      tr.lDSOffset = ChooseDSOffset(tr, prepared);
    }
    StartSegment(enc);
    EncodeRegionSegment(enc, section, static_cast<uint32_t>(p.x0), static_cast<uint32_t>(p.y0), op);
    EncodeSymbolRegionSegment(&tr, instances.data(), instances.size(), allSymbols.data(), nSyms);
    const uint32_t type = lossy           ? kSegIntermediateTextRegion
                          : anySubstitute ? kSegImmediateTextRegion
                                          : kSegImmediateLosslessTextRegion;
    if (!globals) {
      FinishSegmentRefPrev(enc, type, lossy ? 1 : 0);
    } else {
      // The global dictionary's symbols come first (T.88 6.4: SBSYMS follows
      // the order of the referred dictionaries).
      SEGMENT_INFO info{};
      info.lType = type;
      info.lPage = SegmentTables(enc)->lPage;
      info.bRetain = lossy ? 1 : 0;
      info.alReferred[info.nReferred++] = globals->lSegment;
      if (pageDictionary) info.alReferred[info.nReferred++] = NextSegmentNumber(enc) - 1;
      FinishSegment(enc, &info);
    }
    // Every black pixel belonged to a mark: without residue and with a white
    // default the section is now white, and the target is drawn on it.
    BMP* blank = !anyResidue && !tr.bDefPixel && !restore ? section : nullptr;
    if (lossy) WriteRefinementPass(state, p, &tr, instances, allSymbols, section, blank, op);
  }
  if (invert) {
    BMP white;
    CreateBMPChecked(&white, section->lWidth, section->lHeight, 0);
    WriteGenericRegion(state, &gr, &white, p, kOpXnor);
    DestroyBMP(&white);
  }
  if (!restore) return;
  // The section holds the residue (dots and residue marks among it); the
  // other marks are disjoint groups of its pixels, so drawing them back
  // gives the section as it was taken apart.
  if (residueInverted) InvertBMP(section);
  PutBack(section, instances, invertSymbols, tr.bDefPixel != 0, invert);
}

}  // namespace

void WriteGlobalDictionary(ENCODE_STATE* state, GLOBAL_SYMBOLS* globals, const SectionSettings& section) {
  ENCODER* enc = &state->Encoder;
  GRPARAM gr;
  ReadGenericParameters(&gr, state, section.generic);
  SDPARAM sd;
  ReadDictionaryParameters(state, section.text, gr, &sd);
  const unsigned long n = globals->symbols.size();
  if (!sd.bHuff && !section.generic.templ.given)
    sd.lTemplate = ChooseDictionaryTemplate(gr, globals->symbols.data(), n);
  sd.nNewSyms = sd.nExSyms = static_cast<uint32_t>(n);
  StartSegment(enc);
  EncodeSymbolDictionarySegment(&sd, globals->symbols.data(), nullptr, 0);
  SEGMENT_INFO info{};
  info.lType = kSegSymbolDictionary;
  info.lPage = 0;  // no page: every page may refer to it
  info.bRetain = 1;
  globals->lSegment = NextSegmentNumber(enc);
  FinishSegment(enc, &info);
}
