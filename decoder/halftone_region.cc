// Halftone region segments (T.88 6.6, 7.4.5) and the gray-scale image
// decoding procedure (T.88 Annex C.5): a grid of cells, each drawn with the
// pattern its gray-scale value selects.
#include <cstdlib>
#include <cstring>

#include "common/checked_alloc.h"
#include "common/limits.h"
#include "common/messages.h"
#include "decoder/generic_region.h"
#include "decoder/halftone_region.h"
#include "decoder/pattern_dictionary.h"
#include "decoder/region_frame.h"
#include "decoder/segment_types.h"
#include "kernels/context_template.h"

namespace {

// The parameters of one halftone region (T.88 Table 20).
struct HALFTONE_PARAMS {
  DECODER* pInput;
  uint32_t bMMR;
  uint32_t lTemplate;
  SEGMENT_HEADER* pPatternDict;  // nPatterns, pPatterns, lPatternWidth, lPatternHeight
  uint32_t bDefPixel;
  uint32_t lCombOp;
  uint32_t bEnableSkip;
  uint32_t lGridWidth;
  uint32_t lGridHeight;
  int32_t lGridX;
  int32_t lGridY;
  uint32_t lGridVectorX;
  uint32_t lGridVectorY;
  // HBW and HBH as declared: the skip bitmap depends on them, whatever part
  // of the region is drawn.
  uint32_t lRegionWidth;
  uint32_t lRegionHeight;
};

// Owns the bitmaps and arrays of one region's decoding.
class Scratch {
 public:
  Scratch() = default;
  ~Scratch() {
    DestroyBMP(&skip);
    for (BMP& plane : planes) DestroyBMP(&plane);
    std::free(values);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  BMP skip{};
  BMP planes[32]{};
  uint32_t* values = nullptr;
};

// T.88 6.6.5.1 and 6.6.5.2: the top-left pixel of the pattern of grid cell
// (m, n). The sums are formed in 64 bits, where they cannot overflow
// (|HGX| < 2^31, m, n < 2^32, HRX, HRY < 2^16), so a grid that leaves the
// 32-bit range is placed where its vectors say, far off the region, instead
// of wrapping back onto it.
inline void GridPoint(const HALFTONE_PARAMS* p, uint64_t m, uint64_t n, int64_t* x, int64_t* y) {
  const int64_t rx = p->lGridVectorX, ry = p->lGridVectorY;
  const int64_t mm = static_cast<int64_t>(m), nn = static_cast<int64_t>(n);
  *x = (p->lGridX + mm * ry + nn * rx) >> 8;
  *y = (p->lGridY + mm * rx - nn * ry) >> 8;
}

// HBPP: the smallest b with (nPatterns - 1) >> b equal to 0 (T.88 6.6.5
// step 3, ceil(log2(HNUMPATS))). At most 32.
uint32_t BitsPerValue(uint32_t nPatterns) {
  uint32_t bits = 0;
  while (bits < 32 && ((uint64_t{nPatterns} - 1) >> bits) != 0) ++bits;
  return bits;
}

// T.88 6.6.5.1: marks the cells whose pattern would lie wholly outside the
// region.
void ComputeSkip(const HALFTONE_PARAMS* p, BMP* skip) {
  const int64_t pw = p->pPatternDict->lPatternWidth, ph = p->pPatternDict->lPatternHeight;
  const int64_t w = p->lRegionWidth, h = p->lRegionHeight;
  for (uint32_t m = 0; m < p->lGridHeight; ++m) {
    unsigned char* row = skip->pData + static_cast<size_t>(m) * skip->lStride;
    for (uint32_t n = 0; n < p->lGridWidth; ++n) {
      int64_t x, y;
      GridPoint(p, m, n, &x, &y);
      if (x + pw <= 0 || x >= w || y + ph <= 0 || y >= h) row[n >> 3] |= ConstMask1[n & 7];
    }
  }
}

// T.88 Annex C.5: decodes HBPP Gray-coded bit planes and assembles the
// values. Each plane is turned to binary by XORing the plane above into it.
void DecodeGrayScaleImage(JB2FILE* file, const HALFTONE_PARAMS* p, uint32_t bitsPerValue, Scratch* s) {
  const uint32_t gw = p->lGridWidth, gh = p->lGridHeight;
  if (!p->bMMR) MQInitDec(&file->MQ);  // one MQ stream for all planes
  GENERIC_PARAMS params{};
  params.pInput = p->pInput;
  params.bMMR = p->bMMR;
  params.lTemplate = p->lTemplate;
  params.bTPGDON = 0;
  params.bUseSkip = p->bEnableSkip;
  params.pSkip = p->bEnableSkip ? &s->skip : nullptr;
  jb2dec::SetHalftoneAtPixels(&params, p->lTemplate <= 1 ? 3 : 2, -1);
  params.bEOFB = 1;
  for (uint32_t j = bitsPerValue; j-- > 0;) {
    BMP* plane = &s->planes[j];
    // HGW x HGH was checked against the pixel cap.
    CreateBMPChecked(plane, gw, gh, 0);
    DecodeGenericRegion(file, &params, plane);
    if (j + 1 < bitsPerValue) {
      const BMP* above = &s->planes[j + 1];
      const size_t bytes = static_cast<size_t>(plane->lStride) * plane->lHeight;
      for (size_t i = 0; i < bytes; ++i) plane->pData[i] ^= above->pData[i];
    }
  }
  for (uint32_t m = 0; m < gh; ++m) {
    uint32_t* values = s->values + static_cast<size_t>(m) * gw;
    for (uint32_t j = bitsPerValue; j-- > 0;) {
      const unsigned char* row = s->planes[j].pData + static_cast<size_t>(m) * s->planes[j].lStride;
      for (uint32_t n = 0; n < gw; ++n) values[n] = (values[n] << 1) | ((row[n >> 3] >> (7 - (n & 7))) & 1u);
    }
  }
}

// Area of the pattern at (x, y) that falls on the region.
uint64_t CoveredPixels(int64_t x, int64_t y, int64_t pw, int64_t ph, const BMP* region) {
  const int64_t x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
  const int64_t x1 = x + pw < region->lWidth ? x + pw : region->lWidth;
  const int64_t y1 = y + ph < region->lHeight ? y + ph : region->lHeight;
  return x1 > x0 && y1 > y0 ? static_cast<uint64_t>((x1 - x0) * (y1 - y0)) : 0;
}

// T.88 6.6.5.2: draws every cell's pattern, row by row. A value beyond the
// dictionary (only a damaged file has one: T.88 requires GI < HNUMPATS) is
// drawn with the last pattern, the nearest gray level the dictionary has.
void RenderPatterns(const HALFTONE_PARAMS* p, const uint32_t* values, BMP* region) {
  SEGMENT_HEADER* dict = p->pPatternDict;
  const int64_t pw = dict->lPatternWidth, ph = dict->lPatternHeight;
  const uint64_t budget = kMaxHalftoneOverdraw * region->lWidth * region->lHeight;
  const uint32_t last = dict->nPatterns - 1;
  const int op = static_cast<int>(p->lCombOp);
  uint64_t drawn = 0;
  bool reported = false;
  for (uint32_t m = 0; m < p->lGridHeight; ++m) {
    for (uint32_t n = 0; n < p->lGridWidth; ++n) {
      int64_t x, y;
      GridPoint(p, m, n, &x, &y);
      const uint64_t covered = CoveredPixels(x, y, pw, ph, region);
      if (covered == 0) continue;
      drawn += covered;
      if (drawn > budget) {
        PrintError("Halftone Patterns Overlap Too Much: Drawing Stopped");
        return;
      }
      uint32_t value = values[static_cast<size_t>(m) * p->lGridWidth + n];
      if (value > last) {
        if (!reported) PrintWarning("Gray-Scale Value beyond the Patterns");
        reported = true;
        value = last;
      }
      CombineBMP(region, &dict->pPatterns[value], static_cast<long>(x), static_cast<long>(y), op);
    }
  }
}

// T.88 6.6.5 NOTE 3: an axis-aligned grid whose step is the pattern width,
// at a whole-pixel origin, with patterns at most one byte wide. Its patterns
// of one grid row never overlap and leave no gap, so the row can be laid out
// in a band and combined at once: the same pixels as drawing cell by cell.
bool IsSimpleGrid(const HALFTONE_PARAMS* p, const BMP* region) {
  const uint32_t pw = p->pPatternDict->lPatternWidth;
  return p->lGridVectorY == 0 && p->lGridVectorX == pw * 256 && pw <= 8 && p->lGridX >= 0 &&
         (p->lGridX & 255) == 0 && (p->lGridY & 255) == 0 &&
         uint64_t{p->lGridWidth} * pw <= uint64_t{region->lWidth} + pw;
}

// Draws a simple grid band by band; false when the band cannot be created
// (the caller then draws cell by cell).
[[nodiscard]] bool RenderSimpleGrid(JB2FILE* file, const HALFTONE_PARAMS* p, const uint32_t* values, BMP* region) {
  SEGMENT_HEADER* dict = p->pPatternDict;
  const uint32_t pw = dict->lPatternWidth, ph = dict->lPatternHeight, gw = p->lGridWidth;
  const uint32_t last = dict->nPatterns - 1;
  const unsigned char keep = static_cast<unsigned char>(0xFF << (8 - pw));
  BMP band{};
  if (!CreateCheckedBMP(file, &band, uint64_t{gw} * pw, ph, 0)) return false;
  bool reported = false;
  for (uint32_t m = 0; m < p->lGridHeight; ++m) {
    int64_t x, y;
    GridPoint(p, m, 0, &x, &y);
    if (y >= region->lHeight) break;  // later rows lie lower still
    if (y + ph <= 0) continue;
    const uint32_t* row = values + static_cast<size_t>(m) * gw;
    for (uint32_t k = 0; k < ph; ++k) {
      unsigned char* out = band.pData + static_cast<size_t>(k) * band.lStride;
      uint32_t acc = 0, bits = 0;
      for (uint32_t n = 0; n < gw; ++n) {
        uint32_t value = row[n];
        if (value > last) {
          if (!reported) PrintWarning("Gray-Scale Value beyond the Patterns");
          reported = true;
          value = last;
        }
        const BMP* pattern = &dict->pPatterns[value];
        acc = (acc << pw) | ((pattern->pData[static_cast<size_t>(k) * pattern->lStride] & keep) >> (8 - pw));
        bits += pw;
        if (bits >= 8) {
          bits -= 8;
          *out++ = static_cast<unsigned char>(acc >> bits);
        }
      }
      if (bits) *out = static_cast<unsigned char>(acc << (8 - bits));
    }
    CombineBMP(region, &band, static_cast<long>(x), static_cast<long>(y), static_cast<int>(p->lCombOp));
  }
  DestroyBMP(&band);
  return true;
}

// T.88 6.6.5. Returns false (after a message) when the region cannot be
// decoded within the limits; region is then left as it was.
[[nodiscard]] bool DecodeHalftoneRegion(JB2FILE* file, const HALFTONE_PARAMS* p, BMP* region) {
  const uint64_t cells = uint64_t{p->lGridWidth} * p->lGridHeight;
  // The gray-scale image is held to the file's bitmap cap as well, even when
  // it has no planes (a dictionary of one pattern).
  const uint64_t cap = file->lMaxBitmapPixels ? file->lMaxBitmapPixels : kMaxBitmapPixels;
  const uint64_t regionPixels = uint64_t{p->lRegionWidth} * p->lRegionHeight;
  if (cells > kMaxHalftoneGridCells || cells > cap ||
      cells > kMaxHalftoneCellsPerPixel * regionPixels + kHalftoneCellAllowance) {
    PrintError("Halftone Grid Too Large");
    return false;
  }
  Scratch s;
  if (p->bEnableSkip && cells != 0) {
    if (!CreateCheckedBMP(file, &s.skip, p->lGridWidth, p->lGridHeight, 0)) return false;
    ComputeSkip(p, &s.skip);
  }
  const uint32_t bitsPerValue = BitsPerValue(p->pPatternDict->nPatterns);
  s.values = static_cast<uint32_t*>(std::calloc(cells ? cells : 1, sizeof(uint32_t)));
  if (!s.values) {
    PrintError("Halftone Grid Too Large");
    return false;
  }
  if (p->bDefPixel) InvertBMP(region);
  if (bitsPerValue != 0 && cells != 0) DecodeGrayScaleImage(file, p, bitsPerValue, &s);
  if (!IsSimpleGrid(p, region) || !RenderSimpleGrid(file, p, s.values, region)) RenderPatterns(p, s.values, region);
  return true;
}

}  // namespace

void DecodeHalftoneRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input) {
  if (!BeginRegionSegment(file, seg, input, kRegionDrawn)) return;

  // T.88 7.4.5.1.
  const uint32_t flags = DecodeBits(input, 8);
  HALFTONE_PARAMS params{};
  params.pInput = input;
  params.bMMR = flags & 1;
  params.lTemplate = (flags >> 1) & 3;
  params.bEnableSkip = (flags >> 3) & 1;
  params.lCombOp = (flags >> 4) & 7;
  params.bDefPixel = (flags >> 7) & 1;
  if (params.lTemplate != 0 && params.bMMR) PrintWarning("Invalid HTEMPLATE");
  if (params.bEnableSkip && params.bMMR) PrintWarning("Invalid HENABLESKIP");
  if (params.lCombOp > kOpReplace) {
    // T.88 7.4.5.1.1 defines operators 0 to 4 only; drawing nothing would
    // lose the whole region.
    PrintWarning("Invalid HCOMBOP - Using OR");
    params.lCombOp = kOpOr;
  }
  params.lGridWidth = DecodeBits(input, 32);
  params.lGridHeight = DecodeBits(input, 32);
  params.lGridX = static_cast<int32_t>(DecodeBits(input, 32));
  params.lGridY = static_cast<int32_t>(DecodeBits(input, 32));
  params.lGridVectorX = DecodeBits(input, 16);
  params.lGridVectorY = DecodeBits(input, 16);
  params.lRegionWidth = seg->Region.lWidth;
  params.lRegionHeight = seg->Region.lHeight;

  bool decoded = false;
  if (!seg->bHasPatternDict || !seg->pPatternDict) {
    PrintError("Halftone Region Refers to No Dictionary");
  } else if (!seg->pPatternDict->pPatterns || seg->pPatternDict->nPatterns == 0) {
    // The dictionary was refused or never decoded.
    PrintError("Pattern Dictionary Holds No Patterns");
  } else if (input->nPastEnd == 0) {
    params.pPatternDict = seg->pPatternDict;
    ResetMQBuffer(&file->Contexts[0], GenericContextCount(params.lTemplate));
    decoded = DecodeHalftoneRegion(file, &params, &seg->Bitmap);
  }
  // A region that is not decoded is not drawn either.
  if (!decoded) {
    DestroyBMP(&seg->Bitmap);
    seg->Bitmap = BMP{};
    return;
  }
  EndRegionSegment(file, seg);
}
