#include "tests/glyph_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "kernels/bit_count.h"
#include "kernels/pixel_words.h"
#include "tests/test_util.h"

namespace jb2test {

const std::vector<std::string> kGridLabels = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "c", "e", "n", "h",
                                              "u", "rn", "m", "O", "Q", "l", "I", "b", "E", "F", "P", "R"};

bool RenderGlyphGrid(const std::string& font, double points, uint32_t dpi, uint32_t copies, GlyphGrid* grid,
                     std::string* error) {
  const double em = points * dpi / 72.0;
  const uint32_t pitchX = static_cast<uint32_t>(std::ceil(3.5 * em)) + 4;
  const uint32_t pitchY = static_cast<uint32_t>(std::ceil(2.2 * em)) + 4;
  const uint32_t width = pitchX * copies, height = pitchY * static_cast<uint32_t>(kGridLabels.size());
  const double toPoints = 72.0 / dpi;
  std::string ps = "%!PS\n/" + font + " findfont " + std::to_string(points) + " scalefont setfont\n";
  grid->cells.clear();
  for (uint32_t label = 0; label < kGridLabels.size(); ++label) {
    for (uint32_t k = 0; k < copies; ++k) {
      // Each copy lies at another fraction of a pixel, as text does on a page.
      const double x = k * pitchX + 0.5 * em + static_cast<double>(k) / copies;
      const double y = label * pitchY + 1.5 * em + static_cast<double>((k * 7) % copies) / copies;
      char line[160];
      std::snprintf(line, sizeof line, "%.4f %.4f moveto (%s) show\n", x * toPoints, (height - y) * toPoints,
                    kGridLabels[label].c_str());
      ps += line;
      grid->cells.push_back(GridCell{label, k * pitchX, label * pitchY, (k + 1) * pitchX, (label + 1) * pitchY});
    }
  }
  ps += "showpage\n";
  const std::string dir = MakeTempDir();
  WriteFileBytes(dir + "/grid.ps", std::vector<uint8_t>(ps.begin(), ps.end()));
  const CommandResult gs = RunCommand("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pbmraw -r" + std::to_string(dpi) +
                                          " -g" + std::to_string(width) + "x" + std::to_string(height) +
                                          " -dFIXEDMEDIA -sOutputFile=grid.pbm grid.ps",
                                      dir);
  DestroyBMP(&grid->page);
  if (gs.exitStatus != 0 || !LoadPBM(dir + "/grid.pbm", &grid->page)) {
    *error = "Ghostscript failed (" + std::to_string(gs.exitStatus) + "): " + gs.err;
    return false;
  }
  grid->page.lXResolution = grid->page.lYResolution = static_cast<uint32_t>(std::lround(dpi / 0.0254));
  return true;
}

void AddEdgeNoise(BMP* page, uint32_t seed) {
  BMP before{};
  CopyBMP(&before, page);
  std::mt19937 rng(seed);
  const long w = page->lWidth, h = page->lHeight;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const int v = GetPixel(&before, x, y);
      const bool edge = GetPixel(&before, x - 1, y) != v || GetPixel(&before, x + 1, y) != v ||
                        GetPixel(&before, x, y - 1) != v || GetPixel(&before, x, y + 1) != v;
      if (edge && rng() % 8 == 0) SetPixel(page, x, y, !v);
    }
  DestroyBMP(&before);
}

namespace {

// The black pixels of one cell, cut to their box, as word rows.
struct Crop {
  uint32_t x0 = 0, y0 = 0;  // the box on the page
  uint32_t width = 0, height = 0, words = 0;
  int64_t black = 0;
  std::vector<uint64_t> rows;
};

Crop CropCell(const BMP& page, const GridCell& cell) {
  Crop c;
  uint32_t left = cell.x1, right = cell.x0, top = cell.y1, bottom = cell.y0;
  for (uint32_t y = cell.y0; y < cell.y1 && y < page.lHeight; ++y)
    for (uint32_t x = cell.x0; x < cell.x1 && x < page.lWidth; ++x)
      if (GetPixel(&page, x, y)) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
      }
  if (right <= left) return c;
  c.x0 = left;
  c.y0 = top;
  c.width = right - left;
  c.height = bottom - top;
  c.words = (c.width + 63) / 64;
  c.rows.assign(size_t{c.words} * c.height, 0);
  for (uint32_t y = 0; y < c.height; ++y)
    for (uint32_t x = 0; x < c.width; ++x)
      if (GetPixel(&page, left + x, top + y)) {
        c.rows[size_t{y} * c.words + x / 64] |= uint64_t{1} << (63 - x % 64);
        ++c.black;
      }
  return c;
}

