// The shape gate of lossy text coding: whether a mark may be drawn as
// another mark's symbol without refinement, so that it changes pixels but
// never what the mark reads as. Every condition must hold:
//   - width and height each differ by at most r pixels (with smoothing, the
//     default: those of the smoothed boxes);
//   - the same number of 8-connected black pieces and of holes (4-connected
//     white regions the black encloses), and the same again with every
//     bump removed, thin diagonal strokes with them;
//   - at one alignment within one pixel of the centred one, every black
//     pixel of each mark lies within r pixels (the straight-line distance:
//     at r = 1, a pixel's four neighbours) of a black pixel of the other;
//   - small marks (under 14 r rows or 40 r^2 black pixels) and narrow ones
//     (narrower than half their height: bars such as I, l and 1 differ by a
//     row or a serif) only match marks identical to them.
// r is max(1, round(dpi / 300)). The second topology goes beyond the
// tolerance alone: at 150 to 300 dpi, rough marks of different characters
// (5 and 8, b and h) lie within one pixel of each other, and noise breaks
// their thin strokes differently from how it breaks one character's.
#pragma once

#include <cstdint>
#include <vector>

#include "common/bitmap.h"

// The tolerance r for a page of `pixelsPerMetre` (0: unknown, taken as 300 dpi).
int32_t GateTolerance(uint32_t pixelsPerMetre);

struct GateSettings {
  int32_t tolerance = 1;   // r
  // Off only to show that the substitution test catches a loose gate.
  bool checkTopology = true;
  bool exactSmallMarks = true;
  // Marks are compared with their one-pixel bumps and pits smoothed away
  // (bumps only where that keeps their topology), and so are their boxes:
  // a scan's specks move a box's edge. (Bars a row apart in height, I and
  // l, are narrow marks, matched only exactly.)
  bool smooth = true;
  bool operator==(const GateSettings&) const = default;
};

// Whether a mark of this size and black pixel count is small or narrow, so
// that the gate matches it only with identical marks.
bool MatchedOnlyExactly(uint32_t width, uint32_t height, int64_t black, const GateSettings& settings);

struct GateTopology {
  int32_t pieces;  // 8-connected groups of black pixels
  int32_t holes;   // 4-connected groups of white pixels that do not reach the edge
  bool operator==(const GateTopology&) const = default;
};
GateTopology MarkTopology(const BMP& mark);

// Where one mark is laid over another: the second mark's top-left corner at
// ((w1 - w2) / 2 + dx, (h1 - h2) / 2 + dy) of the first mark's box, the
// halvings toward zero as symbol matching centres marks.
struct GateAlignment {
  int32_t dx = 0;
  int32_t dy = 0;
};

// A mark readied for the gate: its rows as 64-bit words, plain and dilated
// by r, its black pixel count and its topology.
class GateShape {
 public:
  GateShape(const BMP& mark, const GateSettings& settings);

  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  int64_t black() const { return black_; }
  const GateTopology& topology() const { return topology_; }
  // The topology with every bump removed, thin diagonal strokes too.
  const GateTopology& strokelessTopology() const { return strokelessTopology_; }
  bool small() const { return small_; }
  // The box of the compared pixels (smoothed, when the settings say so).
  uint32_t boxWidth() const { return boxWidth_; }
  uint32_t boxHeight() const { return boxHeight_; }
  bool smoothed() const { return smoothed_; }
  int32_t tolerance() const { return r_; }

  // True when every black pixel of `inner` lies on this mark's dilated black
  // pixels, this mark's top-left corner at (x, y) of inner's box.
  bool Covers(const GateShape& inner, int64_t x, int64_t y) const;
  bool SamePixels(const GateShape& other) const;
  // 64 pixels of row y from column `column` on (0 outside the box).
  uint64_t PixelsFrom(int64_t y, int64_t column) const;

 private:
  uint32_t width_, height_, words_;
  int32_t r_;
  uint32_t dilatedWords_;  // per row of the dilated rows, (width + 2r) pixels
  int64_t black_;
  GateTopology topology_;
  GateTopology strokelessTopology_{};
  bool small_;
  bool smoothed_ = false;
  uint32_t boxWidth_, boxHeight_;
  std::vector<uint64_t> rows_;     // height rows (smoothed when smoothed_)
  std::vector<uint64_t> dilated_;  // height + 2r rows, from (-r, -r) of the box; none when small
};

// The gate between two readied marks (made with the same settings). On
// success *at (when given) holds the first alignment, in the order
// (0, 0), then dy from -1 to 1 and dx from -1 to 1, at which it holds.
bool PassesShapeGate(const GateShape& a, const GateShape& b, GateAlignment* at = nullptr);
// The gate at one alignment only.
bool PassesShapeGateAt(const GateShape& a, const GateShape& b, GateAlignment at);
