// Row decoder for the nominal template 0 (T.88 6.2.5.3, Figure 3).
//
// The context of pixel (x, y) is row y - 2 at x - 2..x + 2 (bits 15-11),
// row y - 1 at x - 3..x + 3 (bits 10-4) and the four pixels left of x in
// row y (bits 3-0). The rows above are read a byte at a time into 24-bit
// windows holding bytes k - 1, k and k + 1, so a pixel's context is two
// shifts and masks away. A byte of pixels whose neighbourhood is all one
// colour (white above and to the left: context 0; black: context 0xFFFF) is
// decoded as one run of MPS decisions when the coder allows it
// (common/mq_runs.h), and so are the bytes after it while the rows above
// stay that colour: white paper, and the black of inverted pages, cost a few
// operations per byte instead of per pixel.
#include "decoder/generic_region_template0.h"

#include <algorithm>
#include <cstring>

#include "common/mq_runs.h"
#include "common/row_window.h"


namespace {

// The context all of whose pixels a byte's windows show as one colour: 0
// (white) or 0xFFFF (black); kMixed otherwise.
constexpr uint32_t kMixed = 1;
inline uint32_t UniformContext(uint32_t bits, uint32_t w1, uint32_t w2) {
  const uint32_t b = bits & 0xF, u1 = w1 & kUp1ByteMask, u2 = w2 & kUp2ByteMask;
  if ((b | u1 | u2) == 0) return 0;
  if (b == 0xF && u1 == kUp1ByteMask && u2 == kUp2ByteMask) return 0xFFFF;
  return kMixed;
}

}  // namespace

bool IsNominalTemplate0(uint32_t templ, const long* atx, const long* aty) {
  static constexpr long kX[4] = {3, -3, 2, -2}, kY[4] = {-1, -1, -2, -2};
  if (templ != 0) return false;
  for (int k = 0; k < 4; ++k)
    if (atx[k] != kX[k] || aty[k] != kY[k]) return false;
  return true;
}

void DecodeRowTemplate0(MQDECODER* mq, MQRegs& regs, unsigned char* index, unsigned char* mps, BMP* out,
                        uint32_t y) {
  // A local copy: stores to the row (bytes) could alias the caller's record,
  // which would send the registers to memory after every pixel.
  MQRegs r = regs;
  const uint32_t width = out->lWidth, bytesPerRow = out->lBytesPerRow;
  const uint32_t lastMask = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  const size_t stride = out->lStride;
  unsigned char* row = out->pData + y * stride;
  const unsigned char* up1 = y >= 1 ? row - stride : nullptr;
  const unsigned char* up2 = y >= 2 ? row - 2 * stride : nullptr;
  uint32_t w1 = RowByte(up1, 0, bytesPerRow, lastMask);
  uint32_t w2 = RowByte(up2, 0, bytesPerRow, lastMask);
  // The pixels decoded so far in this row, most recent in bit 0; the context
  // takes the last four.
  uint32_t bits = 0;

  // Decodes byte k of the row once the windows hold bytes k - 1..k + 1.
  auto decodeByte = [&](uint32_t k) __attribute__((always_inline)) {
    const uint32_t n = std::min<uint32_t>(8, width - 8 * k);
    const uint32_t uniform = UniformContext(bits, w1, w2);
    if (uniform != kMixed && mps[uniform] == (uniform & 1) && MQDecodeMPSRun(r, MQQe[index[uniform]], n)) {
      // n pixels of the neighbourhood's colour, in its context.
      bits = uniform;
      if (n < 8) {
        row[k] = static_cast<unsigned char>((row[k] & ~lastMask) | (uniform & lastMask));
        return;
      }
    } else if (n == 8) {
      // Unrolled, so every shift below is by a constant.
#pragma GCC unroll 8
      for (uint32_t j = 0; j < 8; ++j) {
        const uint32_t context = ((w2 >> (13 - j)) & 0x1F) << 11 | ((w1 >> (12 - j)) & 0x7F) << 4 | (bits & 0xF);
        bits = bits << 1 | static_cast<uint32_t>(MQDecodeRegs(mq, r, index + context, mps + context));
      }
    } else {
      for (uint32_t j = 0; j < n; ++j) {
        const uint32_t context = ((w2 >> (13 - j)) & 0x1F) << 11 | ((w1 >> (12 - j)) & 0x7F) << 4 | (bits & 0xF);
        bits = bits << 1 | static_cast<uint32_t>(MQDecodeRegs(mq, r, index + context, mps + context));
      }
      // Spare bits after the last pixel keep their value.
      row[k] = static_cast<unsigned char>((row[k] & ~lastMask) | ((bits << (8 - n)) & lastMask));
      return;
    }
    row[k] = static_cast<unsigned char>(bits);
  };

  uint32_t k = 0;
  if (up2 != nullptr && bytesPerRow >= 3) {
    w1 = w1 << 8 | up1[1];  // byte 1 is not the last: no spare bits
    w2 = w2 << 8 | up2[1];
    decodeByte(0);
    // Bytes 1 to bytesPerRow - 3: their windows lie inside both rows above
    // and short of the last byte, whose spare bits would need masking.
    const uint32_t interiorEnd = bytesPerRow - 2;
    for (k = 1; k < interiorEnd;) {
      w1 = RowWindow(up1 + k);
      w2 = RowWindow(up2 + k);
      const uint32_t uniform = UniformContext(bits, w1, w2);
      if (uniform != kMixed && mps[uniform] == (uniform & 1)) {
        // Byte k is of the neighbourhood's colour if decoded so; so is every
        // later byte m whose bytes m - 1..m + 1 above are all that colour.
        // Take as many of them as the coder can decode as one run.
        const uint32_t qe = MQQe[index[uniform]];
        const uint32_t room = std::min(r.C >> 16, r.A - 0x8000) / qe;  // MPS decisions without renormalising
        // The first byte m + 1 that is not of the colour, then bytes k..end - 1 in the run.
        uint32_t end = uniform ? NextNotBlackByte(up1, up2, k + 1, interiorEnd + 1)
                               : NextNonZeroByte(up1, up2, up2, k + 1, interiorEnd + 1);
        end = std::min<uint32_t>(end - 1, k + room / 8);
        if (end > k) {
          const uint32_t pixels = 8 * (end - k);
          r.C -= (pixels * qe) << 16;
          r.A -= pixels * qe;
          std::memset(row + k, uniform ? 0xFF : 0, end - k);
          bits = uniform;
          k = end;
          continue;
        }
      }
      decodeByte(k);
      ++k;
    }
    // Byte bytesPerRow - 2; its window ends in the last byte.
    w1 = uint32_t{up1[k - 1]} << 16 | uint32_t{up1[k]} << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask);
    w2 = uint32_t{up2[k - 1]} << 16 | uint32_t{up2[k]} << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask);
    decodeByte(k);
    ++k;
  }
  for (; k < bytesPerRow; ++k) {
    w1 = (w1 << 8 | RowByte(up1, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    w2 = (w2 << 8 | RowByte(up2, k + 1, bytesPerRow, lastMask)) & 0xFFFFFF;
    decodeByte(k);
  }
  regs = r;
}
