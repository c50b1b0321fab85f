// Generic (T.88 6.2.5.3, 6.2.5.4) and refinement (T.88 6.3.5.3, 6.3.5.4)
// templates as shift-window runs and single-pixel probes, and the 3x3 test
// of refinement typical prediction (T.88 6.3.5.6).
#include "kernels/context_template.h"

#include <algorithm>
#include <iterator>

#include "common/messages.h"

namespace {

// Offsets and displacements are clamped to +-2^34 before use. Bitmaps are
// below 2^32 pixels in each direction, so an offset beyond 2^33 already puts
// every pixel it names outside the bitmap; clamping keeps that (all zeros)
// while every later sum stays far inside 64 bits.
constexpr int64_t kFarOffset = int64_t{1} << 34;

// A run whose row is outside its bitmap never loads; this keeps its counter
// from reaching 0 within any realistic row (and reloading harmlessly if so).
constexpr uint32_t kNoMoreLoads = 65536;

int64_t ClampOffset(long value) {
  return std::clamp<int64_t>(static_cast<int64_t>(value), -kFarOffset, kFarOffset);
}

// Floor division by 8 for negative columns too.
int64_t ByteOfColumn(int64_t x) { return x >= 0 ? x / 8 : -((-x + 7) / 8); }

// Adds template pixels: a run of `length` pixels of `bmp` starting at column
// offset `x` in row offset `y`, whose first pixel is context position
// `position` (bit 15 - position). In the bitmap being coded only pixels
// already coded may be used (T.88 6.2.5.4: rows above, or left in this row).
void AddContextPixels(CONTEXT* ctx, BMP* bmp, int64_t x, uint32_t length, uint32_t position, int64_t y,
                      bool reference) {
  if (!reference && y > 0) {
    PrintError("Unexpected: Context y co-ordinate > 0");
    return;
  }
  if (!reference && y == 0) {
    if (x >= 0) {
      PrintError("Unexpected: Invalid x for context");
      return;
    }
    if (ctx->nPixels >= std::size(ctx->aPixels)) return;
    CONTEXTPIXEL* probe = &ctx->aPixels[ctx->nPixels++];
    *probe = CONTEXTPIXEL{};
    probe->pBMP = bmp;
    probe->lX0 = probe->lX = x;
    probe->lRow = 0;
    probe->lShift = position + 16;
    return;
  }
  if (ctx->nRows >= std::size(ctx->aRows)) return;
  CONTEXTROW* row = &ctx->aRows[ctx->nRows++];
  *row = CONTEXTROW{};
  row->pBMP = bmp;
  row->lX = x;
  row->lRow = y;
  row->ulMask = ~uint32_t{0} << (32 - length);
  row->lShift = position + 16;
}

void ClearContext(CONTEXT* ctx) {
  ctx->nRows = 0;
  ctx->nPixels = 0;
  ctx->ulHistory = 0;
  ctx->ulHistoryMask = 0;
}

// Whether adaptive pixel k sits at (x, y).
bool AtNominal(const long* atx, const long* aty, int k, long x, long y) { return atx[k] == x && aty[k] == y; }

// Pixels x-1..x+1 of row y as three bits, outside pixels 0. x and y are
// already clamped, so the sums cannot overflow.
uint32_t ThreePixels(const BMP* bmp, int64_t x, int64_t y) {
  if (y < 0 || y >= int64_t{bmp->lHeight}) return 0;
  const unsigned char* row = bmp->pData + static_cast<size_t>(y) * bmp->lStride;
  uint32_t bits = 0;
  for (int64_t c = x - 1; c <= x + 1; ++c) {
    bits <<= 1;
    if (c >= 0 && c < int64_t{bmp->lWidth}) bits |= (row[c >> 3] >> (7 - (c & 7))) & 1u;
  }
  return bits;
}

}  // namespace

void InitContext(CONTEXT* ctx, BMP* bmp, int templ, long* atx, long* aty) {
  ClearContext(ctx);
  auto add = [&](int64_t x, uint32_t length, uint32_t position, int64_t y) {
    AddContextPixels(ctx, bmp, x, length, position, y, false);
  };
  auto addAt = [&](int k, uint32_t position) { add(ClampOffset(atx[k]), 1, position, ClampOffset(aty[k])); };
  switch (templ) {
    case 0:  // A4; C(-1..1,-2); A3; A2; C(-2..2,-1); A1; C(-4..-1,0)
      if (AtNominal(atx, aty, 0, 3, -1) && AtNominal(atx, aty, 1, -3, -1)) {
        add(-3, 7, 5, -1);
      } else {
        addAt(1, 5);
        add(-2, 5, 6, -1);
        addAt(0, 11);
      }
      if (AtNominal(atx, aty, 2, 2, -2) && AtNominal(atx, aty, 3, -2, -2)) {
        add(-2, 5, 0, -2);
      } else {
        addAt(3, 0);
        add(-1, 3, 1, -2);
        addAt(2, 4);
      }
      ctx->ulHistoryMask = 15;
      break;
    case 1:  // C(-1..2,-2); C(-2..2,-1); A1; C(-3..-1,0)
      add(-1, 4, 3, -2);
      if (AtNominal(atx, aty, 0, 3, -1)) {
        add(-2, 6, 7, -1);
      } else {
        add(-2, 5, 7, -1);
        addAt(0, 12);
      }
      ctx->ulHistoryMask = 7;
      break;
    case 2:  // C(-1..1,-2); C(-2..1,-1); A1; C(-2..-1,0)
      add(-1, 3, 6, -2);
      if (AtNominal(atx, aty, 0, 2, -1)) {
        add(-2, 5, 9, -1);
      } else {
        add(-2, 4, 9, -1);
        addAt(0, 13);
      }
      ctx->ulHistoryMask = 3;
      break;
    case 3:  // C(-3..1,-1); A1; C(-4..-1,0)
      if (AtNominal(atx, aty, 0, 2, -1)) {
        add(-3, 6, 6, -1);
      } else {
        add(-3, 5, 6, -1);
        addAt(0, 11);
      }
      ctx->ulHistoryMask = 15;
      break;
    default:  // no template: every context is 0
      break;
  }
}

