// The defects of other JBIG2 readers that make them mis-read conformant
// files of ours, each tied to the T.88 clause it breaks, and the modes they
// mis-read. The compatibility test asserts this table and prints it into the
// README; other tests that read our files with those readers skip the cells
// it names.
#pragma once

#include <string>

#include "tests/interop/readers.h"

namespace jb2test {

// What a reader made of a mode, the worst over the test pages: the page
// exactly; no page or a wrong one with an error or warning; a wrong page
// without a word.
enum class Outcome { kExact, kFails, kWrong };

inline const char* OutcomeName(Outcome o) { return o == Outcome::kExact ? "exact" : o == Outcome::kFails ? "fails" : "wrong"; }

// A reader's departure from T.88 that makes it mis-read conformant files.
struct Defect {
  const char* id;
  Reader reader;
  const char* clause;
  const char* what;
};

inline const Defect kDefects[] = {
    {"J1", Reader::kJbig2dec, "7.4.3.1.3",
     "reads a text region's refinement AT bytes only in arithmetic mode, although they are there whenever "
     "SBREFINE = 1 and SBRTEMPLATE = 0: in Huffman mode it reads SBNUMINSTANCES four bytes early and gives up "
     "on the region"},
    {"J2", Reader::kJbig2dec, "6.4.11 steps 5-7, 6.5.8.2.2 steps 5-7, E.3.5",
     "does not start a new arithmetic decoder for each Huffman-mode refinement bitmap (each is its own "
     "RSIZE/BMSIZE-byte MQ stream), so refined instances and refinement/aggregate symbols come out wrong"},
    {"J3", Reader::kJbig2dec, "6.3.5.6 step 3b, Figure 15",
     "decodes the typical-prediction bit of a refinement region with GRTEMPLATE = 1 (TPGRON = 1) wrongly"},
    {"P1", Reader::kPoppler, "6.2.6 (T.6 2.2.3.1, pass mode)",
     "an all-white MMR row under a row of two or more black runs, coded as pass codes and a closing V0, keeps "
     "all but the first of those runs; later rows inherit the error. libtiff's own G4 data of such a page "
     "is read the same wrong way"},
    {"P2", Reader::kPoppler, "6.3.5.6 steps 3b and 3d",
     "mis-decodes refinement regions with typical prediction (TPGRON = 1), under either template"},
    {"P3", Reader::kPoppler, "6.5.9 step 3",
     "does not count the bytes of an uncompressed collective bitmap (BMSIZE = 0) and loses step with the "
     "rest of the data"},
    {"P4", Reader::kPoppler, "Table B.3",
     "reads the upper range line of Table B.3 (values 75 and more, prefix 1111110) wrongly: a width "
     "difference of 75 or more under SDHUFFDW = 1 wrecks the dictionary"},
    {"P5", Reader::kPoppler, "6.4.5 step 3c x (SBCOMBOP = AND)",
     "does not draw a symbol with the AND operator when its right edge ends on a byte boundary of the region"},
    {"P6", Reader::kPoppler, "6.6.5.1, C.5 (HENABLESKIP = 1)",
     "mis-reads halftone regions coded with HENABLESKIP = 1, although no cell of our grids is skipped"},
    {"F1", Reader::kPdfjs, "6.3.5.2",
     "cuts Huffman-coded symbols out of the collective bitmap in whole bytes, leaving the neighbour's pixels "
     "in the reference where T.88 makes them 0, so refined instances and refinement/aggregate symbols come out "
     "wrong (and PDFium gives up on some pages; pdf.js's older decoder then shows none)"},
    {"F2", Reader::kPdfjs, "6.4.5 step 1, 7.4.7.5",
     "refines an intermediate text region whose SBDEFPIXEL is 1 against the wrong reference: the page comes "
     "out about inverted"},
};

// The cells that are not "exact".
struct Miss {
  const char* mode;  // family/name
  Reader reader;
  Outcome outcome;
  const char* defects;  // ids, comma-separated
};

inline constexpr Reader kJ = Reader::kJbig2dec, kP = Reader::kPoppler, kF = Reader::kPdfjs;
inline constexpr Outcome kWrong = Outcome::kWrong, kFails = Outcome::kFails;

inline const Miss kMisses[] = {
    {"gr/Mmr", kP, kWrong, "P1"},
    {"gr/MmrStripes", kP, kWrong, "P1"},
    {"gr/SeveralSections", kP, kWrong, "P1"},
    {"sr/RefinementPassTemplate1Tpron", kJ, kWrong, "J3"},
    {"sr/RefinementPassTemplate1Tpron", kP, kWrong, "P2"},
    {"sr/RefinementPassTpronAT", kP, kWrong, "P2"},
    {"sr/ResidueMmr", kP, kWrong, "P1"},
    {"sr/DefPixelAnd", kP, kWrong, "P5"},
    {"sr/DefPixelXnorLossy", kF, kWrong, "F2"},
    {"sr/HuffmanDirect", kP, kFails, "P3"},
    {"sr/HuffmanTables", kP, kFails, "P4"},
    {"sr/HuffmanRefine", kJ, kFails, "J1"},
    {"sr/HuffmanRefine", kF, kWrong, "F1"},
    {"sr/HuffmanRefineB14", kJ, kFails, "J1"},
    {"sr/HuffmanRefineB14", kF, kWrong, "F1"},
    {"sr/HuffmanRefineTemplate1", kJ, kWrong, "J2"},
    {"sr/HuffmanRefineTemplate1", kF, kWrong, "F1"},
    {"sr/HuffmanRefDict", kJ, kWrong, "J2"},
    {"sr/HuffmanRefDict", kF, kWrong, "F1"},
    {"sr/HuffmanRefDictRefine", kJ, kFails, "J1"},
    {"sr/HuffmanRefDictRefine", kF, kWrong, "F1"},
    {"sr/HuffmanAllRefDictDirect", kJ, kWrong, "J2"},
    {"sr/HuffmanAllRefDictDirect", kF, kWrong, "F1"},
    {"sr/HuffmanAllRefDictDirect", kP, kFails, "P3"},
    {"sr/HuffmanTemplate1", kJ, kFails, "J1"},
    {"sr/HuffmanTemplate1", kF, kWrong, "F1"},
    {"sr/MixedPage", kP, kWrong, "P1"},
    {"sr/LossyHuffman", kJ, kFails, "J1"},
    {"sr/LossyHuffman", kF, kWrong, "F1"},
    {"ht/Template0Skip", kP, kWrong, "P6"},
    {"ht/Template2Skip", kP, kWrong, "P6"},
    {"ht/Mmr", kP, kWrong, "P1"},
    {"ht/MmrDispersed", kP, kWrong, "P1"},
    {"ht/MmrSkipTemplate", kP, kWrong, "P1"},
    {"ht/CombopXor", kP, kWrong, "P1"},
};

// The cell of `mode` (family/name, e.g. "sr/HuffmanRefine") for `reader`, or
// null when the reader reads it exactly.
inline const Miss* FindMiss(const std::string& mode, Reader reader) {
  for (const Miss& m : kMisses)
    if (mode == m.mode && m.reader == reader) return &m;
  return nullptr;
}

}  // namespace jb2test
