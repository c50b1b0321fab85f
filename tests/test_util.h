// Helpers shared by the tests: scratch directories, files, child processes
// and random bitmaps. Module-specific helpers live beside their tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/bitmap.h"

namespace jb2test {

// A fresh empty directory under the system temp dir, removed at exit.
std::string MakeTempDir();

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

struct CommandResult {
  int exitStatus = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;      // standard output
  std::string err;      // standard error
};
// Runs a shell command line in directory `dir` (empty: current directory).
CommandResult RunCommand(const std::string& commandLine, const std::string& dir = "");

// A bitmap of the given size whose pixels are black with probability `density`.
// The spare bits of each row's last byte are set to 1 when `dirtySpareBits`.
void MakeRandomBMP(BMP* bmp, uint32_t width, uint32_t height, double density, std::mt19937& rng,
                   bool dirtySpareBits = false);

inline int GetPixel(const BMP* bmp, long x, long y) {
  if (x < 0 || y < 0 || x >= static_cast<long>(bmp->lWidth) || y >= static_cast<long>(bmp->lHeight)) return 0;
  return (bmp->pData[y * bmp->lStride + x / 8] >> (7 - x % 8)) & 1;
}
inline void SetPixel(BMP* bmp, long x, long y, int v) {
  unsigned char& b = bmp->pData[y * bmp->lStride + x / 8];
  if (v) b |= static_cast<unsigned char>(0x80 >> (x % 8));
  else b &= static_cast<unsigned char>(~(0x80 >> (x % 8)));
}
// Sends standard error to /dev/null while it lives: damaged files report a
// lot, and capturing it all would cost more than the decoding.
class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_;
};

// Clears every pixel outside the rectangle [x0, x1) x [y0, y1).
void ClearOutside(BMP* bmp, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1);
// Pixel-wise equality, ignoring spare bits.
bool SamePixels(const BMP* a, const BMP* b);

// Reads a plain or raw PBM file (P1/P4) into a bitmap the caller destroys.
bool LoadPBM(const std::string& path, BMP* bmp);

// A debugging dump to standard output: per row "O" for each black pixel and
// "." for each white one, then a newline; one more newline after the page.
inline void printfBMP(const BMP* bmp) {
  for (uint32_t r = 0; r < bmp->lHeight; ++r) {
    const unsigned char* p = bmp->pData + static_cast<size_t>(r) * bmp->lStride;
    for (uint32_t c = 0; c < bmp->lWidth; ++c) std::fputc(p[c / 8] & (0x80 >> (c % 8)) ? 'O' : '.', stdout);
    std::fputc('\n', stdout);
  }
  std::fputc('\n', stdout);
}

}  // namespace jb2test
