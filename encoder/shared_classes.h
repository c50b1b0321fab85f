// Lossy text coding across a document's pages: the classes of like marks
// (within the shape gate of their representative) found by the first pass
// over the pages, and the representatives seen on two pages or more, which
// become symbols of the document's shared dictionary that each page's marks
// may be drawn as.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "encoder/reading_guard.h"
#include "encoder/shape_gate.h"
#include "encoder/symbol.h"

// Representatives readied for the gate, found by size: a mark is compared
// with those whose width and height are each within r of its own, those of
// the nearest black pixel count first, and matches one that passes the gate
// and differs from it in few pixels (see kSharedDifference). The shapes
// stay the caller's.
class ClassIndex {
 public:
  void Clear() { bySize_.clear(); }
  void Add(int32_t id, const BMP& mark, const GateShape* shape);
  // The ID of the first representative that `shape` (of the mark `mark`)
  // passes the gate against, with the alignment in *at, and that `accept`
  // (when given) accepts at that alignment; -1 for none.
  int32_t Match(const BMP& mark, const GateShape& shape, GateAlignment* at,
                const std::function<bool(int32_t id, GateAlignment at)>& accept = nullptr) const;

 private:
  struct Entry {
    int64_t black;
    int32_t id;
    const GateShape* shape;
  };
  static bool EntryBefore(const Entry& a, const Entry& b) { return a.black != b.black ? a.black < b.black : a.id < b.id; }
  // By width and height, each in the order of EntryBefore.
  std::unordered_map<uint64_t, std::vector<Entry>> bySize_;
};

// The first pass's classes: each page's candidate marks are compared with
// the representatives kept so far; a mark that passes the gate against one
// counts its page for that class, any other starts a class of its own. The
// representatives kept take at most kMaxClassRepresentativeBytes: when that
// is reached, the classes seen on one earlier page only are dropped, and
// when it is still full no class is started.
class SharedClassFinder {
 public:
  explicit SharedClassFinder(const GateSettings& gate, uint64_t budget);
  SharedClassFinder(const SharedClassFinder&) = delete;
  SharedClassFinder& operator=(const SharedClassFinder&) = delete;
  ~SharedClassFinder();

  const GateSettings& gate() const { return gate_; }
  // The marks of page `page` (numbered upward from 0). Throws std::bad_alloc.
  void AddMarks(const SYMBOL* marks, size_t count, uint32_t page);
  // Appends the representatives of the classes seen on two pages or more
  // (the caller's to destroy) and on how many pages each was seen; the
  // finder is empty afterwards.
  void Finish(std::vector<SYMBOL>* representatives, std::vector<uint32_t>* pages);
  // The bytes the representatives kept take (tests).
  uint64_t bytes() const { return bytes_; }

 private:
  struct Class {
    SYMBOL representative;
    std::unique_ptr<GateShape> shape;
    uint32_t lastPage;
    uint32_t pages;
    uint64_t bytes;
  };
  // Drops the classes seen on one page only, before `page`.
  void DropSingles(uint32_t page);

  GateSettings gate_;
  uint64_t budget_;
  uint64_t bytes_ = 0;
  std::vector<Class> classes_;
  ClassIndex index_;
};

// The shared dictionary's representatives, readied for the pages' marks.
struct SharedRepresentatives {
  GateSettings gate;
  std::vector<std::unique_ptr<GateShape>> shapes;
  ClassIndex index;
};

// A page's marks drawn as the shared dictionary's representatives: each
// candidate mark (LossyCandidates) that passes the gate against one, and
// whose reading `guard` keeps when drawn as its symbol (`symbols`, by ID),
// becomes its substitute (bSubstitute, the alignment in lDX and lDY, the
// symbol's ID in (*globalId)[i]) and is set aside as residue for the page's
// own matching (bResidue), as marks identical to a shared symbol are. The
// guard, made with the shared gate, readies the marks.
void SubstituteSharedSymbols(SYMBOL* marks, size_t count, const SharedRepresentatives& shared,
                             const SYMBOL* symbols, ReadingGuard& guard, std::vector<int32_t>* globalId);
