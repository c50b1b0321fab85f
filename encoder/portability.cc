// Advice for section words that common JBIG2 readers mis-read although the
// files are conformant (the README's compatibility table lists the readers'
// defects): the words of a mode that codes the same page losslessly and that
// jbig2dec, poppler and pdf.js all read.
#include <cstdio>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "encoder/settings.h"
#include "encoder/transclib.h"

namespace {

enum ReaderBit : unsigned { kJbig2dec = 1, kPoppler = 2, kPdfjs = 4 };

struct Advice {
  std::vector<std::string> what;
  unsigned readers = 0;
  std::vector<std::string> dropped;  // keywords left out of the portable words
  const char* noRefinement = nullptr;  // the word that turns refinement off, added to the portable words
  void Add(const char* text, unsigned who, std::initializer_list<const char*> drop) {
    what.push_back(text);
    readers |= who;
    dropped.insert(dropped.end(), drop.begin(), drop.end());
  }
};

// The section's words with the advice applied.
std::string PortableWords(const PARAMETER* p, const Advice& advice) {
  static const char* const kTypes[] = {"gr", "sr", "ht"};
  std::string words = p->lType >= 0 && p->lType <= 2 ? kTypes[p->lType] : "gr";
  if (p->lX0 || p->lY0 || p->lX1 || p->lY1) {
    char box[64];
    std::snprintf(box, sizeof box, ":(%d,%d,%d,%d)", p->lX0, p->lY0, p->lX1, p->lY1);
    words += box;
  }
  for (uint32_t k = 0; k < p->nKeys; ++k) {
    const std::string name = p->ppszKeys[k];
    bool drop = advice.noRefinement && (name == "sbrefine" || name == "soft");
    for (const std::string& d : advice.dropped) drop = drop || name == d;
    if (drop) continue;
    words.append(":").append(name);
    if (p->plValues[k] != 1) words.append("=").append(std::to_string(p->plValues[k]));
  }
  if (advice.noRefinement) words.append(":").append(advice.noRefinement);
  return words;
}

int WriteAdvice(PARAMETER* section, char* text, unsigned long size) {
  Advice advice;
  const SectionSettings s = SectionOf(*section, false);
  const TextSettings& t = s.text;
  const bool huff = t.huff != 0;
  const bool refinementPass = t.sbrefine == 0 && t.soft != 0;
  const bool black = t.defpixel != 0;
  const bool refines = t.sbrefine != 0 && t.soft != 0;
  switch (section->lType) {
    case 1:  // text
      if (huff && (refines || t.refdict != 0 || t.allrefdict != 0)) {
        advice.Add("Refinement in Huffman Text Regions", kJbig2dec | kPdfjs, {"refdict", "allrefdict"});
        // A refinement pass over text drawn on black is the next defect
        // (below); exact matching alone needs no refinement at all.
        if (refines) advice.noRefinement = black ? "soft=0" : "sbrefine=0";
      } else if (!huff && black && refinementPass) {
        advice.Add("Refinement Regions over Text Drawn on Black", kPdfjs, {"sbrefine"});
      }
      if (huff && t.direct != 0)
        advice.Add("Uncompressed Collective Bitmaps", kPoppler, {"direct"});
      if (s.generic.mmr != 0 && t.residue != 0)
        advice.Add("MMR Coding", kPoppler, {"mmr"});
      if ((refinementPass || advice.noRefinement) && t.tpron != 0)
        advice.Add("Typical Prediction in Refinement Regions", kPoppler | (t.rtemplate != 0 ? kJbig2dec : 0u),
                   {"tpron"});
      break;
    case 2:  // halftone
      if (s.halftone.skip != 0) advice.Add("Halftone Skipping", kPoppler, {"skip"});
      [[fallthrough]];
    default:
      if (s.generic.mmr != 0) advice.Add("MMR Coding", kPoppler, {"mmr"});
      break;
  }
  if (advice.what.empty()) return 0;
  std::string message = "Common Readers Mis-read ";
  for (size_t i = 0; i < advice.what.size(); ++i) message.append(i ? " and " : "").append(advice.what[i]);
  const char* const names[] = {"jbig2dec", "poppler", "pdf.js"};
  std::string readers;
  for (unsigned i = 0; i < 3; ++i)
    if (advice.readers & (1u << i)) readers.append(readers.empty() ? "" : ", ").append(names[i]);
  message += " (" + readers + ") - " + PortableWords(section, advice) + " Codes the Same Page for All Readers";
  std::snprintf(text, size, "%s", message.c_str());
  return 1;
}

}  // namespace

// Advice that cannot be formed for want of memory is left out, as messages
// are: it never ends the caller's work.
int PortabilityAdvice(PARAMETER* section, char* text, unsigned long size) noexcept {
  if (!section || !text || size == 0) return 0;
  text[0] = '\0';
  try {
    return WriteAdvice(section, text, size);
  } catch (const std::bad_alloc&) {
    text[0] = '\0';
    return 0;
  }
}
