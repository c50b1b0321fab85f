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

// Whether every pixel is pure black or pure white (a scan shows a grey
// pixel within its first rows).
bool BlackAndWhite(Pix* grey) {
  const l_int32 w = pixGetWidth(grey), h = pixGetHeight(grey), wpl = pixGetWpl(grey);
  const l_uint32* data = pixGetData(grey);
  for (l_int32 y = 0; y < h; ++y) {
    const l_uint32* line = data + static_cast<size_t>(y) * static_cast<size_t>(wpl);
    for (l_int32 x = 0; x < w; ++x) {
      const l_int32 value = GET_DATA_BYTE(line, x);
      if (value != 0 && value != 255) return false;
    }
  }
  return true;
}

// The adaptive method in one pass: each tile's inverse background value
// (8 fraction bits) brings the paper to kPaper, and a pixel is black when
// it comes out darker than kPaper / 2, i.e. (grey * value) / 256 < kPaper / 2
// (as leptonica's pixBackgroundNorm and a threshold at kPaper / 2 would
// give, without making the normalized page, which costs twice the time).
// Where no tile has enough light pixels (a dark page), the page is cut at
// kPaper / 2 as it is, as that normalization returns the page unchanged
// then.
Pix* ThresholdAgainstPaper(Pix* grey) {
  Pix* map = nullptr;
  pixGetBackgroundGrayMap(grey, nullptr, kTileWidth, kTileHeight, kLightPixel, kLightPixelsNeeded, &map);
  Pix* inverse = map ? pixGetInvBackgroundMap(map, kPaper, kSmoothing, kSmoothing) : nullptr;
  pixDestroy(&map);
  if (!inverse) return pixThresholdToBinary(grey, kPaper / 2);
  const l_int32 w = pixGetWidth(grey), h = pixGetHeight(grey);
  Pix* binary = pixCreate(w, h, 1);
  // The darkest grey that stays white, per tile of a row of tiles:
  // grey * value >= 256 * kPaper / 2.
  std::vector<l_int32> cut(static_cast<size_t>(w));
  constexpr l_uint32 kWhiteProduct = 256 * (kPaper / 2);
  for (l_int32 y = 0; binary && y < h; ++y) {
    const l_int32 tileRow = y / kTileHeight;
    if (y % kTileHeight == 0) {
      for (l_int32 x = 0; x < w; ++x) {
        l_uint32 value = 0;  // the map covers the page, its last tiles cut at the edges
        pixGetPixel(inverse, x / kTileWidth, tileRow, &value);
        cut[static_cast<size_t>(x)] = value == 0 ? 256 : static_cast<l_int32>((kWhiteProduct + value - 1) / value);
      }
    }
    const l_uint32* source = pixGetData(grey) + static_cast<size_t>(y) * static_cast<size_t>(pixGetWpl(grey));
    l_uint32* line = pixGetData(binary) + static_cast<size_t>(y) * static_cast<size_t>(pixGetWpl(binary));
    for (l_int32 x0 = 0; x0 < w; x0 += 32) {
      l_uint32 word = 0;
      const l_int32 end = std::min(w, x0 + 32);
      for (l_int32 x = x0; x < end; ++x)
        word |= static_cast<l_uint32>(static_cast<l_int32>(GET_DATA_BYTE(source, x)) < cut[static_cast<size_t>(x)]) << (31 - (x - x0));
      line[x0 / 32] = word;
    }
  }
  pixDestroy(&inverse);
  return binary;
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
  return ThresholdAgainstPaper(grey);
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
