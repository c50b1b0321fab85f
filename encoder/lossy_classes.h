// Lossy text coding: a mark that passes the shape gate (shape_gate.h)
// against a class representative is drawn as the representative's symbol,
// without refinement; every other mark is coded losslessly as before. The
// marks' pixels change, their shapes stay within the gate.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "encoder/reading_guard.h"
#include "encoder/shape_gate.h"
#include "encoder/symbol.h"

struct TRPARAM;

// What tests put in the way of lossy coding, to see that it is checked: a
// looser gate, and a change to the dictionary's symbols between choosing and
// checking them.
struct LOSSY_HOOKS {
  const GateSettings* pGate;  // used instead of the page's gate when not null
  void (*Tamper)(SYMBOL* symbols, unsigned long count);
  // The same, on the document's shared symbols only (before Tamper).
  void (*TamperShared)(SYMBOL* symbols, unsigned long count);
};

// Thrown when the check before writing finds a mark the gate refuses: an
// internal error, the file is not written.
struct LossyCheckFailure {};

// For each mark, whether another mark of the section has the same pixels
// (residue marks aside).
std::vector<bool> MarksWithCopies(const SYMBOL* marks, size_t count);

// The marks of a page that lossy coding may draw as another mark's symbol:
// not residue, not matched only exactly by the gate (the eligible ones,
// counted in *eligible when given), and no copy of another mark of the page
// (a shape found twice, pixel for pixel, is a rendering). None when such
// copies are half the eligible marks or more (a clean rendering: its
// characters may differ by a pixel).
std::vector<bool> LossyCandidates(const SYMBOL* marks, size_t count, const GateSettings& gate,
                                  size_t* eligible = nullptr);

// What lossy coding decided for a section's marks, kept until its symbols
// are written: the marks readied for the gate, and the symbols built for
// its classes.
class LossyClasses {
 public:
  LossyClasses();
  LossyClasses(LossyClasses&&) noexcept;
  LossyClasses& operator=(LossyClasses&&) noexcept;
  ~LossyClasses();

  // After lossless matching has coded the other marks: each class of three
  // marks or more that no other mark refines or copies gets the per-pixel
  // majority of its aligned marks as its symbol (a cleaner outline than any
  // one scan of it, so fewer bytes), when the representative and every
  // substitute, each at the place it is drawn, pass the gate against it;
  // else the class keeps its representative's
  // pixels. A representative so built becomes a substitute of itself
  // (bSubstitute, lMatch its own index), drawn from the built symbol. The
  // built symbol must keep every member's reading too (`guard`).
  void BuildSymbols(SYMBOL* marks, long count, ReadingGuard& guard);
  // The pixels written for the representative that is mark `mark` of the
  // height-sorted marks, or null when it is written as itself.
  const BMP* BuiltFor(long mark) const;

 private:
  friend LossyClasses SubstituteMarks(SYMBOL* marks, long count, const GateSettings& gate, ReadingGuard& guard);
  struct Built;
  GateSettings gate_;
  // By mark, null for marks the gate leaves alone; the guard's, and let go
  // with it at the end of BuildSymbols.
  std::vector<const GateShape*> shapes_;
  std::unordered_map<long, std::unique_ptr<Built>> built_;
};

// Goes through the height-sorted marks in order: a mark that passes the gate
// against a representative before it, and whose reading `guard` keeps when
// drawn as it, becomes its substitute (bSubstitute,
// lMatch, and the gate's alignment in lDX and lDY) and the representative a
// symbol of its own (bDictionary), which lossless matching leaves alone; any
// other mark becomes a representative for the marks after it. Marks are
// compared with representatives only, never with substitutes. Residue marks
// and marks the gate matches only exactly (small ones, which lossless
// matching codes at no cost) are left alone.
LossyClasses SubstituteMarks(SYMBOL* marks, long count, const GateSettings& gate, ReadingGuard& guard);

// The check before writing: each substitute among `instances` (a
// representative written with built pixels is one, of itself) is drawn
// alone from `symbols` (the dictionary as it is written) as a decoder of the
// text region `tr` draws it, and compared with its own pixels by the gate at
// the place it is drawn. False when any fails.
bool SubstitutesPassGate(const TRPARAM& tr, std::span<const SYMBOL> instances, SYMBOL* symbols,
                         const GateSettings& gate);
