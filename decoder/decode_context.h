// What the decoding of one file keeps between its segments beyond the
// records of untransclib.h. The JB2FILE owns it (pContext).
#pragma once

#include <cstdint>

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
};
