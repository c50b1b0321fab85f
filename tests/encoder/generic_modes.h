// The generic region modes the interop tests run, each building the section
// words for a page of the given size, and their small test pages.
#pragma once

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/encoder/text_pages.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace jb2test {

struct GenericMode {
  const char* name;
  std::function<void(Sections&, int32_t w, int32_t h)> build;
};

#define WHOLE(name, ...) {name, [](Sections& s, int32_t, int32_t) { s.Add(__VA_ARGS__); }}

inline const GenericMode kGenericModes[] = {
    WHOLE("Template0", {}),
    WHOLE("Template1", {{"template", 1}}),
    WHOLE("Template2", {{"template", 2}}),
    WHOLE("Template3", {{"template", 3}}),
    WHOLE("MovedAT0", {{"atx1", -5}, {"aty1", 0}, {"atx2", 4}, {"aty2", -1}, {"atx3", -7}, {"aty3", -3},
                       {"atx4", 7}, {"aty4", -4}}),
    WHOLE("MovedAT1", {{"template", 1}, {"atx1", -6}, {"aty1", -2}}),
    WHOLE("MovedAT2", {{"template", 2}, {"atx1", 5}, {"aty1", -3}}),
    WHOLE("MovedAT3", {{"template", 3}, {"atx1", -1}, {"aty1", 0}}),
    WHOLE("Tpgdon0", {{"tpdon", 1}}),
    WHOLE("Tpgdon1", {{"tpdon", 1}, {"template", 1}}),
    WHOLE("Tpgdon2", {{"tpdon", 1}, {"template", 2}}),
    WHOLE("Tpgdon3", {{"tpdon", 1}, {"template", 3}}),
    WHOLE("Mmr", {{"mmr", 1}}),
    WHOLE("StripesWithRemainder", {{"stripe", 16}}),
    WHOLE("MmrStripes", {{"stripe", 7}, {"mmr", 1}}),
    WHOLE("StripeTallerThanPage", {{"stripe", 2048}}),
    WHOLE("Sequential", {{"sequential", 1}, {"tpdon", 1}}),
    {"SeveralSections",
     [](Sections& s, int32_t W, int32_t H) {
       s.Add(0, 0, 0, (W + 1) / 2, (H + 1) / 2, {{"template", 1}})
           .Add(0, W / 3, H / 3, W, H, {{"mmr", 1}})
           .Add(0, 0, H / 2, W, H, {{"stripe", 5}, {"template", 2}})
           .Add({{"tpdon", 1}, {"template", 3}});
     }},
    {"SequentialSections",
     [](Sections& s, int32_t W, int32_t H) {
       s.Add(0, 0, 0, W, (H + 2) / 3, {{"sequential", 1}, {"atx1", -2}, {"aty1", -2}})
           .Add({{"template", 2}, {"tpdon", 1}});
     }},
};

#undef WHOLE

// Random marks over runs of repeated rows (so typical prediction is used) in
// awkward widths, all white and all black.
inline std::vector<TextPage> MakeGenericPages() {
  std::vector<TextPage> pages;
  std::mt19937 rng(2024);
  for (uint32_t w : {1u, 7u, 9u, 17u, 33u, 65u}) {
    TextPage p{"random" + std::to_string(w), {}};
    MakeRandomBMP(&p.bmp, w, 37, 0.35, rng, /*dirtySpareBits=*/w % 2 == 1);
    for (uint32_t y = 10; y < 20; ++y)
      std::memcpy(p.bmp.pData + y * p.bmp.lStride, p.bmp.pData + 9 * p.bmp.lStride, p.bmp.lStride);
    pages.push_back(p);
  }
  TextPage white{"white", {}}, black{"black", {}};
  CreateBMP(&white.bmp, 50, 30, 0);
  CreateBMP(&black.bmp, 50, 30, 1);
  pages.push_back(white);
  pages.push_back(black);
  return pages;
}

}  // namespace jb2test