// Pixels that differ between a and b, b's box at (x, y) of a's.
int64_t Differing(const Crop& a, const Crop& b, int64_t x, int64_t y) {
  int64_t both = 0;
  for (uint32_t py = 0; py < a.height; ++py) {
    const int64_t by = int64_t{py} - y;
    if (by < 0 || by >= int64_t{b.height}) continue;
    const uint64_t* row = a.rows.data() + size_t{py} * a.words;
    const uint64_t* other = b.rows.data() + static_cast<size_t>(by) * b.words;
    for (uint32_t w = 0; w < a.words; ++w) both += CountBits(row[w] & PixelsAt(other, b.words, int64_t{64} * w - x));
  }
  return a.black + b.black - 2 * both;
}

int64_t Distance(const Crop& a, const Crop& b, int64_t bound) {
  if (std::llabs(a.black - b.black) >= bound) return bound;
  const int64_t cx = (int64_t{a.width} - b.width) / 2, cy = (int64_t{a.height} - b.height) / 2;
  int64_t best = bound;
  for (int64_t j = -2; j <= 2; ++j)
    for (int64_t k = -2; k <= 2; ++k) best = std::min(best, Differing(a, b, cx + j, cy + k));
  return best;
}

// The label of the nearest reference; reference i shows label
// cells[i % cells.size()]. kGridLabels.size() when two labels are nearest.
uint32_t Read(const Crop& crop, const std::vector<Crop>& references, const std::vector<GridCell>& cells) {
  constexpr int64_t kFar = std::numeric_limits<int32_t>::max();  // beyond any cell's pixels
  std::vector<int64_t> nearest(kGridLabels.size(), kFar);
  int64_t best = kFar;
  for (size_t i = 0; i < references.size(); ++i) {
    int64_t& n = nearest[cells[i % cells.size()].label];
    n = std::min(n, Distance(crop, references[i], std::min(n, best + 1)));
    best = std::min(best, n);
  }
  const auto first = std::min_element(nearest.begin(), nearest.end());
  if (std::count(nearest.begin(), nearest.end(), *first) > 1) return static_cast<uint32_t>(kGridLabels.size());
  return static_cast<uint32_t>(first - nearest.begin());
}

}  // namespace

SubstitutionCount CountSubstitutions(const GlyphGrid& clean, const BMP& source, const BMP& decoded) {
  std::vector<Crop> renderings, sources;
  for (const GridCell& cell : clean.cells) renderings.push_back(CropCell(clean.page, cell));
  for (const GridCell& cell : clean.cells) sources.push_back(CropCell(source, cell));
  SubstitutionCount count;
  for (size_t c = 0; c < clean.cells.size(); ++c) {
    const GridCell& cell = clean.cells[c];
    const Crop& before = sources[c];
    if (Read(before, renderings, clean.cells) != cell.label) {
      ++count.unreadable;
      continue;
    }
    ++count.cells;
    const Crop after = CropCell(decoded, cell);
    uint32_t read = Read(after, renderings, clean.cells);
    // A cell drawn as another character's rough mark is that character,
    // however its roughness reads.
    for (size_t k = 0; k < sources.size() && read == cell.label; ++k)
      if (clean.cells[k].label != cell.label && Distance(after, sources[k], 1) == 0) read = clean.cells[k].label;
    if (read == cell.label) continue;
    if (count.substituted++ == 0)
      count.first = kGridLabels[cell.label] + " -> " +
                    (read < kGridLabels.size() ? kGridLabels[read] : std::string("?")) + " at (" +
                    std::to_string(before.x0) + ", " + std::to_string(before.y0) + ")";
  }
  return count;
}

}  // namespace jb2test
