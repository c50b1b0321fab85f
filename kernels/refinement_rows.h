// Fast context formation for refinement template 0 with its nominal adaptive
// pixels and for template 1 (T.88 6.3.5.3), shared by the refinement coder
// and decoder.
//
// For each row, the row above it in the bitmap being coded and the three
// reference rows around it are copied shifted, so that the three pixels
// around column x of each are bits 13 - j..15 - j of a 16-bit window over
// bytes m and m + 1 of its copy (x = 8m + j). Contexts come out in the
// numbering of InitRefContext, so both paths share context statistics.
#pragma once

#include <cstdint>
#include <vector>

#include "common/bitmap.h"

// Whether the fast path covers a template and its adaptive pixels.
inline bool RefinementRowsApply(uint32_t templ, const long* atx, const long* aty) {
  return (templ & 1) == 1 || (atx[0] == -1 && aty[0] == -1 && atx[1] == -1 && aty[1] == -1);
}

// A bitmap read as shifted rows from column x0 on (see RefinementRows::Load).
struct RowSource {
  const BMP* bmp = nullptr;
  int64_t first = 0;  // floor(x0 / 8)
  int shift = 0;      // x0 - 8 * first
  unsigned lastMask = 0xFF;
};

class RefinementRows {
 public:
  // Pixel windows of byte m: coded row above, reference rows above, at and
  // below the reference row of the current row.
  struct Windows {
    uint32_t up, r0, r1, r2;
  };

  // `width` is the width of the bitmap being coded; reference pixel R(i, j)
  // of pixel (x, y) is reference pixel (x - dx + i, y - dy + j).
  RefinementRows(const BMP* reference, uint32_t width, long dx, long dy);

  // Copies the rows that the contexts of row y of `coded` read.
  void Load(const BMP* coded, uint32_t y);

  uint32_t bytes() const { return n_; }
  Windows At(uint32_t m) const {
    return Windows{Pair(up_, m), Pair(r0_, m), Pair(r1_, m), Pair(r2_, m)};
  }

  // The context of pixel j of a byte; `previous` is the pixel left of it.
  template <uint32_t Templ>
  static uint32_t Context(const Windows& w, uint32_t j, uint32_t previous) {
    const uint32_t s = 13 - j;
    const uint32_t a = (w.r0 >> s) & 7, b = (w.r1 >> s) & 7, c = (w.r2 >> s) & 7, u = (w.up >> s) & 7;
    if constexpr (Templ == 0) return a << 10 | b << 7 | c << 4 | u << 1 | previous;
    return ((a >> 1) & 1) << 9 | b << 6 | (c & 3) << 4 | u << 1 | previous;
  }
  // Typical prediction (T.88 6.3.5.6): the 3 x 3 reference pixels around
  // pixel j are all equal; `pixel` is then set to them.
  static bool Uniform(const Windows& w, uint32_t j, uint32_t* pixel) {
    const uint32_t s = 13 - j;
    const uint32_t a = (w.r0 >> s) & 7, b = (w.r1 >> s) & 7, c = (w.r2 >> s) & 7;
    *pixel = b & 1;
    return (a & b & c) == 7 || (a | b | c) == 0;
  }

 private:
  static uint32_t Pair(const unsigned char* line, uint32_t m) { return uint32_t{line[m]} << 8 | line[m + 1]; }

  uint32_t n_;
  int64_t dx_, dy_;
  std::vector<unsigned char> lines_;
  unsigned char *up_, *r0_, *r1_, *r2_;
  int64_t loaded_ref_y_ = INT64_MIN + 1;  // reference row r1_ holds; none yet
  RowSource reference_source_;
  RowSource coded_source_;
};
