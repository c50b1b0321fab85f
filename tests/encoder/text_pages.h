// Test pages for the text section tests: random marks of awkward sizes,
// repeated glyphs with and without pixel noise, the rendered sample page,
// all white and all black.
#pragma once

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "tests/test_util.h"

namespace jb2test {

struct TextPage {
  std::string name;
  BMP bmp{};
};

inline void StampRandomGlyph(BMP* page, std::mt19937& rng, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                             double density) {
  std::bernoulli_distribution ink(density);
  for (uint32_t j = 0; j < h; ++j)
    for (uint32_t i = 0; i < w; ++i)
      if (x + i < page->lWidth && y + j < page->lHeight && ink(rng)) SetPixel(page, x + i, y + j, 1);
}

// Marks from 1 x 1 to 41 x 29 pixels anywhere on the page, touching the
// edges and each other now and then.
inline TextPage RandomMarksPage(uint32_t width, uint32_t height, unsigned seed) {
  TextPage p{"randommarks" + std::to_string(seed), {}};
  CreateBMP(&p.bmp, width, height, 0);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<uint32_t> w(1, 41), h(1, 29), x(0, width - 1), y(0, height - 1);
  for (int k = 0; k < 60; ++k) StampRandomGlyph(&p.bmp, rng, x(rng), y(rng), w(rng), h(rng), 0.55);
  return p;
}

// A handful of glyphs stamped in lines; with noise each copy gets a few
// flipped pixels, so copies match only approximately.
inline TextPage RepeatedGlyphsPage(bool noise, unsigned seed) {
  TextPage p{noise ? "noisyglyphs" : "glyphs", {}};
  const uint32_t width = 301, height = 157;
  CreateBMP(&p.bmp, width, height, 0);
  std::mt19937 rng(seed);
  struct Glyph { uint32_t w, h; BMP bmp; };
  std::vector<Glyph> glyphs;
  for (auto [gw, gh] : std::vector<std::pair<uint32_t, uint32_t>>{{7, 9}, {12, 15}, {5, 13}, {17, 11}, {9, 9}, {3, 4}}) {
    Glyph g{gw, gh, {}};
    CreateBMP(&g.bmp, gw, gh, 0);
    StampRandomGlyph(&g.bmp, rng, 0, 0, gw, gh, 0.6);
    for (uint32_t i = 0; i < gw; ++i) SetPixel(&g.bmp, i, gh / 2, 1);  // one connected mark
    for (uint32_t j = 0; j < gh; ++j) SetPixel(&g.bmp, gw / 2, j, 1);
    glyphs.push_back(g);
  }
  std::uniform_int_distribution<size_t> pick(0, glyphs.size() - 1);
  std::uniform_int_distribution<int> gap(2, 5);
  for (uint32_t line = 2; line + 20 < height; line += 22) {
    for (uint32_t x = 1; x + 20 < width;) {
      Glyph& g = glyphs[pick(rng)];
      const uint32_t base = line + 16 - g.h;  // glyphs stand on a baseline
      CombineBMP(&p.bmp, &g.bmp, x, base, 0);
      if (noise) {
        std::uniform_int_distribution<uint32_t> nx(0, g.w - 1), ny(0, g.h - 1);
        for (int k = 0; k < 2; ++k) {
          const uint32_t px = x + nx(rng), py = base + ny(rng);
          SetPixel(&p.bmp, px, py, 1 - GetPixel(&p.bmp, px, py));
        }
      }
      x += g.w + static_cast<uint32_t>(gap(rng));
    }
  }
  for (Glyph& g : glyphs) DestroyBMP(&g.bmp);
  return p;
}

// Every test page; the sample page only when `withSample`.
inline std::vector<TextPage> MakeTextPages(bool withSample) {
  std::vector<TextPage> pages;
  pages.push_back(RandomMarksPage(157, 93, 7));
  pages.push_back(RepeatedGlyphsPage(false, 3));
  pages.push_back(RepeatedGlyphsPage(true, 4));
  TextPage white{"white", {}}, black{"black", {}};
  CreateBMP(&white.bmp, 50, 30, 0);
  CreateBMP(&black.bmp, 50, 30, 1);
  pages.push_back(white);
  pages.push_back(black);
  if (withSample) {
    TextPage sample{"sample", {}};
    if (LoadBMP(JB2_SOURCE_DIR "/examples/sample.bmp", &sample.bmp) == 0) pages.push_back(sample);
  }
  return pages;
}

inline void CopyPage(const BMP* src, BMP* dst) {
  CreateBMP(dst, src->lWidth, src->lHeight, 0);
  std::memcpy(dst->pData, src->pData, static_cast<size_t>(src->lStride) * src->lHeight);
}

// A scan-like copy: one in eight edge pixels (those with a 4-neighbour of the
// other colour) flipped, and dots on one pixel in 4096.
inline TextPage NoisyScan(const BMP& page, unsigned seed) {
  TextPage p{"noisyscan", {}};
  CopyPage(&page, &p.bmp);
  std::mt19937 rng(seed);
  const long w = page.lWidth, h = page.lHeight;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const int v = GetPixel(&page, x, y);
      const bool edge = (x > 0 && GetPixel(&page, x - 1, y) != v) || (x + 1 < w && GetPixel(&page, x + 1, y) != v) ||
                        (y > 0 && GetPixel(&page, x, y - 1) != v) || (y + 1 < h && GetPixel(&page, x, y + 1) != v);
      const uint32_t r = rng();
      if ((edge && r % 8 == 0) || r % 4096 == 1) SetPixel(&p.bmp, x, y, 1 - v);
    }
  return p;
}

// Half-size text: each 2 x 2 block of the page becomes one pixel, black
// when at least two of its pixels are.
inline TextPage SmallText(const BMP& page) {
  TextPage p{"smalltext", {}};
  CreateBMP(&p.bmp, page.lWidth / 2, page.lHeight / 2, 0);
  for (long y = 0; y < static_cast<long>(p.bmp.lHeight); ++y)
    for (long x = 0; x < static_cast<long>(p.bmp.lWidth); ++x) {
      const int n = GetPixel(&page, 2 * x, 2 * y) + GetPixel(&page, 2 * x + 1, 2 * y) +
                    GetPixel(&page, 2 * x, 2 * y + 1) + GetPixel(&page, 2 * x + 1, 2 * y + 1);
      SetPixel(&p.bmp, x, y, n >= 2);
    }
  return p;
}

// The sample page (examples/sample.bmp) and two in the style of real input
// made from it: a noisy scan and small text. Empty when it does not load.
inline std::vector<TextPage> MakeScanPages() {
  TextPage sample{"sample", {}};
  if (LoadBMP(JB2_SOURCE_DIR "/examples/sample.bmp", &sample.bmp) != 0) return {};
  std::vector<TextPage> pages{sample, NoisyScan(sample.bmp, 20240611), SmallText(sample.bmp)};
  return pages;
}

}  // namespace jb2test
