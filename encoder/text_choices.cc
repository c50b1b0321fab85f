#include "encoder/text_choices.h"

#include <algorithm>

#include "common/integer_coding.h"
#include "encoder/coding_cost.h"
#include "kernels/bit_count.h"
#include "kernels/pixel_words.h"

namespace {

// Dots are left out only when they outnumber the other marks and are many:
// a text page's dots (full stops, i-dots) are few and repeat exactly.
inline constexpr unsigned long kManyDots = 512;
// EstimateGenericBytes codes bands of this many rows, one in kBandSpacing.
inline constexpr uint32_t kBandRows = 32;
inline constexpr uint32_t kBandSpacing = 8;
// Template and offset trials look at about this many pixels or gaps.
inline constexpr uint64_t kTemplateSamplePixels = 1u << 18;
inline constexpr size_t kGapSample = 4096;
// Symbols of at least this many pixels are sampled by bands of rows.
inline constexpr uint64_t kLargeSymbolPixels = 1u << 16;

}  // namespace

bool ManyDots(unsigned long dots, unsigned long marks) { return dots >= kManyDots && dots > marks; }

uint64_t EstimateGenericBytes(const GRPARAM& gr, BMP* bitmap) {
  CostCoder cost;
  int64_t bits = 0;
  uint64_t rows = 0;
  for (uint32_t top = 0; top < bitmap->lHeight; top += kBandRows * kBandSpacing) {
    BMP band = RowBand(*bitmap, top, std::min(kBandRows, bitmap->lHeight - top));
    bits += cost.GenericBits(gr, &band);
    rows += band.lHeight;
  }
  if (rows == 0) return 0;
  return static_cast<uint64_t>(bits) * bitmap->lHeight / rows / 8;
}

std::vector<RowRange> PictureBands(const BMP* section) {
  std::vector<RowRange> bands;
  const uint32_t width = section->lWidth, height = section->lHeight;
  const uint32_t tiles = (width + kTextureTile - 1) / kTextureTile;
  static_assert(kTextureTile == 64, "a tile's row is one 64-bit word");
  std::vector<uint32_t> black(tiles), runs(tiles);
  for (uint32_t top = 0; top < height; top += kTextureTile) {
    const uint32_t rows = std::min(kTextureTile, height - top);
    std::fill(black.begin(), black.end(), 0);
    std::fill(runs.begin(), runs.end(), 0);
    for (uint32_t y = top; y < top + rows; ++y) {
      const unsigned char* row = section->pData + static_cast<size_t>(y) * section->lStride;
      uint64_t before = 0;  // the pixel left of the tile, in the top bit's place
      for (uint32_t t = 0; t < tiles; ++t) {
        uint64_t word = 0;
        const uint32_t first = t * 8, bytes = std::min<uint32_t>(8, section->lBytesPerRow - first);
        if (bytes == 8) {
          word = LoadPixels64(row + first);
        } else {
          for (uint32_t k = 0; k < bytes; ++k) word |= uint64_t{row[first + k]} << (56 - 8 * k);
        }
        const uint32_t valid = std::min(kTextureTile, width - t * kTextureTile);
        if (valid < 64) word &= ~uint64_t{0} << (64 - valid);
        if (word == 0) {  // most of a text page
          before = 0;
          continue;
        }
        black[t] += CountBits(word);
        runs[t] += CountBits(word & ~(word >> 1 | before));
        before = word << 63;
      }
    }
    uint32_t occupied = 0, texture = 0;
    for (uint32_t t = 0; t < tiles; ++t) {
      if (black[t] == 0) continue;
      ++occupied;
      const uint32_t pixels = rows * std::min(kTextureTile, width - t * kTextureTile);
      if (runs[t] >= kTextureRunDensity * pixels) ++texture;
    }
    if (texture == 0 || 4 * texture < 3 * occupied) continue;
    if (!bands.empty() && bands.back().end == top) bands.back().end = top + rows;
    else bands.push_back(RowRange{top, top + rows});
  }
  return bands;
}

uint32_t ChooseDictionaryTemplate(const GRPARAM& gr, SYMBOL* symbols, unsigned long n) {
  uint64_t pixels = 0;
  for (unsigned long i = 0; i < n; ++i) pixels += uint64_t{symbols[i].Bitmap.lWidth} * symbols[i].Bitmap.lHeight;
  const unsigned long step = static_cast<unsigned long>(std::max<uint64_t>(1, pixels / kTemplateSamplePixels + 1));
  // With a sample of one symbol in `step`, a large symbol (a dithered
  // picture taken as one mark can hold most of the page) is not left to
  // chance: one band of its rows in `step` is coded instead.
  auto sampledByBands = [step](const BMP& b) {
    return step > 1 && b.lHeight > kBandRows && uint64_t{b.lWidth} * b.lHeight >= kLargeSymbolPixels;
  };
  CostCoder cost;
  uint32_t chosen = gr.lTemplate;
  int64_t least = -1;
  for (uint32_t templ = 0; templ < 4; ++templ) {
    GRPARAM trial = gr;
    trial.lTemplate = templ;
    cost.Reset();
    int64_t bits = 0;
    for (unsigned long i = 0; i < n; i += step)
      if (!sampledByBands(symbols[i].Bitmap)) bits += cost.GenericBits(trial, &symbols[i].Bitmap);
    for (unsigned long i = 0; i < n; ++i) {
      const BMP& b = symbols[i].Bitmap;
      if (!sampledByBands(b)) continue;
      for (uint64_t top = 0; top < b.lHeight; top += uint64_t{kBandRows} * step) {
        BMP band = RowBand(b, static_cast<uint32_t>(top), static_cast<uint32_t>(std::min<uint64_t>(kBandRows, b.lHeight - top)));
        bits += cost.GenericBits(trial, &band);
      }
    }
    if (least < 0 || bits < least) {
      least = bits;
      chosen = templ;
    }
  }
  return chosen;
}

int32_t ChooseDSOffset(const TRPARAM& tr, const std::vector<SYMBOL>& prepared) {
  // The gaps as the instance coder forms them, before the offset.
  std::vector<long> gaps;
  std::vector<size_t> stripEnds;
  for (size_t i = 0; i < prepared.size() && gaps.size() < kGapSample;) {
    const int32_t strip = prepared[i].lStrip;
    long curS = 0;
    for (bool first = true; i < prepared.size() && prepared[i].lStrip == strip; ++i, first = false) {
      const SYMBOL& c = prepared[i];
      if (!first) gaps.push_back(c.lX - curS);
      curS = c.lX + static_cast<long>(tr.bTransposed ? c.Bitmap.lHeight : c.Bitmap.lWidth) - 1;
    }
    stripEnds.push_back(gaps.size());
  }
  CostCoder cost;
  int32_t chosen = 0;
  int64_t least = -1;
  for (int32_t k = 0; k <= 2 * kDSOffsetTrials; ++k) {
    const int32_t offset = k % 2 ? (k + 1) / 2 : -k / 2;  // 0, 1, -1, 2, -2, ...
    cost.Reset();
    int64_t bits = 0;
    size_t g = 0;
    for (size_t end : stripEnds) {
      for (; g < end; ++g) bits += cost.IntegerBits(kIADS, gaps[g] - offset);
      bits += cost.OOBBits(kIADS);
    }
    if (least < 0 || bits < least) {
      least = bits;
      chosen = offset;
    }
  }
  return chosen;
}
