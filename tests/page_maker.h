// Full-size test pages drawn directly: white or black paper, black bands,
// noise, inverted areas and lines of text set in a made-up font, so tests
// can run on real page sizes (A4 at 300 and 600 dpi) without any renderer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bitmap.h"

namespace jb2test {

enum class PageKind {
  kWhite,
  kBlack,
  kTextTop,          // one line of text near the top, white below
  kTextTopInverted,  // the same, white on black
  kBlackLowerHalf,   // text on top, the lower half black
  kNoiseOverBlack,   // 100 rows of noise on top, black below
  kText,             // lines of text over the whole page
};

// The kind's short name, for test names and file names.
const char* PageKindName(PageKind kind);

// Draws a page of the kind; the caller destroys it.
void MakeTestPage(BMP* page, PageKind kind, uint32_t width, uint32_t height);

// Page pieces (rows [y0, y1), clipped to the page).
void FillRows(BMP* page, uint32_t y0, uint32_t y1, int black);
void InvertRows(BMP* page, uint32_t y0, uint32_t y1);
void NoiseRows(BMP* page, uint32_t y0, uint32_t y1, double density, uint32_t seed);
// Lines of words of glyphs `glyphHeight` pixels tall, from a font of 48
// glyphs made from `fontSeed` (by default `seed`), laid out from `seed`: the
// same glyph is the same bitmap everywhere, also on other pages drawn with
// the same font.
void DrawTextLines(BMP* page, uint32_t y0, uint32_t y1, uint32_t glyphHeight, uint32_t seed, uint32_t fontSeed = 0);

// A4 in pixels at 300 and 600 dpi.
inline constexpr uint32_t kA4Width300 = 2480, kA4Height300 = 3508;
inline constexpr uint32_t kA4Width600 = 4960, kA4Height600 = 7016;

}  // namespace jb2test
