// Contexts one pixel at a time, from the template figures of T.88.
#include "kernels/context_plain.h"

#include <algorithm>

namespace {

// Offsets past 2^34 name pixels outside any bitmap (below 2^32 pixels a
// side) just as the offsets read from the file do; clamped, every sum
// below stays inside 64 bits.
int64_t Clamp(long v) { return std::clamp<int64_t>(v, -(int64_t{1} << 34), int64_t{1} << 34); }

int Pixel(const BMP* bmp, int64_t x, int64_t y) {
  if (x < 0 || y < 0 || x >= int64_t{bmp->lWidth} || y >= int64_t{bmp->lHeight}) return 0;
  return (bmp->pData[static_cast<size_t>(y) * bmp->lStride + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1;
}

void SetPixel(BMP* bmp, uint32_t x, uint32_t y, int v) {
  unsigned char& byte = bmp->pData[static_cast<size_t>(y) * bmp->lStride + x / 8];
  const unsigned char bit = static_cast<unsigned char>(0x80u >> (x % 8));
  byte = static_cast<unsigned char>(v ? byte | bit : byte & ~bit);
}

// A template pixel: (x, y) relative to the current pixel, or adaptive pixel
// `at` (x and y unused).
struct TemplatePixel {
  int x, y, at;
};
constexpr int kFixed = -1;

// T.88 Figures 3 to 6 in raster order; A1..A4 are adaptive pixels 0..3.
constexpr TemplatePixel kGeneric0[] = {
    {0, 0, 3},       {-1, -2, kFixed}, {0, -2, kFixed}, {1, -2, kFixed}, {0, 0, 2},       {0, 0, 1},
    {-2, -1, kFixed}, {-1, -1, kFixed}, {0, -1, kFixed}, {1, -1, kFixed}, {2, -1, kFixed}, {0, 0, 0},
    {-4, 0, kFixed}, {-3, 0, kFixed},  {-2, 0, kFixed}, {-1, 0, kFixed}};
constexpr TemplatePixel kGeneric1[] = {
    {-1, -2, kFixed}, {0, -2, kFixed}, {1, -2, kFixed}, {2, -2, kFixed}, {-2, -1, kFixed},
    {-1, -1, kFixed}, {0, -1, kFixed}, {1, -1, kFixed}, {2, -1, kFixed}, {0, 0, 0},
    {-3, 0, kFixed},  {-2, 0, kFixed}, {-1, 0, kFixed}};
constexpr TemplatePixel kGeneric2[] = {{-1, -2, kFixed}, {0, -2, kFixed}, {1, -2, kFixed}, {-2, -1, kFixed},
                                       {-1, -1, kFixed}, {0, -1, kFixed}, {1, -1, kFixed}, {0, 0, 0},
                                       {-2, 0, kFixed},  {-1, 0, kFixed}};
constexpr TemplatePixel kGeneric3[] = {{-3, -1, kFixed}, {-2, -1, kFixed}, {-1, -1, kFixed}, {0, -1, kFixed},
                                       {1, -1, kFixed},  {0, 0, 0},        {-4, 0, kFixed},  {-3, 0, kFixed},
                                       {-2, 0, kFixed},  {-1, 0, kFixed}};

// T.88 Figures 12 and 13: the reference's pixels, then the coded bitmap's;
// RA2 is adaptive pixel 1 (in the reference), RA1 adaptive pixel 0.
constexpr TemplatePixel kRefined0Ref[] = {{0, 0, 1},        {0, -1, kFixed}, {1, -1, kFixed},
                                          {-1, 0, kFixed},  {0, 0, kFixed},  {1, 0, kFixed},
                                          {-1, 1, kFixed},  {0, 1, kFixed},  {1, 1, kFixed}};
constexpr TemplatePixel kRefined0Coded[] = {{0, 0, 0}, {0, -1, kFixed}, {1, -1, kFixed}, {-1, 0, kFixed}};
constexpr TemplatePixel kRefined1Ref[] = {{0, -1, kFixed}, {-1, 0, kFixed}, {0, 0, kFixed},
                                          {1, 0, kFixed},  {0, 1, kFixed},  {1, 1, kFixed}};
constexpr TemplatePixel kRefined1Coded[] = {
    {-1, -1, kFixed}, {0, -1, kFixed}, {1, -1, kFixed}, {-1, 0, kFixed}};

// Appends the pixels of `pixels` around (x, y) of `bmp` to `context`. In the
// bitmap being coded (`coded`) an adaptive pixel must already be coded
// (T.88 6.2.5.4): above the current row, or left of it in the row.
template <size_t N>
uint32_t Append(uint32_t context, const TemplatePixel (&pixels)[N], const BMP* bmp, int64_t x, int64_t y,
                const long* atx, const long* aty, bool coded) {
  for (const TemplatePixel& p : pixels) {
    int64_t px = p.x, py = p.y;
    if (p.at != kFixed) {
      px = Clamp(atx[p.at]);
      py = Clamp(aty[p.at]);
    }
    const bool usable = !coded || py < 0 || (py == 0 && px < 0);
    context = context << 1 | static_cast<uint32_t>(usable ? Pixel(bmp, x + px, y + py) : 0);
  }
  return context;
}

}  // namespace

uint32_t GenericContextPlain(const BMP* bmp, int64_t x, int64_t y, uint32_t templ, const long* atx,
                             const long* aty) {
  switch (templ) {
    case 0: return Append(0, kGeneric0, bmp, x, y, atx, aty, true);
    case 1: return Append(0, kGeneric1, bmp, x, y, atx, aty, true);
    case 2: return Append(0, kGeneric2, bmp, x, y, atx, aty, true);
    case 3: return Append(0, kGeneric3, bmp, x, y, atx, aty, true);
    default: return 0;
  }
}

uint32_t RefinementContextPlain(const BMP* coded, const BMP* ref, int64_t x, int64_t y, long dx, long dy,
                                uint32_t templ, const long* atx, const long* aty) {
  const int64_t rx = x - Clamp(dx), ry = y - Clamp(dy);
  switch (templ) {
    case 0: {
      const uint32_t context = Append(0, kRefined0Ref, ref, rx, ry, atx, aty, false);
      return Append(context, kRefined0Coded, coded, x, y, atx, aty, true);
    }
    case 1: {
      const uint32_t context = Append(0, kRefined1Ref, ref, rx, ry, atx, aty, false);
      return Append(context, kRefined1Coded, coded, x, y, atx, aty, true);
    }
    default: return 0;
  }
}

bool ReferenceUniformPlain(const BMP* ref, int64_t x, int64_t y) {
  const int first = Pixel(ref, x - 1, y - 1);
  for (int64_t j = -1; j <= 1; ++j)
    for (int64_t i = -1; i <= 1; ++i)
      if (Pixel(ref, x + i, y + j) != first) return false;
  return true;
}

void DecodeGenericRowPlain(MQDECODER* mq, unsigned char* index, unsigned char* mps, BMP* bmp, uint32_t y,
                           uint32_t templ, const long* atx, const long* aty) {
  for (uint32_t x = 0; x < bmp->lWidth; ++x) {
    const uint32_t cx = GenericContextPlain(bmp, x, y, templ, atx, aty);
    SetPixel(bmp, x, y, MQDecodePlain(mq, index + cx, mps + cx));
  }
}

void EncodeGenericRowPlain(MQENCODER* mq, unsigned char* index, unsigned char* mps, const BMP* bmp, uint32_t y,
                           uint32_t templ, const long* atx, const long* aty) {
  for (uint32_t x = 0; x < bmp->lWidth; ++x) {
    const uint32_t cx = GenericContextPlain(bmp, x, y, templ, atx, aty);
    MQEncodePlain(mq, Pixel(bmp, x, y), index + cx, mps + cx);
  }
}
