// Time of mark extraction, sorting and matching over a synthetic letter page
// at 300 dpi: lines of glyphs drawn from a small alphabet, each copy with a
// little edge noise, as a scanned page of text looks to the text coder.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "common/bitmap.h"
#include "encoder/symbol.h"
#include "encoder/transclib.h"

namespace {

void Set(BMP* bmp, long x, long y) {
  if (x < 0 || y < 0 || x >= static_cast<long>(bmp->lWidth) || y >= static_cast<long>(bmp->lHeight)) return;
  bmp->pData[y * bmp->lStride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
}

// A blob glyph: a filled ellipse ring of the given box.
void DrawGlyph(BMP* page, long x0, long y0, long w, long h, std::mt19937& rng) {
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double dx = (x - cx) / (w / 2.0), dy = (y - cy) / (h / 2.0);
      const double r = dx * dx + dy * dy;
      const bool edge = r > 0.3 && r < 0.45;
      if ((r <= 1.0 && r > 0.35) || (edge && rng() % 4 == 0)) Set(page, x0 + x, y0 + y);
    }
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  BMP page;
  CreateBMP(&page, 2550, 3300, 0);
  std::mt19937 rng(1);
  struct Shape {
    long w, h;
  };
  std::vector<Shape> alphabet;
  for (int i = 0; i < 60; ++i) alphabet.push_back({8 + static_cast<long>(rng() % 20), 14 + static_cast<long>(rng() % 14)});
  for (long y = 100; y + 40 < 3200; y += 42)
    for (long x = 100; x + 30 < 2450; x += 32) {
      const Shape& s = alphabet[rng() % alphabet.size()];
      DrawGlyph(&page, x, y + (28 - s.h), s.w, s.h, rng);
    }

  PARAMETER section{};  // the defaults: soft matching at 80 %
  SYMBOL* marks = nullptr;
  unsigned long count = 0;
  auto start = std::chrono::steady_clock::now();
  ExtractAllSymbols(&page, &marks, &count);
  const double extract = Seconds(start);
  start = std::chrono::steady_clock::now();
  SortSymbolsByHeight(marks, count);
  const double sort = Seconds(start);
  start = std::chrono::steady_clock::now();
  const SectionSettings settings = SectionOf(section, false);
  EvaluateMatches(marks, static_cast<long>(count), settings);
  SelectClasses(marks, static_cast<long>(count), settings.text);
  const double match = Seconds(start);
  unsigned long symbols = 0;
  for (unsigned long i = 0; i < count; ++i) symbols += marks[i].bDictionary;
  std::printf("marks %lu, dictionary symbols %lu\n", count, symbols);
  std::printf("extract %.1f ms, sort %.1f ms, match %.1f ms\n", extract * 1e3, sort * 1e3, match * 1e3);
  for (unsigned long i = 0; i < count; ++i) DestroyBMP(&marks[i].Bitmap);
  std::free(marks);
  DestroyBMP(&page);
  return 0;
}
