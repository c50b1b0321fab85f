// The contexts of T.88 6.2.5.3 and 6.3.5.3 formed one pixel at a time from
// the templates of Figures 3 to 6, 12 and 13, and generic rows coded with
// them by the plain MQ coder: the plain twins of kernels/context_template.h,
// generic_row_layout.h, generic_row_decoder.h, generic_row_encoder.h and
// refinement_rows.h. Slow on purpose; the kernels test holds the fast paths
// to them, and they are not part of the libraries.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/mq_coder.h"

// The context of pixel (x, y) of `bmp` under generic template `templ` (0 to
// 3) with adaptive pixels atx/aty (T.88 6.2.5.4): the template's pixels in
// raster order, the first one the most significant bit. Pixels outside the
// bitmap, adaptive pixels not yet coded (on or right of (x, y), or below
// it) and every pixel of an unknown template read 0.
uint32_t GenericContextPlain(const BMP* bmp, int64_t x, int64_t y, uint32_t templ, const long* atx,
                             const long* aty);

// The context of pixel (x, y) of `coded` under refinement template `templ`
// (0 or 1) with reference pixel R(i, j) at (x - dx + i, y - dy + j) of `ref`
// and adaptive pixels RA1 (atx[0], aty[0]; in `coded`) and RA2 (atx[1],
// aty[1]; in `ref`): the reference's template pixels in raster order, then
// the coded bitmap's, the first one the most significant bit.
uint32_t RefinementContextPlain(const BMP* coded, const BMP* ref, int64_t x, int64_t y, long dx, long dy,
                                uint32_t templ, const long* atx, const long* aty);

// T.88 6.3.5.6: the nine pixels of `ref` around (x, y) are all equal
// (outside pixels 0).
bool ReferenceUniformPlain(const BMP* ref, int64_t x, int64_t y);

// Row y of `bmp` (the rows above it done) decoded or coded pixel by pixel,
// in GenericContextPlain's contexts `index`/`mps`, by the plain MQ coder:
// T.88 6.2.5.7 step 3 c) for a row that typical prediction does not skip.
// Decoding leaves the spare bits after the last pixel as they were.
void DecodeGenericRowPlain(MQDECODER* mq, unsigned char* index, unsigned char* mps, BMP* bmp, uint32_t y,
                           uint32_t templ, const long* atx, const long* aty);
void EncodeGenericRowPlain(MQENCODER* mq, unsigned char* index, unsigned char* mps, const BMP* bmp, uint32_t y,
                           uint32_t templ, const long* atx, const long* aty);
