// Grids of easily confused characters (0-9, c/e, n/h/u, rn/m, O/Q/0,
// 1/l/I, 6/8, 3/8, b/h, E/F, P/R) rendered with Ghostscript, each cell's
// character known, and the count of cells a lossy coding made read as
// another character.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bitmap.h"

namespace jb2test {

// The characters of the grids ("rn" is one cell of two letters).
extern const std::vector<std::string> kGridLabels;

struct GridCell {
  uint32_t label;   // index into kGridLabels
  uint32_t x0, y0;  // the cell's rectangle on the page
  uint32_t x1, y1;
};

struct GlyphGrid {
  BMP page{};
  std::vector<GridCell> cells;
  GlyphGrid() = default;
  GlyphGrid(const GlyphGrid&) = delete;
  GlyphGrid& operator=(const GlyphGrid&) = delete;
  ~GlyphGrid() { DestroyBMP(&page); }
};

// Renders every label `copies` times (each copy at another fraction of a
// pixel) in a PostScript font at `points` and `dpi`; the page carries the
// resolution. Returns false, with the reason in *error, when Ghostscript
// fails.
bool RenderGlyphGrid(const std::string& font, double points, uint32_t dpi, uint32_t copies, GlyphGrid* grid,
                     std::string* error);

// Flips one in eight of the pixels on the edges of black (a pixel with a
// 4-neighbour of the other colour), as a scanner roughens outlines.
void AddEdgeNoise(BMP* page, uint32_t seed);

struct SubstitutionCount {
  uint32_t cells = 0;        // cells judged
  uint32_t unreadable = 0;   // cells whose source is nearer another character (left out)
  uint32_t substituted = 0;  // cells read as another character after coding
  std::string first;         // the first substitution, e.g. "n -> h at (120, 40)"
};

// Reads each cell of `source` (the page that was coded; `clean`'s page or a
// noisy copy) and of `decoded` as the label of the nearest clean rendering
// (the cells of `clean`), by the fewest differing pixels over alignments of
// the black pixels' boxes within two pixels of centred; two labels equally
// near read as neither. A cell whose source reads as its own label and whose
// decoded pixels do not, or are another label's source cell pixel for pixel
// (a rough mark of another character), is a substitution.
SubstitutionCount CountSubstitutions(const GlyphGrid& clean, const BMP& source, const BMP& decoded);

}  // namespace jb2test
