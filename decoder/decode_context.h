// What the decoding of one file keeps between its segments beyond the
// records of untransclib.h. The JB2FILE owns it (pContext).
#pragma once

#include <cstdint>
#include <vector>

#include "common/limits.h"
#include "decoder/untransclib.h"

struct JB2CONTEXT {
  // The page UntranscodePage is decoding. A page of unknown height grows
  // down its rows as its stripes end; its storage grows by doubling, so it
  // has room for lPageRoom rows, of which lHeight are the page's so far.
  const BMP* pPage = nullptr;
  uint32_t lPageRoom = 0;
  // A region of a striped page reached below its known height and was
  // clipped there (said once for the page, when it ends).
  bool bPageClipped = false;
  // The caller's page limit, in stored pixels: a page that grows keeps to it
  // at every step.
  uint64_t lMaxPagePixels = kMaxBitmapPixels;
  // The page decoded last: what its segments made (symbols, patterns,
  // tables, saved contexts) stays until another page is decoded, then goes,
  // for no segment of another page can use it (T.88 7.3.2). Decoding the
  // page again makes it afresh.
  const JB2PAGE* pLastPage = nullptr;
  // Per segment (by index): a segment of another page refers to it, which
  // T.88 7.3.2 does not allow but which is followed all the same; its
  // results then stay with it until the file is freed.
  std::vector<uint8_t> referredFromOtherPage;
};
