// Design of the symbol ID Huffman table of a text region (T.88 7.4.3.1.7) and
// the table segment layout (T.88 7.4.13, B.2).
#include "encoder/huffman_design.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <queue>
#include <tuple>
#include <vector>

namespace {

inline constexpr unsigned long kRepeatPrevious = 32;  // RUNCODE32: previous length 3 to 6 times
inline constexpr unsigned long kRepeatZeroShort = 33; // RUNCODE33: length 0, 3 to 10 times
inline constexpr unsigned long kRepeatZeroLong = 34;  // RUNCODE34: length 0, 11 to 138 times
inline constexpr unsigned long kNoLength = 36;        // matches no code length

// Extra bits that follow run codes 32, 33 and 34.
int RunExtraBits(unsigned long runCode) {
  switch (runCode) {
    case kRepeatPrevious: return 2;
    case kRepeatZeroShort: return 3;
    case kRepeatZeroLong: return 7;
    default: return 0;
  }
}

// Optimal code lengths of at most maxLength bits (package-merge, the coin
// collector's form). Each level's list is the used symbols by increasing count
// merged with the pairs of the level below; only the first 2(m - 1) items of
// any list can be chosen, so the lists are cut there.
void PackageMerge(const unsigned long* counts, unsigned long* lengths, unsigned long n, unsigned long maxLength) {
  std::vector<unsigned long> leaves;
  for (unsigned long i = 0; i < n; ++i) {
    lengths[i] = 0;
    if (counts[i] != 0) leaves.push_back(i);
  }
  std::stable_sort(leaves.begin(), leaves.end(),
                   [counts](unsigned long a, unsigned long b) { return counts[a] < counts[b]; });
  const size_t m = leaves.size();
  const size_t keep = 2 * (m - 1);

  std::vector<uint64_t> weights(m);
  for (size_t i = 0; i < m; ++i) weights[i] = counts[leaves[i]];
  std::vector<std::vector<bool>> isPackage(maxLength);
  isPackage[0].assign(std::min(m, keep), false);
  std::vector<uint64_t> level(weights.begin(), weights.begin() + static_cast<long>(std::min(m, keep)));
  std::vector<uint64_t> merged;
  for (unsigned long depth = 1; depth < maxLength; ++depth) {
    merged.clear();
    std::vector<bool>& flags = isPackage[depth];
    size_t leaf = 0;
    size_t pair = 0;
    const size_t pairs = level.size() / 2;
    while (merged.size() < keep && (leaf < m || pair < pairs)) {
      const bool takeLeaf =
          pair == pairs || (leaf < m && weights[leaf] <= level[2 * pair] + level[2 * pair + 1]);
      if (takeLeaf) {
        merged.push_back(weights[leaf++]);
      } else {
        merged.push_back(level[2 * pair] + level[2 * pair + 1]);
        ++pair;
      }
      flags.push_back(!takeLeaf);
    }
    level.swap(merged);
  }
  // Walk back from the last list: the chosen leaves of a list are its first
  // ones, and its chosen packages stand for twice as many items below.
  size_t chosen = keep;
  for (unsigned long depth = maxLength; depth-- > 0;) {
    const std::vector<bool>& flags = isPackage[depth];
    size_t leafCount = 0;
    for (size_t i = 0; i < chosen && i < flags.size(); ++i) leafCount += flags[i] ? 0 : 1;
    for (size_t i = 0; i < leafCount; ++i) ++lengths[leaves[i]];
    chosen = 2 * (chosen - leafCount);
  }
}

// Closes a run of `run` repeats of `previous` (see HuffFindRunLength35).
void CloseRun(unsigned long previous, unsigned long run, unsigned long* codes, unsigned long* extras,
              unsigned long* count) {
  auto put = [&](unsigned long code, unsigned long extra) {
    codes[*count] = code;
    extras[*count] = extra;
    ++*count;
  };
  if (run == 0) return;
  if (run <= 2) {
    for (unsigned long i = 0; i < run; ++i) put(previous, 0);
  } else if (previous != 0) {
    put(kRepeatPrevious, run - 3);
  } else if (run < 11) {
    put(kRepeatZeroShort, run - 3);
  } else {
    put(kRepeatZeroLong, run - 11);
  }
}

}  // namespace

void ulSwap(unsigned long* a, unsigned long* b) {
  const unsigned long t = *a;
  *a = *b;
  *b = t;
}

// Huffman's construction. The two lightest groups are merged, the lower
// index first among equal weights, and the merged group keeps the leader of
// the lighter one; a symbol's length is the number of merges its group took
// part in, i.e. its depth in the merge tree.
void HuffFindPrefLen(const unsigned long* counts, unsigned long* lengths, unsigned long n) {
  using Group = std::tuple<unsigned long, unsigned long, unsigned long>;  // weight, leader, node
  std::priority_queue<Group, std::vector<Group>, std::greater<Group>> groups;
  std::vector<unsigned long> parent;  // node -> merge node; leaves are nodes 0 .. n-1
  parent.assign(n, 0);
  for (unsigned long i = 0; i < n; ++i) {
    lengths[i] = 0;
    if (counts[i] != 0) groups.emplace(counts[i], i, i);
  }
  if (groups.size() == 1) {
    lengths[std::get<1>(groups.top())] = 1;
    return;
  }
  while (groups.size() > 1) {
    const Group a = groups.top();
    groups.pop();
    const Group b = groups.top();
    groups.pop();
    const unsigned long node = static_cast<unsigned long>(parent.size());
    parent.push_back(node);  // the root is its own parent
    parent[std::get<2>(a)] = node;
    parent[std::get<2>(b)] = node;
    groups.emplace(std::get<0>(a) + std::get<0>(b), std::get<1>(a), node);
  }
  if (parent.size() == n) return;  // no symbol is used
  // Merge nodes are created after their children, so a pass from the root
  // down gives every node its depth before its children ask for it.
  std::vector<unsigned long> depth(parent.size(), 0);
  for (size_t node = parent.size() - 1; node-- > 0;) depth[node] = depth[parent[node]] + 1;
  for (unsigned long i = 0; i < n; ++i)
    if (counts[i] != 0) lengths[i] = depth[i];
}

