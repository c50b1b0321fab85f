#include "tests/page_maker.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "tests/test_util.h"

namespace jb2test {

namespace {

// The spare bits after a row's last pixel stay 0.
void ClearSpareBits(BMP* page, uint32_t y) {
  if (page->lWidth % 8 == 0) return;
  page->pData[static_cast<size_t>(y) * page->lStride + page->lBytesPerRow - 1] &=
      static_cast<unsigned char>(0xFF00u >> (page->lWidth % 8));
}

void FillBox(BMP* bmp, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
  for (uint32_t y = y0; y < std::min(y1, bmp->lHeight); ++y)
    for (uint32_t x = x0; x < std::min(x1, bmp->lWidth); ++x) SetPixel(bmp, x, y, 1);
}

// A glyph of strokes: a stem, bars and dots, each a box of the stroke width.
BMP MakeGlyph(uint32_t height, std::mt19937& rng) {
  const uint32_t stroke = std::max<uint32_t>(1, height / 8);
  const uint32_t width = std::max<uint32_t>(stroke + 1, height * (4 + rng() % 5) / 10);
  BMP g{};
  CreateBMP(&g, width, height, 0);
  const uint32_t top = (rng() % 3 == 0) ? 0 : height / 3;  // ascender or x-height
  FillBox(&g, rng() % 2 ? 0 : width - stroke, top, (rng() % 2 ? 0 : width - stroke) + stroke, height);
  const int bars = 1 + static_cast<int>(rng() % 3);
  for (int b = 0; b < bars; ++b) {
    const uint32_t y = top + rng() % (height - top - stroke + 1);
    FillBox(&g, 0, y, width, y + stroke);
  }
  if (rng() % 2) FillBox(&g, width - stroke, top, width, height);
  return g;
}

}  // namespace

const char* PageKindName(PageKind kind) {
  switch (kind) {
    case PageKind::kWhite: return "white";
    case PageKind::kBlack: return "black";
    case PageKind::kTextTop: return "texttop";
    case PageKind::kTextTopInverted: return "texttopinverted";
    case PageKind::kBlackLowerHalf: return "blacklowerhalf";
    case PageKind::kNoiseOverBlack: return "noiseoverblack";
    case PageKind::kText: return "text";
  }
  return "?";
}

void FillRows(BMP* page, uint32_t y0, uint32_t y1, int black) {
  for (uint32_t y = y0; y < std::min(y1, page->lHeight); ++y) {
    std::memset(page->pData + static_cast<size_t>(y) * page->lStride, black ? 0xFF : 0, page->lBytesPerRow);
    ClearSpareBits(page, y);
  }
}

void InvertRows(BMP* page, uint32_t y0, uint32_t y1) {
  for (uint32_t y = y0; y < std::min(y1, page->lHeight); ++y) {
    unsigned char* row = page->pData + static_cast<size_t>(y) * page->lStride;
    for (uint32_t k = 0; k < page->lBytesPerRow; ++k) row[k] = static_cast<unsigned char>(~row[k]);
    ClearSpareBits(page, y);
  }
}

void NoiseRows(BMP* page, uint32_t y0, uint32_t y1, double density, uint32_t seed) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution ink(density);
  for (uint32_t y = y0; y < std::min(y1, page->lHeight); ++y)
    for (uint32_t x = 0; x < page->lWidth; ++x) SetPixel(page, x, y, ink(rng) ? 1 : 0);
}

void DrawTextLines(BMP* page, uint32_t y0, uint32_t y1, uint32_t glyphHeight, uint32_t seed, uint32_t fontSeed) {
  std::mt19937 rng(seed);
  std::mt19937 fontRng(fontSeed ? fontSeed : seed);
  std::vector<BMP> font;
  for (int k = 0; k < 48; ++k) font.push_back(MakeGlyph(glyphHeight, fontSeed ? fontRng : rng));
  const uint32_t margin = std::min<uint32_t>(page->lWidth / 10, 3 * glyphHeight);
  const uint32_t gap = std::max<uint32_t>(1, glyphHeight / 8), space = glyphHeight / 2;
  for (uint32_t line = y0; line + glyphHeight <= std::min(y1, page->lHeight); line += glyphHeight * 3 / 2) {
    uint32_t x = margin;
    while (true) {
      const int letters = 2 + static_cast<int>(rng() % 7);
      uint32_t wordWidth = 0;
      std::vector<const BMP*> word;
      for (int i = 0; i < letters; ++i) {
        word.push_back(&font[rng() % font.size()]);
        wordWidth += word.back()->lWidth + gap;
      }
      if (x + wordWidth + margin > page->lWidth) break;
      for (const BMP* g : word) {
        CombineBMP(page, const_cast<BMP*>(g), static_cast<long>(x), static_cast<long>(line), kOpOr);
        x += g->lWidth + gap;
      }
      x += space;
    }
  }
  for (BMP& g : font) DestroyBMP(&g);
}

void MakeTestPage(BMP* page, PageKind kind, uint32_t width, uint32_t height) {
  CreateBMP(page, width, height, 0);
  const uint32_t glyph = std::max<uint32_t>(8, height / 110);  // 10 pt at any resolution
  const uint32_t top = std::min(height, 3 * glyph);
  switch (kind) {
    case PageKind::kWhite:
      break;
    case PageKind::kBlack:
      FillRows(page, 0, height, 1);
      break;
    case PageKind::kTextTop:
      DrawTextLines(page, top, top + glyph, glyph, 1);
      break;
    case PageKind::kTextTopInverted:
      DrawTextLines(page, top, top + glyph, glyph, 1);
      InvertRows(page, 0, height);
      break;
    case PageKind::kBlackLowerHalf:
      DrawTextLines(page, top, top + glyph, glyph, 1);
      FillRows(page, height / 2, height, 1);
      break;
    case PageKind::kNoiseOverBlack:
      NoiseRows(page, 0, std::min<uint32_t>(height, 100), 0.3, 2);
      FillRows(page, 100, height, 1);
      break;
    case PageKind::kText:
      DrawTextLines(page, top, height - top, glyph, 3);
      break;
  }
}

}  // namespace jb2test