void InitRefContext(CONTEXT* ctx, BMP* ref, BMP* bmp, long dx, long dy, int templ, long* atx, long* aty) {
  ClearContext(ctx);
  // Reference pixel R(i, j) is at column x - dx + i, row y - dy + j.
  const int64_t rx = -ClampOffset(dx);
  const int64_t ry = -ClampOffset(dy);
  auto addCoded = [&](int64_t x, uint32_t length, uint32_t position, int64_t y) {
    AddContextPixels(ctx, bmp, x, length, position, y, false);
  };
  auto addRef = [&](int64_t i, uint32_t length, uint32_t position, int64_t j) {
    AddContextPixels(ctx, ref, rx + i, length, position, ry + j, true);
  };
  switch (templ) {
    case 0:  // RA2; R(0..1,-1); R(-1..1,0); R(-1..1,1); RA1; C(0..1,-1); C(-1,0)
      if (AtNominal(atx, aty, 0, -1, -1)) {
        addCoded(-1, 3, 12, -1);
      } else {
        addCoded(0, 2, 13, -1);
        addCoded(ClampOffset(atx[0]), 1, 12, ClampOffset(aty[0]));
      }
      if (AtNominal(atx, aty, 1, -1, -1)) {
        addRef(-1, 3, 3, -1);
      } else {
        addRef(0, 2, 4, -1);
        addRef(ClampOffset(atx[1]), 1, 3, ClampOffset(aty[1]));
      }
      addRef(-1, 3, 6, 0);
      addRef(-1, 3, 9, 1);
      ctx->ulHistoryMask = 1;
      break;
    case 1:  // R(0,-1); R(-1..1,0); R(0..1,1); C(-1..1,-1); C(-1,0)
      addCoded(-1, 3, 12, -1);
      addRef(0, 1, 6, -1);
      addRef(-1, 3, 7, 0);
      addRef(0, 2, 10, 1);
      ctx->ulHistoryMask = 1;
      break;
    default:  // no template: every context is 0
      break;
  }
}

void LoadContextByte(CONTEXTROW* row) {
  if (row->bEnd) {
    row->lBits = kNoMoreLoads;
    return;
  }
  const int64_t index = row->lByte++;
  if (index >= 0) {  // bytes left of column 0 read as zeros
    const BMP* bmp = row->pBMP;
    uint32_t byte = *row->pNext++;
    if (row->lByte == int64_t{bmp->lBytesPerRow}) {
      const uint32_t used = bmp->lWidth % 8;
      if (used != 0) byte &= 0xFFu << (8 - used);
      row->bEnd = 1;
    }
    row->ulWindow |= byte;
  }
  row->lBits = 8;
}

void NextContextRow(CONTEXT* ctx) {
  for (uint32_t i = 0; i < ctx->nRows; ++i) {
    CONTEXTROW* row = &ctx->aRows[i];
    const BMP* bmp = row->pBMP;
    row->ulWindow = 0;
    row->bEnd = 0;
    row->lBits = 0;
    if (bmp->pData != nullptr && bmp->lWidth > 0 && row->lRow >= 0 && row->lRow < int64_t{bmp->lHeight} &&
        row->lX < int64_t{bmp->lWidth}) {
      row->lByte = ByteOfColumn(row->lX);
      // pNext stays at the row's first byte until the run reaches column 0.
      row->pNext = bmp->pData + static_cast<size_t>(row->lRow) * bmp->lStride +
                   static_cast<size_t>(std::max<int64_t>(row->lByte, 0));
      for (int k = 0; k < 3; ++k) {
        LoadContextByte(row);
        row->ulWindow <<= 8;
      }
      LoadContextByte(row);
      const uint32_t skip = static_cast<uint32_t>(row->lX & 7);
      row->ulWindow <<= skip;
      row->lBits -= skip;
    } else {  // the run reads zeros all along this row
      row->bEnd = 1;
      row->pNext = nullptr;
      row->lBits = kNoMoreLoads;
    }
    row->lRow += 1;
  }
  for (uint32_t i = 0; i < ctx->nPixels; ++i) {
    ctx->aPixels[i].lX = ctx->aPixels[i].lX0;
    ctx->aPixels[i].lRow += 1;
  }
  ctx->ulHistory = 0;
}

int Check3x3(BMP* bmp, long x, long y) {
  const int64_t cx = ClampOffset(x);
  const int64_t cy = ClampOffset(y);
  const uint32_t nine = (ThreePixels(bmp, cx, cy - 1) << 6) | (ThreePixels(bmp, cx, cy) << 3) | ThreePixels(bmp, cx, cy + 1);
  return nine == 0 || nine == 0x1FF ? 1 : 0;
}
