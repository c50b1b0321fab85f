// Table segments (T.88 7.4.13): a user-supplied Huffman table coded as in
// T.88 B.2, turned into the HUFFTABLE that symbol dictionary and text region
// segments select with a table selection value of "user-supplied".
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/table_segment.h"

void DecodeTableSegment(JB2FILE*, SEGMENT_HEADER* seg, DECODER* input) {
  // A segment decoded a second time (global segments of a page numbered 0)
  // builds its table afresh.
  ReleaseTableSegment(seg);

  // T.88 B.2.1 to B.2.3.
  const uint32_t flags = DecodeBits(input, 8);
  const uint32_t htoob = flags & 1;
  const int htps = static_cast<int>(((flags >> 1) & 7) + 1);
  const int htrs = static_cast<int>(((flags >> 4) & 7) + 1);
  const auto htlow = static_cast<int32_t>(DecodeBits(input, 32));
  const auto hthigh = static_cast<int32_t>(DecodeBits(input, 32));

  // T.88 B.2 step 5, in one pass. CURRANGELOW is kept in 64 bits: a line may
  // cover 2^32 values, and every line adds at least one, so the loop ends
  // within 2^32 lines; kMaxTableLines and the data end it much sooner.
  std::vector<unsigned long> prefLen, rangeLen;
  int64_t curRangeLow = htlow;
  do {
    const uint32_t pref = DecodeBits(input, htps);
    const uint32_t range = DecodeBits(input, htrs);
    if (input->nPastEnd != 0) {
      PrintErrorRef("Table Segment Data Exhausted: Table Ignored", seg->lNumber);
      return;
    }
    // Values are 32-bit numbers (T.88 B.2): a line can cover at most all of
    // them, and DecodeHuff reads no more than 32 range bits.
    if (range > 32) {
      PrintErrorRef("Table Line Range Length above 32: Table Ignored", seg->lNumber);
      return;
    }
    if (prefLen.size() == kMaxTableLines) {
      PrintErrorRef("Too Many Table Lines: Table Ignored", seg->lNumber);
      return;
    }
    prefLen.push_back(pref);
    rangeLen.push_back(range);
    curRangeLow += int64_t{1} << range;
  } while (curRangeLow < hthigh);

  auto* def = Checked(static_cast<HUFFDEF*>(std::calloc(1, sizeof(HUFFDEF))));
  def->bHTOOB = htoob;
  def->lHTLOW = htlow;
  def->lHTHIGH = hthigh;
  def->nLines = static_cast<uint32_t>(prefLen.size());
  // T.88 B.2 steps 6 to 10.
  def->lLowerPrefLen = DecodeBits(input, htps);
  def->lUpperPrefLen = DecodeBits(input, htps);
  if (htoob) def->lOOBPrefLen = DecodeBits(input, htps);
  if (input->nPastEnd != 0) {
    PrintErrorRef("Table Segment Data Exhausted: Table Ignored", seg->lNumber);
    std::free(def);
    return;
  }
  seg->Table.pDef = def;
  BuildHUFFTABLE(&seg->Table, prefLen.data(), rangeLen.data());
  // The upper range starts at HTHIGH (T.88 B.2 step 9), even where the last
  // ordinary line reaches beyond it.
  seg->Table.pRangeLow[def->nLines + 1] = hthigh;
}

void ReleaseTableSegment(SEGMENT_HEADER* seg) {
  if (seg->Table.pDef || seg->Table.pTree) FreeHuffTable(&seg->Table);
  std::free(seg->Table.pDef);
  seg->Table = HUFFTABLE{};
}
