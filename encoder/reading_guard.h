// The reading guard of lossy text coding: a mark may be drawn as a symbol
// only when the symbol is nearer, in differing pixels, to the mark's own
// pixels than to any other mark of the page that the shape gate tells apart
// from the symbol.
//
// The gate bounds how far each pixel moves. On rough scans that is not
// enough: two rough copies of one letter can differ in more pixels than an
// E differs from an F (a bar) or a 1 from an l (a serif), and a rough 8
// whose upper loop noise has opened passes the gate against a rough 6. A
// reader that takes the nearest shape it knows would read the symbol drawn
// for such a mark as the other character. The guard refuses those
// substitutions: a page mark that fails the gate against the symbol (at
// the shifts of up to kReadingShift pixels from centred that a reader
// tries) must differ from it in more pixels than the mark it is drawn for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>

#include "encoder/shape_gate.h"
#include "encoder/symbol.h"

class ReadingGuard {
 public:
  // The page's marks (all of them, residue included: a reader sees every
  // mark). The marks must outlive the guard.
  ReadingGuard(const SYMBOL* marks, size_t count, const GateSettings& gate);
  ReadingGuard(const ReadingGuard&) = delete;
  ReadingGuard& operator=(const ReadingGuard&) = delete;
  ~ReadingGuard();

  // Whether mark `mark` may be drawn as `symbol` (readied as `symbolShape`),
  // the symbol's top-left corner at the gate's alignment `at` of the mark's
  // box. `key` names the symbol, so that what was found of it is kept for
  // the next mark drawn as it (the same key, the same symbol).
  bool Keeps(size_t mark, const BMP& symbol, const GateShape& symbolShape, GateAlignment at, int64_t key);

  struct Rows;  // a mark's rows as words, with the black count of each row and column

  // Mark `mark` readied for the gate (made when first asked for).
  const GateShape& ShapeOf(size_t mark);

 private:
  // What is known of one symbol: no mark that fails the gate against it
  // differs from it in fewer than `searched` pixels; one differs in
  // `nearest`.
  struct Known {
    int64_t searched = 0;
    int64_t nearest = std::numeric_limits<int64_t>::max();
  };
  // Looks for such a mark within `within` differing pixels.
  void Search(const Rows& symbol, const GateShape& symbolShape, int64_t within, Known& known);
  const Rows& RowsOf(size_t mark);

  const SYMBOL* marks_;
  GateSettings gate_;
  std::vector<std::unique_ptr<Rows>> rows_;         // by mark, made when first needed
  std::vector<std::unique_ptr<GateShape>> shapes_;  // by mark, made when first needed
  std::vector<size_t> byBlack_;                     // marks by black pixel count
  std::vector<int64_t> blackSorted_;                // their black pixel counts
  std::unordered_map<int64_t, Known> known_;        // by key
  std::unordered_map<int64_t, std::unique_ptr<Rows>> symbols_;  // by key
};
