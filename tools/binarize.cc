#include "tools/binarize.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace jb2tool {

namespace {

// The background estimate: tiles of 10 x 15 pixels whose pixels lighter
// than 100 (at least 50 of them) give the paper's brightness; tiles without
// enough light pixels (inside large dark marks) take their neighbours'
// value, so such marks stay dark. The paper is brought to 200 and the cut
// lies at half of it.
constexpr int kTileWidth = 10, kTileHeight = 15, kLightPixel = 100, kLightPixelsNeeded = 50;
constexpr int kPaper = 200, kSmoothing = 2;

// Whether every pixel is pure black or pure white.
bool BlackAndWhite(Pix* grey) {
  Numa* histogram = pixGetGrayHistogram(grey, 1);
  if (!histogram) return false;
  bool only = true;
  for (int value = 1; only && value < 255; ++value) {
    l_int32 count = 0;
    numaGetIValue(histogram, value, &count);
    only = count == 0;
  }
  numaDestroy(&histogram);
  return only;
}

// The black pixels of byte i of a row moved one pixel left and one right
// (and kept where they are when `self`).
unsigned char SpreadByte(const unsigned char* row, uint32_t bytes, uint32_t i, bool self) {
  const unsigned left = i > 0 ? row[i - 1] & 1u : 0u, right = i + 1 < bytes ? row[i + 1] >> 7 : 0u;
  const unsigned own = row[i];
  return static_cast<unsigned char>((own << 1 | own >> 1 | left << 7 | right | (self ? own : 0u)) & 0xFFu);
}

void Spread(const unsigned char* row, uint32_t bytes, unsigned char* out, bool self) {
  for (uint32_t i = 0; i < bytes; ++i) out[i] = SpreadByte(row, bytes, i, self);
}

}  // namespace

bool ReadThreshold(const char* text, int* threshold) {
  if (std::strcmp(text, "auto") == 0) {
    *threshold = kAutoThreshold;
    return true;
  }
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 255) return false;
  *threshold = static_cast<int>(value);
  return true;
}

Pix* BinarizeGrey(Pix* grey, int threshold, bool* adaptive) {
  *adaptive = false;
  if (threshold != kAutoThreshold) return pixThresholdToBinary(grey, threshold);
  if (BlackAndWhite(grey)) return pixThresholdToBinary(grey, 128);
  *adaptive = true;
  Pix* normalized = pixBackgroundNorm(grey, nullptr, nullptr, kTileWidth, kTileHeight, kLightPixel,
                                      kLightPixelsNeeded, kPaper, kSmoothing, kSmoothing);
  if (!normalized) {
    // No tile had enough light pixels (a dark page): Otsu's threshold over
    // the whole page.
    Pix* binary = nullptr;
    const l_int32 w = pixGetWidth(grey), h = pixGetHeight(grey);
    if (pixOtsuAdaptiveThreshold(grey, w, h, 0, 0, 0.1f, nullptr, &binary) != 0) return nullptr;
    return binary;
  }
  Pix* binary = pixThresholdToBinary(normalized, kPaper / 2);
  pixDestroy(&normalized);
  return binary;
}

void ClearLonePixels(BMP* page, uint32_t dpi) {
  if (dpi != 0 && dpi < 150) return;
  const uint32_t bytes = page->lBytesPerRow;
  if (page->pData == nullptr || bytes == 0) return;
  // above and below: the black pixels of the rows around, as they were,
  // spread to their left and right neighbours.
  std::vector<unsigned char> above(bytes, 0), below(bytes, 0), original(bytes);
  for (uint32_t y = 0; y < page->lHeight; ++y) {
    unsigned char* row = page->pData + static_cast<size_t>(y) * page->lStride;
    std::copy(row, row + bytes, original.begin());
    if (y + 1 < page->lHeight) Spread(row + page->lStride, bytes, below.data(), true);
    else std::fill(below.begin(), below.end(), 0);
    for (uint32_t i = 0; i < bytes; ++i) {
      const unsigned char beside = SpreadByte(original.data(), bytes, i, false);
      row[i] = static_cast<unsigned char>(row[i] & (beside | above[i] | below[i]));  // lone pixels cleared
    }
    Spread(original.data(), bytes, above.data(), true);
  }
}

}  // namespace jb2tool
