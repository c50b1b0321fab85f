// PBM (netpbm bitmap) files: P4 (raw, eight pixels a byte, leftmost pixel in
// the most significant bit) and P1 (plain, one character per pixel). Both
// store 1 for black, the polarity of JBIG2 itself, and carry no resolution.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/bitmap.h"
#include "common/limits.h"
#include "common/messages.h"

namespace {

// Skips white space and comments ('#' to the end of the line); returns the
// next character, or EOF.
int NextSignificant(FILE* f) {
  int c = std::fgetc(f);
  while (c != EOF) {
    if (c == '#') {
      while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(f);
    } else if (std::isspace(c)) {
      c = std::fgetc(f);
    } else {
      break;
    }
  }
  return c;
}

// A header number: decimal digits, ended by one white space character (or a
// comment). False when there is none or it exceeds kMaxBmpDimension.
[[nodiscard]] bool ReadDimension(FILE* f, uint32_t* value) {
  int c = NextSignificant(f);
  if (c == EOF || !std::isdigit(c)) return false;
  uint64_t v = 0;
  while (c != EOF && std::isdigit(c)) {
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > kMaxBmpDimension) return false;
    c = std::fgetc(f);
  }
  if (c == '#') {
    while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(f);
  } else if (c != EOF && !std::isspace(c)) {
    return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

[[nodiscard]] bool ReadRaw(FILE* f, BMP* image) {
  for (uint32_t y = 0; y < image->lHeight; ++y)
    if (std::fread(image->pData + static_cast<size_t>(y) * image->lStride, 1, image->lBytesPerRow, f) !=
        image->lBytesPerRow)
      return false;
  return true;
}

// Reads the P1 pixels; says what is wrong (the file's end, or a character
// that is no pixel, and where) and returns false when they are not all there.
[[nodiscard]] bool ReadPlain(FILE* f, BMP* image) {
  for (uint32_t y = 0; y < image->lHeight; ++y) {
    unsigned char* row = image->pData + static_cast<size_t>(y) * image->lStride;
    for (uint32_t x = 0; x < image->lWidth; ++x) {
      const int c = NextSignificant(f);
      if (c == EOF) {
        PrintError("Unexpected EOF in input file");
        return false;
      }
      if (c != '0' && c != '1') {
        char shown[16];
        if (std::isprint(c)) std::snprintf(shown, sizeof shown, "'%c'", c);
        else std::snprintf(shown, sizeof shown, "0x%02X", static_cast<unsigned>(c));
        char message[160];
        std::snprintf(message, sizeof message,
                      "Invalid .PBM, Character %s at Row %u, Column %u: a P1 Pixel Is 0 or 1", shown,
                      static_cast<unsigned>(y + 1), static_cast<unsigned>(x + 1));
        PrintError(message);
        return false;
      }
      if (c == '1') row[x / 8] |= ConstMask1[x % 8];
    }
  }
  return true;
}

}  // namespace

int LoadPBMStream(FILE* f, BMP* bmp) noexcept {
  const int p = std::fgetc(f), kind = std::fgetc(f);
  if (p != 'P' || (kind != '1' && kind != '4')) {
    // P2/P3/P5/P6 are grey and colour netpbm images.
    PrintError("Invalid .PBM file format! A 1-bit PBM (P4 or P1) is needed (convert it with: convert page.pnm -monochrome page.pbm)");
    return 2;
  }
  uint32_t width = 0, height = 0;
  if (!ReadDimension(f, &width) || !ReadDimension(f, &height) || width == 0 || height == 0 ||
      uint64_t{width} * height > kMaxBitmapPixels) {
    PrintError("Invalid .PBM, Image Width or Height Out of Range");
    return 2;
  }
  const bool raw = kind == '4';
  if (raw) {
    // The rows must all be there before the bitmap is allocated.
    const long start = std::ftell(f);
    const uint64_t needed = (uint64_t{width} + 7) / 8 * height;
    if (start < 0 || std::fseek(f, 0, SEEK_END) != 0) return 2;
    const long end = std::ftell(f);
    if (end < start || static_cast<uint64_t>(end - start) < needed || std::fseek(f, start, SEEK_SET) != 0) {
      PrintError("Unexpected EOF in input file");
      return 2;
    }
  }
  BMP image;
  CreateBMP(&image, width, height, 0);
  if (!image.pData) {
    PrintError("Invalid .PBM, Image Width or Height Out of Range");
    return 2;
  }
  if (raw ? !ReadRaw(f, &image) : !ReadPlain(f, &image)) {
    if (raw) PrintError("Unexpected EOF in input file");  // ReadPlain says why
    DestroyBMP(&image);
    return 2;
  }
  *bmp = image;
  return 0;
}