void HuffFindPrefLenLimited(const unsigned long* counts, unsigned long* lengths, unsigned long n,
                            unsigned long maxLength) {
  HuffFindPrefLen(counts, lengths, n);
  if (n == 0 || *std::max_element(lengths, lengths + n) <= maxLength) return;
  PackageMerge(counts, lengths, n, maxLength);
}

void HuffFindRunLength35(const unsigned long* lengths, unsigned long n, unsigned long* runCodes,
                         unsigned long* runExtras, unsigned long* nRunCodes) {
  *nRunCodes = 0;
  unsigned long previous = kNoLength;
  unsigned long run = 0;
  for (unsigned long i = 0; i < n; ++i) {
    const unsigned long length = lengths[i];
    if (length != previous) {
      CloseRun(previous, run, runCodes, runExtras, nRunCodes);
      if (length != 0) {
        runCodes[*nRunCodes] = length;
        runExtras[*nRunCodes] = 0;
        ++*nRunCodes;
        run = 0;
      } else {
        run = 1;  // zeros are always counted into a run
      }
    } else {
      ++run;
      if (previous == 0 && run == 138) {
        CloseRun(0, run, runCodes, runExtras, nRunCodes);
        run = 0;
      } else if (previous != 0 && run == 6) {
        CloseRun(previous, run, runCodes, runExtras, nRunCodes);
        run = 0;
      }
    }
    previous = length;
  }
  CloseRun(previous, run, runCodes, runExtras, nRunCodes);
}

void EncodeSymbolIdHuffmanTable(ENCODER* enc, const unsigned long* counts, unsigned long n, unsigned long* codes,
                                unsigned long* lengths) {
  unsigned long runLengths[kNumRunCodes] = {};
  unsigned long runCodeBits[kNumRunCodes] = {};
  std::vector<unsigned long> runCodes(n);
  std::vector<unsigned long> runExtras(n);
  unsigned long nRuns = 0;
  if (n != 0) {
    HuffFindPrefLenLimited(counts, lengths, n, kMaxSymbolIdCodeLength);
    HuffGetPrefCodes(lengths, codes, n);
    HuffFindRunLength35(lengths, n, runCodes.data(), runExtras.data(), &nRuns);
    unsigned long runCounts[kNumRunCodes] = {};
    for (unsigned long i = 0; i < nRuns; ++i) ++runCounts[runCodes[i]];
    HuffFindPrefLenLimited(runCounts, runLengths, kNumRunCodes, kMaxRunCodeLength);
    HuffGetPrefCodes(runLengths, runCodeBits, kNumRunCodes);
  }
  for (unsigned long i = 0; i < kNumRunCodes; ++i) EncodeBits(enc, runLengths[i], 4);
  for (unsigned long i = 0; i < nRuns; ++i) {
    const unsigned long code = runCodes[i];
    EncodeBits(enc, runCodeBits[code], static_cast<int>(runLengths[code]));
    if (const int extraBits = RunExtraBits(code); extraBits != 0) EncodeBits(enc, runExtras[i], extraBits);
  }
  EncodeFlush(enc);
}

bool EncodeTableSegmentData(ENCODER* enc, const HUFFDEF* def, const unsigned long* prefLen,
                            const unsigned long* rangeLen) {
  const unsigned long nLines = def->nLines;
  if (nLines == 0) return false;
  unsigned long maxPrefLen = std::max<unsigned long>(def->lLowerPrefLen, def->lUpperPrefLen);
  if (def->bHTOOB) maxPrefLen = std::max<unsigned long>(maxPrefLen, def->lOOBPrefLen);
  unsigned long maxRangeLen = 0;
  int64_t low = def->lHTLOW;
  for (unsigned long i = 0; i < nLines; ++i) {
    if (rangeLen[i] > 32) return false;
    if (i > 0 && low >= def->lHTHIGH) return false;  // a reader would stop before this line
    low += int64_t{1} << rangeLen[i];
    maxPrefLen = std::max(maxPrefLen, prefLen[i]);
    maxRangeLen = std::max(maxRangeLen, rangeLen[i]);
  }
  if (low < def->lHTHIGH) return false;  // a reader would read more lines
  if (maxPrefLen > 255) return false;

  const int htps = std::max(1, static_cast<int>(std::bit_width(maxPrefLen)));
  const int htrs = std::max(1, static_cast<int>(std::bit_width(maxRangeLen)));
  EncodeBits(enc, (def->bHTOOB ? 1u : 0u) | static_cast<unsigned>(htps - 1) << 1 | static_cast<unsigned>(htrs - 1) << 4,
             8);
  EncodeBits(enc, static_cast<uint32_t>(def->lHTLOW), 32);
  EncodeBits(enc, static_cast<uint32_t>(def->lHTHIGH), 32);
  for (unsigned long i = 0; i < nLines; ++i) {
    EncodeBits(enc, prefLen[i], htps);
    EncodeBits(enc, rangeLen[i], htrs);
  }
  EncodeBits(enc, def->lLowerPrefLen, htps);
  EncodeBits(enc, def->lUpperPrefLen, htps);
  if (def->bHTOOB) EncodeBits(enc, def->lOOBPrefLen, htps);
  EncodeFlush(enc);
  return true;
}
