// The halftone section options the tests run, a gray test page and the page
// a decoder must show for a halftone section.
#pragma once

#include <cstdint>
#include <random>

#include "common/bitmap.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace jb2test {

// The two threshold matrices as stored files have them.
inline constexpr uint8_t kClustered[16] = {13, 11, 12, 15, 4, 3, 2, 9, 5, 0, 1, 10, 8, 6, 7, 14};
inline constexpr uint8_t kDispersed[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 5, 7, 13, 5};

// A page with every gray level: a horizontal ramp of black density, with
// random dots, so cells hold 0 to 16 black pixels.
inline void MakeGrayPage(BMP* page, uint32_t width, uint32_t height, std::mt19937& rng) {
  CreateBMP(page, width, height, 0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      double density = (x % 40) / 36.0;
      SetPixel(page, x, y, u(rng) < density);
    }
}

// What a decoder must show: white, except each whole 4 x 4 cell of the
// section, drawn as the pattern of its black-pixel count (at most 15).
inline void ExpectedPage(const BMP* page, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, const uint8_t* matrix,
                         BMP* out) {
  CreateBMP(out, page->lWidth, page->lHeight, 0);
  for (uint32_t r = 0; r + 4 <= y1 - y0; r += 4)
    for (uint32_t c = 0; c + 4 <= x1 - x0; c += 4) {
      uint32_t count = 0;
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) count += GetPixel(page, x0 + c + x, y0 + r + y);
      if (count > 15) count = 15;
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) SetPixel(out, x0 + c + x, y0 + r + y, count > matrix[y * 4 + x]);
    }
}

struct HalftoneCase {
  const char* name;
  bool mmr;
  int32_t templ;
  bool skip;
  int32_t htpattern;
  int32_t combop;
};

inline const HalftoneCase kHalftoneCases[] = {
    {"Template0", false, 0, false, 0, 0},       {"Template1", false, 1, false, 0, 0},
    {"Template2", false, 2, false, 0, 0},       {"Template3", false, 3, false, 0, 0},
    {"Template0Skip", false, 0, true, 0, 0},    {"Template2Skip", false, 2, true, 1, 0},
    {"Template3Dispersed", false, 3, false, 1, 0}, {"Mmr", true, 0, false, 0, 0},
    {"MmrDispersed", true, 0, false, 1, 0},     {"MmrSkipTemplate", true, 2, true, 0, 0},
    {"CombopReplace", false, 1, false, 0, 4},   {"CombopXor", true, 0, false, 1, 2},
};

// The case's section over (x0, y0, x1, y1), with only the keywords that
// differ from their default 0.
inline void AddHalftoneSection(Sections& sections, const HalftoneCase& c, uint32_t x0, uint32_t y0, uint32_t x1,
                               uint32_t y1) {
  sections.Add(2, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
               static_cast<int32_t>(y1));
  const std::pair<const char*, int32_t> keys[] = {
      {"mmr", c.mmr}, {"template", c.templ}, {"skip", c.skip}, {"htpattern", c.htpattern}, {"combop", c.combop}};
  for (const auto& [name, value] : keys)
    if (value != 0) sections.AddKey(name, value);
}

inline const uint8_t* HalftoneMatrix(const HalftoneCase& c) { return c.htpattern ? kDispersed : kClustered; }

// A section of a halftone test page: the page's size and the section's edges.
struct HalftoneGeometry {
  uint32_t w, h, x0, y0, x1, y1;
};
// Whole page; an offset section with a ragged right and bottom edge; a
// section narrower than one cell.
inline constexpr HalftoneGeometry kHalftoneGeometries[] = {
    {80, 48, 0, 0, 80, 48}, {97, 61, 6, 5, 77, 51}, {40, 20, 8, 4, 11, 20}};

}  // namespace jb2test
